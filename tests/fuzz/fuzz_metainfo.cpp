// Reads arbitrary bytes as a .torrent. Whatever is accepted must describe
// files inside the save folder, and rebuilding it must keep its content.
#include "engine/formats/entry.h"
#include "engine/formats/torrent_metainfo.h"

#include <cstddef>
#include <filesystem>
#include <cstdint>
#include <cstdlib>
#include <exception>
#include <optional>
#include <sstream>
#include <string>

namespace {

void check(const engine::torrent_metainfo& m) {
  if (m.piece_length() <= 0 || m.total_size() <= 0 || m.num_pieces() <= 0) std::abort();
  std::int64_t total = 0;
  for (const engine::file_entry& f : m.files()) {
    const std::filesystem::path path(f.path);
    if (f.size < 0 || path.is_absolute()) std::abort();
    for (const auto& part : path) {
      if (part.empty() || part == "." || part == "..") std::abort();
    }
    total += f.size;
  }
  if (total != m.total_size()) std::abort();
  std::int64_t pieces = 0;
  for (int i = 0; i < m.num_pieces(); ++i) {
    if (m.piece_size(i) <= 0 || m.piece_size(i) > m.piece_length()) std::abort();
    pieces += m.piece_size(i);
  }
  if (pieces != m.total_size()) std::abort();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const char* bytes = reinterpret_cast<const char*>(data);
  std::optional<engine::torrent_metainfo> read;
  try {
    read.emplace(bytes, size);
  } catch (const std::exception&) {
    return 0;  // refused: fine
  }
  // Accepted: from here on nothing may throw.
  engine::torrent_metainfo& m = *read;
  check(m);

  // The reader of decoded entries accepts the same torrent.
  engine::torrent_metainfo decoded(engine::bdecode(bytes, bytes + size));
  if (decoded.files() != m.files() || decoded.num_pieces() != m.num_pieces()) std::abort();

  // Rebuilt and read again: same files and pieces, and the info-hash of the
  // rebuilt info dictionary.
  std::string rebuilt;
  engine::bencode(std::back_inserter(rebuilt), m.build_torrent_dictionary());
  engine::torrent_metainfo again(rebuilt.data(), rebuilt.size());
  if (again.files() != m.files() || again.total_size() != m.total_size() || again.num_pieces() != m.num_pieces() ||
      again.info_hash() != m.info_hash() || again.trackers().size() != m.trackers().size())
    std::abort();

  std::ostringstream sink;
  m.print_summary(sink);
  return 0;
}

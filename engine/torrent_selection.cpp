// The torrent's piece and file selection, and moving its storage.
#include <algorithm>
#include <random>

#include "engine/piece_manager.h"
#include "engine/torrent.h"

namespace engine {

namespace {

// The first byte of each file within the torrent's byte stream.
std::int64_t file_offset(const torrent_metainfo& info, int index) {
  std::int64_t offset = 0;
  for (int i = 0; i < index; ++i) offset += info.files()[std::size_t(i)].size;
  return offset;
}

// The pieces [first, last] holding bytes of the file; empty (first > last)
// for a file without bytes.
std::pair<int, int> file_pieces(const torrent_metainfo& info, int index) {
  const std::int64_t size = info.files()[std::size_t(index)].size;
  if (size <= 0) return {1, 0};
  const std::int64_t offset = file_offset(info, index);
  const std::int64_t length = info.piece_length();
  const int last_piece = info.num_pieces() - 1;
  return {int(std::min<std::int64_t>(offset / length, last_piece)),
          int(std::min<std::int64_t>((offset + size - 1) / length, last_piece))};
}

}  // namespace

void torrent::filter_piece(int index, bool filter) {
  if (!has_metadata() || index < 0 || index >= m_info.num_pieces()) return;
  if (filter)
    m_picker->filter(index);
  else
    m_picker->unfilter(index);
}

bool torrent::is_piece_filtered(int index) const {
  if (!has_metadata() || index < 0 || index >= m_info.num_pieces()) return false;
  return m_picker->is_filtered(index);
}

std::vector<bool> torrent::filtered_pieces() const {
  if (!has_metadata()) return {};
  return m_picker->filtered_pieces();
}

void torrent::filter_pieces(const std::vector<bool>& bitmask) {
  if (!has_metadata()) return;
  const int n = std::min(int(bitmask.size()), m_info.num_pieces());
  std::vector<int> wanted;
  for (int i = 0; i < n; ++i) {
    const bool filtered = m_picker->is_filtered(i);
    if (bitmask[std::size_t(i)] && !filtered)
      m_picker->filter(i);
    else if (!bitmask[std::size_t(i)] && filtered)
      wanted.push_back(i);
  }
  // In random order, so that torrents that unfilter the same pieces do not
  // all start on the same ones.
  static thread_local std::minstd_rand shuffler{std::random_device{}()};
  std::shuffle(wanted.begin(), wanted.end(), shuffler);
  for (int i : wanted) m_picker->unfilter(i);
}

void torrent::filter_file(int index, bool filter) {
  if (!has_metadata() || index < 0 || index >= int(m_info.files().size())) return;
  const auto [first, last] = file_pieces(m_info, index);
  for (int p = first; p <= last; ++p) filter_piece(p, filter);
}

void torrent::filter_files(const std::vector<bool>& files) {
  if (!has_metadata()) return;
  std::vector<bool> pieces(std::size_t(m_info.num_pieces()), true);
  const int n = std::min(int(files.size()), int(m_info.files().size()));
  for (int f = 0; f < int(m_info.files().size()); ++f) {
    // A file the caller said nothing about stays wanted.
    if (f < n && files[std::size_t(f)]) continue;
    const auto [first, last] = file_pieces(m_info, f);
    for (int p = first; p <= last; ++p) pieces[std::size_t(p)] = false;
  }
  filter_pieces(pieces);
}

bool torrent::move_storage(const std::filesystem::path& save_path) {
  if (!has_metadata()) {
    m_save_path = save_path;
    return true;
  }
  const bool moved = m_storage->move_storage(save_path);
  m_save_path = m_storage->save_path();
  return moved;
}

}  // namespace engine

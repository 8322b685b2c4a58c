// Reads arbitrary bytes as fast-resume data for a small partly downloaded
// torrent on disk; whatever the reading accepts is then taken by a piece
// manager. Nothing may crash, and only the reading's own rejections may
// come out of it.
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>

#include "engine/formats/sha1.h"
#include "engine/session/fast_resume.h"
#include "engine/storage/piece_manager.h"

namespace {

struct fixture {
  fixture() {
    std::string tmpl = (std::filesystem::temp_directory_path() / "qf-fuzz-resume-XXXXXX").string();
    if (!::mkdtemp(tmpl.data())) std::abort();
    dir = tmpl;
    // Two files, four pieces of 64 bytes; pieces 0 and 3 and two blocks of
    // piece 1 are there, with fixed file times.
    info.set_piece_size(64);
    info.add_file("t/a", 100);
    info.add_file("t/b", 156);
    std::string data(256, '\0');
    for (std::size_t i = 0; i < data.size(); ++i) data[i] = static_cast<char>(i * 7 + 3);
    for (int p = 0; p < 4; ++p) info.set_hash(p, engine::hasher(data.data() + p * 64, 64).final());
    info.add_tracker("http://127.0.0.1:1/announce");
    info.build_torrent_dictionary();
    std::string disk(256, '\0');
    disk.replace(0, 64, data.substr(0, 64));
    disk.replace(64, 16, data.substr(64, 16));
    disk.replace(96, 16, data.substr(96, 16));
    disk.replace(192, 64, data.substr(192, 64));
    std::filesystem::create_directories(dir / "t");
    std::ofstream(dir / "t/a", std::ios::binary) << disk.substr(0, 100);
    std::ofstream(dir / "t/b", std::ios::binary) << disk.substr(100);
    for (const char* f : {"t/a", "t/b"}) {
      timespec times[2] = {{1000000000, 0}, {1000000000, 0}};
      ::utimensat(AT_FDCWD, (dir / f).c_str(), times, 0);
    }
  }
  ~fixture() {
    std::error_code ec;
    std::filesystem::remove_all(dir, ec);
  }
  std::filesystem::path dir;
  engine::torrent_metainfo info;
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  static fixture f;
  const char* first = reinterpret_cast<const char*>(data);
  engine::entry rd;
  try {
    rd = engine::bdecode(first, first + size);
  } catch (const engine::invalid_encoding&) {
    return 0;
  }
  engine::resume_state state;
  std::string error;
  engine::parse_resume_data(rd, f.info, f.dir, 16, state, error);
  if (!error.empty() && !state.slots.empty()) std::abort();
  std::vector<int> unfinished;
  for (const auto& d : state.unfinished) unfinished.push_back(d.index);
  engine::piece_manager pm(f.info, f.dir);
  std::vector<bool> have;
  pm.check_fastresume(state.slots, unfinished, have, true);
  return 0;
}

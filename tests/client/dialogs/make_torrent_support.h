#pragma once
// Test folders of files to make torrents from, and reading back what was
// made.

#include "engine/formats/torrent_metainfo.h"
#include "platform/random.h"

#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <memory>
#include <string>

namespace make_torrent_test {

namespace fs = std::filesystem;

// A fresh folder under the temporary folder, removed with the object.
class TempFolder {
 public:
  explicit TempFolder(const std::string& tag)
      : m_path(fs::temp_directory_path() /
               ("qf_" + tag + "_" + std::to_string(::getpid()) + "_" + std::to_string(platform::random_u32()))) {
    fs::create_directories(m_path);
  }
  ~TempFolder() {
    std::error_code ec;
    fs::remove_all(m_path, ec);
  }
  TempFolder(const TempFolder&) = delete;
  TempFolder& operator=(const TempFolder&) = delete;

  const fs::path& path() const { return m_path; }
  // Writes `size` bytes of a pattern picked by `seed` to path() / `relative`.
  fs::path Put(const fs::path& relative, std::size_t size, unsigned seed = 1) const {
    const fs::path p = m_path / relative;
    fs::create_directories(p.parent_path());
    std::string bytes(size, '\0');
    for (std::size_t i = 0; i < size; ++i) bytes[i] = static_cast<char>((i * 131 + seed * 7 + i / 997) & 0xff);
    std::ofstream(p, std::ios::binary).write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
    return p;
  }

 private:
  fs::path m_path;
};

inline std::string ReadBytes(const fs::path& p) {
  std::ifstream in(p, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), {});
}

// The made .torrent read back by the engine.
inline std::unique_ptr<engine::torrent_metainfo> ReadTorrent(const fs::path& p) {
  const std::string bytes = ReadBytes(p);
  return std::make_unique<engine::torrent_metainfo>(bytes.data(), bytes.size());
}

inline bool HaveTool(const std::string& name) {
  return std::system(("command -v " + name + " >/dev/null 2>&1").c_str()) == 0;
}

// What a shell command printed; empty when it failed.
inline std::string Run(const std::string& command) {
  std::string out;
  FILE* p = popen(command.c_str(), "r");
  if (!p) return out;
  char buf[4096];
  while (std::size_t n = std::fread(buf, 1, sizeof buf, p)) out.append(buf, n);
  return pclose(p) == 0 ? out : std::string();
}

// The info-hash that transmission-show reads from a .torrent (40 lower-case
// hex digits), empty when it could not.
inline std::string TransmissionHash(const fs::path& torrent) {
  const std::string out = Run("transmission-show '" + torrent.string() + "' 2>/dev/null");
  const auto at = out.find("Hash: ");
  return at == std::string::npos ? std::string() : out.substr(at + 6, 40);
}

}  // namespace make_torrent_test

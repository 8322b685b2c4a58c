#pragma once
// Scratch folders and small helpers for the file, storage and checker tests.

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <random>
#include <string>
#include <unistd.h>

namespace storage_test {

// A fresh folder under the system's temporary folder, removed at the end.
class temp_dir {
 public:
  temp_dir() {
    std::string tmpl = (std::filesystem::temp_directory_path() / "qf-storage-XXXXXX").string();
    if (!::mkdtemp(tmpl.data())) throw std::runtime_error("mkdtemp failed");
    m_path = tmpl;
  }
  ~temp_dir() {
    std::error_code ec;
    std::filesystem::remove_all(m_path, ec);
  }
  temp_dir(const temp_dir&) = delete;
  temp_dir& operator=(const temp_dir&) = delete;

  const std::filesystem::path& path() const { return m_path; }
  std::string operator/(const std::string& name) const { return (m_path / name).string(); }

 private:
  std::filesystem::path m_path;
};

inline void write_text(const std::filesystem::path& p, const std::string& data) {
  std::filesystem::create_directories(p.parent_path());
  std::ofstream(p, std::ios::binary) << data;
}

inline std::string read_text(const std::filesystem::path& p) {
  std::ifstream in(p, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), {});
}

inline std::string random_bytes(std::size_t n, std::uint32_t seed) {
  std::mt19937 gen(seed);
  std::string s(n, '\0');
  for (auto& c : s) c = static_cast<char>(gen());
  return s;
}

}  // namespace storage_test

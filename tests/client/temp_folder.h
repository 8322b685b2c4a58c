#pragma once
// A folder of its own under the temporary folder for one test, removed
// with the object.

#include "platform/random.h"

#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>

#include <unistd.h>

namespace client_test {

class temp_folder {
 public:
  explicit temp_folder(const std::string& prefix)
      : m_path(std::filesystem::temp_directory_path() /
               (prefix + std::to_string(::getpid()) + "_" + std::to_string(platform::random_u32()))) {
    std::filesystem::create_directories(m_path);
  }
  ~temp_folder() {
    std::error_code ec;
    std::filesystem::remove_all(m_path, ec);
  }
  temp_folder(const temp_folder&) = delete;
  temp_folder& operator=(const temp_folder&) = delete;

  const std::filesystem::path& path() const { return m_path; }
  std::filesystem::path operator/(const std::string& name) const { return m_path / name; }

  std::filesystem::path put(const std::string& name, const std::string& bytes) const {
    std::ofstream(m_path / name, std::ios::binary) << bytes;
    return m_path / name;
  }
  static std::string read(const std::filesystem::path& file) {
    std::ifstream in(file, std::ios::binary);
    std::stringstream bytes;
    bytes << in.rdbuf();
    return bytes.str();
  }

 private:
  std::filesystem::path m_path;
};

}  // namespace client_test

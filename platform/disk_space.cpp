#include "platform/disk_space.h"

#include <sys/statvfs.h>

namespace platform {

std::optional<std::uint64_t> free_disk_space(const std::string& utf8_folder) {
  struct statvfs st;
  if (::statvfs(utf8_folder.c_str(), &st) != 0) return std::nullopt;
  return static_cast<std::uint64_t>(st.f_bavail) * st.f_frsize;
}

}  // namespace platform

#include "client/files/log_files.h"

#include "client/base/wide_text.h"

#include <cerrno>
#include <fcntl.h>
#include <string>
#include <sys/stat.h>
#include <unistd.h>

namespace client {

bool AppendLogLine(const std::filesystem::path& file, std::wstring_view line) {
  // Appended in place: the file is never read or rewritten for a line.
  const int fd = ::open(file.c_str(), O_WRONLY | O_APPEND | O_CREAT | O_CLOEXEC, 0644);
  if (fd < 0) return false;
  struct stat st{};
  std::string bytes;
  if (::fstat(fd, &st) == 0 && st.st_size == 0) bytes = "\xFF\xFE";
  for (const char16_t unit : WideToUtf16(line) + u"\r\n") {
    bytes += static_cast<char>(unit & 0xFF);
    bytes += static_cast<char>(unit >> 8);
  }
  bool ok = true;
  for (std::size_t done = 0; ok && done < bytes.size();) {
    const ssize_t n = ::write(fd, bytes.data() + done, bytes.size() - done);
    if (n < 0 && errno == EINTR) continue;
    ok = n > 0;
    if (ok) done += static_cast<std::size_t>(n);
  }
  return (::close(fd) == 0) && ok;
}

}  // namespace client

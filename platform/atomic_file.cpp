#include "platform/atomic_file.h"

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <fcntl.h>
#include <signal.h>
#include <sys/stat.h>
#include <string>
#include <unistd.h>

namespace platform {

namespace {

// Writes `bytes` to a new temporary beside `file`, flushed to disk with
// `flush`; its name, or empty when that failed (then nothing is left).
std::filesystem::path write_temporary(const std::filesystem::path& file, std::string_view bytes, mode_t mode,
                                      bool flush) {
  std::error_code ec;
  if (file.has_parent_path()) std::filesystem::create_directories(file.parent_path(), ec);
  static std::atomic<unsigned> counter{0};
  std::filesystem::path tmp = file;
  tmp += ".tmp." + std::to_string(::getpid()) + "." + std::to_string(counter++);
  const int fd = ::open(tmp.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, mode);
  if (fd < 0) return {};
  std::size_t done = 0;
  bool ok = true;
  while (done < bytes.size()) {
    const ssize_t n = ::write(fd, bytes.data() + done, bytes.size() - done);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) {
      ok = false;
      break;
    }
    done += static_cast<std::size_t>(n);
  }
  if (flush) ok = ok && ::fsync(fd) == 0;
  ok = (::close(fd) == 0) && ok;
  if (ok) return tmp;
  ::unlink(tmp.c_str());
  return {};
}

}  // namespace

bool write_file_atomically(const std::filesystem::path& file, std::string_view bytes, mode_t mode) {
  const std::filesystem::path tmp = write_temporary(file, bytes, mode, true);
  if (tmp.empty()) return false;
  if (::rename(tmp.c_str(), file.c_str()) == 0) return true;
  ::unlink(tmp.c_str());
  return false;
}

file_batch::~file_batch() {
  for (const pending& p : m_pending) ::unlink(p.temporary.c_str());
}

bool file_batch::write(const std::filesystem::path& file, std::string_view bytes, std::function<void()> failed,
                       mode_t mode) {
  std::filesystem::path tmp = write_temporary(file, bytes, mode, false);
  if (tmp.empty()) return false;
  m_pending.push_back({file, std::move(tmp), std::move(failed)});
  return true;
}

bool file_batch::commit() {
  // One flush per filesystem the temporaries are on; a temporary is put in
  // place only when its filesystem was flushed.
  std::vector<std::pair<dev_t, bool>> flushed;  // device, flush succeeded
  std::vector<bool> durable;
  for (const pending& p : m_pending) {
    struct stat st {};
    if (::stat(p.temporary.c_str(), &st) != 0) {
      durable.push_back(false);
      continue;
    }
    auto device = std::find_if(flushed.begin(), flushed.end(), [&](const auto& d) { return d.first == st.st_dev; });
    if (device == flushed.end()) {
      const int fd = ::open(p.temporary.c_str(), O_RDONLY | O_CLOEXEC);
      device = flushed.insert(flushed.end(), {st.st_dev, fd >= 0 && ::syncfs(fd) == 0});
      if (fd >= 0) ::close(fd);
    }
    durable.push_back(device->second);
  }
  bool all = true;
  for (std::size_t i = 0; i < m_pending.size(); ++i) {
    const pending& p = m_pending[i];
    if (durable[i] && ::rename(p.temporary.c_str(), p.file.c_str()) == 0) continue;
    // The caller is told with errno as the failure left it.
    const int error = errno;
    ::unlink(p.temporary.c_str());
    all = false;
    errno = error;
    if (p.failed) p.failed();
  }
  m_pending.clear();
  return all;
}

bool file_holds(const std::filesystem::path& file, std::string_view bytes) {
  const int fd = ::open(file.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
  if (fd < 0) return false;
  struct stat st {};
  bool same = ::fstat(fd, &st) == 0 && S_ISREG(st.st_mode) && static_cast<std::size_t>(st.st_size) == bytes.size();
  std::string held(same ? bytes.size() : 0, '\0');
  std::size_t done = 0;
  while (same && done < held.size()) {
    const ssize_t n = ::read(fd, held.data() + done, held.size() - done);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) same = false;
    else done += static_cast<std::size_t>(n);
  }
  ::close(fd);
  return same && held == bytes;
}

namespace {

bool AllDigits(std::string_view text) {
  return !text.empty() && text.size() <= 10 && text.find_first_not_of("0123456789") == std::string_view::npos;
}

// Whether a process of that id runs (one of another user's counts).
bool ProcessRuns(std::string_view digits) {
  const long pid = std::stol(std::string(digits));
  if (pid <= 0 || pid > 0x7FFFFFFF) return false;
  return ::kill(static_cast<pid_t>(pid), 0) == 0 || errno == EPERM;
}

}  // namespace

std::size_t remove_stale_temporaries(const std::filesystem::path& folder,
                                     std::initializer_list<std::string_view> endings) {
  std::size_t removed = 0;
  std::error_code ec;
  for (std::filesystem::directory_iterator it(folder, ec), end; !ec && it != end; it.increment(ec)) {
    const std::string name = it->path().filename().string();
    // "<name>.tmp.<pid>.<n>": from the right, n, then pid, then ".tmp".
    const std::size_t last_dot = name.rfind('.');
    if (last_dot == std::string::npos || last_dot == 0) continue;
    const std::size_t pid_dot = name.rfind('.', last_dot - 1);
    if (pid_dot == std::string::npos) continue;
    const std::string_view view(name);
    const std::string_view n = view.substr(last_dot + 1), pid = view.substr(pid_dot + 1, last_dot - pid_dot - 1);
    const std::string_view before = view.substr(0, pid_dot);
    if (!AllDigits(n) || !AllDigits(pid) || !before.ends_with(".tmp")) continue;
    const std::string_view base = before.substr(0, before.size() - 4);
    bool ours = false;
    for (const std::string_view ending : endings) ours = ours || base.ends_with(ending);
    std::error_code kind;
    if (!ours || !it->is_regular_file(kind) || it->is_symlink(kind) || ProcessRuns(pid)) continue;
    if (std::filesystem::remove(it->path(), kind)) ++removed;
  }
  return removed;
}

}  // namespace platform

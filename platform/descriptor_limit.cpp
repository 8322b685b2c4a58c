#include "platform/descriptor_limit.h"

#include <fcntl.h>
#include <sys/resource.h>
#include <sys/select.h>
#include <unistd.h>

namespace platform {

namespace {

// Far more than any process here opens: an unlimited soft limit counts as this.
constexpr std::uint64_t kUnlimited = std::uint64_t(1) << 30;

std::uint64_t count(rlim_t value) { return value == RLIM_INFINITY ? kUnlimited : std::uint64_t(value); }

}  // namespace

std::uint64_t descriptor_limit() {
  rlimit lim{};
  if (::getrlimit(RLIMIT_NOFILE, &lim) != 0) return 1024;
  return count(lim.rlim_cur);
}

std::uint64_t raise_descriptor_limit() {
  rlimit lim{};
  if (::getrlimit(RLIMIT_NOFILE, &lim) != 0) return 1024;
  if (lim.rlim_cur != lim.rlim_max) {
    rlimit raised = lim;
    raised.rlim_cur = lim.rlim_max;
    if (::setrlimit(RLIMIT_NOFILE, &raised) == 0) lim = raised;
  }
  return count(lim.rlim_cur);
}

int move_above_select_range(int fd) {
  if (fd < 0 || fd >= FD_SETSIZE || descriptor_limit() < 2 * std::uint64_t(FD_SETSIZE)) return fd;
  const int moved = ::fcntl(fd, F_DUPFD_CLOEXEC, FD_SETSIZE);
  if (moved < 0) return fd;  // all of them in use: the low one serves as well
  ::close(fd);
  return moved;
}

}  // namespace platform

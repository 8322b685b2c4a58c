#include "client/common/termination_signals.h"

#include <cerrno>
#include <csignal>
#include <fcntl.h>
#include <unistd.h>

namespace client {

namespace {

int g_write_fd = -1;

void OnTerminationSignal(int) {
  const int saved = errno;
  const char byte = 1;
  // A full pipe already holds a wake-up: losing this byte changes nothing.
  [[maybe_unused]] const auto written = ::write(g_write_fd, &byte, 1);
  errno = saved;
}

}  // namespace

int InstallTerminationPipe() {
  static const int read_fd = [] {
    int fds[2];
    if (::pipe2(fds, O_CLOEXEC | O_NONBLOCK) != 0) return -1;
    g_write_fd = fds[1];
    struct sigaction action {};
    action.sa_handler = OnTerminationSignal;
    sigemptyset(&action.sa_mask);
    action.sa_flags = SA_RESTART;
    ::sigaction(SIGTERM, &action, nullptr);
    ::sigaction(SIGINT, &action, nullptr);
    return fds[0];
  }();
  return read_fd;
}

bool DrainTerminationPipe(int read_fd) {
  bool got = false;
  char buffer[64];
  for (;;) {
    const auto n = ::read(read_fd, buffer, sizeof buffer);
    if (n > 0) {
      got = true;
      continue;
    }
    if (n < 0 && errno == EINTR) continue;
    return got;
  }
}

}  // namespace client

#pragma once
// Real processes meeting through platform::single_instance: forked
// children, a private folder per test, and waiting with a deadline.

#include "platform/random.h"
#include "platform/single_instance.h"
#include "tests/support/wait.h"

#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>
#include <functional>
#include <poll.h>
#include <sys/wait.h>
#include <unistd.h>

namespace instance_harness {

// Runs `body` in a forked child whose exit code is its result.
inline pid_t Fork(const std::function<int()>& body) {
  const pid_t pid = ::fork();
  if (pid == 0) ::_exit(body());
  return pid;
}

// The child's exit code; -1 when it did not exit normally.
inline int WaitExit(pid_t pid) {
  int status = 0;
  while (::waitpid(pid, &status, 0) < 0 && errno == EINTR) {
  }
  return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

// A later start in a child process; its outcome as exit code.
inline pid_t StartSecond(const std::filesystem::path& base, std::string text) {
  return Fork([base, text] {
    platform::single_instance instance("Quillfern", base);
    return static_cast<int>(instance.start(text));
  });
}

// Receives until `count` requests arrived or the deadline passed.
inline std::vector<platform::instance_request> ReceiveUntil(platform::single_instance& first, std::size_t count,
                                                            std::chrono::seconds limit = std::chrono::seconds(20)) {
  std::vector<platform::instance_request> got;
  test_support::wait_until(
      [&] {
        if (got.size() >= count) return true;
        pollfd pfd{first.listen_fd(), POLLIN, 0};
        ::poll(&pfd, 1, 20);
        for (auto& r : first.receive()) got.push_back(std::move(r));
        return got.size() >= count;
      },
      limit, std::chrono::milliseconds(0));
  return got;
}

class InstanceTest : public ::testing::Test {
 protected:
  void SetUp() override {
    base = std::filesystem::temp_directory_path() /
           ("qf_si_" + std::to_string(::getpid()) + "_" + std::to_string(platform::random_u32() % 100000));
    std::filesystem::create_directories(base);
  }
  void TearDown() override { std::filesystem::remove_all(base); }
  std::filesystem::path base;
};

}  // namespace instance_harness

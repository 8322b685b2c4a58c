#pragma once
// Waiting in tests: for a condition, with a deadline, never for a fixed
// time. On a loaded machine any step may take many times longer than on an
// idle one, so the deadlines are generous: they only end a test that would
// otherwise hang, and a passing test never waits them out.

#include <poll.h>

#include <algorithm>
#include <chrono>
#include <thread>

namespace test_support {

using wait_clock = std::chrono::steady_clock;

// How long a test waits for something that takes milliseconds when the
// machine is idle.
inline constexpr std::chrono::seconds default_deadline{60};

class deadline {
 public:
  explicit deadline(wait_clock::duration limit = default_deadline) : m_end(wait_clock::now() + limit) {}
  bool passed() const { return wait_clock::now() >= m_end; }
  // What is left, in whole milliseconds (for poll()); 0 once passed.
  int ms_left() const {
    const auto left = std::chrono::ceil<std::chrono::milliseconds>(m_end - wait_clock::now()).count();
    return int(std::clamp<long long>(left, 0, 1 << 30));
  }

 private:
  wait_clock::time_point m_end;
};

// Asks `done` every `period` until it holds: true; false when `limit` passed
// first (`done` has a last say at the end).
template <class Done>
bool wait_until(Done&& done, wait_clock::duration limit = default_deadline,
                wait_clock::duration period = std::chrono::milliseconds(10)) {
  const deadline end(limit);
  while (!end.passed()) {
    if (done()) return true;
    std::this_thread::sleep_for(period);
  }
  return done();
}

// Whether `fd` has something to read (or has ended) before `end` passes.
inline bool readable_before(int fd, const deadline& end) {
  for (;;) {
    pollfd p{fd, POLLIN, 0};
    const int n = ::poll(&p, 1, end.ms_left());
    if (n > 0) return true;
    if (n == 0 || end.passed()) return false;  // n < 0: interrupted, go on
  }
}

}  // namespace test_support

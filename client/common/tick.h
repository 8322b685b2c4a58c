#pragma once
// The desktop programs' millisecond clock: 32 bits, wrapping after about
// 49.7 days (compare with platform::elapsed_ms). Timers and hover logic read
// it through TickMs() so tests can drive time by hand.

#include <cstdint>
#include <functional>

namespace client {

std::uint32_t TickMs();

// Replaces the clock (an empty function restores the real one). For tests.
void SetTickSource(std::function<std::uint32_t()> source);

// A clock a test moves by hand; installs itself while it lives.
class FakeTick {
 public:
  explicit FakeTick(std::uint32_t start = 1000);
  ~FakeTick();
  FakeTick(const FakeTick&) = delete;
  FakeTick& operator=(const FakeTick&) = delete;

  void Advance(std::uint32_t ms) { m_now += ms; }
  void Set(std::uint32_t now) { m_now = now; }
  std::uint32_t Now() const { return m_now; }

 private:
  std::uint32_t m_now;
};

}  // namespace client

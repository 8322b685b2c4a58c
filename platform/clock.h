#pragma once
// The 32-bit millisecond clock the desktop program, the DHT and the engine's
// per-second gate count in. It wraps after about 49.7 days; take
// differences with elapsed_ms so the wrap does no harm.

#include <cstdint>

namespace platform {

// Milliseconds since an arbitrary fixed point (system start), modulo 2^32.
std::uint32_t timeGetTime();

// now - then modulo 2^32: correct across one wrap of the clock.
constexpr std::uint32_t elapsed_ms(std::uint32_t now, std::uint32_t then) {
  return now - then;
}

// True when `when` lies in the future of `now`, i.e. the modular difference
// now - when is above 2^31.
constexpr bool is_future(std::uint32_t now, std::uint32_t when) {
  return elapsed_ms(now, when) > 0x80000000u;
}

}  // namespace platform

#pragma once
// The system's random source, for node ids, secrets and jitter.

#include <cstddef>
#include <cstdint>

namespace platform {

// Fills `size` bytes from the kernel's random source (getrandom); never
// fails short (falls back to /dev/urandom, then aborts).
void random_bytes(void* out, std::size_t size);

inline std::uint32_t random_u32() {
  std::uint32_t v;
  random_bytes(&v, sizeof v);
  return v;
}

}  // namespace platform

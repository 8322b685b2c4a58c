#pragma once
// The engine's one source of randomness (peer ids, transaction ids, shuffles,
// the picker's choice among equals). Seeded from the system; a test that must
// repeat a run fixes the seed.

#include <cstdint>

namespace engine {

// A draw from the calling thread's stream.
std::uint32_t random_u32();

// The same stream as a standard random bit generator, for std::shuffle and
// the distributions.
struct random_source {
  using result_type = std::uint32_t;
  static constexpr result_type min() { return 0; }
  static constexpr result_type max() { return 0xffffffffu; }
  result_type operator()() const { return random_u32(); }
};

// Restarts every thread's stream from `seed`: from its next draw on, each
// thread draws the sequence that seed gives.
void seed_random(std::uint64_t seed);

}  // namespace engine

#include "engine/formats/random.h"

#include <pthread.h>

#include <atomic>
#include <random>

#include "platform/random.h"

namespace engine {

namespace {

// Generation 0 is the system seed; seed_random starts a new generation that
// each thread notices at its next draw.
std::atomic<std::uint64_t> g_seed{0};
std::atomic<std::uint32_t> g_generation{0};

struct stream {
  std::mt19937 engine;
  std::uint32_t generation = ~0u;
};

thread_local stream t_stream;

// A forked child would go on with its parent's stream and draw the same peer
// ids: it starts its own at its next draw.
[[maybe_unused]] const int fork_hook = pthread_atfork(nullptr, nullptr, [] { t_stream.generation = ~0u; });

}  // namespace

std::uint32_t random_u32() {
  const std::uint32_t generation = g_generation.load(std::memory_order_acquire);
  if (t_stream.generation != generation) {
    if (generation == 0) {
      t_stream.engine.seed(platform::random_u32());
    } else {
      const std::uint64_t seed = g_seed.load(std::memory_order_relaxed);
      std::seed_seq seq{std::uint32_t(seed), std::uint32_t(seed >> 32)};
      t_stream.engine.seed(seq);
    }
    t_stream.generation = generation;
  }
  return std::uint32_t(t_stream.engine());
}

void seed_random(std::uint64_t seed) {
  g_seed.store(seed, std::memory_order_relaxed);
  const std::uint32_t next = g_generation.load(std::memory_order_relaxed) + 1;
  g_generation.store(next == 0 ? 1 : next, std::memory_order_release);  // 0 stays the system's
}

}  // namespace engine

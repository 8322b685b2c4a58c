#include <benchmark/benchmark.h>

#include <string>

#include "engine/formats/sha1.h"

namespace {

// One 16 KiB block per digest, the size of a request on the wire and the
// unit `openssl speed -evp sha1 -bytes 16384` measures.
void hash_16kib(benchmark::State& state) {
  const std::string block(16384, '\x5a');
  for (auto _ : state) {
    engine::hasher h(block.data(), static_cast<int>(block.size()));
    benchmark::DoNotOptimize(h.final());
  }
  state.SetBytesProcessed(std::int64_t(state.iterations()) * std::int64_t(block.size()));
}

void BM_Sha1_16KiB(benchmark::State& state) {
  state.SetLabel(engine::sha1_active_backend() == engine::sha1_backend::sha_instructions ? "sha instructions"
                                                                                           : "portable");
  hash_16kib(state);
}
BENCHMARK(BM_Sha1_16KiB);

void BM_Sha1_16KiB_Portable(benchmark::State& state) {
  const auto saved = engine::sha1_active_backend();
  engine::sha1_use_backend(engine::sha1_backend::portable);
  hash_16kib(state);
  engine::sha1_use_backend(saved);
}
BENCHMARK(BM_Sha1_16KiB_Portable);

}  // namespace

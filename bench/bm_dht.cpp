#include <benchmark/benchmark.h>

#include <cstring>
#include <string>

#include "dht/krpc.h"
#include "dht/node_core.h"

namespace {

engine::sha1_hash id_from(std::uint32_t seed) {
  engine::sha1_hash h;
  for (auto& b : h) {
    seed = seed * 1103515245u + 12345u;
    b = static_cast<std::uint8_t>(seed >> 16);
  }
  return h;
}

// A node whose main table is full of confirmed-looking contacts and which
// holds a public record with 40 peers.
struct LoadedNode {
  std::uint64_t sent = 0;
  dht::NodeCore core{id_from(1), 40, 0,
                     {[this](const engine::address&, std::string_view d) {
                        sent += d.size();
                        return true;
                      },
                      [](void* out, std::size_t n) { std::memset(out, 0, n); }}};
  engine::sha1_hash info_hash = id_from(99);

  LoadedNode() {
    for (std::uint32_t i = 0; i < 600; ++i) {
      const auto id = id_from(i + 1000);
      auto& t = core.main_table();
      t.place(t.bucket_for(id), dht::new_contact(engine::address(0x7F000000u + i + 2, 6881), id, 0, 0));
    }
    auto* r = core.add_info_hash(info_hash, false, true, 0);
    for (std::uint32_t i = 0; i < 40; ++i) r->store_peer(engine::address(0x7F010000u + i, 6881), 40, 0);
  }
};

// One query, answered over and over.
void answer(benchmark::State& state, LoadedNode& n, const std::string& query) {
  const engine::address from(127, 0, 0, 9, 7000);
  for (auto _ : state) n.core.receive(query, from, 1000);
  state.SetItemsProcessed(std::int64_t(state.iterations()));
}

void BM_Dht_FindNodeQuery(benchmark::State& state) {
  LoadedNode n;
  answer(state, n, "d1:ad2:id20:" + id_from(5).to_string() + "6:target20:" + id_from(6).to_string() +
                       "e1:q9:find_node1:t2:aa1:y1:qe");
}
BENCHMARK(BM_Dht_FindNodeQuery);

void BM_Dht_GetPeersQueryWithValues(benchmark::State& state) {
  LoadedNode n;
  answer(state, n, "d1:ad2:id20:" + id_from(5).to_string() + "9:info_hash20:" + n.info_hash.to_string() +
                       "e1:q9:get_peers1:t2:aa1:y1:qe");
}
BENCHMARK(BM_Dht_GetPeersQueryWithValues);

void BM_Dht_Tick(benchmark::State& state) {
  LoadedNode n;
  std::uint32_t now = 1000;
  for (auto _ : state) n.core.tick(now += 340);
  state.SetItemsProcessed(std::int64_t(state.iterations()));
}
BENCHMARK(BM_Dht_Tick);

}  // namespace

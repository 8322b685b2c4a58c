#include <benchmark/benchmark.h>

#include <string>

#include "engine/formats/entry.h"
#include "engine/formats/torrent_metainfo.h"

namespace {

// A multi-file .torrent of 500 files and 4000 pieces, as the engine writes it.
std::string sample_torrent() {
  engine::torrent_metainfo m;
  m.set_piece_size(262144);
  for (int i = 0; i < 500; ++i) m.add_file("collection/disc " + std::to_string(i / 50) + "/track " + std::to_string(i) + ".flac", 2097152);
  m.add_tracker("http://tracker.example/announce");
  m.add_tracker("udp://backup.example:6969", 1);
  std::string out;
  engine::bencode(std::back_inserter(out), m.build_torrent_dictionary());
  return out;
}

// A compact tracker reply with 50 peers.
std::string sample_reply() {
  return "d8:completei120e10:incompletei33e8:intervali1800e5:peers300:" + std::string(300, '\x7f') + "e";
}

void BM_Bdecode_Torrent(benchmark::State& state) {
  const std::string bytes = sample_torrent();
  for (auto _ : state) benchmark::DoNotOptimize(engine::bdecode(bytes));
  state.SetBytesProcessed(std::int64_t(state.iterations()) * std::int64_t(bytes.size()));
}
BENCHMARK(BM_Bdecode_Torrent);

void BM_Bdecode_TrackerReply(benchmark::State& state) {
  const std::string bytes = sample_reply();
  for (auto _ : state) benchmark::DoNotOptimize(engine::bdecode(bytes));
  state.SetItemsProcessed(std::int64_t(state.iterations()));
}
BENCHMARK(BM_Bdecode_TrackerReply);

void BM_Bencode_Torrent(benchmark::State& state) {
  const engine::entry e = engine::bdecode(sample_torrent());
  std::string out;
  for (auto _ : state) {
    out.clear();
    engine::bencode(std::back_inserter(out), e);
    benchmark::DoNotOptimize(out.data());
  }
  state.SetBytesProcessed(std::int64_t(state.iterations()) * std::int64_t(out.size()));
}
BENCHMARK(BM_Bencode_Torrent);

void BM_TorrentMetainfo_FromBytes(benchmark::State& state) {
  const std::string bytes = sample_torrent();
  for (auto _ : state) benchmark::DoNotOptimize(engine::torrent_metainfo(bytes.data(), bytes.size()));
  state.SetBytesProcessed(std::int64_t(state.iterations()) * std::int64_t(bytes.size()));
}
BENCHMARK(BM_TorrentMetainfo_FromBytes);

}  // namespace

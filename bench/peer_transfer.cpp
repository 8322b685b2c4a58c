// Moves a torrent from a seed session to a leech session over loopback and
// reports the leech's throughput, CPU time and peak memory.
//
//   peer_transfer [mebibytes=256] [piece_kib=256] [block_kib=16]
//
// The seed runs in a child process on 127.0.0.2, the leech in this process
// on 127.0.0.3, so the figures are the leech's alone.

#include <signal.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <fstream>

#include "tests/engine/session/swarm_fixture.h"

namespace fs = std::filesystem;
using namespace swarm_fixture;

namespace {

double cpu_seconds() {
  rusage u{};
  ::getrusage(RUSAGE_SELF, &u);
  return double(u.ru_utime.tv_sec + u.ru_stime.tv_sec) + double(u.ru_utime.tv_usec + u.ru_stime.tv_usec) / 1e6;
}

// The resident high-water mark starts again from what is resident now.
void reset_peak() { std::ofstream("/proc/self/clear_refs") << "5"; }

// Resident high-water mark since the last reset_peak(), in KiB.
long peak_since_reset_kib() {
  std::ifstream status("/proc/self/status");
  for (std::string line; std::getline(status, line);)
    if (line.rfind("VmHWM:", 0) == 0) return std::atol(line.c_str() + 6);
  return 0;
}

long peak_kib() {
  rusage u{};
  ::getrusage(RUSAGE_SELF, &u);
  return u.ru_maxrss;
}

}  // namespace

int main(int argc, char** argv) {
  const std::int64_t megabytes = argc > 1 ? std::atoll(argv[1]) : 256;
  const std::int64_t piece = (argc > 2 ? std::atoll(argv[2]) : 256) * 1024;
  const int block = int(argc > 3 ? std::atoi(argv[3]) : 16) * 1024;
  const std::int64_t total = megabytes * 1024 * 1024;

  const fs::path dir = fs::temp_directory_path() / ("qf_bench_" + std::to_string(::getpid()));
  fs::remove_all(dir);
  // Several files of uneven sizes.
  std::vector<file_spec> files{{"first.bin", total / 2 + 12345}, {"second.bin", total / 3 - 999},
                               {"third.bin", total - (total / 2 + 12345) - (total / 3 - 999)}};
  std::fprintf(stderr, "making %lld MiB torrent, pieces of %lld KiB...\n", (long long)megabytes,
               (long long)(piece / 1024));
  const engine::torrent_metainfo info = make_torrent(dir / "seed", "payload", files, piece);
  const auto ih = info.info_hash();
  const int port = 40000 + int(::getpid() % 500) * 20;

  int ready[2];
  if (::pipe(ready) != 0) return 1;
  const pid_t child = ::fork();
  if (child == 0) {
    auto seed = make_session(2, port);
    seed->add_torrent(info, dir / "seed", engine::entry(), true, block).resume();
    wait_until([&] { return is_seed(*seed, ih); }, std::chrono::seconds(600));
    // Let the seed's first per-second round hand out its unchoke slots.
    std::this_thread::sleep_for(std::chrono::milliseconds(1500));
    const std::uint16_t p = seed->listen_port();
    if (::write(ready[1], &p, sizeof p) != sizeof p) _exit(1);
    for (;;) ::pause();
  }
  std::uint16_t seed_port = 0;
  if (::read(ready[0], &seed_port, sizeof seed_port) != sizeof seed_port) return 1;

  auto leech = make_session(3, port + 10);
  leech->add_torrent(info, dir / "leech", engine::entry(), true, block).resume();
  wait_until([&] { return with_torrent(*leech, ih, [](engine::torrent&) {}); }, std::chrono::seconds(600));
  reset_peak();
  const double cpu0 = cpu_seconds();
  const auto t0 = std::chrono::steady_clock::now();
  add_peer(*leech, ih, engine::address(127, 0, 0, 2, seed_port));
  const bool done = wait_until([&] { return is_seed(*leech, ih); }, std::chrono::seconds(1800));
  const double secs = std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count();
  const double cpu = cpu_seconds() - cpu0;
  const long transfer_peak = peak_since_reset_kib();
  leech.reset();
  ::kill(child, SIGKILL);
  ::waitpid(child, nullptr, 0);
  const bool same = done && same_files(dir / "seed" / "payload", dir / "leech" / "payload", files);
  fs::remove_all(dir);

  std::printf("size %lld MiB, piece %lld KiB, block %d KiB: %s\n", (long long)megabytes, (long long)(piece / 1024),
              block / 1024, !done ? "DID NOT FINISH" : same ? "files identical" : "FILES DIFFER");
  std::printf("  %.1f MiB/s (%.2f s), leech CPU %.2f s, leech peak memory %.1f MiB (%.1f MiB during the transfer)\n",
              double(total) / 1048576.0 / secs, secs, cpu, double(peak_kib()) / 1024.0,
              double(transfer_peak) / 1024.0);
  return done && same ? 0 : 1;
}

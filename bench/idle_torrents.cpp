// Seeds many small torrents from one session with no peer around, and
// reports what they cost while idle: resident memory and CPU.
//
//   idle_torrents [torrents=1000] [kib=1024] [seconds=30] [aria2|quiet]
//
// Each torrent is one file of pseudo-random bytes (pieces of 256 KiB) in a
// temporary folder under $TMPDIR (else /tmp). They announce to opentracker on
// loopback when it is installed, else (and with "quiet") to an address that
// refuses. Opentracker names this session to itself as a peer: with more
// torrents than connects may start at once, those connects go on for minutes,
// where "quiet" leaves the torrents with nothing to do. The figures are taken
// once every torrent has left the checker and its first announce is done:
// VmRSS from /proc/self/status, then the CPU time (getrusage) spent over the
// next `seconds`. With "aria2" the same torrents are then seeded by aria2c
// and measured the same way, from /proc/<pid>.

#include <malloc.h>
#include <sys/resource.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <memory>
#include <optional>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "engine/formats/entry.h"
#include "engine/session/alert.h"
#include "engine/session/torrent_handle.h"
#include "tests/engine/session/checked.h"
#include "tests/engine/session/swarm_fixture.h"
#include "tests/engine/tracker/tracker_opentracker.h"
#include "tests/engine/tracker/tracker_process.h"

namespace fs = std::filesystem;
using namespace std::chrono_literals;

namespace {

// A /proc status field in KiB ("VmRSS:" ...), or -1.
long status_kib(const std::string& status_file, const std::string& field) {
  std::ifstream in(status_file);
  for (std::string line; std::getline(in, line);)
    if (line.rfind(field, 0) == 0) return std::atol(line.c_str() + field.size());
  return -1;
}

// Bytes the allocator has handed out and not yet taken back, all threads.
double heap_mib() {
  const struct mallinfo2 m = ::mallinfo2();
  return double(m.uordblks + m.hblkhd) / (1024 * 1024);
}

double own_cpu_seconds() {
  rusage u{};
  ::getrusage(RUSAGE_SELF, &u);
  return double(u.ru_utime.tv_sec + u.ru_stime.tv_sec) + double(u.ru_utime.tv_usec + u.ru_stime.tv_usec) / 1e6;
}

// User plus system time of another process, from /proc/<pid>/stat.
double process_cpu_seconds(pid_t pid) {
  std::ifstream in("/proc/" + std::to_string(pid) + "/stat");
  std::string all((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  const auto close = all.rfind(')');
  if (close == std::string::npos) return 0;
  std::istringstream fields(all.substr(close + 2));
  std::string f;
  double ticks = 0;
  // After the name: state is field 3; utime and stime are fields 14 and 15.
  for (int i = 3; i <= 15 && fields >> f; ++i)
    if (i >= 14) ticks += std::atof(f.c_str());
  return ticks / double(::sysconf(_SC_CLK_TCK));
}

void print_figures(const char* who, int torrents, long base_kib, long rss_kib, double cpu, double seconds) {
  std::printf("%-7s %5d torrents: %7.1f MiB resident (%.1f MiB before adding, %5.1f KiB per torrent), "
              "%.2f%% of a core idle\n",
              who, torrents, double(rss_kib) / 1024, double(base_kib) / 1024,
              torrents ? double(rss_kib - base_kib) / torrents : 0.0, 100.0 * cpu / seconds);
  std::fflush(stdout);
}

struct torrent_files {
  std::vector<engine::torrent_metainfo> infos;
  std::vector<std::string> torrent_paths;
};

// Torrent i is the folder t<i> with one file, under `root`/data.
torrent_files make_torrents(const fs::path& root, int n, std::int64_t bytes) {
  torrent_files out;
  fs::create_directories(root / "torrents");
  for (int i = 0; i < n; ++i) {
    const std::string name = "t" + std::to_string(i);
    out.infos.push_back(swarm_fixture::make_torrent(root / "data", name, {{"payload.bin", bytes}}, 256 * 1024,
                                                    std::uint32_t(i + 1)));
    out.torrent_paths.push_back((root / "torrents" / (name + ".torrent")).string());
  }
  return out;
}

// Writes the .torrent files with `tracker` as their one tracker.
void write_torrent_files(const torrent_files& files, const std::string& tracker) {
  for (std::size_t i = 0; i < files.infos.size(); ++i) {
    engine::entry::dictionary_type t;
    t["announce"] = engine::entry(tracker);
    t["info"] = files.infos[i].build_info_dictionary();
    std::string bytes;
    engine::bencode(std::back_inserter(bytes), engine::entry(std::move(t)));
    std::ofstream(files.torrent_paths[i], std::ios::binary) << bytes;
  }
}

std::string read_file(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
}

void run_engine(const torrent_files& files, const fs::path& data, int seconds) {
  const long base = status_kib("/proc/self/status", "VmRSS:");
  const double heap_before = heap_mib();
  auto ses = swarm_fixture::make_session(1);
  ses->set_severity_level(engine::alert::fatal);
  std::vector<engine::torrent_handle> handles;
  const auto added_from = std::chrono::steady_clock::now();
  for (const auto& path : files.torrent_paths)
    handles.push_back(ses->add_torrent_from_entry(engine::bdecode(read_file(path)), data));
  for (auto& h : handles) h.resume();
  const auto start = std::chrono::steady_clock::now();
  std::fprintf(stderr, "engine: added and resumed in %.2f s\n", std::chrono::duration<double>(start - added_from).count());
  const bool checked = swarm_fixture::wait_until(
      [&] {
        for (const auto& h : handles)
          if (!engine_test::left_the_checker(h) || !h.is_seed()) return false;
        return true;
      },
      600s, 50ms);
  std::fprintf(stderr, "engine: %s after %.1f s\n", checked ? "all checked" : "NOT ALL CHECKED",
               std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count());
  // The first announces go out at the next second tick and are answered on
  // loopback. The tracker names this session itself as the one peer of each
  // torrent: those connections end at their handshake (or, when the listen
  // backlog overflowed, at their time-out). Idle means none is left.
  std::this_thread::sleep_for(5s);
  const auto quiet_from = std::chrono::steady_clock::now();
  swarm_fixture::wait_until([&] { return ses->status().num_peers == 0; }, 600s, 100ms);
  std::fprintf(stderr, "engine: no peers after %.1f s more\n",
               std::chrono::duration<double>(std::chrono::steady_clock::now() - quiet_from).count());
  const long rss = status_kib("/proc/self/status", "VmRSS:");
  const double cpu0 = own_cpu_seconds();
  std::this_thread::sleep_for(std::chrono::seconds(seconds));
  const double cpu = own_cpu_seconds() - cpu0;
  print_figures("engine", int(handles.size()), base, rss, cpu, seconds);
  std::printf("        peak %.1f MiB resident; heap in use %.1f MiB (%.1f MiB before adding)\n",
              double(status_kib("/proc/self/status", "VmHWM:")) / 1024, heap_mib(), heap_before);
}

void run_aria2(const torrent_files& files, const fs::path& data, const fs::path& root, int seconds) {
  const std::string aria2 = "/usr/bin/aria2c";
  if (::access(aria2.c_str(), X_OK) != 0) {
    std::fprintf(stderr, "aria2c is not installed\n");
    return;
  }
  std::vector<std::string> argv{aria2,
                                "--dir=" + data.string(),
                                "--check-integrity=true",
                                "--seed-ratio=0.0",
                                "--bt-seed-unverified=false",
                                "--enable-dht=false",
                                "--enable-dht6=false",
                                "--bt-enable-lpd=false",
                                "--enable-peer-exchange=false",
                                "--listen-port=" + std::to_string(tracker_test::free_port()),
                                "--max-concurrent-downloads=" + std::to_string(files.infos.size()),
                                "--bt-max-open-files=100",
                                "--console-log-level=error",
                                "--summary-interval=0",
                                "--log-level=error",
                                "--log=" + (root / "aria2.log").string(),
                                "--save-session-interval=0",
                                "--auto-save-interval=0",
                                "--follow-torrent=false",
                                "--file-allocation=none",
                                "--bt-stop-timeout=0"};
  for (const auto& p : files.torrent_paths) argv.push_back(p);
  tracker_test::child_process aria(argv, (root / "aria2.out").string());
  const pid_t pid = aria.pid();
  const std::string status = "/proc/" + std::to_string(pid) + "/status";
  // Seeding once its check is done: wait until its CPU time stops climbing.
  double last = -1;
  for (int quiet = 0; quiet < 3 && aria.running();) {
    std::this_thread::sleep_for(2s);
    const double now = process_cpu_seconds(pid);
    quiet = now - last < 0.2 ? quiet + 1 : 0;
    last = now;
  }
  if (!aria.running()) {
    std::fprintf(stderr, "aria2c ended early; see %s\n", (root / "aria2.out").c_str());
    return;
  }
  const long rss = status_kib(status, "VmRSS:");
  const double cpu0 = process_cpu_seconds(pid);
  std::this_thread::sleep_for(std::chrono::seconds(seconds));
  const double cpu = process_cpu_seconds(pid) - cpu0;
  print_figures("aria2c", int(files.infos.size()), 0, rss, cpu, seconds);
}

}  // namespace

int main(int argc, char** argv) {
  const int n = argc > 1 ? std::atoi(argv[1]) : 1000;
  const std::int64_t kib = argc > 2 ? std::atoll(argv[2]) : 1024;
  const int seconds = argc > 3 ? std::atoi(argv[3]) : 30;
  const bool with_aria2 = argc > 4 && std::string(argv[4]) == "aria2";
  const bool quiet = argc > 4 && std::string(argv[4]) == "quiet";

  tracker_test::temp_dir root("qf-bench-idle");
  std::fprintf(stderr, "making %d torrents of %lld KiB...\n", n, (long long)kib);
  torrent_files files = make_torrents(root.path(), n, kib * 1024);

  std::unique_ptr<tracker_test::opentracker> tracker;
  std::string tracker_url = "http://127.0.0.1:1/announce";
  if (!quiet && tracker_test::opentracker::available()) {
    std::vector<engine::sha1_hash> hashes;
    for (const auto& i : files.infos) hashes.push_back(i.info_hash());
    tracker = std::make_unique<tracker_test::opentracker>(hashes);
    if (tracker->ready()) tracker_url = tracker->http_url();
  }
  std::fprintf(stderr, "tracker: %s\n", tracker_url.c_str());
  write_torrent_files(files, tracker_url);

  run_engine(files, fs::path(root.path()) / "data", seconds);
  // The same files, announced to the same tracker.
  if (with_aria2) run_aria2(files, fs::path(root.path()) / "data", root.path(), seconds);
  return 0;
}

// Moves one torrent between two peers that find each other only through
// opentracker on loopback, for each pairing of this engine and
// transmission-daemon, and reports the throughput of each:
//
//   tracker_transfer [mebibytes=128] [pairings=e2e,t2e,e2t,t2t,first]
//
// The time runs from the moment the downloader starts (resume, or adding the
// torrent to transmission) until it has every piece: it includes the
// announces and the uploader's unchoke rounds, as a user would see it.
// Pieces are 256 KiB (mktorrent -l 18).
//
// "first" times an engine leech from its resume to its first payload byte
// from an engine seed, found through the tracker over HTTP, over UDP, and
// told the seed's address directly (connect_peer, no tracker), a few times
// each: what the tracker costs on top of the connection itself.

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <functional>
#include <memory>
#include <string>
#include <thread>

#include "engine/session/session.h"
#include "engine/session/torrent_handle.h"
#include "tests/engine/session/checked.h"
#include "tests/engine/session/swarm_fixture.h"
#include "tests/engine/tracker/tracker_opentracker.h"
#include "tests/engine/tracker/tracker_process.h"
#include "tests/engine/tracker/tracker_test_support.h"
#include "tests/engine/tracker/tracker_torrent_files.h"
#include "tests/engine/tracker/tracker_transmission.h"

namespace fs = std::filesystem;
using namespace std::chrono_literals;
using steady = std::chrono::steady_clock;

namespace {

struct result {
  bool done = false;
  bool identical = false;
  double seconds = 0;
};

std::unique_ptr<engine::session> engine_peer(int host, const tracker_test::shared_torrent& t, const std::string& dir,
                                             engine::torrent_handle& h) {
  auto s = swarm_fixture::make_session(host, tracker_test::free_port());
  const std::string bytes = tracker_test::read_file(t.torrent_file);
  h = s->add_torrent_from_entry(engine::bdecode(bytes), dir);
  swarm_fixture::wait_until([&] { return engine_test::left_the_checker(h); }, 300s);
  return s;
}

std::unique_ptr<tracker_test::transmission> transmission_peer(const tracker_test::shared_torrent& t,
                                                              const std::string& dir,
                                                              const std::string& bind = "127.0.0.1") {
  auto p = std::make_unique<tracker_test::transmission>(dir, bind);
  if (p->ready()) p->add(t.torrent_file, dir);
  return p;
}

// Times `done` from `start`, asking every `period`, for at most `limit`.
result time_until(steady::time_point start, const std::function<bool()>& done, std::chrono::milliseconds period,
                  std::chrono::seconds limit) {
  result r;
  while (!(r.done = done()) && steady::now() - start < limit) std::this_thread::sleep_for(period);
  r.seconds = std::chrono::duration<double>(steady::now() - start).count();
  return r;
}

// Waits until the tracker counts the seed, so that the downloader's first
// announce finds it.
void wait_for_seed(tracker_test::shared_torrent& t) {
  swarm_fixture::wait_until([&] { return tracker_test::scrape(t.tracker->http_url(), t.info_hash).first >= 1; }, 60s);
}

// A downloading transmission does not dial the loopback peers a tracker
// lists (it takes connections from them): it is reached by the seed, which
// announces again once the tracker counts the downloader.
void wait_for_leech(tracker_test::shared_torrent& t) {
  swarm_fixture::wait_until([&] { return tracker_test::scrape(t.tracker->http_url(), t.info_hash).second >= 1; }, 60s);
}

// transmission-remote is a process of its own: asked less often.
bool transmission_done(const tracker_test::transmission& p) { return p.percent_done() == 100.0; }

// Resume to first payload byte of a fresh leech; `tracker` empty: no
// tracker, the seed's address is given directly.
// Each leech has an address of its own (`host`), so that the seed never
// takes it for the one before.
double first_byte(const tracker_test::shared_torrent& t, const std::string& dir, int host, const std::string& tracker,
                  const engine::address& seed) {
  fs::remove_all(dir);
  fs::create_directories(dir);
  engine::torrent_handle hl;
  auto leech = engine_peer(host, t, dir, hl);
  if (tracker.empty())
    hl.replace_trackers({});
  else
    hl.replace_trackers({{tracker, 0}});
  const auto start = steady::now();
  hl.resume();
  if (tracker.empty()) hl.connect_peer(seed);
  const result r = time_until(start, [&] { return hl.status().total_payload_download > 0; }, 1ms, 30s);
  return r.done ? r.seconds : -1;
}

void report(const char* what, const result& r, double megabytes) {
  if (!r.done)
    std::printf("  %-28s did not finish\n", what);
  else
    std::printf("  %-28s %7.1f MiB/s  (%.2f s)%s\n", what, megabytes / r.seconds, r.seconds,
                r.identical ? "" : "  FILES DIFFER");
  std::fflush(stdout);
}

}  // namespace

int main(int argc, char** argv) {
  const std::int64_t megabytes = argc > 1 ? std::atoll(argv[1]) : 128;
  const std::string pairings = argc > 2 ? argv[2] : "e2e,t2e,e2t,t2t";
  const auto wanted = [&](const char* name) { return pairings.find(name) != std::string::npos; };
  if (!tracker_test::opentracker::available() || !tracker_test::transmission::available() ||
      !tracker_test::mktorrent_available()) {
    std::fprintf(stderr, "needs opentracker, transmission-daemon, transmission-remote and mktorrent\n");
    return 1;
  }
  tracker_test::temp_dir root("qf-bench-tracker");
  const std::string seed_dir = root.path() + "/seed";
  fs::create_directories(seed_dir);
  std::fprintf(stderr, "making a %lld MiB torrent...\n", (long long)megabytes);
  tracker_test::shared_torrent t(seed_dir, std::size_t(megabytes) * 1024 * 1024 + 4321, 18);
  if (!t.ready()) {
    std::fprintf(stderr, "opentracker did not start\n");
    return 1;
  }
  const std::string original = tracker_test::read_file(t.payload);
  const auto leech_dir = [&](const char* name) {
    const std::string d = root.path() + "/" + name;
    fs::create_directories(d);
    return d;
  };
  const auto identical = [&](const std::string& dir) { return tracker_test::read_file(dir + "/payload.bin") == original; };
  const double mb = double(megabytes);
  const auto limit = 180s;
  std::printf("%lld MiB, pieces of 256 KiB, through opentracker on loopback:\n", (long long)megabytes);

  if (wanted("e2e")) {
    t.restart_tracker();
    engine::torrent_handle hs, hl;
    auto seed = engine_peer(2, t, seed_dir, hs);
    hs.resume();
    wait_for_seed(t);
    const std::string dir = leech_dir("e2e");
    auto leech = engine_peer(3, t, dir, hl);
    const auto start = steady::now();
    hl.resume();
    result r = time_until(start, [&] { return hl.is_seed(); }, 10ms, limit);
    r.identical = identical(dir);
    report("engine -> engine", r, mb);
  }
  if (wanted("first")) {
    t.restart_tracker();
    engine::torrent_handle hs;
    auto seed = engine_peer(2, t, seed_dir, hs);
    hs.resume();
    wait_for_seed(t);
    const engine::address seed_address(127, 0, 0, 2, seed->listen_port());
    const std::string dir = leech_dir("first");
    const std::string udp = "udp://127.0.0.1:" + std::to_string(t.tracker->port()) + "/announce";
    std::printf("resume to first payload byte:\n");
    int host = 10;
    for (const auto& [name, url] : {std::pair<const char*, std::string>{"direct", ""},
                                    {"http tracker", t.tracker->http_url()},
                                    {"udp tracker", udp}}) {
      std::printf("  %-14s", name);
      for (int i = 0; i < 5; ++i) {
        std::printf(" %6.3f s", first_byte(t, dir, host++, url, seed_address));
        std::fflush(stdout);
      }
      std::printf("\n");
    }
  }
  if (wanted("t2e")) {
    t.restart_tracker();
    auto seed = transmission_peer(t, seed_dir);
    wait_for_seed(t);
    engine::torrent_handle hl;
    const std::string dir = leech_dir("t2e");
    auto leech = engine_peer(4, t, dir, hl);
    const auto start = steady::now();
    hl.resume();
    result r = time_until(start, [&] { return hl.is_seed(); }, 10ms, limit);
    r.identical = identical(dir);
    report("transmission -> engine", r, mb);
  }
  if (wanted("e2t")) {
    t.restart_tracker();
    engine::torrent_handle hs;
    auto seed = engine_peer(5, t, seed_dir, hs);
    hs.resume();
    wait_for_seed(t);
    const std::string dir = leech_dir("e2t");
    const auto start = steady::now();
    auto leech = transmission_peer(t, dir);
    wait_for_leech(t);
    hs.force_reannounce();
    result r = time_until(start, [&] { return transmission_done(*leech); }, 250ms, limit);
    r.identical = identical(dir);
    report("engine -> transmission", r, mb);
  }
  if (wanted("t2t")) {
    t.restart_tracker();
    // Transmission puts off a re-announce asked for this soon: the seed
    // starts once the tracker counts the downloader, and finds it then.
    const std::string dir = leech_dir("t2t");
    const auto start = steady::now();
    auto leech = transmission_peer(t, dir, "127.0.0.7");
    wait_for_leech(t);
    auto seed = transmission_peer(t, seed_dir, "127.0.0.6");
    result r = time_until(start, [&] { return transmission_done(*leech); }, 250ms, limit);
    r.identical = identical(dir);
    report("transmission -> transmission", r, mb);
  }
  return 0;
}

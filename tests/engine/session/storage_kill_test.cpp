// A leeching session in a child process downloads from a seed on loopback,
// saving its fast-resume data now and then, and is killed (SIGKILL) in the
// middle of the download. A new session started with the last saved data
// must keep every piece that data called finished, and report no piece as
// finished whose bytes are wrong.

#include <gtest/gtest.h>

#include <csignal>
#include <cstdio>
#include <iterator>
#include <sys/wait.h>
#include <unistd.h>

#include "engine/storage/piece_manager.h"
#include "tests/engine/storage/storage_test_support.h"
#include "tests/engine/session/swarm_fixture.h"

namespace fs = std::filesystem;
using namespace swarm_fixture;
using engine::entry;

namespace {

struct scratch {
  fs::path path = fs::temp_directory_path() / ("qf_kill_" + std::to_string(::getpid()));
  scratch() {
    fs::remove_all(path);
    fs::create_directories(path);
  }
  ~scratch() { fs::remove_all(path); }
};

// The pieces that fast-resume data calls finished: those with a slot that
// are not unfinished.
std::vector<bool> finished_in(const entry& rd, int num_pieces) {
  std::vector<bool> done(static_cast<std::size_t>(num_pieces));
  for (const entry& s : rd["slots"].list()) {
    if (s.integer() >= 0) done[static_cast<std::size_t>(s.integer())] = true;
  }
  for (const entry& u : rd["unfinished"].list()) done[static_cast<std::size_t>(u["piece"].integer())] = false;
  return done;
}

// The child: waits for the seed's port, downloads with a modest rate limit
// into compact storage and saves the fast-resume data every 30 ms, telling
// the parent after each save how many pieces the data calls finished. It never ends by itself.
[[noreturn]] void leech(const engine::torrent_metainfo& info, const fs::path& dir, int port_pipe, int tick_pipe) {
  int seed_port = 0;
  if (::read(port_pipe, &seed_port, sizeof seed_port) != sizeof seed_port) ::_exit(10);
  auto s = make_session(3);
  s->set_download_rate_limit(400000);
  engine::torrent_handle h = s->add_torrent(info, dir / "leech", entry(), true, 16384);
  h.resume();
  const auto ih = info.info_hash();
  if (!wait_until([&] { return with_torrent(*s, ih, [](engine::torrent&) {}); })) ::_exit(11);
  add_peer(*s, ih, engine::address(127, 0, 0, 2, static_cast<std::uint16_t>(seed_port)));
  for (;;) {
    // The saves come at their own pace; the kill falls between two of them
    // or in the middle of one, wherever it falls.
    std::this_thread::sleep_for(std::chrono::milliseconds(30));
    const entry rd = h.build_resume_data();
    if (rd.type() != entry::dictionary_t) continue;
    std::string bytes;
    engine::bencode(std::back_inserter(bytes), rd);
    std::ofstream(dir / "resume.tmp", std::ios::binary) << bytes;
    fs::rename(dir / "resume.tmp", dir / "resume");
    const auto done = finished_in(rd, info.num_pieces());
    const int have = static_cast<int>(std::count(done.begin(), done.end(), true));
    if (::write(tick_pipe, &have, sizeof have) != sizeof have) ::_exit(12);
  }
}

}  // namespace

// Under ThreadSanitizer: the process-wide host-name worker, started by the
// first round's announce, is still alive when the second round forks; the
// child never touches it and runs a session of its own.
extern "C" const char* __tsan_default_options() { return "die_after_fork=0"; }

TEST(StorageKill, AKilledSessionRestartsFromItsLastResumeDataSafely) {
  for (int round = 0; round < 2; ++round) {
    scratch dir;
    // 1.5 MiB in 16 KiB pieces over three files; about four seconds at the
    // leech's rate limit.
    const std::vector<file_spec> files{{"a.bin", 500000}, {"b.bin", 7}, {"c.bin", 1072864}};
    const engine::torrent_metainfo info = make_torrent(dir.path / "seed", "payload", files, 16384, 7 + round);
    int port_pipe[2], tick_pipe[2];
    ASSERT_EQ(::pipe(port_pipe), 0);
    ASSERT_EQ(::pipe(tick_pipe), 0);
    // Fork before any session runs: the child starts with one thread.
    const pid_t child = ::fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
      ::close(port_pipe[1]);
      ::close(tick_pipe[0]);
      try {
        leech(info, dir.path, port_pipe[0], tick_pipe[1]);
      } catch (const std::exception& e) {
        std::fprintf(stderr, "leech: %s\n", e.what());
      }
      ::_exit(13);
    }
    ::close(port_pipe[0]);
    ::close(tick_pipe[1]);
    struct reaper {
      pid_t pid;
      ~reaper() {
        ::kill(pid, SIGKILL);
        ::waitpid(pid, nullptr, 0);
      }
    } reap{child};

    const auto ih = info.info_hash();
    {
      auto seed = make_session(2);
      ASSERT_TRUE(seed->is_listening());
      seed->add_torrent(info, dir.path / "seed").resume();
      ASSERT_TRUE(wait_until([&] { return is_seed(*seed, ih); }));
      const int port = seed->listen_port();
      ASSERT_EQ(::write(port_pipe[1], &port, sizeof port), static_cast<ssize_t>(sizeof port));
      // A tenth of the way in the first round, half of it in the second.
      const int target = info.num_pieces() * (round == 0 ? 1 : 5) / 10;
      for (int have = 0; have < target;) {
        ASSERT_EQ(::read(tick_pipe[0], &have, sizeof have), static_cast<ssize_t>(sizeof have))
            << "the leech ended by itself";
      }
      // Let it run on past its last save for a moment: where the kill falls
      // is what is tested, and any point must pass.
      std::this_thread::sleep_for(std::chrono::milliseconds(10 + 7 * round));
      ::kill(child, SIGKILL);
    }
    ::close(port_pipe[1]);
    ::close(tick_pipe[0]);

    // What the last saved data calls finished.
    const entry rd = engine::bdecode(storage_test::read_text(dir.path / "resume"));
    const std::vector<bool> saved = finished_in(rd, info.num_pieces());
    int saved_count = 0;
    for (bool b : saved) saved_count += b;

    std::string payload;
    for (const auto& f : files) payload += storage_test::read_text(dir.path / "seed" / "payload" / f.name);

    engine::session restarted(engine::fingerprint("QF", 1, 0, 0, 0));
    restarted.add_torrent(info, dir.path / "leech", rd, true, 16384);
    ASSERT_TRUE(wait_until([&] { return with_torrent(restarted, ih, [](engine::torrent&) {}); }));
    int have_count = 0;
    with_torrent(restarted, ih, [&](engine::torrent& t) {
      engine::piece_manager& pm = t.filesystem();
      for (int p = 0; p < info.num_pieces(); ++p) {
        const bool have = t.pieces()[static_cast<std::size_t>(p)];
        have_count += have;
        if (saved[static_cast<std::size_t>(p)]) {
          EXPECT_TRUE(have) << "lost piece " << p;
        }
        if (have) {
          EXPECT_EQ(pm.hash_for_slot(pm.slot_of(p)), info.hash_for_piece(p)) << "corrupt piece " << p;
        }
      }
      for (const auto& d : t.picker().get_download_queue()) {
        for (int b = 0; b < t.picker().blocks_in_piece(d.index); ++b) {
          if (!d.finished[static_cast<std::size_t>(b)]) continue;
          const int size = static_cast<int>(std::min<std::int64_t>(16384, info.piece_size(d.index) - b * 16384));
          std::string got(static_cast<std::size_t>(size), '\0');
          pm.read(got.data(), d.index, b * 16384, size);
          EXPECT_EQ(got, payload.substr(static_cast<std::size_t>(d.index * info.piece_length() + b * 16384),
                                        static_cast<std::size_t>(size)))
              << "corrupt block " << b << " of piece " << d.index;
        }
      }
    });
    EXPECT_GE(have_count, saved_count);
    EXPECT_GT(saved_count, 0);
    EXPECT_LT(saved_count, info.num_pieces()) << "the download was over before the kill";
    if (HasFailure()) return;
  }
}

// The disk worker: hashes of pieces written in any order, a torrent removed
// while its writes wait, and the bound on block data in flight.
#include "engine/storage/disk_io.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <condition_variable>
#include <fstream>
#include <mutex>
#include <random>

#include "engine/session/session_impl.h"
#include "engine/session/torrent.h"
#include "engine/storage/file_cache.h"
#include "engine/storage/piece_manager.h"
#include "tests/engine/storage/storage_test_support.h"
#include "tests/engine/session/swarm_fixture.h"

namespace fs = std::filesystem;
using engine::disk_io;
using engine::disk_job;
using engine::piece_manager;
using swarm_fixture::wait_until;

namespace {

// Holds the worker in a job until released, so that what is queued behind
// it is surely in flight.
class worker_gate {
 public:
  // Never leaves the worker stuck, whatever failed.
  ~worker_gate() { open(); }
  void hold(disk_io& io, std::shared_ptr<piece_manager> any) {
    io.async_call(std::move(any), [this](piece_manager&) {
      std::unique_lock l(m_mutex);
      m_cond.wait(l, [&] { return m_open; });
    });
  }
  void open() {
    {
      std::lock_guard l(m_mutex);
      m_open = true;
    }
    m_cond.notify_all();
  }

 private:
  std::mutex m_mutex;
  std::condition_variable m_cond;
  bool m_open = false;
};

std::unique_ptr<char[]> copy_of(const std::string& s, int at, int n) {
  auto b = std::make_unique<char[]>(std::size_t(n));
  std::copy_n(s.data() + at, n, b.get());
  return b;
}

}  // namespace

// The running hash of blocks written in order must never stand for other
// bytes: pieces written in order, shuffled, with a block written again (as
// after a failed piece) or corrupted all hash to what lies on disk.
TEST(DiskIo, HashesMatchWhateverTheWriteOrder) {
  storage_test::temp_dir dir;
  const int block = 16384;
  storage_test::test_torrent t({{"d/a", 5 * 65536 + 1000}, {"d/b", 2 * 65536}}, 65536, 7);
  auto pm = std::make_shared<piece_manager>(t.info, dir.path());
  std::vector<bool> have;
  ASSERT_TRUE(pm->check_fastresume({piece_manager::free_slot}, {}, have, true));
  disk_io io([] {});
  std::mt19937 gen(3);
  const auto write = [&](int p, int at, const std::string& data) {
    const int n = std::min(block, int(data.size()) - at);
    io.async_write(pm, p, at, n, copy_of(data, at, n), {});
  };
  for (int p = 0; p < t.num_pieces(); ++p) {
    std::vector<int> starts;
    for (int s = 0; s < t.piece_size(p); s += block) starts.push_back(s);
    if (p % 2 == 1) std::shuffle(starts.begin(), starts.end(), gen);
    for (int s : starts) write(p, s, t.piece(p));
    if (p == 2) write(p, 0, t.piece(p));      // again, behind the run
    if (p == 4 && starts.size() > 1) write(p, block, std::string(std::size_t(t.piece_size(p)), 'x'));
  }
  std::vector<engine::sha1_hash> digests(std::size_t(t.num_pieces()));
  int reported = 0;
  for (int p = 0; p < t.num_pieces(); ++p)
    io.async_hash(pm, p, [&, p](disk_job& j) {
      EXPECT_FALSE(j.error) << *j.error;
      digests[std::size_t(p)] = j.digest;
      ++reported;
    });
  ASSERT_TRUE(wait_until([&] {
    io.run_completions();
    return reported == t.num_pieces();
  }));
  for (int p = 0; p < t.num_pieces(); ++p) {
    if (p == 4)
      EXPECT_NE(digests[std::size_t(p)], t.info.hash_for_piece(p));
    else
      EXPECT_EQ(digests[std::size_t(p)], t.info.hash_for_piece(p)) << "piece " << p;
  }
  EXPECT_EQ(io.bytes_in_flight(), 0u);
}

// A torrent removed while its writes still wait for the worker is freed at
// once; the writes reach the disk afterwards and their results find nobody.
TEST(DiskIo, TorrentRemovedWithWritesInFlight) {
  storage_test::temp_dir dir;
  const std::vector<swarm_fixture::file_spec> files{{"a.bin", 300000}};
  const engine::torrent_metainfo info = swarm_fixture::make_torrent(dir.path() / "seed", "payload", files, 65536);
  const auto ih = info.info_hash();
  auto ses = swarm_fixture::make_session(3);
  const engine::torrent_handle h = ses->add_torrent(info, dir.path() / "leech");
  h.resume();
  ASSERT_TRUE(wait_until([&] {
    bool checked = false;
    swarm_fixture::with_torrent(*ses, ih, [&](engine::torrent& t) { checked = t.are_files_checked(); });
    return checked;
  }));

  // Piece 0 as the seed has it, written block by block behind a held worker.
  std::string piece0(65536, '\0');
  {
    std::ifstream in(dir.path() / "seed" / "payload" / "a.bin", std::ios::binary);
    in.read(piece0.data(), std::streamsize(piece0.size()));
  }
  worker_gate gate;
  std::weak_ptr<engine::torrent> gone;
  engine::session_impl& impl = ses->impl();
  {
    std::lock_guard l(impl.mutex());
    auto t = impl.find_torrent(ih);
    gone = t;
    gate.hold(impl.disk(), std::make_shared<piece_manager>(info, dir.path() / "elsewhere"));
    for (int at = 0; at < 65536; at += 16384) t->write_block(0, at, piece0.data() + at, 16384);
    t->piece_downloaded(0);
    EXPECT_GE(impl.disk().bytes_in_flight(), 65536u);
  }
  ses->remove_torrent(h);
  ASSERT_TRUE(wait_until([&] { return gone.expired(); }));
  gate.open();
  ASSERT_TRUE(wait_until([&] { return impl.disk().bytes_in_flight() == 0; }));
  {
    std::lock_guard l(impl.mutex());
    impl.disk().run_completions();
  }
  ses.reset();
  std::string written(65536, '\0');
  std::ifstream in(dir.path() / "leech" / "payload" / "a.bin", std::ios::binary);
  in.read(written.data(), std::streamsize(written.size()));
  EXPECT_EQ(written, piece0);
}

// A leech whose disk is slower than its seed holds no more block data than
// its bound (and one read of the socket): it stops reading instead. The
// bytes still all arrive intact.
TEST(DiskIo, InFlightBoundHoldsUnderAFastSeed) {
  storage_test::temp_dir dir;
  const std::vector<swarm_fixture::file_spec> files{{"big.bin", 24 * 1048576 + 4321}, {"small.bin", 99999}};
  const engine::torrent_metainfo info = swarm_fixture::make_torrent(dir.path() / "seed", "payload", files, 262144);
  const auto ih = info.info_hash();
  auto seed = swarm_fixture::make_session(2);
  auto leech = swarm_fixture::make_session(3);
  const std::size_t limit = 128 * 1024;
  engine::session_impl& impl = leech->impl();
  worker_gate gate;
  {
    std::lock_guard l(impl.mutex());
    impl.disk().set_limit(limit);
  }
  seed->add_torrent(info, dir.path() / "seed").resume();
  leech->add_torrent(info, dir.path() / "leech").resume();
  ASSERT_TRUE(wait_until([&] { return swarm_fixture::is_seed(*seed, ih); }));
  ASSERT_TRUE(wait_until([&] { return swarm_fixture::with_torrent(*leech, ih, [](engine::torrent&) {}); }));
  {
    // The disk stands still at first: the leech must stop at its bound.
    std::lock_guard l(impl.mutex());
    gate.hold(impl.disk(), std::make_shared<piece_manager>(info, dir.path() / "elsewhere"));
  }
  swarm_fixture::add_peer(*leech, ih, engine::address(127, 0, 0, 2, seed->listen_port()));
  ASSERT_TRUE(wait_until([&] { return impl.disk().bytes_in_flight() >= limit; }));
  gate.open();
  ASSERT_TRUE(wait_until([&] { return swarm_fixture::is_seed(*leech, ih); }, std::chrono::seconds(120)));
  // One connection may finish the socket read it was in: a block and a
  // message header beyond the bound.
  EXPECT_LE(impl.disk().peak_bytes_in_flight(), limit + 2 * 16384 + 64);
  leech.reset();
  seed.reset();
  EXPECT_TRUE(swarm_fixture::same_files(dir.path() / "seed" / "payload", dir.path() / "leech" / "payload", files));
}

// Writes that finished one by one, never crossing the resume mark, can still
// leave the count over the limit until they are collected: a connection that
// stops reading then must not wait for a wake that never comes.
TEST(DiskIo, StoppedReaderIsWokenWhenFinishedWritesOnlyWaitToBeCollected) {
  storage_test::temp_dir dir;
  storage_test::test_torrent t({{"a", 4 * 65536}}, 65536, 5);
  auto pm = std::make_shared<piece_manager>(t.info, dir.path());
  std::vector<bool> have;
  ASSERT_TRUE(pm->check_fastresume({piece_manager::free_slot}, {}, have, true));
  std::atomic<int> wakes{0};
  disk_io io([&] { ++wakes; }, 4 * 16384);
  for (int at = 0; at < 8 * 16384; at += 16384) {
    io.async_write(pm, at / 65536, at % 65536, 16384, copy_of(t.piece(at / 65536), at % 65536, 16384), {});
    io.kick();
    io.wait_for(pm.get());
  }
  EXPECT_TRUE(io.over_limit());
  EXPECT_EQ(wakes, 0);
  io.wake_when_room();
  EXPECT_EQ(wakes, 1);
  io.run_completions();
  EXPECT_TRUE(io.below_resume_mark());
  EXPECT_EQ(io.bytes_in_flight(), 0u);
}

// Blocks queued together go to disk in runs of adjacent blocks of a piece:
// runs across a file boundary, out of order and with gaps all land where
// they belong, and the pieces hash right.
TEST(DiskIo, AdjacentWritesGoToDiskTogether) {
  storage_test::temp_dir dir;
  const int block = 16384;
  storage_test::test_torrent t({{"d/a", 65536 + 20000}, {"d/b", 2 * 65536}}, 65536, 9);
  auto pm = std::make_shared<piece_manager>(t.info, dir.path());
  std::vector<bool> have;
  ASSERT_TRUE(pm->check_fastresume({piece_manager::free_slot}, {}, have, true));
  disk_io io([] {});
  worker_gate gate;
  gate.hold(io, pm);
  const auto write = [&](int p, int b) {
    io.async_write(pm, p, b * block, block, copy_of(t.piece(p), b * block, block), {});
  };
  for (int b : {0, 1, 2}) write(0, b);
  for (int b : {0, 1, 2, 3}) write(1, b);  // over the end of d/a
  for (int b : {2, 3, 0, 1}) write(2, b);
  write(0, 3);
  io.kick();
  gate.open();
  int reported = 0;
  for (int p = 0; p < 3; ++p)
    io.async_hash(pm, p, [&, p](disk_job& j) {
      EXPECT_FALSE(j.error) << *j.error;
      EXPECT_EQ(j.digest, t.info.hash_for_piece(p)) << "piece " << p;
      ++reported;
    });
  ASSERT_TRUE(wait_until([&] {
    io.run_completions();
    return reported == 3;
  }));
  EXPECT_EQ(io.bytes_in_flight(), 0u);
}

// A run that cannot be written as a whole is written block by block, so
// each block reports its own outcome: the blocks in the file that can be
// written succeed, those touching the one that cannot fail.
TEST(DiskIo, FailedRunReportsEachBlock) {
  storage_test::temp_dir dir;
  const int block = 16384;
  storage_test::test_torrent t({{"x/a", 40000}, {"x/b", 30000}}, 65536, 4);
  fs::create_directories(dir.path() / "x" / "b");  // no file can be made there
  auto pm = std::make_shared<piece_manager>(t.info, dir.path());
  std::vector<bool> have;
  ASSERT_TRUE(pm->check_fastresume({piece_manager::free_slot}, {}, have, true));
  disk_io io([] {});
  worker_gate gate;
  gate.hold(io, pm);
  std::vector<int> outcome(4, -1);  // 1: written, 0: failed
  for (int b = 0; b < 4; ++b)
    io.async_write(pm, 0, b * block, block, copy_of(t.piece(0), b * block, block),
                   [&, b](disk_job& j) { outcome[std::size_t(b)] = j.error ? 0 : 1; });
  io.kick();
  gate.open();
  io.wait_for(pm.get());
  io.run_completions();
  EXPECT_EQ(outcome, (std::vector<int>{1, 1, 0, 0}));
  std::string written(40000, '\0');
  std::ifstream in(dir.path() / "x" / "a", std::ios::binary);
  in.read(written.data(), std::streamsize(written.size()));
  EXPECT_EQ(written, t.piece(0).substr(0, 40000));
}

// A few writes may wait for company at the end of a round, but never past
// the next one.
TEST(DiskIo, FewWritesGoOverByTheNextRound) {
  storage_test::temp_dir dir;
  storage_test::test_torrent t({{"a", 65536}}, 65536, 6);
  auto pm = std::make_shared<piece_manager>(t.info, dir.path());
  std::vector<bool> have;
  ASSERT_TRUE(pm->check_fastresume({piece_manager::free_slot}, {}, have, true));
  disk_io io([] {});
  bool written = false;
  io.async_write(pm, 0, 0, 16384, copy_of(t.piece(0), 0, 16384), [&](disk_job& j) { written = !j.error; });
  io.kick();
  io.kick();
  EXPECT_TRUE(wait_until([&] {
    io.run_completions();
    return written;
  }));
  EXPECT_EQ(io.bytes_in_flight(), 0u);
}

#include "engine/storage/piece_manager.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <csignal>
#include <cstdio>
#include <functional>
#include <numeric>
#include <random>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>
#include <zlib.h>

#include "engine/formats/sha1.h"
#include "engine/storage/file_cache.h"
#include "tests/engine/storage/storage_test_support.h"

using engine::file_error;
using engine::piece_manager;
using storage_test::temp_dir;
using storage_test::test_torrent;

namespace {

constexpr int free_slot = piece_manager::free_slot;
constexpr int unallocated = piece_manager::unallocated;

// Writes piece `p` in blocks of `block` bytes, in the order given.
void write_piece(piece_manager& pm, const test_torrent& t, int p, int block, std::mt19937* shuffle = nullptr) {
  const std::string data = t.piece(p);
  std::vector<int> starts;
  for (int s = 0; s < static_cast<int>(data.size()); s += block) starts.push_back(s);
  if (shuffle) std::shuffle(starts.begin(), starts.end(), *shuffle);
  for (int s : starts) {
    const int n = std::min<int>(block, static_cast<int>(data.size()) - s);
    pm.write(data.data() + s, p, s, n);
  }
}

void expect_every_piece_home(piece_manager& pm, const test_torrent& t) {
  for (int p = 0; p < t.num_pieces(); ++p) {
    EXPECT_EQ(pm.slot_of(p), p) << "piece " << p;
    EXPECT_EQ(pm.hash_for_slot(p), t.info.hash_for_piece(p)) << "piece " << p;
  }
}

// The short last slot holds the last piece or nothing.
void expect_last_slot_sound(const piece_manager& pm, const test_torrent& t) {
  const int last = t.num_pieces() - 1;
  const int held = pm.slot_map()[static_cast<std::size_t>(last)];
  EXPECT_TRUE(held < 0 || held == last) << "last slot holds piece " << held;
}

// Lays pieces into slots: layout[s] is the piece in slot s, or -1 for
// random bytes.
void lay_out(const temp_dir& dir, const test_torrent& t, const std::vector<int>& layout) {
  std::string disk(t.data.size(), '\0');
  const auto pl = static_cast<std::size_t>(t.info.piece_length());
  for (std::size_t s = 0; s < layout.size(); ++s) {
    const std::size_t room = std::min(pl, disk.size() - s * pl);
    std::string bytes = layout[s] >= 0 ? t.piece(layout[s]) : storage_test::random_bytes(room, 77 + s);
    bytes.resize(std::min(bytes.size(), room));
    disk.replace(s * pl, bytes.size(), bytes);
  }
  std::size_t at = 0;
  for (const auto& f : t.info.files()) {
    storage_test::write_text(dir.path() / f.path, disk.substr(at, static_cast<std::size_t>(f.size)));
    at += static_cast<std::size_t>(f.size);
  }
}

std::pair<bool, float> run_check(piece_manager& pm, std::vector<bool>& have) {
  std::pair<bool, float> r{false, 0.0f};
  float last = -1.0f;
  for (int steps = 0; !r.first; ++steps) {
    r = pm.check_pieces(have);
    EXPECT_GE(r.second, last);
    last = r.second;
    if (steps > 100000) ADD_FAILURE() << "check does not end";
  }
  return r;
}

}  // namespace

TEST(StoragePieceManager, RandomOrderCompactDownloadEndsWithEveryPieceHome) {
  for (std::uint32_t seed = 1; seed <= 20; ++seed) {
    temp_dir dir;
    // 3 files, 25 pieces of 64 bytes, the last one 3 bytes.
    test_torrent t({{"t/a", 700}, {"t/b", 3}, {"t/c", 836}}, 64, seed);
    ASSERT_EQ(t.num_pieces(), 25);
    std::filesystem::create_directory(dir.path() / "t");
    engine::file_cache cache;
    piece_manager pm(t.info, dir.path(), cache);
    std::vector<int> order(25);
    std::iota(order.begin(), order.end(), 0);
    std::mt19937 gen(seed);
    std::shuffle(order.begin(), order.end(), gen);
    for (int p : order) {
      write_piece(pm, t, p, 16, &gen);
      expect_last_slot_sound(pm, t);
      // Every piece written so far reads back intact wherever it lies.
      std::string back(static_cast<std::size_t>(t.piece_size(p)), '\0');
      pm.read(back.data(), p, 0, static_cast<int>(back.size()));
      ASSERT_EQ(back, t.piece(p)) << "seed " << seed << " piece " << p;
    }
    expect_every_piece_home(pm, t);
    EXPECT_EQ(storage_test::read_text(dir.path() / "t/a") + storage_test::read_text(dir.path() / "t/b") +
                  storage_test::read_text(dir.path() / "t/c"),
              t.data);
    if (HasFailure()) return;
  }
}

TEST(StoragePieceManager, CheckOverShuffledSlotsMovesEverythingHomeIntact) {
  for (std::uint32_t seed = 1; seed <= 30; ++seed) {
    temp_dir dir;
    test_torrent t({{"t/a", 333}, {"t/b", 1000}}, 64, seed);  // 21 pieces, last of 53 bytes
    const int n = t.num_pieces(), last = n - 1;
    std::mt19937 gen(seed);
    // Full pieces in random slots, the short last piece in any slot but its
    // own, one piece left out, and random bytes in the last slot.
    std::vector<int> pieces(static_cast<std::size_t>(n));
    std::iota(pieces.begin(), pieces.end(), 0);
    std::shuffle(pieces.begin(), pieces.end(), gen);
    const int dropped = pieces.back() == last ? pieces.front() : pieces.back();
    pieces.erase(std::find(pieces.begin(), pieces.end(), dropped));
    std::vector<int> layout(pieces.begin(), pieces.end());
    layout.push_back(-1);
    if (seed % 3 == 0) std::swap(layout[static_cast<std::size_t>(last)], *std::find(layout.begin(), layout.end(), last));
    lay_out(dir, t, layout);

    engine::file_cache cache;
    piece_manager pm(t.info, dir.path(), cache);
    std::vector<bool> have;
    EXPECT_FALSE(pm.check_fastresume({}, {}, have, true));
    auto [finished, progress] = run_check(pm, have);
    EXPECT_TRUE(finished);
    EXPECT_EQ(progress, 1.0f);
    for (int p = 0; p < n; ++p) {
      if (p == dropped) {
        EXPECT_FALSE(have[static_cast<std::size_t>(p)]);
        EXPECT_EQ(pm.slot_of(p), piece_manager::has_no_slot);
        EXPECT_EQ(pm.slot_map()[static_cast<std::size_t>(p)], free_slot);
        continue;
      }
      EXPECT_TRUE(have[static_cast<std::size_t>(p)]) << "seed " << seed << " piece " << p;
      EXPECT_EQ(pm.slot_of(p), p) << "seed " << seed;
      EXPECT_EQ(pm.hash_for_slot(p), t.info.hash_for_piece(p)) << "seed " << seed << " piece " << p;
    }
    if (HasFailure()) return;
  }
}

TEST(StoragePieceManager, DuplicatePiecesAreEachFoundOnce) {
  temp_dir dir;
  test_torrent t({{"t", 256}}, 64);
  // Pieces 1 and 3 hold the same bytes.
  t.data.replace(192, 64, t.data.substr(64, 64));
  t.info.set_hash(3, t.info.hash_for_piece(1));
  lay_out(dir, t, {1, 3, 0, 2});
  piece_manager pm(t.info, dir.path());
  std::vector<bool> have;
  run_check(pm, have);
  EXPECT_EQ(have, std::vector<bool>(4, true));
  for (int p = 0; p < 4; ++p) EXPECT_EQ(pm.slot_of(p), p);
  EXPECT_EQ(storage_test::read_text(dir.path() / "t"), t.data);
}

TEST(StoragePieceManager, MissingFilesCheckAsEmpty) {
  temp_dir dir;
  test_torrent t({{"t/x/a", 100}, {"t/y/b", 100}}, 64);
  piece_manager pm(t.info, dir.path() / "fresh");
  std::vector<bool> have;
  EXPECT_FALSE(pm.check_fastresume({}, {}, have, false));
  EXPECT_FALSE(pm.is_allocating());
  auto [finished, progress] = run_check(pm, have);
  EXPECT_TRUE(finished);
  EXPECT_TRUE(pm.is_allocating());
  EXPECT_EQ(have, std::vector<bool>(4, false));
  EXPECT_EQ(pm.slot_map(), std::vector<int>(4, free_slot));
  EXPECT_TRUE(std::filesystem::is_directory(dir.path() / "fresh/t/x"));
  EXPECT_TRUE(std::filesystem::is_directory(dir.path() / "fresh/t/y"));
  EXPECT_TRUE(pm.export_piece_map().empty());
  // Pieces then go straight home.
  write_piece(pm, t, 2, 64);
  EXPECT_EQ(pm.slot_of(2), 2);
}

TEST(StoragePieceManager, AFullPieceNeverEntersTheShortLastSlot) {
  temp_dir dir;
  test_torrent t({{"t", 64 * 4 + 10}}, 64);  // 5 pieces, the last of 10 bytes
  {
    // The only free slot is the last one: one more slot is allocated.
    piece_manager pm(t.info, dir.path());
    std::vector<bool> have;
    ASSERT_TRUE(pm.check_fastresume({unallocated, unallocated, unallocated, unallocated, free_slot}, {}, have, true));
    EXPECT_EQ(pm.slot_for_piece(3), 0);
    EXPECT_EQ(pm.slot_map(), (std::vector<int>{3, unallocated, unallocated, unallocated, free_slot}));
    EXPECT_EQ(pm.slot_for_piece(4), 4);
  }
  {
    // Several free slots, the newest being the last one: another is taken.
    piece_manager pm(t.info, dir.path());
    std::vector<bool> have;
    ASSERT_TRUE(pm.check_fastresume({free_slot, 1, unallocated, unallocated, free_slot}, {}, have, true));
    EXPECT_EQ(pm.slot_for_piece(2), 0);
    // The last piece takes its own slot while it is free.
    EXPECT_EQ(pm.slot_for_piece(4), 4);
  }
}

TEST(StoragePieceManager, APieceArrivingEarlyMovesHomeWhenItsSlotIsAllocated) {
  temp_dir dir;
  test_torrent t({{"t", 64 * 4}}, 64);
  piece_manager pm(t.info, dir.path());
  write_piece(pm, t, 2, 64);
  EXPECT_EQ(pm.slot_of(2), 0);  // slot 0 was the first to be allocated
  write_piece(pm, t, 3, 64);
  EXPECT_EQ(pm.slot_of(3), 1);
  pm.allocate_slots(1);  // slot 2: piece 2 comes home, slot 0 is free
  EXPECT_EQ(pm.slot_map(), (std::vector<int>{free_slot, 3, 2, unallocated}));
  write_piece(pm, t, 1, 64);  // slot 1 holds piece 3, which moves to the free slot 0
  EXPECT_EQ(pm.slot_map(), (std::vector<int>{3, 1, 2, unallocated}));
  EXPECT_EQ(pm.export_piece_map(), (std::vector<int>{3, 1, 2}));
  pm.mark_failed(2);
  EXPECT_EQ(pm.slot_of(2), piece_manager::has_no_slot);
  EXPECT_EQ(pm.export_piece_map(), (std::vector<int>{3, 1}));
  std::string back(64, '\0');
  pm.read(back.data(), 3, 0, 64);
  EXPECT_EQ(back, t.piece(3));
  EXPECT_THROW(pm.read(back.data(), 2, 0, 64), file_error);
}

namespace {

// Runs `body` in a child process whose files may not grow beyond `limit`
// bytes, as on a full disk, and returns its exit code; `lift()` inside the
// body removes the limit again.
int with_file_size_limit(rlim_t limit, const std::function<int(const std::function<bool()>& lift)>& body) {
  const pid_t child = ::fork();
  if (child < 0) return -1;
  if (child == 0) {
    std::signal(SIGXFSZ, SIG_IGN);
    rlimit rl{};
    if (::getrlimit(RLIMIT_FSIZE, &rl) != 0) ::_exit(100);
    const rlim_t before = rl.rlim_cur;
    rl.rlim_cur = limit;
    if (::setrlimit(RLIMIT_FSIZE, &rl) != 0) ::_exit(101);
    auto lift = [&] {
      rl.rlim_cur = before;
      return ::setrlimit(RLIMIT_FSIZE, &rl) == 0;
    };
    int code;
    try {
      code = body(lift);
    } catch (const std::exception& e) {
      std::fprintf(stderr, "child: %s\n", e.what());
      code = 102;
    }
    ::_exit(code);
  }
  int status = 0;
  if (::waitpid(child, &status, 0) != child || !WIFEXITED(status)) return -2;
  return WEXITSTATUS(status);
}

}  // namespace

TEST(StoragePieceManager, AFailedWriteDuringAMoveLeavesTheMapsAsTheyWere) {
  temp_dir dir;
  test_torrent t({{"t", 64 * 8}}, 64);
  EXPECT_EQ(with_file_size_limit(64 * 3, [&](const std::function<bool()>& lift) {
              piece_manager pm(t.info, dir.path());
              for (int p : {3, 5, 7}) write_piece(pm, t, p, 64);  // slots 0, 1, 2
              const auto pieces = pm.piece_map();
              const auto slots = pm.slot_map();
              // Piece 0 needs a slot: slot 3 is allocated, and piece 3 must
              // move there from slot 0 - which the full disk refuses.
              try {
                write_piece(pm, t, 0, 64);
                return 1;
              } catch (const file_error&) {
              }
              if (pm.piece_map() != pieces || pm.slot_map() != slots) return 2;
              std::string back(64, '\0');
              pm.read(back.data(), 3, 0, 64);
              if (back != t.piece(3)) return 3;
              // Once there is room again the move goes through.
              if (!lift()) return 4;
              write_piece(pm, t, 0, 64);
              if (pm.slot_of(3) != 3 || pm.slot_of(0) != 0) return 5;
              if (pm.hash_for_slot(3) != t.info.hash_for_piece(3)) return 6;
              return 0;
            }),
            0);
}

TEST(StoragePieceManager, AFailedWriteDuringTheCheckLeavesMapsThatDescribeTheDisk) {
  temp_dir dir;
  test_torrent t({{"t", 64 * 4}}, 64);
  // Slot 0 holds piece 2, slot 1 piece 1; the file ends there.
  storage_test::write_text(dir.path() / "t", t.piece(2) + t.piece(1));
  EXPECT_EQ(with_file_size_limit(64 * 2, [&](const std::function<bool()>&) {
              piece_manager pm(t.info, dir.path());
              std::vector<bool> have;
              pm.check_pieces(have);
              pm.check_pieces(have);
              // Slot 2 is empty; piece 2 would move home into it.
              try {
                pm.check_pieces(have);
                return 1;
              } catch (const file_error&) {
              }
              if (pm.slot_of(2) != 0 || pm.slot_of(1) != 1) return 2;
              if (pm.slot_map() != std::vector<int>{2, 1, unallocated, unallocated}) return 3;
              if (!have[1] || !have[2]) return 4;
              if (pm.hash_for_slot(0) != t.info.hash_for_piece(2)) return 5;
              return 0;
            }),
            0);
}

TEST(StoragePieceManager, APartlyDownloadedPieceMovesFromASlotNeverWrittenInFull) {
  temp_dir dir;
  test_torrent t({{"t", 64 * 4}}, 64);
  piece_manager pm(t.info, dir.path());
  std::vector<bool> have;
  // Slot 0 is free but nothing was ever written there.
  ASSERT_TRUE(pm.check_fastresume({free_slot}, {}, have, true));
  pm.write(t.piece(1).data(), 1, 0, 16);
  EXPECT_EQ(pm.slot_of(1), 0);
  // Piece 0 needs slot 0: slot 1 is allocated and the partial piece 1 moves.
  write_piece(pm, t, 0, 64);
  EXPECT_EQ(pm.slot_of(1), 1);
  EXPECT_EQ(pm.slot_of(0), 0);
  std::string back(16, '\0');
  pm.read(back.data(), 1, 0, 16);
  EXPECT_EQ(back, t.piece(1).substr(0, 16));
}

TEST(StoragePieceManager, FastResumeMapsAreTakenAsTheyStand) {
  temp_dir dir;
  test_torrent t({{"t", 64 * 6}}, 64);
  piece_manager pm(t.info, dir.path());
  std::vector<bool> have;
  // Piece 4 is unfinished: it has a slot but is not had.
  EXPECT_TRUE(pm.check_fastresume({2, free_slot, 4, 0}, {4}, have, true));
  EXPECT_EQ(have, (std::vector<bool>{true, false, true, false, false, false}));
  EXPECT_EQ(pm.slot_map(), (std::vector<int>{2, free_slot, 4, 0, unallocated, unallocated}));
  // Maps that describe no disk are refused: the files are checked instead.
  piece_manager twice(t.info, dir.path());
  EXPECT_FALSE(twice.check_fastresume({1, 1}, {}, have, true));
  test_torrent odd({{"t", 64 * 2 + 5}}, 64);
  piece_manager odd_pm(odd.info, dir.path());
  EXPECT_FALSE(odd_pm.check_fastresume({free_slot, free_slot, 0}, {}, have, true));
}

TEST(StoragePieceManager, FullAllocationAllocatesTheRestWithProgress) {
  temp_dir dir;
  test_torrent t({{"t/a", 100}, {"t/b", 200}}, 64);  // 5 slots
  std::filesystem::create_directory(dir.path() / "t");
  {
    piece_manager pm(t.info, dir.path());
    write_piece(pm, t, 1, 64);  // into slot 0
    EXPECT_EQ(pm.export_piece_map(), std::vector<int>{1});
  }
  piece_manager pm(t.info, dir.path());
  std::vector<bool> have;
  EXPECT_FALSE(pm.check_fastresume({1}, {}, have, false));
  EXPECT_TRUE(pm.is_allocating());
  std::vector<float> progress;
  for (auto r = pm.check_pieces(have);; r = pm.check_pieces(have)) {
    progress.push_back(r.second);
    if (r.first) break;
  }
  ASSERT_EQ(progress.size(), 4u);
  for (std::size_t i = 0; i < 4; ++i) EXPECT_NEAR(progress[i], 0.4 + 0.2 * double(i), 1e-6);
  EXPECT_EQ(pm.slot_map(), (std::vector<int>{free_slot, 1, free_slot, free_slot, free_slot}));
  EXPECT_EQ(pm.hash_for_slot(1), t.info.hash_for_piece(1));
  EXPECT_EQ(std::filesystem::file_size(dir.path() / "t/b"), 200u);
}

TEST(StoragePieceManager, ChecksumsCoverTheFinishedBlocksOnly) {
  temp_dir dir;
  test_torrent t({{"t", 64 * 2 + 40}}, 64);
  piece_manager pm(t.info, dir.path());
  write_piece(pm, t, 2, 16);  // the last piece: blocks of 16, 16 and 8 bytes
  const std::string p = t.piece(2);
  uLong expect = adler32(0, Z_NULL, 0);
  expect = adler32(expect, reinterpret_cast<const Bytef*>(p.data()), 16);
  expect = adler32(expect, reinterpret_cast<const Bytef*>(p.data() + 32), 8);
  EXPECT_EQ(pm.piece_crc(pm.slot_of(2), 16, {true, false, true, true}), expect);
}

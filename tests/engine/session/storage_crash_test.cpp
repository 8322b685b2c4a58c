// A download killed at a random moment: the fast-resume data saved last
// must never make corrupt data count as finished, and every piece that was
// verified when it was saved must be there after the restart.

#include <gtest/gtest.h>

#include <csignal>
#include <fstream>
#include <iterator>
#include <map>
#include <numeric>
#include <random>
#include <sys/wait.h>
#include <unistd.h>

#include "engine/session/fast_resume.h"
#include "engine/storage/piece_manager.h"
#include "tests/engine/storage/storage_test_support.h"

using engine::entry;
using engine::piece_manager;
using storage_test::temp_dir;
using storage_test::test_torrent;

namespace {

constexpr int block = 1024;

// The child: downloads every piece in random order, a few pieces at a time
// with their blocks in random order, into compact storage. After each of
// the first `saves` verified pieces it saves the fast-resume data (as the
// client does, through a temporary file); `writes` block writes later it
// tells the parent, which kills it, and goes on downloading meanwhile.
[[noreturn]] void download(const test_torrent& t, const std::filesystem::path& dir, std::uint32_t seed, int saves,
                           int writes, int report) {
  piece_manager pm(t.info, dir / "data");
  std::vector<bool> have;
  pm.check_fastresume({piece_manager::free_slot}, {}, have, true);
  std::mt19937 gen(seed);
  std::vector<int> order(static_cast<std::size_t>(t.num_pieces()));
  std::iota(order.begin(), order.end(), 0);
  std::shuffle(order.begin(), order.end(), gen);
  std::map<int, std::vector<int>> missing;  // piece -> blocks still to write
  std::map<int, engine::piece_picker::downloading_piece> partial;
  std::size_t next = 0;
  while (next < order.size() || !missing.empty()) {
    while (missing.size() < 3 && next < order.size()) {
      const int p = order[next++];
      std::vector<int> blocks((t.piece_size(p) + block - 1) / block);
      std::iota(blocks.begin(), blocks.end(), 0);
      std::shuffle(blocks.begin(), blocks.end(), gen);
      missing[p] = blocks;
      partial[p].index = p;
    }
    auto it = std::next(missing.begin(), static_cast<long>(gen() % missing.size()));
    const int p = it->first, b = it->second.back();
    it->second.pop_back();
    const std::string data = t.piece(p);
    const int n = std::min(block, t.piece_size(p) - b * block);
    pm.write(data.data() + b * block, p, b * block, n);
    partial[p].finished.set(static_cast<std::size_t>(b));
    if (saves == 0 && writes-- == 0) {
      const char kill_me = 1;
      if (::write(report, &kill_me, 1) != 1) ::_exit(4);
    }
    if (!it->second.empty()) continue;
    missing.erase(it);
    partial.erase(p);
    if (pm.hash_for_slot(pm.slot_of(p)) != t.info.hash_for_piece(p)) ::_exit(3);
    if (saves == 0) continue;
    --saves;
    std::vector<engine::piece_picker::downloading_piece> downloading;
    for (auto& [index, d] : partial) downloading.push_back(d);
    const entry rd = engine::build_resume_data(t.info, pm, block, downloading, {});
    std::string bytes;
    engine::bencode(std::back_inserter(bytes), rd);
    std::ofstream(dir / "resume.tmp", std::ios::binary) << bytes;
    std::filesystem::rename(dir / "resume.tmp", dir / "resume");
  }
  if (writes >= 0) {
    const char kill_me = 1;
    if (::write(report, &kill_me, 1) != 1) ::_exit(4);
  }
  for (;;) ::pause();
}

}  // namespace

TEST(StorageCrash, AKilledDownloadLosesNothingVerifiedAndReportsNothingCorrupt) {
  for (std::uint32_t round = 1; round <= 40; ++round) {
    temp_dir dir;
    // 40 pieces of 8 KiB, the last one short, over three files.
    test_torrent t({{"t/a", 100000}, {"t/b", 3}, {"t/c", 220000}}, 8192, round);
    std::filesystem::create_directories(dir.path() / "data");
    int fds[2];
    ASSERT_EQ(::pipe(fds), 0);
    std::mt19937 gen(round);
    const int saves = 1 + static_cast<int>(gen() % static_cast<unsigned>(t.num_pieces() / 2));
    const int writes = static_cast<int>(gen() % 60);
    const pid_t child = ::fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
      ::close(fds[0]);
      try {
        download(t, dir.path(), round, saves, writes, fds[1]);
      } catch (const std::exception& e) {
        std::fprintf(stderr, "download: %s\n", e.what());
      }
      ::_exit(5);
    }
    ::close(fds[1]);
    char kill_me;
    if (::read(fds[0], &kill_me, 1) != 1) {
      int status = 0;
      ::waitpid(child, &status, 0);
      FAIL() << "the download ended by itself, status " << status;
    }
    ::kill(child, SIGKILL);
    int status = 0;
    ::waitpid(child, &status, 0);
    ::close(fds[0]);
    ASSERT_TRUE(WIFSIGNALED(status)) << "exit code " << WEXITSTATUS(status);

    // Restart with the last saved data.
    const std::string bytes = storage_test::read_text(dir.path() / "resume");
    const entry rd = engine::bdecode(bytes);
    std::vector<bool> verified(static_cast<std::size_t>(t.num_pieces()));
    for (const entry& s : rd["slots"].list()) {
      if (s.integer() >= 0) verified[static_cast<std::size_t>(s.integer())] = true;
    }
    for (const entry& u : rd["unfinished"].list()) verified[static_cast<std::size_t>(u["piece"].integer())] = false;

    engine::resume_state state;
    std::string error;
    engine::parse_resume_data(rd, t.info, dir.path() / "data", block, state, error);
    piece_manager pm(t.info, dir.path() / "data");
    std::vector<bool> have;
    std::vector<int> unfinished;
    for (const auto& d : state.unfinished) unfinished.push_back(d.index);
    if (!pm.check_fastresume(state.slots, unfinished, have, true)) {
      while (!pm.check_pieces(have).first) {
      }
    }
    for (int p = 0; p < t.num_pieces(); ++p) {
      if (verified[static_cast<std::size_t>(p)]) {
        EXPECT_TRUE(have[static_cast<std::size_t>(p)]) << "lost piece " << p;
      }
      if (have[static_cast<std::size_t>(p)]) {
        EXPECT_EQ(pm.hash_for_slot(pm.slot_of(p)), t.info.hash_for_piece(p)) << "corrupt piece " << p;
      }
    }
    for (const auto& d : state.unfinished) {
      for (int b = 0; b * block < t.piece_size(d.index); ++b) {
        if (!d.finished[static_cast<std::size_t>(b)]) continue;
        const int n = std::min(block, t.piece_size(d.index) - b * block);
        std::string got(static_cast<std::size_t>(n), '\0');
        pm.read(got.data(), d.index, b * block, n);
        EXPECT_EQ(got, t.piece(d.index).substr(static_cast<std::size_t>(b * block), static_cast<std::size_t>(n)))
            << "corrupt block " << b << " of piece " << d.index;
      }
    }
    if (HasFailure()) {
      ADD_FAILURE() << "round " << round << ", resume data " << (error.empty() ? "accepted" : error);
      return;
    }
  }
}

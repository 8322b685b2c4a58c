// Torrents nobody is connected to cost little: what the check of their files
// needed (a piece's worth of buffer at least) is given back, and nothing is
// kept ready for peers that have not come.

#include <gtest/gtest.h>
#include <malloc.h>

#include <memory>
#include <string>
#include <vector>

#include "tests/engine/session/checked.h"
#include "tests/engine/session/swarm_fixture.h"
#include "tests/engine/tracker/tracker_process.h"

using namespace engine;

namespace {

// Bytes the allocator has handed out and not taken back, over all threads.
std::size_t heap_in_use() {
  const struct mallinfo2 m = ::mallinfo2();
  return m.uordblks + m.hblkhd;
}

}  // namespace

TEST(IdleTorrents, CheckedSeedsHoldNoPieceBuffers) {
  constexpr int count = 40;
  constexpr std::int64_t piece = 256 * 1024;
  tracker_test::temp_dir dir("qf-idle");
  std::vector<torrent_metainfo> infos;
  for (int i = 0; i < count; ++i)
    infos.push_back(swarm_fixture::make_torrent(dir.path(), "t" + std::to_string(i), {{"one.bin", 4 * piece}},
                                                piece, std::uint32_t(i + 1)));

  auto ses = swarm_fixture::make_session(1);
  const std::size_t before = heap_in_use();
  std::vector<torrent_handle> handles;
  for (const auto& info : infos) handles.push_back(ses->add_torrent(info, dir.path()));
  for (auto& h : handles) {
    ASSERT_TRUE(engine_test::checked(h));
    ASSERT_TRUE(h.is_seed());
    h.replace_trackers({});
    h.resume();
  }
  // Checked in full (no resume data), each with a piece-sized buffer; a
  // quarter of a piece per torrent is far above what a torrent keeps.
  const std::size_t grown = heap_in_use() - before;
  EXPECT_LT(grown, std::size_t(count) * piece / 4) << grown / count << " bytes per torrent";
  EXPECT_EQ(ses->status().num_peers, 0);
}

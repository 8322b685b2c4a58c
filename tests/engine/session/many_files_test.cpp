// A torrent of 100,000 files in a session: what its metainfo, its copies
// and its storage take is given back when it is removed. Under
// AddressSanitizer, LeakSanitizer looks for anything left at exit.

#include <malloc.h>

#include <gtest/gtest.h>

#include "engine/session/session.h"
#include "engine/session/torrent_handle.h"
#include "engine/wire/fingerprint.h"
#include "tests/engine/storage/storage_test_support.h"
#include "tests/support/wait.h"

namespace {

#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__)
// The sanitizers' allocators tell the C library's figures nothing.
constexpr bool kHeapFiguresTell = false;
#else
constexpr bool kHeapFiguresTell = true;
#endif

std::size_t heap_in_use() {
  const struct mallinfo2 m = ::mallinfo2();
  return m.uordblks + m.hblkhd;
}

TEST(ManyFiles, ATorrentOfManyFilesIsFreedWhenItIsRemoved) {
  constexpr int kFiles = 100000;
  storage_test::temp_dir dir;
  const std::string bytes = storage_test::many_files_torrent(kFiles);
  engine::session ses(engine::fingerprint("QF", 1, 0, 0, 0));
  const std::size_t before = heap_in_use();
  std::size_t added = 0;
  {
    const engine::torrent_metainfo info(bytes.data(), bytes.size());
    const engine::torrent_handle h = ses.add_torrent(info, dir.path());
    ASSERT_TRUE(test_support::wait_until([&] { return h.status().state > engine::checking_files; }));
    const engine::torrent_metainfo handed = h.metainfo();
    ASSERT_EQ(handed.files().size(), std::size_t(kFiles));
    EXPECT_EQ(handed.files().front().path, "many/folder000/file000000.dat");
    EXPECT_EQ(handed.files().back().path, "many/folder099/file099999.dat");
    EXPECT_EQ(handed.info_dictionary_bytes(), info.info_dictionary_bytes());
    added = heap_in_use();
    ses.remove_torrent(h);
    ASSERT_TRUE(test_support::wait_until([&] { return !h.is_valid(); }));
  }
  while (ses.pop_alert()) {
  }
  if (kHeapFiguresTell) {
    // The torrent takes more than its .torrent's bytes, but less than 400
    // bytes a file for all its copies; next to that, what the session keeps
    // after the removal is noise.
    EXPECT_GT(added, before + bytes.size());
    EXPECT_LT(added, before + std::size_t(kFiles) * 400);
    EXPECT_LT(heap_in_use(), before + (added - before) / 10);
  }
}

}  // namespace

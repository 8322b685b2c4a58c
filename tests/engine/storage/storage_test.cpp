#include "engine/storage/storage.h"

#include <gtest/gtest.h>

#include "engine/formats/text_helpers.h"
#include "engine/storage/file_cache.h"
#include "tests/engine/storage/storage_test_support.h"

using engine::file_error;
using engine::storage;
using storage_test::temp_dir;
using storage_test::test_torrent;

namespace {

std::string error_text(auto&& call) {
  try {
    call();
  } catch (const std::exception& e) {
    return e.what();
  }
  return "(no error)";
}

}  // namespace

TEST(StorageSlots, WritesAndReadsAcrossFileBoundaries) {
  temp_dir dir;
  // Files of 10, 0, 7 and 23 bytes; slots of 16 bytes.
  test_torrent t({{"t/a", 10}, {"t/empty", 0}, {"t/sub/b", 7}, {"t/c", 23}}, 16);
  ASSERT_EQ(t.num_pieces(), 3);
  engine::file_cache cache;
  storage st(t.info, dir.path(), cache);
  st.create_folders();
  for (int slot = 0; slot < 3; ++slot) st.write(t.piece(slot).data(), slot, 0, t.piece_size(slot));
  EXPECT_EQ(storage_test::read_text(dir.path() / "t/a"), t.data.substr(0, 10));
  EXPECT_EQ(storage_test::read_text(dir.path() / "t/sub/b"), t.data.substr(10, 7));
  EXPECT_EQ(storage_test::read_text(dir.path() / "t/c"), t.data.substr(17));
  EXPECT_FALSE(std::filesystem::exists(dir.path() / "t/empty"));

  char buf[16];
  EXPECT_EQ(st.read(buf, 0, 8, 8), 8);  // spans a, (empty), b
  EXPECT_EQ(std::string(buf, 8), t.data.substr(8, 8));
  EXPECT_EQ(st.read(buf, 2, 0, 8), 8);  // the short last slot
  EXPECT_EQ(std::string(buf, 8), t.data.substr(32, 8));
  // Past the slot's end, and a slot that does not exist.
  EXPECT_EQ(error_text([&] { st.read(buf, 2, 4, 8); }), "slot has no storage");
  EXPECT_EQ(error_text([&] { st.write(buf, 3, 0, 1); }), "no storage for slot 3");
  EXPECT_EQ(error_text([&] { st.read(buf, -1, 0, 1); }), "slot has no storage");
}

TEST(StorageSlots, AShortFileEndsReadsAndChecks) {
  temp_dir dir;
  test_torrent t({{"t/a", 20}, {"t/b", 20}, {"t/c", 20}}, 16);
  storage_test::write_text(dir.path() / "t/a", t.data.substr(0, 20));
  storage_test::write_text(dir.path() / "t/c", t.data.substr(40, 20));
  engine::file_cache cache;
  storage st(t.info, dir.path(), cache);
  char buf[16];
  // Slot 1 covers a[16..20) and b[0..12): b is missing.
  EXPECT_EQ(st.read_existing(buf, 1, 16), 4);
  EXPECT_EQ(std::string(buf, 4), t.data.substr(16, 4));
  EXPECT_THROW(st.read(buf, 1, 0, 16), file_error);
  // Slot 3 starts inside c, which is there.
  EXPECT_EQ(st.read_existing(buf, 3, 12), 12);
  // A file shorter than expected.
  storage_test::write_text(dir.path() / "t/b", t.data.substr(20, 5));
  EXPECT_EQ(error_text([&] { st.read(buf, 1, 0, 16); }), "slot has no storage");
  EXPECT_EQ(st.read_existing(buf, 1, 16), 9);
}

// A file the storage wrote, or counts on, that is deleted: reads, writes
// and checks name it, and it is not created anew over the lost data.
TEST(StorageSlots, AFileDeletedUnderTheStorageIsNamedAndNotCreatedAgain) {
  temp_dir dir;
  test_torrent t({{"t/a", 20}, {"t/b", 20}}, 16);
  engine::file_cache cache;
  storage st(t.info, dir.path(), cache);
  st.create_folders();
  st.write(t.piece(0).data(), 0, 0, 16);
  char buf[16];
  const std::string a_missing = (dir.path() / "t/a").string() + ": No such file or directory";
  // Deleted while open...
  std::filesystem::remove(dir.path() / "t/a");
  EXPECT_EQ(error_text([&] { st.check_open_files(); }), a_missing);
  EXPECT_EQ(error_text([&] { st.read(buf, 0, 0, 16); }), a_missing);
  // ...and while closed (a paused torrent).
  st.release_files();
  EXPECT_EQ(error_text([&] { st.write(t.piece(0).data(), 0, 0, 16); }), a_missing);
  EXPECT_EQ(error_text([&] { st.check_slot_files(0, 16); }), a_missing);
  EXPECT_EQ(error_text([&] { st.read_sparse(buf, 0, 16); }), a_missing);
  EXPECT_FALSE(std::filesystem::exists(dir.path() / "t/a"));
  // A file that nothing was counted in yet is created as needed.
  st.write(t.piece(2).data(), 2, 0, 8);
  EXPECT_EQ(storage_test::read_text(dir.path() / "t/b").substr(12), t.data.substr(32, 8));

  // Data that fast-resume data vouched for, before any file was opened.
  storage fresh(t.info, dir.path(), cache);
  fresh.expect_data(0, 16);
  EXPECT_EQ(error_text([&] { fresh.write(t.piece(0).data(), 0, 0, 16); }), a_missing);
}

TEST(StorageSlots, OffsetsBeyondFourGigabytesReachTheRightFile) {
  temp_dir dir;
  engine::torrent_metainfo info;
  const std::int64_t piece_length = 4 << 20;
  info.set_piece_size(piece_length);
  info.add_file("big/first", (std::int64_t{3} << 30) + 123);  // sparse
  info.add_file("big/second", std::int64_t{2} << 30);
  const int last = info.num_pieces() - 1;
  ASSERT_GT(std::int64_t{last} * piece_length, std::int64_t{4} << 30);
  engine::file_cache cache;
  storage st(info, dir.path(), cache);
  st.create_folders();
  const std::string tail = storage_test::random_bytes(static_cast<std::size_t>(info.piece_size(last)), 9);
  st.write(tail.data(), last, 0, static_cast<int>(tail.size()));
  // A write that straddles the two files at 3 GiB + 123.
  const int straddle = static_cast<int>(((std::int64_t{3} << 30) + 123) / piece_length);
  const std::string mid = storage_test::random_bytes(static_cast<std::size_t>(piece_length), 10);
  st.write(mid.data(), straddle, 0, static_cast<int>(piece_length));
  std::string back(tail.size(), '\0');
  st.read(back.data(), last, 0, static_cast<int>(back.size()));
  EXPECT_EQ(back, tail);
  back.resize(mid.size());
  st.read(back.data(), straddle, 0, static_cast<int>(back.size()));
  EXPECT_EQ(back, mid);
  EXPECT_EQ(static_cast<std::int64_t>(std::filesystem::file_size(dir.path() / "big/second")), std::int64_t{2} << 30);
  EXPECT_EQ(static_cast<std::int64_t>(std::filesystem::file_size(dir.path() / "big/first")),
            (std::int64_t{3} << 30) + 123);
}

TEST(StorageSlots, MovingTakesTheTopFolderAlong) {
  temp_dir dir;
  test_torrent t({{"t/a", 10}, {"t/b", 10}}, 8);
  engine::file_cache cache;
  storage st(t.info, dir.path() / "old", cache);
  st.create_folders();
  st.write(t.piece(0).data(), 0, 0, 8);
  EXPECT_TRUE(st.move_storage(dir.path() / "new/place"));
  EXPECT_EQ(st.save_path(), dir.path() / "new/place");
  EXPECT_EQ(storage_test::read_text(dir.path() / "new/place/t/a").substr(0, 8), t.piece(0));
  EXPECT_FALSE(std::filesystem::exists(dir.path() / "old/t"));
  char buf[8];
  st.read(buf, 0, 0, 8);
  EXPECT_EQ(std::string(buf, 8), t.piece(0));
  // A target that already holds the torrent's folder is left alone.
  std::filesystem::create_directories(dir.path() / "taken/t");
  EXPECT_FALSE(st.move_storage(dir.path() / "taken"));
  EXPECT_EQ(st.save_path(), dir.path() / "new/place");
  // A target that is a file cannot be a folder.
  storage_test::write_text(dir.path() / "plain", "x");
  EXPECT_FALSE(st.move_storage(dir.path() / "plain"));
}

TEST(StorageSlots, RelativeSavePathsStartAtTheInitialFolder) {
  const auto initial = engine::complete_path("x").parent_path();
  temp_dir dir;
  const auto before = std::filesystem::current_path();
  std::filesystem::current_path(dir.path());
  EXPECT_EQ(engine::complete_path("downloads"), initial / "downloads");
  EXPECT_EQ(engine::complete_path("/abs/olute"), "/abs/olute");
  std::filesystem::current_path(before);
}

TEST(StorageFileHelpers, FailuresNameTheOperationAndPath) {
  temp_dir dir;
  storage_test::write_text(dir.path() / "file", "abc");
  const std::string through = (dir.path() / "file/sub").string();
  EXPECT_EQ(error_text([&] { engine::create_directories(through); }),
            "cannot create directory \"" + (dir.path() / "file").string() + "\": path exists and is not a directory");
  EXPECT_EQ(error_text([&] { engine::file_size(dir.path().string()); }),
            "cannot read the size of \"" + dir.path().string() + "\": is a directory");
  EXPECT_EQ(engine::file_size((dir.path() / "file").string()), 3);
  EXPECT_EQ(
      error_text([&] { engine::last_write_time(dir / "missing"); }),
      "cannot read the modification time of \"" + (dir.path() / "missing").string() + "\": No such file or directory");
  engine::create_directories(dir / "x/y/z");
  EXPECT_TRUE(engine::exists(dir / "x/y/z"));
  EXPECT_EQ(error_text([&] { engine::rename(dir / "missing", dir / "other"); }),
            "cannot rename \"" + (dir.path() / "missing").string() + "\" to \"" + (dir.path() / "other").string() +
                "\": No such file or directory");
}

TEST(StorageFileSizes, MatchReportsTheFirstDifference) {
  temp_dir dir;
  test_torrent t({{"t/a", 10}, {"t/b", 20}}, 16);
  storage_test::write_text(dir.path() / "t/a", t.data.substr(0, 10));
  auto sizes = engine::get_filesizes(t.info, dir.path());
  ASSERT_EQ(sizes.size(), 2u);
  EXPECT_EQ(sizes[0].first, 10);
  EXPECT_GT(sizes[0].second, 0);
  EXPECT_EQ(sizes[1], (std::pair<std::int64_t, std::time_t>(0, 0)));  // missing
  std::string error;
  EXPECT_TRUE(engine::match_filesizes(t.info, sizes, dir.path(), error)) << error;

  auto fewer = sizes;
  fewer.pop_back();
  EXPECT_FALSE(engine::match_filesizes(t.info, fewer, dir.path(), error));
  EXPECT_EQ(error, "mismatching number of files");

  auto bigger = sizes;
  bigger[0].first = 11;
  EXPECT_FALSE(engine::match_filesizes(t.info, bigger, dir.path(), error));
  EXPECT_EQ(error, "filesize mismatch for file '" + (dir.path() / "t/a").string() + "', expected to be 11 bytes");

  auto older = sizes;
  older[0].second -= 5;
  EXPECT_FALSE(engine::match_filesizes(t.info, older, dir.path(), error));
  EXPECT_EQ(error, "timestamp mismatch for file '" + (dir.path() / "t/a").string() +
                       "', expected to have modification date " + std::to_string(older[0].second));
}

TEST(StorageFileSizes, FileNamesFollowTheUnderscoreRule) {
  temp_dir dir;
  test_torrent t({{"my_dir/a_b.txt", 4}}, 16);
  engine::set_remove_underscores(true);
  {
    engine::file_cache cache;
    storage st(t.info, dir.path(), cache);
    st.create_folders();
    st.write(t.piece(0).data(), 0, 0, 4);
    EXPECT_TRUE(std::filesystem::exists(dir.path() / "my_dir/a b.txt"));
    EXPECT_EQ(engine::get_filesizes(t.info, dir.path())[0].first, 4);
  }
  engine::set_remove_underscores(false);
  EXPECT_EQ(engine::get_filesizes(t.info, dir.path())[0].first, 0);
}

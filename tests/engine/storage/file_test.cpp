#include "engine/storage/file.h"
#include "engine/storage/file_cache.h"

#include <gtest/gtest.h>

#include <thread>
#include <vector>

#include "tests/engine/storage/storage_test_support.h"

using engine::file;
using engine::file_cache;
using engine::file_error;
using storage_test::temp_dir;

TEST(StorageFile, OpeningAMissingFileForReadingNamesThePath) {
  temp_dir dir;
  std::string path = dir / "missing.bin";
  try {
    file f(path, file::in);
    FAIL() << "opened a missing file";
  } catch (const file_error& e) {
    EXPECT_EQ(std::string(e.what()), path + ": No such file or directory");
  }
}

TEST(StorageFile, WritingCreatesTheFileAndPositionsAre64Bit) {
  temp_dir dir;
  std::string path = dir / "big.bin";
  const file::size_type far = (std::int64_t{5} << 30) + 7;  // past 4 GiB, sparse
  {
    file f(path, file::out);
    EXPECT_EQ(f.write_at("tail", 4, far), 4);
    f.seek(3);
    EXPECT_EQ(f.tell(), 3);
    EXPECT_EQ(f.write("head", 4), 4);
    EXPECT_EQ(f.tell(), 7);
  }
  EXPECT_EQ(static_cast<std::int64_t>(std::filesystem::file_size(path)), far + 4);
  file f(path, file::in);
  char buf[8] = {};
  EXPECT_EQ(f.read_at(buf, 4, far), 4);
  EXPECT_EQ(std::string(buf, 4), "tail");
  // A read past the end stops there.
  EXPECT_EQ(f.read_at(buf, 8, far + 2), 2);
  f.seek(3);
  EXPECT_EQ(f.read(buf, 4), 4);
  EXPECT_EQ(std::string(buf, 4), "head");
  EXPECT_EQ(f.read(buf, 0), 0);
}

TEST(StorageFile, WritingThroughAReadOnlyFileFails) {
  temp_dir dir;
  std::string path = dir / "ro.bin";
  storage_test::write_text(path, "abc");
  file f(path, file::in);
  EXPECT_THROW(f.write("x", 1), file_error);
  try {
    f.write_at("x", 1, 0);
  } catch (const file_error& e) {
    EXPECT_EQ(std::string(e.what()).rfind("file::write: ", 0), 0u) << e.what();
  }
}

namespace {

struct cache_fixture : ::testing::Test {
  temp_dir dir;
  file_cache cache{40};
  int owner_a = 0, owner_b = 0;
  std::string path(int i) { return dir / ("f" + std::to_string(i)); }
};

}  // namespace

using StorageFileCache = cache_fixture;

TEST_F(StorageFileCache, TheFortyFirstPathClosesTheLeastRecentlyUsedFile) {
  std::vector<std::weak_ptr<file>> files;
  for (int i = 0; i < 40; ++i) files.push_back(cache.open_file(&owner_a, path(i), file::out));
  EXPECT_EQ(cache.size(), 40);
  // Using file 0 again makes file 1 the oldest.
  EXPECT_EQ(cache.open_file(&owner_a, path(0), file::out), files[0].lock());
  cache.open_file(&owner_a, path(40), file::out);
  EXPECT_EQ(cache.size(), 40);
  EXPECT_FALSE(files[0].expired());
  EXPECT_TRUE(files[1].expired());
  EXPECT_FALSE(files[2].expired());
}

TEST_F(StorageFileCache, AFailedOpenLeavesTheCacheUnchanged) {
  std::vector<std::weak_ptr<file>> files;
  for (int i = 0; i < 40; ++i) files.push_back(cache.open_file(&owner_a, path(i), file::out));
  EXPECT_THROW(cache.open_file(&owner_a, dir / "no/such/folder/x", file::in), file_error);
  EXPECT_EQ(cache.size(), 40);
  for (auto& f : files) EXPECT_FALSE(f.expired());
  // The same for a failed reopen with more rights: a folder opens for
  // reading but never for writing.
  std::filesystem::create_directory(dir / "folder");
  auto held = cache.open_file(&owner_b, dir / "folder", file::in);
  EXPECT_THROW(cache.open_file(&owner_a, dir / "folder", file::out), file_error);
  EXPECT_EQ(cache.open_file(&owner_b, dir / "folder", file::in), held);
  cache.release(&owner_a);  // the folder entry still belongs to owner_b
  EXPECT_EQ(cache.size(), 1);
}

TEST_F(StorageFileCache, ReopeningForWritingUsesOnlyTheRequestedMode) {
  storage_test::write_text(path(0), "data");
  auto reader = cache.open_file(&owner_a, path(0), file::in);
  auto writer = cache.open_file(&owner_a, path(0), file::out);
  EXPECT_NE(reader, writer);
  // The old handle stays usable for whoever still holds it.
  char buf[4];
  EXPECT_EQ(reader->read_at(buf, 4, 0), 4);
  EXPECT_THROW(writer->read_at(buf, 4, 0), file_error);
  EXPECT_EQ(writer->write_at("D", 1, 0), 1);
  // Asking for less than the cached mode keeps the cached file.
  EXPECT_EQ(cache.open_file(&owner_a, path(0), file::out), writer);
  EXPECT_EQ(cache.size(), 1);
}

TEST_F(StorageFileCache, AFileBelongsToItsLastUser) {
  std::weak_ptr<file> shared = cache.open_file(&owner_a, path(0), file::out);
  std::weak_ptr<file> own = cache.open_file(&owner_a, path(1), file::out);
  cache.open_file(&owner_b, path(0), file::out);
  cache.release(&owner_a);
  EXPECT_TRUE(own.expired());
  EXPECT_FALSE(shared.expired());
  EXPECT_EQ(cache.size(), 1);
  cache.release(&owner_b);
  EXPECT_TRUE(shared.expired());
  EXPECT_EQ(cache.size(), 0);
}

// Writes through a file deleted (or replaced) under its open descriptor
// would still succeed, on data no one sees again.
TEST_F(StorageFileCache, AFileDeletedOrReplacedOnDiskIsDroppedWithItsName) {
  const std::string missing = path(0) + ": No such file or directory";
  cache.open_file(&owner_a, path(0), file::out);
  std::filesystem::remove(path(0));
  try {
    cache.open_file(&owner_a, path(0), file::out);
    ADD_FAILURE() << "no error";
  } catch (const file_error& e) {
    EXPECT_EQ(e.what(), missing);
  }
  EXPECT_EQ(cache.size(), 0);
  EXPECT_FALSE(std::filesystem::exists(path(0)));

  storage_test::write_text(path(1), "old");
  cache.open_file(&owner_a, path(1), file::in);
  storage_test::write_text(path(2), "new");
  std::filesystem::rename(path(2), path(1));
  EXPECT_THROW(cache.open_file(&owner_a, path(1), file::in), file_error);
  EXPECT_EQ(cache.size(), 0);

  // Looked for without a read or write.
  cache.open_file(&owner_a, path(3), file::out);
  cache.open_file(&owner_a, path(4), file::out);
  cache.open_file(&owner_b, path(5), file::out);
  cache.check_files(&owner_a);
  std::filesystem::remove(path(4));
  std::filesystem::remove(path(5));
  EXPECT_THROW(cache.check_files(&owner_a), file_error);
  EXPECT_EQ(cache.size(), 2);
  cache.check_files(&owner_a);
  // Only what is asked for as it is there: a file that must exist is not
  // created.
  EXPECT_THROW(cache.open_file(&owner_a, path(6), file::out | file::existing), file_error);
  EXPECT_FALSE(std::filesystem::exists(path(6)));
}

TEST_F(StorageFileCache, TwoThreadsReadOneCachedFileAtDifferentOffsets) {
  std::string data = storage_test::random_bytes(1 << 20, 1);
  storage_test::write_text(path(0), data);
  auto worker = [&](int start) {
    for (int round = 0; round < 200; ++round) {
      auto f = cache.open_file(&owner_a, path(0), file::in);
      int off = (start + round * 4099) % ((1 << 20) - 512);
      char buf[512];
      ASSERT_EQ(f->read_at(buf, 512, off), 512);
      ASSERT_EQ(std::string(buf, 512), data.substr(off, 512));
    }
  };
  std::thread t1(worker, 0), t2(worker, 77777);
  t1.join();
  t2.join();
}

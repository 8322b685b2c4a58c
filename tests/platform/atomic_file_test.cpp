// Replacing files whole, and the temporaries a killed writer leaves.

#include "platform/atomic_file.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <string>
#include <sys/wait.h>
#include <unistd.h>

namespace {

namespace fs = std::filesystem;

struct AtomicFile : ::testing::Test {
  fs::path dir = fs::temp_directory_path() / ("qf_atomic_" + std::to_string(::getpid()));
  void SetUp() override {
    fs::remove_all(dir);
    fs::create_directories(dir);
  }
  void TearDown() override { fs::remove_all(dir); }
  void Put(const std::string& name) { std::ofstream(dir / name) << "x"; }
};

// A process id that surely runs no more: a child that has ended and been
// reaped.
pid_t EndedProcess() {
  const pid_t child = ::fork();
  if (child == 0) ::_exit(0);
  ::waitpid(child, nullptr, 0);
  return child;
}

TEST_F(AtomicFile, StaleTemporariesOfEndedWritersGoAndNothingElse) {
  const std::string dead = std::to_string(EndedProcess());
  const std::string alive = std::to_string(::getpid());
  const std::vector<std::string> stale = {"a.torrent.ResumeData.tmp." + dead + ".0",
                                          "b c.torrent.FilterData.tmp." + dead + ".17",
                                          "TorrentQueue.txt.tmp." + dead + ".3"};
  const std::vector<std::string> kept = {
      "a.torrent.ResumeData",                           // the file itself
      "a.torrent.ResumeData.tmp." + alive + ".1",       // its writer still runs
      "a.torrent.ResumeData.tmp." + dead,               // not the shape
      "a.torrent.ResumeData.tmp.x" + dead + ".1",       // not digits
      "a.torrent.ResumeData.tmp." + dead + ".1.bak",    // more after it
      "notes.txt.tmp." + dead + ".1",                   // not one of ours
  };
  for (const auto& name : stale) Put(name);
  for (const auto& name : kept) Put(name);
  fs::create_directories(dir / ("d.torrent.ResumeData.tmp." + dead + ".2"));  // a folder stays
  EXPECT_EQ(platform::remove_stale_temporaries(dir, {".ResumeData", ".FilterData", "TorrentQueue.txt"}), 3u);
  for (const auto& name : stale) EXPECT_FALSE(fs::exists(dir / name)) << name;
  for (const auto& name : kept) EXPECT_TRUE(fs::exists(dir / name)) << name;
  EXPECT_TRUE(fs::exists(dir / ("d.torrent.ResumeData.tmp." + dead + ".2")));
  EXPECT_EQ(platform::remove_stale_temporaries(dir / "missing", {".ResumeData"}), 0u);
}

TEST_F(AtomicFile, AWriteLeavesNoTemporary) {
  ASSERT_TRUE(platform::write_file_atomically(dir / "f.ResumeData", "data"));
  EXPECT_EQ(std::distance(fs::directory_iterator(dir), {}), 1);
  EXPECT_FALSE(platform::write_file_atomically(dir / "f.ResumeData" / "under a file", "data"));
  EXPECT_EQ(std::distance(fs::directory_iterator(dir), {}), 1);
}

TEST_F(AtomicFile, ABatchPutsItsFilesInPlaceOnlyWhenCommitted) {
  Put("a.ResumeData");
  {
    platform::file_batch batch;
    ASSERT_TRUE(batch.write(dir / "a.ResumeData", "new a"));
    ASSERT_TRUE(batch.write(dir / "b.FilterData", "new b"));
    EXPECT_TRUE(platform::file_holds(dir / "a.ResumeData", "x"));  // not yet
    EXPECT_FALSE(fs::exists(dir / "b.FilterData"));
  }
  // Dropped uncommitted: the old file stays, no temporary is left.
  EXPECT_EQ(std::distance(fs::directory_iterator(dir), {}), 1);
  EXPECT_TRUE(platform::file_holds(dir / "a.ResumeData", "x"));

  platform::file_batch batch;
  int failures = 0;
  ASSERT_TRUE(batch.write(dir / "a.ResumeData", "new a", [&] { ++failures; }));
  ASSERT_TRUE(batch.write(dir / "b.FilterData", "new b", [&] { ++failures; }));
  EXPECT_FALSE(batch.write(dir / "a.ResumeData" / "under a file", "c"));
  EXPECT_TRUE(batch.commit());
  EXPECT_EQ(failures, 0);
  EXPECT_TRUE(platform::file_holds(dir / "a.ResumeData", "new a"));
  EXPECT_TRUE(platform::file_holds(dir / "b.FilterData", "new b"));
  EXPECT_EQ(std::distance(fs::directory_iterator(dir), {}), 2);

  // A file of other bytes, of another length, a folder or nothing: no.
  EXPECT_FALSE(platform::file_holds(dir / "a.ResumeData", "new b"));
  EXPECT_FALSE(platform::file_holds(dir / "a.ResumeData", "new a!"));
  EXPECT_FALSE(platform::file_holds(dir, ""));
  EXPECT_FALSE(platform::file_holds(dir / "missing", ""));

  // A file that cannot be put in place is reported by its callback.
  platform::file_batch blocked;
  ASSERT_TRUE(blocked.write(dir / "c.ResumeData", "c", [&] { ++failures; }));
  fs::create_directories(dir / "c.ResumeData" / "in the way");
  EXPECT_FALSE(blocked.commit());
  EXPECT_EQ(failures, 1);
  EXPECT_EQ(std::distance(fs::directory_iterator(dir), {}), 3);
}

}  // namespace

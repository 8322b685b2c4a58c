// The real Quillfern program under hostile input: a torrent whose name is
// beyond UTF-16's three-byte forms (an emoji) or no UTF-8 at all, with
// "Remove_FromFileNames" on, is added and the program goes on; a damaged
// list file is kept aside, what it still says is restored, and an add and
// a restart after a kill lose nothing.

#include "program_support.h"

namespace fs = std::filesystem;
using namespace program_test;

namespace {

bool Runs(pid_t pid) {
  int status = 0;
  return ::waitpid(pid, &status, WNOHANG) == 0;
}

TEST_F(ProgramFixture, NamesBeyondUtf16FormsAreAddedWithTheUnderscoreOptionOn) {
  QF_REQUIRE_DISPLAY();
  ASSERT_TRUE(gui_test::HaveXdotool());
  Profile().WriteProfileInt("Configuration", "Remove_FromFileNames", 1);
  // The names inside the torrents are hostile; their file names are plain
  // (a command line beyond the locale's characters is another matter).
  const fs::path emoji = dir / "work" / "smile_x.torrent";
  const fs::path bytes = dir / "work" / "bytes.torrent";
  WriteTorrent(emoji, "a_\xF0\x9F\x98\x80_b.bin");
  WriteTorrent(bytes, "c_\xFF\xFE_d.bin");
  const fs::path log = dir / "first.log";
  // From the command line of the first start, then from a second start.
  const pid_t first = Start({emoji.string()}, log, dir / "work");
  ASSERT_TRUE(test_support::wait_until([&] { return !Windows(first).empty(); })) << ReadFile(log);
  ASSERT_TRUE(test_support::wait_until([&] { return fs::exists(DataFolder() / "smile x.torrent"); }))
      << ReadFile(log);
  const pid_t second = Start({bytes.string()}, dir / "second.log", dir / "work");
  EXPECT_EQ(WaitExit(second), 0);
  ASSERT_TRUE(test_support::wait_until([&] { return fs::exists(DataFolder() / "bytes.torrent"); })) << ReadFile(log);
  // Both rows are there and the program runs on.
  EXPECT_TRUE(test_support::wait_until([&] { return ShootMainWindow("hostile_names_added"); }));
  EXPECT_TRUE(Runs(first)) << ReadFile(log);
  ASSERT_EQ(::kill(first, SIGTERM), 0);
  EXPECT_EQ(WaitExit(first), 0) << ReadFile(log);
  EXPECT_TRUE(InListFile(DataFolder() / "TorrentQueue.txt", DataFolder() / "smile x.torrent"));
  EXPECT_TRUE(InListFile(DataFolder() / "TorrentQueue.txt", DataFolder() / "bytes.torrent"));
  EXPECT_EQ(ReadFile(log).find("Unhandled"), std::string::npos) << ReadFile(log);
}

TEST_F(ProgramFixture, ADamagedListFileThenAnAddThenARestartLosesNothing) {
  QF_REQUIRE_DISPLAY();
  ASSERT_TRUE(gui_test::HaveXdotool());
  for (const char* name : {"a", "b", "c"}) WriteTorrent(dir / "work" / (std::string(name) + ".torrent"), name);
  const fs::path list_file = DataFolder() / "TorrentQueue.txt";

  // A first run adds a and b and writes its list at the close.
  const fs::path log1 = dir / "run1.log";
  const pid_t run1 = Start({(dir / "work" / "a.torrent").string()}, log1, dir / "work");
  ASSERT_TRUE(test_support::wait_until([&] { return !Windows(run1).empty(); })) << ReadFile(log1);
  ASSERT_TRUE(test_support::wait_until([&] { return InListFile(list_file, DataFolder() / "a.torrent"); }));
  EXPECT_EQ(WaitExit(Start({(dir / "work" / "b.torrent").string()}, dir / "hand1.log", dir / "work")), 0);
  ASSERT_TRUE(test_support::wait_until([&] { return InListFile(list_file, DataFolder() / "b.torrent"); }));
  ASSERT_EQ(::kill(run1, SIGTERM), 0);
  ASSERT_EQ(WaitExit(run1), 0);

  // The file is cut short in its last line, at an odd byte.
  const std::string whole = ReadFile(list_file);
  { std::ofstream(list_file, std::ios::binary | std::ios::trunc) << whole.substr(0, whole.size() - 5); }

  // The second run keeps it aside, restores both and adds c; it is killed.
  const fs::path log2 = dir / "run2.log";
  const pid_t run2 = Start({}, log2, dir / "work");
  ASSERT_TRUE(test_support::wait_until([&] { return !Windows(run2).empty(); })) << ReadFile(log2);
  ASSERT_TRUE(test_support::wait_until([&] { return fs::exists(DataFolder() / "TorrentQueue.txt.damaged"); }));
  EXPECT_EQ(ReadFile(DataFolder() / "TorrentQueue.txt.damaged"), whole.substr(0, whole.size() - 5));
  EXPECT_EQ(WaitExit(Start({(dir / "work" / "c.torrent").string()}, dir / "hand2.log", dir / "work")), 0);
  ASSERT_TRUE(test_support::wait_until([&] { return InListFile(list_file, DataFolder() / "c.torrent"); }));
  EXPECT_TRUE(InListFile(list_file, DataFolder() / "a.torrent"));
  EXPECT_TRUE(InListFile(list_file, DataFolder() / "b.torrent"));
  EXPECT_NE(ReadFile(log2).find("kept as " + (DataFolder() / "TorrentQueue.txt.damaged").string()), std::string::npos)
      << ReadFile(log2);
  ASSERT_EQ(::kill(run2, SIGKILL), 0);
  WaitExit(run2);

  // The third run has all three back.
  const fs::path log3 = dir / "run3.log";
  const pid_t run3 = Start({}, log3, dir / "work");
  ASSERT_TRUE(test_support::wait_until([&] { return !Windows(run3).empty(); })) << ReadFile(log3);
  EXPECT_TRUE(test_support::wait_until([&] { return ShootMainWindow("damaged_list_restored"); }));
  ASSERT_EQ(::kill(run3, SIGTERM), 0);
  EXPECT_EQ(WaitExit(run3), 0);
  const std::string text = ReadFile(log3);
  EXPECT_EQ(text.find("no destination"), std::string::npos) << text;
  EXPECT_EQ(text.find("damaged"), std::string::npos) << text;
  for (const char* name : {"a.torrent", "b.torrent", "c.torrent"})
    EXPECT_TRUE(InListFile(list_file, DataFolder() / name)) << name;
  EXPECT_FALSE(fs::exists(DataFolder() / "TorrentQueue.txt.damaged.2"));
}

}  // namespace

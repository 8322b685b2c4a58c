// The real Quillfern program in store mode with a MariaDB server of the
// test's own that goes away while the program runs and comes back: a
// torrent added meanwhile reaches the store with its metainfo and is back
// under its name at the next start; a torrent removed meanwhile is finished
// in the store and does not come back.

#include "program_support.h"
#include "tests/store/store_test_support.h"

#include <regex>

namespace fs = std::filesystem;
using namespace program_test;

namespace {

struct StoreAwayProgram : ProgramFixture {
  pid_t pid = -1;

  bool CaptionCounts(const std::string& counts) const {
    std::istringstream windows(Windows(pid));
    std::string names;
    for (std::string id; std::getline(windows, id);)
      if (!id.empty()) names += Output("xdotool getwindowname " + id + " 2>/dev/null");
    return std::regex_search(names, std::regex("(^|\n)Quillfern " + counts + " "));
  }
  pid_t StartProgram(const std::string& log, const std::vector<std::string>& args = {}) {
    pid = Start(args, dir / log, dir / "work");
    EXPECT_TRUE(test_support::wait_until([&] { return !Windows(pid).empty(); })) << ReadFile(dir / log);
    return pid;
  }
  void Close() {
    ASSERT_EQ(::kill(pid, SIGTERM), 0);
    EXPECT_EQ(WaitExit(pid), 0);
  }
};

TEST_F(StoreAwayProgram, AnAddAndARemovalWhileTheServerIsAwayReachTheStore) {
  QF_REQUIRE_DISPLAY();
  if (!gui_test::HaveXdotool()) GTEST_FAIL() << "no xdotool";
  store::mysql::set_client_library_path("libmariadb.so.3");
  // Stopped before the fixture's folder goes.
  store_test::private_server server(dir / "db");
  ASSERT_TRUE(server.ok()) << server.log();
  const store_test::server& at = server.address();
  platform::profile p = Profile();
  p.WriteProfileInt("Configuration", "Use Database", 1);
  p.WriteProfileString("Configuration", "Database URL", at.host);
  p.WriteProfileInt("Configuration", "Database Port", at.port);
  p.WriteProfileString("Configuration", "Database User", at.user);
  p.WriteProfileString("Configuration", "Database Password", at.password);
  const fs::path source = dir / "work" / "away.torrent";
  WriteTorrent(source, "away.bin");
  const std::string metainfo = ReadFile(source);
  auto rows = [&] {
    store_test::raw_connection raw(at);
    return raw.ok() ? raw.query("SELECT name,meta_data,finished FROM torrent_data") : store_test::rows{{"no server"}};
  };
  auto side_rows = [&] {
    store_test::raw_connection raw(at);
    return raw.count("resume_data") + raw.count("piece_selection") + raw.count("trackers");
  };

  // The server goes while the program runs; a torrent is added then.
  StartProgram("first.log");
  ASSERT_TRUE(test_support::wait_until([&] { return CaptionCounts("0/4"); })) << ReadFile(dir / "first.log");
  ASSERT_TRUE(server.stop()) << server.log();
  EXPECT_EQ(WaitExit(Start({source.string()}, dir / "hand-over.log", dir / "work")), 0);
  ASSERT_TRUE(test_support::wait_until([&] { return CaptionCounts("1/4"); })) << ReadFile(dir / "first.log");
  EXPECT_TRUE(test_support::wait_until(
      [&] { return ReadFile(dir / "first.log").find("away.torrent waits for the store") != std::string::npos; }))
      << ReadFile(dir / "first.log");
  EXPECT_TRUE(test_support::wait_until([&] { return ShootMainWindow("store_away_added"); }));

  // Back: the row is written with the metainfo, without waiting for the
  // end of the run, and the copy in the data folder goes.
  ASSERT_TRUE(server.resume()) << server.log();
  EXPECT_TRUE(test_support::wait_until([&] { return rows() == store_test::rows{{"away.bin", metainfo, "0"}}; }))
      << ReadFile(dir / "first.log");
  EXPECT_TRUE(test_support::wait_until([&] { return !fs::exists(DataFolder() / "away.torrent"); }));
  EXPECT_NE(ReadFile(dir / "first.log").find("away.torrent is in the store again"), std::string::npos);
  Close();
  EXPECT_EQ(rows(), (store_test::rows{{"away.bin", metainfo, "0"}}));

  // The next start has it back with its metainfo, twice over.
  for (const char* run : {"second.log", "third.log"}) {
    StartProgram(run);
    EXPECT_TRUE(test_support::wait_until([&] { return CaptionCounts("1/4"); })) << ReadFile(dir / run);
    Close();
    EXPECT_EQ(rows(), (store_test::rows{{"away.bin", metainfo, "0"}})) << ReadFile(dir / run);
    EXPECT_EQ(ReadFile(dir / run).find("Unkown"), std::string::npos);
  }

  // The server goes again; the torrent is removed ("Remove" is the third
  // entry of a running torrent's menu, on the middle of its chart).
  StartProgram("remove.log");
  ASSERT_TRUE(test_support::wait_until([&] { return CaptionCounts("1/4"); })) << ReadFile(dir / "remove.log");
  ASSERT_TRUE(server.stop()) << server.log();
  ChooseFromMenuAt(pid, 83, 86, 3);
  ASSERT_TRUE(test_support::wait_until([&] { return CaptionCounts("0/4"); })) << ReadFile(dir / "remove.log");
  EXPECT_TRUE(test_support::wait_until([&] {
    return ReadFile(dir / "remove.log").find("the removal of away.bin waits for the store") != std::string::npos;
  })) << ReadFile(dir / "remove.log");
  EXPECT_TRUE(test_support::wait_until([&] { return ShootMainWindow("store_away_removed"); }));
  ASSERT_TRUE(server.resume()) << server.log();
  EXPECT_TRUE(test_support::wait_until([&] { return rows() == store_test::rows{{"away.bin", metainfo, "1"}}; }))
      << ReadFile(dir / "remove.log");
  Close();
  EXPECT_EQ(side_rows(), 0u);

  // It stays removed.
  StartProgram("after.log");
  EXPECT_TRUE(test_support::wait_until([&] { return CaptionCounts("0/4"); })) << ReadFile(dir / "after.log");
  EXPECT_TRUE(test_support::wait_until([&] { return ShootMainWindow("store_away_restarted"); }));
  Close();
  EXPECT_EQ(rows(), (store_test::rows{{"away.bin", metainfo, "1"}}));
}

}  // namespace

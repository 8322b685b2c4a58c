// The real Quillfern program in store mode with a MariaDB server of the
// test's own that goes away while the program runs and comes back: a
// torrent added meanwhile reaches the store with its metainfo and is back
// under its name at the next start; a torrent removed meanwhile is finished
// in the store and does not come back. The same holds when the program
// ends while the server is away, or starts without it: what waits is kept
// in the data folder and handed to the store at the next start that
// reaches it.

#include "program_support.h"
#include "tests/store/store_test_support.h"

#include <regex>

namespace fs = std::filesystem;
using namespace program_test;

namespace {

struct StoreAwayProgram : ProgramFixture {
  pid_t pid = -1;
  std::unique_ptr<store_test::private_server> server;

  // The server stops before the fixture's folder goes.
  void TearDown() override {
    server.reset();
    ProgramFixture::TearDown();
  }

  // The program in store mode with the test's own server.
  void UseOwnServer() {
    store::mysql::set_client_library_path("libmariadb.so.3");
    server = std::make_unique<store_test::private_server>(dir / "db");
    ASSERT_TRUE(server->ok()) << server->log();
    const store_test::server& at = server->address();
    UseDatabase(at);
  }
  // name, metainfo and finished of every stored torrent, by name.
  store_test::rows Rows() const {
    store_test::raw_connection raw(server->address());
    return raw.ok() ? raw.query("SELECT name,meta_data,finished FROM torrent_data ORDER BY name")
                    : store_test::rows{{"no server"}};
  }
  // The resume data, piece selection and tracker rows of the torrent.
  std::size_t SideRows(const std::string& name) const {
    store_test::raw_connection raw(server->address());
    const std::string of = " WHERE torrent_data_id=(SELECT id FROM torrent_data WHERE name='" + name + "')";
    return raw.count("resume_data" + of) + raw.count("piece_selection" + of) + raw.count("trackers" + of);
  }
  void HandOver(const fs::path& torrent) {
    EXPECT_EQ(WaitExit(Start({torrent.string()}, dir / "hand-over.log", dir / "work")), 0);
  }
  bool Logged(const std::string& log, const std::string& text) const {
    return ReadFile(dir / log).find(text) != std::string::npos;
  }
  bool WaitLogged(const std::string& log, const std::string& text) const {
    return test_support::wait_until([&] { return Logged(log, text); });
  }

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
  UseDatabase(at);
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
  EXPECT_TRUE(test_support::wait_until([&] {
    return ReadFile(dir / "first.log").find("away.torrent is in the store again") != std::string::npos;
  })) << ReadFile(dir / "first.log");
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

TEST_F(StoreAwayProgram, WhatWaitsWhenTheProgramEndsReachesTheStoreAtTheNextStart) {
  QF_REQUIRE_DISPLAY();
  if (!gui_test::HaveXdotool()) GTEST_FAIL() << "no xdotool";
  UseOwnServer();
  const fs::path kept = dir / "work" / "kept.torrent";
  const fs::path away = dir / "work" / "away.torrent";
  WriteTorrent(kept, "kept.bin");
  WriteTorrent(away, "away.bin");
  const std::string kept_meta = ReadFile(kept), away_meta = ReadFile(away);

  // A torrent in the store, restored from it.
  StartProgram("first.log");
  HandOver(kept);
  ASSERT_TRUE(test_support::wait_until([&] { return CaptionCounts("1/4"); })) << ReadFile(dir / "first.log");
  ASSERT_TRUE(test_support::wait_until([&] { return Rows() == store_test::rows{{"kept.bin", kept_meta, "0"}}; }))
      << ReadFile(dir / "first.log");
  Close();
  StartProgram("second.log");
  ASSERT_TRUE(test_support::wait_until([&] { return CaptionCounts("1/4"); }))
      << ReadFile(dir / "first.log") << "\n---\n" << ReadFile(dir / "second.log") << Output("xdotool search --name Quillfern getwindowname %@ 2>&1");

  // The server goes: a torrent is added, the stored one removed (the third
  // entry of the first row's menu), and the program ends.
  ASSERT_TRUE(server->stop()) << server->log();
  HandOver(away);
  ASSERT_TRUE(test_support::wait_until([&] { return CaptionCounts("2/4"); })) << ReadFile(dir / "second.log");
  EXPECT_TRUE(WaitLogged("second.log", "away.torrent waits for the store")) << ReadFile(dir / "second.log");
  ChooseFromMenuAt(pid, 83, 86, 3);
  ASSERT_TRUE(test_support::wait_until([&] { return CaptionCounts("1/4"); })) << ReadFile(dir / "second.log");
  EXPECT_TRUE(WaitLogged("second.log", "the removal of kept.bin waits for the store")) << ReadFile(dir / "second.log");
  Close();
  EXPECT_TRUE(Logged("second.log", "1 torrents and 1 removals wait for the store, kept in")) << ReadFile(dir / "second.log");
  EXPECT_TRUE(fs::exists(DataFolder() / "TorrentQueue.waiting.txt"));
  EXPECT_TRUE(fs::exists(DataFolder() / "away.torrent"));

  // Back: the next start carries out the removal, shows the added torrent
  // and writes it to the store with its metainfo.
  ASSERT_TRUE(server->resume()) << server->log();
  EXPECT_EQ(Rows(), (store_test::rows{{"kept.bin", kept_meta, "0"}}));
  StartProgram("third.log");
  ASSERT_TRUE(test_support::wait_until([&] { return CaptionCounts("1/4"); })) << ReadFile(dir / "third.log");
  EXPECT_TRUE(test_support::wait_until([&] {
    return Rows() == store_test::rows{{"away.bin", away_meta, "0"}, {"kept.bin", kept_meta, "1"}};
  })) << ReadFile(dir / "third.log");
  EXPECT_TRUE(WaitLogged("third.log", "the removal of kept.bin reached the store")) << ReadFile(dir / "third.log");
  EXPECT_TRUE(WaitLogged("third.log", "away.torrent is in the store again")) << ReadFile(dir / "third.log");
  EXPECT_TRUE(test_support::wait_until([&] { return !fs::exists(DataFolder() / "away.torrent"); }));
  EXPECT_TRUE(test_support::wait_until([&] { return ShootMainWindow("store_away_caught_up"); }));
  Close();
  EXPECT_FALSE(fs::exists(DataFolder() / "TorrentQueue.waiting.txt"));

  // And from the store alone from now on.
  StartProgram("fourth.log");
  EXPECT_TRUE(test_support::wait_until([&] { return CaptionCounts("1/4"); })) << ReadFile(dir / "fourth.log");
  Close();
  EXPECT_EQ(Rows(), (store_test::rows{{"away.bin", away_meta, "0"}, {"kept.bin", kept_meta, "1"}}));
  EXPECT_EQ(SideRows("kept.bin"), 0u);
  EXPECT_GT(SideRows("away.bin"), 0u);
}

TEST_F(StoreAwayProgram, ATorrentAddedInARunStartedWithoutTheServerReachesTheStore) {
  QF_REQUIRE_DISPLAY();
  if (!gui_test::HaveXdotool()) GTEST_FAIL() << "no xdotool";
  UseOwnServer();
  const fs::path offline = dir / "work" / "offline.torrent";
  WriteTorrent(offline, "offline.bin");
  const std::string metainfo = ReadFile(offline);

  ASSERT_TRUE(server->stop()) << server->log();
  StartProgram("away.log");
  ASSERT_TRUE(test_support::wait_until([&] { return CaptionCounts("0/4"); })) << ReadFile(dir / "away.log");
  EXPECT_TRUE(WaitLogged("away.log", "the store does not answer")) << ReadFile(dir / "away.log");
  HandOver(offline);
  ASSERT_TRUE(test_support::wait_until([&] { return CaptionCounts("1/4"); })) << ReadFile(dir / "away.log");
  EXPECT_TRUE(WaitLogged("away.log", "offline.torrent waits for the store")) << ReadFile(dir / "away.log");
  Close();
  EXPECT_TRUE(Logged("away.log", "1 torrents and 0 removals wait for the store")) << ReadFile(dir / "away.log");

  // The next start that reaches the server shows it and stores it.
  ASSERT_TRUE(server->resume()) << server->log();
  StartProgram("back.log");
  ASSERT_TRUE(test_support::wait_until([&] { return CaptionCounts("1/4"); })) << ReadFile(dir / "back.log");
  EXPECT_TRUE(test_support::wait_until([&] { return Rows() == store_test::rows{{"offline.bin", metainfo, "0"}}; }))
      << ReadFile(dir / "back.log");
  EXPECT_TRUE(WaitLogged("back.log", "offline.torrent is in the store again")) << ReadFile(dir / "back.log");
  EXPECT_TRUE(test_support::wait_until([&] { return ShootMainWindow("store_away_at_start_caught_up"); }));
  Close();

  StartProgram("after.log");
  EXPECT_TRUE(test_support::wait_until([&] { return CaptionCounts("1/4"); })) << ReadFile(dir / "after.log");
  Close();
  EXPECT_EQ(Rows(), (store_test::rows{{"offline.bin", metainfo, "0"}}));
  EXPECT_FALSE(fs::exists(DataFolder() / "TorrentQueue.waiting.txt"));
}

}  // namespace

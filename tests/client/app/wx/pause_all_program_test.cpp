// The real Quillfern program with two running torrents: "Pause All" from
// the window's menu, then "Resume" from each row's menu, all with the mouse
// and the keyboard; the caption's active count follows the torrents that
// run. After a restart the rows are back under their names.

#include "program_support.h"

#include <regex>

namespace fs = std::filesystem;
using namespace program_test;

namespace {

struct PauseAllProgram : ProgramFixture {
  pid_t pid = -1;

  // The names of the process's windows called "Quillfern...", one a line
  // (the main window's is its caption).
  std::string Caption() const { return WindowNames(pid); }
  bool CaptionCounts(const std::string& counts) const { return CountsShown(pid, counts); }
  // The middle of the first row's chart, where its name is drawn.
  static bool CaptureName(std::vector<std::uint8_t>& rgb) {
    return gui_test::CaptureRootRect(kClientX + 56, kClientY + 78, 56, 16, rgb);
  }
  void ChooseFromMenuAt(int x, int y, int index) { ProgramFixture::ChooseFromMenuAt(pid, x, y, index); }
};

TEST_F(PauseAllProgram, ResumingEachRowAfterPauseAllThenARestart) {
  QF_REQUIRE_DISPLAY();
  if (!gui_test::HaveXdotool()) GTEST_FAIL() << "no xdotool";
  Profile().WriteProfileInt("Configuration", "MaxActiveTorrent", 6);
  WriteTorrent(dir / "work" / "first.torrent", "first");
  WriteTorrent(dir / "work" / "second.torrent", "second");
  const fs::path log = dir / "pause-all.log";
  // The first start opens one torrent, a second start hands the other over.
  pid = Start({(dir / "work" / "first.torrent").string()}, log, dir / "work");
  ASSERT_TRUE(test_support::wait_until([&] { return !Windows(pid).empty(); })) << ReadFile(log);
  ASSERT_TRUE(test_support::wait_until([&] { return CaptionCounts("1/6"); })) << Caption() << ReadFile(log);
  EXPECT_EQ(WaitExit(Start({(dir / "work" / "second.torrent").string()}, dir / "second.log", dir / "work")), 0);
  ASSERT_TRUE(test_support::wait_until([&] { return CaptionCounts("2/6"); }))
      << Caption() << ReadFile(log) << ReadFile(dir / "second.log") << fs::exists(DataFolder() / "second.torrent");
  EXPECT_TRUE(test_support::wait_until([&] { return ShootMainWindow("pause_all_running"); }));

  // The window's menu, on the text lines below the rows: "Pause All" is
  // its fourth entry (after "Add Torrent File", "Add Torrent Hash" and
  // "Make Torrent").
  ChooseFromMenuAt(300, 146, 4);
  EXPECT_TRUE(test_support::wait_until([&] { return CaptionCounts("0/6"); })) << Caption();
  EXPECT_TRUE(test_support::wait_until([&] { return ShootMainWindow("pause_all_paused"); }));

  // Each row's menu, on the middle of its chart: "Resume" comes first
  // while its torrent is paused.
  ChooseFromMenuAt(83, 86, 1);
  EXPECT_TRUE(test_support::wait_until([&] { return CaptionCounts("1/6"); })) << Caption();
  ChooseFromMenuAt(83 + 170, 86, 1);
  EXPECT_TRUE(test_support::wait_until([&] { return CaptionCounts("2/6"); })) << Caption();
  EXPECT_TRUE(test_support::wait_until([&] { return ShootMainWindow("pause_all_resumed"); }));
  // The name in the middle of the first row ("first").
  std::vector<std::uint8_t> name;
  ASSERT_TRUE(CaptureName(name));

  // After a restart both run again, and the row still shows the torrent's
  // name, not its save folder followed by the name.
  ASSERT_EQ(::kill(pid, SIGTERM), 0);
  EXPECT_EQ(WaitExit(pid), 0);
  pid = Start({}, dir / "again.log", dir / "work");
  ASSERT_TRUE(test_support::wait_until([&] { return CaptionCounts("2/6"); })) << Caption() << ReadFile(dir / "again.log");
  std::vector<std::uint8_t> again;
  EXPECT_TRUE(test_support::wait_until([&] { return CaptureName(again) && again == name; }));
  EXPECT_TRUE(test_support::wait_until([&] { return ShootMainWindow("pause_all_restarted"); }));
  ASSERT_EQ(::kill(pid, SIGTERM), 0);
  EXPECT_EQ(WaitExit(pid), 0);
}

}  // namespace

// The real Quillfern program under the test's X server, with folders of its
// own (home, configuration, data, runtime): its window, a second start that
// hands its .torrent path over and ends (the first adds the torrent), and
// SIGTERM.

#include "program_support.h"

#include <sys/resource.h>

namespace fs = std::filesystem;
using namespace std::chrono_literals;
using namespace program_test;

namespace {

TEST_F(ProgramFixture, ShowsItsWindowTakesHandOversAndEndsCleanlyOnSigterm) {
  QF_REQUIRE_DISPLAY();
  if (!gui_test::HaveXdotool()) GTEST_FAIL() << "no xdotool";
  const fs::path log = dir / "first.log";
  const pid_t first = Start({}, log, dir / "work");
  ASSERT_TRUE(test_support::wait_until([&] { return !Windows(first).empty(); })) << ReadFile(log);
  // Without a position in the profile the window covers 20,20 to 420,220.
  auto capture = [](wxImage& image) {
    std::vector<std::uint8_t> rgb;
    if (!gui_test::CaptureRootRect(20, 20, 400, 200, rgb)) return false;
    image = wxImage(400, 200, false);
    std::copy(rgb.begin(), rgb.end(), image.GetData());
    return gui_test::PixelAt(image, 200, 100) != gui_test::Rgb8{0, 0, 0} &&
           gui_test::PixelAt(image, 0, 100) != gui_test::Rgb8{0, 0, 0};
  };
  wxImage first_paint;
  ASSERT_TRUE(test_support::wait_until([&] { return capture(first_paint); }));
  // The main timer's first tick puts the engine's figures into the caption
  // ("Quillfern 0/4 - 0/0MB - DHT 0/0"), which the frame draws.
  ASSERT_TRUE(test_support::wait_until([&] {
    return Output("xdotool search --pid " + std::to_string(first) + " --name 'MB' 2>/dev/null").size() > 0;
  }));
  // For the picture only: the caption redrawn (unless the first paint came
  // after the tick already).
  wxImage shot = first_paint;
  test_support::wait_until([&] {
    if (!capture(shot)) return false;
    for (int y = 4; y < 26; ++y)
      for (int x = 60; x < 150; ++x)
        if (gui_test::PixelAt(shot, x, y) != gui_test::PixelAt(first_paint, x, y)) return true;
    return false;
  }, 5s);
  shot.SaveFile((gui_test::ScreenshotFolder() / "quillfern_program.png").string(), wxBITMAP_TYPE_PNG);

  // A second start hands its path over and ends without a window; the
  // first adds the torrent: a copy in the data folder.
  const fs::path torrent = dir / "some folder" / "a film.torrent";
  WriteTorrent(torrent, "a film");
  const pid_t second = Start({torrent.string()}, dir / "second.log", dir / "work");
  EXPECT_EQ(WaitExit(second), 0);
  EXPECT_TRUE(test_support::wait_until([&] { return fs::exists(DataFolder() / "a film.torrent"); })) << ReadFile(log);
  EXPECT_EQ(ReadFile(dir / "second.log"), "");

  // A relative path is taken from where the second start ran; the quotes go.
  WriteTorrent(dir / "work" / "rel.torrent", "rel");
  const pid_t third = Start({"\"rel.torrent\""}, dir / "third.log", dir / "work");
  EXPECT_EQ(WaitExit(third), 0);
  EXPECT_TRUE(test_support::wait_until([&] { return fs::exists(DataFolder() / "rel.torrent"); })) << ReadFile(log);

  // Anything else only brings the window to the front.
  WriteTorrent(dir / "work" / "UPPER.TORRENT", "upper");
  const pid_t fourth = Start({(dir / "work" / "UPPER.TORRENT").string()}, dir / "fourth.log", dir / "work");
  EXPECT_EQ(WaitExit(fourth), 0);

  // Ended by SIGTERM: the list, the settings and the window's position are
  // written.
  ASSERT_EQ(::kill(first, SIGTERM), 0);
  EXPECT_EQ(WaitExit(first), 0);
  EXPECT_FALSE(fs::exists(DataFolder() / "UPPER.TORRENT"));
  EXPECT_TRUE(InListFile(DataFolder() / "TorrentQueue.txt", DataFolder() / "a film.torrent"));
  EXPECT_TRUE(InListFile(DataFolder() / "TorrentQueue.txt", DataFolder() / "rel.torrent"));

  const platform::profile p = Profile();
  EXPECT_EQ(p.GetProfileInt("Configuration", "Pos Left", -1), 20);
  EXPECT_EQ(p.GetProfileInt("Configuration", "Pos Top", -1), 20);
  EXPECT_EQ(p.GetProfileInt("Configuration", "Pos Right", -1), 420);
  EXPECT_EQ(p.GetProfileInt("Configuration", "Pos Bottom", -1), 220);
  EXPECT_EQ(p.GetProfileInt("Configuration", "Intervall", -1), 500);
  EXPECT_EQ(p.GetProfileString("Configuration", "Torrents"), (dir / "data/Quillfern/Torrents/").string());
  // The last add's folder.
  EXPECT_EQ(p.GetProfileString("Configuration", "Last Destination"), (dir / "downloads").string() + "/");
}

// A later start hands its path over byte for byte, however long (within
// the system's limit) and whatever it holds: a backslash is part of a
// file name here, not a separator.
TEST_F(ProgramFixture, HandOversKeepLongPathsAndBackslashesWhole) {
  QF_REQUIRE_DISPLAY();
  const fs::path log = dir / "first.log";
  const pid_t first = Start({}, log, dir / "work");
  ASSERT_TRUE(test_support::wait_until([&] { return !Windows(first).empty(); })) << ReadFile(log);

  fs::path deep = dir / "work";
  for (char c : std::string("abc")) deep /= std::string(120, c);
  const fs::path long_path = deep / "long one.torrent";
  ASSERT_GT(long_path.string().size(), 400u);
  WriteTorrent(long_path, "long one");
  const fs::path backslash = dir / "work" / "back\\slash.torrent";
  WriteTorrent(backslash, "back slash");
  for (const fs::path& path : {long_path, backslash}) {
    const pid_t later = Start({path.string()}, dir / "later.log", dir / "work");
    EXPECT_EQ(WaitExit(later), 0) << path;
    EXPECT_EQ(ReadFile(dir / "later.log"), "");
  }
  const fs::path long_copy = DataFolder() / "long one.torrent";
  const fs::path backslash_copy = DataFolder() / "back\\slash.torrent";
  EXPECT_TRUE(test_support::wait_until([&] { return fs::exists(long_copy) && fs::exists(backslash_copy); }))
      << ReadFile(log);
  EXPECT_TRUE(test_support::wait_until([&] { return ShootMainWindow("quillfern_hand_overs"); }));

  // A row each: both are in the list written at the end.
  ASSERT_EQ(::kill(first, SIGTERM), 0);
  EXPECT_EQ(WaitExit(first), 0);
  EXPECT_TRUE(InListFile(DataFolder() / "TorrentQueue.txt", long_copy));
  EXPECT_TRUE(InListFile(DataFolder() / "TorrentQueue.txt", backslash_copy));
}

// The one argument is a path, even one that reads like an option of the
// toolkit: a first start and later ones add it, and a later start ends
// with 0 and says nothing.
TEST_F(ProgramFixture, PathsThatLookLikeToolkitOptionsAreAdded) {
  QF_REQUIRE_DISPLAY();
  const fs::path work = dir / "work";
  WriteTorrent(work / "--display=:1.torrent", "display one");
  const fs::path log = dir / "first.log";
  const pid_t first = Start({"--display=:1.torrent"}, log, work);
  ASSERT_TRUE(test_support::wait_until([&] { return fs::exists(DataFolder() / "--display=:1.torrent"); }))
      << ReadFile(log);
  const std::vector<std::string> later = {"--display=:2.torrent", "--name=y.torrent", "--g-fatal-warnings.torrent"};
  for (const std::string& name : later) {
    SCOPED_TRACE(name);
    WriteTorrent(work / name, name.substr(2, 7));
    const pid_t second = Start({name}, dir / "later.log", work);
    EXPECT_EQ(WaitExit(second), 0);
    EXPECT_EQ(ReadFile(dir / "later.log"), "");
    EXPECT_TRUE(test_support::wait_until([&] { return fs::exists(DataFolder() / name); })) << ReadFile(log);
  }
  ASSERT_EQ(::kill(first, SIGTERM), 0);
  EXPECT_EQ(WaitExit(first), 0);
  EXPECT_TRUE(InListFile(DataFolder() / "TorrentQueue.txt", DataFolder() / "--display=:1.torrent"));
  for (const std::string& name : later)
    EXPECT_TRUE(InListFile(DataFolder() / "TorrentQueue.txt", DataFolder() / name)) << name;

  // Tintwright takes no arguments, and its toolkit reads none either.
  program = kProgram.parent_path().parent_path() / "scheme_editor" / "Tintwright";
  const pid_t editor = Start({"--display=:1.torrent", "--name=y"}, dir / "tintwright.log", work);
  EXPECT_TRUE(test_support::wait_until(
      [&] { return !VisibleWindows(editor, "^Quillfern Color Scheme Editor$").empty(); }))
      << ReadFile(dir / "tintwright.log");
  ASSERT_EQ(::kill(editor, SIGTERM), 0);
  EXPECT_EQ(WaitExit(editor), 0) << ReadFile(dir / "tintwright.log");
}

TEST_F(ProgramFixture, SigintEndsAStartupWithATorrentPathLikeClosing) {
  QF_REQUIRE_DISPLAY();
  if (!gui_test::HaveXdotool()) GTEST_FAIL() << "no xdotool";
  const fs::path log = dir / "first.log";
  const fs::path torrent = dir / "b c.torrent";
  WriteTorrent(torrent, "b c");
  const pid_t first = Start({"\"" + torrent.string() + "\""}, log, dir / "work");
  ASSERT_TRUE(test_support::wait_until([&] { return !Windows(first).empty(); })) << ReadFile(log);
  EXPECT_TRUE(test_support::wait_until([&] { return fs::exists(DataFolder() / "b c.torrent"); })) << ReadFile(log);
  ASSERT_EQ(::kill(first, SIGINT), 0);
  EXPECT_EQ(WaitExit(first), 0);
  EXPECT_EQ(Profile().GetProfileInt("Configuration", "Pos Left", -1), 20);
  EXPECT_EQ(Profile().GetProfileInt("Configuration", "Last Priority", -1), 1);
  EXPECT_TRUE(InListFile(DataFolder() / "TorrentQueue.txt", DataFolder() / "b c.torrent"));
}

// Started with a soft descriptor limit below the hard one (1,024 is the
// common default), the program runs with the hard one.
TEST_F(ProgramFixture, RaisesItsDescriptorLimitToTheHardOneAtStart) {
  QF_REQUIRE_DISPLAY();
  rlimit own{};
  ASSERT_EQ(::getrlimit(RLIMIT_NOFILE, &own), 0);
  if (own.rlim_max < 128) GTEST_SKIP() << "descriptor limit too low: " << own.rlim_max;
  rlimit low = own;
  low.rlim_cur = std::min<rlim_t>(1024, own.rlim_max / 2);
  ASSERT_EQ(::setrlimit(RLIMIT_NOFILE, &low), 0);
  const fs::path log = dir / "first.log";
  const pid_t first = Start({}, log, dir / "work");
  ::setrlimit(RLIMIT_NOFILE, &own);
  ASSERT_TRUE(test_support::wait_until([&] { return !Windows(first).empty(); })) << ReadFile(log);
  // "Max open files  <soft>  <hard>  files"
  std::string soft, hard;
  std::istringstream limits(ReadFile("/proc/" + std::to_string(first) + "/limits"));
  for (std::string line; std::getline(limits, line);)
    if (line.rfind("Max open files", 0) == 0) std::istringstream(line.substr(14)) >> soft >> hard;
  EXPECT_EQ(hard, own.rlim_max == RLIM_INFINITY ? "unlimited" : std::to_string(own.rlim_max));
  EXPECT_EQ(soft, hard);
  ASSERT_EQ(::kill(first, SIGTERM), 0);
  EXPECT_EQ(WaitExit(first), 0) << ReadFile(log);
}

}  // namespace

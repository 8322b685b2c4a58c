// The real programs under faults from outside: SIGTERM while a dialog is
// open, colour-scheme files that are not files, a runtime folder taken by
// another user.

#include "program_support.h"

#include <algorithm>
#include <functional>
#include <sys/stat.h>

namespace fs = std::filesystem;
using namespace std::chrono_literals;
using namespace program_test;

namespace {

TEST_F(ProgramFixture, SigtermWithEachKindOfDialogOpenClosesTheDialogsAndSavesTheList) {
  QF_REQUIRE_DISPLAY();
  if (!gui_test::HaveXdotool()) GTEST_FAIL() << "no xdotool";
  const fs::path torrent = dir / "film.torrent";
  WriteTorrent(torrent, "film");
  const fs::path bad = dir / "work" / "bad.torrent";
  fs::create_directories(bad.parent_path());
  std::ofstream(bad) << "not bencoded";
  const fs::path list = DataFolder() / "TorrentQueue.txt";
  // Main window at 20,20 to 420,220: a row below the info box at the top
  // left of the client area, free client area along the text lines below.
  constexpr int kRowX = 112, kRowY = 130, kFreeX = 279, kFreeY = 190;
  struct Round {
    std::string kind;
    std::string title;  // of the dialog that is open when the signal comes (none: a menu)
    std::function<bool(pid_t)> open;
    std::vector<std::string> args;
    bool ask_folder = false;
  };
  const std::vector<Round> rounds = {
      {"options", "^Options - Quillfern$", [&](pid_t p) { return PickFromMenu(p, kFreeX, kFreeY, 5); },
       {torrent.string()}},
      {"row menu", "", [&](pid_t p) { return OpenMenu(p, kRowX, kRowY); }, {}},
      {"details", "film Properties", [&](pid_t p) { return PickFromMenu(p, kRowX, kRowY, -1); }, {}},
      {"add by hash", "^Add Torrent - Quillfern$", [&](pid_t p) { return PickFromMenu(p, kFreeX, kFreeY, 2); }, {}},
      {"make torrent", "^Make Torrent$", [&](pid_t p) { return PickFromMenu(p, kFreeX, kFreeY, 3); }, {}},
      {"file chooser", "^Add Torrent File$", [&](pid_t p) { return PickFromMenu(p, kFreeX, kFreeY, 1); }, {}},
      // "Invalid torrent file" for a bad file on the command line, once the
      // caption no longer reads "Quillfern" alone.
      {"message box", "^Quillfern$",
       [&](pid_t p) { return test_support::wait_until([&] { return !VisibleWindows(p, "^Quillfern .").empty(); }); },
       {bad.string()}},
      {"save folder", "^other$", [](pid_t) { return true; },
       {(dir / "work" / "other.torrent").string()}, true},
  };
  WriteTorrent(dir / "work" / "other.torrent", "other");
  for (const Round& round : rounds) {
    SCOPED_TRACE(round.kind);
    Profile().WriteProfileInt("Configuration", "ASDMode", round.ask_folder ? 2 : 0);
    std::error_code ec;
    const auto before = fs::file_time_type::clock::now() - 1h;
    if (fs::exists(list)) fs::last_write_time(list, before, ec);
    const fs::path log = dir / ("sigterm " + round.kind + ".log");
    const pid_t pid = Start(round.args, log, dir / "work");
    ASSERT_TRUE(MainWindowShown(pid)) << ReadFile(log);
    ASSERT_TRUE(test_support::wait_until([&] { return fs::exists(DataFolder() / "film.torrent"); }));
    ASSERT_TRUE(round.open(pid));
    if (!round.title.empty()) {
      std::string dialog;
      ASSERT_TRUE(test_support::wait_until([&] { return !(dialog = VisibleWindows(pid, round.title)).empty(); }))
          << ReadFile(log);
      std::string shot = "sigterm_with_" + round.kind;
      std::replace(shot.begin(), shot.end(), ' ', '_');
      EXPECT_TRUE(ShootWindow(shot, dialog.substr(0, dialog.find('\n'))));
    }
    ASSERT_EQ(::kill(pid, SIGTERM), 0);
    EXPECT_EQ(WaitExit(pid), 0) << ReadFile(log);
    EXPECT_GT(fs::last_write_time(list, ec), before);
    EXPECT_TRUE(InListFile(list, DataFolder() / "film.torrent")) << ReadFile(log);
    EXPECT_EQ(ReadFile(log).find("free()"), std::string::npos) << ReadFile(log);
  }
  // The torrent whose folder was being asked for was not added.
  EXPECT_FALSE(InListFile(list, DataFolder() / "other.torrent"));
}

// Scheme files that are a folder or a FIFO: the programs start with their
// defaults (nothing waits on the FIFO) and Quillfern still ends on SIGTERM.
TEST_F(ProgramFixture, SchemeFilesThatAreAFolderOrAFifoAreNotRead) {
  QF_REQUIRE_DISPLAY();
  if (!gui_test::HaveXdotool()) GTEST_FAIL() << "no xdotool";
  const fs::path schemes = dir / "schemes";
  for (bool main_is_folder : {true, false}) {
    SCOPED_TRACE(main_is_folder ? "main colours a folder" : "main colours a FIFO");
    fs::remove_all(schemes);
    fs::create_directories(schemes);
    const fs::path folder_one = schemes / (main_is_folder ? "Main Colors.tnts" : "Diagram Colors.tnts");
    const fs::path fifo_one = schemes / (main_is_folder ? "Diagram Colors.tnts" : "Main Colors.tnts");
    fs::create_directory(folder_one);
    ASSERT_EQ(::mkfifo(fifo_one.c_str(), 0600), 0);
    Profile().WriteProfileString("Configuration", "ColorSchemePath", schemes.string() + "/");
    platform::profile(dir / "config/Tintwright/Tintwright.ini")
        .WriteProfileString("Configuration", "ColorSchemePath", schemes.string() + "/");

    program = kProgram;
    const fs::path log = dir / "quillfern.log";
    const pid_t quillfern = Start({}, log, dir / "work");
    ASSERT_TRUE(MainWindowShown(quillfern)) << ReadFile(log);
    if (main_is_folder) {
      EXPECT_TRUE(test_support::wait_until([] { return ShootMainWindow("scheme_folder_and_fifo"); }));
    }
    ASSERT_EQ(::kill(quillfern, SIGTERM), 0);
    EXPECT_EQ(WaitExit(quillfern), 0) << ReadFile(log);

    program = kProgram.parent_path().parent_path() / "scheme_editor" / "Tintwright";
    const fs::path editor_log = dir / "tintwright.log";
    const pid_t editor = Start({}, editor_log, dir / "work");
    ASSERT_TRUE(test_support::wait_until([&] {
      return !VisibleWindows(editor, "Quillfern Color Scheme Editor").empty();
    })) << ReadFile(editor_log);
    if (main_is_folder) {
      const std::string id = VisibleWindows(editor, "Quillfern Color Scheme Editor");
      EXPECT_TRUE(ShootWindow("tintwright_scheme_folder_and_fifo", id.substr(0, id.find('\n'))));
    }
    EXPECT_EQ(::kill(editor, 0), 0);  // still running
    ::kill(editor, SIGKILL);
    WaitExit(editor);
    EXPECT_EQ(ReadFile(editor_log).find("exception"), std::string::npos) << ReadFile(editor_log);
  }
}

// "/tmp/Quillfern-<uid>" made by another user (shown to the program in a
// mount namespace of its own): the starts meet in a private folder of the
// user's cache instead, so a second start still hands over and ends. A start
// that meets elsewhere (another runtime folder) is kept off the data folder.
TEST_F(ProgramFixture, SquattedRuntimeFolderStillLetsOnlyOneInstanceRun) {
  QF_REQUIRE_DISPLAY();
  if (!gui_test::HaveXdotool()) GTEST_FAIL() << "no xdotool";
  const fs::path tmp_folder = "/tmp/Quillfern-" + std::to_string(::geteuid());
  std::error_code ec;
  if (!fs::exists(tmp_folder)) {
    fs::create_directory(tmp_folder);
    ::chmod(tmp_folder.c_str(), 0700);
  }
  const fs::path squat = dir / "squat";
  fs::create_directories(squat);
  ::chmod(squat.c_str(), 0777);
  ASSERT_EQ(::chown(squat.c_str(), ::geteuid() + 4242, ::getegid()), 0);
  launcher = {"unshare", "-m", "sh", "-c", "mount --bind \"$0\" " + tmp_folder.string() + " && exec \"$@\"",
              squat.string()};
  // A short cache path: the socket's path must fit an address.
  const fs::path cache = "/tmp/qfc_" + std::to_string(::getpid());
  fs::create_directories(cache);
  struct Remove {
    fs::path path;
    ~Remove() { fs::remove_all(path); }
  } remove_cache{cache};
  env_changes = {"XDG_RUNTIME_DIR", "XDG_CACHE_HOME=" + cache.string()};

  const fs::path log = dir / "first.log";
  const pid_t first = Start({}, log, dir / "work");
  ASSERT_TRUE(MainWindowShown(first)) << ReadFile(log);
  const fs::path torrent = dir / "handed.torrent";
  WriteTorrent(torrent, "handed");
  const pid_t second = Start({torrent.string()}, dir / "second.log", dir / "work");
  EXPECT_EQ(WaitExit(second), 0) << ReadFile(dir / "second.log");
  EXPECT_TRUE(test_support::wait_until([&] { return fs::exists(DataFolder() / "handed.torrent"); })) << ReadFile(log);
  EXPECT_TRUE(fs::is_socket(cache / ("Quillfern-" + std::to_string(::geteuid())) / "Quillfern" / "instance.socket"));

  // Another runtime folder, the same data folder: refused with a message.
  fs::create_directories(dir / "run2");
  ::chmod((dir / "run2").c_str(), 0700);
  launcher.clear();
  env_changes = {"XDG_RUNTIME_DIR=" + (dir / "run2").string()};
  const fs::path third_log = dir / "third.log";
  const pid_t third = Start({}, third_log, dir / "work");
  std::string box;
  ASSERT_TRUE(test_support::wait_until([&] { return !(box = VisibleWindows(third, "Quillfern")).empty(); }))
      << ReadFile(third_log);
  EXPECT_NE(ReadFile(third_log).find("Quillfern is already running with the data folder"), std::string::npos);
  const std::string id = box.substr(0, box.find('\n'));
  EXPECT_TRUE(ShootWindow("second_instance_refused", id));
  Xdo({"windowfocus", "--sync", id});
  Xdo({"key", "Return"});
  EXPECT_EQ(WaitExit(third), 1);

  ASSERT_EQ(::kill(first, SIGTERM), 0);
  EXPECT_EQ(WaitExit(first), 0) << ReadFile(log);
  EXPECT_TRUE(InListFile(DataFolder() / "TorrentQueue.txt", DataFolder() / "handed.torrent"));
}

}  // namespace

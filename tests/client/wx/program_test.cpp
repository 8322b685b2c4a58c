// The real Quillfern program under the test's X server, with folders of its
// own (home, configuration, data, runtime): its window, a second start that
// hands its .torrent path over and ends (the first adds the torrent), and
// SIGTERM.

#include "client/utf16_ini_file.h"
#include "client/wide_text.h"
#include "platform/profile.h"
#include "tests/gui_support/gui_harness.h"
#include "tests/support/wait.h"

#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <fstream>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

namespace fs = std::filesystem;
using namespace std::chrono_literals;

namespace {

const fs::path kProgram = fs::path(QF_BINARY_DIR) / "client" / "Quillfern";

std::string ReadFile(const fs::path& file) {
  std::ifstream in(file);
  std::stringstream s;
  s << in.rdbuf();
  return s.str();
}

// What a command prints on its standard output; empty when it fails.
std::string Output(const std::string& command) {
  std::string out;
  if (FILE* p = ::popen(command.c_str(), "r")) {
    char buffer[256];
    while (std::fgets(buffer, sizeof buffer, p)) out += buffer;
    ::pclose(p);
  }
  return out;
}

// A small single-file .torrent named `name`.
void WriteTorrent(const fs::path& file, const std::string& name) {
  fs::create_directories(file.parent_path());
  std::ofstream(file, std::ios::binary) << "d8:announce22:http://127.0.0.1:1/ann4:infod6:lengthi1000e4:name"
                                        << name.size() << ":" << name << "12:piece lengthi16384e6:pieces20:"
                                        << std::string(20, 'x') << "ee";
}

// The torrent's section in the list file written at the end of a run.
bool InListFile(const fs::path& list_file, const fs::path& torrent) {
  client::Utf16IniFile ini;
  if (!ini.Load(list_file)) return false;
  const std::u16string section = client::EscapeSectionName(client::WideToUtf16(client::Utf8ToWide(torrent.string())));
  return ini.Get(section, u"Priority").has_value();
}

struct ProgramFixture : ::testing::Test {
  fs::path dir;
  std::vector<pid_t> started;

  void SetUp() override {
    if (!fs::exists(kProgram)) GTEST_SKIP() << "Quillfern is not built";
    dir = fs::temp_directory_path() / ("qf_prog_" + std::to_string(::getpid()) + "_" +
                                       ::testing::UnitTest::GetInstance()->current_test_info()->name());
    fs::remove_all(dir);
    for (const char* sub : {"home", "config/Quillfern", "data", "run", "work"}) fs::create_directories(dir / sub);
    fs::permissions(dir / "run", fs::perms::owner_all, fs::perm_options::replace);
    platform::profile p = Profile();
    p.WriteProfileInt("Configuration", "MinPort", 0);  // any free port
    p.WriteProfileInt("Configuration", "MaxPort", 0);
    p.WriteProfileInt("Configuration", "DHTPort", 0);
    // New torrents go to a folder of the test's without asking.
    fs::create_directories(dir / "downloads");
    p.WriteProfileInt("Configuration", "ASDMode", 0);
    p.WriteProfileString("Configuration", "ASDSingle", (dir / "downloads").string() + "/");
  }
  void TearDown() override {
    for (pid_t pid : started) {
      if (::kill(pid, 0) == 0) ::kill(pid, SIGKILL);
      ::waitpid(pid, nullptr, 0);
    }
    if (!dir.empty()) fs::remove_all(dir);
  }

  platform::profile Profile() const { return platform::profile(dir / "config/Quillfern/Quillfern.ini"); }
  fs::path DataFolder() const { return dir / "data/Quillfern/Torrents"; }

  // Starts the program with `args` in `cwd`; its error output goes to
  // `log`.
  pid_t Start(const std::vector<std::string>& args, const fs::path& log, const fs::path& cwd) {
    std::vector<std::string> env_text = {
        "HOME=" + (dir / "home").string(),          "XDG_CONFIG_HOME=" + (dir / "config").string(),
        "XDG_DATA_HOME=" + (dir / "data").string(), "XDG_RUNTIME_DIR=" + (dir / "run").string(),
        "DISPLAY=" + std::string(std::getenv("DISPLAY")), "GDK_BACKEND=x11",
        "NO_AT_BRIDGE=1",                            "PATH=/usr/bin:/bin"};
    // Sanitizer runs pass their options on.
    for (const char* name : {"ASAN_OPTIONS", "LSAN_OPTIONS", "UBSAN_OPTIONS", "TSAN_OPTIONS"})
      if (const char* value = std::getenv(name)) env_text.push_back(std::string(name) + "=" + value);
    std::vector<char*> env;
    for (auto& e : env_text) env.push_back(e.data());
    env.push_back(nullptr);
    std::vector<std::string> argv_text = {kProgram.string()};
    argv_text.insert(argv_text.end(), args.begin(), args.end());
    std::vector<char*> argv;
    for (auto& a : argv_text) argv.push_back(a.data());
    argv.push_back(nullptr);

    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 1, "/dev/null", O_WRONLY, 0);
    posix_spawn_file_actions_addopen(&actions, 2, log.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
    posix_spawn_file_actions_addchdir_np(&actions, cwd.c_str());
    pid_t pid = -1;
    const int rc = posix_spawn(&pid, argv[0], &actions, nullptr, argv.data(), env.data());
    posix_spawn_file_actions_destroy(&actions);
    EXPECT_EQ(rc, 0);
    if (rc == 0) started.push_back(pid);
    return pid;
  }

  // The exit code once the process ended within the deadline; -1 otherwise.
  static int WaitExit(pid_t pid) {
    int status = 0;
    if (!test_support::wait_until([&] { return ::waitpid(pid, &status, WNOHANG) == pid; })) return -1;
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
  }

  // The X windows of the process named "Quillfern...".
  static std::string Windows(pid_t pid) {
    return Output("xdotool search --pid " + std::to_string(pid) + " --name '^Quillfern' 2>/dev/null");
  }
};

TEST_F(ProgramFixture, ShowsItsWindowTakesHandOversAndEndsCleanlyOnSigterm) {
  QF_REQUIRE_DISPLAY();
  if (!gui_test::HaveXdotool()) GTEST_SKIP() << "no xdotool";
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

TEST_F(ProgramFixture, SigintEndsAStartupWithATorrentPathLikeClosing) {
  QF_REQUIRE_DISPLAY();
  if (!gui_test::HaveXdotool()) GTEST_SKIP() << "no xdotool";
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

}  // namespace

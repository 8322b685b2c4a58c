// The real Quillfern program under the test's X server, with folders of its
// own (home, configuration, data, runtime): its window, a second start that
// hands its .torrent path over and ends, and SIGTERM.

#include "platform/profile.h"
#include "tests/gui_support/gui_harness.h"

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

// Waits for `done` with a deadline, without pumping this process's events.
bool WaitFor(const std::function<bool()>& done, std::chrono::milliseconds deadline = 20s) {
  const auto end = std::chrono::steady_clock::now() + deadline;
  while (!done()) {
    if (std::chrono::steady_clock::now() >= end) return false;
    std::this_thread::sleep_for(20ms);
  }
  return true;
}

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
  }
  void TearDown() override {
    for (pid_t pid : started) {
      if (::kill(pid, 0) == 0) ::kill(pid, SIGKILL);
      ::waitpid(pid, nullptr, 0);
    }
    if (!dir.empty()) fs::remove_all(dir);
  }

  platform::profile Profile() const { return platform::profile(dir / "config/Quillfern/Quillfern.ini"); }

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
  static int WaitExit(pid_t pid, std::chrono::milliseconds deadline = 30s) {
    int status = 0;
    if (!WaitFor([&] { return ::waitpid(pid, &status, WNOHANG) == pid; }, deadline)) return -1;
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
  ASSERT_TRUE(WaitFor([&] { return !Windows(first).empty(); })) << ReadFile(log);
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
  ASSERT_TRUE(WaitFor([&] { return capture(first_paint); }));
  // The main timer's first tick puts the engine's figures into the caption
  // ("Quillfern 0/4 - 0/0MB - DHT 0/0"), which the frame draws.
  ASSERT_TRUE(WaitFor([&] {
    return Output("xdotool search --pid " + std::to_string(first) + " --name 'MB' 2>/dev/null").size() > 0;
  }));
  // For the picture only: the caption redrawn (unless the first paint came
  // after the tick already).
  wxImage shot = first_paint;
  WaitFor([&] {
    if (!capture(shot)) return false;
    for (int y = 4; y < 26; ++y)
      for (int x = 60; x < 150; ++x)
        if (gui_test::PixelAt(shot, x, y) != gui_test::PixelAt(first_paint, x, y)) return true;
    return false;
  }, 5s);
  shot.SaveFile((gui_test::ScreenshotFolder() / "quillfern_program.png").string(), wxBITMAP_TYPE_PNG);

  // A second start hands its path over and ends without a window.
  const std::string path = (dir / "some folder" / "a film.torrent").string();
  const pid_t second = Start({path}, dir / "second.log", dir / "work");
  EXPECT_EQ(WaitExit(second), 0);
  EXPECT_TRUE(WaitFor([&] { return ReadFile(log).find("Quillfern: open " + path + "\n") != std::string::npos; }))
      << ReadFile(log);
  EXPECT_EQ(ReadFile(dir / "second.log"), "");

  // A relative path is taken from where the second start ran; the quotes go.
  const pid_t third = Start({"\"rel.torrent\""}, dir / "third.log", dir / "work");
  EXPECT_EQ(WaitExit(third), 0);
  const std::string relative = (dir / "work" / "rel.torrent").string();
  EXPECT_TRUE(WaitFor([&] { return ReadFile(log).find("Quillfern: open " + relative + "\n") != std::string::npos; }))
      << ReadFile(log);

  // Anything else only brings the window to the front.
  const pid_t fourth = Start({"/x/A.TORRENT"}, dir / "fourth.log", dir / "work");
  EXPECT_EQ(WaitExit(fourth), 0);

  // Ended by SIGTERM: the settings and the window's position are written.
  ASSERT_EQ(::kill(first, SIGTERM), 0);
  EXPECT_EQ(WaitExit(first), 0);
  EXPECT_EQ(ReadFile(log).find("/x/A.TORRENT"), std::string::npos);

  const platform::profile p = Profile();
  EXPECT_EQ(p.GetProfileInt("Configuration", "Pos Left", -1), 20);
  EXPECT_EQ(p.GetProfileInt("Configuration", "Pos Top", -1), 20);
  EXPECT_EQ(p.GetProfileInt("Configuration", "Pos Right", -1), 420);
  EXPECT_EQ(p.GetProfileInt("Configuration", "Pos Bottom", -1), 220);
  EXPECT_EQ(p.GetProfileInt("Configuration", "Intervall", -1), 500);
  EXPECT_EQ(p.GetProfileString("Configuration", "Torrents"), (dir / "data/Quillfern/Torrents/").string());
  EXPECT_EQ(p.GetProfileString("Configuration", "Last Destination"), (dir / "work").string() + "/");
  EXPECT_TRUE(fs::exists(dir / "data/Quillfern/Torrents/TorrentQueue.txt"));
}

TEST_F(ProgramFixture, SigintEndsAStartupWithATorrentPathLikeClosing) {
  QF_REQUIRE_DISPLAY();
  if (!gui_test::HaveXdotool()) GTEST_SKIP() << "no xdotool";
  const fs::path log = dir / "first.log";
  const pid_t first = Start({"\"" + (dir / "b c.torrent").string() + "\""}, log, dir / "work");
  ASSERT_TRUE(WaitFor([&] { return !Windows(first).empty(); })) << ReadFile(log);
  EXPECT_TRUE(WaitFor([&] {
    return ReadFile(log).find("Quillfern: open " + (dir / "b c.torrent").string() + "\n") != std::string::npos;
  })) << ReadFile(log);
  ASSERT_EQ(::kill(first, SIGINT), 0);
  EXPECT_EQ(WaitExit(first), 0);
  EXPECT_EQ(Profile().GetProfileInt("Configuration", "Pos Left", -1), 20);
  EXPECT_EQ(Profile().GetProfileInt("Configuration", "Intervall", -1), 500);
}

}  // namespace

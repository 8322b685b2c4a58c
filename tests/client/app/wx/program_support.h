#pragma once
// The real Quillfern program started by a test under the test's X server,
// with folders of its own (home, configuration, data, runtime) and a
// profile that takes any free port and saves new torrents without asking.

#include "client/files/utf16_ini_file.h"
#include "client/base/wide_text.h"
#include "platform/profile.h"
#include "tests/gui_support/gui_harness.h"
#include "tests/gui_support/x11_capture.h"
#include "tests/support/wait.h"

#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <regex>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

namespace program_test {

namespace fs = std::filesystem;

const fs::path kProgram = fs::path(QF_BINARY_DIR) / "client" / "Quillfern";

// Without a position in the profile the window's client area starts at
// 29,44 on the screen (the frame's left and top borders are 9 and 24).
constexpr int kClientX = 20 + 9, kClientY = 20 + 24;

inline std::string ReadFile(const fs::path& file) {
  std::ifstream in(file);
  std::stringstream s;
  s << in.rdbuf();
  return s.str();
}

// What a command prints on its standard output; empty when it fails.
inline std::string Output(const std::string& command) {
  std::string out;
  if (FILE* p = ::popen(command.c_str(), "r")) {
    char buffer[256];
    while (std::fgets(buffer, sizeof buffer, p)) out += buffer;
    ::pclose(p);
  }
  return out;
}

// A small single-file .torrent named `name`.
inline void WriteTorrent(const fs::path& file, const std::string& name) {
  fs::create_directories(file.parent_path());
  std::ofstream(file, std::ios::binary) << "d8:announce22:http://127.0.0.1:1/ann4:infod6:lengthi1000e4:name"
                                        << name.size() << ":" << name << "12:piece lengthi16384e6:pieces20:"
                                        << std::string(20, 'x') << "ee";
}

// The torrent's section in the list file written at the end of a run.
inline bool InListFile(const fs::path& list_file, const fs::path& torrent) {
  client::Utf16IniFile ini;
  if (!ini.Load(list_file)) return false;
  const std::u16string section = client::EscapeSectionName(client::WideToUtf16(client::Utf8ToWide(torrent.string())));
  return ini.Get(section, u"Priority").has_value();
}

struct ProgramFixture : ::testing::Test {
  fs::path dir;
  std::vector<pid_t> started;
  // The program Start runs, and what it changes for a test: environment
  // entries ("NAME=value" replaces, a bare "NAME" removes) and a command
  // the program runs under (found on PATH; it must exec the program in the
  // same process, as unshare and sh -c 'exec ...' do).
  fs::path program = kProgram;
  std::vector<std::string> env_changes;
  std::vector<std::string> launcher;

  void SetUp() override {
    if (!fs::exists(kProgram)) GTEST_FAIL() << "Quillfern is not built";
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
  // "Use Database" on, with the server's address and login (a
  // store_test::server).
  template <class Server>
  void UseDatabase(const Server& at) const {
    platform::profile p = Profile();
    p.WriteProfileInt("Configuration", "Use Database", 1);
    p.WriteProfileString("Configuration", "Database URL", at.host);
    p.WriteProfileInt("Configuration", "Database Port", at.port);
    p.WriteProfileString("Configuration", "Database User", at.user);
    p.WriteProfileString("Configuration", "Database Password", at.password);
  }
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
    for (const std::string& change : env_changes) {
      const std::string name = change.substr(0, change.find('='));
      std::erase_if(env_text, [&](const std::string& e) { return e.compare(0, name.size() + 1, name + "=") == 0; });
      if (change.find('=') != std::string::npos) env_text.push_back(change);
    }
    std::vector<char*> env;
    for (auto& e : env_text) env.push_back(e.data());
    env.push_back(nullptr);
    std::vector<std::string> argv_text = launcher;
    argv_text.push_back(program.string());
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
    const int rc = launcher.empty() ? posix_spawn(&pid, argv[0], &actions, nullptr, argv.data(), env.data())
                                    : posix_spawnp(&pid, argv[0], &actions, nullptr, argv.data(), env.data());
    posix_spawn_file_actions_destroy(&actions);
    EXPECT_EQ(rc, 0);
    if (rc == 0) started.push_back(pid);
    return pid;
  }

  // The exit code once the process ended within the deadline; -1 otherwise.
  static int WaitExit(pid_t pid, test_support::wait_clock::duration limit = test_support::default_deadline) {
    int status = 0;
    if (!test_support::wait_until([&] { return ::waitpid(pid, &status, WNOHANG) == pid; }, limit)) return -1;
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
  }

  // The picture of the main window as the screen shows it (the window
  // covers 20,20 to 420,220 without a position in the profile), written to
  // build/screenshots/<name>.png; false while it is not painted (its middle
  // or its left edge black) or nothing could be read.
  // Saves the picture once the window has painted: not black, and the same
  // in two captures a moment apart (a caption set just now is painted on the
  // program's next idle turn).
  static bool ShootMainWindow(const std::string& name) {
    std::vector<std::uint8_t> rgb, again;
    if (!gui_test::CaptureRootRect(20, 20, 400, 200, rgb)) return false;
    std::this_thread::sleep_for(std::chrono::milliseconds(150));
    if (!gui_test::CaptureRootRect(20, 20, 400, 200, again) || again != rgb) return false;
    wxImage image(400, 200, false);
    std::copy(rgb.begin(), rgb.end(), image.GetData());
    if (gui_test::PixelAt(image, 200, 100) == gui_test::Rgb8{0, 0, 0} ||
        gui_test::PixelAt(image, 0, 100) == gui_test::Rgb8{0, 0, 0})
      return false;
    return image.SaveFile((gui_test::ScreenshotFolder() / (name + ".png")).string(), wxBITMAP_TYPE_PNG);
  }

  // A popup menu of the process is shown.
  static bool MenuShown(pid_t pid) {
    std::istringstream ids(Output("xdotool search --onlyvisible --pid " + std::to_string(pid) + " 2>/dev/null"));
    for (std::string id; std::getline(ids, id);)
      if (Output("xprop -id " + id + " _NET_WM_WINDOW_TYPE 2>/dev/null").find("POPUP_MENU") != std::string::npos)
        return true;
    return false;
  }

  // The process's visible windows: the main window, and a menu while one
  // is open.
  static std::size_t ShownWindowCount(pid_t pid) {
    const std::string out = Output("xdotool search --onlyvisible --pid " + std::to_string(pid) + " 2>/dev/null");
    return static_cast<std::size_t>(std::count(out.begin(), out.end(), '\n'));
  }
  // A right click at a client point, then the menu's entry `index` (from
  // 1) chosen with the arrow keys once the menu is up.
  static void ChooseFromMenuAt(pid_t pid, int x, int y, int index) {
    const std::size_t before = ShownWindowCount(pid);
    ASSERT_EQ(std::system(("xdotool mousemove --sync " + std::to_string(kClientX + x) + " " +
                           std::to_string(kClientY + y) + " click 3")
                              .c_str()),
              0);
    ASSERT_TRUE(test_support::wait_until([&] { return ShownWindowCount(pid) > before; })) << "no menu";
    std::string keys = "xdotool key --delay 60";
    for (int i = 0; i < index; ++i) keys += " Down";
    keys += " Return";
    ASSERT_EQ(std::system(keys.c_str()), 0);
    ASSERT_TRUE(test_support::wait_until([&] { return ShownWindowCount(pid) == before; })) << "the menu stays";
  }

  // The X windows of the process named "Quillfern...".
  static std::string Windows(pid_t pid) {
    return Output("xdotool search --all --pid " + std::to_string(pid) + " --name '^Quillfern' 2>/dev/null");
  }
  // The names of the process's windows called "Quillfern...", one a line
  // (the main window's is its caption).
  static std::string WindowNames(pid_t pid) {
    std::istringstream windows(Windows(pid));
    std::string names;
    for (std::string id; std::getline(windows, id);)
      if (!id.empty()) names += Output("xdotool getwindowname " + id + " 2>/dev/null");
    return names;
  }
  // The main window's caption shows these counts ("1/4").
  static bool CountsShown(pid_t pid, const std::string& counts) {
    return std::regex_search(WindowNames(pid), std::regex("(^|\n)Quillfern " + counts + " "));
  }
};

inline int Xdo(const std::vector<std::string>& args) {
  std::string command = "xdotool";
  for (const auto& a : args) command += " '" + a + "'";
  return std::system((command + " >/dev/null 2>&1").c_str());
}

// The ids of the process's visible windows whose name matches `name`.
inline std::string VisibleWindows(pid_t pid, const std::string& name) {
  return Output("xdotool search --all --onlyvisible --pid " + std::to_string(pid) + " --name '" + name +
                "' 2>/dev/null");
}

// The main window is on the screen (and the signals' handlers are set).
inline bool MainWindowShown(pid_t pid) {
  return test_support::wait_until([&] { return !VisibleWindows(pid, "^Quillfern").empty(); });
}

inline void Keys(const std::string& key, int times) {
  for (int i = 0; i < times; ++i) Xdo({"key", key});
}

// A window's place and size on the screen; false when xdotool cannot tell.
inline bool WindowGeometry(const std::string& window_id, int& x, int& y, int& width, int& height) {
  const std::string shell = Output("xdotool getwindowgeometry --shell " + window_id);
  const std::size_t at = shell.find("X=");
  return at != std::string::npos &&
         std::sscanf(shell.c_str() + at, "X=%d\nY=%d\nWIDTH=%d\nHEIGHT=%d", &x, &y, &width, &height) == 4;
}

// Saves the picture of a window of the program with the main window (20,20
// to 420,220) beside it, once the window has its size and has painted (its
// middle not black, two captures alike); false when it never did.
inline bool ShootWindow(const std::string& name, const std::string& window_id) {
  std::vector<std::uint8_t> rgb, last;
  int left = 0, top = 0, width = 0, height = 0;
  const bool painted = test_support::wait_until([&] {
    int x = 0, y = 0, w = 0, h = 0;
    if (!WindowGeometry(window_id, x, y, w, h) || w < 100 || h < 60) return false;
    x = std::max(x, 0), y = std::max(y, 0);
    const int l = std::min(x, 20), t = std::min(y, 20);
    const int r = std::min(std::max(x + w, 420), 1280), b = std::min(std::max(y + h, 220), 1024);
    if (l != left || t != top || r - l != width || b - t != height) last.clear();
    left = l, top = t, width = r - l, height = b - t;
    if (!gui_test::CaptureRootRect(left, top, width, height, rgb)) return false;
    const int middle_x = x - left + std::min(w, 1280 - x) / 2, middle_y = y - top + std::min(h, 1024 - y) / 2;
    const std::size_t middle = (static_cast<std::size_t>(middle_y) * width + middle_x) * 3;
    const bool ok = rgb == last && (rgb[middle] | rgb[middle + 1] | rgb[middle + 2]) != 0;
    last = rgb;
    return ok;
  });
  if (rgb.empty()) return false;
  wxImage image(width, height, false);
  std::copy(rgb.begin(), rgb.end(), image.GetData());
  image.SaveFile((gui_test::ScreenshotFolder() / (name + ".png")).string(), wxBITMAP_TYPE_PNG);
  return painted;
}


// Right-clicks at a screen point until the context menu shows (a row may
// still be on its way to its place).
inline bool OpenMenu(pid_t pid, int x, int y) {
  for (int attempt = 0; attempt < 5; ++attempt) {
    // (Not --sync: it waits for a move, and the pointer may be there already.)
    Xdo({"mousemove", std::to_string(x + attempt), std::to_string(y), "click", "3"});
    if (test_support::wait_until([&] { return ProgramFixture::MenuShown(pid); }, std::chrono::seconds(2))) return true;
  }
  return false;
}

// Opens the context menu at a screen point and picks the entry `downs` down
// from the top (or, with a negative count, that many up from the bottom).
inline bool PickFromMenu(pid_t pid, int x, int y, int downs) {
  if (!OpenMenu(pid, x, y)) return false;
  Keys(downs > 0 ? "Down" : "Up", downs > 0 ? downs : -downs);
  Xdo({"key", "Return"});
  return true;
}

}  // namespace program_test

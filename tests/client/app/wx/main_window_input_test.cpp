// The real Quillfern program under real mouse and keyboard input: the
// borders resize the window under a window manager and on a bare X server;
// a double click on a row opens its details and one beside the rows makes
// a torrent; the wheel and the scroll keys move the rows; the home-page
// link lights up under the mouse and a click opens it in the browser.

#include "program_support.h"
#include "tests/engine/storage/storage_test_support.h"

#include <map>

namespace fs = std::filesystem;
using namespace std::chrono_literals;
using namespace program_test;

namespace {

struct Geometry {
  int x = 0, y = 0, width = 0, height = 0;
  bool operator==(const Geometry&) const = default;
};
std::ostream& operator<<(std::ostream& os, const Geometry& g) {
  return os << g.width << "x" << g.height << "+" << g.x << "+" << g.y;
}

int Shell(const std::string& command) { return std::system((command + " >/dev/null 2>&1").c_str()); }

// The window's place and size on the screen, as xdotool reports it.
Geometry GeometryOf(const std::string& window) {
  std::map<std::string, int> values;
  std::istringstream lines(Output("xdotool getwindowgeometry --shell " + window + " 2>/dev/null"));
  for (std::string line; std::getline(lines, line);)
    if (const auto eq = line.find('='); eq != std::string::npos) values[line.substr(0, eq)] = std::atoi(&line[eq + 1]);
  return {values["X"], values["Y"], values["WIDTH"], values["HEIGHT"]};
}

wxImage CaptureScreen(int x, int y, int width, int height) {
  std::vector<std::uint8_t> rgb;
  if (!gui_test::CaptureRootRect(x, y, width, height, rgb)) return {};
  wxImage image(width, height, false);
  std::copy(rgb.begin(), rgb.end(), image.GetData());
  return image;
}

void SavePng(const wxImage& image, const std::string& name) {
  if (image.IsOk()) image.SaveFile((gui_test::ScreenshotFolder() / (name + ".png")).string(), wxBITMAP_TYPE_PNG);
}

// Where the scroll thumb is drawn (window coordinates): the first row of
// the track's middle column in the thumb's fill (the inactive button
// colour, yellow in the default scheme), a fixed distance below the
// thumb's top; -1 when none is seen.
int ThumbTop(const wxImage& window_image) {
  if (!window_image.IsOk()) return -1;
  const int x = window_image.GetWidth() - 14;  // the track lies 10 px wide, 9 px in from the right
  for (int y = 24; y < window_image.GetHeight(); ++y) {
    const gui_test::Rgb8 c = gui_test::PixelAt(window_image, x, y);
    if (c.r > 200 && c.g > 200 && c.b < 60) return y;
  }
  return -1;
}

// An X server of the test's own (-displayfd picks a free display), with
// or without a window manager on it. The test's own commands (xdotool,
// captures) go there while it exists.
class OwnDisplay {
 public:
  OwnDisplay(const fs::path& dir, bool window_manager) {
    const fs::path number = dir / "display.txt";
    m_xvfb = Spawn({"Xvfb", "-displayfd", "1", "-screen", "0", "1280x1024x24", "-nolisten", "tcp"}, number, {});
    test_support::wait_until([&] { return ReadFile(number).find('\n') != std::string::npos; });
    const std::string text = ReadFile(number);
    if (text.empty()) return;
    name = ":" + text.substr(0, text.find('\n'));
    if (const char* old = std::getenv("DISPLAY")) m_previous = old;
    ::setenv("DISPLAY", name.c_str(), 1);
    if (window_manager) {
      // Running once it answers for the desktop (_NET_CURRENT_DESKTOP); one
      // that could not reach the new server on a busy machine is started
      // again.
      managed = test_support::wait_until([&] {
        if (m_wm <= 0 || ::waitpid(m_wm, nullptr, WNOHANG) == m_wm)
          m_wm = Spawn({"openbox", "--sm-disable"}, dir / "openbox.log", {"DISPLAY=" + name});
        return Shell("xdotool get_desktop") == 0;
      });
    }
  }
  ~OwnDisplay() {
    if (!m_previous.empty()) ::setenv("DISPLAY", m_previous.c_str(), 1);
    for (pid_t pid : {m_wm, m_xvfb})
      if (pid > 0) {
        ::kill(pid, SIGTERM);
        ::waitpid(pid, nullptr, 0);
      }
  }

  std::string name;  // ":N"; empty when the server did not start
  bool managed = false;

 private:
  static pid_t Spawn(const std::vector<std::string>& args, const fs::path& out, std::vector<std::string> env) {
    for (char** e = environ; *e; ++e) env.push_back(*e);  // the first DISPLAY wins
    std::vector<char*> argv, envp;
    std::vector<std::string> a = args;
    for (auto& s : a) argv.push_back(s.data());
    argv.push_back(nullptr);
    for (auto& s : env) envp.push_back(s.data());
    envp.push_back(nullptr);
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 1, out.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
    posix_spawn_file_actions_addopen(&actions, 2, "/dev/null", O_WRONLY, 0);
    pid_t pid = -1;
    if (posix_spawnp(&pid, argv[0], &actions, nullptr, argv.data(), envp.data()) != 0) pid = -1;
    posix_spawn_file_actions_destroy(&actions);
    return pid;
  }

  pid_t m_xvfb = -1, m_wm = -1;
  std::string m_previous;
};

struct InputFixture : ProgramFixture {
  pid_t program = -1;
  std::string window;
  std::unique_ptr<OwnDisplay> display;

  // The program runs on an X server of the test's own, which no other
  // test's windows or pointer moves reach.
  void OwnServer() {
    display = std::make_unique<OwnDisplay>(dir, false);
    ASSERT_FALSE(display->name.empty()) << "Xvfb did not start";
    env_changes.push_back("DISPLAY=" + display->name);
  }
  void TearDown() override {
    ProgramFixture::TearDown();
    display.reset();
  }

  // Starts Quillfern with `args` and waits for its window.
  void StartProgram(const std::vector<std::string>& args = {}) {
    program = Start(args, dir / "program.log", dir / "work");
    // The main window: the program's one shown window named so (the
    // toolkit keeps a hidden one of the same name).
    const std::string search = "xdotool search --all --onlyvisible --pid " + std::to_string(program) + " --name '^Quillfern'";
    ASSERT_TRUE(test_support::wait_until([&] { return !Output(search).empty(); })) << Log();
    window = Output(search).substr(0, Output(search).find('\n'));
    // Painted: the middle of the client area is not black any more.
    ASSERT_TRUE(test_support::wait_until([&] {
      const Geometry g = GeometryOf(window);
      const wxImage image = CaptureScreen(g.x, g.y, g.width, g.height);
      return image.IsOk() && gui_test::PixelAt(image, g.width / 2, g.height / 2) != gui_test::Rgb8{0, 0, 0};
    }));
  }
  wxImage Shot() const {
    const Geometry g = GeometryOf(window);
    return CaptureScreen(g.x, g.y, g.width, g.height);
  }
  // A point of the window in screen coordinates, as xdotool arguments.
  std::string At(int x, int y) const {
    const Geometry g = GeometryOf(window);
    return std::to_string(g.x + x) + " " + std::to_string(g.y + y);
  }
  // The log lines the program printed.
  std::string Log() const { return ReadFile(dir / "program.log"); }
  // A top-level window of the program's whose name matches.
  bool HasWindow(const std::string& name) const {
    return !Output("xdotool search --all --onlyvisible --pid " + std::to_string(program) + " --name '" + name +
                   "' 2>/dev/null")
                .empty();
  }
  // Closes the program's window named `name` with Escape.
  void Dismiss(const std::string& name) {
    const std::string found = Output("xdotool search --all --onlyvisible --pid " + std::to_string(program) + " --name '" +
                                     name + "' 2>/dev/null");
    ASSERT_FALSE(found.empty());
    const std::string id = found.substr(0, found.find('\n'));
    Shell("xdotool windowfocus --sync " + id + " key Escape");
    EXPECT_TRUE(test_support::wait_until([&] { return !HasWindow(name); })) << name;
  }
  // The first row: the first tile below the info box, at client (0, 36),
  // which lies 9 px right of and 24 px below the window's corner.
  static constexpr int kRowLeft = 9, kRowTop = 24 + 36;
  bool FirstRowShown() const {
    return test_support::wait_until([&] {
      const wxImage image = Shot();
      return image.IsOk() && gui_test::PixelAt(image, kRowLeft + 83, kRowTop + 50) != gui_test::PixelAt(image, 300, 100);
    });
  }
  void End() {
    ASSERT_EQ(::kill(program, SIGTERM), 0);
    EXPECT_EQ(WaitExit(program), 0);
  }
};

// A press on a border, a drag outward by (dx, dy) in small steps and the
// release.
void DragBorder(const InputFixture& f, int x, int y, int dx, int dy) {
  std::string command = "xdotool mousemove --sync " + f.At(x, y) + " mousedown 1 sleep 0.2";
  const Geometry g = GeometryOf(f.window);
  for (int step = 1; step <= 4; ++step)
    command += " mousemove --sync " + std::to_string(g.x + x + dx * step / 4) + " " +
               std::to_string(g.y + y + dy * step / 4) + " sleep 0.05";
  Shell(command + " mouseup 1");
}

TEST_F(InputFixture, TheBordersResizeTheWindowWithAndWithoutAWindowManager) {
  QF_REQUIRE_DISPLAY();
  for (const bool with_wm : {false, true}) {
    SCOPED_TRACE(with_wm ? "with a window manager" : "on a bare X server");
    OwnDisplay display(dir, with_wm);
    ASSERT_FALSE(display.name.empty()) << "Xvfb did not start";
    if (with_wm) {
      ASSERT_TRUE(display.managed) << ReadFile(dir / "openbox.log");
    }
    env_changes = {"DISPLAY=" + display.name};
    // Away from the screen's edges, whatever the last run left.
    platform::profile p = Profile();
    for (const auto& [key, value] : {std::pair{"Pos Left", 200}, {"Pos Top", 150}, {"Pos Right", 600}, {"Pos Bottom", 350}})
      p.WriteProfileInt("Configuration", key, value);
    StartProgram();
    ASSERT_FALSE(HasFatalFailure());
    struct Border {
      const char* name;
      double fx, fy;   // where it is pressed: a fraction of the size, or
      int ox, oy;      // an offset from the left/top (>= 0) or right/bottom (< 0)
      int dx, dy;      // the drag
    };
    const Border borders[] = {
        {"right", 0, 0.5, -4, 0, 40, 0},  {"bottom", 0.5, 0, 0, -4, 0, 40}, {"left", 0, 0.5, 3, 0, -40, 0},
        {"top", 0.5, 0, 0, 3, 0, -40},    {"bottom right", 0, 0, -5, -5, 30, 30},
    };
    for (const Border& b : borders) {
      SCOPED_TRACE(b.name);
      const Geometry before = GeometryOf(window);
      const int x = b.fx > 0 ? int(before.width * b.fx) : b.ox >= 0 ? b.ox : before.width + b.ox;
      const int y = b.fy > 0 ? int(before.height * b.fy) : b.oy >= 0 ? b.oy : before.height + b.oy;
      DragBorder(*this, x, y, b.dx, b.dy);
      // The dragged edges follow the mouse; the others stay where they were.
      // By hand the window follows exactly; a window manager may begin a
      // little after the press.
      auto follows = [&](const Geometry& now) {
        const int left = now.x - before.x, top = now.y - before.y;
        const int right = now.x + now.width - before.x - before.width;
        const int bottom = now.y + now.height - before.y - before.height;
        auto moved = [&](int edge, int by) {
          if (by == 0) return std::abs(edge) <= 1;
          return with_wm ? (by > 0 ? edge >= by / 2 && edge <= by : edge <= by / 2 && edge >= by) : edge == by;
        };
        const bool west = b.dx < 0, north = b.dy < 0;
        return moved(left, west ? b.dx : 0) && moved(right, west ? 0 : b.dx) && moved(top, north ? b.dy : 0) &&
               moved(bottom, north ? 0 : b.dy);
      };
      EXPECT_TRUE(test_support::wait_until([&] { return follows(GeometryOf(window)); }, 20s))
          << "before " << before << ", now " << GeometryOf(window);
    }
    // The frame and the client area follow the new size.
    wxImage shot;
    test_support::wait_until([&] {
      shot = Shot();
      return shot.IsOk() && gui_test::PixelAt(shot, shot.GetWidth() / 2, shot.GetHeight() - 20) != gui_test::Rgb8{0, 0, 0};
    });
    SavePng(shot, with_wm ? "quillfern_resized_with_wm" : "quillfern_resized_by_hand");
    EXPECT_GT(shot.GetWidth(), 400);
    EXPECT_GT(shot.GetHeight(), 200);
    End();
  }
}

TEST_F(InputFixture, ADoubleClickOnARowOpensItsDetailsAndBesideTheRowsMakesATorrent) {
  QF_REQUIRE_DISPLAY();
  OwnServer();
  ASSERT_FALSE(HasFatalFailure());
  const fs::path torrent = dir / "row one.torrent";
  WriteTorrent(torrent, "row one");
  StartProgram({torrent.string()});
  ASSERT_FALSE(HasFatalFailure());
  ASSERT_TRUE(test_support::wait_until([&] { return fs::exists(DataFolder() / "row one.torrent"); })) << Log();
  ASSERT_TRUE(FirstRowShown());
  SavePng(Shot(), "quillfern_one_row");

  // Beside the rows: Make Torrent.
  Shell("xdotool mousemove --sync " + At(300, kRowTop + 50) + " click --repeat 2 --delay 80 1");
  ASSERT_TRUE(test_support::wait_until([&] { return HasWindow("^Make Torrent"); })) << Log();
  Dismiss("^Make Torrent");
  // Inside the row and on its corner, outside the round chart: the
  // torrent's details, titled after the torrent.
  for (const auto& [x, y] : {std::pair{83, 50}, std::pair{3, 3}}) {
    Shell("xdotool mousemove --sync " + At(kRowLeft + x, kRowTop + y) + " click --repeat 2 --delay 80 1");
    ASSERT_TRUE(test_support::wait_until([&] { return HasWindow("^row one Properties"); }))
        << x << "," << y << "\n"
        << Output("xdotool search --all --onlyvisible --pid " + std::to_string(program) + " --name . getwindowname %@");
    EXPECT_FALSE(HasWindow("^Make Torrent"));
    SavePng(CaptureScreen(0, 0, 800, 600), "quillfern_row_double_click");
    Dismiss("^row one Properties");
  }
  End();
}

// A torrent of 100,000 files: its details open at once, as their file
// list makes only the rows in view, and close again.
TEST_F(InputFixture, TheDetailsOfATorrentOfManyFilesOpenAtOnce) {
  QF_REQUIRE_DISPLAY();
  OwnServer();
  ASSERT_FALSE(HasFatalFailure());
  const fs::path torrent = dir / "many.torrent";
  storage_test::write_text(torrent, storage_test::many_files_torrent(100000));
  StartProgram({torrent.string()});
  ASSERT_FALSE(HasFatalFailure());
  ASSERT_TRUE(test_support::wait_until([&] { return fs::exists(DataFolder() / "many.torrent"); })) << Log();
  ASSERT_TRUE(FirstRowShown()) << Log();
  Shell("xdotool mousemove --sync " + At(kRowLeft + 83, kRowTop + 50) + " click --repeat 2 --delay 80 1");
  ASSERT_TRUE(test_support::wait_until([&] { return HasWindow("^many Properties"); })) << Log();
  SavePng(CaptureScreen(0, 0, 1000, 700), "quillfern_details_many_files");
  Dismiss("^many Properties");
  End();
}

TEST_F(InputFixture, TheWheelAndTheScrollKeysMoveTheRows) {
  QF_REQUIRE_DISPLAY();
  OwnServer();
  ASSERT_FALSE(HasFatalFailure());
  // Three rows: two tiles on the first line, one on the second, which lies
  // below what the window shows.
  std::vector<fs::path> torrents;
  for (const char* name : {"one", "two", "three"}) {
    torrents.push_back(dir / (std::string(name) + ".torrent"));
    WriteTorrent(torrents.back(), name);
  }
  StartProgram({torrents[0].string()});
  ASSERT_FALSE(HasFatalFailure());
  for (std::size_t i = 1; i < torrents.size(); ++i) {
    ASSERT_TRUE(test_support::wait_until([&] { return fs::exists(DataFolder() / torrents[i - 1].filename()); }));
    EXPECT_EQ(WaitExit(Start({torrents[i].string()}, dir / "handover.log", dir / "work")), 0);
  }
  ASSERT_TRUE(test_support::wait_until([&] { return fs::exists(DataFolder() / "three.torrent"); })) << Log();
  int top = -1;
  ASSERT_TRUE(test_support::wait_until([&] { return (top = ThumbTop(Shot())) > 0; }));
  // The thumb starts at the track's top, 24 px below the window's.
  const int track_top = top, drawn_below_top = top - 24;

  // The thumb (and with it the rows) moves by what each input asks for.
  auto moves_to = [&](int expected) {
    const bool ok = test_support::wait_until([&] { return ThumbTop(Shot()) == expected; }, 20s);
    top = ThumbTop(Shot());
    return ok;
  };
  // Over a row: three lines (30 px) down per notch, then back.
  Shell("xdotool mousemove --sync " + At(9 + 83, 24 + 36 + 50) + " click 5");
  ASSERT_TRUE(moves_to(track_top + 30)) << "thumb at " << top;
  SavePng(Shot(), "quillfern_rows_wheel");
  Shell("xdotool click 4");
  ASSERT_TRUE(moves_to(track_top)) << "thumb at " << top;
  // Over the free client area as well.
  Shell("xdotool mousemove --sync " + At(300, 24 + 36 + 50) + " click 5");
  ASSERT_TRUE(moves_to(track_top + 30)) << "thumb at " << top;

  // The keys: a line is 10 px, a page the pitch of the lines (104 px),
  // held within the track.
  Shell("xdotool windowfocus --sync " + window);
  Shell("xdotool key Down");
  ASSERT_TRUE(moves_to(track_top + 40)) << "thumb at " << top;
  Shell("xdotool key Up Up");
  ASSERT_TRUE(moves_to(track_top + 20)) << "thumb at " << top;
  Shell("xdotool key Next");
  ASSERT_TRUE(moves_to(track_top + 124)) << "thumb at " << top;
  SavePng(Shot(), "quillfern_rows_page_down");
  Shell("xdotool key Next");  // the end of the track: 20 px (the thumb) above its bottom
  const int track_end = GeometryOf(window).height - 9 - 20 + drawn_below_top;
  ASSERT_TRUE(moves_to(track_end)) << "thumb at " << top;
  Shell("xdotool key Prior Prior");
  ASSERT_TRUE(moves_to(track_top)) << "thumb at " << top;
  End();
}

TEST_F(InputFixture, TheHomePageLinkLightsUnderTheMouseAndAClickOpensIt) {
  QF_REQUIRE_DISPLAY();
  OwnServer();
  ASSERT_FALSE(HasFatalFailure());
  // The browser is a script that notes the page it was given and ends
  // with the code in "code.txt".
  fs::create_directories(dir / "bin");
  const fs::path opened = dir / "opened.txt", code = dir / "code.txt";
  std::ofstream(code) << "0";
  std::ofstream(dir / "bin" / "xdg-open") << "#!/bin/sh\nprintf '%s\\n' \"$1\" >> '" << opened.string()
                                          << "'\nexit $(cat '" << code.string() << "')\n";
  fs::permissions(dir / "bin" / "xdg-open", fs::perms::owner_all);
  env_changes.push_back("PATH=" + (dir / "bin").string() + ":/usr/bin:/bin");
  StartProgram();
  ASSERT_FALSE(HasFatalFailure());

  // The info box: the client area's top-right 140 x 28 px, 8 px in; its
  // text turns red (the hover colour) under the mouse.
  const Geometry g = GeometryOf(window);
  const int box_left = g.width - 19 - 8 - 140, box_top = 24 + 8;
  auto red_text = [&] {
    const wxImage image = Shot();
    for (int y = box_top; y < box_top + 28; ++y)
      for (int x = box_left; x < box_left + 140; ++x) {
        const gui_test::Rgb8 c = gui_test::PixelAt(image, x, y);
        if (c.r > 180 && c.r > c.g + 100 && c.r > c.b + 60) return true;
      }
    return false;
  };
  EXPECT_FALSE(red_text());
  // The pointer moves over the link (the window becoming active or not as
  // the pointer enters it takes the hover away once more).
  int wiggle = 0;
  ASSERT_TRUE(test_support::wait_until([&] {
    Shell("xdotool mousemove --sync " + At(box_left + 100 + (wiggle++ % 2), box_top + 20));
    return red_text();
  }));
  SavePng(Shot(), "quillfern_home_page_link_hot");
  Shell("xdotool mousemove --sync " + At(box_left - 60, box_top + 60));
  ASSERT_TRUE(test_support::wait_until([&] { return !red_text(); }));

  // A click opens the page in the browser.
  Shell("xdotool mousemove --sync " + At(box_left + 100, box_top + 20) + " click 1");
  ASSERT_TRUE(test_support::wait_until([&] { return ReadFile(opened) == "http://quillfern.example.org/\n"; }))
      << ReadFile(opened) << Log();
  EXPECT_EQ(Log().find("failed to open homepage"), std::string::npos);

  // A browser that fails: the log says so.
  // (Clicked a little apart from the first click: not a double click.)
  std::ofstream(code) << "3";
  Shell("xdotool mousemove --sync " + At(box_left + 60, box_top + 10) + " click 1");
  ASSERT_TRUE(test_support::wait_until([&] { return Log().find("failed to open homepage") != std::string::npos; }))
      << Log();
  EXPECT_EQ(ReadFile(opened), "http://quillfern.example.org/\nhttp://quillfern.example.org/\n");
  SavePng(Shot(), "quillfern_home_page_failed");
  End();
}

}  // namespace

#pragma once
// Window tests: wx started once per test program on the X server named by
// $DISPLAY (the tests skip without one), event pumping with deadlines,
// screen captures through X11 (what the server really shows, shapes and
// children included), PNGs under <build>/screenshots/ for a person to look
// at, and real keyboard and mouse input through xdotool.

#include "tests/gui_support/x11_capture.h"
#include "tests/support/wait.h"

#include <gtest/gtest.h>
#include <spawn.h>
#include <sys/wait.h>
#include <wx/app.h>
#include <wx/evtloop.h>
#include <wx/image.h>
#include <wx/init.h>
#include <wx/window.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <functional>
#include <string>
#include <thread>
#include <vector>

extern char** environ;

namespace gui_test {

// Starts wx on first use; false (the caller skips) when there is no X
// server to talk to.
inline bool WxReady() {
  static const bool ready = [] {
    const char* display = std::getenv("DISPLAY");
    if (!display || !*display) return false;
    setenv("GDK_BACKEND", "x11", 1);
    setenv("NO_AT_BRIDGE", "1", 1);
    static int argc = 1;
    static char name[] = "window_tests";
    static char* argv[] = {name, nullptr};
    if (!wxApp::GetInstance()) wxApp::SetInstance(new wxApp);
    if (!wxEntryStart(argc, argv)) return false;
    wxInitAllImageHandlers();
    if (wxTheApp) wxTheApp->OnInit();
    return true;
  }();
  return ready;
}

#define QF_REQUIRE_DISPLAY()                                           \
  do {                                                                 \
    if (!::gui_test::WxReady()) GTEST_FAIL() << "no X server (DISPLAY)"; \
  } while (0)

// Handles pending events once.
inline void PumpOnce() {
  if (wxTheApp) {
    wxTheApp->ProcessPendingEvents();
    wxEventLoopBase* loop = wxEventLoopBase::GetActive();
    if (loop) {
      while (loop->Pending()) loop->Dispatch();
    } else {
      wxTheApp->Yield(true);
    }
  }
}

// Pumps events until `done` holds or the deadline passes; the result of
// `done` at the end.
inline bool PumpUntil(const std::function<bool()>& done, std::chrono::milliseconds deadline = std::chrono::seconds(10)) {
  return test_support::wait_until(
      [&] {
        PumpOnce();
        return done();
      },
      deadline, std::chrono::milliseconds(5));
}

// Pumps events for a while whatever happens (lets the window manager and
// GTK settle before a picture; never a verdict).
inline void PumpFor(std::chrono::milliseconds span) {
  PumpUntil([] { return false; }, span);
}

// What the X server shows in the screen rectangle of `window` (children and
// everything above it included).
inline wxImage Capture(wxWindow* window) {
  window->Update();
  PumpOnce();
  const wxRect r = window->GetScreenRect();
  std::vector<std::uint8_t> rgb;
  if (!CaptureRootRect(r.x, r.y, r.width, r.height, rgb)) return {};
  wxImage image(r.width, r.height, false);
  std::copy(rgb.begin(), rgb.end(), image.GetData());
  return image;
}

inline std::filesystem::path ScreenshotFolder() {
  std::filesystem::path dir = std::filesystem::path(QF_BINARY_DIR) / "screenshots";
  std::filesystem::create_directories(dir);
  return dir;
}

// Captures the window and writes <build>/screenshots/<name>.png.
inline wxImage Screenshot(wxWindow* window, const std::string& name) {
  wxImage image = Capture(window);
  if (image.IsOk()) image.SaveFile((ScreenshotFolder() / (name + ".png")).string(), wxBITMAP_TYPE_PNG);
  return image;
}

// Captures until `ok` holds for the picture (painting is asynchronous), up
// to the deadline; the last picture either way.
inline wxImage CaptureUntil(wxWindow* window, const std::function<bool(const wxImage&)>& ok,
                            std::chrono::milliseconds deadline = std::chrono::seconds(10)) {
  wxImage last;
  PumpUntil([&] {
    last = Capture(window);
    return last.IsOk() && ok(last);
  }, deadline);
  return last;
}

struct Rgb8 {
  unsigned char r, g, b;
  bool operator==(const Rgb8&) const = default;
};
inline Rgb8 PixelAt(const wxImage& image, int x, int y) {
  return {image.GetRed(x, y), image.GetGreen(x, y), image.GetBlue(x, y)};
}
inline std::ostream& operator<<(std::ostream& os, const Rgb8& c) {
  return os << "rgb(" << int(c.r) << "," << int(c.g) << "," << int(c.b) << ")";
}

// Runs a command (e.g. xdotool) while pumping this process's events, so
// the input it sends is handled; its exit status, -1 when it could not run.
inline int RunAndPump(const std::vector<std::string>& command,
                      std::chrono::milliseconds deadline = std::chrono::seconds(20)) {
  std::vector<char*> argv;
  for (const auto& a : command) argv.push_back(const_cast<char*>(a.c_str()));
  argv.push_back(nullptr);
  pid_t pid = 0;
  if (posix_spawnp(&pid, argv[0], nullptr, nullptr, argv.data(), environ) != 0) return -1;
  int status = -1;
  bool exited = PumpUntil([&] { return waitpid(pid, &status, WNOHANG) == pid; }, deadline);
  if (!exited) {
    kill(pid, SIGKILL);
    waitpid(pid, &status, 0);
    return -1;
  }
  PumpFor(std::chrono::milliseconds(50));
  return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

// Real mouse clicks at a point of a window, or near its middle (`shift`
// pixels to the right: xdotool's --sync waits for the pointer to move).
inline int ClickAt(wxWindow* window, wxPoint at, const char* clicks = "1", const char* button = "1") {
  const wxPoint screen = window->ClientToScreen(at);
  return RunAndPump({"xdotool", "mousemove", "--sync", std::to_string(screen.x), std::to_string(screen.y), "click",
                     "--repeat", clicks, "--delay", "80", button});
}
inline int Click(wxWindow* window, int shift = 0) {
  const wxSize size = window->GetClientSize();
  return ClickAt(window, {size.x / 2 + shift, size.y / 2});
}

inline bool HaveXdotool() { return std::system("command -v xdotool >/dev/null 2>&1") == 0; }

}  // namespace gui_test

// The programs' application base: exceptions from handlers, queued calls
// and the loop are reported and do not end the program.

#include "client/common/wx/guarded_app.h"
#include "tests/gui_support/gui_harness.h"

#include <memory>
#include <stdexcept>
#include <string>
#include <vector>

namespace {

class RecordingApp : public GuardedApp {
 public:
  mutable std::vector<std::string> lines;

 protected:
  void ReportException(const std::string& line) const override { lines.push_back(line); }
};

class Thrower : public wxEvtHandler {
 public:
  void OnEvent(wxEvent&) { throw std::runtime_error("handler failed"); }
};

TEST(GuardedApp, ExceptionsFromHandlersQueuedCallsAndTheLoopAreReported) {
  QF_REQUIRE_DISPLAY();
  wxAppConsole* const test_app = wxApp::GetInstance();
  auto owned = std::make_unique<RecordingApp>();
  RecordingApp& app = *owned;
  wxApp::SetInstance(&app);

  Thrower thrower;
  wxCommandEvent event(wxEVT_BUTTON);
  app.HandleEvent(&thrower, static_cast<wxEventFunction>(&Thrower::OnEvent), event);

  // Two queued calls: the first one throws, the second still runs.
  bool second_ran = false;
  thrower.CallAfter([] { throw 7; });
  thrower.CallAfter([&] { second_ran = true; });
  app.ProcessPendingEvents();
  app.ProcessPendingEvents();

  bool keeps_running = false;
  try {
    throw std::logic_error("loop failed");
  } catch (...) {
    keeps_running = app.OnExceptionInMainLoop();
  }
  const std::vector<std::string> lines = app.lines;
  // The test program's own application object again (a gone one clears
  // the instance).
  owned.reset();
  wxApp::SetInstance(test_app);

  EXPECT_TRUE(second_ran);
  EXPECT_TRUE(keeps_running);
  EXPECT_EQ(lines, (std::vector<std::string>{"Unexpected error: handler failed",
                                                 "Unexpected error: an exception of unknown kind",
                                                 "Unexpected error: loop failed"}));
}

}  // namespace

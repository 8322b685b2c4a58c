#include "tests/gui_support/gui_harness.h"

#include <wx/frame.h>
#include <wx/panel.h>
#include <wx/textctrl.h>

// The window-test harness itself: a real top-level window is captured from
// the X server, and real key input reaches a text control.
TEST(WindowHarness, CapturesWhatTheServerShowsAndTypesRealKeys) {
  QF_REQUIRE_DISPLAY();
  auto* frame = new wxFrame(nullptr, wxID_ANY, "harness", wxPoint(40, 40), wxSize(240, 160));
  auto* panel = new wxPanel(frame, wxID_ANY, wxPoint(0, 0), wxSize(240, 80));
  panel->SetBackgroundColour(wxColour(200, 30, 40));
  auto* text = new wxTextCtrl(frame, wxID_ANY, "", wxPoint(10, 100), wxSize(200, 30));
  frame->Show();
  frame->Raise();
  const wxImage picture = gui_test::CaptureUntil(panel, [](const wxImage& img) {
    return gui_test::PixelAt(img, 120, 40) == gui_test::Rgb8{200, 30, 40};
  });
  gui_test::Screenshot(frame, "harness_frame");
  EXPECT_EQ(gui_test::PixelAt(picture, 120, 40), (gui_test::Rgb8{200, 30, 40}));

  if (gui_test::HaveXdotool()) {
    text->SetFocus();
    ASSERT_TRUE(gui_test::PumpUntil([&] { return wxWindow::FindFocus() == text; }));
    // The window must hold the X input focus for the keys to reach it.
    gui_test::PumpUntil([&] { return frame->IsActive(); }, std::chrono::seconds(3));
    EXPECT_EQ(gui_test::RunAndPump({"xdotool", "type", "--delay", "20", "42"}), 0);
    EXPECT_TRUE(gui_test::PumpUntil([&] { return text->GetValue() == "42"; })) << text->GetValue();
  }
  frame->Destroy();
  gui_test::PumpOnce();
}

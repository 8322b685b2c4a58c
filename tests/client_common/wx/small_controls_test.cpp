#include "client/common/color_button.h"
#include "client/common/wx/CFarbKnopf.h"
#include "client/common/wx/CHinweisText.h"
#include "client/common/wx/CListEditCtrl.h"
#include "client/common/wx/CPrioritaetsButton.h"
#include "tests/gui_support/gui_harness.h"

#include <wx/display.h>
#include <wx/frame.h>
#include <wx/panel.h>
#include <wx/settings.h>

#include <string>

using gui_test::PixelAt;
using gui_test::Rgb8;

namespace {

// A shown top-level frame with a panel to put controls on; destroyed with
// the fixture.
class Window {
 public:
  Window(const wxPoint& pos, const wxSize& size) {
    frame = new wxFrame(nullptr, wxID_ANY, "controls", pos, size);
    panel = new wxPanel(frame);
  }
  ~Window() {
    if (frame) frame->Destroy();
    gui_test::PumpOnce();
  }
  void Show() {
    frame->Show();
    frame->Raise();
    gui_test::PumpUntil([&] { return frame->IsShownOnScreen(); });
  }
  wxFrame* frame;
  wxPanel* panel;
};

Rgb8 ToRgb8(client::ColorRef c) {
  const client::Rgb rgb = client::FromColorRef(c);
  return {rgb.r, rgb.g, rgb.b};
}

// A PNG of a screen area (a pop-up with its owner).
void SaveScreenArea(const wxRect& r, const std::string& name) {
  std::vector<std::uint8_t> rgb;
  if (!gui_test::CaptureRootRect(r.x, r.y, r.width, r.height, rgb)) return;
  wxImage image(r.width, r.height, false);
  std::copy(rgb.begin(), rgb.end(), image.GetData());
  image.SaveFile((gui_test::ScreenshotFolder() / (name + ".png")).string(), wxBITMAP_TYPE_PNG);
}

// Real mouse click at a screen point.
int ClickAt(const wxPoint& screen) {
  return gui_test::RunAndPump({"xdotool", "mousemove", "--sync", std::to_string(screen.x), std::to_string(screen.y),
                               "click", "1"});
}

// The keyboard goes to the frame only once it holds the X input focus.
void TakeKeyboard(wxFrame* frame, wxWindow* focus) {
  focus->SetFocus();
  gui_test::PumpUntil([&] { return frame->IsActive() && wxWindow::FindFocus() == focus; }, std::chrono::seconds(3));
}

}  // namespace

TEST(SmallControls, ColourButtonPaintsItsColourAndClicks) {
  QF_REQUIRE_DISPLAY();
  Window w({40, 40}, {320, 140});
  auto* plain = new CFarbKnopf(w.panel, wxID_ANY, "", {20, 20}, {120, 40});
  auto* captioned = new CFarbKnopf(w.panel, wxID_ANY, "Start", {160, 20}, {120, 40});
  captioned->SetColors(client::ToColorRef(0x30, 0xA0, 0x40));
  auto* plus = new CFarbKnopf(w.panel, wxID_ANY, "+", {20, 76}, {28, 28});
  plus->SetColors(client::ToColorRef(0x20, 0x30, 0x90));
  auto* pointed = new CFarbKnopf(w.panel, wxID_ANY, "Next", {160, 76}, {120, 30});
  pointed->SetStyle(2, true);
  int clicks = 0;
  plain->Bind(wxEVT_BUTTON, [&](wxCommandEvent&) { ++clicks; });
  w.Show();

  const Rgb8 fill = ToRgb8(client::kDefaultButtonColor);
  const wxColour face = wxSystemSettings::GetColour(wxSYS_COLOUR_BTNFACE);
  const auto pens = client::MakeColorButtonPens(client::kDefaultButtonColor, client::kDefaultButtonTextColor,
                                                client::ToColorRef(face.Red(), face.Green(), face.Blue()));
  const wxImage picture =
      gui_test::CaptureUntil(plain, [&](const wxImage& img) { return PixelAt(img, 60, 20) == fill; });
  gui_test::Screenshot(w.frame, "colour_buttons");
  EXPECT_EQ(PixelAt(picture, 60, 20), fill);
  EXPECT_EQ(PixelAt(picture, 0, 0), ToRgb8(pens.blend1));
  EXPECT_EQ(PixelAt(picture, 1, 1), ToRgb8(pens.blend2));
  EXPECT_EQ(PixelAt(picture, 3, 3), ToRgb8(pens.highlight));
  EXPECT_EQ(PixelAt(picture, 116, 36), ToRgb8(pens.black));

  if (gui_test::HaveXdotool()) {
    EXPECT_EQ(ClickAt(plain->ClientToScreen({60, 20})), 0);
    EXPECT_TRUE(gui_test::PumpUntil([&] { return clicks == 1; }));
    EXPECT_FALSE(plain->IsPressed());
  }
}

TEST(SmallControls, ListCellOfTheThirdColumnIsEditedInPlace) {
  QF_REQUIRE_DISPLAY();
  if (!gui_test::HaveXdotool()) GTEST_FAIL() << "no xdotool";
  Window w({40, 220}, {420, 200});
  auto* list = new CListEditCtrl(w.panel, wxID_ANY, {10, 10}, {390, 160});
  list->InsertColumn(0, "Keywords", wxLIST_FORMAT_LEFT, 110);
  list->InsertColumn(1, "Folder", wxLIST_FORMAT_LEFT, 120);
  list->InsertColumn(2, "Note", wxLIST_FORMAT_LEFT, 120);
  const wchar_t* rows[][3] = {{L"linux,iso", L"/srv/downloads/images/linux", L"first"},
                              {L"music", L"/home/me/Music", L"second"},
                              {L"video", L"/home/me/Videos", L"third"}};
  for (long r = 0; r < 3; ++r) {
    list->InsertRow(r, rows[r][0]);
    for (long c = 1; c < 3; ++c) list->SetCellText(r, c, rows[r][c]);
  }
  w.Show();
  TakeKeyboard(w.frame, list);

  // Select the second row, then click its third cell.
  wxRect first, third;
  ASSERT_TRUE(list->GetSubItemRect(1, 0, first));
  ASSERT_TRUE(list->GetSubItemRect(1, 2, third));
  EXPECT_EQ(ClickAt(list->ClientToScreen(first.GetPosition() + wxPoint(20, first.height / 2))), 0);
  ASSERT_TRUE(gui_test::PumpUntil([&] { return list->GetItemState(1, wxLIST_STATE_SELECTED) != 0; }));
  EXPECT_EQ(ClickAt(list->ClientToScreen(third.GetPosition() + wxPoint(30, third.height / 2))), 0);
  ASSERT_TRUE(gui_test::PumpUntil([&] { return list->GetEditBox() != nullptr; }));
  EXPECT_EQ(list->GetEditColumn(), 2);
  CLVEdit* edit = list->GetEditBox();
  EXPECT_EQ(edit->GetValue(), "second");
  ASSERT_TRUE(gui_test::PumpUntil([&] { return wxWindow::FindFocus() == edit; }));

  EXPECT_EQ(gui_test::RunAndPump({"xdotool", "type", "--delay", "20", "changed"}), 0);
  EXPECT_TRUE(gui_test::PumpUntil([&] { return edit->GetValue() == "changed"; })) << edit->GetValue();
  gui_test::Screenshot(w.frame, "list_edit_typing");
  EXPECT_EQ(gui_test::RunAndPump({"xdotool", "key", "Return"}), 0);
  ASSERT_TRUE(gui_test::PumpUntil([&] { return list->GetEditBox() == nullptr; }));
  EXPECT_EQ(list->GetCellText(1, 2), "changed");
  EXPECT_EQ(list->GetItemText(1, 2), "changed");
  EXPECT_EQ(list->GetItemState(1, wxLIST_STATE_SELECTED), 0);
  // The long folder shows shortened with dots; the whole text is kept.
  EXPECT_TRUE(list->GetItemText(0, 1).EndsWith("...")) << list->GetItemText(0, 1);
  EXPECT_EQ(list->GetCellText(0, 1), "/srv/downloads/images/linux");
  gui_test::PumpFor(std::chrono::milliseconds(100));
  gui_test::Screenshot(w.frame, "list_edit_done");

  // Escape leaves the cell as it was; an emptied first cell removes the row.
  ASSERT_TRUE(list->BeginEditAt(third.GetPosition() + wxPoint(30, third.height / 2)));
  ASSERT_TRUE(gui_test::PumpUntil([&] { return wxWindow::FindFocus() == list->GetEditBox(); }));
  EXPECT_EQ(gui_test::RunAndPump({"xdotool", "type", "--delay", "20", "lost"}), 0);
  EXPECT_EQ(gui_test::RunAndPump({"xdotool", "key", "Escape"}), 0);
  ASSERT_TRUE(gui_test::PumpUntil([&] { return list->GetEditBox() == nullptr; }));
  EXPECT_EQ(list->GetCellText(1, 2), "changed");

  ASSERT_TRUE(list->BeginEditAt(first.GetPosition() + wxPoint(20, first.height / 2)));
  EXPECT_EQ(list->GetEditColumn(), 0);
  ASSERT_TRUE(gui_test::PumpUntil([&] { return wxWindow::FindFocus() == list->GetEditBox(); }));
  EXPECT_EQ(gui_test::RunAndPump({"xdotool", "key", "BackSpace", "Return"}), 0);
  ASSERT_TRUE(gui_test::PumpUntil([&] { return list->GetEditBox() == nullptr; }));
  EXPECT_EQ(list->GetRowCount(), 2);
  EXPECT_EQ(list->GetItemCount(), 2);
  EXPECT_EQ(list->GetCellText(1, 0), "video");
}

TEST(SmallControls, HintNearTheBottomRightCornerOpensAboveAndEndsAtTheEdge) {
  QF_REQUIRE_DISPLAY();
  const wxRect screen = wxDisplay(0u).GetGeometry();
  // The frame ends at the screen's right edge, the anchor at the frame's.
  Window w({screen.GetRight() + 1 - 290, screen.GetBottom() - 160}, {290, 150});
  w.Show();
  const wxRect anchor(w.panel->GetClientSize().x - 100, 100, 100, 24);  // the owner's client coordinates
  CHinweisText& hint = CHinweisText::Global();
  hint.Show("Seeding: 1.52 ratio reached, the torrent stops at 2.00 as its goal says.", anchor, w.panel);
  ASSERT_TRUE(hint.IsShown());
  wxWindow* popup = hint.GetWindow();
  ASSERT_TRUE(gui_test::PumpUntil([&] { return popup->IsShownOnScreen(); }));

  const wxRect r = popup->GetScreenRect();
  const wxPoint anchor_top = w.panel->ClientToScreen(anchor.GetTopLeft());
  EXPECT_EQ(r.GetRight() + 1, screen.GetRight() + 1);
  EXPECT_EQ(r.GetBottom() + 1, anchor_top.y - 4);
  EXPECT_GT(r.height, 30);  // broken over more than one line at the anchor's width

  // White with dark text in it.
  const wxImage picture = gui_test::CaptureUntil(popup, [](const wxImage& img) {
    bool dark = false;
    for (int x = 2; x < img.GetWidth() - 2 && !dark; ++x)
      for (int y = 2; y < img.GetHeight() - 2 && !dark; ++y) dark = img.GetRed(x, y) < 100;
    return dark;
  });
  SaveScreenArea(r.Union(w.frame->GetScreenRect()), "hint_popup");
  EXPECT_EQ(PixelAt(picture, picture.GetWidth() - 3, picture.GetHeight() - 3), (Rgb8{255, 255, 255}));
  EXPECT_LT(PixelAt(picture, 0, picture.GetHeight() / 2).r, 100);  // the border

  hint.Destroy();
  EXPECT_FALSE(hint.IsShown());
  // The owner going away takes a shown hint with it.
  hint.Show("gone with its owner", anchor, w.panel);
  w.frame->Destroy();
  w.frame = nullptr;
  gui_test::PumpUntil([&] { return !hint.IsShown(); });
  EXPECT_FALSE(hint.IsShown());
}

TEST(SmallControls, PriorityBoxRemembersItsStateWhenItsWindowGoes) {
  QF_REQUIRE_DISPLAY();
  if (!gui_test::HaveXdotool()) GTEST_FAIL() << "no xdotool";
  bool remembered = true;
  Window w({40, 460}, {240, 80});
  // Alone in its group, so it starts unchecked.
  auto* box = new CPrioritaetsButton(w.panel, wxID_ANY, "High priority", &remembered, {10, 10}, wxDefaultSize,
                                     wxRB_SINGLE);
  EXPECT_FALSE(remembered);
  w.Show();
  EXPECT_EQ(ClickAt(box->ClientToScreen({8, box->GetSize().y / 2})), 0);
  ASSERT_TRUE(gui_test::PumpUntil([&] { return box->GetValue(); }));
  gui_test::Screenshot(w.frame, "priority_box");
  EXPECT_FALSE(remembered);
  delete w.frame;
  w.frame = nullptr;
  EXPECT_TRUE(remembered);
}

#include "scheme_editor/wx/CFarbSchemaDialog.h"

#include "client/common/wx/CDiagramm.h"

#include "scheme_editor/dialog_layout.h"
#include "tests/gui_support/gui_harness.h"

#include <wx/button.h>
#include <wx/radiobut.h>
#include <wx/textctrl.h>

#include <filesystem>
#include <fstream>
#include <iterator>
#include <functional>
#include <unistd.h>

namespace fs = std::filesystem;
using namespace tintwright;
using gui_test::PixelAt;
using gui_test::Rgb8;

namespace {

// The dialog over a profile and a scheme folder of its own in a temporary
// folder; the scheme folder starts empty, so the defaults show.
struct DialogFixture {
  fs::path dir;
  client::ScriptedUiServices ui;
  CFarbSchemaDialog* dialog = nullptr;

  // `setup` adds to the editor's profile before the dialog opens.
  explicit DialogFixture(const std::function<void(platform::profile&)>& setup = {}) {
    dir = fs::temp_directory_path() / ("qf_tintwright_wx_" + std::to_string(::getpid()) + "_" +
                                       ::testing::UnitTest::GetInstance()->current_test_info()->name());
    fs::remove_all(dir);
    fs::create_directories(dir);
    // The main program's profile is one of the test's own, and empty.
    platform::profile::set_application_file(dir / "Quillfern.ini");
    platform::profile profile(dir / "Tintwright.ini");
    profile.WriteProfileString("Configuration", "ColorSchemePath", (dir / "schemes").string() + "/");
    if (setup) setup(profile);
    dialog = new CFarbSchemaDialog(nullptr, profile, ui);
    dialog->Move(20, 20);
    dialog->Show();
    dialog->Raise();
  }
  ~DialogFixture() {
    dialog->Destroy();
    gui_test::PumpOnce();
    platform::profile::set_application_file({});
    fs::remove_all(dir);
  }

  void Click(int id) {
    wxWindow* control = dialog->FindWindow(id);
    ASSERT_TRUE(control) << id;
    wxCommandEvent event(dynamic_cast<wxRadioButton*>(control) ? wxEVT_RADIOBUTTON : wxEVT_BUTTON, id);
    event.SetEventObject(control);
    if (auto* radio = dynamic_cast<wxRadioButton*>(control)) radio->SetValue(true);
    control->GetEventHandler()->ProcessEvent(event);
  }

  // Puts the keyboard focus into an edit with its text selected, so typing
  // replaces it.
  bool FocusEdit(int id) {
    wxTextCtrl* edit = dialog->EditOf(id);
    edit->SetFocus();
    edit->SelectAll();
    gui_test::PumpUntil([&] { return dialog->IsActive(); }, std::chrono::seconds(3));
    return gui_test::PumpUntil([&] { return wxWindow::FindFocus() == edit; });
  }
};

// A point inside the value wedge of the chart's progress (top) sector:
// between the needle and the sector's start P1, well inside the rim.
wxPoint ProgressWedgePoint(wxWindow* window) {
  const auto& chart = dynamic_cast<CDiagramm&>(*window).Chart();
  const client::Point c = chart.Center(), needle = chart.Gauge(client::ChartGauge::Progress).needle, p1 = chart.P1();
  const double mx = (needle.x + p1.x) / 2.0, my = (needle.y + p1.y) / 2.0;
  return wxPoint(int(c.x + 0.75 * (mx - c.x)), int(c.y + 0.75 * (my - c.y)));
}

Rgb8 Channels(client::ColorRef c) {
  const auto rgb = client::FromColorRef(c);
  return {rgb.r, rgb.g, rgb.b};
}

}  // namespace

TEST(TintwrightDialog, TypedValuesRecolourThePreviewAndBadOnesAreRefusedOnSave) {
  QF_REQUIRE_DISPLAY();
  if (!gui_test::HaveXdotool()) GTEST_FAIL() << "no xdotool";
  DialogFixture f;
  wxWindow* chart = f.dialog->Preview().ChartWindow();
  const wxPoint at = ProgressWedgePoint(chart);
  const int kProgressX = at.x, kProgressY = at.y;
  const Rgb8 queued = Channels(client::GlobalDiagramColors()[client::kQueuedColors].progress.foreground);
  wxImage shot = gui_test::CaptureUntil(chart, [&](const wxImage& img) { return PixelAt(img, kProgressX, kProgressY) == queued; });
  ASSERT_EQ(PixelAt(shot, kProgressX, kProgressY), queued);
  gui_test::Screenshot(f.dialog, "tintwright_dialog");

  // Real keys into the progress foreground's red edit: every whole value
  // repaints the chart at once; no message while typing.
  ASSERT_TRUE(f.FocusEdit(1027));
  ASSERT_EQ(gui_test::RunAndPump({"xdotool", "type", "--delay", "30", "30"}), 0);
  ASSERT_TRUE(gui_test::PumpUntil([&] { return f.dialog->EditOf(1027)->GetValue() == "30"; }))
      << f.dialog->EditOf(1027)->GetValue();
  const Rgb8 typed{30, queued.g, queued.b};
  shot = gui_test::CaptureUntil(chart, [&](const wxImage& img) { return PixelAt(img, kProgressX, kProgressY) == typed; });
  EXPECT_EQ(PixelAt(shot, kProgressX, kProgressY), typed);

  // "256" passes through 2 and 25 (shown) and ends out of range: kept as
  // typed, the preview stays at 25, nothing is asked.
  ASSERT_TRUE(f.FocusEdit(1027));
  ASSERT_EQ(gui_test::RunAndPump({"xdotool", "type", "--delay", "30", "256"}), 0);
  ASSERT_TRUE(gui_test::PumpUntil([&] { return f.dialog->EditOf(1027)->GetValue() == "256"; }));
  const Rgb8 partial{25, queued.g, queued.b};
  shot = gui_test::CaptureUntil(chart, [&](const wxImage& img) { return PixelAt(img, kProgressX, kProgressY) == partial; });
  EXPECT_EQ(PixelAt(shot, kProgressX, kProgressY), partial);
  EXPECT_TRUE(f.ui.asked.empty());

  // Save refuses it: the message, the focus back on the edit, no files.
  f.Click(kSaveId);
  EXPECT_EQ(f.ui.Messages(), std::vector<std::string>{"Please enter an integer between 0 and 255."});
  EXPECT_TRUE(gui_test::PumpUntil([&] { return wxWindow::FindFocus() == f.dialog->EditOf(1027); }));
  EXPECT_FALSE(fs::exists(f.dir / "schemes"));
}

TEST(TintwrightDialog, StatusSwitchKeepsEditsAndSaveWritesBothFiles) {
  QF_REQUIRE_DISPLAY();
  DialogFixture f;
  EXPECT_TRUE(dynamic_cast<wxRadioButton*>(f.dialog->FindWindow(1003))->GetValue());
  f.dialog->EditOf(1042)->SetValue("12");  // Queued title background red, as if typed
  f.dialog->EditOf(1051)->SetValue("90");  // main frame red offset
  f.Click(1007);                           // Seeding
  EXPECT_EQ(f.dialog->Editor().Status(), client::kSeedingColors);
  EXPECT_EQ(f.dialog->EditOf(1042)->GetValue(), "200");  // Seeding's own title background
  EXPECT_EQ(f.dialog->EditOf(1051)->GetValue(), "90");
  f.Click(1003);
  EXPECT_EQ(f.dialog->EditOf(1042)->GetValue(), "12");

  // A bad value refuses the switch and keeps the radio where it was.
  f.dialog->EditOf(1002)->ChangeValue("999");
  f.Click(1009);
  EXPECT_EQ(f.dialog->Editor().Status(), client::kQueuedColors);
  EXPECT_TRUE(dynamic_cast<wxRadioButton*>(f.dialog->FindWindow(1003))->GetValue());
  EXPECT_EQ(f.ui.Messages().size(), 1u);
  f.dialog->EditOf(1002)->ChangeValue("100");

  // Save into a folder typed without its separator.
  const std::string folder = (f.dir / "saved").string();
  f.dialog->EditOf(kFolderEditId)->ChangeValue(folder);
  f.Click(kSaveId);
  EXPECT_EQ(f.ui.Messages().size(), 1u);
  EXPECT_EQ(f.dialog->EditOf(kFolderEditId)->GetValue(), folder + "/");
  EXPECT_EQ(fs::file_size(folder + "/Diagram Colors.tnts"), 560u);
  EXPECT_EQ(fs::file_size(folder + "/Main Colors.tnts"), 88u);
}

TEST(TintwrightDialog, MainEditsRepaintTheFrameAndTheChosenFolderIsLoaded) {
  QF_REQUIRE_DISPLAY();
  DialogFixture f;
  // The frame's client area, right of the chart, shows the frame colour.
  wxWindow* frame = f.dialog->Preview().FrameWindow();
  constexpr int kX = 205, kY = 120;
  f.dialog->EditOf(1053)->SetValue("200");  // main frame blue offset; raises the text event
  const Rgb8 repainted{51, 51, 200};
  wxImage shot = gui_test::CaptureUntil(frame, [&](const wxImage& img) { return PixelAt(img, kX, kY) == repainted; });
  EXPECT_EQ(PixelAt(shot, kX, kY), repainted);

  // ">>": the chosen folder's schemes are loaded and shown from Queued.
  const std::string saved = (f.dir / "other").string();
  f.dialog->EditOf(1027)->SetValue("77");
  f.dialog->EditOf(kFolderEditId)->ChangeValue(saved);
  f.Click(kSaveId);
  ASSERT_TRUE(fs::exists(saved + "/Main Colors.tnts"));
  f.Click(1006);
  f.dialog->EditOf(1027)->SetValue("5");
  f.ui.folder_answers.push_back(saved + "/");
  f.Click(kBrowseId);
  EXPECT_EQ(f.ui.asked.back().what, "folder");
  EXPECT_EQ(f.ui.asked.back().text, "Select color scheme folder");
  EXPECT_EQ(f.dialog->Editor().Status(), client::kQueuedColors);
  EXPECT_TRUE(dynamic_cast<wxRadioButton*>(f.dialog->FindWindow(1003))->GetValue());
  EXPECT_EQ(f.dialog->EditOf(1027)->GetValue(), "77");
  EXPECT_EQ(f.dialog->EditOf(1053)->GetValue(), "200");
  EXPECT_EQ(f.dialog->EditOf(kFolderEditId)->GetValue(), saved + "/");
  // A cancelled chooser changes nothing.
  f.Click(kBrowseId);
  EXPECT_EQ(f.dialog->EditOf(kFolderEditId)->GetValue(), saved + "/");
}

TEST(TintwrightDialog, QuitKeepsTheFolderOnlyWithValidValues) {
  QF_REQUIRE_DISPLAY();
  DialogFixture f;
  platform::profile profile(f.dir / "Tintwright.ini");
  const std::string folder = (f.dir / "kept").string();
  f.dialog->EditOf(kFolderEditId)->ChangeValue(folder);
  f.dialog->EditOf(1085)->ChangeValue("256");
  f.Click(wxID_OK);
  EXPECT_TRUE(f.dialog->IsShown());
  EXPECT_EQ(f.ui.Messages().size(), 1u);
  EXPECT_EQ(profile.GetProfileString("Configuration", "ColorSchemePath"), (f.dir / "schemes").string() + "/");

  f.dialog->EditOf(1085)->ChangeValue("0");
  f.Click(wxID_OK);
  EXPECT_FALSE(f.dialog->IsShown());
  EXPECT_EQ(profile.GetProfileString("Configuration", "ColorSchemePath"), folder + "/");
  EXPECT_FALSE(fs::exists(folder));
}

// The scheme folder has no "Diagram Colors.tnts" yet; the editor's profile
// keeps the chart colours of an earlier save. The preview chart paints with
// them (not with the main program's copy or the defaults), and the next
// Save writes them, not defaults.
TEST(TintwrightDialog, TheChartsTakeTheEditorsOwnRecordsAndSaveKeepsThem) {
  QF_REQUIRE_DISPLAY();
  const client::ColorRef frame = client::MainColorBlock::Defaults().frame.OffsetColor();
  client::DiagramColorTable own = client::DiagramColorTable::Defaults(frame);
  own[client::kQueuedColors].progress.foreground = client::ToColorRef(12, 200, 34);
  own[client::kSeedingColors].title_background = client::ToColorRef(1, 2, 3);
  const auto bytes = own.Serialize();
  const std::string_view record(reinterpret_cast<const char*>(bytes.data()), bytes.size());
  DialogFixture f([&](platform::profile& profile) {
    profile.WriteProfileBinary("Configuration", "Diagram Colors", record);
  });
  ASSERT_FALSE(fs::exists(f.dir / "schemes" / "Diagram Colors.tnts"));
  EXPECT_EQ(client::GlobalDiagramColors().Serialize(), bytes);
  EXPECT_EQ(f.dialog->EditOf(1027)->GetValue(), "12");  // Queued progress foreground red

  wxWindow* chart = f.dialog->Preview().ChartWindow();
  const wxPoint at = ProgressWedgePoint(chart);
  const Rgb8 edited{12, 200, 34};
  const wxImage shot = gui_test::CaptureUntil(chart, [&](const wxImage& img) { return PixelAt(img, at.x, at.y) == edited; });
  EXPECT_EQ(PixelAt(shot, at.x, at.y), edited);
  gui_test::Screenshot(f.dialog, "tintwright_own_chart_colours");

  f.Click(kSaveId);
  EXPECT_TRUE(f.ui.Messages().empty());
  std::ifstream in(f.dir / "schemes" / "Diagram Colors.tnts", std::ios::binary);
  const std::string saved((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  EXPECT_EQ(saved, std::string(record));
}

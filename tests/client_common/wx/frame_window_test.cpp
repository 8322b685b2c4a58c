#include "client/common/color_scheme.h"
#include "client/common/icon_resources.h"
#include "client/common/wx/CMemDC.h"
#include "client/common/wx/CQuillfernFenster.h"
#include "client/common/wx/CQuillfernFensterChild.h"
#include "client/common/wx/icons.h"
#include "platform/atomic_file.h"
#include "tests/gui_support/gui_harness.h"

#include <wx/dcmemory.h>
#include <wx/frame.h>
#include <wx/panel.h>

#include <cstdlib>
#include <filesystem>
#include <string>
#include <unistd.h>

namespace fs = std::filesystem;
using gui_test::PixelAt;
using gui_test::Rgb8;

namespace {

Rgb8 ToRgb8(client::ColorRef c) {
  const auto rgb = client::FromColorRef(c);
  return {rgb.r, rgb.g, rgb.b};
}

// A profile file and a scheme folder of the test's own.
struct TempProfile {
  fs::path dir;
  TempProfile() {
    dir = fs::temp_directory_path() / ("qf_frame_" + std::to_string(::getpid()) + "_" +
                                       ::testing::UnitTest::GetInstance()->current_test_info()->name());
    fs::remove_all(dir);
    fs::create_directories(dir);
  }
  ~TempProfile() { fs::remove_all(dir); }
  platform::profile Profile() const { return platform::profile(dir / "Quillfern.ini"); }
};

// Opens a top-level frame and waits until the X server shows its caption.
CQuillfernFenster* OpenFrame(platform::profile profile, wxPoint pos, wxSize size) {
  auto* frame = new CQuillfernFenster(std::move(profile));
  EXPECT_TRUE(frame->Create(nullptr, "Quillfern", pos, size));
  frame->Show();
  return frame;
}

void Close(wxWindow* window) {
  window->Destroy();
  gui_test::PumpFor(std::chrono::milliseconds(20));
}

}  // namespace

TEST(CMemDC, CopiesARectangleAwayFromTheOriginToItsPlace) {
  QF_REQUIRE_DISPLAY();
  wxBitmap bitmap(100, 80, 24);
  wxMemoryDC target(bitmap);
  target.SetBackground(*wxWHITE_BRUSH);
  target.Clear();
  const wxRect area(30, 20, 40, 30);
  {
    CMemDC dc(&target, false, &area);
    dc.SetPen(*wxTRANSPARENT_PEN);
    dc.SetBrush(*wxRED_BRUSH);
    dc.DrawRectangle(area);
    dc.SetBrush(*wxBLUE_BRUSH);
    dc.DrawRectangle(30, 20, 5, 5);
  }
  {
    // With the fill flag the area starts in the target's background.
    target.SetBackground(*wxGREEN_BRUSH);
    const wxRect corner(80, 60, 20, 20);
    CMemDC dc(&target, true, &corner);
  }
  target.SelectObject(wxNullBitmap);
  const wxImage image = bitmap.ConvertToImage();
  EXPECT_EQ(PixelAt(image, 31, 21), (Rgb8{0, 0, 255}));
  EXPECT_EQ(PixelAt(image, 50, 35), (Rgb8{255, 0, 0}));
  EXPECT_EQ(PixelAt(image, 69, 49), (Rgb8{255, 0, 0}));
  EXPECT_EQ(PixelAt(image, 29, 35), (Rgb8{255, 255, 255}));
  EXPECT_EQ(PixelAt(image, 50, 50), (Rgb8{255, 255, 255}));
  EXPECT_EQ(PixelAt(image, 5, 5), (Rgb8{255, 255, 255}));
  EXPECT_EQ(PixelAt(image, 90, 70), (Rgb8{0, 255, 0}));
  EXPECT_EQ(PixelAt(image, 79, 70), (Rgb8{255, 255, 255}));
}

TEST(QuillfernFrame, DrawsItsOwnCaptionBevelAndButtons) {
  QF_REQUIRE_DISPLAY();
  TempProfile temp;
  auto* frame = OpenFrame(temp.Profile(), wxPoint(60, 50), wxSize(520, 240));
  frame->Model().status_line = L"Down 12.4 kB/s  Up 3.1 kB/s  Peers 7 (2 seeds)  DHT 81";
  frame->RedrawClient();

  const auto& model = frame->Model();
  const auto pens = client::FramePenColors(model.colors);
  const Rgb8 base = ToRgb8(pens[7]);
  const client::FrameLayout& l = model.layout;
  ASSERT_EQ(l.client_width, 492);
  ASSERT_EQ(l.client_height, 207);
  const Rgb8 inactive_button = ToRgb8(model.colors.inactive_button);
  const wxImage picture = gui_test::CaptureUntil(frame, [&](const wxImage& image) {
    return PixelAt(image, l.close_button.left + 3, 16) == inactive_button;
  });
  gui_test::Screenshot(frame, "quillfern_frame");
  ASSERT_TRUE(picture.IsOk());

  // The caption strip left of the title in the base colour.
  EXPECT_EQ(PixelAt(picture, 20, 12), base);
  // The bevel: pixel x of the left edge shows pen x + 1 (each outline is
  // 2 px wide and the inner ones are drawn last); the top edge likewise.
  EXPECT_EQ(PixelAt(picture, 3, 120), ToRgb8(pens[4]));
  EXPECT_EQ(PixelAt(picture, 260, 0), ToRgb8(pens[1]));
  EXPECT_EQ(PixelAt(picture, 260, 3), ToRgb8(pens[4]));
  EXPECT_EQ(PixelAt(picture, 519, 120), ToRgb8(pens[1]));
  // The close button filled in the inactive colour, as is the minimise
  // button; the client area in the base colour.
  EXPECT_EQ(PixelAt(picture, l.close_button.left + 3, 16), inactive_button);
  EXPECT_EQ(PixelAt(picture, l.minimise_button.left + 3, 16), inactive_button);
  EXPECT_EQ(PixelAt(picture, 100, 80), base);
  // The rounded corner lies outside the window's shape: the desktop shows.
  EXPECT_NE(PixelAt(picture, 0, 0), ToRgb8(pens[1]));

  // A hot close button fills in the active colour.
  frame->Model().close_hot = true;
  frame->RedrawFrame();
  const Rgb8 active_button = ToRgb8(model.colors.active_button);
  const wxImage hot = gui_test::CaptureUntil(frame, [&](const wxImage& image) {
    return PixelAt(image, l.close_button.left + 3, 16) == active_button;
  });
  EXPECT_EQ(PixelAt(hot, l.close_button.left + 3, 16), active_button);
  EXPECT_EQ(PixelAt(hot, l.minimise_button.left + 3, 16), inactive_button);
  Close(frame);
}

TEST(QuillfernFrame, ColoursComeFromTheSchemeFolderOfTheProfile) {
  QF_REQUIRE_DISPLAY();
  TempProfile temp;
  auto block = client::MainColorBlock::Defaults();
  block.frame.red = {120, 20};
  block.frame.green = {30, 0};
  block.frame.blue = {30, 0};
  block.inactive_button = 0x0000FF00;
  auto profile = temp.Profile();
  // A folder given without its trailing separator.
  ASSERT_TRUE(client::SaveMainColors((temp.dir / "scheme/").string(), profile, block));
  profile.DeleteProfileValue("Configuration", "Main Colors");
  profile.WriteProfileString("Configuration", "ColorSchemePath", (temp.dir / "scheme").string());

  auto* frame = OpenFrame(temp.Profile(), wxPoint(80, 80), wxSize(300, 160));
  EXPECT_EQ(frame->Model().color_scheme_folder, (temp.dir / "scheme/").string());
  const client::FrameLayout& l = frame->Model().layout;
  const wxImage picture = gui_test::CaptureUntil(frame, [&](const wxImage& image) {
    return PixelAt(image, l.close_button.left + 3, 16) == (Rgb8{0, 255, 0});
  });
  gui_test::Screenshot(frame, "quillfern_frame_scheme");
  EXPECT_EQ(PixelAt(picture, l.close_button.left + 3, 16), (Rgb8{0, 255, 0}));
  EXPECT_EQ(PixelAt(picture, 20, 12), (Rgb8{120, 30, 30}));
  EXPECT_EQ(PixelAt(picture, 3, 80), (Rgb8{180, 30, 30}));  // pen 4: 120 + 3 * 20

  // The editor's way: change the block, remake the objects, redraw.
  frame->Model().colors = client::MainColorBlock::Defaults();
  frame->CreateDrawingObjects(false);
  frame->RedrawFrame();
  frame->RedrawClient();
  const Rgb8 base = ToRgb8(client::FramePenColors(frame->Model().colors)[7]);
  const wxImage again = gui_test::CaptureUntil(frame, [&](const wxImage& image) {
    return PixelAt(image, 20, 12) == base && PixelAt(image, 100, 80) == base;
  });
  EXPECT_EQ(PixelAt(again, 100, 80), base);
  Close(frame);
}

// No "ColorSchemePath": the frame reads the default scheme folder, where
// the colour-scheme editor saves by default.
TEST(QuillfernFrame, WithoutASchemeFolderTheDefaultOneIsRead) {
  QF_REQUIRE_DISPLAY();
  TempProfile temp;
  const char* old = std::getenv("XDG_DATA_HOME");
  const std::string saved = old ? old : "";
  setenv("XDG_DATA_HOME", temp.dir.c_str(), 1);
  auto block = client::MainColorBlock::Defaults();
  block.inactive_button = 0x0000FF00;
  platform::profile editor(temp.dir / "Tintwright.ini");
  const std::string folder = temp.dir.string() + "/Quillfern/Schemes/";
  fs::create_directories(folder);
  ASSERT_TRUE(client::SaveMainColors(folder, editor, block));

  auto* frame = OpenFrame(temp.Profile(), wxPoint(80, 80), wxSize(300, 160));
  if (old) setenv("XDG_DATA_HOME", saved.c_str(), 1); else unsetenv("XDG_DATA_HOME");
  EXPECT_EQ(frame->Model().color_scheme_folder, folder);
  EXPECT_EQ(frame->Model().colors.inactive_button, 0x0000FF00u);
  const client::FrameLayout& l = frame->Model().layout;
  const wxImage picture = gui_test::CaptureUntil(frame, [&](const wxImage& image) {
    return PixelAt(image, l.close_button.left + 3, 16) == (Rgb8{0, 255, 0});
  });
  EXPECT_EQ(PixelAt(picture, l.close_button.left + 3, 16), (Rgb8{0, 255, 0}));
  Close(frame);
}

TEST(QuillfernFrame, KeepsItsPositionOnlyWhenOnScreen) {
  QF_REQUIRE_DISPLAY();
  TempProfile temp;
  auto* frame = OpenFrame(temp.Profile(), wxPoint(70, 90), wxSize(300, 160));
  ASSERT_TRUE(gui_test::PumpUntil([&] { return frame->GetPosition() == wxPoint(70, 90); }));
  delete frame;
  auto profile = temp.Profile();
  EXPECT_EQ(profile.GetProfileInt("Configuration", "Pos Left", -1), 70);
  EXPECT_EQ(profile.GetProfileInt("Configuration", "Pos Top", -1), 90);
  EXPECT_EQ(profile.GetProfileInt("Configuration", "Pos Right", -1), 370);
  EXPECT_EQ(profile.GetProfileInt("Configuration", "Pos Bottom", -1), 250);

  frame = OpenFrame(temp.Profile(), wxPoint(-4, 90), wxSize(300, 160));
  ASSERT_TRUE(gui_test::PumpUntil([&] { return frame->GetPosition() == wxPoint(-4, 90); }));
  delete frame;
  EXPECT_EQ(profile.GetProfileInt("Configuration", "Pos Left", -1), 70);
  EXPECT_EQ(profile.GetProfileInt("Configuration", "Pos Right", -1), 370);
}

TEST(QuillfernFrame, TitleChangesAreDrawn) {
  QF_REQUIRE_DISPLAY();
  TempProfile temp;
  auto* frame = OpenFrame(temp.Profile(), wxPoint(60, 60), wxSize(300, 120));
  const client::Rect caption = frame->Model().layout.caption;
  const Rgb8 base = ToRgb8(client::FramePenColors(frame->Model().colors)[7]);
  // Whether anything but the base colour shows in the caption.
  auto caption_has_text = [&](const wxImage& image) {
    for (int y = caption.top; y < caption.bottom; ++y)
      for (int x = caption.left; x < caption.right; ++x)
        if (PixelAt(image, x, y) != base) return true;
    return false;
  };
  EXPECT_TRUE(caption_has_text(gui_test::CaptureUntil(frame, caption_has_text)));
  frame->SetTitle("");
  EXPECT_EQ(frame->GetTitle(), "");
  EXPECT_FALSE(caption_has_text(gui_test::CaptureUntil(frame, [&](const wxImage& i) { return !caption_has_text(i); })));
  frame->SetTitle("Quillfern - 3 torrents");
  EXPECT_EQ(frame->Model().title, L"Quillfern - 3 torrents");
  EXPECT_TRUE(caption_has_text(gui_test::CaptureUntil(frame, caption_has_text)));
  Close(frame);
}

TEST(QuillfernFrame, LivesInsideAnotherWindowAsAChild) {
  QF_REQUIRE_DISPLAY();
  TempProfile temp;
  auto* host = new wxFrame(nullptr, wxID_ANY, "Quillfern Color Scheme Editor", wxPoint(100, 100), wxSize(420, 260));
  // A frame stretches a single child over itself: the preview lives on a
  // panel, as on the editor's dialog.
  auto* panel = new wxPanel(host);
  panel->SetBackgroundColour(wxColour(236, 236, 236));
  auto* preview = new CQuillfernFensterChild(temp.Profile());
  ASSERT_TRUE(preview->Create(panel, wxID_ANY, "Quillfern", wxPoint(15, 15), wxSize(232, 186)));
  // A window in the client area sits at client coordinates.
  auto* inner = new wxWindow(preview->ClientArea(), wxID_ANY, wxPoint(15, 15), wxSize(100, 60));
  inner->SetBackgroundColour(wxColour(200, 100, 40));
  host->Show();

  const auto& model = preview->Model();
  EXPECT_EQ(model.Width(), 204);
  EXPECT_EQ(model.Height(), 153);
  EXPECT_EQ(model.title, L"Quillfern");
  const Rgb8 inactive_button = ToRgb8(model.colors.inactive_button);
  const client::FrameLayout& l = model.layout;
  const wxImage picture = gui_test::CaptureUntil(preview, [&](const wxImage& image) {
    return PixelAt(image, l.close_button.left + 3, 16) == inactive_button &&
           PixelAt(image, 9 + 15 + 50, 24 + 15 + 30) == (Rgb8{200, 100, 40});
  });
  gui_test::Screenshot(host, "quillfern_frame_child");
  EXPECT_EQ(PixelAt(picture, l.close_button.left + 3, 16), inactive_button);
  EXPECT_EQ(PixelAt(picture, 9 + 15 + 50, 24 + 15 + 30), (Rgb8{200, 100, 40}));
  EXPECT_EQ(PixelAt(picture, 20, 12), ToRgb8(client::FramePenColors(model.colors)[7]));
  // Outside the rounded corner the dialog's background shows.
  EXPECT_EQ(PixelAt(picture, 0, 0), (Rgb8{236, 236, 236}));
  Close(host);
}

TEST(Icons, EachResourceDrawsFromItsSvg) {
  QF_REQUIRE_DISPLAY();
  EXPECT_FALSE(LoadIconResource(129).IsOk());
  EXPECT_TRUE(LoadIconSet(129).IsEmpty());

  // All three at 16, 32 and 64 px side by side, for a person to look at.
  const int sizes[] = {16, 32, 64};
  wxImage sheet(3 * (16 + 32 + 64 + 24), 64 + 8);
  sheet.SetRGB(wxRect(0, 0, sheet.GetWidth(), sheet.GetHeight()), 236, 236, 236);
  int x = 4;
  for (int id : {client::kApplicationIcon, client::kTrayIcon, client::kPeerInfoIcon}) {
    const wxBitmapBundle bundle = LoadIconResource(id);
    ASSERT_TRUE(bundle.IsOk()) << id;
    EXPECT_EQ(bundle.GetDefaultSize(), wxSize(32, 32));
    EXPECT_EQ(LoadIconSet(id).GetIconCount(), 6u) << id;
    for (int size : sizes) {
      wxImage image = bundle.GetBitmap(wxSize(size, size)).ConvertToImage();
      ASSERT_EQ(image.GetWidth(), size);
      ASSERT_TRUE(image.HasAlpha());
      // Drawn in the middle, transparent in the corners.
      EXPECT_GT(image.GetAlpha(size / 2, size / 2), 200) << id << " at " << size;
      EXPECT_EQ(image.GetAlpha(0, 0), 0) << id << " at " << size;
      sheet.Paste(image, x, 4, wxIMAGE_ALPHA_BLEND_COMPOSE);
      x += size + 8;
    }
  }
  sheet.SaveFile((gui_test::ScreenshotFolder() / "icons.png").string(), wxBITMAP_TYPE_PNG);
}

#include "client/common/wx/CDiagramm.h"
#include "platform/profile.h"
#include "tests/gui_support/gui_harness.h"

#include <wx/frame.h>
#include <wx/panel.h>

#include <cstdlib>
#include <filesystem>
#include <unistd.h>

using gui_test::PixelAt;
using gui_test::Rgb8;

namespace {

const wxColour kParent(40, 120, 60);

Rgb8 Of(client::ColorRef c) {
  const client::Rgb rgb = client::FromColorRef(c);
  return {rgb.r, rgb.g, rgb.b};
}

// A frame whose panel holds one chart at (20, 20).
struct ChartFrame {
  wxFrame* frame = nullptr;
  wxPanel* panel = nullptr;
  CDiagramm* chart = nullptr;

  ChartFrame(const std::wstring& path, bool row_mode, wxSize frame_size = wxSize(260, 180)) {
    // Charts read the colour table once per process; keep them off the
    // user's profile.
    static const bool isolated = [] {
      platform::profile::set_application_file(std::filesystem::temp_directory_path() /
                                              ("qf_chart_window_" + std::to_string(::getpid()) + ".ini"));
      return true;
    }();
    (void)isolated;
    frame = new wxFrame(nullptr, wxID_ANY, "chart", wxPoint(30, 30), frame_size);
    panel = new wxPanel(frame, wxID_ANY);
    panel->SetBackgroundColour(kParent);
    chart = new CDiagramm(path, "", 0x00693333);
    EXPECT_TRUE(chart->Create("Torrent", wxPoint(20, 20), panel, row_mode));
    frame->Show();
    frame->Raise();
  }
  ~ChartFrame() {
    frame->Destroy();
    gui_test::PumpOnce();
  }
  // A picture of the chart once `pixel` of it shows `colour`.
  wxImage ShownWith(wxPoint pixel, Rgb8 colour) {
    chart->Refresh();
    return gui_test::CaptureUntil(chart, [&](const wxImage& img) {
      return img.GetWidth() > pixel.x && img.GetHeight() > pixel.y && PixelAt(img, pixel.x, pixel.y) == colour;
    });
  }
};

// Pixels of `area` in about `colour` (text edges are smoothed).
int CountColour(const wxImage& img, const wxRect& area, Rgb8 colour) {
  int n = 0;
  for (int y = area.GetTop(); y <= area.GetBottom(); ++y)
    for (int x = area.GetLeft(); x <= area.GetRight(); ++x) {
      const Rgb8 p = PixelAt(img, x, y);
      n += std::abs(p.r - colour.r) + std::abs(p.g - colour.g) + std::abs(p.b - colour.b) <= 120;
    }
  return n;
}

}  // namespace

TEST(ChartWindow, SectorsShowValueOrBackgroundInTheSchemeColours) {
  QF_REQUIRE_DISPLAY();
  ChartFrame f(L"/data/Some Torrent.torrent", false);
  CDiagramm& chart = *f.chart;
  EXPECT_EQ(chart.GetSize(), wxSize(166, 100));
  chart.SetName(L"Quillfern Release 1.3");
  EXPECT_EQ(chart.GetName(), "Quillfern Release 1.3");
  EXPECT_EQ(chart.GetFolder(), L"/data/");
  chart.Chart().SetStatus(client::kDownloadingColors);
  chart.Chart().SetText(client::ChartGauge::Upload, L"3");
  chart.Chart().SetText(client::ChartGauge::Download, L"97");
  chart.Chart().SetText(client::ChartGauge::Time, L"0:12:40");
  chart.Chart().SetText(client::ChartGauge::Progress, L"100.0%");
  chart.SetMaxima(1000, 1000);
  chart.SetTimeMaximum(1000);
  chart.SetMarker(400);
  const client::DiagramColorEntry& colours = client::GlobalDiagramColors()[client::kDownloadingColors];
  // Defaults with the frame colour passed in, as no scheme folder was given.
  EXPECT_EQ(colours.main_frame_color, 0x00693333u);

  // A pixel in each sector, clear of texts, hub and rim.
  const wxPoint upload(20, 33), download(146, 33), time(60, 82), progress(60, 18);

  chart.SetValues(0, 1000, 0, 1.0);
  wxImage img = f.ShownWith(download, Of(colours.download.foreground));
  gui_test::Screenshot(f.frame, "chart_round_downloading");
  EXPECT_EQ(PixelAt(img, upload.x, upload.y), Of(colours.upload.background));
  EXPECT_EQ(PixelAt(img, download.x, download.y), Of(colours.download.foreground));
  EXPECT_EQ(PixelAt(img, time.x, time.y), Of(colours.time.background));
  EXPECT_EQ(PixelAt(img, progress.x, progress.y), Of(colours.progress.foreground));
  // The title in the hub, the hub in the title background, the corners in
  // the parent's colour.
  EXPECT_GT(CountColour(img, wxRect(28, 26, 110, 48), Of(colours.title_text)), 20);
  EXPECT_EQ(PixelAt(img, 83, 31), Of(colours.title_background));
  EXPECT_EQ(PixelAt(img, 1, 1), (Rgb8{kParent.Red(), kParent.Green(), kParent.Blue()}));
  EXPECT_EQ(PixelAt(img, 164, 98), (Rgb8{kParent.Red(), kParent.Green(), kParent.Blue()}));
  // The sector texts in their colours.
  EXPECT_GT(CountColour(img, wxRect(41, 7, 83, 18), Of(colours.progress.text)), 5);

  // SetValues repaints by itself: the other half of each sector now.
  chart.SetValues(1000, 0, 1000, 0);
  img = gui_test::CaptureUntil(&chart, [&](const wxImage& i) {
    return PixelAt(i, upload.x, upload.y) == Of(colours.upload.foreground);
  });
  EXPECT_EQ(PixelAt(img, upload.x, upload.y), Of(colours.upload.foreground));
  EXPECT_EQ(PixelAt(img, download.x, download.y), Of(colours.download.background));
  EXPECT_EQ(PixelAt(img, time.x, time.y), Of(colours.time.foreground));
  EXPECT_EQ(PixelAt(img, progress.x, progress.y), Of(colours.progress.background));

  // Half values in the Seeding colours, highlighted.
  chart.Chart().SetStatus(client::kSeedingColors);
  chart.Chart().SetHighlight(true);
  chart.SetValues(500, 250, 750, 0.4);
  const client::DiagramColorEntry& seeding = client::GlobalDiagramColors()[client::kSeedingColors];
  img = f.ShownWith(upload, Of(seeding.upload.background));
  gui_test::Screenshot(f.frame, "chart_round_seeding_highlighted");
  // The rim in the Downloading pens (pen 3 shows in the second line).
  EXPECT_EQ(PixelAt(img, 83, 1), Of(client::RimPenColors(colours)[2]));
  EXPECT_NE(PixelAt(img, 83, 1), Of(client::RimPenColors(seeding)[2]));
}

TEST(ChartWindow, RowModeDrawsTheTextsInCells) {
  QF_REQUIRE_DISPLAY();
  ChartFrame f(L"/data/Row.torrent", true, wxSize(600, 120));
  CDiagramm& chart = *f.chart;
  chart.SetSize(540, 22);
  chart.SetName(L"Row chart");
  chart.Chart().SetStatus(client::kSeedingColors);
  chart.Chart().SetText(client::ChartGauge::Upload, L"12.5");
  chart.Chart().SetText(client::ChartGauge::Download, L"0.0");
  chart.Chart().SetText(client::ChartGauge::Time, L"12:34");
  chart.Chart().SetText(client::ChartGauge::Progress, L"Seeding");
  const client::DiagramColorEntry& colours = client::GlobalDiagramColors()[client::kSeedingColors];
  const Rgb8 lamp = Of(client::RimPenColors(colours)[3]);
  const wxImage img = f.ShownWith({11, 11}, lamp);
  gui_test::Screenshot(f.frame, "chart_row");
  ASSERT_EQ(img.GetWidth(), 540);
  EXPECT_EQ(PixelAt(img, 11, 11), lamp);
  EXPECT_EQ(PixelAt(img, 250, 11), Of(colours.title_background));
  EXPECT_EQ(PixelAt(img, 0, 0), (Rgb8{kParent.Red(), kParent.Green(), kParent.Blue()}));
  const auto& cells = chart.Chart().Cells();
  auto texts_in = [&](const client::Rect& r) {
    return CountColour(img, wxRect(r.left, r.top, r.Width(), r.Height()), Of(colours.title_text));
  };
  EXPECT_GT(texts_in(cells.name), 10);
  EXPECT_GT(texts_in(cells.upload), 5);
  EXPECT_GT(texts_in(cells.download), 5);
  EXPECT_GT(texts_in(cells.time), 5);
  EXPECT_GT(texts_in(cells.progress), 10);
}

TEST(ChartWindow, ClicksOutsideTheEllipseReachTheParent) {
  QF_REQUIRE_DISPLAY();
  if (!gui_test::HaveXdotool()) GTEST_FAIL() << "no xdotool";
  ChartFrame f(L"/data/Click.torrent", false);
  wxPoint parent_click(-1, -1), chart_click(-1, -1);
  f.panel->Bind(wxEVT_LEFT_DOWN, [&](wxMouseEvent& e) { parent_click = e.GetPosition(); });
  f.chart->Bind(wxEVT_LEFT_DOWN, [&](wxMouseEvent& e) { chart_click = e.GetPosition(); });
  f.ShownWith({1, 1}, {kParent.Red(), kParent.Green(), kParent.Blue()});
  auto click = [&](wxPoint at) {
    const wxPoint screen = f.chart->ClientToScreen(at);
    return gui_test::RunAndPump({"xdotool", "mousemove", "--sync", std::to_string(screen.x), std::to_string(screen.y),
                                 "click", "1"});
  };
  // The corner belongs to the parent, in the parent's coordinates.
  ASSERT_EQ(click({3, 3}), 0);
  EXPECT_TRUE(gui_test::PumpUntil([&] { return parent_click != wxPoint(-1, -1); }));
  EXPECT_EQ(parent_click, wxPoint(23, 23));
  EXPECT_EQ(chart_click, wxPoint(-1, -1));
  // The middle is the chart's.
  parent_click = wxPoint(-1, -1);
  ASSERT_EQ(click({83, 50}), 0);
  EXPECT_TRUE(gui_test::PumpUntil([&] { return chart_click != wxPoint(-1, -1); }));
  EXPECT_EQ(chart_click, wxPoint(83, 50));
  EXPECT_EQ(parent_click, wxPoint(-1, -1));
}

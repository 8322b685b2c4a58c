#include "client/common/chart_logic.h"

#include <gtest/gtest.h>

#include <cmath>
#include <filesystem>
#include <fstream>
#include <limits>
#include <numbers>
#include <unistd.h>

using namespace client;

namespace {

class GridFont : public TextMeasurer {
 public:
  int LineHeight() const override { return 15; }
  int FittingCount(std::wstring_view text, int width) const override {
    return std::min<int>(width / 7, text.size());
  }
  int TextWidth(std::wstring_view text) const override { return int(text.size()) * 7; }
};

ChartLogic Sized(std::wstring path = L"C:\\data\\Some Torrent.torrent", int w = 166, int h = 100) {
  ChartLogic chart(std::move(path));
  chart.OnSize(w, h, false, std::make_shared<GridFont>());
  return chart;
}

int Distance(Point a, Point b) { return std::abs(a.x - b.x) + std::abs(a.y - b.y); }

constexpr double kNaN = std::numeric_limits<double>::quiet_NaN();
constexpr double kInf = std::numeric_limits<double>::infinity();

}  // namespace

TEST(ChartLogic, LayoutOfTheRoundChart) {
  const ChartLogic chart = Sized();
  EXPECT_EQ(chart.Center(), (Point{83, 50}));
  EXPECT_DOUBLE_EQ(chart.Phi(), std::atan2(50, 83));
  // sx = sin(phi) * 80 = 41.3, sy = cos(phi) * 47 = 40.3, truncated.
  EXPECT_EQ(chart.P1(), (Point{41, 9}));
  EXPECT_EQ(chart.P2(), (Point{41, 90}));
  EXPECT_EQ(chart.P3(), (Point{124, 9}));
  EXPECT_EQ(chart.P4(), (Point{124, 90}));
  EXPECT_EQ(chart.Gauge(ChartGauge::Upload).text_rect, (Rect{7, 40, 25, 60}));
  EXPECT_EQ(chart.Gauge(ChartGauge::Download).text_rect, (Rect{140, 40, 159, 60}));
  EXPECT_EQ(chart.Gauge(ChartGauge::Time).text_rect, (Rect{41, 75, 124, 93}));
  EXPECT_EQ(chart.Gauge(ChartGauge::Progress).text_rect, (Rect{41, 7, 124, 25}));
  EXPECT_EQ(chart.TitleArea(), (Rect{28, 26, 138, 74}));
  EXPECT_EQ(chart.HubRect(), (Rect{26, 26, 140, 74}));
  EXPECT_EQ(chart.PieRect(), (Rect{3, 3, 163, 97}));
  EXPECT_EQ(chart.FontHeight(), 13);
  // The name is the path until set, laid out in the title area.
  EXPECT_EQ(chart.GetName(), L"C:\\data\\Some Torrent.torrent");
  EXPECT_EQ(chart.Title().LineCount(), 3);
  EXPECT_EQ(chart.Title().Lines()[0].rect.top, 27);
  // The shape: the middle and the ends of the axes are in, the corners out.
  EXPECT_FALSE(chart.ShapeIsRow());
  for (Point in : {Point{83, 50}, Point{0, 50}, Point{165, 50}, Point{83, 0}, Point{83, 99}})
    EXPECT_TRUE(chart.Contains(in)) << in.x << "," << in.y;
  for (Point out : {Point{0, 0}, Point{165, 0}, Point{0, 99}, Point{165, 99}, Point{10, 10}, Point{-1, 50},
                    Point{166, 50}, Point{83, 100}})
    EXPECT_FALSE(chart.Contains(out)) << out.x << "," << out.y;
}

TEST(ChartLogic, RowModeCellsAndShapeFollowTheNextSize) {
  ChartLogic chart = Sized();
  chart.SetRowMode(true);
  EXPECT_FALSE(chart.ShapeIsRow());
  chart.OnSize(600, 22, false, std::make_shared<GridFont>());
  EXPECT_TRUE(chart.ShapeIsRow());
  const ChartRowCells& c = chart.Cells();
  EXPECT_EQ(c.lamp, (Rect{6, 7, 16, 15}));
  EXPECT_EQ(c.name, (Rect{23, 0, 409, 22}));
  EXPECT_EQ(c.progress, (Rect{413, 0, 473, 22}));
  EXPECT_EQ(c.time, (Rect{474, 0, 514, 22}));
  EXPECT_EQ(c.download, (Rect{515, 0, 555, 22}));
  EXPECT_EQ(c.upload, (Rect{556, 0, 596, 22}));
  // Rounded corners: the very corner is out, the edges' middles are in.
  EXPECT_FALSE(chart.Contains({0, 0}));
  EXPECT_FALSE(chart.Contains({599, 21}));
  EXPECT_TRUE(chart.Contains({0, 11}));
  EXPECT_TRUE(chart.Contains({300, 0}));
  EXPECT_TRUE(chart.Contains({4, 1}));
}

TEST(ChartLogic, NeedlesRunFromTheSectorStartToItsEnd) {
  ChartLogic chart = Sized();
  struct Case {
    ChartGauge gauge;
    Point start, end;
  };
  const Case cases[] = {{ChartGauge::Upload, chart.P2(), chart.P1()},
                        {ChartGauge::Download, chart.P4(), chart.P3()},
                        {ChartGauge::Time, chart.P2(), chart.P4()},
                        {ChartGauge::Progress, chart.P1(), chart.P3()}};
  chart.SetMaxima(1000, 1000);
  chart.SetTimeMaximum(1000);
  for (const Case& c : cases) {
    auto set = [&](double v) {
      chart.SetValues(c.gauge == ChartGauge::Upload ? v : 0, c.gauge == ChartGauge::Download ? v : 0,
                      c.gauge == ChartGauge::Time ? v : 0, c.gauge == ChartGauge::Progress ? v : 0);
    };
    auto wedge = [&] {
      for (const auto& s : chart.Sectors())
        if (s.gauge == c.gauge) return s.wedge;
      return false;
    };
    const int g = static_cast<int>(c.gauge);
    const double maximum = c.gauge == ChartGauge::Progress ? 1.0 : 1000;
    set(0);
    EXPECT_EQ(chart.Gauge(c.gauge).needle, c.start) << g;
    EXPECT_FALSE(wedge()) << g;
    set(maximum);
    EXPECT_LE(Distance(chart.Gauge(c.gauge).needle, c.end), 2) << g;
    EXPECT_TRUE(wedge()) << g;
    // Above the maximum: capped, the needle at the end of its sector.
    set(maximum * 50);
    EXPECT_EQ(chart.Gauge(c.gauge).value, maximum) << g;
    EXPECT_LE(Distance(chart.Gauge(c.gauge).needle, c.end), 2) << g;
    // Not a number, below zero, infinite: the start, the start, the end.
    set(kNaN);
    EXPECT_EQ(chart.Gauge(c.gauge).needle, c.start) << g;
    set(-kInf);
    EXPECT_EQ(chart.Gauge(c.gauge).needle, c.start) << g;
    set(kInf);
    EXPECT_LE(Distance(chart.Gauge(c.gauge).needle, c.end), 2) << g;
  }
  // Half way up the left side: level with the centre, 3 px inside the rim.
  chart.SetUploadValue(500);
  EXPECT_EQ(chart.Gauge(ChartGauge::Upload).needle, (Point{3, 50}));
}

TEST(ChartLogic, SectorsPaintInOrderWithTheirWedgesTowardsTheNeedle) {
  ChartLogic chart = Sized();
  chart.SetValues(20480, 0, 50, 0.5);
  const auto s = chart.Sectors();
  EXPECT_EQ(s[0].gauge, ChartGauge::Time);
  EXPECT_EQ(s[1].gauge, ChartGauge::Progress);
  EXPECT_EQ(s[2].gauge, ChartGauge::Upload);
  EXPECT_EQ(s[3].gauge, ChartGauge::Download);
  // Time: pie P2 -> P4, wedge P2 -> needle.
  EXPECT_EQ(s[0].pie_from, chart.P2());
  EXPECT_EQ(s[0].pie_to, chart.P4());
  EXPECT_EQ(s[0].wedge_from, chart.P2());
  EXPECT_EQ(s[0].wedge_to, chart.Gauge(ChartGauge::Time).needle);
  // Progress: pie P3 -> P1, wedge needle -> P1.
  EXPECT_EQ(s[1].pie_from, chart.P3());
  EXPECT_EQ(s[1].wedge_from, chart.Gauge(ChartGauge::Progress).needle);
  EXPECT_EQ(s[1].wedge_to, chart.P1());
  // Upload: pie P1 -> P2, wedge needle -> P2.
  EXPECT_EQ(s[2].pie_from, chart.P1());
  EXPECT_EQ(s[2].wedge_to, chart.P2());
  EXPECT_TRUE(s[2].wedge);
  // Download at 0: no wedge.
  EXPECT_EQ(s[3].pie_from, chart.P4());
  EXPECT_EQ(s[3].pie_to, chart.P3());
  EXPECT_FALSE(s[3].wedge);
}

TEST(ChartLogic, MaximaBelowOneBecomeOneAndNeedlesArePlacedAgain) {
  ChartLogic chart = Sized();
  // Initial full scales and values.
  EXPECT_EQ(chart.Gauge(ChartGauge::Upload).maximum, 20480);
  EXPECT_EQ(chart.Gauge(ChartGauge::Upload).value, 100);
  EXPECT_EQ(chart.Gauge(ChartGauge::Download).maximum, 245760);
  EXPECT_EQ(chart.Gauge(ChartGauge::Time).maximum, 100);
  EXPECT_EQ(chart.Gauge(ChartGauge::Progress).value, 0.2);
  EXPECT_EQ(chart.Text(ChartGauge::Time), L"0");

  for (double bad : {0.0, 0.5, -20.0, kNaN}) {
    chart.SetMaxima(bad, bad);
    EXPECT_EQ(chart.Gauge(ChartGauge::Upload).maximum, 1.0) << bad;
    EXPECT_EQ(chart.Gauge(ChartGauge::Download).maximum, 1.0) << bad;
    EXPECT_DOUBLE_EQ(chart.Gauge(ChartGauge::Upload).factor, chart.Gauge(ChartGauge::Upload).sweep) << bad;
    chart.SetTimeMaximum(bad);
    EXPECT_EQ(chart.Gauge(ChartGauge::Time).maximum, 1.0) << bad;
  }
  // A larger scale moves the needle back towards the start.
  chart.SetMaxima(1000, 1000);
  chart.SetUploadValue(1000);
  const Point full = chart.Gauge(ChartGauge::Upload).needle;
  chart.SetMaxima(1e9, 1000);
  EXPECT_EQ(chart.Gauge(ChartGauge::Upload).needle, chart.P2());
  EXPECT_NE(full, chart.P2());
  // An infinite scale still gives a number.
  chart.SetMaxima(kInf, kInf);
  chart.SetValues(kInf, 5, 0, 0);
  EXPECT_TRUE(std::isfinite(chart.Gauge(ChartGauge::Upload).factor));
  EXPECT_LE(Distance(chart.Gauge(ChartGauge::Upload).needle, chart.P1()), 2);

  // The time gauge's scale: the current value is placed on the new scale.
  chart.SetTimeMaximum(1800000);
  chart.SetTimeValue(900000);
  EXPECT_EQ(chart.Gauge(ChartGauge::Time).needle, (Point{83, 97}));
}

TEST(ChartLogic, TheUploadMarkerIsCappedAndSitsFurtherIn) {
  ChartLogic chart = Sized();
  chart.SetMaxima(1000, 1000);
  chart.SetMarker(500);
  EXPECT_EQ(chart.MarkerPoint(), (Point{13, 50}));
  chart.SetMarker(5000);
  EXPECT_EQ(chart.Gauge(ChartGauge::Upload).marker, 1000);
  chart.SetMarker(kNaN);
  EXPECT_EQ(chart.Gauge(ChartGauge::Upload).marker, 0);
  // The marker follows a new scale.
  chart.SetMarker(500);
  chart.SetMaxima(2000, 1000);
  EXPECT_NE(chart.MarkerPoint(), (Point{13, 50}));
}

TEST(ChartLogic, StatusHighlightNameAndFolder) {
  ChartLogic chart = Sized();
  chart.SetStatus(7);
  EXPECT_EQ(chart.Status(), 4);
  chart.SetStatus(-1);
  EXPECT_EQ(chart.Status(), 0);
  EXPECT_EQ(chart.RimStatus(), 0);
  chart.SetHighlight(true);
  EXPECT_EQ(chart.RimStatus(), kDownloadingColors);
  chart.SetStatus(kErrorColors);
  EXPECT_EQ(chart.RimStatus(), kDownloadingColors);

  EXPECT_EQ(chart.GetFolder(), L"C:\\data\\");
  EXPECT_EQ(Sized(L"Color Scheme").GetFolder(), L"Color Scheme");
  EXPECT_EQ(Sized(L"/home/u/data/x.torrent").GetFolder(), L"/home/u/data/");

  chart.SetName(L"Quillfern");
  EXPECT_EQ(chart.GetName(), L"Quillfern");
  int shown = 0;
  for (const auto& line : chart.Title().Lines()) shown += line.text == L"Quillfern";
  EXPECT_EQ(shown, 1);
  EXPECT_EQ(chart.Path(), L"C:\\data\\Some Torrent.torrent");
}

TEST(ChartLogic, AMinimisedWindowKeepsItsLayout) {
  ChartLogic chart = Sized();
  chart.OnSize(0, 0, true, std::make_shared<GridFont>());
  EXPECT_TRUE(chart.Minimised());
  EXPECT_EQ(chart.Width(), 166);
  EXPECT_EQ(chart.Center(), (Point{83, 50}));
  chart.OnSize(166, 100, false, std::make_shared<GridFont>());
  EXPECT_FALSE(chart.Minimised());
  // Degenerate sizes lay out without fault.
  for (int w : {0, 1, 5, 7}) {
    chart.OnSize(w, w, false, std::make_shared<GridFont>());
    chart.SetValues(1, 1, 1, 1);
    EXPECT_TRUE(std::isfinite(chart.Phi()));
  }
}

TEST(ChartLogic, TheColourTableIsLoadedOnceWithDefaultsWhenThereIsNoScheme) {
  namespace fs = std::filesystem;
  const fs::path dir = fs::temp_directory_path() / ("qf_chart_" + std::to_string(::getpid()));
  fs::create_directories(dir);
  platform::profile profile(dir / "profile.ini");
  // No folder: the defaults with the given main frame colour.
  EXPECT_TRUE(LoadDiagramColorsOnce("", profile, 0x00123456));
  EXPECT_EQ(GlobalDiagramColors()[3].main_frame_color, 0x00123456u);
  EXPECT_EQ(GlobalDiagramColors()[2].upload.background, 0x00FFC8C8u);
  // A later chart with a scheme folder leaves the table alone.
  DiagramColorTable other = DiagramColorTable::Defaults(0x00ABCDEF);
  const auto bytes = other.Serialize();
  std::ofstream(dir / "Diagram Colors.tnts", std::ios::binary)
      .write(reinterpret_cast<const char*>(bytes.data()), bytes.size());
  EXPECT_FALSE(LoadDiagramColorsOnce(dir.string() + "/", profile, 0));
  EXPECT_EQ(GlobalDiagramColors()[3].main_frame_color, 0x00123456u);
  fs::remove_all(dir);
}

#pragma once
// The round gauge chart of one torrent, without the toolkit: an elliptic
// window cut by its two diagonals into four sectors (upload on the left,
// download on the right, time at the bottom, progress at the top), each
// filled from its start up to a needle in proportion to a value, a text in
// each sector and the torrent's name in the middle. In row mode the same
// texts sit in the cells of a flat row. The window (CDiagramm) paints what
// this object lays out.

#include "client/common/CEllipsenText.h"
#include "client/common/color_scheme.h"
#include "client/common/geometry.h"
#include "client/common/text_measurer.h"

#include <array>
#include <memory>
#include <string>
#include <vector>

namespace client {

enum class ChartGauge { Upload = 0, Download = 1, Time = 2, Progress = 3 };
constexpr int kChartGaugeCount = 4;

struct ChartGaugeRecord {
  double maximum = 1.0;  // full scale, at least 1.0
  double value = 0;      // capped at the maximum
  double marker = 0;     // second value; only the upload gauge shows it
  double start = 0;      // radians, angle of value 0
  double sweep = 0;      // radians over the full scale (signed)
  double factor = 0;     // sweep / maximum
  Point needle;          // window coordinates of the needle end
  std::wstring text = L"0";
  Rect text_rect;
};

// What one sector paints: its background pie and, when the needle has left
// the start, the value wedge. Pies run counter-clockwise from `from` to
// `to` in the pie rectangle.
struct ChartSectorPaint {
  ChartGauge gauge;
  Point pie_from, pie_to;
  bool wedge = false;
  Point wedge_from, wedge_to;
};

struct ChartRowCells {
  Rect lamp, name, progress, time, download, upload;
};

// One row of the window's shape: pixels x0 .. x1 - 1 of line y.
struct ChartSpan {
  int y, x0, x1;
};

// Loads the global diagram colour table from `folder` (file, then the
// profile's copy) the first time it is called in the process; when that
// fails the table gets the defaults with `main_frame` as every entry's main
// frame colour. Later calls do nothing. True when this call set the table.
bool LoadDiagramColorsOnce(const std::string& folder, const platform::profile& profile, ColorRef main_frame);

class ChartLogic {
 public:
  static constexpr int kWidth = 166;
  static constexpr int kHeight = 100;
  static constexpr int kLabelHeight = 20;

  explicit ChartLogic(std::wstring path);

  // Lays the chart out for a client area of width x height. While the
  // window is minimised nothing changes and nothing is painted. The title
  // is measured with `title_font`.
  void OnSize(int width, int height, bool minimised, std::shared_ptr<const TextMeasurer> title_font);

  // Values: each is capped at its gauge's maximum (NaN and negative values
  // count as 0) and its needle placed.
  void SetValues(double upload, double download, double time, double progress);
  void SetUploadValue(double value) { SetValue(ChartGauge::Upload, value); }
  void SetDownloadValue(double value) { SetValue(ChartGauge::Download, value); }
  void SetTimeValue(double value) { SetValue(ChartGauge::Time, value); }
  void SetProgressValue(double value) { SetValue(ChartGauge::Progress, value); }
  // Full scales of the rate gauges; below 1.0 (or NaN) becomes 1.0. The
  // needles are placed again with their current values.
  void SetMaxima(double upload_maximum, double download_maximum);
  // Full scale of the time gauge, the same way.
  void SetTimeMaximum(double maximum);
  // The upload gauge's second value (the steered upload limit).
  void SetMarker(double value);

  void SetText(ChartGauge gauge, std::wstring text) { Edit(gauge).text = std::move(text); }
  const std::wstring& Text(ChartGauge gauge) const { return Gauge(gauge).text; }

  // Index into the diagram colour table, kept within 0..4.
  void SetStatus(int status) { m_status = DiagramColorTable::ClampStatus(status); }
  int Status() const { return m_status; }
  // While highlighted the rim and separators use the Downloading pens.
  void SetHighlight(bool on) { m_highlight = on; }
  bool Highlight() const { return m_highlight; }
  int RimStatus() const { return m_highlight ? kDownloadingColors : m_status; }

  // Takes effect at the next size and paint.
  void SetRowMode(bool on) { m_rowMode = on; }
  bool RowMode() const { return m_rowMode; }

  // The name, also shown in the title area.
  void SetName(std::wstring name);
  // Shows another text in the title area; the name stays.
  void SetTitleLabel(std::wstring text) { m_title.SetText(std::move(text)); }
  const std::wstring& TitleLabel() const { return m_title.Text(); }
  const std::wstring& GetName() const { return m_name; }
  const std::wstring& Path() const { return m_path; }
  // The path up to and including its last separator; the whole path when
  // it has none.
  std::wstring GetFolder() const;

  const ChartGaugeRecord& Gauge(ChartGauge gauge) const { return m_gauges[static_cast<int>(gauge)]; }
  int Width() const { return m_width; }
  int Height() const { return m_height; }
  bool Minimised() const { return m_minimised; }
  Point Center() const { return {m_cx, m_cy}; }
  double Phi() const { return m_phi; }
  // P1 upper left, P2 lower left, P3 upper right, P4 lower right.
  Point P1() const { return m_p[0]; }
  Point P2() const { return m_p[1]; }
  Point P3() const { return m_p[2]; }
  Point P4() const { return m_p[3]; }
  Point MarkerPoint() const { return m_marker; }
  // Pixel height of both fonts.
  int FontHeight() const { return 2 * kLabelHeight / 3; }

  Rect PieRect() const { return {3, 3, m_width - 3, m_height - 3}; }
  Rect HubRect() const;
  // The rim outline inset by `inset` px (0..5).
  Rect RimRect(int inset) const { return {inset, inset, m_width - inset, m_height - inset}; }
  Rect TitleArea() const;
  const CEllipsenText& Title() const { return m_title; }
  const ChartRowCells& Cells() const { return m_cells; }

  // The sectors in painting order: time, progress, upload, download.
  std::array<ChartSectorPaint, kChartGaugeCount> Sectors() const;

  // The window's shape as laid out at the last size: an ellipse, or a
  // rectangle with rounded corners in row mode. Outside it the window shows
  // its parent and takes no clicks.
  const std::vector<ChartSpan>& Shape() const { return m_shape; }
  bool ShapeIsRow() const { return m_shapeRowMode; }
  bool Contains(Point p) const;

 private:
  ChartGaugeRecord& Edit(ChartGauge gauge) { return m_gauges[static_cast<int>(gauge)]; }
  void SetValue(ChartGauge gauge, double value);
  void SetMaximum(ChartGauge gauge, double maximum);
  void PlaceNeedle(ChartGauge gauge);
  void PlaceMarker();
  Point OnRim(double angle, int inset) const;
  void ArrangeGauges();
  void BuildShape();
  Point SectorStart(ChartGauge gauge) const;

  std::wstring m_path;
  std::wstring m_name;
  std::array<ChartGaugeRecord, kChartGaugeCount> m_gauges;
  int m_status = kPausedColors;
  bool m_rowMode = false;
  bool m_shapeRowMode = false;
  bool m_minimised = false;
  bool m_highlight = false;
  int m_width = 0, m_height = 0;
  int m_cx = 0, m_cy = 0;
  double m_phi;
  std::array<Point, 4> m_p{};
  Point m_marker;
  ChartRowCells m_cells;
  CEllipsenText m_title;
  std::vector<ChartSpan> m_shape;
};

}  // namespace client

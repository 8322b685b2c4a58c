#include "client/common/chart_logic.h"

#include <algorithm>
#include <cmath>
#include <limits>
#include <numbers>

namespace client {

namespace {

constexpr double kPi = std::numbers::pi;
constexpr int kL = ChartLogic::kLabelHeight;

// A gauge value as the needle may show it: NaN and negative values are 0,
// anything above the full scale is the full scale. The needle angle then
// stays within its sector whatever the caller passes.
double Capped(double value, double maximum) {
  if (!(value > 0)) return 0;
  return std::min(value, maximum);
}

// Full scales below 1.0, NaN and negative ones are 1.0; an infinite one is
// the largest finite double, so that sweep / maximum stays a number.
double SaneMaximum(double maximum) {
  if (!(maximum >= 1.0)) return 1.0;
  return std::min(maximum, std::numeric_limits<double>::max());
}

int Trunc(double v) { return static_cast<int>(v); }

}  // namespace

bool LoadDiagramColorsOnce(const std::string& folder, const platform::profile& profile, ColorRef main_frame) {
  static bool loaded = false;
  if (loaded) return false;
  loaded = true;
  DiagramColorTable& table = GlobalDiagramColors();
  if (!LoadDiagramColors(folder, profile, table)) table = DiagramColorTable::Defaults(main_frame);
  return true;
}

ChartLogic::ChartLogic(std::wstring path) : m_path(std::move(path)), m_name(m_path), m_phi(kPi / 4) {
  const struct {
    double maximum, value, marker;
  } initial[kChartGaugeCount] = {{20480, 100, 90}, {245760, 2048, 2000}, {100, 0, 0}, {1.0, 0.2, 0.19}};
  for (int i = 0; i < kChartGaugeCount; ++i) {
    m_gauges[i].maximum = initial[i].maximum;
    m_gauges[i].value = initial[i].value;
    m_gauges[i].marker = initial[i].marker;
  }
  ArrangeGauges();
  PlaceMarker();
  m_title.SetText(m_name);
}

void ChartLogic::OnSize(int width, int height, bool minimised, std::shared_ptr<const TextMeasurer> title_font) {
  m_minimised = minimised;
  if (minimised) return;
  m_width = std::max(width, 0);
  m_height = std::max(height, 0);
  m_shapeRowMode = m_rowMode;
  BuildShape();

  const int w = m_width, h = m_height;
  m_cells.lamp = {6, 7, h - 6, h - 7};
  m_cells.name = {h + 1, 0, w - 191, h};
  m_cells.progress = {w - 187, 0, w - 127, h};
  m_cells.time = {w - 126, 0, w - 86, h};
  m_cells.download = {w - 85, 0, w - 45, h};
  m_cells.upload = {w - 44, 0, w - 4, h};

  m_cx = w / 2;
  m_cy = h / 2;
  m_phi = std::atan2(m_cy, m_cx);
  const double sx = std::sin(m_phi) * (m_cx - 3), sy = std::cos(m_phi) * (m_cy - 3);
  m_p[0] = {Trunc(m_cx - sx), Trunc(m_cy - sy)};
  m_p[1] = {Trunc(m_cx - sx), Trunc(m_cy + sy)};
  m_p[2] = {Trunc(m_cx + sx), Trunc(m_cy - sy)};
  m_p[3] = {Trunc(m_cx + sx), Trunc(m_cy + sy)};
  ArrangeGauges();

  const Rect title = TitleArea();
  m_title.Layout(title.left, title.top, title.Width(), title.Height(), std::move(title_font));
  PlaceMarker();
}

void ChartLogic::ArrangeGauges() {
  const int w = m_width, h = m_height, cx = m_cx, cy = m_cy;
  const double phi = m_phi;
  struct Arrangement {
    double start, sweep;
    Rect text;
  };
  const Arrangement arrangement[kChartGaugeCount] = {
      // Upload: from P2 up the left side to P1.
      {-phi, kPi - 2 * phi, {7, cy - kL / 2, kL + 5, cy - kL / 2 + kL}},
      // Download: from P4 up the right side to P3.
      {phi, 2 * phi - kPi, {w - 7 - kL + 1, cy - kL / 2, w - 7, cy - kL / 2 + kL}},
      // Time: from P2 along the bottom to P4. The angle grows from -phi to
      // phi here, so the sweep is negative (a = start - factor * value).
      {-phi, -2 * phi, {cx / 2, h - kL - 5, cx / 2 + cx, h - 7}},
      // Progress: from P1 along the top to P3.
      {phi - kPi, 2 * phi, {cx / 2, 7, cx / 2 + cx, kL + 5}},
  };
  for (int i = 0; i < kChartGaugeCount; ++i) {
    ChartGaugeRecord& g = m_gauges[i];
    g.start = arrangement[i].start;
    g.sweep = arrangement[i].sweep;
    g.factor = g.sweep / g.maximum;
    g.text_rect = arrangement[i].text;
    PlaceNeedle(static_cast<ChartGauge>(i));
  }
}

Point ChartLogic::OnRim(double angle, int inset) const {
  return {Trunc(std::sin(angle) * (m_cx - inset) + m_cx), Trunc(std::cos(angle) * (m_cy - inset) + m_cy)};
}

void ChartLogic::PlaceNeedle(ChartGauge gauge) {
  ChartGaugeRecord& g = Edit(gauge);
  g.value = Capped(g.value, g.maximum);
  g.needle = OnRim(g.start - g.factor * g.value, 3);
}

void ChartLogic::PlaceMarker() {
  ChartGaugeRecord& g = Edit(ChartGauge::Upload);
  g.marker = Capped(g.marker, g.maximum);
  m_marker = OnRim(g.start - g.factor * g.marker, 13);
}

void ChartLogic::SetValue(ChartGauge gauge, double value) {
  Edit(gauge).value = value;
  PlaceNeedle(gauge);
}

void ChartLogic::SetValues(double upload, double download, double time, double progress) {
  SetUploadValue(upload);
  SetDownloadValue(download);
  SetTimeValue(time);
  SetProgressValue(progress);
}

void ChartLogic::SetMaximum(ChartGauge gauge, double maximum) {
  ChartGaugeRecord& g = Edit(gauge);
  g.maximum = SaneMaximum(maximum);
  g.factor = g.sweep / g.maximum;
  PlaceNeedle(gauge);
}

void ChartLogic::SetMaxima(double upload_maximum, double download_maximum) {
  SetMaximum(ChartGauge::Upload, upload_maximum);
  SetMaximum(ChartGauge::Download, download_maximum);
  // The marker follows the new upload scale.
  PlaceMarker();
}

void ChartLogic::SetTimeMaximum(double maximum) { SetMaximum(ChartGauge::Time, maximum); }

void ChartLogic::SetMarker(double value) {
  Edit(ChartGauge::Upload).marker = value;
  PlaceMarker();
}

void ChartLogic::SetName(std::wstring name) {
  m_name = std::move(name);
  m_title.SetText(m_name);
}

std::wstring ChartLogic::GetFolder() const {
  const auto at = m_path.find_last_of(L"\\/");
  return at == std::wstring::npos ? m_path : m_path.substr(0, at + 1);
}

Rect ChartLogic::HubRect() const { return {kL + 6, kL + 6, m_width - kL - 6, m_height - kL - 6}; }

Rect ChartLogic::TitleArea() const {
  return {kL + 8, kL + 6, m_width - (kL + 8), m_height - (kL + 6)};
}

Point ChartLogic::SectorStart(ChartGauge gauge) const {
  switch (gauge) {
    case ChartGauge::Upload: return P2();
    case ChartGauge::Download: return P4();
    case ChartGauge::Time: return P2();
    case ChartGauge::Progress: return P1();
  }
  return {};
}

std::array<ChartSectorPaint, kChartGaugeCount> ChartLogic::Sectors() const {
  auto sector = [&](ChartGauge gauge, Point from, Point to, bool needle_first) {
    ChartSectorPaint s{gauge, from, to, false, {}, {}};
    const Point needle = Gauge(gauge).needle, start = SectorStart(gauge);
    s.wedge = std::abs(needle.x - start.x) + std::abs(needle.y - start.y) > 2;
    s.wedge_from = needle_first ? needle : start;
    s.wedge_to = needle_first ? start : needle;
    return s;
  };
  return {sector(ChartGauge::Time, P2(), P4(), false), sector(ChartGauge::Progress, P3(), P1(), true),
          sector(ChartGauge::Upload, P1(), P2(), true), sector(ChartGauge::Download, P4(), P3(), false)};
}

void ChartLogic::BuildShape() {
  m_shape.clear();
  const int w = m_width, h = m_height;
  for (int y = 0; y < h; ++y) {
    const double py = y + 0.5;
    double left, right;  // edges of the shape on this line
    if (m_shapeRowMode) {
      // Rounded rectangle (0, 0, w, h) with 8 x 8 corner ellipses.
      constexpr double r = 4;
      const double d = py < r ? r - py : py > h - r ? py - (h - r) : 0;
      const double inset = r - std::sqrt(std::max(0.0, r * r - d * d));
      left = inset;
      right = w - inset;
    } else {
      // Ellipse in the box (0, 0, w + 1, h + 1).
      const double rx = (w + 1) / 2.0, ry = (h + 1) / 2.0;
      const double dy = (py - ry) / ry;
      if (dy * dy >= 1) continue;
      const double half = rx * std::sqrt(1 - dy * dy);
      left = rx - half;
      right = rx + half;
    }
    // Pixels whose centres lie inside.
    const int x0 = std::max(0, static_cast<int>(std::ceil(left - 0.5)));
    const int x1 = std::min(w, static_cast<int>(std::floor(right - 0.5)) + 1);
    if (x0 < x1) m_shape.push_back({y, x0, x1});
  }
}

bool ChartLogic::Contains(Point p) const {
  const auto it = std::lower_bound(m_shape.begin(), m_shape.end(), p.y,
                                   [](const ChartSpan& s, int y) { return s.y < y; });
  return it != m_shape.end() && it->y == p.y && p.x >= it->x0 && p.x < it->x1;
}

}  // namespace client

#include "scheme_editor/wx/scheme_preview.h"

#include "client/common/wx/CMemDC.h"

#include <wx/dcclient.h>
#include <wx/window.h>

#include <cmath>
#include <vector>

// A plain stand-in for the frame and chart windows: it paints the frame's
// bevel and caption and the chart's four sectors straight from the records.

namespace tintwright {
namespace {

wxColour Colour(client::ColorRef c) {
  const client::Rgb rgb = client::FromColorRef(c);
  return wxColour(rgb.r, rgb.g, rgb.b);
}

class PlaceholderChart : public wxWindow {
 public:
  PlaceholderChart(wxWindow* parent, const wxPoint& at, const client::DiagramColorTable& table)
      : wxWindow(parent, wxID_ANY, at, wxSize(166, 100)), m_table(table) {
    SetBackgroundStyle(wxBG_STYLE_PAINT);
    Bind(wxEVT_PAINT, &PlaceholderChart::OnPaint, this);
  }
  void SetStatus(int status) { m_status = status; }

 private:
  // A wedge of the ellipse from angle a to b; a point at angle t lies at
  // (sin t * rx + cx, cos t * ry + cy).
  void Pie(wxDC& dc, double a, double b) {
    const double cx = 83, cy = 50, rx = 80, ry = 47;
    std::vector<wxPoint> points{wxPoint(83, 50)};
    const int steps = 24;
    for (int i = 0; i <= steps; ++i) {
      const double t = a + (b - a) * i / steps;
      points.emplace_back(int(std::sin(t) * rx + cx), int(std::cos(t) * ry + cy));
    }
    dc.DrawPolygon(int(points.size()), points.data());
  }

  void OnPaint(wxPaintEvent&) {
    wxPaintDC paint(this);
    CMemDC dc(&paint, false);
    dc.SetBackground(wxBrush(GetParent()->GetBackgroundColour()));
    dc.Clear();
    const client::DiagramColorEntry& e = m_table[m_status];
    const double phi = std::atan2(50.0, 83.0), pi = std::acos(-1.0);
    struct Sector {
      const client::GaugeColors* colors;
      double from, to, filled_to;
    };
    // Progress at the top, upload on the left, download on the right,
    // time at the bottom; each with a fifth of it filled.
    const Sector sectors[] = {
        {&e.progress, pi + phi, pi - phi, pi + 0.6 * phi},
        {&e.upload, 2 * pi - phi, pi + phi, 2 * pi - phi - 0.2 * (pi - 2 * phi)},
        {&e.download, phi, pi - phi, phi + 0.2 * (pi - 2 * phi)},
        {&e.time, -phi, phi, -0.6 * phi},
    };
    for (const Sector& s : sectors) {
      dc.SetPen(wxPen(Colour(s.colors->foreground)));
      dc.SetBrush(wxBrush(Colour(s.colors->background)));
      Pie(dc, s.from, s.to);
      dc.SetBrush(wxBrush(Colour(s.colors->foreground)));
      Pie(dc, s.from, s.filled_to);
    }
    const auto rim = client::RimPenColors(e);
    dc.SetBrush(wxBrush(Colour(e.title_background)));
    dc.SetPen(wxPen(Colour(rim[3]), 2));
    dc.DrawEllipse(26, 26, 114, 48);
    dc.SetBrush(*wxTRANSPARENT_BRUSH);
    for (int i = 0; i < 6; ++i) {
      dc.SetPen(wxPen(Colour(rim[i]), 2));
      dc.DrawEllipse(i, i, 166 - 2 * i, 100 - 2 * i);
    }
    dc.SetTextForeground(Colour(e.title_text));
    dc.DrawLabel("Color Scheme", wxRect(26, 26, 114, 48), wxALIGN_CENTER);
  }

  const client::DiagramColorTable& m_table;
  int m_status = client::Queued;
};

class PlaceholderFrame : public wxWindow {
 public:
  PlaceholderFrame(wxWindow* parent, const wxRect& rect) : wxWindow(parent, wxID_ANY, rect.GetPosition(), rect.GetSize()) {
    SetBackgroundStyle(wxBG_STYLE_PAINT);
    Bind(wxEVT_PAINT, &PlaceholderFrame::OnPaint, this);
  }
  void SetBlock(const client::MainColorBlock& block) {
    m_block = block;
    SetBackgroundColour(Colour(block.frame.OffsetColor()));
  }

 private:
  void OnPaint(wxPaintEvent&) {
    wxPaintDC paint(this);
    CMemDC dc(&paint, false);
    const wxSize size = GetClientSize();
    dc.SetBackground(wxBrush(GetParent()->GetBackgroundColour()));
    dc.Clear();
    const auto pens = client::FramePenColors(m_block);
    dc.SetBrush(wxBrush(Colour(m_block.frame.OffsetColor())));
    for (int i = 0; i < 8; ++i) {
      dc.SetPen(wxPen(Colour(pens[i]), 2));
      dc.DrawRoundedRectangle(i, i, size.x - 2 * i, size.y - 2 * i, 12);
      dc.SetBrush(*wxTRANSPARENT_BRUSH);
    }
    wxFont title = GetFont().Bold();
    dc.SetFont(title);
    const wxRect caption(16, 8, size.x - 32 - 32, 16);
    dc.SetTextForeground(Colour(m_block.title_shadow));
    dc.DrawLabel("Quillfern", caption, wxALIGN_CENTER);
    dc.SetTextForeground(Colour(m_block.active_title));
    dc.DrawLabel("Quillfern", wxRect(caption.x - 1, caption.y - 1, caption.width, caption.height), wxALIGN_CENTER);
    dc.SetPen(wxPen(Colour(pens[4])));
    dc.SetBrush(wxBrush(Colour(m_block.inactive_button)));
    dc.DrawEllipse(size.x - 19, 8, 16, 16);
    dc.DrawEllipse(size.x - 35, 8, 16, 16);
    dc.SetFont(GetFont());
    dc.SetTextForeground(Colour(m_block.inactive_title));
    dc.DrawText("Velmorathine", 17, size.y - 40);
  }

  client::MainColorBlock m_block = client::MainColorBlock::Defaults();
};

class PlaceholderPreview : public SchemePreview {
 public:
  PlaceholderPreview(wxWindow* parent, const wxRect& rect, const client::DiagramColorTable& table)
      : m_frame(new PlaceholderFrame(parent, rect)), m_chart(new PlaceholderChart(m_frame, wxPoint(9 + 15, 24 + 15), table)) {}

  void SetMainColors(const client::MainColorBlock& block) override {
    m_frame->SetBlock(block);
    m_frame->Refresh();
  }
  void ChartColorsChanged() override { m_chart->Refresh(); }
  void SetStatus(int status) override {
    m_chart->SetStatus(status);
    m_chart->Refresh();
  }
  wxWindow* FrameWindow() override { return m_frame; }
  wxWindow* ChartWindow() override { return m_chart; }

 private:
  PlaceholderFrame* m_frame;
  PlaceholderChart* m_chart;
};

}  // namespace

std::unique_ptr<SchemePreview> CreateSchemePreview(wxWindow* parent, const wxRect& rect, const std::string&,
                                                   const client::MainColorBlock& block,
                                                   const client::DiagramColorTable& table) {
  auto preview = std::make_unique<PlaceholderPreview>(parent, rect, table);
  preview->SetMainColors(block);
  return preview;
}

}  // namespace tintwright

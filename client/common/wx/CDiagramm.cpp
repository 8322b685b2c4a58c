#include "client/common/wx/CDiagramm.h"

#include "client/common/wx/CMemDC.h"
#include "client/common/wx/wx_conversions.h"
#include "platform/profile.h"

#include <wx/dcclient.h>
#include <wx/toplevel.h>

#include <cmath>
#include <numbers>

namespace {

using client::ChartGauge;

using client::ToWxColour;
using client::ToWxPoint;
using client::ToWxRect;


// A pie in the ellipse of `box`, counter-clockwise from the ray towards
// `from` to the ray towards `to`, filled with the brush and outlined (arc
// and both radii) with the pen. Equal directions give the whole ellipse.
// wx takes the arc's ends as angles of the ellipse's parameter, so each
// point's direction is turned into that angle.
void DrawPie(wxDC& dc, const wxRect& box, client::Point from, client::Point to) {
  const double cx = box.x + box.width / 2.0, cy = box.y + box.height / 2.0;
  const double a = box.width / 2.0, b = box.height / 2.0;
  if (a <= 0 || b <= 0) return;
  auto parameter = [&](client::Point p) { return std::atan2(-(p.y - cy) / b, (p.x - cx) / a); };
  const double t_from = parameter(from), t_to = parameter(to);
  const double from_deg = t_from * 180 / std::numbers::pi, to_deg = t_to * 180 / std::numbers::pi;
  dc.DrawEllipticArc(box.x, box.y, box.width, box.height, from_deg, to_deg);
  if (from_deg != to_deg) {
    const wxPoint centre(static_cast<int>(std::lround(cx)), static_cast<int>(std::lround(cy)));
    for (double t : {t_from, t_to})
      dc.DrawLine(centre, wxPoint(static_cast<int>(std::lround(cx + a * std::cos(t))),
                                  static_cast<int>(std::lround(cy - b * std::sin(t)))));
  }
}

// Text aligned in its rectangle and cut off at its edges.
void DrawClipped(wxDC& dc, const std::wstring& text, const wxRect& rect, int alignment) {
  if (text.empty() || rect.IsEmpty()) return;
  dc.SetClippingRegion(rect);
  dc.DrawLabel(wxString(text), rect, alignment);
  dc.DestroyClippingRegion();
}

}  // namespace

CDiagramm::CDiagramm(std::wstring path, std::string color_scheme_folder, client::ColorRef main_frame_color,
                     const platform::profile& profile)
    : m_chart(std::move(path)), m_shown(&m_chart), m_folder(std::move(color_scheme_folder)) {
  client::LoadDiagramColorsOnce(m_folder, profile, main_frame_color);
  m_drawing = SharedDrawingObjects(m_shown->FontHeight());
}

std::shared_ptr<CDiagramm::DrawingObjects> CDiagramm::SharedDrawingObjects(int font_height) {
  static std::weak_ptr<DrawingObjects> shared;
  if (auto objects = shared.lock()) return objects;
  auto objects = std::make_shared<DrawingObjects>();
  MakeStatusObjects(*objects);
  // Arial, a sans serif where it is missing; wx takes the pixel size as
  // the line height.
  objects->font = wxFont(wxFontInfo(wxSize(0, font_height)).Family(wxFONTFAMILY_SWISS).FaceName("Arial"));
  objects->measurer = std::make_shared<client::WxTextMeasurer>(objects->font);
  shared = objects;
  return objects;
}

CDiagramm::~CDiagramm() = default;

bool CDiagramm::Create(const wxString& window_text, const wxPoint& top_left, wxWindow* parent, bool row_mode) {
  m_shown->SetRowMode(row_mode);
  SetBackgroundStyle(wxBG_STYLE_PAINT);
  if (!wxWindow::Create(parent, wxID_ANY, top_left, wxSize(kWidth, kHeight),
                        wxBORDER_NONE | wxFULL_REPAINT_ON_RESIZE, GetName()))
    return false;
  SetLabel(window_text);
  SetCursor(*wxCROSS_CURSOR);  // one cursor for all charts
  Bind(wxEVT_PAINT, &CDiagramm::OnPaint, this);
  Bind(wxEVT_SIZE, &CDiagramm::OnSize, this);
  LayoutNow();
  Show();
  return true;
}

void CDiagramm::ShowChart(client::ChartLogic& chart) {
  m_shown = &chart;
  if (GetHandle()) LayoutNow();
}

void CDiagramm::SetValues(double upload, double download, double time, double progress) {
  m_shown->SetValues(upload, download, time, progress);
  Refresh();
  Update();
}

void CDiagramm::SetName(const wxString& name) {
  wxWindow::SetName(name);
  m_shown->SetName(name.ToStdWstring());
}

void CDiagramm::SetTimeMaximum(double maximum) {
  m_shown->SetTimeMaximum(maximum);
  Refresh();
}

void CDiagramm::CreateDrawingObjects(bool /*first: wx frees the old objects itself*/) { MakeStatusObjects(*m_drawing); }

void CDiagramm::MakeStatusObjects(DrawingObjects& drawing) {
  const client::DiagramColorTable& table = client::GlobalDiagramColors();
  for (int status = 0; status < client::kStatusCount; ++status) {
    const client::DiagramColorEntry& entry = table[status];
    StatusObjects& objects = drawing.statuses[status];
    const auto rim = client::RimPenColors(entry);
    for (int i = 0; i < 6; ++i) objects.rim[i] = wxPen(ToWxColour(rim[i]), 2, wxPENSTYLE_SOLID);
    objects.title_brush = wxBrush(ToWxColour(entry.title_background));
    objects.title_text = ToWxColour(entry.title_text);
    const client::GaugeColors* gauges[client::kChartGaugeCount] = {&entry.upload, &entry.download, &entry.time,
                                                                   &entry.progress};
    for (int g = 0; g < client::kChartGaugeCount; ++g) {
      GaugeObjects& o = objects.gauges[g];
      o.background = wxBrush(ToWxColour(gauges[g]->background));
      o.foreground = wxBrush(ToWxColour(gauges[g]->foreground));
      o.foreground_pen = wxPen(ToWxColour(gauges[g]->foreground), 1, wxPENSTYLE_SOLID);
      o.text = ToWxColour(gauges[g]->text);
    }
  }
}

bool CDiagramm::LoadDiagramColors(const std::string& folder) {
  return client::LoadDiagramColors(folder, platform::profile::application(), client::GlobalDiagramColors());
}

bool CDiagramm::SaveDiagramColors(const std::string& folder) {
  platform::profile profile = platform::profile::application();
  return client::SaveDiagramColors(folder, profile, client::GlobalDiagramColors());
}

bool CDiagramm::IsMinimisedNow() const {
  const auto* top = wxDynamicCast(wxGetTopLevelParent(const_cast<CDiagramm*>(this)), wxTopLevelWindow);
  return top && top->IsIconized();
}

void CDiagramm::OnSize(wxSizeEvent& event) {
  LayoutNow();
  event.Skip();
}

void CDiagramm::LayoutNow() {
  const wxSize size = GetClientSize();
  m_shown->OnSize(size.x, size.y, IsMinimisedNow(), m_drawing->measurer);
  if (m_shown->Minimised()) return;
  wxRegion shape;
  for (const client::ChartSpan& s : m_shown->Shape()) shape.Union(s.x0, s.y, s.x1 - s.x0, 1);
  m_outside = wxRegion(0, 0, size.x, size.y);
  m_outside.Subtract(shape);
}

void CDiagramm::OnPaint(wxPaintEvent&) {
  wxPaintDC target(this);
  if (m_shown->Minimised() || IsMinimisedNow()) return;
  CMemDC dc(&target, false);
  if (m_shown->RowMode())
    PaintRow(dc);
  else
    PaintRound(dc);
  PaintOutsideShape(dc);
}

void CDiagramm::PaintRound(wxDC& dc) const {
  const StatusObjects& objects = m_drawing->statuses[m_shown->Status()];
  const StatusObjects& rim = m_drawing->statuses[m_shown->RimStatus()];
  const wxPoint centre = ToWxPoint(m_shown->Center());
  const wxRect pie = ToWxRect(m_shown->PieRect());
  dc.SetBackgroundMode(wxBRUSHSTYLE_TRANSPARENT);
  dc.SetFont(m_drawing->font);

  // The four sectors, each with its value wedge and text.
  for (const client::ChartSectorPaint& sector : m_shown->Sectors()) {
    const GaugeObjects& g = objects.gauges[static_cast<int>(sector.gauge)];
    dc.SetPen(g.foreground_pen);
    dc.SetBrush(g.background);
    DrawPie(dc, pie, sector.pie_from, sector.pie_to);
    if (sector.wedge) {
      dc.SetBrush(g.foreground);
      DrawPie(dc, pie, sector.wedge_from, sector.wedge_to);
    }
    if (sector.gauge == ChartGauge::Upload) {
      dc.SetPen(objects.gauges[static_cast<int>(ChartGauge::Download)].foreground_pen);
      dc.DrawLine(centre, ToWxPoint(m_shown->MarkerPoint()));
    }
    const client::ChartGaugeRecord& record = m_shown->Gauge(sector.gauge);
    dc.SetTextForeground(g.text);
    DrawClipped(dc, record.text, ToWxRect(record.text_rect), wxALIGN_CENTER);
  }

  // Separators, hub and the bevelled rim.
  dc.SetPen(rim.rim[3]);
  dc.SetBrush(objects.title_brush);
  for (client::Point p : {m_shown->P1(), m_shown->P2(), m_shown->P3(), m_shown->P4()}) dc.DrawLine(ToWxPoint(p), centre);
  dc.DrawEllipse(ToWxRect(m_shown->HubRect()));
  dc.SetBrush(*wxTRANSPARENT_BRUSH);
  for (int i = 0; i < 6; ++i) {
    dc.SetPen(rim.rim[i]);
    dc.DrawEllipse(ToWxRect(m_shown->RimRect(i)));
  }

  // The name in the middle.
  dc.SetTextForeground(objects.title_text);
  dc.SetFont(m_drawing->font);
  for (const CEllipsenText::Line& line : m_shown->Title().Lines())
    if (!line.text.empty()) dc.DrawLabel(wxString(line.text), ToWxRect(line.rect), wxALIGN_CENTER);
}

void CDiagramm::PaintRow(wxDC& dc) const {
  const StatusObjects& objects = m_drawing->statuses[m_shown->Status()];
  const wxPen& pen = m_drawing->statuses[m_shown->RimStatus()].rim[3];
  const client::ChartRowCells& cells = m_shown->Cells();
  dc.SetPen(pen);
  dc.SetBrush(objects.title_brush);
  dc.DrawRoundedRectangle(0, 0, m_shown->Width(), m_shown->Height(), 4);
  dc.SetPen(*wxTRANSPARENT_PEN);
  dc.SetBrush(wxBrush(pen.GetColour()));
  dc.DrawRectangle(ToWxRect(cells.lamp));

  dc.SetBackgroundMode(wxBRUSHSTYLE_TRANSPARENT);
  dc.SetTextForeground(objects.title_text);
  dc.SetFont(m_drawing->font);
  const int vcentre = wxALIGN_CENTER_VERTICAL;
  DrawClipped(dc, m_shown->GetName(), ToWxRect(cells.name), wxALIGN_LEFT | vcentre);
  DrawClipped(dc, L" " + m_shown->Text(ChartGauge::Upload), ToWxRect(cells.upload), wxALIGN_RIGHT | vcentre);
  DrawClipped(dc, L" " + m_shown->Text(ChartGauge::Download), ToWxRect(cells.download), wxALIGN_RIGHT | vcentre);
  DrawClipped(dc, m_shown->Text(ChartGauge::Time), ToWxRect(cells.time), wxALIGN_CENTER);
  DrawClipped(dc, m_shown->Text(ChartGauge::Progress), ToWxRect(cells.progress), wxALIGN_CENTER);
}

void CDiagramm::PaintOutsideShape(wxDC& dc) const {
  if (m_outside.IsEmpty()) return;
  const wxColour parent = GetParent() ? GetParent()->GetBackgroundColour() : GetBackgroundColour();
  dc.SetDeviceClippingRegion(m_outside);
  dc.SetPen(*wxTRANSPARENT_PEN);
  dc.SetBrush(wxBrush(parent));
  dc.DrawRectangle(0, 0, m_shown->Width(), m_shown->Height());
  dc.DestroyClippingRegion();
}

void ForwardMouseToParent(wxWindow& window, const wxMouseEvent& mouse) {
  wxWindow* parent = window.GetParent();
  if (!parent) return;
  wxMouseEvent forwarded(mouse);
  forwarded.SetPosition(mouse.GetPosition() + window.GetPosition());
  forwarded.SetEventObject(parent);
  forwarded.SetId(parent->GetId());
  parent->GetEventHandler()->ProcessEvent(forwarded);
}

bool CDiagramm::TryBefore(wxEvent& event) {
  // Mouse input outside the shape belongs to the parent.
  auto* mouse = dynamic_cast<wxMouseEvent*>(&event);
  if (mouse && event.GetEventObject() == this && (mouse->IsButton() || mouse->Moving() || mouse->Dragging() ||
                                                  event.GetEventType() == wxEVT_MOUSEWHEEL)) {
    if (!m_shown->Contains({mouse->GetX(), mouse->GetY()})) {
      ForwardMouseToParent(*this, *mouse);
      return true;
    }
  }
  return wxWindow::TryBefore(event);
}

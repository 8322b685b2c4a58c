#include "client/common/wx/frame_painter.h"

#include <wx/dcmemory.h>

#include <map>
#include <utility>

using client::FrameLayout;
using client::FrameModel;
using client::Rect;
using client::TextAlign;
using client::TextPlacement;

wxFont FrameFont(int line_height, wxFontWeight weight) {
  // Fonts are asked for by the em size; the frame's sizes are line heights.
  // Step the em size down until a line fits (measured once per size).
  static std::map<std::pair<int, int>, int> em_for;
  auto make = [weight](int em) {
    return wxFont(wxFontInfo(wxSize(0, em)).Family(wxFONTFAMILY_SWISS).FaceName("Arial").Weight(weight));
  };
  const auto key = std::make_pair(line_height, int(weight));
  if (auto it = em_for.find(key); it != em_for.end()) return make(it->second);
  wxBitmap scratch(1, 1);
  wxMemoryDC dc(scratch);
  int em = line_height;
  for (; em > 4; --em) {
    dc.SetFont(make(em));
    if (dc.GetCharHeight() <= line_height) break;
  }
  em_for.emplace(key, em);
  return make(em);
}

FrameDrawingObjects FrameDrawingObjects::From(const client::MainColorBlock& colors) {
  FrameDrawingObjects o;
  const auto pens = client::FramePenColors(colors);
  for (int i = 0; i < client::kBevelCount; ++i) {
    o.frame_colors[i] = ToWxColour(pens[i]);
    o.frame_pens[i] = wxPen(o.frame_colors[i], 2, wxPENSTYLE_SOLID);
  }
  const wxColour base = o.frame_colors[client::kBevelCount - 1];
  o.background = wxBrush(base);
  o.frame_brush = wxBrush(base);
  o.notice_border = wxPen(ToWxColour(colors.error_button), 1, wxPENSTYLE_SOLID);
  o.active_button = wxBrush(ToWxColour(colors.active_button));
  o.inactive_button = wxBrush(ToWxColour(colors.inactive_button));
  o.title_font = FrameFont(16, wxFONTWEIGHT_BOLD);
  o.text_font = FrameFont(14, wxFONTWEIGHT_NORMAL);
  return o;
}

namespace {


void FillRect(wxDC& dc, const Rect& r, const wxBrush& brush) {
  dc.SetPen(*wxTRANSPARENT_PEN);
  dc.SetBrush(brush);
  dc.DrawRectangle(client::ToWxRect(r));
}

void DrawSegment(wxDC& dc, const client::Segment& s) { dc.DrawLine(s.from.x, s.from.y, s.to.x, s.to.y); }

// A round button: the square in the base colour, a ring in pen 4 filled
// in the active colour while hot, and its glyph.
template <class Glyph>
void DrawButton(wxDC& dc, const Rect& square, bool hot, const FrameDrawingObjects& o, const Glyph& glyph) {
  FillRect(dc, square, o.background);
  dc.SetPen(o.frame_pens[4]);
  dc.SetBrush(hot ? o.active_button : o.inactive_button);
  dc.DrawEllipse(client::ToWxRect(square));
  glyph();
}

void DrawTitle(wxDC& dc, const FrameModel& model, const FrameLayout& l, const FrameDrawingObjects& o) {
  FillRect(dc, l.caption, o.background);
  dc.SetBackgroundMode(wxBRUSHSTYLE_TRANSPARENT);
  const TextPlacement shadow{model.title, l.caption, TextAlign::Center};
  dc.SetTextForeground(ToWxColour(model.colors.title_shadow));
  DrawPlacedText(dc, shadow, true);
  TextPlacement title = shadow;
  title.rect = l.caption.Offset(-1, -1);
  dc.SetTextForeground(ToWxColour(model.active ? model.colors.active_title : model.colors.inactive_title));
  DrawPlacedText(dc, title, true);
}

void DrawBevel(wxDC& dc, const Rect& window, const FrameDrawingObjects& o) {
  dc.SetBrush(*wxTRANSPARENT_BRUSH);
  for (int i = 0; i < client::kBevelCount; ++i) {
    dc.SetPen(o.frame_pens[i]);
    const auto outline = client::BevelOutline(window, i);
    for (const auto& arc : outline.corners) {
      const Rect& b = arc.box;
      dc.DrawEllipticArc(b.left, b.top, b.Width(), b.Height(), arc.start_degrees, arc.end_degrees);
    }
    for (const auto& edge : outline.edges) DrawSegment(dc, edge);
  }
}

}  // namespace

void DrawPlacedText(wxDC& dc, const TextPlacement& text, bool vertical_centre) {
  if (text.text.empty() || text.rect.IsEmpty()) return;
  const wxString s(text.text);
  wxCoord width = 0, height = 0;
  dc.GetTextExtent(s, &width, &height);
  const Rect& r = text.rect;
  int x = r.left;
  if (text.align == TextAlign::Center) x = r.left + (r.Width() - width) / 2;
  if (text.align == TextAlign::Right) x = r.right - width;
  const int y = vertical_centre ? r.top + (r.Height() - height) / 2 : r.top;
  wxDCClipper clip(dc, client::ToWxRect(r));
  dc.DrawText(s, x, y);
}

void PaintFrame(wxDC& dc, const FrameModel& model, const FrameDrawingObjects& o) {
  const FrameLayout& l = model.layout;
  // The window's rounded shape; what lies outside it is left to the caller.
  for (const auto& r : client::RoundedRegionRects(l.window.Width(), l.window.Height())) FillRect(dc, r, o.background);

  dc.SetPen(o.frame_pens[7]);
  for (const auto& line : client::InnerEdgeLines(l.window)) {
    std::vector<wxPoint> points;
    for (const auto& p : line) points.emplace_back(p.x, p.y);
    dc.DrawLines(int(points.size()), points.data());
  }

  FillRect(dc, l.scroll_track, o.frame_brush);
  dc.SetPen(o.frame_pens[4]);
  DrawSegment(dc, client::TrackLine(l.scroll_track));
  dc.SetBrush(model.thumb_hot && model.thumb_pressed ? o.active_button : o.inactive_button);
  dc.DrawEllipse(client::ToWxRect(model.Thumb()));

  DrawButton(dc, l.close_button, model.close_hot, o, [&] {
    for (const auto& s : client::CloseGlyph(l.close_button)) DrawSegment(dc, s);
  });
  DrawButton(dc, l.minimise_button, model.minimise_hot, o,
             [&] { DrawSegment(dc, client::MinimiseGlyph(l.minimise_button)); });

  dc.SetFont(o.title_font);
  DrawTitle(dc, model, l, o);
  DrawBevel(dc, l.window, o);
}

void PaintClientArea(wxDC& dc, const FrameModel& model, const FrameDrawingObjects& o) {
  const int w = model.Width(), h = model.Height();
  FillRect(dc, Rect{0, 0, w, h}, o.background);
  dc.SetFont(o.text_font);
  dc.SetBackgroundMode(wxBRUSHSTYLE_TRANSPARENT);

  if (!model.notice_text.empty()) {
    const Rect line = client::NoticeLine(w, h);
    wxCoord tw = 0, th = 0;
    dc.GetTextExtent(wxString(L" " + model.notice_text), &tw, &th);
    const Rect measured{line.left, line.top, line.left + tw, line.top + th};
    const Rect box = client::NoticeBox(measured, line);
    dc.SetPen(o.notice_border);
    dc.SetBrush(o.inactive_button);
    dc.DrawRoundedRectangle(client::ToWxRect(box), client::kNoticeBoxCorner / 2.0);
    dc.SetTextForeground(ToWxColour(model.colors.error_text));
    DrawPlacedText(dc, {model.notice_text, box, TextAlign::Center}, true);
  }

  dc.SetTextForeground(ToWxColour(model.colors.inactive_title));
  for (const auto& piece : client::StatusLinePlacements(model.status_line, client::StatusLine(w, h), w))
    DrawPlacedText(dc, piece);

  dc.SetTextForeground(ToWxColour(model.mouse_over_info ? model.colors.info_hover : model.colors.info_text));
  const Rect& box = model.InfoBox();
  const int line_height = dc.GetCharHeight();
  int top = box.top;
  for (const auto& line : client::SplitLines(model.info_text)) {
    Rect r{box.left, top, box.right, std::min(top + line_height, box.bottom)};
    DrawPlacedText(dc, {line, r, TextAlign::Right});
    top += line_height;
  }
}

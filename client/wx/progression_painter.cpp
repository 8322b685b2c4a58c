#include "client/wx/progression_painter.h"

#include "client/common/wx/frame_painter.h"

#include <vector>

void PaintProgressionCharts(wxDC& dc, const client::ProgressionChartLayout& layout,
                            const client::MainColorBlock& colors, const wxFont& font) {
  // Peers in the inactive button's colour, upload in the active button's,
  // download in the title's; the DHT's between upload and title, and in
  // the inactive title's.
  const wxColour upload = ToWxColour(colors.active_button), title = ToWxColour(colors.active_title);
  const wxColour series[client::kProgressionChartCount] = {
      ToWxColour(colors.inactive_button), upload, title,
      wxColour((upload.Red() + title.Red()) / 2, (upload.Green() + title.Green()) / 2,
               (upload.Blue() + title.Blue()) / 2),
      ToWxColour(colors.inactive_title)};
  dc.SetFont(font);
  dc.SetBackgroundMode(wxBRUSHSTYLE_TRANSPARENT);

  // The scale: a faint line at each mark, the marks at their right.
  const int right = layout.left + client::kProgressionSamples;
  dc.SetPen(wxPen(ToWxColour(colors.frame.At(4)), 1, wxPENSTYLE_DOT));
  dc.SetTextForeground(ToWxColour(colors.inactive_title));
  for (const client::TextPlacement& mark : layout.marks) {
    const int y = (mark.rect.top + mark.rect.bottom) / 2;
    dc.DrawLine(layout.left, y, right, y);
    DrawPlacedText(dc, mark, true);
  }
  dc.SetPen(wxPen(ToWxColour(colors.frame.At(4)), 1));
  dc.DrawLine(layout.left, layout.baseline, right, layout.baseline);

  for (int c = 0; c < client::kProgressionChartCount; ++c) {
    const wxColour& colour = series[c];
    dc.SetTextForeground(colour);
    DrawPlacedText(dc, layout.labels[c], true);
    std::vector<wxPoint> points;
    points.reserve(layout.lines[c].size());
    for (const client::Point& p : layout.lines[c]) points.emplace_back(p.x, p.y);
    dc.SetPen(wxPen(colour, 1));
    if (!points.empty()) dc.DrawLines(static_cast<int>(points.size()), points.data());
  }
}

#pragma once
// Draws the self-drawn frame and its client area on any wxDC, from the
// frame's state and the pens, brushes and fonts made from its colour block.
// The same drawing serves the main window and the editor's preview.

#include "client/common/color_scheme.h"
#include "client/common/frame_model.h"
#include "client/common/wx/wx_conversions.h"

#include <wx/brush.h>
#include <wx/colour.h>
#include <wx/dc.h>
#include <wx/font.h>
#include <wx/pen.h>

#include <array>

using client::ToWxColour;

// A sans-serif font (Arial where it exists) whose lines are at most
// `line_height` pixels high, as the frame's texts are measured.
wxFont FrameFont(int line_height, wxFontWeight weight);

struct FrameDrawingObjects {
  std::array<wxColour, client::kBevelCount> frame_colors;
  std::array<wxPen, client::kBevelCount> frame_pens;  // 0 outermost, 2 px
  wxBrush background;  // the frame's base colour (pen 7)
  wxBrush frame_brush;
  wxPen notice_border;  // 1 px, error button colour
  wxBrush active_button;
  wxBrush inactive_button;
  wxFont title_font;  // 16 px lines, bold
  wxFont text_font;   // 14 px lines

  static FrameDrawingObjects From(const client::MainColorBlock& colors);
};

// The frame in window coordinates: background within the rounded shape
// (the corners outside it are left as they are), inner edge, scroll track
// and thumb, close and minimise buttons, caption with its shadowed title,
// and the eight bevel outlines.
void PaintFrame(wxDC& dc, const client::FrameModel& model, const FrameDrawingObjects& objects);

// The client area in client coordinates: background, notice box, status
// line and info text.
void PaintClientArea(wxDC& dc, const client::FrameModel& model, const FrameDrawingObjects& objects);

// One line of text placed in its rectangle and clipped to it, in the DC's
// current font and text colour; `vertical_centre` centres it vertically,
// else it sits at the top.
void DrawPlacedText(wxDC& dc, const client::TextPlacement& text, bool vertical_centre = false);

#pragma once
// Draws the main window's progression charts (client::ProgressionChartLayout)
// in colours of the frame's colour block.

#include "client/common/color_scheme.h"
#include "client/progression_chart.h"

#include <wx/dc.h>

void PaintProgressionCharts(wxDC& dc, const client::ProgressionChartLayout& layout,
                            const client::MainColorBlock& colors, const wxFont& font);

#pragma once
// The chart window of one torrent: a 166 x 100 child window that draws the
// round gauge chart laid out by client::ChartLogic (or, in row mode, a flat
// row with the same texts) in the colours of the global diagram colour
// table, chosen by the chart's status. The per-torrent object derives from
// it and feeds it values; the colour-scheme editor shows one as a preview.
//
// The window's shape is an ellipse (a rounded rectangle in row mode):
// outside it the window shows the parent's background colour and passes
// mouse input on to the parent, as if it were not there.

#include "client/common/chart_logic.h"
#include "client/common/color_scheme.h"
#include "client/common/wx/wx_text_measurer.h"

#include <wx/brush.h>
#include <wx/font.h>
#include <wx/pen.h>
#include <wx/region.h>
#include <wx/window.h>

#include <array>
#include <memory>
#include <string>

// Hands a mouse event of `window` on to its parent, in the parent's
// coordinates, as if `window` were not there.
void ForwardMouseToParent(wxWindow& window, const wxMouseEvent& mouse);

class CDiagramm : public wxWindow {
 public:
  static constexpr int kWidth = client::ChartLogic::kWidth;
  static constexpr int kHeight = client::ChartLogic::kHeight;

  // The first chart of the process loads the global colour table from
  // `color_scheme_folder` (else from the copy in `profile`, the profile of
  // the program the chart is shown in, else the defaults with
  // `main_frame_color` as every entry's main frame colour).
  CDiagramm(std::wstring path, std::string color_scheme_folder, client::ColorRef main_frame_color,
            const platform::profile& profile = platform::profile::application());
  ~CDiagramm() override;

  // Creates the 166 x 100 window at `top_left` in `parent` and shows it.
  bool Create(const wxString& window_text, const wxPoint& top_left, wxWindow* parent, bool row_mode);

  // Places the four needles and repaints at once.
  void SetValues(double upload, double download, double time, double progress);
  // These place one needle and leave the repaint to the owner.
  void SetUploadValue(double value) { m_shown->SetUploadValue(value); }
  void SetDownloadValue(double value) { m_shown->SetDownloadValue(value); }
  void SetTimeValue(double value) { m_shown->SetTimeValue(value); }
  void SetProgressValue(double value) { m_shown->SetProgressValue(value); }
  void SetMaxima(double upload_maximum, double download_maximum) { m_shown->SetMaxima(upload_maximum, download_maximum); }
  void SetMarker(double value) { m_shown->SetMarker(value); }
  // New full scale of the time gauge; the needle is placed again and the
  // chart repainted.
  void SetTimeMaximum(double maximum);
  // Takes effect at the next size and paint.
  void SetRowMode(bool on) { m_shown->SetRowMode(on); }

  // The name shown in the middle (initially the path); it is also the
  // window's wx name.
  void SetName(const wxString& name) override;
  wxString GetName() const override { return wxString(m_shown->GetName()); }
  std::wstring GetFolder() const { return m_shown->GetFolder(); }

  // Texts, status and highlight; the owner repaints after changing them.
  client::ChartLogic& Chart() { return *m_shown; }
  const client::ChartLogic& Chart() const { return *m_shown; }

  // Makes the pens, brushes and colours of every status from the global
  // colour table again, for every chart (the editor calls this after each
  // edit).
  void CreateDrawingObjects(bool first);

  // The global colour table from / to the scheme folder and the
  // application profile.
  static bool LoadDiagramColors(const std::string& folder);
  static bool SaveDiagramColors(const std::string& folder);

 protected:
  // Draws `chart` (which must outlive the window) instead of the window's
  // own: a torrent's row shows the chart its torrent keeps.
  void ShowChart(client::ChartLogic& chart);
  bool TryBefore(wxEvent& event) override;

 private:
  struct GaugeObjects {
    wxBrush background, foreground;
    wxPen foreground_pen;
    wxColour text;
  };
  struct StatusObjects {
    std::array<wxPen, 6> rim;
    wxBrush title_brush;
    wxColour title_text;
    std::array<GaugeObjects, client::kChartGaugeCount> gauges;
  };
  // The pens, brushes and colours of every status and the one font: all
  // charts draw from the one colour table, so they share one set, made by
  // the first chart and let go with the last.
  struct DrawingObjects {
    std::array<StatusObjects, client::kStatusCount> statuses;
    wxFont font;
    std::shared_ptr<client::WxTextMeasurer> measurer;
  };
  static std::shared_ptr<DrawingObjects> SharedDrawingObjects(int font_height);
  static void MakeStatusObjects(DrawingObjects& objects);

  void OnPaint(wxPaintEvent& event);
  void OnSize(wxSizeEvent& event);
  void LayoutNow();
  bool IsMinimisedNow() const;
  void PaintRound(wxDC& dc) const;
  void PaintRow(wxDC& dc) const;
  void PaintOutsideShape(wxDC& dc) const;

  client::ChartLogic m_chart;
  client::ChartLogic* m_shown;  // the chart drawn
  std::string m_folder;
  std::shared_ptr<DrawingObjects> m_drawing;
  wxRegion m_outside;  // the client area outside the shape
};

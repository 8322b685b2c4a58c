#pragma once
// A button painted in a colour of its own: blended edges, a bevel that
// turns over while it is held down, and a caption in a text colour that
// can follow the button colour. A caption of exactly "+" or "-" is drawn as
// strokes. Clicking sends wxEVT_BUTTON like any button.

#include "client/common/color_button.h"

#include <wx/brush.h>
#include <wx/control.h>

#include <utility>
#include <vector>

class CFarbKnopf : public wxControl {
 public:
  CFarbKnopf(wxWindow* parent, wxWindowID id, const wxString& label = wxEmptyString,
             const wxPoint& pos = wxDefaultPosition, const wxSize& size = wxDefaultSize);

  // A text colour above 0x00FFFFFF picks black or white to suit the button.
  void SetColors(client::ColorRef button, client::ColorRef text = client::kAutomaticTextColor);
  client::ColorRef GetColor() const { return m_color; }
  // Style 1 is the bevelled button, style 2 with `pointed` the pointed one.
  void SetStyle(int style, bool pointed);
  bool IsPressed() const { return m_pressed; }

 protected:
  wxSize DoGetBestClientSize() const override;

 private:
  void MakeBrushes();
  const wxBrush& BrushFor(client::ColorRef color) const;
  void OnPaint(wxPaintEvent& event);
  void OnLeftDown(wxMouseEvent& event);
  void OnLeftUp(wxMouseEvent& event);
  void OnCaptureLost(wxMouseCaptureLostEvent& event);
  void OnSysColourChanged(wxSysColourChangedEvent& event);

  int m_style = 1;
  bool m_pointed = true;
  client::ColorRef m_textColor = client::kDefaultButtonTextColor;
  bool m_pressed = false;
  client::ColorRef m_color = client::kDefaultButtonColor;
  client::ColorButtonPens m_pens;
  // One brush per pen colour: 1 px strokes are filled as pixel rows.
  std::vector<std::pair<client::ColorRef, wxBrush>> m_brushes;
};

#include "client/common/wx/CHinweisText.h"

#include "client/common/wx/CMemDC.h"
#include "client/common/wx/open_menus.h"
#include "client/common/wx/wx_conversions.h"
#include "client/common/wx/wx_text_measurer.h"

#include <wx/dcclient.h>
#include <wx/display.h>
#include <wx/popupwin.h>

// The window itself: a 1 px black border, and its lines on white 2 px in
// from the top-left inside it.
class CHinweisText::Popup : public wxPopupWindow {
 public:
  Popup(wxWindow* owner, const wxFont& font, std::vector<std::wstring> lines, int line_height)
      : wxPopupWindow(owner, wxBORDER_NONE), m_font(font), m_lines(std::move(lines)), m_lineHeight(line_height) {
    SetBackgroundStyle(wxBG_STYLE_PAINT);
    SetBackgroundColour(*wxWHITE);
    Bind(wxEVT_PAINT, &Popup::OnPaint, this);
  }

 private:
  void OnPaint(wxPaintEvent&) {
    wxPaintDC target(this);
    target.SetBackground(*wxWHITE_BRUSH);
    CMemDC dc(&target, true);
    dc.SetPen(*wxBLACK_PEN);
    dc.SetBrush(*wxTRANSPARENT_BRUSH);
    dc.DrawRectangle(wxPoint(0, 0), GetClientSize());
    dc.SetFont(m_font);
    dc.SetTextForeground(*wxBLACK);
    const int inset = kBorder + client::kHintTextInset;
    int y = inset;
    for (const auto& line : m_lines) {
      dc.DrawText(wxString(line), inset, y);
      y += m_lineHeight;
    }
  }

  static constexpr int kBorder = 1;
  wxFont m_font;
  std::vector<std::wstring> m_lines;
  int m_lineHeight;
};

CHinweisText& CHinweisText::Global() {
  // Never destroyed: it may outlive the toolkit at exit.
  static CHinweisText* hint = new CHinweisText;
  return *hint;
}

CHinweisText::~CHinweisText() { Destroy(); }

const wxFont& CHinweisText::Font() {
  if (!m_font.IsOk())
    m_font = wxFont(wxFontInfo(wxSize(0, 14)).Family(wxFONTFAMILY_SWISS).FaceName("Arial"));
  return m_font;
}

wxWindow* CHinweisText::GetWindow() const { return m_window.get(); }

void CHinweisText::Show(const wxString& text, const wxRect& rect, wxWindow* owner) {
  Destroy();
  if (!owner || MenuIsOpen()) return;
  m_text = text;
  const client::WxTextMeasurer measure(Font());
  const wxRect anchor(owner->ClientToScreen(rect.GetTopLeft()), rect.GetSize());
  const int display = wxDisplay::GetFromWindow(owner);
  const wxRect screen = wxDisplay(display == wxNOT_FOUND ? 0u : unsigned(display)).GetGeometry();
  client::HintLayout layout =
      client::LayOutHint(text.ToStdWstring(), client::ToRect(anchor), client::ToRect(screen), measure);

  auto* popup = new Popup(owner, Font(), std::move(layout.lines), measure.LineHeight());
  popup->SetSize(layout.window.left, layout.window.top, layout.window.Width(), layout.window.Height());
  popup->Show();
  m_window = popup;
}

void CHinweisText::Destroy() {
  if (wxPopupWindow* window = m_window.get()) {
    m_window = nullptr;
    window->Destroy();
  }
}

bool CHinweisText::MenuIsOpen() { return client::OpenMenus::AnyOpen(); }

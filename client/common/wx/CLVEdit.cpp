#include "client/common/wx/CLVEdit.h"

CLVEdit::CLVEdit(wxWindow* parent, const wxRect& box, const wxString& text, Done done)
    : wxTextCtrl(parent, wxID_ANY, text, box.GetPosition(), box.GetSize(), wxBORDER_SIMPLE),
      m_forced(box.GetPosition()),
      m_done(std::move(done)) {
  Bind(wxEVT_CHAR_HOOK, &CLVEdit::OnCharHook, this);
  Bind(wxEVT_KILL_FOCUS, &CLVEdit::OnKillFocus, this);
  Bind(wxEVT_MOVE, &CLVEdit::OnMove, this);
}

void CLVEdit::Finish(std::optional<std::wstring> text) {
  if (m_finished) return;
  m_finished = true;
  if (m_done) m_done(std::move(text));
}

void CLVEdit::OnCharHook(wxKeyEvent& event) {
  switch (event.GetKeyCode()) {
    case WXK_RETURN:
    case WXK_NUMPAD_ENTER:
      Finish(GetValue().ToStdWstring());
      break;
    case WXK_ESCAPE:
      Finish(std::nullopt);
      break;
    default:
      event.Skip();
  }
}

void CLVEdit::OnKillFocus(wxFocusEvent& event) {
  event.Skip();
  Finish(GetValue().ToStdWstring());
}

void CLVEdit::OnMove(wxMoveEvent& event) {
  event.Skip();
  if (GetPosition() != m_forced) Move(m_forced);
}

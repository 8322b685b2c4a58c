#pragma once
// The edit box of an in-place cell edit: it stays where it was put over
// the cell, ends with Enter or when the focus goes elsewhere (the text is
// taken) or with Escape (cancelled), and reports the end once.

#include <wx/textctrl.h>

#include <functional>
#include <optional>
#include <string>

class CLVEdit : public wxTextCtrl {
 public:
  // The text taken, none when the edit was cancelled.
  using Done = std::function<void(std::optional<std::wstring>)>;

  CLVEdit(wxWindow* parent, const wxRect& box, const wxString& text, Done done);

 private:
  void Finish(std::optional<std::wstring> text);
  void OnCharHook(wxKeyEvent& event);
  void OnKillFocus(wxFocusEvent& event);
  void OnMove(wxMoveEvent& event);

  wxPoint m_forced;
  Done m_done;
  bool m_finished = false;
};

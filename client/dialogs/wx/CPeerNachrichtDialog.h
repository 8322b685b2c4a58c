#pragma once
// The small modal dialog in which a chat text for a peer is typed: a
// multi-line edit that takes Return, "Cancel" and "Send".

#include <wx/dialog.h>

#include <string>

class wxTextCtrl;

class CPeerNachrichtDialog : public wxDialog {
 public:
  explicit CPeerNachrichtDialog(wxWindow* parent);

  // The text as typed; set when the dialog is closed with "Send".
  const std::wstring& Text() const { return m_text; }
  wxTextCtrl* Edit() const { return m_edit; }

 private:
  std::wstring m_text;
  wxTextCtrl* m_edit = nullptr;
};

#pragma once
// A check box that remembers whether it was checked when its window goes
// away, so its owner can read the choice after the dialog has closed.

#include <wx/checkbox.h>

class CPrioritaetsButton : public wxCheckBox {
 public:
  // `remembered` (may be null) receives the checked state when the window
  // is destroyed; it must outlive the window.
  CPrioritaetsButton(wxWindow* parent, wxWindowID id, const wxString& label, bool* remembered = nullptr,
                     const wxPoint& pos = wxDefaultPosition, const wxSize& size = wxDefaultSize);
  ~CPrioritaetsButton() override;

 private:
  bool* m_remembered;
};

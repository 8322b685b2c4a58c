#pragma once
// A radio button that remembers whether it was checked when its window goes
// away, so its owner can read the choice after the dialog has closed.

#include <wx/radiobut.h>

class CPrioritaetsButton : public wxRadioButton {
 public:
  // `remembered` (may be null) receives the checked state when the window
  // is destroyed; it must outlive the window. `style` as for a radio button
  // (wxRB_GROUP for the first of a group).
  CPrioritaetsButton(wxWindow* parent, wxWindowID id, const wxString& label, bool* remembered = nullptr,
                     const wxPoint& pos = wxDefaultPosition, const wxSize& size = wxDefaultSize, long style = 0);
  ~CPrioritaetsButton() override;

 private:
  bool* m_remembered;
};

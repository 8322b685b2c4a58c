#include "client/common/wx/CPrioritaetsButton.h"

CPrioritaetsButton::CPrioritaetsButton(wxWindow* parent, wxWindowID id, const wxString& label, bool* remembered,
                                       const wxPoint& pos, const wxSize& size)
    : wxCheckBox(parent, id, label, pos, size), m_remembered(remembered) {
  if (m_remembered) *m_remembered = false;
}

CPrioritaetsButton::~CPrioritaetsButton() {
  // The native box still exists here: the base class has not gone yet.
  if (m_remembered) *m_remembered = GetValue();
}

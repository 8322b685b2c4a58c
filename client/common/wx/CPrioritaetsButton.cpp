#include "client/common/wx/CPrioritaetsButton.h"

CPrioritaetsButton::CPrioritaetsButton(wxWindow* parent, wxWindowID id, const wxString& label, bool* remembered,
                                       const wxPoint& pos, const wxSize& size, long style)
    : wxRadioButton(parent, id, label, pos, size, style), m_remembered(remembered) {
  if (m_remembered) *m_remembered = false;
}

CPrioritaetsButton::~CPrioritaetsButton() {
  // The native button still exists here: the base class has not gone yet.
  if (m_remembered) *m_remembered = GetValue();
}

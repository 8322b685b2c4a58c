#include "client/dialogs/wx/CPeerNachrichtDialog.h"

#include "client/dialogs/peers_model.h"

#include <wx/button.h>
#include <wx/textctrl.h>

namespace id = client::peers_id;

CPeerNachrichtDialog::CPeerNachrichtDialog(wxWindow* parent)
    : wxDialog(parent, wxID_ANY, wxString(std::wstring(client::kPeerMessageCaption))) {
  // Placed in dialog units, as the dialog was designed.
  const auto du = [this](int x, int y, int w, int h) {
    return wxRect(ConvertDialogToPixels(wxPoint(x, y)), ConvertDialogToPixels(wxSize(w, h)));
  };
  const wxRect edit = du(7, 7, 212, 88), cancel = du(50, 103, 50, 14), send = du(116, 103, 50, 14);
  m_edit = new wxTextCtrl(this, id::kChatText, wxString(), edit.GetPosition(), edit.GetSize(),
                          wxTE_MULTILINE | wxVSCROLL);
  new wxButton(this, id::kCancel, L"Cancel", cancel.GetPosition(), cancel.GetSize());
  auto* ok = new wxButton(this, id::kOk, L"Send", send.GetPosition(), send.GetSize());
  ok->SetDefault();
  SetClientSize(ConvertDialogToPixels(wxSize(226, 124)));
  SetAffirmativeId(id::kOk);
  SetEscapeId(id::kCancel);
  Bind(wxEVT_BUTTON, [this](wxCommandEvent&) {
    m_text = m_edit->GetValue().ToStdWstring();
    EndModal(id::kOk);
  }, id::kOk);
  Bind(wxEVT_BUTTON, [this](wxCommandEvent&) { EndModal(id::kCancel); }, id::kCancel);
  m_edit->SetFocus();
  CentreOnParent();
}

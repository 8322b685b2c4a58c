#include "client/base/wx/dialog_buttons.h"

#include <wx/button.h>
#include <wx/dialog.h>
#include <wx/sizer.h>
#include <wx/statline.h>

void LayOutWithOkCancel(wxDialog* dialog, wxSizer* content, int ok_id, int cancel_id, wxWindow* left) {
  const int margin = dialog->FromDIP(10);
  auto* buttons = new wxBoxSizer(wxHORIZONTAL);
  if (left) buttons->Add(left);
  buttons->AddStretchSpacer();
  auto* ok = new wxButton(dialog, ok_id, L"OK");
  ok->SetDefault();
  buttons->Add(ok, 0, wxRIGHT, dialog->FromDIP(6));
  buttons->Add(new wxButton(dialog, cancel_id, L"Cancel"));

  auto* top = new wxBoxSizer(wxVERTICAL);
  top->Add(content, 1, wxEXPAND);
  top->Add(new wxStaticLine(dialog), 0, wxEXPAND | wxLEFT | wxRIGHT, margin);
  top->Add(buttons, 0, wxEXPAND | wxALL, margin);
  dialog->SetSizerAndFit(top);
  dialog->SetAffirmativeId(ok_id);
  dialog->SetEscapeId(cancel_id);
}

void CloseDialogWith(wxDialog* dialog, int code) {
  if (dialog->IsModal()) {
    dialog->EndModal(code);
  } else {
    dialog->SetReturnCode(code);
    dialog->Hide();
  }
}

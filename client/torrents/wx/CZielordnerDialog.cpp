#include "client/torrents/wx/CZielordnerDialog.h"

#include "client/common/icon_resources.h"
#include "client/common/wx/icons.h"
#include "client/common/wx/CPrioritaetsButton.h"
#include "client/common/wx/wx_ui_services.h"
#include "client/base/wx/dialog_buttons.h"

#include <wx/button.h>
#include <wx/sizer.h>
#include <wx/stattext.h>
#include <wx/textctrl.h>

CZielordnerDialog::CZielordnerDialog(wxWindow* parent, client::SaveFolderRequest request, client::UiServices* ui,
                                     client::FolderSpaceQuery query, PriorityChecks* checks)
    : wxDialog(parent, wxID_ANY, wxString(request.title), wxDefaultPosition, wxDefaultSize,
               wxDEFAULT_DIALOG_STYLE | wxRESIZE_BORDER),
      m_ownUi(ui ? nullptr : std::make_unique<client::WxUiServices>(this)),
      m_ui(ui ? ui : m_ownUi.get()),
      m_checks(checks ? checks : &m_ownChecks),
      m_model(std::move(request), std::move(query)) {
  SetIcons(LoadIconSet(client::kApplicationIcon));
  CreateControls();
  ShowStatus();
  Bind(wxEVT_TEXT, &CZielordnerDialog::OnFolderText, this, client::kIdSaveFolderText);
  Bind(wxEVT_BUTTON, &CZielordnerDialog::OnChooseFolder, this, client::kIdSaveFolderChoose);
  Bind(wxEVT_RADIOBUTTON, &CZielordnerDialog::OnPriority, this, client::kIdHighPriority, client::kIdLowPriority);
  // OK and Cancel have the dialog's own ids: the callers are told wxID_OK or
  // wxID_CANCEL.
  Bind(wxEVT_BUTTON, [this](wxCommandEvent&) { CloseDialogWith(this, wxID_OK); }, client::kIdSaveFolderOk);
  Bind(wxEVT_BUTTON, [this](wxCommandEvent&) { CloseDialogWith(this, wxID_CANCEL); }, client::kIdSaveFolderCancel);
}

CZielordnerDialog::~CZielordnerDialog() {
  // The buttons write their states while this dialog's members still live.
  DestroyChildren();
}

void CZielordnerDialog::CreateControls() {
  const int gap = FromDIP(7);
  auto* top = new wxBoxSizer(wxVERTICAL);
  auto* name = new wxStaticText(this, client::kIdSaveFolderName, wxString(m_model.Title()), wxDefaultPosition,
                                wxDefaultSize, wxST_ELLIPSIZE_MIDDLE);
  name->SetFont(name->GetFont().Bold());
  top->Add(name, 0, wxEXPAND | wxLEFT | wxRIGHT | wxTOP, gap);

  auto* folder_row = new wxBoxSizer(wxHORIZONTAL);
  m_folder = new wxTextCtrl(this, client::kIdSaveFolderText, wxString::FromUTF8(m_model.Folder()));
  folder_row->Add(m_folder, 1, wxALIGN_CENTER_VERTICAL | wxRIGHT, gap / 2);
  folder_row->Add(new wxButton(this, client::kIdSaveFolderChoose, ">>", wxDefaultPosition, wxDefaultSize,
                               wxBU_EXACTFIT),
                  0, wxALIGN_CENTER_VERTICAL);
  top->Add(folder_row, 0, wxEXPAND | wxLEFT | wxRIGHT | wxTOP, gap);

  // The figures are right-aligned in fixed-width fields.
  m_status = new wxStaticText(this, client::kIdSaveFolderStatus, "\n");
  m_status->SetFont(wxFont(wxFontInfo(m_status->GetFont().GetPointSize()).Family(wxFONTFAMILY_TELETYPE)));
  top->Add(m_status, 0, wxEXPAND | wxLEFT | wxRIGHT | wxTOP, gap);

  const std::pair<int, std::wstring_view> priorities[] = {{client::kIdHighPriority, client::kHighPriorityText},
                                                          {client::kIdNormalPriority, client::kNormalPriorityText},
                                                          {client::kIdLowPriority, client::kLowPriorityText}};
  bool* remembered[] = {&m_checks->high, &m_checks->normal, &m_checks->low};
  for (std::size_t i = 0; i < 3; ++i) {
    const auto& [id, text] = priorities[i];
    auto* button = new CPrioritaetsButton(this, id, wxString(std::wstring(text)), remembered[i], wxDefaultPosition,
                                          wxDefaultSize, id == client::kIdHighPriority ? wxRB_GROUP : 0);
    button->SetValue(id == m_model.PriorityButtonId());
    top->Add(button, 0, wxLEFT | wxRIGHT | wxTOP, gap);
  }

  auto* buttons = new wxBoxSizer(wxHORIZONTAL);
  auto* ok = new wxButton(this, client::kIdSaveFolderOk, "OK");
  ok->SetDefault();
  m_ok = ok;
  buttons->Add(ok, 0, wxRIGHT, gap);
  buttons->Add(new wxButton(this, client::kIdSaveFolderCancel, "Cancel"));
  top->Add(buttons, 0, wxALIGN_RIGHT | wxALL, gap);

  SetAffirmativeId(client::kIdSaveFolderOk);
  SetEscapeId(client::kIdSaveFolderCancel);
  SetSizer(top);
  top->SetMinSize(FromDIP(wxSize(420, -1)));
  Fit();
  CentreOnParent();
}

void CZielordnerDialog::ShowStatus() {
  m_status->SetLabel(wxString(m_model.StatusText()));
  m_ok->Enable(m_model.OkEnabled());
}

void CZielordnerDialog::OnFolderText(wxCommandEvent&) {
  m_model.SetFolder(m_folder->GetValue().utf8_string());
  ShowStatus();
}

void CZielordnerDialog::OnChooseFolder(wxCommandEvent&) {
  if (!m_model.ChooseFolder(*m_ui)) return;
  m_folder->ChangeValue(wxString::FromUTF8(m_model.Folder()));
  ShowStatus();
}

void CZielordnerDialog::OnPriority(wxCommandEvent& event) { m_model.SetPriorityByButton(event.GetId()); }

std::optional<client::SaveFolderChoice> CZielordnerDialog::Ask(wxWindow* parent,
                                                                const client::SaveFolderRequest& request,
                                                                client::UiServices* ui) {
  PriorityChecks checks;
  client::SaveFolderChoice choice;
  {
    CZielordnerDialog dialog(parent, request, ui, client::QueryFolderSpace, &checks);
    if (dialog.ShowModal() != wxID_OK) return std::nullopt;
    choice = dialog.Model().Choice();
  }
  // The buttons told their states as they went.
  choice.priority = client::SaveFolderModel::PriorityFromChecks(checks.high, checks.low);
  return choice;
}

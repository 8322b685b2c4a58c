#include "client/torrents/wx/CHashTorrentHinzufuegen.h"

#include "client/common/icon_resources.h"
#include "client/common/wx/icons.h"
#include "client/common/wx/wx_ui_services.h"
#include "client/base/wx/dialog_buttons.h"

#include <wx/button.h>
#include <wx/sizer.h>
#include <wx/statbmp.h>
#include <wx/stattext.h>
#include <wx/textctrl.h>

CHashTorrentHinzufuegen::CHashTorrentHinzufuegen(wxWindow* parent, platform::profile profile, client::UiServices* ui)
    : wxDialog(parent, wxID_ANY, wxString(std::wstring(client::kHashTorrentCaption))),
      m_profile(std::move(profile)),
      m_ownUi(ui ? nullptr : std::make_unique<client::WxUiServices>(this)),
      m_ui(ui ? ui : m_ownUi.get()) {
  m_model.Load(m_profile);
  SetIcons(LoadIconSet(client::kApplicationIcon));
  CreateControls();
  Bind(wxEVT_BUTTON, &CHashTorrentHinzufuegen::OnChooseFolder, this, client::kIdHashChooseFolder);
  Bind(wxEVT_BUTTON, &CHashTorrentHinzufuegen::OnOk, this, client::kIdHashOk);
  Bind(wxEVT_BUTTON, [this](wxCommandEvent&) { CloseDialogWith(this, wxID_CANCEL); }, client::kIdHashCancel);
}

CHashTorrentHinzufuegen::~CHashTorrentHinzufuegen() = default;

void CHashTorrentHinzufuegen::CreateControls() {
  const int gap = FromDIP(7);
  auto* grid = new wxFlexGridSizer(3, gap / 2, gap);
  grid->AddGrowableCol(1);
  auto row = [&](const char* label, int id, const std::wstring& value, wxTextCtrl*& edit) {
    grid->Add(new wxStaticText(this, wxID_ANY, label), 0, wxALIGN_CENTER_VERTICAL);
    edit = new wxTextCtrl(this, id, wxString(value));
    grid->Add(edit, 1, wxEXPAND);
  };
  row("Info Hash", client::kIdHashInfoHash, m_model.info_hash, m_infoHash);
  grid->AddSpacer(0);
  row("Tracker URL", client::kIdHashTrackerUrl, m_model.tracker_url, m_trackerUrl);
  grid->AddSpacer(0);
  row("Save to", client::kIdHashSavePath, m_model.save_path, m_savePath);
  grid->Add(new wxButton(this, client::kIdHashChooseFolder, "...", wxDefaultPosition, wxDefaultSize, wxBU_EXACTFIT), 0,
            wxALIGN_CENTER_VERTICAL);

  auto* body = new wxBoxSizer(wxHORIZONTAL);
  body->Add(new wxStaticBitmap(this, wxID_ANY, LoadIconResource(client::kApplicationIcon)), 0, wxALL, gap);
  body->Add(grid, 1, wxEXPAND | wxTOP | wxRIGHT, gap);

  auto* buttons = new wxBoxSizer(wxHORIZONTAL);
  auto* ok = new wxButton(this, client::kIdHashOk, "OK");
  ok->SetDefault();
  buttons->Add(ok, 0, wxRIGHT, gap);
  buttons->Add(new wxButton(this, client::kIdHashCancel, "Cancel"));

  auto* top = new wxBoxSizer(wxVERTICAL);
  top->Add(body, 1, wxEXPAND);
  top->Add(buttons, 0, wxALIGN_RIGHT | wxALL, gap);
  top->SetMinSize(FromDIP(wxSize(540, -1)));
  SetAffirmativeId(client::kIdHashOk);
  SetEscapeId(client::kIdHashCancel);
  SetSizerAndFit(top);
  m_infoHash->SetFocus();
  CentreOnParent();
}

void CHashTorrentHinzufuegen::ReadControls() {
  m_model.info_hash = m_infoHash->GetValue().ToStdWstring();
  m_model.tracker_url = m_trackerUrl->GetValue().ToStdWstring();
  m_model.save_path = m_savePath->GetValue().ToStdWstring();
}

void CHashTorrentHinzufuegen::OnChooseFolder(wxCommandEvent&) {
  ReadControls();
  if (m_model.ChooseFolder(*m_ui)) m_savePath->ChangeValue(wxString(m_model.save_path));
}

void CHashTorrentHinzufuegen::OnOk(wxCommandEvent&) {
  ReadControls();
  m_model.Save(m_profile);
  // OK's id is the dialog's own: the caller is told wxID_OK.
  CloseDialogWith(this, wxID_OK);
}

#include "client/dialogs/wx/COptionsDialog.h"

#include "client/common/icon_resources.h"
#include "client/common/wx/CListEditCtrl.h"
#include "client/common/wx/icons.h"
#include "client/common/wx/wx_ui_services.h"
#include "client/net/local_addresses.h"
#include "client/base/wide_text.h"
#include "client/base/wx/dialog_buttons.h"
#include "store/torrent_database.h"

#include <wx/button.h>
#include <wx/checkbox.h>
#include <wx/choice.h>
#include <wx/radiobut.h>
#include <wx/sizer.h>
#include <wx/statbox.h>
#include <wx/stattext.h>
#include <wx/textctrl.h>

namespace {

namespace id = client::options_id;

// Widths of the edits, in dialog units.
constexpr int kNumberWidth = 40;
constexpr int kTextWidth = 110;
constexpr int kAsdWidth = 170;
constexpr int kListHeight = 90;

}  // namespace

COptionsDialog::COptionsDialog(wxWindow* parent, client::OptionsEnvironment environment, platform::profile profile,
                               client::UiServices* ui)
    : wxDialog(parent, wxID_ANY, wxString(std::wstring(client::kOptionsTitle))),
      m_profile(std::move(profile)),
      m_ownUi(ui ? nullptr : std::make_unique<client::WxUiServices>(this)),
      m_ui(ui ? ui : m_ownUi.get()),
      m_model(std::move(environment)) {
  SetIcons(LoadIconSet(client::kApplicationIcon));
  m_model.LoadSettings(m_profile);
  CreateControls();
  ShowModel();

  Bind(wxEVT_CHECKBOX, [this](wxCommandEvent&) { ShowEnabling(); });
  Bind(wxEVT_RADIOBUTTON, [this](wxCommandEvent&) { ShowEnabling(); });
  Bind(wxEVT_BUTTON, &COptionsDialog::OnOk, this, id::kOk);
  Bind(wxEVT_BUTTON, [this](wxCommandEvent&) { Finish(wxID_CANCEL); }, id::kCancel);
  Bind(wxEVT_CLOSE_WINDOW, [this](wxCloseEvent&) { Finish(wxID_CANCEL); });
  Bind(wxEVT_BUTTON, &COptionsDialog::OnBrowse, this, id::kAsdBrowse);
  Bind(wxEVT_BUTTON, &COptionsDialog::OnBrowse, this, id::kColorSchemeBrowse);
  Bind(wxEVT_BUTTON, &COptionsDialog::OnExport, this, id::kExport);
  m_list->ItemsWindow()->Bind(wxEVT_LEFT_DCLICK, &COptionsDialog::OnListDoubleClick, this);
  m_list->Bind(wxEVT_LIST_ITEM_RIGHT_CLICK, &COptionsDialog::OnListRightClick, this);
}

void COptionsDialog::CreateControls() {
  auto du = [this](int width) { return ConvertDialogToPixels(wxSize(width, -1)); };
  auto label = [](wxWindow* parent, const wchar_t* text) { return new wxStaticText(parent, wxID_ANY, text); };
  auto edit = [&](wxWindow* parent, int control, int width) {
    return new wxTextCtrl(parent, control, wxString(), wxDefaultPosition, du(width));
  };
  // A ">>" button as high as the edit beside it.
  auto browse = [&](wxWindow* parent, int control, wxWindow* beside) {
    auto* button = new wxButton(parent, control, L">>", wxDefaultPosition, wxDefaultSize, wxBU_EXACTFIT);
    button->SetMinSize(wxSize(std::max(button->GetBestSize().x, FromDIP(30)), beside->GetBestSize().y));
    return button;
  };
  const int gap = FromDIP(6);
  const int centre = wxALIGN_CENTER_VERTICAL;

  // Left: limits, ports, seeding goal, database and colour scheme.
  auto* grid = new wxFlexGridSizer(2, FromDIP(6), FromDIP(10));
  auto row = [&](wxWindow* first, std::initializer_list<wxWindow*> rest) {
    grid->Add(first, 0, centre);
    auto* line = new wxBoxSizer(wxHORIZONTAL);
    for (wxWindow* w : rest) line->Add(w, 0, centre | wxRIGHT, FromDIP(4));
    grid->Add(line, 0, centre);
  };
  auto gapRow = [&] {
    grid->AddSpacer(gap);
    grid->AddSpacer(gap);
  };
  row(label(this, L"UL Limit"), {edit(this, id::kUploadLimit, kNumberWidth), label(this, L"KBytes/s")});
  row(label(this, L"DL Limit"), {edit(this, id::kDownloadLimit, kNumberWidth), label(this, L"KBytes/s")});
  row(label(this, L"Active Torrents"), {edit(this, id::kActiveTorrents, kNumberWidth)});
  row(label(this, L"ULs/Torrent"), {edit(this, id::kUploadsPerTorrent, kNumberWidth)});
  row(label(this, L"Peer Limit"), {edit(this, id::kPeerLimit, kNumberWidth)});
  row(label(this, L"Peer Ratio"), {edit(this, id::kPeerRatio, kNumberWidth)});
  gapRow();
  row(label(this, L"Port Range"),
      {edit(this, id::kMinPort, kNumberWidth), label(this, L"-"), edit(this, id::kMaxPort, kNumberWidth)});
  row(label(this, L"DHT Port"), {edit(this, id::kDhtPort, kNumberWidth)});
  m_addresses = new wxChoice(this, id::kLocalAddress, wxDefaultPosition, du(kTextWidth));
  for (const std::string& address : m_model.Environment().local_addresses) m_addresses->Append(address);
  row(new wxCheckBox(this, id::kPortForwarding, L"Forward Ports via"), {m_addresses});
  row(new wxCheckBox(this, id::kUseDatabase, L"Use Database"),
      {edit(this, id::kDatabaseUrl, kTextWidth - kNumberWidth), label(this, L":"),
       edit(this, id::kDatabasePort, kNumberWidth)});
  gapRow();
  row(new wxRadioButton(this, id::kSeedByTime, L"Seeding Time", wxDefaultPosition, wxDefaultSize, wxRB_GROUP),
      {edit(this, id::kSeedingTime, kNumberWidth), label(this, L"seconds")});
  row(new wxRadioButton(this, id::kSeedByRatio, L"Seeding Ratio"), {edit(this, id::kSeedingRatio, kNumberWidth)});
  gapRow();
  wxTextCtrl* scheme = edit(this, id::kColorScheme, kTextWidth - 16);
  row(label(this, L"Color Scheme"), {scheme, browse(this, id::kColorSchemeBrowse, scheme)});
  auto* left = new wxBoxSizer(wxVERTICAL);
  left->Add(grid);
  left->Add(new wxCheckBox(this, id::kRemoveUnderscores, L"Replace '_' by ' ' in file names"), 0, wxTOP, gap);

  // Right: where finished downloads go.
  auto* asd = new wxStaticBoxSizer(new wxStaticBox(this, id::kAsdGroup, L"Auto Save Path"), wxVERTICAL);
  wxStaticBox* box = asd->GetStaticBox();
  asd->Add(new wxRadioButton(box, id::kAsdAlways, L"Always here", wxDefaultPosition, wxDefaultSize, wxRB_GROUP), 0,
           wxALL, FromDIP(4));
  auto* folder = new wxBoxSizer(wxHORIZONTAL);
  wxTextCtrl* always = edit(box, id::kAsdFolder, kAsdWidth);
  folder->Add(always, 1, centre | wxRIGHT, FromDIP(4));
  folder->Add(browse(box, id::kAsdBrowse, always), 0, centre);
  asd->Add(folder, 0, wxEXPAND | wxLEFT | wxRIGHT | wxBOTTOM, FromDIP(4));
  asd->Add(new wxRadioButton(box, id::kAsdMatch, L"Match file name"), 0, wxALL, FromDIP(4));
  m_list = new CListEditCtrl(box, id::kDestinationList, wxDefaultPosition,
                             ConvertDialogToPixels(wxSize(kAsdWidth + 20, kListHeight)),
                             wxLC_HRULES | wxLC_VRULES | wxBORDER_SUNKEN);
  m_list->AppendColumn(L"Keyword(s)", wxLIST_FORMAT_LEFT, m_model.column_widths[0]);
  m_list->AppendColumn(L"Directory", wxLIST_FORMAT_LEFT, m_model.column_widths[1]);
  asd->Add(m_list, 1, wxEXPAND | wxLEFT | wxRIGHT | wxBOTTOM, FromDIP(4));
  asd->Add(new wxRadioButton(box, id::kAsdAsk, L"No, always ask"), 0, wxALL, FromDIP(4));

  auto* columns = new wxBoxSizer(wxHORIZONTAL);
  columns->Add(left, 0, wxALL, FromDIP(10));
  columns->Add(asd, 1, wxEXPAND | wxTOP | wxRIGHT | wxBOTTOM, FromDIP(10));

  LayOutWithOkCancel(this, columns, id::kOk, id::kCancel, new wxButton(this, id::kExport, L"Save to File"));

  for (int control : client::OptionsModel::EditIds()) {
    const std::wstring tip = client::OptionsToolTip(control);
    if (!tip.empty()) FindWindow(control)->SetToolTip(wxString(tip));
  }
  m_addresses->SetToolTip(wxString(client::OptionsToolTip(id::kLocalAddress)));
  CentreOnParent();
}

void COptionsDialog::ShowModel() {
  for (int control : client::OptionsModel::EditIds())
    static_cast<wxTextCtrl*>(FindWindow(control))->ChangeValue(wxString(m_model.EditText(control)));
  for (int control : client::OptionsModel::CheckIds()) {
    wxWindow* w = FindWindow(control);
    if (auto* check = dynamic_cast<wxCheckBox*>(w)) check->SetValue(m_model.IsChecked(control));
    if (auto* radio = dynamic_cast<wxRadioButton*>(w); radio && m_model.IsChecked(control)) radio->SetValue(true);
  }
  m_addresses->SetSelection(m_model.AddressSelection());
  ShowDestinations();
  ShowEnabling();
}

bool COptionsDialog::IsControlChecked(int control) const {
  wxWindow* w = FindWindow(control);
  if (auto* check = dynamic_cast<wxCheckBox*>(w)) return check->GetValue();
  if (auto* radio = dynamic_cast<wxRadioButton*>(w)) return radio->GetValue();
  return false;
}

void COptionsDialog::ShowEnabling() {
  const auto checked = [this](int control) { return IsControlChecked(control); };
  for (int control : {id::kPortForwarding, id::kLocalAddress, id::kUseDatabase, id::kDatabaseUrl, id::kDatabasePort,
                      id::kSeedingTime, id::kSeedingRatio, id::kAsdFolder, id::kAsdBrowse, id::kDestinationList})
    FindWindow(control)->Enable(m_model.IsEnabled(control, checked));
}

void COptionsDialog::ShowDestinations() {
  m_list->DeleteAllRows();
  for (std::size_t i = 0; i < m_model.destinations.size(); ++i) {
    const long row = m_list->InsertRow(long(i), wxString(m_model.destinations[i].keywords));
    m_list->SetCellText(row, 1, wxString(m_model.destinations[i].folder));
  }
}

void COptionsDialog::ReadDestinations() {
  m_list->EndEdit(true);
  m_model.destinations.clear();
  for (long row = 0; row < m_list->GetRowCount(); ++row)
    m_model.destinations.push_back(
        {m_list->GetCellText(row, 0).ToStdWstring(), m_list->GetCellText(row, 1).ToStdWstring()});
  for (int c = 0; c < 2; ++c) m_model.column_widths[c] = m_list->GetColumnWidth(c);
}

void COptionsDialog::Finish(int code) {
  m_list->EndEdit(false);
  if (IsModal()) {
    EndModal(code);
  } else {
    SetReturnCode(code);
    Hide();
  }
}

void COptionsDialog::OnOk(wxCommandEvent&) {
  client::OptionsModel::Controls controls;
  controls.text = [this](int control) {
    return static_cast<wxTextCtrl*>(FindWindow(control))->GetValue().ToStdWstring();
  };
  controls.checked = [this](int control) { return IsControlChecked(control); };
  controls.address_selection = m_addresses->GetSelection();
  if (const auto problem = m_model.Take(controls)) {
    m_ui->MessageBox(client::WideToUtf8(problem->message), "Quillfern", client::MessageKind::Warning);
    auto* edit = static_cast<wxTextCtrl*>(FindWindow(problem->id));
    edit->SetFocus();
    edit->SelectAll();
    return;
  }
  ReadDestinations();
  m_model.SaveCommand(*m_ui, m_profile);
  Finish(wxID_OK);
}

void COptionsDialog::OnBrowse(wxCommandEvent& event) {
  auto* edit = static_cast<wxTextCtrl*>(FindWindow(event.GetId() == id::kAsdBrowse ? id::kAsdFolder : id::kColorScheme));
  if (const auto folder = client::OptionsModel::ChooseFolderFor(event.GetId(), *m_ui, edit->GetValue().ToStdWstring()))
    edit->ChangeValue(wxString(*folder));
}

void COptionsDialog::OnExport(wxCommandEvent&) {
  // The list as shown; the other values as the dialog holds them.
  ReadDestinations();
  m_model.ExportCommand(*m_ui, m_profile);
}

void COptionsDialog::OnListDoubleClick(wxMouseEvent& event) {
  event.Skip();
  int flags = 0;
  const long hit = m_list->HitTest(event.GetPosition(), flags);
  const long row = hit >= 0 && hit < m_list->GetRowCount() ? hit : -1;
  // Where the "Directory" column starts, in the rows' window.
  int second_left = m_list->GetColumnWidth(0);
  wxRect cell;
  if (m_list->GetRowCount() > 0 && m_list->GetSubItemRect(0, 1, cell))
    second_left = cell.x - RowsWindowLeft();
  switch (client::OptionsModel::DoubleClickAction(int(row), event.GetPosition().x, second_left)) {
    case client::ListDoubleClick::EditRow:
      // After the list has handled the click itself, so the edit box keeps
      // the focus.
      CallAfter([this, row] { EditKeywords(row); });
      break;
    case client::ListDoubleClick::AppendRow:
      CallAfter([this] {
        ReadDestinations();
        const int added = m_model.AppendDestination();
        ShowDestinations();
        EditKeywords(added);
      });
      break;
    case client::ListDoubleClick::Nothing:
      break;
  }
}

int COptionsDialog::RowsWindowLeft() const {
  wxWindow* rows = m_list->ItemsWindow();
  return rows == m_list ? 0 : rows->GetPosition().x;
}

void COptionsDialog::EditKeywords(long row) {
  if (row < 0 || row >= m_list->GetRowCount()) return;
  m_list->EnsureVisible(row);
  wxRect label;
  if (!m_list->GetSubItemRect(row, 0, label, wxLIST_RECT_LABEL)) return;
  m_list->BeginEditAt(wxPoint(label.x + label.width / 2, label.y + label.height / 2));
}

void COptionsDialog::OnListRightClick(wxListEvent& event) {
  const long row = event.GetIndex();
  if (row < 0 || row >= m_list->GetRowCount()) return;
  // The point is in the rows' window; the cell rectangles in the list's.
  const int x = event.GetPoint().x + RowsWindowLeft();
  int column = -1;
  for (int c = 0; c < m_list->GetColumnCount() && column < 0; ++c) {
    wxRect cell;
    if (m_list->GetSubItemRect(row, c, cell) && x >= cell.x && x < cell.x + cell.width) column = c;
  }
  CallAfter([this, row, column] {
    ReadDestinations();
    if (m_model.ChooseDestinationFolder(*m_ui, int(row), column))
      m_list->SetCellText(row, 1, wxString(m_model.destinations[std::size_t(row)].folder));
  });
}

bool ShowOptionsDialog(wxWindow* parent, bool upnp_supported, const std::filesystem::path& destinations_file) {
  client::OptionsEnvironment environment;
  environment.upnp_supported = upnp_supported;
  environment.database_available = CTorrentDatabase::IsClientLibraryAvailable();
  environment.local_addresses = client::LocalAddressList(client::ReadInterfaceAddresses().value_or(
      std::vector<client::InterfaceAddress>{}));
  environment.destinations_file = destinations_file;
  COptionsDialog dialog(parent, std::move(environment));
  return dialog.ShowModal() == wxID_OK;
}

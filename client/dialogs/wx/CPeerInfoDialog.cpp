#include "client/dialogs/wx/CPeerInfoDialog.h"

#include "client/common/icon_resources.h"
#include "client/common/tick.h"
#include "client/common/wx/icons.h"
#include "client/common/wx/wx_conversions.h"
#include "client/common/wx/wx_ui_services.h"
#include "client/dialogs/wx/CPeerListenAnsicht.h"
#include "client/dialogs/wx/CPeerNachrichtDialog.h"

#include <wx/button.h>
#include <wx/checkbox.h>
#include <wx/display.h>

#include <map>

namespace {

namespace id = client::peers_id;

constexpr int kRefreshTimer = 1;
constexpr int kFirstTimer = 2;

std::map<const client::TorrentItem*, CPeerInfoDialog*>& OpenDialogs() {
  static std::map<const client::TorrentItem*, CPeerInfoDialog*> dialogs;
  return dialogs;
}

}  // namespace

CPeerInfoDialog::CPeerInfoDialog(wxWindow* parent, client::TorrentItem& torrent, const std::wstring& title,
                                 client::PeerBans bans, platform::profile profile, client::UiServices* ui)
    : wxDialog(parent, wxID_ANY, wxString(title.empty() ? std::wstring(client::kPeerInfoCaption) : title),
               wxDefaultPosition, wxDefaultSize,
               wxDEFAULT_DIALOG_STYLE | wxRESIZE_BORDER | wxMINIMIZE_BOX),
      m_torrent(&torrent),
      m_bans(std::move(bans)),
      m_profile(std::move(profile)),
      m_ownUi(ui ? nullptr : std::make_unique<client::WxUiServices>(this)),
      m_ui(ui ? ui : m_ownUi.get()),
      m_settings(client::LoadPeersSettings(m_profile)),
      m_firstTimer(this, kFirstTimer),
      m_refreshTimer(this, kRefreshTimer) {
  OpenDialogs()[m_torrent] = this;
  m_torrent->AddWatcher(this);
  SetIcons(LoadIconSet(client::kPeerInfoIcon));
  m_model.remove_inactive = m_settings.remove_inactive;
  m_model.SetSort(m_settings.sort_column, m_settings.sort_direction);
  CreateControls();
  Place();

  Bind(wxEVT_SIZE, &CPeerInfoDialog::OnSize, this);
  Bind(wxEVT_TIMER, &CPeerInfoDialog::OnTimer, this);
  Bind(wxEVT_BUTTON, &CPeerInfoDialog::OnOk, this, id::kOk);
  Bind(wxEVT_BUTTON, [this](wxCommandEvent&) { Finish(id::kCancel); }, id::kCancel);
  Bind(wxEVT_CLOSE_WINDOW, [this](wxCloseEvent&) { Finish(id::kCancel); });
  Bind(wxEVT_CHECKBOX, [this](wxCommandEvent&) { m_model.remove_inactive = m_removeInactive->GetValue(); },
       id::kRemoveInactive);
  m_list->on_row_menu = [this](std::size_t row, wxPoint screen) { OnRowMenu(row, screen); };
  m_firstTimer.StartOnce(int(client::kFirstRefreshMs));
}

CPeerInfoDialog::~CPeerInfoDialog() {
  m_firstTimer.Stop();
  m_refreshTimer.Stop();
  if (m_torrent) {
    m_torrent->RemoveWatcher(this);
    auto& open = OpenDialogs();
    if (auto it = open.find(m_torrent); it != open.end() && it->second == this) open.erase(it);
  }
}

CPeerInfoDialog* CPeerInfoDialog::Of(const client::TorrentItem& torrent) {
  const auto& open = OpenDialogs();
  const auto it = open.find(&torrent);
  return it == open.end() ? nullptr : it->second;
}

client::TorrentHandle CPeerInfoDialog::Handle() const {
  return m_torrent ? m_torrent->Handle() : client::TorrentHandle();
}

void CPeerInfoDialog::TorrentGone(client::TorrentItem& torrent) {
  if (&torrent != m_torrent) return;
  m_firstTimer.Stop();
  m_refreshTimer.Stop();
  auto& open = OpenDialogs();
  if (auto it = open.find(m_torrent); it != open.end() && it->second == this) open.erase(it);
  m_torrent = nullptr;
  Hide();
  // A menu or the chat dialog open over the dialog returns first; the
  // dialog goes after that.
  if (m_message) m_message->EndModal(id::kCancel);
  if (m_menuOpen == 0) Destroy();
}

void CPeerInfoDialog::CreateControls() {
  m_list = new CPeerListenAnsicht(this, id::kList, m_model);
  m_list->SetColumnWidths(m_settings.widths);
  // Widths in dialog units; the toolkit's own heights, which its themes need.
  m_removeInactive = new wxCheckBox(this, id::kRemoveInactive, L"remove inactive peers");
  m_removeInactive->SetSize(std::max(m_removeInactive->GetBestSize().x, ConvertDialogToPixels(wxSize(83, 0)).x), -1);
  m_removeInactive->SetValue(m_model.remove_inactive);
  const wxSize button(ConvertDialogToPixels(wxSize(50, 0)).x, -1);
  new wxButton(this, id::kCancel, L"Cancel", wxDefaultPosition, button);
  auto* ok = new wxButton(this, id::kOk, L"OK", wxDefaultPosition, button);
  ok->SetDefault();
  SetAffirmativeId(id::kOk);
  SetEscapeId(id::kCancel);
  SetMinSize(FromDIP(wxSize(client::kPeersDialogMinSize.cx, client::kPeersDialogMinSize.cy)));
  SetClientSize(ConvertDialogToPixels(wxSize(326, 233)));
}

void CPeerInfoDialog::Place() {
  if (GetParent()) CentreOnParent();
  else CentreOnScreen();
  const wxRect current = GetRect();
  const client::Rect stored = m_settings.window.value_or(client::ToRect(current));
  int display = wxDisplay::GetFromWindow(GetParent() ? GetParent() : this);
  if (display == wxNOT_FOUND) display = 0;
  const wxRect screen = wxDisplay(unsigned(display)).GetGeometry();
  const client::Rect placed = client::ClampPeersDialogRect(stored, {screen.width, screen.height});
  SetSize(client::ToWxRect(placed));
}

void CPeerInfoDialog::OnSize(wxSizeEvent& event) {
  event.Skip();
  if (IsIconized()) return;
  const wxSize size = GetClientSize();
  const int margin = FromDIP(11);
  m_list->SetSize(margin, margin, std::max(0, size.x - 2 * margin), std::max(0, size.y - FromDIP(56)));
  wxWindow* ok = FindWindow(id::kOk);
  wxWindow* cancel = FindWindow(id::kCancel);
  const wxSize button = ok->GetSize();
  const int y = size.y - margin - button.y;
  const int gap = FromDIP(22);
  const int left = (size.x - 2 * button.x - gap) / 2;
  // "Cancel" left of "OK", as the buttons always stood.
  cancel->Move(left, y);
  ok->Move(left + button.x + gap, y);
  m_removeInactive->Move(margin, y + (button.y - m_removeInactive->GetSize().y) / 2);
}

void CPeerInfoDialog::OnTimer(wxTimerEvent& event) {
  // The refresh runs on whatever one tick meets: a torrent that went is
  // the model's to see, any other fault reaches the program's guard, which
  // logs it.
  const bool first = event.GetId() == kFirstTimer;
  if (first) m_refreshTimer.Start(int(client::kRefreshMs));
  RefreshRows(first);
}

void CPeerInfoDialog::RefreshRows(bool full) {
  m_model.Tick(Handle(), client::TickMs(), full);
  // Rates and totals change every second even when no row came or went.
  m_list->RowsChanged();
}

void CPeerInfoDialog::Reopen() {
  m_refreshTimer.Start(int(client::kRefreshMs));
  Show();
  Raise();
}

void CPeerInfoDialog::OnRowMenu(std::size_t row, wxPoint screen) {
  if (!Handle().is_valid() || row >= m_model.Rows().size()) return;
  // The refresh goes on while the menu is open and may move the row.
  const engine::address peer = m_model.Rows()[row].info.ip;
  const std::vector<client::MenuItem> items = m_model.Menu(row);
  if (items.empty()) return;
  ++m_menuOpen;
  const int chosen = m_ui->PopupMenu(items, screen.x, screen.y);
  if (chosen == id::kMenuChat && m_torrent) {
    CPeerNachrichtDialog message(this);
    m_message = &message;
    const int answer = message.ShowModal();
    m_message = nullptr;
    if (answer == id::kOk && m_torrent) client::PeersModel::SendChat(Handle(), peer, message.Text());
  } else if (chosen != 0 && m_torrent) {
    if (const std::optional<std::size_t> now = m_model.IndexOf(peer)) {
      m_model.RunMenu(*now, chosen, m_bans);
      m_list->RowsChanged();
    }
  }
  --m_menuOpen;
  // The torrent went while the menu or the chat dialog was open.
  if (!m_torrent && m_menuOpen == 0) Destroy();
}

void CPeerInfoDialog::OnOk(wxCommandEvent&) {
  m_settings.remove_inactive = m_model.remove_inactive;
  m_settings.sort_column = m_model.SortColumn();
  m_settings.sort_direction = m_model.SortDirection();
  m_settings.widths = m_list->ColumnWidths();
  client::SavePeersSettings(m_profile, m_settings, client::ToRect(GetRect()));
  Finish(id::kOk);
}

void CPeerInfoDialog::Finish(int code) {
  m_firstTimer.Stop();
  m_refreshTimer.Stop();
  SetReturnCode(code);
  Hide();
}

CPeerInfoDialog* ShowPeersDialog(wxWindow* parent, client::TorrentItem& torrent, const std::wstring& title,
                                 client::PeerBans bans) {
  if (CPeerInfoDialog* open = CPeerInfoDialog::Of(torrent)) {
    open->Reopen();
    return open;
  }
  auto* dialog = new CPeerInfoDialog(parent, torrent, title, std::move(bans));
  dialog->Show();
  return dialog;
}

#pragma once
// The peers dialog of one torrent: a modeless window listing the torrent's
// connections in our own owner-drawn list (CPeerListenAnsicht), refreshed
// every second. A right click on a row offers chatting with the peer
// (CPeerNachrichtDialog, then the engine's chat extension through the
// torrent's handle) and banning its address or its /24 range (the owner's
// IP filter). A shell over client::PeersModel.
//
// One dialog per torrent: ShowPeersDialog opens it or shows it again. It
// closes for good when its torrent goes away (or with its parent); OK and
// Cancel only hide it.

#include "client/common/ui_services.h"
#include "client/dialogs/peers_model.h"
#include "client/torrents/torrent_item.h"
#include "platform/profile.h"

#include <wx/dialog.h>
#include <wx/timer.h>

#include <memory>
#include <string>

class CPeerListenAnsicht;
class CPeerNachrichtDialog;
class wxCheckBox;

class CPeerInfoDialog : public wxDialog, public client::TorrentWatcher {
 public:
  // `title` is the window's caption (the torrent's file name followed by
  // " - Quillfern Peer Info"; without one "Peer Info - Quillfern"); settings come from and go to `profile`; `ui`
  // (when given) shows the row menu instead of the desktop's.
  CPeerInfoDialog(wxWindow* parent, client::TorrentItem& torrent, const std::wstring& title, client::PeerBans bans,
                  platform::profile profile = platform::profile::application(), client::UiServices* ui = nullptr);
  ~CPeerInfoDialog() override;

  // The open dialog of the torrent, if any.
  static CPeerInfoDialog* Of(const client::TorrentItem& torrent);
  // Shows the dialog again and restarts its refresh.
  void Reopen();

  client::PeersModel& Model() { return m_model; }
  CPeerListenAnsicht* List() const { return m_list; }
  // The torrent's handle now; the null handle once the torrent is gone.
  client::TorrentHandle Handle() const;

  void TorrentGone(client::TorrentItem& torrent) override;

 private:
  void CreateControls();
  void Place();
  void OnSize(wxSizeEvent& event);
  void OnTimer(wxTimerEvent& event);
  void RefreshRows(bool full);
  void OnRowMenu(std::size_t row, wxPoint screen);
  void OnOk(wxCommandEvent&);
  void Finish(int code);

  client::TorrentItem* m_torrent;
  client::PeerBans m_bans;
  platform::profile m_profile;
  std::unique_ptr<client::UiServices> m_ownUi;
  client::UiServices* m_ui;
  client::PeersSettings m_settings;
  client::PeersModel m_model;
  CPeerListenAnsicht* m_list = nullptr;
  wxCheckBox* m_removeInactive = nullptr;
  // A row menu (and perhaps the chat dialog after it) is open.
  int m_menuOpen = 0;
  CPeerNachrichtDialog* m_message = nullptr;
  wxTimer m_firstTimer;    // the first refresh, once
  wxTimer m_refreshTimer;  // every second
};

// The row menu's "View peers": opens the torrent's peers dialog over
// `parent`, or shows its open one again. `title` as for the dialog; `bans`
// block addresses in the program's IP filter.
CPeerInfoDialog* ShowPeersDialog(wxWindow* parent, client::TorrentItem& torrent, const std::wstring& title,
                                 client::PeerBans bans);

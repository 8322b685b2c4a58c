#pragma once
// The dialog that adds a torrent known only by its info-hash: the hash,
// the tracker URL and the folder to save to ("..." chooses it). OK keeps
// the tracker and the folder in the profile; the main window then adds the
// torrent with the model's values. A shell over client::HashTorrentModel.

#include "client/common/ui_services.h"
#include "client/torrents/hash_torrent_model.h"
#include "platform/profile.h"

#include <wx/dialog.h>

#include <memory>

class wxTextCtrl;

class CHashTorrentHinzufuegen : public wxDialog {
 public:
  // Settings come from and go to `profile` (section "Configuration"); `ui`
  // (when given) chooses folders instead of the desktop's chooser.
  explicit CHashTorrentHinzufuegen(wxWindow* parent, platform::profile profile = platform::profile::application(),
                                   client::UiServices* ui = nullptr);
  ~CHashTorrentHinzufuegen() override;

  // The values; after OK they are those the user entered.
  const client::HashTorrentModel& Model() const { return m_model; }

 private:
  void CreateControls();
  // The controls into the model.
  void ReadControls();

  void OnChooseFolder(wxCommandEvent&);
  void OnOk(wxCommandEvent&);

  platform::profile m_profile;
  std::unique_ptr<client::UiServices> m_ownUi;
  client::UiServices* m_ui;
  client::HashTorrentModel m_model;
  wxTextCtrl* m_infoHash = nullptr;
  wxTextCtrl* m_trackerUrl = nullptr;
  wxTextCtrl* m_savePath = nullptr;
};

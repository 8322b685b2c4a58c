#pragma once
// One torrent's properties: its limits, seeding goal and peer ratio, its
// trackers (each with the address of its host, looked up on a worker
// thread) and its files with a wanted mark each. A shell over
// client::TorrentDetailsModel, which holds the values, the steps of the
// "+" and "-" buttons and what OK does; the dialog moves values between the
// model and its controls and refreshes the figures every second.

#include "client/common/list_edit.h"
#include "client/net/host_lookup.h"
#include "client/dialogs/torrent_details_model.h"
#include "platform/profile.h"

#include <wx/dialog.h>
#include <wx/timer.h>

#include <memory>

class CListEditCtrl;
class wxListCtrl;
class wxListEvent;
class wxThreadEvent;

namespace client {
class TorrentItem;
}

class CTorrentDetailDialog : public wxDialog {
 public:
  // Column widths come from and go to `profile` (section "Configuration");
  // `resolver` looks up the trackers' hosts on the worker thread.
  CTorrentDetailDialog(wxWindow* parent, client::TorrentItem& torrent,
                       platform::profile profile = platform::profile::application(),
                       client::HostLookupWorker::Resolver resolver = client::ResolveIpv4);
  ~CTorrentDetailDialog() override;

  client::TorrentDetailsModel& Model() { return m_model; }
  CListEditCtrl* TrackerList() const { return m_trackers; }
  wxListCtrl* FileList() const { return m_files; }
  // One tick of the one-second timer.
  void RefreshFigures();

 private:
  void CreateControls();
  void ShowEdits();
  void ShowEnabling();
  void ShowTrackerRow(int row);
  void ShowTrackers();
  void ShowFiles();
  // Hands the model's new lookups to the worker.
  void StartLookups();
  void Finish(int code);

  void OnOk(wxCommandEvent&);
  void OnStep(wxCommandEvent& event);
  void OnHostResolved(wxThreadEvent& event);
  void OnTrackerDoubleClick(wxMouseEvent& event);
  void OnTrackerEditEnded(long row, int column, client::EndEditAction action);
  void OnFileChecked(wxListEvent& event);

  platform::profile m_profile;
  client::TorrentDetailsModel m_model;
  client::DetailsColumnWidths m_widths;
  std::unique_ptr<client::HostLookupWorker> m_lookup;
  CListEditCtrl* m_trackers = nullptr;
  wxListCtrl* m_files = nullptr;
  wxTimer m_timer;
};

// The "Properties" entry of a torrent's row: the dialog over `parent`,
// modal. True when it was closed with OK (the changes were applied).
bool ShowTorrentDetails(wxWindow* parent, client::TorrentItem& torrent);

#pragma once
// The make-torrent dialog: files, trackers with tiers and DHT nodes, piece
// size, comment and output file; a worker hashes the files and writes the
// .torrent while the dialog shows its progress. The dialog is a shell over
// client::MakeTorrentModel, which holds the lists and decides what each
// control does.

#include "client/common/ui_services.h"
#include "client/dialogs/make_torrent_model.h"
#include "client/dialogs/make_torrent_worker.h"
#include "client/dialogs/wx/make_torrent_done_event.h"
#include "client/dialogs/wx/report_list.h"
#include "platform/profile.h"

#include <wx/dialog.h>

#include <memory>
#include <optional>
#include <string>

class wxGauge;
class wxStaticText;
class wxTextCtrl;

class CTorrentErzeugen : public wxDialog {
 public:
  // Settings come from and go to `profile` (section "Configuration"); `ui`
  // (when given) asks the user instead of the desktop's dialogs.
  explicit CTorrentErzeugen(wxWindow* parent, platform::profile profile = platform::profile::application(),
                            client::UiServices* ui = nullptr);
  ~CTorrentErzeugen() override;

  client::MakeTorrentModel& Model() { return m_model; }
  // Shows the model in the controls (after it was changed from outside).
  void ShowModel();
  // Whether a worker is making a torrent.
  bool IsMaking() const { return m_worker && m_worker->Running(); }

  ReportList* FileList() const { return m_files; }
  ReportList* TrackerList() const { return m_trackers; }

 private:
  void CreateControls();
  // A double click on `list` edits the row the model picks; the end of the
  // edit goes to the model; `show` shows the rows again.
  void EditRowsOf(ReportList* list, int (client::MakeTorrentModel::*row_to_edit)(int),
                  void (client::MakeTorrentModel::*end_edit)(int, const std::optional<std::wstring>&),
                  void (CTorrentErzeugen::*show)());
  // The edits into the model.
  void ReadEdits();
  void ShowFiles();
  void ShowTrackers();
  void ShowNodes();
  void SaveSettings();
  // OK and Cancel: save the settings and close once no worker runs; a
  // running one is given a moment, then asked to stop while the dialog
  // stays open (false).
  bool CloseWith(int code);

  void OnAddFile(wxCommandEvent&);
  void OnAddFolder(wxCommandEvent&);
  void OnClearFiles(wxCommandEvent&);
  void OnChooseOutput(wxCommandEvent&);
  void OnPieceUp(wxCommandEvent&);
  void OnPieceDown(wxCommandEvent&);
  void OnMake(wxCommandEvent&);
  void OnOk(wxCommandEvent&);
  void OnCancel(wxCommandEvent&);
  void OnClose(wxCloseEvent&);
  void OnProgress(wxThreadEvent& event);
  void OnDone(MakeTorrentDoneEvent& event);

  platform::profile m_profile;
  std::unique_ptr<client::UiServices> m_ownUi;
  client::UiServices* m_ui;
  client::MakeTorrentModel m_model;
  std::unique_ptr<client::MakeTorrentWorker> m_worker;

  ReportList* m_files = nullptr;
  ReportList* m_trackers = nullptr;
  ReportList* m_nodes = nullptr;
  wxTextCtrl* m_comment = nullptr;
  wxTextCtrl* m_output = nullptr;
  wxGauge* m_progress = nullptr;
  wxStaticText* m_infoHash = nullptr;
  wxStaticText* m_fileCount = nullptr;
  wxStaticText* m_pieceSize = nullptr;
  wxWindow* m_make = nullptr;
};

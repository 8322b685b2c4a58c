#pragma once
// The save-folder dialog of a new torrent, titled with the torrent's name:
// the folder (typed, or chosen with ">>"), the space the torrent needs
// against the space the folder offers, and the priority the torrent starts
// with (three CPrioritaetsButton, read once the dialog has gone). OK is
// allowed only for a writable folder with room enough. A shell over
// client::SaveFolderModel.

#include "client/common/ui_services.h"
#include "client/torrents/save_folder.h"

#include <wx/dialog.h>

#include <memory>
#include <optional>

class wxStaticText;
class wxTextCtrl;

class CZielordnerDialog : public wxDialog {
 public:
  // Whether each priority button was checked when the dialog went.
  struct PriorityChecks {
    bool high = false;
    bool normal = false;
    bool low = false;
  };

  // `ui` (when given) chooses folders instead of the desktop's chooser.
  // `checks` (when given) receives the buttons' states as the dialog is
  // destroyed; it must outlive the dialog.
  CZielordnerDialog(wxWindow* parent, client::SaveFolderRequest request, client::UiServices* ui = nullptr,
                    client::FolderSpaceQuery query = client::QueryFolderSpace, PriorityChecks* checks = nullptr);
  ~CZielordnerDialog() override;

  // Runs the dialog modally: the choice, or none when it was cancelled.
  static std::optional<client::SaveFolderChoice> Ask(wxWindow* parent, const client::SaveFolderRequest& request,
                                                     client::UiServices* ui = nullptr);

  const client::SaveFolderModel& Model() const { return m_model; }

 private:
  void CreateControls();
  // The model's status and OK rule shown.
  void ShowStatus();

  void OnFolderText(wxCommandEvent&);
  void OnChooseFolder(wxCommandEvent&);
  void OnPriority(wxCommandEvent& event);

  std::unique_ptr<client::UiServices> m_ownUi;
  client::UiServices* m_ui;
  PriorityChecks m_ownChecks;
  PriorityChecks* m_checks;
  client::SaveFolderModel m_model;
  wxTextCtrl* m_folder = nullptr;
  wxStaticText* m_status = nullptr;
  wxWindow* m_ok = nullptr;
};

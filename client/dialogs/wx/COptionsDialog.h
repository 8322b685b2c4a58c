#pragma once
// The options dialog: limits, ports, port forwarding, the database, the
// seeding goal, the colour scheme folder and where finished downloads are
// saved. A shell over client::OptionsModel, which holds the values, their
// conversions and checks and which controls are enabled; the dialog moves
// values between the model and its controls.

#include "client/common/ui_services.h"
#include "client/dialogs/options_model.h"
#include "platform/profile.h"

#include <wx/dialog.h>

#include <filesystem>
#include <memory>

class CListEditCtrl;
class wxChoice;
class wxListEvent;

class COptionsDialog : public wxDialog {
 public:
  // Settings come from and go to `profile` (section "Configuration"); `ui`
  // (when given) asks the user instead of the desktop's dialogs.
  COptionsDialog(wxWindow* parent, client::OptionsEnvironment environment,
                 platform::profile profile = platform::profile::application(), client::UiServices* ui = nullptr);

  client::OptionsModel& Model() { return m_model; }
  CListEditCtrl* DestinationList() const { return m_list; }

 private:
  void CreateControls();
  // The model's values into the controls, and the enabling that follows.
  void ShowModel();
  void ShowEnabling();
  bool IsControlChecked(int id) const;
  // The destination rows and column widths between list and model.
  void ShowDestinations();
  void ReadDestinations();
  // Closes with `code` (shown modal or not).
  void Finish(int code);

  void OnOk(wxCommandEvent&);
  void OnBrowse(wxCommandEvent& event);
  void OnExport(wxCommandEvent&);
  void OnListDoubleClick(wxMouseEvent& event);
  void OnListRightClick(wxListEvent& event);
  // Opens the edit box on the keywords of `row`.
  void EditKeywords(long row);
  // Where the list's rows' window lies in the list, across.
  int RowsWindowLeft() const;

  platform::profile m_profile;
  std::unique_ptr<client::UiServices> m_ownUi;
  client::UiServices* m_ui;
  client::OptionsModel m_model;
  CListEditCtrl* m_list = nullptr;
  wxChoice* m_addresses = nullptr;
};

// The "Options" entry of the main window: opens the dialog over `parent`
// for the application's profile and waits until it is closed. True when it
// was closed with OK (the settings have then been written). Port
// forwarding can be switched on only with `upnp_supported`.
bool ShowOptionsDialog(wxWindow* parent, bool upnp_supported, const std::filesystem::path& destinations_file);

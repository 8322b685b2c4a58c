#pragma once
// The colour-scheme editor's one dialog: the 75 byte edits of one chart
// entry and of the main colour block, the status radios, the scheme folder
// with its chooser, "Save" and "Quit", and a live preview of the frame and
// a chart painted with the colours being edited.

#include "client/common/color_scheme.h"
#include "client/common/ui_services.h"
#include "platform/profile.h"
#include "scheme_editor/scheme_editor.h"
#include "scheme_editor/wx/scheme_preview.h"

#include <array>
#include <memory>

#include <wx/dialog.h>

class wxRadioButton;
class wxTextCtrl;

class CFarbSchemaDialog : public wxDialog {
 public:
  // Settings live in `profile`; message boxes and the folder chooser go
  // through `ui`. The chart colours edited are the process's global table,
  // the one the chart preview paints from.
  CFarbSchemaDialog(wxWindow* parent, platform::profile profile, client::UiServices& ui);
  ~CFarbSchemaDialog() override;

  tintwright::SchemeEditor& Editor() { return m_editor; }
  tintwright::SchemePreview& Preview() { return *m_preview; }
  // The byte edit or the folder edit with this id, null for others.
  wxTextCtrl* EditOf(int id) const;

  // Loads both schemes from the folder into the previews (made the first
  // time) and shows the entry of status Queued.
  void CreatePreviews();

 private:
  void CreateControls();
  // The edit texts of the editor's current entry into the controls; the
  // text events this raises are not taken for typing.
  void ShowTexts(const tintwright::EditTexts& texts);
  tintwright::EditTexts ReadTexts() const;
  std::string FolderText() const;
  // Shows the outcome's message and puts the focus on its edit.
  void Report(const tintwright::Outcome& outcome);
  void Repaint(tintwright::SchemeEditor::Repaint what);

  void OnEditText(wxCommandEvent& event);
  void OnStatus(wxCommandEvent& event);
  void OnSaveScheme(wxCommandEvent& event);
  void OnBrowseFolder(wxCommandEvent& event);
  void OnQuit(wxCommandEvent& event);

  tintwright::SchemeEditor m_editor;
  client::UiServices& m_ui;
  std::unique_ptr<tintwright::SchemePreview> m_preview;
  std::array<wxTextCtrl*, tintwright::kFieldCount> m_edits{};
  std::array<wxRadioButton*, client::kStatusCount> m_radios{};
  wxTextCtrl* m_folder = nullptr;
  bool m_showing = false;
};

#include "scheme_editor/wx/CFarbSchemaDialog.h"

#include "client/common/icon_resources.h"
#include "client/common/paths.h"
#include "client/common/wx/icons.h"
#include "scheme_editor/dialog_layout.h"

#include <wx/button.h>
#include <wx/radiobut.h>
#include <wx/statbox.h>
#include <wx/stattext.h>
#include <wx/textctrl.h>

using namespace tintwright;

namespace {

wxString Wx(std::wstring_view text) { return wxString(text.data(), text.size()); }
std::string Utf8(const wxString& text) { return std::string(text.utf8_str()); }

// The dialog's ids are the Windows ones; its OK button is wx's.
int WxId(int id) { return id == kQuitId ? wxID_OK : id == 0 ? wxID_ANY : id; }

}  // namespace

CFarbSchemaDialog::CFarbSchemaDialog(wxWindow* parent, platform::profile profile, client::UiServices& ui)
    : wxDialog(parent, wxID_ANY, Wx(kDialogTitle), wxDefaultPosition, wxDefaultSize,
               wxDEFAULT_DIALOG_STYLE | wxMINIMIZE_BOX),
      m_editor(std::move(profile), client::GlobalDiagramColors()),
      m_ui(ui) {
  SetIcons(LoadIconSet(client::kApplicationIcon));
  CreateControls();
  m_folder->ChangeValue(wxString::FromUTF8(m_editor.Folder()));
  CreatePreviews();
  Centre();

  Bind(wxEVT_TEXT, &CFarbSchemaDialog::OnEditText, this);
  Bind(wxEVT_RADIOBUTTON, &CFarbSchemaDialog::OnStatus, this);
  Bind(wxEVT_BUTTON, &CFarbSchemaDialog::OnSaveScheme, this, kSaveId);
  Bind(wxEVT_BUTTON, &CFarbSchemaDialog::OnBrowseFolder, this, kBrowseId);
  Bind(wxEVT_BUTTON, &CFarbSchemaDialog::OnQuit, this, wxID_OK);
}

CFarbSchemaDialog::~CFarbSchemaDialog() = default;

void CFarbSchemaDialog::CreateControls() {
  const wxPoint preview_end = ConvertPixelsToDialog(wxPoint(kPreviewRight, kPreviewBottom));
  const DialogLayout layout = BuildDialogLayout(preview_end.x + 1, preview_end.y + 1);
  auto rect = [this](const DluRect& r) {
    return wxRect(ConvertDialogToPixels(wxPoint(r.x, r.y)), ConvertDialogToPixels(wxSize(r.width, r.height)));
  };
  for (const LayoutControl& c : layout.controls) {
    const wxRect at = rect(c.rect);
    const int id = WxId(c.id);
    switch (c.kind) {
      case ControlKind::Group:
        new wxStaticBox(this, id, Wx(c.text), at.GetPosition(), at.GetSize());
        break;
      case ControlKind::Label:
        new wxStaticText(this, id, Wx(c.text), at.GetPosition(), at.GetSize(), wxST_ELLIPSIZE_END);
        break;
      case ControlKind::Edit: {
        const bool folder = c.id == kFolderEditId;
        auto* edit = new wxTextCtrl(this, id, wxEmptyString, at.GetPosition(), at.GetSize(), folder ? 0 : wxTE_RIGHT);
        if (folder) {
          m_folder = edit;
        } else {
          edit->SetMaxLength(3);
          m_edits[*FieldIndexOfId(c.id)] = edit;
        }
        break;
      }
      case ControlKind::Radio: {
        auto* radio = new wxRadioButton(this, id, Wx(c.text), at.GetPosition(), at.GetSize(),
                                        c.first_radio ? wxRB_GROUP : 0);
        m_radios[*StatusOfRadio(c.id)] = radio;
        break;
      }
      case ControlKind::Button:
        new wxButton(this, id, Wx(c.text), at.GetPosition(), at.GetSize());
        break;
    }
  }
  SetClientSize(ConvertDialogToPixels(wxSize(layout.width, layout.height)));
}

wxTextCtrl* CFarbSchemaDialog::EditOf(int id) const {
  if (id == kFolderEditId) return m_folder;
  const auto index = FieldIndexOfId(id);
  return index ? m_edits[*index] : nullptr;
}

void CFarbSchemaDialog::CreatePreviews() {
  m_editor.LoadSchemes();
  if (!m_preview)
    m_preview = CreateSchemePreview(
        this, wxRect(kPreviewLeft, kPreviewTop, kPreviewRight - kPreviewLeft, kPreviewBottom - kPreviewTop),
        m_editor.Profile(), m_editor.Folder(), m_editor.Main());
  m_preview->SetMainColors(m_editor.Main());
  m_preview->ChartColorsChanged();
  m_radios[client::kQueuedColors]->SetValue(true);
  m_preview->SetStatus(client::kQueuedColors);
  ShowTexts(m_editor.ShowSchemeEntry(client::kQueuedColors));
}

void CFarbSchemaDialog::ShowTexts(const EditTexts& texts) {
  m_showing = true;
  for (std::size_t i = 0; i < kFieldCount; ++i) m_edits[i]->ChangeValue(texts[i]);
  m_showing = false;
}

EditTexts CFarbSchemaDialog::ReadTexts() const {
  EditTexts texts;
  for (std::size_t i = 0; i < kFieldCount; ++i) texts[i] = Utf8(m_edits[i]->GetValue());
  return texts;
}

std::string CFarbSchemaDialog::FolderText() const { return Utf8(m_folder->GetValue()); }

void CFarbSchemaDialog::Report(const Outcome& outcome) {
  if (!outcome.message.empty())
    m_ui.MessageBox(Utf8(Wx(outcome.message)), Utf8(Wx(kDialogTitle)),
                    outcome.focus_id ? client::MessageKind::Warning : client::MessageKind::Error);
  if (wxTextCtrl* edit = outcome.focus_id ? EditOf(outcome.focus_id) : nullptr) {
    edit->SetFocus();
    edit->SelectAll();
  }
}

void CFarbSchemaDialog::Repaint(SchemeEditor::Repaint what) {
  if (what == SchemeEditor::Repaint::Nothing) return;
  if (what == SchemeEditor::Repaint::FrameAndChart) m_preview->SetMainColors(m_editor.Main());
  m_preview->ChartColorsChanged();
}

void CFarbSchemaDialog::OnEditText(wxCommandEvent& event) {
  if (m_showing || !m_preview) return;
  Repaint(m_editor.EditChanged(event.GetId(), Utf8(event.GetString())));
}

void CFarbSchemaDialog::OnStatus(wxCommandEvent& event) {
  const auto status = StatusOfRadio(event.GetId());
  if (!status || *status == m_editor.Status()) return;
  EditTexts texts = ReadTexts();
  const Outcome outcome = m_editor.SelectStatus(*status, texts);
  if (!outcome.done) {
    m_radios[m_editor.Status()]->SetValue(true);
    Report(outcome);
    return;
  }
  m_preview->SetStatus(*status);
  ShowTexts(texts);
  Repaint(SchemeEditor::Repaint::FrameAndChart);
}

void CFarbSchemaDialog::OnSaveScheme(wxCommandEvent&) {
  const Outcome outcome = m_editor.Save(ReadTexts(), FolderText());
  if (outcome.focus_id == 0) {
    m_folder->ChangeValue(wxString::FromUTF8(m_editor.Folder()));
    Repaint(SchemeEditor::Repaint::FrameAndChart);
  }
  Report(outcome);
}

void CFarbSchemaDialog::OnBrowseFolder(wxCommandEvent&) {
  const auto chosen = m_ui.ChooseFolder(Utf8(Wx(kBrowseTitle)), FolderText());
  if (!chosen) return;
  m_editor.SetFolder(client::WithTrailingSeparator(*chosen));
  m_folder->ChangeValue(wxString::FromUTF8(m_editor.Folder()));
  CreatePreviews();
}

void CFarbSchemaDialog::OnQuit(wxCommandEvent&) {
  const Outcome outcome = m_editor.Quit(ReadTexts(), FolderText());
  if (!outcome.done) {
    Report(outcome);
    return;
  }
  EndDialog(wxID_OK);
}

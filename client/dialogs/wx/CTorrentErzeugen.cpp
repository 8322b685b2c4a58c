#include "client/dialogs/wx/CTorrentErzeugen.h"

#include "client/common/wx/wx_ui_services.h"
#include "client/base/wide_text.h"

#include <wx/button.h>
#include <wx/gauge.h>
#include <wx/stattext.h>
#include <wx/textctrl.h>

#include <chrono>

wxDEFINE_EVENT(EVT_APP_MAKE_TORRENT_DONE, MakeTorrentDoneEvent);
wxDEFINE_EVENT(EVT_APP_MAKE_TORRENT_PROGRESS, wxThreadEvent);

namespace {

using client::DialogControlKind;

// How long OK or Cancel waits for a running worker before asking it to stop.
constexpr std::chrono::milliseconds kWorkerGrace{500};

}  // namespace

CTorrentErzeugen::CTorrentErzeugen(wxWindow* parent, platform::profile profile, client::UiServices* ui)
    : wxDialog(parent, wxID_ANY, wxString(std::wstring(client::kMakeTorrentTitle))),
      m_profile(std::move(profile)),
      m_ownUi(ui ? nullptr : std::make_unique<client::WxUiServices>(this)),
      m_ui(ui ? ui : m_ownUi.get()),
      m_worker(std::make_unique<client::MakeTorrentWorker>()) {
  m_model.LoadSettings(m_profile);
  CreateControls();
  ShowModel();

  Bind(wxEVT_BUTTON, &CTorrentErzeugen::OnAddFile, this, client::kIdAddFile);
  Bind(wxEVT_BUTTON, &CTorrentErzeugen::OnAddFolder, this, client::kIdAddFolder);
  Bind(wxEVT_BUTTON, &CTorrentErzeugen::OnClearFiles, this, client::kIdClearFiles);
  Bind(wxEVT_BUTTON, &CTorrentErzeugen::OnChooseOutput, this, client::kIdChooseOutput);
  Bind(wxEVT_BUTTON, &CTorrentErzeugen::OnPieceUp, this, client::kIdPieceUp);
  Bind(wxEVT_BUTTON, &CTorrentErzeugen::OnPieceDown, this, client::kIdPieceDown);
  Bind(wxEVT_BUTTON, &CTorrentErzeugen::OnMake, this, client::kIdMake);
  Bind(wxEVT_BUTTON, &CTorrentErzeugen::OnOk, this, client::kIdOk);
  Bind(wxEVT_BUTTON, &CTorrentErzeugen::OnCancel, this, client::kIdCancel);
  Bind(wxEVT_CLOSE_WINDOW, &CTorrentErzeugen::OnClose, this);
  Bind(EVT_APP_MAKE_TORRENT_PROGRESS, &CTorrentErzeugen::OnProgress, this);
  Bind(EVT_APP_MAKE_TORRENT_DONE, &CTorrentErzeugen::OnDone, this);

  m_files->on_right_click = [this](long row, int, wxPoint screen) {
    m_model.ApplyFileMenu(int(row), m_ui->PopupMenu(m_model.FileMenu(), screen.x, screen.y));
    ShowFiles();
  };
  EditRowsOf(m_trackers, &client::MakeTorrentModel::TrackerRowToEdit, &client::MakeTorrentModel::EndTrackerEdit,
             &CTorrentErzeugen::ShowTrackers);
  m_trackers->on_right_click = [this](long row, int column, wxPoint screen) {
    m_model.ApplyTrackerMenu(int(row), m_ui->PopupMenu(m_model.TrackerMenu(column), screen.x, screen.y));
    ShowTrackers();
  };
  EditRowsOf(m_nodes, &client::MakeTorrentModel::NodeRowToEdit, &client::MakeTorrentModel::EndNodeEdit,
             &CTorrentErzeugen::ShowNodes);
}

void CTorrentErzeugen::EditRowsOf(ReportList* list, int (client::MakeTorrentModel::*row_to_edit)(int),
                                  void (client::MakeTorrentModel::*end_edit)(int, const std::optional<std::wstring>&),
                                  void (CTorrentErzeugen::*show)()) {
  list->on_double_click = [this, list, row_to_edit, show](long row) {
    const int edit = (m_model.*row_to_edit)(int(row));
    (this->*show)();
    list->EditRow(edit);
  };
  list->on_end_edit = [this, end_edit, show](long row, std::optional<std::wstring> text) {
    (m_model.*end_edit)(int(row), text);
    (this->*show)();
  };
}

CTorrentErzeugen::~CTorrentErzeugen() {
  // The worker reports to this window: it ends while the window is whole.
  m_worker.reset();
}

void CTorrentErzeugen::CreateControls() {
  const wxSize client_size = ConvertDialogToPixels(
      wxSize(client::kMakeTorrentDialogSize.cx, client::kMakeTorrentDialogSize.cy));
  for (const client::DialogControl& c : client::MakeTorrentControls()) {
    const wxPoint pos = ConvertDialogToPixels(wxPoint(c.place.left, c.place.top));
    const wxPoint end = ConvertDialogToPixels(wxPoint(c.place.right, c.place.bottom));
    const wxSize size(end.x - pos.x, end.y - pos.y);
    const wxString text(c.text);
    const int id = c.id == client::kIdNone ? wxID_ANY : c.id;
    switch (c.kind) {
      case DialogControlKind::Label:
        new wxStaticText(this, id, text, pos, size, wxST_NO_AUTORESIZE);
        break;
      case DialogControlKind::Value: {
        auto* value = new wxStaticText(this, id, text, pos, size,
                                       wxST_NO_AUTORESIZE | (c.right_aligned ? wxALIGN_RIGHT : wxALIGN_LEFT));
        if (c.id == client::kIdFileCount) m_fileCount = value;
        if (c.id == client::kIdPieceSize) m_pieceSize = value;
        if (c.id == client::kIdInfoHash) m_infoHash = value;
        break;
      }
      case DialogControlKind::Edit: {
        auto* edit = new wxTextCtrl(this, id, text, pos, size);
        if (c.id == client::kIdComment) m_comment = edit;
        if (c.id == client::kIdOutputFile) m_output = edit;
        break;
      }
      case DialogControlKind::Button:
      case DialogControlKind::DefaultButton: {
        auto* button = new wxButton(this, id, text, pos, size);
        if (c.kind == DialogControlKind::DefaultButton) button->SetDefault();
        if (c.id == client::kIdMake) m_make = button;
        break;
      }
      case DialogControlKind::List:
        if (c.id == client::kIdFileList)
          m_files = new ReportList(this, id, pos, size, client::FileListColumns(), m_model.file_columns);
        else if (c.id == client::kIdTrackerList)
          m_trackers = new ReportList(this, id, pos, size, client::TrackerListColumns(), m_model.tracker_columns);
        else
          m_nodes = new ReportList(this, id, pos, size, client::NodeListColumns(), m_model.node_columns);
        break;
      case DialogControlKind::Progress:
        m_progress = new wxGauge(this, id, 1, pos, size, wxGA_HORIZONTAL | wxGA_SMOOTH);
        break;
    }
  }
  SetAffirmativeId(client::kIdOk);
  SetEscapeId(client::kIdCancel);
  SetClientSize(client_size);
  CentreOnParent();
}

void CTorrentErzeugen::ShowModel() {
  ShowFiles();
  ShowTrackers();
  ShowNodes();
  m_comment->ChangeValue(wxString(m_model.comment));
  m_output->ChangeValue(wxString(m_model.output_file));
  m_pieceSize->SetLabel(wxString(m_model.PieceSizeText()));
}

void CTorrentErzeugen::ReadEdits() {
  m_model.comment = m_comment->GetValue().ToStdWstring();
  m_model.output_file = m_output->GetValue().ToStdWstring();
}

void CTorrentErzeugen::ShowFiles() {
  std::vector<ReportList::Row> rows;
  rows.reserve(static_cast<std::size_t>(m_model.FileRowCount()));
  for (int i = 0; i < m_model.FileRowCount(); ++i) rows.push_back({m_model.FilePathText(i), m_model.FileSizeText(i)});
  m_files->SetRows(std::move(rows));
  m_fileCount->SetLabel(wxString(m_model.FileCountText()));
}

void CTorrentErzeugen::ShowTrackers() {
  std::vector<ReportList::Row> rows;
  for (const auto& t : m_model.Trackers()) rows.push_back({t.url, t.tier});
  m_trackers->SetRows(std::move(rows));
}

void CTorrentErzeugen::ShowNodes() {
  std::vector<ReportList::Row> rows;
  for (const auto& n : m_model.Nodes()) rows.push_back({n});
  m_nodes->SetRows(std::move(rows));
}

void CTorrentErzeugen::SaveSettings() {
  ReadEdits();
  m_model.file_columns = m_files->ColumnWidths();
  m_model.tracker_columns = m_trackers->ColumnWidths();
  m_model.node_columns = m_nodes->ColumnWidths();
  m_model.SaveSettings(m_profile);
}

bool CTorrentErzeugen::CloseWith(int code) {
  if (!m_worker->StopWithin(kWorkerGrace)) return false;
  SaveSettings();
  if (IsModal()) {
    EndModal(code);
  } else {
    SetReturnCode(code);
    Hide();
  }
  return true;
}

void CTorrentErzeugen::OnAddFile(wxCommandEvent&) {
  m_model.AddFileCommand(*m_ui, [this](int row) {
    ShowFiles();
    m_files->SelectRow(row);
  });
}

void CTorrentErzeugen::OnAddFolder(wxCommandEvent&) {
  if (m_model.AddFolderCommand(*m_ui)) ShowFiles();
}

void CTorrentErzeugen::OnClearFiles(wxCommandEvent&) {
  m_model.ClearFiles();
  ShowFiles();
}

void CTorrentErzeugen::OnChooseOutput(wxCommandEvent&) {
  ReadEdits();
  if (m_model.ChooseOutputCommand(*m_ui)) m_output->ChangeValue(wxString(m_model.output_file));
}

void CTorrentErzeugen::OnPieceUp(wxCommandEvent&) {
  m_model.PieceExponentUp();
  m_pieceSize->SetLabel(wxString(m_model.PieceSizeText()));
}

void CTorrentErzeugen::OnPieceDown(wxCommandEvent&) {
  m_model.PieceExponentDown();
  m_pieceSize->SetLabel(wxString(m_model.PieceSizeText()));
}

void CTorrentErzeugen::OnMake(wxCommandEvent&) {
  ReadEdits();
  m_make->Disable();
  m_infoHash->SetLabel(wxString());
  m_progress->SetValue(0);
  // Called on the worker's thread: they only queue events that own what
  // they carry.
  const int id = GetId();
  const bool started = m_worker->Start(
      m_model.Job(),
      [this, id](int position, int range) {
        auto* event = new wxThreadEvent(EVT_APP_MAKE_TORRENT_PROGRESS, id);
        event->SetInt(position);
        event->SetExtraLong(range);
        wxQueueEvent(this, event);
      },
      [this, id](client::MakeTorrentResult result) {
        wxQueueEvent(this, new MakeTorrentDoneEvent(EVT_APP_MAKE_TORRENT_DONE, id, std::move(result)));
      });
  if (!started) m_make->Enable();
}

void CTorrentErzeugen::OnOk(wxCommandEvent&) { CloseWith(wxID_OK); }

void CTorrentErzeugen::OnCancel(wxCommandEvent&) { CloseWith(wxID_CANCEL); }

void CTorrentErzeugen::OnClose(wxCloseEvent& event) {
  if (!CloseWith(wxID_CANCEL) && event.CanVeto()) event.Veto();
}

void CTorrentErzeugen::OnProgress(wxThreadEvent& event) {
  m_progress->SetRange(std::max(1, int(event.GetExtraLong())));
  m_progress->SetValue(event.GetInt());
}

void CTorrentErzeugen::OnDone(MakeTorrentDoneEvent& event) {
  const client::MakeTorrentResult& result = event.GetResult();
  m_make->Enable();
  switch (result.outcome) {
    case client::MakeTorrentResult::Outcome::Written:
      m_infoHash->SetLabel(wxString(result.info_hash));
      m_progress->SetRange(std::max(1, result.pieces));
      m_progress->SetValue(result.pieces);
      break;
    case client::MakeTorrentResult::Outcome::Cancelled:
      m_progress->SetValue(0);
      break;
    case client::MakeTorrentResult::Outcome::Failed:
      m_progress->SetValue(0);
      // Not after the dialog has closed (it ended just as it was closed).
      if (IsShown()) m_ui->MessageBox(client::WideToUtf8(result.message), "Quillfern", client::MessageKind::Error);
      break;
  }
}

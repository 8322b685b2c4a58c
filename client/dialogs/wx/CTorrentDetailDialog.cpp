#include "client/dialogs/wx/CTorrentDetailDialog.h"

#include "client/common/icon_resources.h"
#include "client/common/wx/CListEditCtrl.h"
#include "client/common/wx/icons.h"
#include "client/torrents/torrent_item.h"
#include "client/base/wx/dialog_buttons.h"

#include <wx/button.h>
#include <wx/msgdlg.h>
#include <wx/radiobut.h>
#include <wx/sizer.h>
#include <wx/statbox.h>
#include <wx/stattext.h>
#include <wx/textctrl.h>

namespace {

namespace id = client::details_id;

// The answer of a host lookup, queued from the worker thread.
wxDEFINE_EVENT(EVT_HOST_RESOLVED, wxThreadEvent);

// Sizes in dialog units.
constexpr int kNumberWidth = 40;
constexpr int kListWidth = 300;
constexpr int kTrackerListHeight = 70;
constexpr int kFileListHeight = 90;

// The files: a virtual list whose rows are made from the model as they
// come into view, so that a torrent of any number of files opens at once.
class FileListCtrl : public wxListCtrl {
 public:
  FileListCtrl(wxWindow* parent, const wxSize& size, const client::TorrentDetailsModel& model)
      : wxListCtrl(parent, id::kFileList, wxDefaultPosition, size,
                   wxLC_REPORT | wxLC_VIRTUAL | wxLC_HRULES | wxLC_VRULES | wxBORDER_SUNKEN),
        m_model(model) {}

 protected:
  wxString OnGetItemText(long item, long column) const override {
    return wxString(m_model.FileText(int(item), int(column)));
  }
  bool OnGetItemIsChecked(long item) const override { return m_model.IsWanted(int(item)); }

 private:
  const client::TorrentDetailsModel& m_model;
};

}  // namespace

CTorrentDetailDialog::CTorrentDetailDialog(wxWindow* parent, client::TorrentItem& torrent, platform::profile profile,
                                           client::HostLookupWorker::Resolver resolver)
    : wxDialog(parent, wxID_ANY, wxString(std::wstring(client::kDetailsTitle)), wxDefaultPosition, wxDefaultSize,
               wxDEFAULT_DIALOG_STYLE | wxRESIZE_BORDER),
      m_profile(std::move(profile)),
      m_model(torrent),
      m_timer(this) {
  SetIcons(LoadIconSet(client::kApplicationIcon));
  m_widths.Load(m_profile);
  CreateControls();
  ShowEdits();
  ShowTrackers();
  ShowFiles();
  ShowEnabling();
  SetTitle(wxString(m_model.Caption()));

  // The sink runs on the worker thread: it only queues an event that owns
  // the answer. Answers still queued when the dialog goes are deleted with
  // it; those for rows that went before are dropped by the model.
  m_lookup = std::make_unique<client::HostLookupWorker>(
      [this](client::HostLookupWorker::Answer answer) {
        auto* event = new wxThreadEvent(EVT_HOST_RESOLVED);
        event->SetPayload(answer);
        wxQueueEvent(this, event);
      },
      std::move(resolver));
  StartLookups();

  Bind(EVT_HOST_RESOLVED, &CTorrentDetailDialog::OnHostResolved, this);
  Bind(wxEVT_TIMER, [this](wxTimerEvent&) { RefreshFigures(); }, m_timer.GetId());
  Bind(wxEVT_BUTTON, &CTorrentDetailDialog::OnOk, this, id::kOk);
  Bind(wxEVT_BUTTON, [this](wxCommandEvent&) { Finish(wxID_CANCEL); }, id::kCancel);
  Bind(wxEVT_CLOSE_WINDOW, [this](wxCloseEvent&) { Finish(wxID_CANCEL); });
  for (int button : {id::kUploadDown, id::kUploadUp, id::kDownloadDown, id::kDownloadUp, id::kSeedingTimeDown,
                     id::kSeedingTimeUp, id::kSeedingRatioDown, id::kSeedingRatioUp, id::kPeerRatioDown,
                     id::kPeerRatioUp})
    Bind(wxEVT_BUTTON, &CTorrentDetailDialog::OnStep, this, button);
  Bind(wxEVT_RADIOBUTTON, [this](wxCommandEvent& event) {
    m_model.SetSeedingMode(event.GetId() == id::kSeedByRatio ? 1 : 0);
    ShowEnabling();
  });
  Bind(wxEVT_BUTTON, [this](wxCommandEvent&) {
    if (!m_model.OriginalTrackers()) return;
    ShowTrackers();
    StartLookups();
  }, id::kOriginalTrackers);
  Bind(wxEVT_BUTTON, [this](wxCommandEvent& event) {
    m_model.SetAllWanted(event.GetId() == id::kSelectAll);
    ShowFiles();
  }, id::kSelectAll, id::kUnselectAll);
  m_trackers->ItemsWindow()->Bind(wxEVT_LEFT_DCLICK, &CTorrentDetailDialog::OnTrackerDoubleClick, this);
  m_trackers->on_edit_ended = [this](long row, int column, client::EndEditAction action) {
    OnTrackerEditEnded(row, column, action);
  };
  m_files->Bind(wxEVT_LIST_ITEM_CHECKED, &CTorrentDetailDialog::OnFileChecked, this);
  m_files->Bind(wxEVT_LIST_ITEM_UNCHECKED, &CTorrentDetailDialog::OnFileChecked, this);

  RefreshFigures();
  m_timer.Start(1000);
}

CTorrentDetailDialog::~CTorrentDetailDialog() {
  m_timer.Stop();
  m_trackers->on_edit_ended = nullptr;
  // No answer is queued after this.
  m_lookup.reset();
}

void CTorrentDetailDialog::CreateControls() {
  auto du = [this](int w, int h) { return ConvertDialogToPixels(wxSize(w, h)); };
  const int gap = FromDIP(6);
  const int centre = wxALIGN_CENTER_VERTICAL;

  m_trackers = new CListEditCtrl(this, id::kTrackerList, wxDefaultPosition, du(kListWidth, kTrackerListHeight),
                                 wxLC_HRULES | wxLC_VRULES | wxBORDER_SUNKEN);
  m_trackers->AppendColumn(L"Tracker URL", wxLIST_FORMAT_LEFT, m_widths.trackers[0]);
  m_trackers->AppendColumn(L"IP", wxLIST_FORMAT_CENTRE, m_widths.trackers[1]);
  m_trackers->AppendColumn(L"Tier", wxLIST_FORMAT_RIGHT, m_widths.trackers[2]);
  m_trackers->AppendColumn(L"User", wxLIST_FORMAT_LEFT, m_widths.trackers[3]);
  m_trackers->AppendColumn(L"Password", wxLIST_FORMAT_LEFT, m_widths.trackers[4]);

  m_files = new FileListCtrl(this, du(kListWidth, kFileListHeight), m_model);
  m_files->EnableCheckBoxes();
  m_files->AppendColumn(L"File", wxLIST_FORMAT_LEFT, m_widths.files[0]);
  m_files->AppendColumn(L"Size", wxLIST_FORMAT_RIGHT, m_widths.files[1]);
  // Wide enough for "100.00" whole in this font.
  m_files->AppendColumn(L"%", wxLIST_FORMAT_RIGHT,
                        std::max(m_widths.files[2], GetTextExtent(L"100.00").x + FromDIP(18)));

  auto* lists = new wxBoxSizer(wxVERTICAL);
  lists->Add(m_trackers, 1, wxEXPAND);
  auto* tracker_buttons = new wxBoxSizer(wxHORIZONTAL);
  tracker_buttons->Add(new wxButton(this, id::kOriginalTrackers, L"Original Trackers"));
  lists->Add(tracker_buttons, 0, wxTOP | wxBOTTOM, gap);
  lists->Add(m_files, 2, wxEXPAND);
  auto* file_buttons = new wxBoxSizer(wxHORIZONTAL);
  file_buttons->Add(new wxButton(this, id::kSelectAll, L"Select all Files"), 0, wxRIGHT, gap);
  file_buttons->Add(new wxButton(this, id::kUnselectAll, L"Unselect all Files"));
  lists->Add(file_buttons, 0, wxTOP, gap);

  // Right: the edits with their "-" and "+" buttons.
  auto* grid = new wxFlexGridSizer(2, gap, FromDIP(8));
  // Each edit's "-" and "+" buttons have the two ids after its own.
  auto stepper = [&](wxWindow* first, int edit, const wchar_t* unit) {
    grid->Add(first, 0, centre);
    auto* line = new wxBoxSizer(wxHORIZONTAL);
    line->Add(new wxTextCtrl(this, edit, wxString(), wxDefaultPosition, du(kNumberWidth, -1)), 0, centre);
    for (auto [button, text] : {std::pair{edit + 1, L"-"}, std::pair{edit + 2, L"+"}}) {
      auto* b = new wxButton(this, button, text, wxDefaultPosition, wxDefaultSize, wxBU_EXACTFIT);
      b->SetMinSize(wxSize(std::max(b->GetBestSize().x, FromDIP(24)), -1));
      line->Add(b, 0, centre | wxLEFT, FromDIP(2));
    }
    if (unit) line->Add(new wxStaticText(this, wxID_ANY, unit), 0, centre | wxLEFT, FromDIP(4));
    grid->Add(line, 0, centre);
  };
  auto label = [this](const wchar_t* text) { return new wxStaticText(this, wxID_ANY, text); };
  stepper(label(L"Upload"), id::kUploadLimit, L"KB/s");
  stepper(label(L"Download"), id::kDownloadLimit, L"KB/s");
  stepper(new wxRadioButton(this, id::kSeedByTime, L"Seeding by time", wxDefaultPosition, wxDefaultSize,
                            wxRB_GROUP),
          id::kSeedingTime, L"seconds");
  stepper(new wxRadioButton(this, id::kSeedByRatio, L"Seeding by ratio"), id::kSeedingRatio, nullptr);
  stepper(label(L"Peer ratio"), id::kPeerRatio, nullptr);

  auto* figures = new wxStaticBoxSizer(wxVERTICAL, this, L"Status");
  figures->Add(new wxStaticText(figures->GetStaticBox(), id::kStateLine, L"--"), 0, wxALL, FromDIP(4));
  figures->Add(new wxStaticText(figures->GetStaticBox(), id::kPeerLine, L"waiting for metadata", wxDefaultPosition,
                                du(120, 32)),
               0, wxLEFT | wxRIGHT | wxBOTTOM, FromDIP(4));

  auto* right = new wxBoxSizer(wxVERTICAL);
  right->Add(grid);
  right->Add(figures, 1, wxEXPAND | wxTOP, FromDIP(12));

  auto* columns = new wxBoxSizer(wxHORIZONTAL);
  columns->Add(lists, 1, wxEXPAND | wxALL, FromDIP(10));
  columns->Add(right, 0, wxEXPAND | wxTOP | wxRIGHT | wxBOTTOM, FromDIP(10));

  LayOutWithOkCancel(this, columns, id::kOk, id::kCancel);
  CentreOnParent();
}

void CTorrentDetailDialog::ShowEdits() {
  for (int control : client::TorrentDetailsModel::EditIds())
    static_cast<wxTextCtrl*>(FindWindow(control))->ChangeValue(wxString(m_model.EditText(control)));
  static_cast<wxRadioButton*>(FindWindow(m_model.SeedingMode() == 1 ? id::kSeedByRatio : id::kSeedByTime))
      ->SetValue(true);
}

void CTorrentDetailDialog::ShowEnabling() {
  for (int control : {id::kSeedingTime, id::kSeedingTimeDown, id::kSeedingTimeUp, id::kSeedingRatio,
                      id::kSeedingRatioDown, id::kSeedingRatioUp, id::kFileList, id::kSelectAll, id::kUnselectAll})
    FindWindow(control)->Enable(m_model.IsEnabled(control));
}

void CTorrentDetailDialog::ShowTrackerRow(int row) {
  const client::TrackerRow& tracker = m_model.Trackers().at(std::size_t(row));
  for (int c = 0; c < client::kTrackerColumns; ++c) m_trackers->SetCellText(row, c, wxString(tracker.Cell(c)));
}

void CTorrentDetailDialog::ShowTrackers() {
  m_trackers->DeleteAllRows();
  for (std::size_t r = 0; r < m_model.Trackers().size(); ++r) {
    m_trackers->InsertRow(long(r), wxString(m_model.Trackers()[r].url));
    ShowTrackerRow(int(r));
  }
}

void CTorrentDetailDialog::ShowFiles() {
  if (m_files->GetItemCount() != m_model.FileCount()) m_files->SetItemCount(m_model.FileCount());
  // Only the rows in view are drawn again, from the model.
  m_files->Refresh();
}

void CTorrentDetailDialog::StartLookups() {
  if (!m_lookup) return;
  for (client::LookupRequest& request : m_model.TakeLookups()) m_lookup->Lookup(request.key, std::move(request.host));
}

void CTorrentDetailDialog::RefreshFigures() {
  const auto figures = m_model.Refresh();
  if (!figures) return;
  static_cast<wxStaticText*>(FindWindow(id::kStateLine))->SetLabel(wxString(figures->state_line));
  static_cast<wxStaticText*>(FindWindow(id::kPeerLine))->SetLabel(wxString(figures->peer_line));
  if (figures->files_filled || figures->percents_changed) ShowFiles();
  if (figures->disable_files) ShowEnabling();
}

void CTorrentDetailDialog::Finish(int code) {
  m_timer.Stop();
  m_trackers->EndEdit(code == wxID_OK);
  if (IsModal()) {
    EndModal(code);
  } else {
    SetReturnCode(code);
    Hide();
  }
}

void CTorrentDetailDialog::OnOk(wxCommandEvent&) {
  m_trackers->EndEdit(true);
  for (int control : client::TorrentDetailsModel::EditIds())
    m_model.SetEditText(control, static_cast<wxTextCtrl*>(FindWindow(control))->GetValue().ToStdWstring());
  if (const auto problem = m_model.Check()) {
    wxMessageBox(wxString(problem->message), L"Quillfern", wxOK | wxICON_WARNING, this);
    auto* edit = static_cast<wxTextCtrl*>(FindWindow(problem->id));
    edit->SetFocus();
    edit->SelectAll();
    return;
  }
  // The lookups under way end here: their answers are of no use now.
  m_lookup.reset();
  for (int c = 0; c < client::kTrackerColumns; ++c) m_widths.trackers[c] = m_trackers->GetColumnWidth(c);
  for (int c = 0; c < client::kFileColumns; ++c) m_widths.files[c] = m_files->GetColumnWidth(c);
  m_widths.Save(m_profile);
  m_model.Apply();
  Finish(wxID_OK);
}

void CTorrentDetailDialog::OnStep(wxCommandEvent& event) {
  for (int control : client::TorrentDetailsModel::EditIds())
    m_model.SetEditText(control, static_cast<wxTextCtrl*>(FindWindow(control))->GetValue().ToStdWstring());
  if (const int edit = m_model.Step(event.GetId()))
    static_cast<wxTextCtrl*>(FindWindow(edit))->ChangeValue(wxString(m_model.EditText(edit)));
}

void CTorrentDetailDialog::OnHostResolved(wxThreadEvent& event) {
  const auto answer = event.GetPayload<client::HostLookupWorker::Answer>();
  const int row = m_model.HostResolved(answer.key, answer.address);
  if (row >= 0) m_trackers->SetCellText(row, client::kTrackerIp, wxString(m_model.Trackers()[std::size_t(row)].ip));
}

void CTorrentDetailDialog::OnTrackerDoubleClick(wxMouseEvent& event) {
  event.Skip();
  int flags = 0;
  const long hit = m_trackers->HitTest(event.GetPosition(), flags);
  if (hit >= 0 && hit < m_trackers->GetRowCount()) return;
  // After the list has handled the click itself, so the edit box keeps
  // the focus.
  CallAfter([this] {
    const int row = m_model.AppendTracker();
    m_trackers->InsertRow(row, wxString(m_model.Trackers()[std::size_t(row)].url));
    ShowTrackerRow(row);
    m_trackers->EnsureVisible(row);
    wxRect label;
    if (m_trackers->GetSubItemRect(row, 0, label, wxLIST_RECT_LABEL))
      m_trackers->BeginEditAt(wxPoint(label.x + label.width / 2, label.y + label.height / 2));
  });
}

void CTorrentDetailDialog::OnTrackerEditEnded(long row, int column, client::EndEditAction action) {
  if (action == client::EndEditAction::DeleteRow) {
    m_model.RemoveTracker(int(row));
    return;
  }
  if (action != client::EndEditAction::WriteCell) return;
  for (int changed : m_model.EditTracker(int(row), column, m_trackers->GetCellText(row, column).ToStdWstring()))
    ShowTrackerRow(changed);
  StartLookups();
}

void CTorrentDetailDialog::OnFileChecked(wxListEvent& event) {
  m_model.SetWanted(int(event.GetIndex()), event.GetEventType() == wxEVT_LIST_ITEM_CHECKED);
}

bool ShowTorrentDetails(wxWindow* parent, client::TorrentItem& torrent) {
  CTorrentDetailDialog dialog(parent, torrent);
  return dialog.ShowModal() == wxID_OK;
}

#include "client/app/wx/torrent_row_windows.h"

#include "client/common/wx/CQuillfernFenster.h"
#include "client/app/main_window_core.h"
#include "client/app/progression_chart.h"

#include <algorithm>
#include <cstdlib>

// The part of the client area the rows take: it cuts them off at its
// edges. What the rows leave of it is the client area's: mouse input
// there goes on to the client area, as if the pane were not there.
class TorrentRowWindows::Pane : public wxWindow {
 public:
  explicit Pane(wxWindow* client) {
    Create(client, wxID_ANY, wxPoint(0, 0), wxSize(0, 0), wxBORDER_NONE | wxCLIP_CHILDREN);
    SetBackgroundColour(client->GetBackgroundColour());
  }

 protected:
  // Rows out of sight have nothing to do when the program is idle: only
  // the shown ones get the idle round, not every row of the list.
  bool SendIdleEvents(wxIdleEvent& event) override {
    bool more = false;
    OnInternalIdle();
    if (wxIdleEvent::GetMode() == wxIDLE_PROCESS_ALL || HasExtraStyle(wxWS_EX_PROCESS_IDLE)) {
      event.SetEventObject(this);
      HandleWindowEvent(event);
      more = event.MoreRequested();
    }
    for (wxWindow* child : GetChildren())
      if (child->IsShown() && child->SendIdleEvents(event)) more = true;
    return more;
  }

  bool TryBefore(wxEvent& event) override {
    auto* mouse = dynamic_cast<wxMouseEvent*>(&event);
    if (mouse && event.GetEventObject() == this && event.GetEventType() != wxEVT_ENTER_WINDOW &&
        event.GetEventType() != wxEVT_LEAVE_WINDOW) {
      ForwardMouseToParent(*this, *mouse);
      return true;
    }
    return wxWindow::TryBefore(event);
  }
};

class TorrentRowWindows::TickTimer : public wxTimer {
 public:
  explicit TickTimer(TorrentRowWindows& rows) : m_rows(rows) {}
  void Notify() override { m_rows.TickRows(); }

 private:
  TorrentRowWindows& m_rows;
};

TorrentRowWindows::TorrentRowWindows(CQuillfernFenster& frame, client::MainWindowCore& core)
    : m_frame(frame), m_core(core), m_tickTimer(std::make_unique<TickTimer>(*this)) {}

TorrentRowWindows::~TorrentRowWindows() {
  m_tickTimer->Stop();
  // Rows still alive no longer report here.
  for (CTorrentDiagramm* row : m_rows)
    if (row) row->StopTimers();
  m_rows.clear();
}

wxWindow* TorrentRowWindows::PaneWindow() {
  if (!m_pane && m_frame.ClientArea()) {
    m_pane = new Pane(m_frame.ClientArea());
    const client::Rect area = Area();
    m_pane->SetSize(area.left, area.top, area.Width(), area.Height());
  }
  return m_pane;
}

bool TorrentRowWindows::CreateRow(client::TorrentItem& torrent) {
  wxWindow* parent = PaneWindow();
  if (!parent) return false;
  auto* row = new CTorrentDiagramm(torrent, *this, m_frame.Model().color_scheme_folder,
                                   m_frame.Model().colors.frame.OffsetColor());
  // Made out of sight; the layout places it.
  if (!row->Create(parent, wxPoint(-client::kTileWidth, -client::kTileHeight), SimpleDisplay())) {
    torrent.SetView(nullptr);
    delete row;
    return false;
  }
  m_rows.push_back(row);
  if (!m_tickTimer->IsRunning()) m_tickTimer->Start(client::kRowTickMs);
  return true;
}

CTorrentDiagramm* TorrentRowWindows::RowOf(const client::TorrentItem& torrent) const {
  auto* row = dynamic_cast<CTorrentDiagramm*>(torrent.View());
  return row && row->Torrent() == &torrent ? row : nullptr;
}

void TorrentRowWindows::RowGone(CTorrentDiagramm* row) {
  if (!m_ticking) {
    std::erase(m_rows, row);
    return;
  }
  if (auto it = std::find(m_rows.begin(), m_rows.end(), row); it != m_rows.end()) *it = nullptr;
}

void TorrentRowWindows::TickRows() {
  // The rows due (by their place in m_rows), and their torrents by
  // control, so that each control is asked once for all its torrents.
  struct Due {
    std::size_t row, control, slot;
  };
  std::vector<Due> due;
  std::vector<client::TorrentControl*> controls;
  std::vector<std::vector<engine::sha1_hash>> asked;
  for (std::size_t i = 0; i < m_rows.size(); ++i) {
    CTorrentDiagramm* row = m_rows[i];
    if (!row || !row->TickArmed() || !row->Torrent()) continue;
    const client::TorrentHandle& handle = row->Torrent()->Handle();
    const auto control = static_cast<std::size_t>(
        std::find(controls.begin(), controls.end(), handle.control()) - controls.begin());
    if (control == controls.size()) {
      controls.push_back(handle.control());
      asked.emplace_back();
    }
    due.push_back({i, control, asked[control].size()});
    asked[control].push_back(handle.info_hash());
  }
  if (due.empty()) return;
  std::vector<std::vector<std::optional<engine::torrent_status>>> statuses;
  for (std::size_t c = 0; c < controls.size(); ++c) {
    if (controls[c]) statuses.push_back(controls[c]->statuses(asked[c]));
    else statuses.emplace_back(asked[c].size());
  }
  // A tick may take rows away (a torrent that goes): they leave a hole.
  m_ticking = true;
  for (const Due& d : due) {
    CTorrentDiagramm* row = m_rows[d.row];
    if (!row || !row->TickArmed()) continue;
    // The torrent's own tick, then its row paints what it found.
    const std::optional<client::TorrentTick> tick = row->Torrent()->Tick(m_core.TorrentDht(), &statuses[d.control][d.slot]);
    if ((row = m_rows[d.row])) row->Paint(tick);
  }
  m_ticking = false;
  std::erase(m_rows, nullptr);
}

void TorrentRowWindows::ShowTorrentPeers(client::TorrentItem& torrent) {
  if (show_peers) show_peers(torrent);
}

void TorrentRowWindows::ShowTorrentProperties(client::TorrentItem& torrent) {
  if (show_properties) show_properties(torrent);
}

void TorrentRowWindows::StopTimers() {
  m_tickTimer->Stop();
  for (CTorrentDiagramm* row : m_rows)
    if (row) row->StopTimers();
}

client::Rect TorrentRowWindows::Area() const {
  const client::FrameModel& model = m_frame.Model();
  return client::RowsArea(model.Width(), model.Height(), m_core.Startup().show_diagram);
}

int TorrentRowWindows::VisibleHeight() const { return Area().Height(); }

client::ThumbTrack TorrentRowWindows::Track() const {
  const client::Rect& track = m_frame.Model().layout.scroll_track;
  return {track.top, track.bottom};
}

bool TorrentRowWindows::SimpleDisplay() const { return m_core.Startup().simple_display; }

void TorrentRowWindows::SetSimpleDisplay(bool simple) {
  m_core.SetSimpleDisplay(simple);
  Layout();
}

bool TorrentRowWindows::Layout() {
  // The rows in list order; a torrent without a window takes no place.
  std::vector<CTorrentDiagramm*> rows;
  for (const auto& torrent : m_core.List())
    if (CTorrentDiagramm* row = RowOf(*torrent)) rows.push_back(row);
  client::FrameModel& model = m_frame.Model();
  const bool simple = SimpleDisplay();
  const client::Rect area = Area();
  if (wxWindow* pane = PaneWindow()) {
    pane->SetBackgroundColour(m_frame.ClientArea()->GetBackgroundColour());
    const wxRect target(area.left, area.top, area.Width(), area.Height());
    if (pane->GetRect() != target) pane->SetSize(target);
    pane->Show(!area.IsEmpty());
  }
  m_layout = client::LayOutRows(rows.size(), simple, area.Width(), area.Height(), Track(), model.thumb_top);
  if (model.thumb_top != m_layout.thumb_top) {
    model.thumb_top = m_layout.thumb_top;
    m_frame.RedrawFrame();
  }
  for (std::size_t i = 0; i < rows.size(); ++i) {
    CTorrentDiagramm* row = rows[i];
    const client::Rect& r = m_layout.rows[i];
    if (row->Chart().RowMode() != simple) row->SetRowMode(simple);
    // A new size lays the chart out again (in its new mode).
    const wxRect target(r.left, r.top, r.Width(), r.Height());
    if (row->GetRect() != target) row->SetSize(target);
    // Rows out of sight are hidden: they neither paint nor take part in
    // the pane's drawing, and show what they hold when they come back.
    const bool in_sight = r.right > 0 && r.left < area.Width() && r.bottom > 0 && r.top < area.Height();
    if (row->IsShown() != in_sight) row->Show(in_sight);
  }
  m_frame.RedrawClient();
  return !rows.empty();
}

void TorrentRowWindows::Wheel(const wxMouseEvent& event) {
  const int delta = event.GetWheelDelta() > 0 ? event.GetWheelDelta() : 120;
  if (event.GetWheelAxis() != wxMOUSE_WHEEL_VERTICAL) return;
  // Fine-grained wheels report parts of a notch: they add up.
  m_wheelRest += event.GetWheelRotation();
  const int notches = m_wheelRest / delta;
  m_wheelRest -= notches * delta;
  const int lines = std::abs(notches) * std::max(1, event.GetLinesPerAction());
  for (int i = 0; i < lines; ++i) Scroll(notches > 0 ? client::ScrollCode::LineUp : client::ScrollCode::LineDown);
}

void TorrentRowWindows::Scroll(client::ScrollCode code) {
  client::FrameModel& model = m_frame.Model();
  const int thumb = client::ScrollThumb(code, model.thumb_top, m_layout.row_pitch, Track());
  if (thumb == model.thumb_top) return;
  model.thumb_top = thumb;
  m_frame.RedrawFrame();
  Layout();
}

#include "client/torrents/wx/CTorrentDiagramm.h"

#include "client/common/wx/CHinweisText.h"

CTorrentDiagramm::CTorrentDiagramm(client::TorrentItem& torrent, TorrentRowOwner& owner,
                                   std::string color_scheme_folder, client::ColorRef main_frame_color)
    : CDiagramm(torrent.Path(), std::move(color_scheme_folder), main_frame_color),
      m_torrent(&torrent),
      m_row(std::make_unique<client::TorrentRow>(torrent)),
      m_owner(owner),
      m_ui(this) {
  ShowChart(torrent.Chart());
  m_hoverTimer.SetOwner(this);
}

CTorrentDiagramm::~CTorrentDiagramm() {
  StopTimers();
  HideHint();
  if (m_torrent) m_torrent->SetView(nullptr);
  m_owner.RowGone(this);
}

bool CTorrentDiagramm::Create(wxWindow* parent, const wxPoint& top_left, bool row_mode) {
  if (!CDiagramm::Create(wxString(m_torrent->Chart().GetName()), top_left, parent, row_mode)) return false;
  // Bound after the chart's own paint handler, so called before it.
  Bind(wxEVT_PAINT, &CTorrentDiagramm::OnPaintCounted, this);
  Bind(wxEVT_TIMER, &CTorrentDiagramm::OnHoverTimer, this, m_hoverTimer.GetId());
  Bind(wxEVT_RIGHT_DOWN, &CTorrentDiagramm::OnRightDown, this);
  Bind(wxEVT_MOUSEWHEEL, [this](wxMouseEvent& event) { m_owner.RowWheel(event); });
  Bind(wxEVT_MOTION, &CTorrentDiagramm::OnMotion, this);
  Bind(wxEVT_LEAVE_WINDOW, &CTorrentDiagramm::OnLeave, this);
  m_torrent->SetView(this);
  ArmTimer();
  m_torrent->TimerArmedByView();
  return true;
}

void CTorrentDiagramm::ArmTimer() {
  if (m_torrent && !m_stopped && GetHandle()) m_tickArmed = true;
}

void CTorrentDiagramm::Repaint() {
  if (GetHandle()) Refresh();
}

void CTorrentDiagramm::DestroyView() {
  // The torrent is going: nothing of this window may reach it any more.
  StopTimers();
  m_torrent = nullptr;
  m_row.reset();
  if (m_menuOpen) {
    Hide();
    m_destroyAfterMenu = true;
    return;
  }
  Destroy();
}

void CTorrentDiagramm::StopTimers() {
  m_stopped = true;
  m_tickArmed = false;
  m_hoverTimer.Stop();
}

void CTorrentDiagramm::Paint(const std::optional<client::TorrentTick>& tick) {
  if (!TickArmed()) return;
  ++m_ticks;
  m_row->Paint(tick);
}

void CTorrentDiagramm::OnPaintCounted(wxPaintEvent& event) {
  ++m_paints;
  event.Skip();
}

client::UiServices& CTorrentDiagramm::Ui() {
  client::UiServices* ui = m_owner.RowUi();
  return ui ? *ui : m_ui;
}

void CTorrentDiagramm::OnRightDown(wxMouseEvent& event) {
  if (!Live()) return;
  const wxPoint at = ClientToScreen(event.GetPosition());
  // The menu runs its own event loop, in which the torrent may go (a
  // removal queued before the click): the window then waits for the menu
  // to close before it goes.
  m_menuOpen = true;
  // No hint over the menu (the menu takes the shown one away).
  m_hoverTimer.Stop();
  const int id = Ui().PopupMenu(m_row->OpenContextMenu(), at.x, at.y);
  m_menuOpen = false;
  if (m_destroyAfterMenu) {
    Destroy();
    return;
  }
  if (id != 0 && Live()) Act(m_row->RunCommand(id, Ui()));
}

void CTorrentDiagramm::OnDoubleClick(wxMouseEvent&) {
  if (!Live() || !m_torrent) return;
  m_hoverTimer.Stop();
  HideHint();
  m_owner.ShowTorrentProperties(*m_torrent);
}

bool CTorrentDiagramm::TryBefore(wxEvent& event) {
  if (event.GetEventType() == wxEVT_LEFT_DCLICK && event.GetEventObject() == this) {
    OnDoubleClick(static_cast<wxMouseEvent&>(event));
    return true;
  }
  return CDiagramm::TryBefore(event);
}

void CTorrentDiagramm::RunMenuCommand(int id) {
  if (Live()) Act(m_row->RunCommand(id, Ui()));
}

void CTorrentDiagramm::Act(client::RowAction action) {
  if (!m_torrent) return;
  switch (action) {
    case client::RowAction::None:
      break;
    case client::RowAction::ShowPeers:
      m_owner.ShowTorrentPeers(*m_torrent);
      break;
    case client::RowAction::ShowProperties:
      m_owner.ShowTorrentProperties(*m_torrent);
      break;
    case client::RowAction::AddDatabaseNodes:
      // Queued to the row itself; it goes with the window.
      CallAfter([this] {
        if (m_torrent) m_torrent->OnAddDbNodes();
      });
      break;
  }
}

void CTorrentDiagramm::OnMotion(wxMouseEvent& event) {
  if (Live()) Apply(m_row->OnMouseMove({event.GetX(), event.GetY()}));
  event.Skip();
}

void CTorrentDiagramm::OnLeave(wxMouseEvent& event) {
  if (Live()) Apply(m_row->OnMouseLeave());
  event.Skip();
}

void CTorrentDiagramm::OnHoverTimer(wxTimerEvent&) {
  if (Live()) Apply(m_row->OnHoverTimer());
}

void CTorrentDiagramm::HideHint() {
  CHinweisText& hint = CHinweisText::Global();
  if (hint.IsShown() && hint.GetWindow()->GetParent() == this) hint.Destroy();
}

void CTorrentDiagramm::Apply(const client::HoverTracker::Step& step) {
  if (step.start_timer) m_hoverTimer.StartOnce(static_cast<int>(*step.start_timer));
  if (step.hide_hint) {
    m_hoverTimer.Stop();
    HideHint();
  }
  if (step.hover_at)
    CHinweisText::Global().Show(wxString(m_row->HintText()), wxRect(step.hover_at->x, step.hover_at->y, kHintWidth, 0),
                                this);
  if (step.repaint) Repaint();
}

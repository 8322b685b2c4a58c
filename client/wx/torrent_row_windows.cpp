#include "client/wx/torrent_row_windows.h"

#include "client/common/tick.h"
#include "client/common/wx/CQuillfernFenster.h"
#include "client/main_window_core.h"
#include "client/progression_chart.h"
#include "platform/clock.h"

#include <algorithm>

TorrentRowWindows::TorrentRowWindows(CQuillfernFenster& frame, client::MainWindowCore& core)
    : m_frame(frame), m_core(core), m_simple(core.Startup().simple_display) {}

TorrentRowWindows::~TorrentRowWindows() {
  // Rows still alive no longer report here.
  for (CTorrentDiagramm* row : m_rows) row->StopTimers();
  m_rows.clear();
}

void TorrentRowWindows::Attach() {
  m_frame.Bind(wxEVT_LEFT_DOWN, &TorrentRowWindows::OnLeftDown, this);
  m_frame.Bind(wxEVT_MOTION, &TorrentRowWindows::OnMotion, this);
  m_frame.Bind(wxEVT_LEFT_UP, &TorrentRowWindows::OnLeftUp, this);
  m_frame.Bind(wxEVT_MOUSE_CAPTURE_LOST, &TorrentRowWindows::OnCaptureLost, this);
}

bool TorrentRowWindows::CreateRow(client::TorrentItem& torrent) {
  wxWindow* parent = m_frame.ClientArea();
  if (!parent) return false;
  auto* row = new CTorrentDiagramm(torrent, *this, m_frame.Model().color_scheme_folder,
                                   m_frame.Model().colors.frame.OffsetColor());
  // Made out of sight; the layout places it.
  if (!row->Create(parent, wxPoint(-client::kTileWidth, -client::kTileHeight), m_simple)) {
    torrent.SetView(nullptr);
    delete row;
    return false;
  }
  m_rows.push_back(row);
  return true;
}

CTorrentDiagramm* TorrentRowWindows::RowOf(const client::TorrentItem& torrent) const {
  for (CTorrentDiagramm* row : m_rows)
    if (row->Torrent() == &torrent) return row;
  return nullptr;
}

void TorrentRowWindows::RowGone(CTorrentDiagramm* row) { std::erase(m_rows, row); }

client::DhtControl* TorrentRowWindows::RowDht() { return m_core.TorrentDht(); }

void TorrentRowWindows::ShowTorrentPeers(client::TorrentItem& torrent) {
  if (show_peers) show_peers(torrent);
}

void TorrentRowWindows::ShowTorrentProperties(client::TorrentItem& torrent) {
  if (show_properties) show_properties(torrent);
}

void TorrentRowWindows::StopTimers() {
  for (CTorrentDiagramm* row : m_rows) row->StopTimers();
}

int TorrentRowWindows::VisibleHeight() const {
  // Above the status and notice lines at the bottom, and above the
  // progression charts while they are shown.
  int height = m_frame.Model().Height() - 2 * client::kTextLineHeight;
  if (m_core.Timer().Settings().show_diagram) height -= client::kProgressionAreaHeight;
  return std::max(0, height);
}

client::ThumbTrack TorrentRowWindows::Track() const {
  const client::Rect& track = m_frame.Model().layout.scroll_track;
  return {track.top, track.bottom};
}

void TorrentRowWindows::SetSimpleDisplay(bool simple) {
  m_simple = simple;
  Layout();
}

bool TorrentRowWindows::Layout() {
  // The rows in list order; a torrent without a window takes no place.
  std::vector<CTorrentDiagramm*> rows;
  for (const auto& torrent : m_core.List())
    if (CTorrentDiagramm* row = RowOf(*torrent)) rows.push_back(row);
  client::FrameModel& model = m_frame.Model();
  m_layout = client::LayOutRows(rows.size(), m_simple, model.Width(), VisibleHeight(), Track(), model.thumb_top);
  if (model.thumb_top != m_layout.thumb_top) {
    model.thumb_top = m_layout.thumb_top;
    m_frame.RedrawFrame();
  }
  for (std::size_t i = 0; i < rows.size(); ++i) {
    CTorrentDiagramm* row = rows[i];
    const client::Rect& r = m_layout.rows[i];
    if (row->Chart().RowMode() != m_simple) row->SetRowMode(m_simple);
    // A new size lays the chart out again (in its new mode).
    const wxRect target(r.left, r.top, r.Width(), r.Height());
    if (row->GetRect() != target) row->SetSize(target);
  }
  m_frame.RedrawClient();
  return !rows.empty();
}

void TorrentRowWindows::Scroll(client::ScrollCode code) {
  client::FrameModel& model = m_frame.Model();
  const int thumb = client::ScrollThumb(code, model.thumb_top, m_layout.row_pitch, Track());
  if (thumb == model.thumb_top) return;
  model.thumb_top = thumb;
  m_frame.RedrawFrame();
  Layout();
}

// --- dragging the thumb

void TorrentRowWindows::OnLeftDown(wxMouseEvent& event) {
  const wxPoint p = event.GetPosition();
  if (!m_frame.Model().Thumb().ContainsStrictly({p.x, p.y})) {
    event.Skip();
    return;
  }
  m_dragging = true;
  m_dragY = p.y;
  m_frame.Model().thumb_pressed = true;
  if (!m_frame.HasCapture()) m_frame.CaptureMouse();
  m_frame.RedrawFrame();
}

void TorrentRowWindows::OnMotion(wxMouseEvent& event) {
  if (!m_dragging) {
    event.Skip();
    return;
  }
  client::FrameModel& model = m_frame.Model();
  const int y = event.GetPosition().y;
  model.thumb_top = Track().Clamp(model.thumb_top + (y - m_dragY));
  m_dragY = y;
  m_frame.RedrawFrame();
  const std::uint32_t now = client::TickMs();
  if (platform::elapsed_ms(now, m_lastDragLayout) >= kDragLayoutMs) {
    m_lastDragLayout = now;
    Layout();
  }
}

void TorrentRowWindows::OnLeftUp(wxMouseEvent& event) {
  if (!m_dragging) {
    event.Skip();
    return;
  }
  EndDrag();
}

void TorrentRowWindows::OnCaptureLost(wxMouseCaptureLostEvent&) {
  if (m_dragging) EndDrag();
}

void TorrentRowWindows::EndDrag() {
  m_dragging = false;
  m_frame.Model().thumb_pressed = false;
  if (m_frame.HasCapture()) m_frame.ReleaseMouse();
  m_frame.RedrawFrame();
  Layout();
}

#include "client/wx/torrent_row_windows.h"

#include "client/common/wx/CQuillfernFenster.h"
#include "client/main_window_core.h"
#include "client/progression_chart.h"

#include <algorithm>

TorrentRowWindows::TorrentRowWindows(CQuillfernFenster& frame, client::MainWindowCore& core)
    : m_frame(frame), m_core(core) {}

TorrentRowWindows::~TorrentRowWindows() {
  // Rows still alive no longer report here.
  for (CTorrentDiagramm* row : m_rows) row->StopTimers();
  m_rows.clear();
}

bool TorrentRowWindows::CreateRow(client::TorrentItem& torrent) {
  wxWindow* parent = m_frame.ClientArea();
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
  const client::FrameModel& model = m_frame.Model();
  int height = model.Height() - 2 * client::kTextLineHeight;
  if (m_core.Startup().show_diagram) height = client::PlaceProgression(model.Width(), model.Height()).top;
  return std::max(0, height);
}

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
  m_layout = client::LayOutRows(rows.size(), simple, model.Width(), VisibleHeight(), Track(), model.thumb_top);
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

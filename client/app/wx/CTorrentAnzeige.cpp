#include "client/app/wx/CTorrentAnzeige.h"

#include "client/net/browser.h"
#include "client/common/icon_resources.h"
#include "client/common/tick.h"
#include "client/common/wx/icons.h"
#include "client/app/main_menu.h"
#include "client/app/progression_chart.h"
#include "client/base/unexpected_fault.h"
#include "client/base/wide_text.h"
#include "client/torrents/wx/CHashTorrentHinzufuegen.h"
#include "client/dialogs/wx/COptionsDialog.h"
#include "client/dialogs/wx/CPeerInfoDialog.h"
#include "client/torrents/wx/CPlatsch.h"
#include "client/dialogs/wx/CTorrentDetailDialog.h"
#include "client/dialogs/wx/CTorrentErzeugen.h"
#include "client/torrents/wx/CZielordnerDialog.h"
#include "client/common/wx/modal_dialogs.h"
#include "client/app/wx/window_drag.h"

#include <wx/app.h>
#include <wx/process.h>
#include <wx/utils.h>
#include <wx/weakref.h>
#include <wx/filedlg.h>

#include <cstdio>

wxDEFINE_EVENT(EVT_OPEN_TORRENT_FILE, wxCommandEvent);

CTorrentAnzeige::CTorrentAnzeige(platform::profile profile, client::EngineParts* parts)
    : CQuillfernFenster(profile), m_ui(this) {
  if (!parts) {
    m_ownParts = std::make_unique<client::RealEngineParts>();
    parts = m_ownParts.get();
  }
  client::MainWindowHost& host = *this;
  m_core = std::make_unique<client::MainWindowCore>(std::move(profile), host, *parts, m_ui);
  m_rows = std::make_unique<TorrentRowWindows>(*this, *m_core);
  // Neither opens once the engine is stopping: both work through the
  // torrent's handle.
  m_rows->show_properties = [this](client::TorrentItem& torrent) {
    if (!m_shutDown) ShowTorrentDetails(this, torrent);
  };
  m_rows->show_peers = [this](client::TorrentItem& torrent) {
    if (m_shutDown) return;
    client::PeerBans bans;
    bans.ban_peer = [this](const engine::address& peer) { m_core->BanPeer(peer); };
    bans.ban_range = [this](const engine::address& peer) { m_core->BanPeerRange(peer); };
    ShowPeersDialog(this, torrent, client::TorrentRow(torrent).PeersDialogTitle(), std::move(bans));
  };
  m_mainTimer.SetOwner(this);
  Bind(wxEVT_TIMER, &CTorrentAnzeige::OnTimer, this, m_mainTimer.GetId());
  m_removalTimer.SetOwner(this);
  Bind(wxEVT_TIMER, &CTorrentAnzeige::OnRemovalTimer, this, m_removalTimer.GetId());
  Bind(wxEVT_ICONIZE, &CTorrentAnzeige::OnIconize, this);
  Bind(wxEVT_CLOSE_WINDOW, &CTorrentAnzeige::OnClose, this);
  // Watching the dialogs from before the first one opens.
  ModalDialogs::Instance();
  m_closeRetry.SetOwner(this);
  Bind(wxEVT_TIMER, [this](wxTimerEvent&) { Close(true); }, m_closeRetry.GetId());
  Bind(EVT_OPEN_TORRENT_FILE, &CTorrentAnzeige::OnOpenTorrentFile, this);
}

CTorrentAnzeige::~CTorrentAnzeige() {
  Shutdown();
  if (m_closePending) ModalDialogs::Instance().RefuseNew(false);
}

bool CTorrentAnzeige::Create(const client::WindowRect& rect) {
  if (!CQuillfernFenster::Create(nullptr, "Quillfern", wxPoint(rect.left, rect.top),
                                 wxSize(rect.right - rect.left, rect.bottom - rect.top)))
    return false;
  SetIcons(LoadIconSet(client::kApplicationIcon));
  // wx asks the window manager again each time the window is shown.
  Bind(wxEVT_SHOW, [this](wxShowEvent& event) {
    if (event.IsShown()) CallAfter([this] { LetWindowManagerResize(this); });
    event.Skip();
  });
  // Files and links dropped anywhere on the window.
  SetDropTarget(new CPlatsch(this, m_core->Adder()));
  ClientArea()->SetDropTarget(new CPlatsch(this, m_core->Adder()));
  if (wxWindow* pane = m_rows->PaneWindow()) pane->SetDropTarget(new CPlatsch(this, m_core->Adder()));
  BindFrameMouse();
  ClientArea()->Bind(wxEVT_RIGHT_DOWN, [this](wxMouseEvent& event) { ShowContextMenu(event.GetPosition()); });
  // A double click on the free client area makes a torrent (one on a row
  // opens the row's details).
  ClientArea()->Bind(wxEVT_LEFT_DCLICK, [this](wxMouseEvent&) { RunMainMenuCommand(client::main_menu::kMakeTorrent); });
  BindClientMouse();
  m_core->OnCreate();
  m_rows->Layout();
  Refresh(false);
  m_mainTimer.StartOnce(kFirstTickMs);
  return true;
}

void CTorrentAnzeige::PostOpenTorrentFile(const std::string& path, bool delete_source) {
  auto* event = new wxCommandEvent(EVT_OPEN_TORRENT_FILE);
  // The path's bytes as they are: they need not be UTF-8.
  event->SetString(wxString::From8BitData(path.data(), path.size()));
  event->SetInt(delete_source ? 1 : 0);
  wxQueueEvent(this, event);
}

namespace {

// The browser started for a page: reports a failure when it ends with
// one. It deletes itself when the browser ends.
class BrowserProcess : public wxProcess {
 public:
  explicit BrowserProcess(std::function<void()> failed) : m_failed(std::move(failed)) {}
  void OnTerminate(int, int status) override {
    if (status != 0 && m_failed) m_failed();
    delete this;
  }

 private:
  std::function<void()> m_failed;
};

}  // namespace

bool CTorrentAnzeige::OpenUrl(const std::string& url, bool via_browser, std::function<void()> failed) {
  if (!via_browser) return client::OpenUrl(m_ui, url, false);
  const std::string browser = client::GetBrowserCommand();
  if (browser.empty()) return false;
  const wxString command = wxString::FromUTF8(browser), page = wxString::FromUTF8(url);
  const wchar_t* argv[] = {command.wc_str(), page.wc_str(), nullptr};
  auto* process = new BrowserProcess(std::move(failed));
  if (wxExecute(argv, wxEXEC_ASYNC, process) > 0) return true;
  delete process;
  return false;
}

void CTorrentAnzeige::OpenHomePage() {
  // The browser may end after the window did.
  wxWeakRef<CTorrentAnzeige> self(this);
  const auto failed = [self] {
    if (self && !self->m_shutDown) self->m_core->AddLogLine(std::wstring(client::kHomePageFailed));
  };
  if (!OpenUrl(std::string(client::kMakerHomePage), true, failed)) failed();
}

void CTorrentAnzeige::ShowOptions() {
  if (ShowOptionsDialog(this, true, std::filesystem::path(m_core->DataFolderPath()) / client::kDestinationsFileName))
    OptionsAccepted();
}

void CTorrentAnzeige::OptionsAccepted() {
  m_core->LoadSettings();
  m_core->ApplySettings();
  m_core->Queue().StartNextQueued(nullptr);
}

void CTorrentAnzeige::Shutdown() {
  if (m_shutDown) return;
  // A kept add makes a row: it comes before the rows stop.
  m_core->FinishKeptAdds();
  m_shutDown = true;
  m_mainTimer.Stop();
  m_removalTimer.Stop();
  m_closeRetry.Stop();
  // Every row timer stops before the engine does, and the windows that show
  // a torrent apart from its row (its peers dialog with its chat) close:
  // they tick on their own through the torrent's handle.
  m_rows->StopTimers();
  for (const auto& torrent : m_core->List()) torrent->ReleaseWatchers();
  // Work posted to the window from here on finds it closed.
  m_mailbox.Close();
  m_core->Shutdown();
  RemoveTrayIcon();
}

void CTorrentAnzeige::StatusTextChanged(const std::wstring& text) {
  // The latest log line is the notice at the bottom of the client area;
  // the line above it shows the listening address.
  Model().notice_text = text;
  RedrawClient();
  // The log goes to the standard error stream as well.
  std::fprintf(stderr, "%s\n", wxString(text).utf8_str().data());
}

void CTorrentAnzeige::SetCaption(const std::wstring& caption) { SetTitle(caption); }

bool CTorrentAnzeige::CreateTorrentRow(client::TorrentItem& torrent) { return m_rows->CreateRow(torrent); }

void CTorrentAnzeige::RowsChanged() {
  m_rows->Layout();
  RedrawFrame();
}

void CTorrentAnzeige::OnFrameResized() {
  CQuillfernFenster::OnFrameResized();
  if (m_rows) m_rows->Layout();
}

std::optional<client::SaveFolderChoice> CTorrentAnzeige::AskSaveFolder(const client::SaveFolderRequest& request) {
  return CZielordnerDialog::Ask(this, request, &m_ui);
}

void CTorrentAnzeige::PostToGui(std::function<void()> work) { m_mailbox.Post(std::move(work)); }

void CTorrentAnzeige::OnTimer(wxTimerEvent&) {
  if (m_shutDown) return;
  ++m_ticks;
  // The next tick comes whatever this one does.
  struct Rearm {
    CTorrentAnzeige& window;
    ~Rearm() {
      if (!window.m_shutDown) window.m_mainTimer.StartOnce(window.m_core->Interval());
    }
  } rearm{*this};
  try {
    const client::MainTimerResult result = m_core->Tick();
    if (result.caption) SetTitle(*result.caption);
    if (result.tray_tip && m_trayIcon) m_trayIcon->SetTip(*result.tray_tip);
    const std::wstring& listening = m_core->Timer().ListeningLine();
    if (!listening.empty() && listening != Model().status_line) {
      Model().status_line = listening;
      RedrawClient();
    }
    if (result.invalidate) RedrawClient();
  } catch (...) {
    m_core->AddLogLine(client::UnexpectedFault("the main window's timer"));
  }
}

void CTorrentAnzeige::RemovalsWaiting() {
  if (!m_shutDown && !m_removalTimer.IsRunning()) m_removalTimer.StartOnce(client::kRemovePollMs);
}

void CTorrentAnzeige::OnRemovalTimer(wxTimerEvent&) {
  if (m_shutDown) return;
  if (m_core->PollRemovals()) m_removalTimer.StartOnce(client::kRemovePollMs);
}

// --- painting

void CTorrentAnzeige::PaintClientArea(wxDC& dc) {
  CQuillfernFenster::PaintClientArea(dc);
  if (m_core && m_core->Startup().show_diagram) PaintProgression(dc);
}

void CTorrentAnzeige::PaintProgression(wxDC& dc) {
  const int width = Model().Width(), height = Model().Height();
  const client::ProgressionPlacement place = client::PlaceProgression(width, height);
  const client::Settings& settings = m_core->GetSettings();
  const auto scales =
      client::ProgressionScales(settings.max_connections, settings.max_upload_rate, settings.max_download_rate);
  const auto& charts = m_core->Timer().Charts();
  // In a window too low for them the charts are cut rather than drawn over
  // the info box or the text lines.
  const int clip_top = Model().InfoBox().bottom, clip_bottom = client::StatusLine(width, height).top;
  if (clip_bottom <= clip_top) return;
  wxDCClipper clip(dc, wxRect(0, clip_top, width, clip_bottom - clip_top));
  dc.SetFont(DrawingObjects().text_font);
  dc.SetBackgroundMode(wxBRUSHSTYLE_TRANSPARENT);
  // The scale: the 100 % line and its marks, each just below its line.
  dc.SetPen(wxPen(client::ToWxColour(Model().colors.inactive_title), 1, wxPENSTYLE_DOT));
  const int right = place.series_left + client::kProgressionSamples;
  dc.SetTextForeground(client::ToWxColour(Model().colors.inactive_title));
  const int mark_heights[] = {100, 66, 33};
  for (int i = 0; i < 3; ++i) {
    const int y = place.baseline - mark_heights[i];
    dc.DrawLine(place.series_left, y, right, y);
    dc.DrawText(client::kProgressionMarks[static_cast<std::size_t>(i)], place.marks_left, y + 1);
  }
  dc.SetPen(wxPen(client::ToWxColour(Model().colors.inactive_title), 1));
  dc.DrawLine(place.series_left, place.baseline, right, place.baseline);
  for (std::size_t i = 0; i < client::kProgressionChartCount; ++i) {
    const wxColour colour = client::ToWxColour(client::kProgressionColors[i]);
    dc.SetTextForeground(colour);
    dc.DrawText(client::kProgressionLabels[i], place.label_left,
                place.top + static_cast<int>(i) * client::kProgressionLabelPitch);
    const std::vector<client::Point> points =
        client::ProgressionPolyline(charts[i], client::ProgressionDrawScale(scales[i], charts[i]), place);
    std::vector<wxPoint> line;
    line.reserve(points.size());
    for (const auto& p : points) line.emplace_back(p.x, p.y);
    dc.SetPen(wxPen(colour, 1));
    dc.DrawLines(static_cast<int>(line.size()), line.data());
  }
}

// --- the context menu

void CTorrentAnzeige::ShowContextMenu(const wxPoint& client_point) {
  client::MainMenuState state;
  state.has_ip_filter = m_core->IpFilter() != nullptr;
  state.has_dht = m_core->Dht() != nullptr;
  state.show_diagram = m_core->Startup().show_diagram;
  state.simple_display = m_core->Startup().simple_display;
  const wxPoint screen = ClientArea()->ClientToScreen(client_point);
  const int chosen = m_menuUi->PopupMenu(client::MainMenuItems(state), screen.x, screen.y);
  if (chosen != 0) RunMainMenuCommand(chosen);
}

void CTorrentAnzeige::RunMainMenuCommand(int id) {
  namespace menu = client::main_menu;
  switch (id) {
    case menu::kAddTorrentFile: {
      wxFileDialog dialog(this, wxString(client::kAddTorrentFileTitle.data(), client::kAddTorrentFileTitle.size()),
                          wxString::FromUTF8(client::LastTorrentSource(Profile())), wxEmptyString,
                          "Torrent Files (*.torrent)|*.torrent|All Files (*.*)|*", wxFD_OPEN | wxFD_FILE_MUST_EXIST);
      if (dialog.ShowModal() != wxID_OK) break;
      const std::string path = dialog.GetPath().utf8_string();
      client::RememberTorrentSource(Profile(), path);
      m_core->Adder().AddTorrentFile(path, false);
      break;
    }
    case menu::kAddTorrentHash: {
      CHashTorrentHinzufuegen dialog(this, Profile(), &m_ui);
      if (dialog.ShowModal() != wxID_OK) break;
      const client::HashTorrentModel& hash = dialog.Model();
      if (!m_core->Adder().AddTorrentByHash(hash.info_hash, hash.tracker_url, hash.save_path))
        m_menuUi->MessageBox("Failed to add Torrent: " + client::WideToUtf8(hash.info_hash), "Quillfern",
                        client::MessageKind::Error);
      break;
    }
    case menu::kMakeTorrent: {
      CTorrentErzeugen dialog(this, Profile(), &m_ui);
      dialog.ShowModal();
      break;
    }
    case menu::kPauseAll:
      m_core->PauseAll();
      break;
    case menu::kOptions:
      ShowOptions();
      break;
    case menu::kClearBanList:
      m_core->ClearBanList();
      break;
    case menu::kProgression:
      m_core->SetShowDiagram(!m_core->Startup().show_diagram);
      // The rows make room for the charts, or take it back.
      RowsChanged();
      RedrawClient();
      break;
    case menu::kViewToggle:
      m_core->SetSimpleDisplay(!m_core->Startup().simple_display);
      RowsChanged();
      RedrawClient();
      break;
    case menu::kCheckForUpdate:
      CheckForUpdate();
      break;
    case menu::kDumpDhtTables:
      m_core->DumpDhtTables();
      break;
    default:
      break;
  }
}

// --- tray and minimising

void CTorrentAnzeige::AddTrayIcon(const std::wstring& tip) {
  if (!m_trayIcon) {
    QuillfernTrayIcon::Actions actions;
    actions.restore = [this] { RestoreFromTray(); };
    actions.options = [this] { ShowOptions(); };
    actions.close = [this] { Close(); };
    m_trayIcon = std::make_unique<QuillfernTrayIcon>(std::move(actions));
  }
  m_tray.SetIconPresent(m_trayIcon->Show(tip));
}

void CTorrentAnzeige::RemoveTrayIcon() {
  if (!m_trayIcon) return;
  m_trayIcon->HideIcon();
  // Its events may still be queued: it goes once they are handled.
  m_trayIcon.release()->Destroy();
  m_tray.SetIconPresent(false);
}

void CTorrentAnzeige::Minimise() {
  if (m_tray.Minimise(QuillfernTrayIcon::TrayAvailable()) == client::MinimiseAction::Iconise) {
    Iconize(true);
    return;
  }
  if (!m_tray.IconPresent()) AddTrayIcon(m_core->StatusText());
  Hide();
}

void CTorrentAnzeige::RestoreFromTray() {
  if (m_tray.Restore()) RemoveTrayIcon();
  if (IsIconized()) Iconize(false);
  Show();
  Raise();
}

void CTorrentAnzeige::OnIconize(wxIconizeEvent& event) {
  event.Skip();
  // The window manager minimised the window (a key, the task bar): as the
  // minimise button. A window brought back leaves the tray.
  if (event.IsIconized()) {
    if (QuillfernTrayIcon::TrayAvailable() && !m_tray.MinimisedToTray()) CallAfter([this] { Minimise(); });
  } else if (m_tray.Restore()) {
    RemoveTrayIcon();
  }
}

// --- the frame: buttons, thumb, moving and resizing

void CTorrentAnzeige::BindFrameMouse() {
  // A second press soon after the first comes as a double click: on the
  // frame it is a press like any other.
  for (const auto& type :
       {wxEVT_LEFT_DOWN, wxEVT_LEFT_DCLICK, wxEVT_LEFT_UP, wxEVT_RIGHT_DOWN, wxEVT_MOTION, wxEVT_LEAVE_WINDOW})
    Bind(type, &CTorrentAnzeige::OnFrameMouse, this);
  Bind(wxEVT_MOUSE_CAPTURE_LOST, [this](wxMouseCaptureLostEvent&) {
    m_handDrag.reset();
    wxMouseEvent up(wxEVT_LEFT_UP);
    ApplyFrameResult(m_frameMouse.LeftUp(client::FrameHit::Client, Model()), up);
  });
}

namespace {

// The pointer over the frame's borders shows which way they resize.
wxStockCursor CursorFor(client::FrameHit hit) {
  switch (hit) {
    case client::FrameHit::Left:
    case client::FrameHit::Right: return wxCURSOR_SIZEWE;
    case client::FrameHit::Top:
    case client::FrameHit::Bottom: return wxCURSOR_SIZENS;
    case client::FrameHit::TopLeft:
    case client::FrameHit::BottomRight: return wxCURSOR_SIZENWSE;
    case client::FrameHit::TopRight:
    case client::FrameHit::BottomLeft: return wxCURSOR_SIZENESW;
    default: return wxCURSOR_ARROW;
  }
}

}  // namespace

void CTorrentAnzeige::BindClientMouse() {
  // The home-page link in the info box: hot under the mouse, a click
  // opens the page.
  ClientArea()->Bind(wxEVT_MOTION, [this](wxMouseEvent& event) {
    SetLinkHot(Model().InfoBox().Contains({event.GetX(), event.GetY()}));
    event.Skip();
  });
  ClientArea()->Bind(wxEVT_LEAVE_WINDOW, [this](wxMouseEvent& event) {
    SetLinkHot(false);
    event.Skip();
  });
  ClientArea()->Bind(wxEVT_LEFT_DOWN, [this](wxMouseEvent& event) {
    if (Model().InfoBox().Contains({event.GetX(), event.GetY()})) OpenHomePage();
    event.Skip();
  });
  // The wheel over the rows, the client area or the frame scrolls the
  // rows, and so do the arrow and page keys.
  ClientArea()->Bind(wxEVT_MOUSEWHEEL, [this](wxMouseEvent& event) { m_rows->Wheel(event); });
  Bind(wxEVT_MOUSEWHEEL, [this](wxMouseEvent& event) { m_rows->Wheel(event); });
  Bind(wxEVT_CHAR_HOOK, [this](wxKeyEvent& event) {
    switch (event.GetKeyCode()) {
      case WXK_UP: m_rows->Scroll(client::ScrollCode::LineUp); break;
      case WXK_DOWN: m_rows->Scroll(client::ScrollCode::LineDown); break;
      case WXK_PAGEUP: m_rows->Scroll(client::ScrollCode::PageUp); break;
      case WXK_PAGEDOWN: m_rows->Scroll(client::ScrollCode::PageDown); break;
      default: event.Skip(); break;
    }
  });
}

void CTorrentAnzeige::SetLinkHot(bool hot) {
  if (Model().mouse_over_info == hot) return;
  Model().mouse_over_info = hot;
  const client::Rect& box = Model().InfoBox();
  ClientArea()->RefreshRect(wxRect(box.left, box.top, box.Width(), box.Height()), false);
}

client::FrameHit CTorrentAnzeige::HitAt(const wxPoint& p) const {
  return client::HitTestFrame(Model().layout, Model().thumb_top, {p.x, p.y}, m_frameMouse.DraggingThumb());
}

void CTorrentAnzeige::OnFrameMouse(wxMouseEvent& event) {
  const wxPoint p = event.GetPosition();
  const client::FrameHit hit = HitAt(p);
  const wxEventType type = event.GetEventType();
  if (m_handDrag) {
    const wxPoint now = ClientToScreen(p);
    const client::Rect start{m_handDrag->start.GetLeft(), m_handDrag->start.GetTop(), m_handDrag->start.GetRight() + 1,
                             m_handDrag->start.GetBottom() + 1};
    const client::Rect r =
        client::DraggedWindowRect(m_handDrag->hit, start, {now.x - m_handDrag->from.x, now.y - m_handDrag->from.y});
    SetSize(r.left, r.top, r.Width(), r.Height());
    if (type == wxEVT_LEFT_UP) {
      m_handDrag.reset();
      if (HasCapture()) ReleaseMouse();
    }
    return;
  }
  client::FrameMouseResult result;
  if (type == wxEVT_LEFT_DOWN || type == wxEVT_LEFT_DCLICK) result = m_frameMouse.LeftDown(hit, {p.x, p.y}, Model());
  else if (type == wxEVT_RIGHT_DOWN) result = m_frameMouse.RightDown(hit, {p.x, p.y}, Model());
  else if (type == wxEVT_LEFT_UP) result = m_frameMouse.LeftUp(hit, Model());
  else if (type == wxEVT_MOTION) {
    result = m_frameMouse.Motion(hit, {p.x, p.y}, Model(), client::TickMs());
    SetCursor(wxCursor(CursorFor(hit)));
  }
  else if (type == wxEVT_LEAVE_WINDOW) result = m_frameMouse.Leave(Model());
  ApplyFrameResult(result, event);
}

void CTorrentAnzeige::ApplyFrameResult(const client::FrameMouseResult& result, const wxMouseEvent& event) {
  // Button and thumb presses keep the mouse until the release.
  const bool pressed = m_frameMouse.DraggingThumb() || m_frameMouse.ClosePressed() || m_frameMouse.MinimisePressed();
  if (pressed && !HasCapture()) CaptureMouse();
  if (!pressed && HasCapture()) ReleaseMouse();
  if (result.redraw) RedrawFrame();
  if (result.relayout) RowsChanged();
  const wxPoint screen = ClientToScreen(event.GetPosition());
  if (result.begin_move && !BeginWindowManagerMove(this, 1, screen)) {
    m_handDrag = HandDrag{client::FrameHit::Caption, GetScreenRect(), screen};
    CaptureMouse();
  }
  if (result.begin_resize && !BeginWindowManagerResize(this, result.edge, 1, screen)) {
    m_handDrag = HandDrag{result.edge, GetScreenRect(), screen};
    CaptureMouse();
  }
  if (result.minimise) Minimise();
  // The close button ends the program.
  if (result.close) CallAfter([this] { Close(); });
}

void CTorrentAnzeige::OnClose(wxCloseEvent& event) {
  // A dialog is open (a signal or the tray's "Close" came while it ran):
  // the window must not go under its nested loop, which still uses it. The
  // dialogs end one by one, innermost first, as their Cancel would; no new
  // one opens; the close comes again once they are all gone.
  ModalDialogs& dialogs = ModalDialogs::Instance();
  if (dialogs.AnyOpen()) {
    m_closePending = true;
    dialogs.RefuseNew(true);
    dialogs.EndInnermost();
    if (!m_closeRetry.IsRunning()) m_closeRetry.StartOnce(kCloseRetryMs);
    if (event.CanVeto()) event.Veto();
    return;
  }
  Shutdown();
  Destroy();
  // The window goes at the next idle time: make sure one comes, even when
  // nothing else happens (a close by signal).
  wxWakeUpIdle();
}

void CTorrentAnzeige::OnOpenTorrentFile(wxCommandEvent& event) {
  const wxCharBuffer path = event.GetString().To8BitData();
  m_core->Adder().AddTorrentFile(std::string(path.data(), path.length()), event.GetInt() != 0);
}

#include "client/wx/CTorrentAnzeige.h"

#include "client/browser.h"
#include "client/common/icon_resources.h"
#include "client/common/wx/icons.h"
#include "client/wx/COptionsDialog.h"
#include "client/wx/CPlatsch.h"
#include "client/wx/CZielordnerDialog.h"
#include "client/wx/progression_painter.h"

#include <wx/app.h>

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
  m_mainTimer.SetOwner(this);
  Bind(wxEVT_TIMER, &CTorrentAnzeige::OnTimer, this, m_mainTimer.GetId());
  Bind(wxEVT_CLOSE_WINDOW, &CTorrentAnzeige::OnClose, this);
  Bind(EVT_OPEN_TORRENT_FILE, &CTorrentAnzeige::OnOpenTorrentFile, this);
}

CTorrentAnzeige::~CTorrentAnzeige() { Shutdown(); }

bool CTorrentAnzeige::Create(const client::WindowRect& rect) {
  if (!CQuillfernFenster::Create(nullptr, "Quillfern", wxPoint(rect.left, rect.top),
                                 wxSize(rect.right - rect.left, rect.bottom - rect.top)))
    return false;
  SetIcons(LoadIconSet(client::kApplicationIcon));
  m_rows->Attach();
  // Files and links dropped anywhere on the window.
  SetDropTarget(new CPlatsch(this, m_core->Adder()));
  ClientArea()->SetDropTarget(new CPlatsch(this, m_core->Adder()));
  m_core->OnCreate();
  m_rows->Layout();
  Refresh(false);
  m_mainTimer.StartOnce(kFirstTickMs);
  return true;
}

void CTorrentAnzeige::PostOpenTorrentFile(const std::string& path, bool delete_source) {
  auto* event = new wxCommandEvent(EVT_OPEN_TORRENT_FILE);
  event->SetString(wxString::FromUTF8(path));
  event->SetInt(delete_source ? 1 : 0);
  wxQueueEvent(this, event);
}

bool CTorrentAnzeige::OpenUrl(const std::string& url, bool via_browser) {
  return client::OpenUrl(m_ui, url, via_browser);
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
  m_shutDown = true;
  m_mainTimer.Stop();
  // Every timer stops before the engine does.
  m_rows->StopTimers();
  m_delayed.Cancel();
  m_core->Shutdown();
}

void CTorrentAnzeige::StatusTextChanged(const std::wstring& text) {
  Model().status_line = text;
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

void CTorrentAnzeige::PostToGui(std::function<void()> work) {
  // Work that arrives after the shut-down (the window is about to go) is
  // dropped: the program's state it would touch is gone.
  CallAfter([this, work = std::move(work)] {
    if (!m_shutDown) work();
  });
}

void CTorrentAnzeige::PaintClientArea(wxDC& dc) {
  CQuillfernFenster::PaintClientArea(dc);
  if (!m_core || !m_core->Timer().Settings().show_diagram) return;
  const client::Settings& s = m_core->GetSettings();
  const auto scales = client::ProgressionScales(s.max_connections, s.max_upload_rate, s.max_download_rate);
  PaintProgressionCharts(dc, client::LayOutProgressionCharts(m_core->Timer().Charts(), scales, Model().Width(),
                                                             Model().Height()),
                         Model().colors, DrawingObjects().text_font);
}

void CTorrentAnzeige::PostToGuiAfter(std::uint32_t ms, std::function<void()> work) {
  if (!m_shutDown) m_delayed.Post(ms, std::move(work));
}

void CTorrentAnzeige::OnTimer(wxTimerEvent&) {
  if (m_shutDown) return;
  ++m_ticks;
  const client::MainTimerResult result = m_core->Tick();
  if (result.caption) SetTitle(*result.caption);
  if (result.invalidate) RedrawClient();
  m_mainTimer.StartOnce(m_core->Interval());
}

void CTorrentAnzeige::OnClose(wxCloseEvent&) {
  Shutdown();
  Destroy();
  // The window goes at the next idle time: make sure one comes, even when
  // nothing else happens (a close by signal).
  wxWakeUpIdle();
}

void CTorrentAnzeige::OnOpenTorrentFile(wxCommandEvent& event) {
  m_core->Adder().AddTorrentFile(event.GetString().utf8_str().data(), event.GetInt() != 0);
}

#pragma once
// The main window: the self-drawn frame around the program's state
// (client::MainWindowCore), which it starts when the window is made and
// shuts down when the window closes. The main timer is a one-shot timer,
// re-armed at the end of each tick, so ticks never overlap.

#include "client/common/wx/CQuillfernFenster.h"
#include "client/common/wx/wx_ui_services.h"
#include "client/app/first_window_rect.h"
#include "client/app/frame_mouse.h"
#include "client/app/main_window_core.h"
#include "client/app/tray_state.h"
#include "client/app/wx/gui_mailbox.h"
#include "client/app/wx/tray_icon.h"
#include "client/app/wx/torrent_row_windows.h"

#include <wx/event.h>
#include <wx/timer.h>

#include <functional>
#include <memory>
#include <optional>
#include <string>

// A .torrent path to open; the event's string is the path, its int the
// delete-source flag.
wxDECLARE_EVENT(EVT_OPEN_TORRENT_FILE, wxCommandEvent);

class CTorrentAnzeige : public CQuillfernFenster, private client::MainWindowHost {
 public:
  // The first tick comes this long after the window is made; later ticks
  // follow "Intervall" after the end of the one before.
  static constexpr int kFirstTickMs = 1000;

  // `parts` makes the engine's parts (null: the real engine); it must
  // outlive the window.
  explicit CTorrentAnzeige(platform::profile profile = platform::profile::application(),
                           client::EngineParts* parts = nullptr);
  ~CTorrentAnzeige() override;

  // Makes the window with the frame's caption at `rect` (right and bottom
  // are edges) and runs the start-up: settings, engine, torrents, timer.
  bool Create(const client::WindowRect& rect);

  client::MainWindowCore& Core() { return *m_core; }

  // Queues the opening of a .torrent file; the event carries its own copy
  // of the path.
  void PostOpenTorrentFile(const std::string& path, bool delete_source = false);

  // A link to a .torrent (a drop, the menu): downloaded on a worker, whose
  // log lines and finished file come back as queued events; the file is
  // then added and deleted. False when no download started. Closing the
  // window aborts and joins the running downloads.
  bool OpenTorrentUrl(const std::string& url) { return m_core->OpenTorrentUrl(url); }
  // "Check for Update": asked on a worker; the answer comes as a log line.
  void CheckForUpdate() { m_core->CheckForUpdate(); }
  // Opens a web page: with `via_browser` in the browser
  // (client::GetBrowserCommand) with the page as its argument, else with
  // the desktop's handler of the link. False when nothing could be
  // started; `failed` is called later when the browser ends with a
  // failure.
  bool OpenUrl(const std::string& url, bool via_browser, std::function<void()> failed = {});
  // The home-page link of the info box: the maker's home page in the
  // browser; "failed to open homepage" is logged when that fails.
  void OpenHomePage();

  // The options dialog ("Options" of the window's menu); with OK the
  // settings are read again and applied (OptionsAccepted).
  void ShowOptions();
  // The options dialog was closed with OK: the settings are read again and
  // applied, and free slots are filled.
  void OptionsAccepted();

  // Stops the timers, saves the list, stops the engine and writes the
  // settings; once. Closing the window does this before it goes.
  void Shutdown();

  // The torrents' row windows.
  TorrentRowWindows& Rows() { return *m_rows; }

  // The main timer (tests).
  const wxTimer& MainTimer() const { return m_mainTimer; }
  int TickCount() const { return m_ticks; }

  // --- the context menu of the client area (a right click)
  // Pops the menu up at `client_point` (client-area coordinates) and runs
  // the chosen command.
  void ShowContextMenu(const wxPoint& client_point);
  // One command of the menu (client::main_menu ids).
  void RunMainMenuCommand(int id);
  // The context menu and its questions ask `ui` instead of the desktop
  // (tests).
  void UseMenuUi(client::UiServices& ui) { m_menuUi = &ui; }

  // --- minimising to the tray
  // The minimise button: with a tray the window hides behind a tray icon;
  // without one it is only iconised.
  void Minimise();
  // The tray icon's left click: the window comes back and the icon goes.
  void RestoreFromTray();
  const client::TrayState& Tray() const { return m_tray; }
  // The icon while it is shown (tests).
  const QuillfernTrayIcon* TrayIcon() const { return m_trayIcon.get(); }

 private:
  // MainWindowHost.
  void StatusTextChanged(const std::wstring& text) override;
  void SetCaption(const std::wstring& caption) override;
  bool CreateTorrentRow(client::TorrentItem& torrent) override;
  void RowsChanged() override;
  std::optional<client::SaveFolderChoice> AskSaveFolder(const client::SaveFolderRequest& request) override;
  void PostToGui(std::function<void()> work) override;

  // The rows follow the client area's size.
  void OnFrameResized() override;

  void OnTimer(wxTimerEvent& event);
  void OnRemovalTimer(wxTimerEvent& event);
  void RemovalsWaiting() override;
  void PaintClientArea(wxDC& dc) override;
  void PaintProgression(wxDC& dc);

  // The frame's mouse: buttons, thumb, moving and resizing.
  void BindFrameMouse();
  void OnFrameMouse(wxMouseEvent& event);
  void ApplyFrameResult(const client::FrameMouseResult& result, const wxMouseEvent& event);
  client::FrameHit HitAt(const wxPoint& window_point) const;
  // The client area's mouse and the keys: the info box's link, the wheel
  // and the scroll keys.
  void BindClientMouse();
  void SetLinkHot(bool hot);
  void OnIconize(wxIconizeEvent& event);
  void AddTrayIcon(const std::wstring& tip);
  void RemoveTrayIcon();
  void OnClose(wxCloseEvent& event);
  void OnOpenTorrentFile(wxCommandEvent& event);

  client::WxUiServices m_ui;
  // Outlives the core, whose threads post to it.
  GuiMailbox m_mailbox;
  std::unique_ptr<client::EngineParts> m_ownParts;
  // Outlives the core: the torrents destroy their row windows.
  std::unique_ptr<TorrentRowWindows> m_rows;
  std::unique_ptr<client::MainWindowCore> m_core;
  wxTimer m_mainTimer;
  wxTimer m_removalTimer;
  // A close waiting for open dialogs to end: tried again at this period.
  static constexpr int kCloseRetryMs = 20;
  wxTimer m_closeRetry;
  bool m_closePending = false;
  int m_ticks = 0;
  client::TrayState m_tray;
  std::unique_ptr<QuillfernTrayIcon> m_trayIcon;
  client::FrameMouse m_frameMouse;
  // A move or resize done by hand: what was hit, the window and the
  // pointer (screen) when the button went down.
  struct HandDrag {
    client::FrameHit hit;
    wxRect start;
    wxPoint from;
  };
  std::optional<HandDrag> m_handDrag;
  client::UiServices* m_menuUi = &m_ui;
  bool m_shutDown = false;
};

#include "client/app/wx/CQuillfernProgramm.h"

#include "client/torrents/command_line.h"
#include "client/app/first_window_rect.h"
#include "client/app/settings.h"
#include "client/common/termination_signals.h"
#include "client/common/wx/fd_watch.h"
#include "client/base/wide_text.h"
#include "client/app/wx/CTorrentAnzeige.h"
#include "platform/profile.h"

#include <wx/msgdlg.h>

#include <clocale>
#include <cstdio>
#include <filesystem>
#include <functional>
#include <vector>

CQuillfernProgramm::CQuillfernProgramm() {
  std::setlocale(LC_ALL, "");
  m_receiveTimer.Bind(wxEVT_TIMER, [this](wxTimerEvent&) { ReceiveHandOvers(); });
}

CQuillfernProgramm::~CQuillfernProgramm() = default;

std::string CQuillfernProgramm::CommandLine() const {
  if (auto kept = client::KeptCommandLine()) return *kept;
  std::vector<std::string> args;
  for (int i = 0; i < argc; ++i) args.emplace_back(argv[i].utf8_str().data());
  std::vector<const char*> pointers;
  for (const auto& a : args) pointers.push_back(a.c_str());
  return client::JoinArguments(static_cast<int>(pointers.size()), pointers.data());
}

bool CQuillfernProgramm::OnInit() {
  SetAppName("Quillfern");
  const std::string command_line = CommandLine();
  std::error_code ec;
  const std::string folder = std::filesystem::current_path(ec).string();
  m_instance = std::make_unique<platform::single_instance>("Quillfern");
  const std::string hand_over = client::CommandLineToHandOver(command_line, folder);
  switch (m_instance->start(hand_over)) {
    case platform::single_instance::outcome::handed_over:
      // Only the window came to the front: whoever started this one is told.
      if (hand_over.size() > platform::single_instance::max_command_line)
        std::fprintf(stderr, "Quillfern: the path is longer than the system allows; it is not handed over.\n");
      m_laterStart = true;
      return true;
    case platform::single_instance::outcome::not_handed_over:
      // Nothing was handed over: a failure for whoever started this one.
      std::fprintf(stderr, "Quillfern is already running but does not answer; this start ends.\n");
      m_laterStart = true;
      m_exitCode = 1;
      return true;
    case platform::single_instance::outcome::unguarded:
      std::fprintf(stderr, "Quillfern: no private folder for the single-instance guard (%s).\n",
                   m_instance->folder().c_str());
      break;
    case platform::single_instance::outcome::first:
      break;
  }
  if (!LockDataFolder()) {
    m_laterStart = true;
    m_exitCode = 1;
    return true;
  }
  // Early, so that a signal during start-up waits for the window.
  m_signalFd = client::InstallTerminationPipe();

  auto* window = new CTorrentAnzeige();
  if (!window->Create(client::FirstWindowRect(platform::profile::application()))) {
    delete window;
    return false;
  }
  m_mainWindow = window;
  window->Show();
  SetTopWindow(window);
  if (auto path = client::TorrentPathFromCommandLine(command_line)) window->PostOpenTorrentFile(*path);

  if (m_instance->listen_fd() >= 0)
    m_instanceWatch = std::make_unique<FdWatch>(m_instance->listen_fd(), [this] { ReceiveHandOvers(); });
  if (m_signalFd >= 0) {
    m_signalWatch = std::make_unique<FdWatch>(m_signalFd, [this] { OnTerminationSignal(); });
    // A signal that came during start-up.
    OnTerminationSignal();
  }
  return true;
}

bool CQuillfernProgramm::LockDataFolder() {
  const std::string data_folder =
      client::DataFolder(client::ReadStartupValues(platform::profile::application()).torrents);
  m_dataLock = std::make_unique<platform::folder_lock>(std::filesystem::path(data_folder) / kDataFolderLockName);
  switch (m_dataLock->get()) {
    case platform::folder_lock::state::held:
      return true;
    case platform::folder_lock::state::failed:
      std::fprintf(stderr, "Quillfern: cannot lock the data folder %s.\n", data_folder.c_str());
      return true;
    case platform::folder_lock::state::busy:
      break;
  }
  const std::string text = "Quillfern is already running with the data folder " + data_folder + ".";
  std::fprintf(stderr, "%s\n", text.c_str());
  wxMessageBox(wxString::FromUTF8(text), "Quillfern", wxOK | wxICON_ERROR);
  return false;
}

void CQuillfernProgramm::ReportException(const std::string& line) const {
  CTorrentAnzeige* window = m_mainWindow.get();
  if (!window || window->IsBeingDeleted()) {
    GuardedApp::ReportException(line);
    return;
  }
  window->Core().AddLogLine(client::Utf8ToWide(line));
}

int CQuillfernProgramm::OnRun() {
  if (m_laterStart) return m_exitCode;
  return wxApp::OnRun();
}

int CQuillfernProgramm::OnExit() {
  m_receiveTimer.Stop();
  m_instanceWatch.reset();
  m_signalWatch.reset();
  if (CTorrentAnzeige* window = m_mainWindow.get()) {
    window->Shutdown();
    delete window;
  }
  m_instance.reset();
  m_dataLock.reset();
  return wxApp::OnExit();
}

void CQuillfernProgramm::ReceiveHandOvers() {
  if (!m_instance) return;
  for (const auto& request : m_instance->receive()) OnInstanceMessage(request);
  if (m_instance->receiving() && !m_receiveTimer.IsRunning()) m_receiveTimer.StartOnce(50);
}

void CQuillfernProgramm::OnInstanceMessage(const platform::instance_request& request) {
  CTorrentAnzeige* window = m_mainWindow.get();
  if (!window) return;
  // Back from the tray (or the task bar) and to the front.
  window->RestoreFromTray();
  if (auto path = client::TorrentPathFromCommandLine(request.command_line)) window->PostOpenTorrentFile(*path);
}

void CQuillfernProgramm::OnTerminationSignal() {
  if (!client::DrainTerminationPipe(m_signalFd)) return;
  if (CTorrentAnzeige* window = m_mainWindow.get()) window->Close(true);
  else ExitMainLoop();
}

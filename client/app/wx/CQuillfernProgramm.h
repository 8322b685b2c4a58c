#pragma once
// The program's application object. One instance runs per user session: a
// later start hands its command line (a .torrent path) to the first one
// and ends without a window. The first one makes the main window at the
// rectangle it had when it last closed, opens a .torrent path given on its
// command line or by a later start, and closes its window on SIGTERM or
// SIGINT just as when the user closes it. Whatever that guard finds, a
// lock in the data folder keeps a second instance off the same folder.
// A later start ends with 0 once it handed over, with 1 when it could not
// (the first one does not answer, or holds the data folder unreachably).
// An exception that leaves an event handler becomes a line of the log.

#include "client/common/wx/guarded_app.h"
#include "platform/single_instance.h"

#include <wx/app.h>
#include <wx/timer.h>
#include <wx/weakref.h>

#include <memory>
#include <string>

class CTorrentAnzeige;
class FdWatch;

class CQuillfernProgramm : public GuardedApp {
 public:
  // Takes the user's locale for everything the C library formats; files
  // keep their numbers in the "C" form whatever the locale.
  CQuillfernProgramm();
  ~CQuillfernProgramm() override;

  // The lock file in the data folder that one instance holds.
  static constexpr const char* kDataFolderLockName = "Quillfern.lock";

  bool OnInit() override;
  int OnRun() override;
  int OnExit() override;

 private:
  // The log line for an exception (the error stream once the window is
  // gone).
  void ReportException(const std::string& line) const override;
  // False when another instance works in the data folder (the user is told).
  bool LockDataFolder();

  // The command line as one text.
  std::string CommandLine() const;
  // Takes what later starts handed over.
  void ReceiveHandOvers();
  void OnInstanceMessage(const platform::instance_request& request);
  void OnTerminationSignal();

  std::unique_ptr<platform::single_instance> m_instance;
  bool m_laterStart = false;
  int m_exitCode = 0;
  std::unique_ptr<platform::folder_lock> m_dataLock;
  wxWeakRef<CTorrentAnzeige> m_mainWindow;
  int m_signalFd = -1;
  std::unique_ptr<FdWatch> m_instanceWatch;
  std::unique_ptr<FdWatch> m_signalWatch;
  // Polls again while a hand-over is still arriving.
  wxTimer m_receiveTimer;
};

wxDECLARE_APP(CQuillfernProgramm);

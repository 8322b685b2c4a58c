#pragma once
// The program's application object. One instance runs per user session: a
// later start hands its command line (a .torrent path) to the first one
// and ends without a window. The first one makes the main window at the
// rectangle it had when it last closed, opens a .torrent path given on its
// command line or by a later start, and closes its window on SIGTERM or
// SIGINT just as when the user closes it.

#include "platform/single_instance.h"

#include <wx/app.h>
#include <wx/timer.h>
#include <wx/weakref.h>

#include <memory>
#include <string>

class CTorrentAnzeige;

class CQuillfernProgramm : public wxApp {
 public:
  // Takes the user's locale for everything the C library formats; files
  // keep their numbers in the "C" form whatever the locale.
  CQuillfernProgramm();
  ~CQuillfernProgramm() override;

  bool OnInit() override;
  int OnRun() override;
  int OnExit() override;

  // Null in a later start and once the window is gone.
  CTorrentAnzeige* MainWindow() const { return m_mainWindow.get(); }

 private:
  class FdWatch;

  // The command line as one text.
  std::string CommandLine() const;
  // Takes what later starts handed over.
  void ReceiveHandOvers();
  void OnInstanceMessage(const platform::instance_request& request);
  void OnTerminationSignal();

  std::unique_ptr<platform::single_instance> m_instance;
  bool m_laterStart = false;
  wxWeakRef<CTorrentAnzeige> m_mainWindow;
  int m_signalFd = -1;
  std::unique_ptr<FdWatch> m_instanceWatch;
  std::unique_ptr<FdWatch> m_signalWatch;
  // Polls again while a hand-over is still arriving.
  wxTimer m_receiveTimer;
};

wxDECLARE_APP(CQuillfernProgramm);

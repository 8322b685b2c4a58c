#pragma once
// The colour-scheme editor's application object: with its own profile
// (apart from the main program's settings) it runs the editor dialog
// modally and ends when the dialog closes. SIGTERM and SIGINT close the
// dialog as its close box would, after any message box open over it. An
// exception that leaves an event handler is reported on the error stream
// and the editor goes on.

#include "client/common/wx/guarded_app.h"

#include <wx/timer.h>

#include <memory>

class FdWatch;

class CFarbSchemaProgramm : public GuardedApp {
 public:
  CFarbSchemaProgramm();
  ~CFarbSchemaProgramm() override;

  bool OnInit() override;
  int OnRun() override;

 private:
  void OnTerminationSignal();
  // Ends the innermost open dialog and comes again until none is left: an
  // outer dialog's loop can end only once the inner one's has returned.
  void EndDialogs();

  int m_signalFd = -1;
  std::unique_ptr<FdWatch> m_signalWatch;
  wxTimer m_endRetry;
};

#pragma once
// The application base of both programs: an exception that leaves an event
// handler, a timer, a queued call or the main loop is reported and the
// program goes on with its next event, instead of ending the process.

#include <wx/app.h>

#include <string>

class GuardedApp : public wxApp {
 public:
  // Reports the exception being handled; true: the loop keeps running.
  bool OnExceptionInMainLoop() override;
  // An exception that left OnInit, OnRun or the loop itself: reported.
  void OnUnhandledException() override;
  // Handlers bound as methods: an exception is reported where it leaves.
  void HandleEvent(wxEvtHandler* handler, wxEventFunction func, wxEvent& event) const override;
  // Queued events and calls (wxQueueEvent, CallAfter) and idle handlers run
  // outside the loop's own guard: an exception is reported here, and the
  // events still queued run at the next turn.
  void ProcessPendingEvents() override;
  bool ProcessIdle() override;

 protected:
  // One line about the exception; the standard error stream by default.
  virtual void ReportException(const std::string& line) const;

 private:
  void ReportCurrentException() const;
};

#include "client/common/wx/guarded_app.h"

#include "client/common/exception_text.h"

#include <cstdio>
#include <exception>

bool GuardedApp::OnExceptionInMainLoop() {
  ReportCurrentException();
  return true;
}

void GuardedApp::OnUnhandledException() { ReportCurrentException(); }

void GuardedApp::HandleEvent(wxEvtHandler* handler, wxEventFunction func, wxEvent& event) const {
  try {
    wxApp::HandleEvent(handler, func, event);
  } catch (...) {
    ReportCurrentException();
  }
}

void GuardedApp::ProcessPendingEvents() {
  try {
    wxApp::ProcessPendingEvents();
  } catch (...) {
    ReportCurrentException();
  }
}

bool GuardedApp::ProcessIdle() {
  try {
    return wxApp::ProcessIdle();
  } catch (...) {
    ReportCurrentException();
    // No request for more at once: a handler that throws every time must
    // not keep the loop spinning.
    return false;
  }
}

void GuardedApp::ReportException(const std::string& line) const { std::fprintf(stderr, "%s\n", line.c_str()); }

void GuardedApp::ReportCurrentException() const {
  const std::string line = client::UnexpectedErrorLine(std::current_exception());
  // Reporting must not throw in its turn: the last resort is the error
  // stream.
  try {
    ReportException(line);
  } catch (...) {
    std::fprintf(stderr, "%s\n", line.c_str());
  }
}

#include "scheme_editor/wx/CFarbSchemaProgramm.h"

#include "client/common/termination_signals.h"
#include "client/common/wx/fd_watch.h"
#include "client/common/wx/modal_dialogs.h"
#include "client/common/wx/wx_ui_services.h"
#include "platform/profile.h"
#include "scheme_editor/wx/CFarbSchemaDialog.h"

namespace {

// How soon the next dialog is ended after one was.
constexpr int kEndRetryMs = 50;

}  // namespace

CFarbSchemaProgramm::CFarbSchemaProgramm() {
  m_endRetry.Bind(wxEVT_TIMER, [this](wxTimerEvent&) { EndDialogs(); });
}

CFarbSchemaProgramm::~CFarbSchemaProgramm() = default;

bool CFarbSchemaProgramm::OnInit() {
  SetAppName("Tintwright");
  // Early, so that a signal during start-up waits for the dialog.
  m_signalFd = client::InstallTerminationPipe();
  return wxApp::OnInit();
}

int CFarbSchemaProgramm::OnRun() {
  // Watching the dialogs from before the first one opens.
  ModalDialogs::Instance();
  client::WxUiServices ui;
  CFarbSchemaDialog dialog(nullptr, platform::profile::for_program("Tintwright"), ui);
  ui.SetParent(&dialog);
  if (m_signalFd >= 0) {
    m_signalWatch = std::make_unique<FdWatch>(m_signalFd, [this] { OnTerminationSignal(); });
    // A signal that came during start-up.
    OnTerminationSignal();
  }
  dialog.ShowModal();
  m_endRetry.Stop();
  m_signalWatch.reset();
  return 0;
}

void CFarbSchemaProgramm::OnTerminationSignal() {
  if (client::DrainTerminationPipe(m_signalFd)) EndDialogs();
}

void CFarbSchemaProgramm::EndDialogs() {
  ModalDialogs& dialogs = ModalDialogs::Instance();
  // The program is ending: no dialog opens from here on.
  dialogs.RefuseNew(true);
  if (!dialogs.AnyOpen()) return;
  dialogs.EndInnermost();
  m_endRetry.StartOnce(kEndRetryMs);
}

// Tintwright, the colour-scheme editor of Quillfern.

#include "client/common/termination_signals.h"
#include "scheme_editor/wx/CFarbSchemaProgramm.h"

#include <cstdlib>

int main(int argc, char** argv) {
  // The previews shape their windows, which needs an X server.
  setenv("GDK_BACKEND", "x11", 0);
  // Before the toolkit makes its first window: a SIGTERM or SIGINT from
  // here on waits in the pipe and ends the program the usual way once its
  // dialog is up.
  client::InstallTerminationPipe();
  // The program takes no arguments, and the toolkit reads none either: a
  // word on the command line does not change its display or its name.
  char* toolkit_argv[] = {argc > 0 ? argv[0] : nullptr, nullptr};
  int toolkit_argc = argc > 0 ? 1 : 0;
  return wxEntry(toolkit_argc, toolkit_argv);
}

wxIMPLEMENT_APP_NO_MAIN(CFarbSchemaProgramm);

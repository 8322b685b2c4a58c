// Quillfern, the BitTorrent client.

#include "client/torrents/command_line.h"
#include "client/app/wx/CQuillfernProgramm.h"
#include "client/common/termination_signals.h"
#include "platform/descriptor_limit.h"

#include <cstdlib>

int main(int argc, char** argv) {
  client::KeepProgramArguments(argc, argv);
  // Every peer connection, open file and tracker request takes a
  // descriptor; the soft limit (often 1,024) is far below what the
  // system allows.
  platform::raise_descriptor_limit();
  // Before the toolkit makes its first window: a SIGTERM or SIGINT from
  // here on waits in the pipe and ends the program the usual way once its
  // window is up.
  client::InstallTerminationPipe();
  // The frame shapes its window, which needs an X server.
  setenv("GDK_BACKEND", "x11", 0);
  // The one argument is a path, the program's own (kept above): the toolkit
  // sees only the program's name, so that it takes no path for one of its
  // options ("--display=:1.torrent", "--name=y.torrent").
  char* toolkit_argv[] = {argc > 0 ? argv[0] : nullptr, nullptr};
  int toolkit_argc = argc > 0 ? 1 : 0;
  return wxEntry(toolkit_argc, toolkit_argv);
}

wxIMPLEMENT_APP_NO_MAIN(CQuillfernProgramm);

// Quillfern, the BitTorrent client.

#include "client/torrents/command_line.h"
#include "client/app/wx/CQuillfernProgramm.h"

#include <cstdlib>

int main(int argc, char** argv) {
  client::KeepProgramArguments(argc, argv);
  // The frame shapes its window, which needs an X server.
  setenv("GDK_BACKEND", "x11", 0);
  return wxEntry(argc, argv);
}

wxIMPLEMENT_APP_NO_MAIN(CQuillfernProgramm);

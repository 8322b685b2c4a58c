// Quillfern, the BitTorrent client.

#include "client/torrents/command_line.h"
#include "client/app/wx/CQuillfernProgramm.h"
#include "platform/descriptor_limit.h"

#include <cstdlib>

int main(int argc, char** argv) {
  client::KeepProgramArguments(argc, argv);
  // Every peer connection, open file and tracker request takes a
  // descriptor; the soft limit (often 1,024) is far below what the
  // system allows.
  platform::raise_descriptor_limit();
  // The frame shapes its window, which needs an X server.
  setenv("GDK_BACKEND", "x11", 0);
  return wxEntry(argc, argv);
}

wxIMPLEMENT_APP_NO_MAIN(CQuillfernProgramm);

// Tintwright, the colour-scheme editor of Quillfern.

#include "scheme_editor/wx/CFarbSchemaProgramm.h"

#include <cstdlib>

int main(int argc, char** argv) {
  // The previews shape their windows, which needs an X server.
  setenv("GDK_BACKEND", "x11", 0);
  return wxEntry(argc, argv);
}

wxIMPLEMENT_APP_NO_MAIN(CFarbSchemaProgramm);

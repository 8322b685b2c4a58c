#pragma once
// The colour-scheme editor's application object: with its own profile
// (apart from the main program's settings) it runs the editor dialog
// modally and ends when the dialog closes. An exception that leaves an
// event handler is reported on the error stream and the editor goes on.

#include "client/common/wx/guarded_app.h"

class CFarbSchemaProgramm : public GuardedApp {
 public:
  bool OnInit() override;
  int OnRun() override;
};

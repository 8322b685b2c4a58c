#pragma once
// The colour-scheme editor's application object: with its own profile
// (apart from the main program's settings) it runs the editor dialog
// modally and ends when the dialog closes.

#include <wx/app.h>

class CFarbSchemaProgramm : public wxApp {
 public:
  bool OnInit() override;
  int OnRun() override;
};

#include "scheme_editor/wx/CFarbSchemaProgramm.h"

#include "client/common/wx/wx_ui_services.h"
#include "platform/profile.h"
#include "scheme_editor/wx/CFarbSchemaDialog.h"

bool CFarbSchemaProgramm::OnInit() {
  SetAppName("Tintwright");
  return wxApp::OnInit();
}

int CFarbSchemaProgramm::OnRun() {
  client::WxUiServices ui;
  CFarbSchemaDialog dialog(nullptr, platform::profile::for_program("Tintwright"), ui);
  ui.SetParent(&dialog);
  dialog.ShowModal();
  return 0;
}

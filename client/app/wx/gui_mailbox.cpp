#include "client/app/wx/gui_mailbox.h"

#include <wx/app.h>

void GuiMailbox::Post(std::function<void()> work) const {
  wxAppConsole* app = wxAppConsole::GetInstance();
  if (!app) return;
  app->CallAfter([open = m_open, work = std::move(work)] {
    if (*open) work();
  });
}

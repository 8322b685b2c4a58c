// Closing the main window while dialogs are open (the tray's "Close" here;
// a signal takes the same path): the dialogs end first, innermost first, as
// their Cancel would; no new one opens; the window goes once they are gone.

#include "client/app/main_menu.h"
#include "client/app/wx/CTorrentAnzeige.h"
#include "platform/profile.h"
#include "tests/client/app/fake_engine_parts.h"
#include "tests/client/temp_folder.h"
#include "tests/gui_support/fake_tray.h"
#include "tests/gui_support/gui_harness.h"

#include <wx/dialog.h>
#include <wx/msgdlg.h>
#include <wx/timer.h>
#include <wx/weakref.h>

namespace {

TEST(ModalClose, TrayCloseUnderNestedDialogsEndsThemAndThenTheWindow) {
  QF_REQUIRE_DISPLAY();
  gui_test::FakeTrayOwner tray;
  if (!tray.Owned()) GTEST_FAIL() << "the tray selection is taken";
  client_test::temp_folder dir{"qf_modal_close_"};
  platform::profile profile{dir / "Quillfern.ini"};
  platform::profile::set_application_file(dir / "Quillfern.ini");
  profile.WriteProfileString("Configuration", "Torrents", (dir / "Torrents").string());
  profile.WriteProfileInt("Configuration", "DHTPort", 0);
  client_test::FakeEngineParts parts;
  wxWeakRef<CTorrentAnzeige> window = new CTorrentAnzeige(profile, &parts);
  ASSERT_TRUE(window->Create({40, 40, 560, 400}));
  window->Show();
  window->Minimise();
  ASSERT_NE(window->TrayIcon(), nullptr);

  // An options-like dialog, a question inside it, and the tray's "Close"
  // chosen while both are open.
  int inner_answer = 0, later_answer = 0, outer_answer = 0;
  bool window_while_inner_returned = false;
  wxTimer close_by_tray;
  close_by_tray.Bind(wxEVT_TIMER, [&](wxTimerEvent&) {
    wxCommandEvent choose(wxEVT_MENU, client::tray_menu::kClose);
    const_cast<QuillfernTrayIcon*>(window->TrayIcon())->ProcessEvent(choose);
  });
  {
    wxDialog outer(window, wxID_ANY, "Outer");
    wxTimer open_inner;
    open_inner.Bind(wxEVT_TIMER, [&](wxTimerEvent&) {
      wxMessageDialog inner(&outer, "Remove all banned peers?", "Clear ban list", wxYES_NO);
      close_by_tray.StartOnce(100);
      inner_answer = inner.ShowModal();
      window_while_inner_returned = window != nullptr;
      // The program is closing: no further dialog is shown.
      wxMessageDialog later(&outer, "Another question?", "Quillfern", wxYES_NO);
      later_answer = later.ShowModal();
    });
    open_inner.StartOnce(100);
    outer_answer = outer.ShowModal();
  }

  EXPECT_EQ(inner_answer, wxID_CANCEL);
  EXPECT_EQ(later_answer, wxID_CANCEL);
  EXPECT_EQ(outer_answer, wxID_CANCEL);
  EXPECT_TRUE(window_while_inner_returned);
  // Still there while the dialogs' caller runs; gone soon after.
  EXPECT_TRUE(window);
  EXPECT_TRUE(gui_test::PumpUntil([&] { return !window; }));
  EXPECT_TRUE(std::filesystem::exists(dir / "Torrents" / "TorrentQueue.txt"));
  platform::profile::set_application_file({});
}

}  // namespace

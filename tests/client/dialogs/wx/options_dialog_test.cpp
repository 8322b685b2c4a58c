#include "client/common/paths.h"
#include "client/common/wx/CListEditCtrl.h"
#include "client/common/wx/CLVEdit.h"
#include "client/dialogs/wx/COptionsDialog.h"
#include "tests/client/temp_folder.h"
#include "tests/gui_support/gui_harness.h"

#include <wx/button.h>
#include <wx/radiobut.h>
#include <wx/textctrl.h>

namespace id = client::options_id;

using gui_test::Click;
using gui_test::ClickAt;

namespace {

// Types into an edit after selecting what it holds.
void TypeInto(wxWindow* edit, const std::string& text) {
  ASSERT_EQ(Click(edit), 0);
  ASSERT_TRUE(gui_test::PumpUntil([&] { return wxWindow::FindFocus() == edit; }, std::chrono::seconds(3)));
  EXPECT_EQ(gui_test::RunAndPump({"xdotool", "key", "ctrl+a"}), 0);
  EXPECT_EQ(gui_test::RunAndPump({"xdotool", "type", "--delay", "15", text}), 0);
}

COptionsDialog* ShownOptionsDialog() {
  for (wxWindow* w : wxTopLevelWindows)
    if (auto* dialog = dynamic_cast<COptionsDialog*>(w); dialog && dialog->IsShownOnScreen()) return dialog;
  return nullptr;
}

}  // namespace

TEST(OptionsDialog, TheMainWindowEntryOpensItAndOkWritesWhatWasTyped) {
  QF_REQUIRE_DISPLAY();
  if (!gui_test::HaveXdotool()) GTEST_FAIL() << "no xdotool";
  client_test::temp_folder dir("qf_options_dialog_");
  platform::profile::set_application_file(dir / "Quillfern.ini");
  platform::profile profile = platform::profile::application();
  profile.WriteProfileInt("Configuration", "MaxDownloadRate", 51200);
  profile.WriteProfileInt("Configuration", "ASDMode", 1);
  const auto destinations = dir / "Destinations.txt";
  ASSERT_TRUE(client::WriteDestinationsFile(destinations, {{L"Film,Movie", L"/srv/films/"}, {L"linux", L"/srv/iso/"}}));
  const std::string list = client_test::temp_folder::read(destinations);

  // The dialog runs modal: the user's part is played from inside its loop.
  bool played = false;
  wxTheApp->CallAfter([&] {
    COptionsDialog* dialog = nullptr;
    ASSERT_TRUE(gui_test::PumpUntil([&] { return (dialog = ShownOptionsDialog()) != nullptr; }));
    gui_test::PumpFor(std::chrono::milliseconds(200));
    auto* download = dynamic_cast<wxTextCtrl*>(dialog->FindWindow(id::kDownloadLimit));
    ASSERT_NE(download, nullptr);
    EXPECT_EQ(download->GetValue(), "50");
    EXPECT_EQ(dialog->DestinationList()->GetCellText(0, 0), "linux");
    EXPECT_EQ(dialog->DestinationList()->GetCellText(1, 1), "/srv/films/");
    EXPECT_FALSE(dialog->FindWindow(id::kAsdFolder)->IsEnabled());
    EXPECT_TRUE(dialog->FindWindow(id::kDestinationList)->IsEnabled());
    EXPECT_EQ(download->GetToolTipText(), "Global download limit, local torrent setting cannot override this");
    TypeInto(download, "250");
    ASSERT_TRUE(gui_test::PumpUntil([&] { return download->GetValue() == "250"; }));
    gui_test::PumpFor(std::chrono::milliseconds(100));
    gui_test::Screenshot(dialog, "options_dialog");
    EXPECT_EQ(Click(dialog->FindWindow(id::kOk)), 0);
    played = true;
    // Whatever went wrong above, the dialog does not stay open.
    if (dialog->IsModal() && !gui_test::PumpUntil([&] { return !dialog->IsShown(); }, std::chrono::seconds(5)))
      dialog->EndModal(wxID_CANCEL);
  });
  const bool ok = ShowOptionsDialog(nullptr, true, destinations);
  platform::profile::set_application_file({});
  EXPECT_TRUE(played);
  EXPECT_TRUE(ok);
  EXPECT_EQ(profile.GetProfileInt("Configuration", "MaxDownloadRate", 0), 256000);
  EXPECT_EQ(profile.GetProfileInt("Configuration", "MaxUploadRate", 0), 10240);
  EXPECT_EQ(profile.GetProfileInt("Configuration", "MinPort", 0), 1500);
  EXPECT_EQ(profile.GetProfileInt("Configuration", "ASDMode", 0), 1);
  EXPECT_EQ(client_test::temp_folder::read(destinations), list);
}

TEST(OptionsDialog, DestinationRowsAreAddedAndEditedInTheList) {
  QF_REQUIRE_DISPLAY();
  if (!gui_test::HaveXdotool()) GTEST_FAIL() << "no xdotool";
  client_test::temp_folder dir("qf_options_list_");
  platform::profile profile(dir / "Quillfern.ini");
  profile.WriteProfileInt("Configuration", "MaxPort", 1400);
  client::OptionsEnvironment environment;
  environment.upnp_supported = false;
  environment.local_addresses = {"192.168.1.20"};
  environment.destinations_file = dir / "Destinations.txt";
  client::ScriptedUiServices ui;
  auto* dialog = new COptionsDialog(nullptr, environment, profile, &ui);
  dialog->Move(40, 40);
  dialog->Show();
  dialog->Raise();
  ASSERT_TRUE(gui_test::PumpUntil([&] { return dialog->IsShownOnScreen(); }));
  gui_test::PumpFor(std::chrono::milliseconds(200));
  EXPECT_FALSE(dialog->FindWindow(id::kPortForwarding)->IsEnabled());
  EXPECT_FALSE(dialog->FindWindow(id::kLocalAddress)->IsEnabled());
  EXPECT_FALSE(dialog->FindWindow(id::kUseDatabase)->IsEnabled());

  // "Match file name" opens the list; a double click below the rows, left
  // of the "Directory" column, adds a row and edits its keywords.
  CListEditCtrl* list = dialog->DestinationList();
  EXPECT_FALSE(list->IsEnabled());
  ASSERT_EQ(Click(dialog->FindWindow(id::kAsdMatch)), 0);
  ASSERT_TRUE(gui_test::PumpUntil([&] { return list->IsEnabled(); }));
  wxWindow* rows = list->ItemsWindow();
  ASSERT_EQ(ClickAt(rows, {20, rows->GetClientSize().y - 10}, "2"), 0);
  ASSERT_TRUE(gui_test::PumpUntil([&] { return list->GetEditBox() != nullptr; }));
  EXPECT_EQ(list->GetRowCount(), 1);
  EXPECT_EQ(list->GetCellText(0, 1), wxString(client::HomeFolder()));
  ASSERT_TRUE(gui_test::PumpUntil([&] { return wxWindow::FindFocus() == list->GetEditBox(); }, std::chrono::seconds(3)));
  EXPECT_EQ(gui_test::RunAndPump({"xdotool", "type", "--delay", "15", "ubuntu,debian"}), 0);
  EXPECT_EQ(gui_test::RunAndPump({"xdotool", "key", "Return"}), 0);
  ASSERT_TRUE(gui_test::PumpUntil([&] { return list->GetCellText(0, 0) == "ubuntu,debian"; }));

  // A right click on the row's directory chooses its folder.
  wxRect cell;
  ASSERT_TRUE(list->GetSubItemRect(0, 1, cell));
  ui.folder_answers = {std::string("/srv/iso")};
  ASSERT_EQ(ClickAt(list, {cell.x + 20, cell.y + cell.height / 2}, "1", "3"), 0);
  ASSERT_TRUE(gui_test::PumpUntil([&] { return list->GetCellText(0, 1) == "/srv/iso/"; }));
  gui_test::Screenshot(dialog, "options_dialog_list");

  // OK with the port range upside down: told, and the dialog stays.
  ASSERT_EQ(Click(dialog->FindWindow(id::kOk)), 0);
  ASSERT_TRUE(gui_test::PumpUntil([&] { return ui.Messages().size() == 1; }));
  EXPECT_EQ(ui.Messages()[0], "Please enter an integer between 1500 and 65535.");
  EXPECT_EQ(wxWindow::FindFocus(), dialog->FindWindow(id::kMaxPort));
  EXPECT_TRUE(dialog->IsShown());
  EXPECT_FALSE(std::filesystem::exists(environment.destinations_file));
  static_cast<wxTextCtrl*>(dialog->FindWindow(id::kMaxPort))->ChangeValue("1510");
  ASSERT_EQ(Click(dialog->FindWindow(id::kOk), 4), 0);
  ASSERT_TRUE(gui_test::PumpUntil([&] { return !dialog->IsShown(); }));
  EXPECT_EQ(dialog->GetReturnCode(), wxID_OK);
  EXPECT_EQ(profile.GetProfileInt("Configuration", "MaxPort", 0), 1510);
  EXPECT_EQ(profile.GetProfileInt("Configuration", "ASDMode", 0), 1);
  EXPECT_EQ(client::ReadDestinationsFile(environment.destinations_file),
            (std::vector<client::DestinationRow>{{L"ubuntu,debian", L"/srv/iso/"}}));
  dialog->Destroy();
  gui_test::PumpOnce();
}

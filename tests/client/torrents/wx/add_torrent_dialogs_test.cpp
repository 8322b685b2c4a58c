#include "client/common/paths.h"
#include "client/torrents/wx/CHashTorrentHinzufuegen.h"
#include "client/torrents/wx/CPlatsch.h"
#include "client/torrents/wx/CZielordnerDialog.h"
#include "tests/client/adder_test_support.h"
#include "tests/gui_support/gui_harness.h"

#include <wx/button.h>
#include <wx/frame.h>
#include <wx/radiobut.h>
#include <wx/stattext.h>
#include <wx/textctrl.h>

using client_test::temp_folder;
namespace fs = std::filesystem;

namespace {

// Real clicks near the middle of a window.
int Click(wxWindow* window) {
  const wxPoint screen = window->ClientToScreen({window->GetClientSize().x / 2, window->GetClientSize().y / 2});
  return gui_test::RunAndPump({"xdotool", "mousemove", "--sync", std::to_string(screen.x), std::to_string(screen.y),
                               "click", "1"});
}
int Type(const std::string& text) { return gui_test::RunAndPump({"xdotool", "type", "--delay", "15", text}); }

// Shows the dialog where the captures find it.
void Show(wxDialog* dialog) {
  dialog->Move(40, 40);
  dialog->Show();
  dialog->Raise();
  gui_test::PumpUntil([&] { return dialog->IsShownOnScreen(); });
  gui_test::PumpFor(std::chrono::milliseconds(100));
}

template <class T>
T* Control(wxWindow* dialog, int id) {
  return dynamic_cast<T*>(dialog->FindWindow(id));
}

TEST(HashTorrentDialog, TypedHashChosenFolderAndOkKeepTheSettings) {
  QF_REQUIRE_DISPLAY();
  if (!gui_test::HaveXdotool()) GTEST_FAIL() << "no xdotool";
  temp_folder settings("qf_hth_dialog_");
  platform::profile profile(settings.path() / "Quillfern.ini");
  profile.WriteProfileString("Configuration", "HTH Tracker Url", "http://tracker.example/announce");
  client::ScriptedUiServices ui;
  auto* dialog = new CHashTorrentHinzufuegen(nullptr, profile, &ui);
  Show(dialog);
  EXPECT_EQ(dialog->GetTitle(), "Add Torrent - Quillfern");
  EXPECT_EQ(Control<wxTextCtrl>(dialog, client::kIdHashTrackerUrl)->GetValue(), "http://tracker.example/announce");
  EXPECT_EQ(Control<wxTextCtrl>(dialog, client::kIdHashSavePath)->GetValue(), wxString::FromUTF8(client::HomeFolder()));

  wxTextCtrl* hash = Control<wxTextCtrl>(dialog, client::kIdHashInfoHash);
  ASSERT_EQ(Click(hash), 0);
  ASSERT_TRUE(gui_test::PumpUntil([&] { return wxWindow::FindFocus() == hash; }, std::chrono::seconds(3)));
  ASSERT_EQ(Type("00112233445566778899aabbccddeeff00112233"), 0);
  ui.folder_answers.push_back(settings.path().string());
  ASSERT_EQ(Click(Control<wxButton>(dialog, client::kIdHashChooseFolder)), 0);
  ASSERT_TRUE(gui_test::PumpUntil([&] {
    return Control<wxTextCtrl>(dialog, client::kIdHashSavePath)->GetValue() == settings.path().string() + "/";
  }));
  EXPECT_EQ(ui.asked.at(0).text, "Select destination folder");
  gui_test::PumpFor(std::chrono::milliseconds(100));
  gui_test::Screenshot(dialog, "hash_torrent_dialog");

  ASSERT_EQ(Click(Control<wxButton>(dialog, client::kIdHashOk)), 0);
  ASSERT_TRUE(gui_test::PumpUntil([&] { return !dialog->IsShown(); }));
  EXPECT_EQ(dialog->Model().info_hash, L"00112233445566778899aabbccddeeff00112233");
  EXPECT_TRUE(client::ParseInfoHash(dialog->Model().info_hash));
  EXPECT_EQ(profile.GetProfileString("Configuration", "HTH Save Path"), settings.path().string() + "/");
  EXPECT_EQ(profile.GetProfileString("Configuration", "HTH Tracker Url"), "http://tracker.example/announce");
  dialog->Destroy();
  gui_test::PumpOnce();
}

TEST(SaveFolderDialog, SpaceStatusOkRuleAndPriority) {
  QF_REQUIRE_DISPLAY();
  if (!gui_test::HaveXdotool()) GTEST_FAIL() << "no xdotool";
  temp_folder folder("qf_save_dialog_");
  client::ScriptedUiServices ui;
  const client::SaveFolderRequest request{L"Debian 12 netinst.iso", folder.path().string() + "/", 650u << 20, 1};
  auto* dialog = new CZielordnerDialog(nullptr, request, &ui);
  Show(dialog);
  wxTextCtrl* text = Control<wxTextCtrl>(dialog, client::kIdSaveFolderText);
  wxButton* ok = Control<wxButton>(dialog, client::kIdSaveFolderOk);
  wxStaticText* status = Control<wxStaticText>(dialog, client::kIdSaveFolderStatus);
  // Titled with the torrent's name.
  EXPECT_EQ(dialog->GetTitle(), "Debian 12 netinst.iso");
  EXPECT_EQ(Control<wxStaticText>(dialog, client::kIdSaveFolderName)->GetLabel(), "Debian 12 netinst.iso");
  EXPECT_EQ(text->GetValue(), folder.path().string());
  EXPECT_TRUE(Control<wxRadioButton>(dialog, client::kIdNormalPriority)->GetValue());
  const auto space = client::QueryFolderSpace(folder.path().string());
  ASSERT_TRUE(space);
  // (The free space moves while other programs write.)
  EXPECT_TRUE(status->GetLabel().StartsWith("Space required :        650 MByte\nSpace available: ")) << status->GetLabel();
  EXPECT_EQ(ok->IsEnabled(), space->available >= request.required);
  gui_test::Screenshot(dialog, "save_folder_dialog");

  // A folder that is not there: no OK.
  ASSERT_EQ(Click(text), 0);
  ASSERT_TRUE(gui_test::PumpUntil([&] { return wxWindow::FindFocus() == text; }, std::chrono::seconds(3)));
  gui_test::RunAndPump({"xdotool", "key", "End"});
  ASSERT_EQ(Type("/missing"), 0);
  ASSERT_TRUE(gui_test::PumpUntil([&] { return status->GetLabel() == "Destination is not writeable"; }));
  EXPECT_FALSE(ok->IsEnabled());
  gui_test::Screenshot(dialog, "save_folder_dialog_missing");

  // ">>" chooses one with room; the low priority is picked.
  ui.folder_answers.push_back(folder.path().string() + "/");
  ASSERT_EQ(Click(Control<wxButton>(dialog, client::kIdSaveFolderChoose)), 0);
  ASSERT_TRUE(gui_test::PumpUntil([&] { return text->GetValue() == folder.path().string(); }));
  ASSERT_EQ(Click(Control<wxRadioButton>(dialog, client::kIdLowPriority)), 0);
  ASSERT_TRUE(gui_test::PumpUntil([&] { return dialog->Model().priority == 0; }));
  if (!ok->IsEnabled()) GTEST_SKIP() << "the temporary folder has less than 650 MiB free";
  ASSERT_EQ(Click(ok), 0);
  ASSERT_TRUE(gui_test::PumpUntil([&] { return !dialog->IsShown(); }));
  EXPECT_EQ(dialog->Model().Choice().folder, folder.path().string() + "/");
  EXPECT_EQ(dialog->Model().Choice().priority, 0);
  dialog->Destroy();
  gui_test::PumpOnce();
}

// Presses a button of the save-folder dialog once it runs modally.
void PressInModalDialog(int id) {
  wxTheApp->CallAfter([id] {
    for (wxWindow* w : wxTopLevelWindows)
      if (auto* dialog = dynamic_cast<CZielordnerDialog*>(w); dialog && dialog->IsModal()) {
        wxCommandEvent press(wxEVT_BUTTON, id);
        press.SetEventObject(dialog->FindWindow(id));
        dialog->FindWindow(id)->GetEventHandler()->ProcessEvent(press);
        return;
      }
    PressInModalDialog(id);
  });
}

TEST(SaveFolderDialog, AskGivesTheChoiceOrNone) {
  QF_REQUIRE_DISPLAY();
  temp_folder folder("qf_save_ask_");
  const client::SaveFolderRequest request{L"small", folder.path().string(), 1, 2};
  PressInModalDialog(client::kIdSaveFolderOk);
  const auto choice = CZielordnerDialog::Ask(nullptr, request);
  ASSERT_TRUE(choice);
  EXPECT_EQ(choice->folder, folder.path().string() + "/");
  EXPECT_EQ(choice->priority, 2);
  PressInModalDialog(client::kIdSaveFolderCancel);
  EXPECT_FALSE(CZielordnerDialog::Ask(nullptr, request));
}

TEST(DropTarget, ADroppedListIsAddedAfterTheDropOrRefusedWhole) {
  QF_REQUIRE_DISPLAY();
  client_test::FakeTorrentControl fake;
  client_test::AdderRig rig(&fake);
  auto* frame = new wxFrame(nullptr, wxID_ANY, "drop");
  auto* target = new CPlatsch(frame, rig.adder);
  frame->SetDropTarget(target);
  const fs::path file = rig.Source("dropped.torrent", client_test::TorrentBytes("dropped.bin", 100));
  rig.Answer("/d/");

  EXPECT_EQ(target->Dropped("file://" + file.string() + "\r\nfile:///tmp/readme.txt\r\n", wxDragCopy), wxDragNone);
  EXPECT_EQ(target->Dropped("ftp://host/x.torrent", wxDragCopy), wxDragNone);
  EXPECT_EQ(target->Dropped(std::string("file://") + file.string() + "\r\n" + std::string(1, '\0'), wxDragCopy),
            wxDragCopy);
  // Nothing happens inside the drop.
  EXPECT_EQ(rig.list.Count(), 0u);
  ASSERT_TRUE(gui_test::PumpUntil([&] { return rig.list.Count() == 1; }));
  gui_test::PumpFor(std::chrono::milliseconds(50));
  EXPECT_EQ(rig.list.Count(), 1u);
  EXPECT_EQ(rig.DataFiles(), std::set<std::string>{"dropped.torrent"});
  EXPECT_EQ(target->OnDragOver(1, 1, wxDragMove), wxDragCopy);
  frame->Destroy();
  gui_test::PumpOnce();
}

}  // namespace

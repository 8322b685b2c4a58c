#include "client/dialogs/wx/CTorrentErzeugen.h"
#include "tests/client/dialogs/make_torrent_support.h"
#include "tests/gui_support/gui_harness.h"

#include <wx/button.h>
#include <wx/gauge.h>
#include <wx/stattext.h>
#include <wx/textctrl.h>

#include <fcntl.h>
#include <unistd.h>

using make_torrent_test::ReadBytes;
using make_torrent_test::ReadTorrent;
using make_torrent_test::TempFolder;
namespace fs = std::filesystem;

using gui_test::Click;
using gui_test::ClickAt;

namespace {

// A shown dialog over its own profile and scripted choosers.
struct Dialog {
  TempFolder settings{"mt_dialog_settings"};
  platform::profile profile{settings.path() / "Quillfern.ini"};
  client::ScriptedUiServices ui;
  CTorrentErzeugen* dialog = nullptr;

  Dialog() {
    dialog = new CTorrentErzeugen(nullptr, profile, &ui);
    dialog->Move(40, 40);
    dialog->Show();
    dialog->Raise();
    gui_test::PumpUntil([&] { return dialog->IsShownOnScreen(); });
    gui_test::PumpFor(std::chrono::milliseconds(100));
  }
  ~Dialog() {
    dialog->Destroy();
    gui_test::PumpOnce();
  }
  template <class T>
  T* Control(int id) const {
    return dynamic_cast<T*>(dialog->FindWindow(id));
  }
  wxString Label(int id) const { return Control<wxStaticText>(id)->GetLabel(); }
  bool Making() const { return dialog->IsMaking() || !Control<wxButton>(client::kIdMake)->IsEnabled(); }
};

}  // namespace

TEST(MakeTorrentDialog, MakesATorrentFromAFolderFilledByMouseAndKeyboard) {
  QF_REQUIRE_DISPLAY();
  if (!gui_test::HaveXdotool()) GTEST_FAIL() << "no xdotool";
  TempFolder data("mt_dialog_data");
  TempFolder out("mt_dialog_out");
  data.Put("Holiday Photos/beach.jpg", 300000, 1);
  data.Put("Holiday Photos/hills/dawn.jpg", 120000, 2);
  data.Put("Holiday Photos/notes.txt", 900, 3);
  Dialog d;
  EXPECT_EQ(d.dialog->GetTitle(), "Make Torrent");
  EXPECT_EQ(d.Label(client::kIdFileCount), "no file");
  EXPECT_EQ(d.Label(client::kIdPieceSize), "auto");

  // Add folder: the folder chooser's answer fills the list.
  d.ui.folder_answers.push_back((data.path() / "Holiday Photos").string() + "/");
  ASSERT_EQ(Click(d.Control<wxButton>(client::kIdAddFolder)), 0);
  ASSERT_TRUE(gui_test::PumpUntil([&] { return d.dialog->FileList()->GetRowCount() == 3; }));
  EXPECT_EQ(d.Label(client::kIdFileCount), "3 files");
  EXPECT_EQ(d.dialog->FileList()->GetItemText(0, 0), "Holiday Photos/beach.jpg");
  EXPECT_EQ(d.dialog->FileList()->GetItemText(0, 1), "300000");
  EXPECT_EQ(d.dialog->FileList()->GetItemText(1, 0), "Holiday Photos/hills/dawn.jpg");

  // Add file with a file already there: its row is selected, and told.
  d.ui.open_answers.push_back({(data.path() / "Holiday Photos/notes.txt").string()});
  ASSERT_EQ(Click(d.Control<wxButton>(client::kIdAddFile)), 0);
  ASSERT_TRUE(gui_test::PumpUntil([&] { return d.ui.Messages().size() == 1; }));
  EXPECT_EQ(d.ui.Messages().back(), "File already in list.");
  EXPECT_EQ(d.dialog->FileList()->GetItemState(2, wxLIST_STATE_SELECTED), wxLIST_STATE_SELECTED);
  EXPECT_EQ(d.dialog->FileList()->GetRowCount(), 3);

  // Without a tracker the worker tells why it made nothing.
  const fs::path target = out.path() / "holiday.torrent";
  d.Control<wxTextCtrl>(client::kIdOutputFile)->SetValue(target.string());
  ASSERT_EQ(Click(d.Control<wxButton>(client::kIdMake)), 0);
  ASSERT_TRUE(gui_test::PumpUntil([&] { return d.ui.Messages().size() == 2 && !d.Making(); }));
  EXPECT_EQ(d.ui.Messages().back(), "Could not make torrent file.\nThere is no tracker in the list.");

  // A double click below the tracker rows opens a new row for editing.
  ReportList* trackers = d.dialog->TrackerList();
  ASSERT_EQ(ClickAt(trackers->ItemsWindow(), {40, trackers->ItemsWindow()->GetClientSize().y - 10}, "2"), 0);
  ASSERT_TRUE(gui_test::PumpUntil([&] { return trackers->GetEditControl() != nullptr; }));
  wxTextCtrl* edit = trackers->GetEditControl();
  EXPECT_EQ(edit->GetValue(), "http://");
  EXPECT_EQ(trackers->GetItemText(0, 1), "0");
  ASSERT_TRUE(gui_test::PumpUntil([&] { return wxWindow::FindFocus() == edit; }, std::chrono::seconds(3)));
  EXPECT_EQ(gui_test::RunAndPump({"xdotool", "key", "End"}), 0);
  EXPECT_EQ(gui_test::RunAndPump({"xdotool", "type", "--delay", "15", "127.0.0.1:6969/announce"}), 0);
  EXPECT_EQ(gui_test::RunAndPump({"xdotool", "key", "Return"}), 0);
  ASSERT_TRUE(gui_test::PumpUntil([&] { return trackers->GetEditControl() == nullptr &&
                                               d.dialog->Model().Trackers().front().url != L"http://"; }));
  EXPECT_EQ(d.dialog->Model().Trackers(),
            (std::vector<client::MakeTorrentTrackerRow>{{L"http://127.0.0.1:6969/announce", L"0"}}));
  EXPECT_EQ(trackers->GetItemText(0, 0), "http://127.0.0.1:6969/announce");

  // A right click on the tier offers the tiers; elsewhere on the row, Delete.
  wxRect url, tier;
  ASSERT_TRUE(trackers->GetSubItemRect(0, 0, url));
  ASSERT_TRUE(trackers->GetSubItemRect(0, 1, tier));
  d.ui.menu_answers = {client::kMenuTierUp, 0};
  ASSERT_EQ(ClickAt(trackers, tier.GetPosition() + wxPoint(20, tier.height / 2), "1", "3"), 0);
  ASSERT_TRUE(gui_test::PumpUntil([&] { return trackers->GetItemText(0, 1) == "1"; }));
  ASSERT_EQ(ClickAt(trackers, url.GetPosition() + wxPoint(20, url.height / 2), "1", "3"), 0);
  ASSERT_TRUE(gui_test::PumpUntil([&] { return d.ui.menus_shown.size() == 2; }));
  EXPECT_EQ(d.ui.menus_shown[0].size(), 5u);
  EXPECT_EQ(d.ui.menus_shown[1].front().text, "Delete");
  EXPECT_EQ(trackers->GetRowCount(), 1);

  // A node and the comment through the model; two steps up in piece size.
  client::MakeTorrentModel& model = d.dialog->Model();
  model.EndNodeEdit(model.NodeRowToEdit(-1), L"10.0.0.1:6881");
  d.dialog->ShowModel();
  for (int i = 0; i < 2; ++i) ASSERT_EQ(Click(d.Control<wxButton>(client::kIdPieceUp), 2 * i), 0);
  ASSERT_TRUE(gui_test::PumpUntil([&] { return d.Label(client::kIdPieceSize) == "4"; }));
  ASSERT_EQ(Click(d.Control<wxButton>(client::kIdPieceDown)), 0);
  ASSERT_EQ(Click(d.Control<wxButton>(client::kIdPieceUp)), 0);
  for (int i = 0; i < 13; ++i) model.PieceExponentUp();
  d.dialog->ShowModel();
  EXPECT_EQ(d.Label(client::kIdPieceSize), "32768");
  d.Control<wxTextCtrl>(client::kIdComment)->SetValue("Summer");

  ASSERT_EQ(Click(d.Control<wxButton>(client::kIdMake)), 0);
  ASSERT_TRUE(gui_test::PumpUntil([&] { return !d.Making() && !d.Label(client::kIdInfoHash).empty(); }));
  gui_test::PumpFor(std::chrono::milliseconds(100));
  gui_test::Screenshot(d.dialog, "make_torrent_done");
  EXPECT_EQ(d.ui.Messages().size(), 2u);
  auto torrent = ReadTorrent(target);
  EXPECT_EQ(torrent->name(), "Holiday Photos");
  EXPECT_EQ(torrent->piece_length(), 32768);
  EXPECT_EQ(torrent->comment(), "Summer");
  EXPECT_EQ(torrent->files().size(), 3u);
  EXPECT_EQ(d.Label(client::kIdInfoHash), wxString(torrent->info_hash().to_hex()).Upper());
  EXPECT_EQ(d.Control<wxGauge>(client::kIdProgress)->GetValue(), torrent->num_pieces());
  EXPECT_EQ(engine::bdecode(ReadBytes(target))["nodes"],
            engine::entry(engine::entry::list_type{
                engine::entry::list_type{engine::entry("10.0.0.1"), engine::entry(6881)}}));

  // OK closes and keeps the settings.
  ASSERT_EQ(Click(d.Control<wxButton>(client::kIdOk)), 0);
  ASSERT_TRUE(gui_test::PumpUntil([&] { return !d.dialog->IsShown(); }));
  EXPECT_EQ(d.dialog->GetReturnCode(), wxID_OK);
  EXPECT_EQ(d.profile.GetProfileInt("Configuration", "Trackers", 0), 1);
  EXPECT_EQ(d.profile.GetProfileString("Configuration", "Tracker URL 00"), "http://127.0.0.1:6969/announce");
  EXPECT_EQ(d.profile.GetProfileString("Configuration", "Torrent File Name"), target.string());
  EXPECT_EQ(d.profile.GetProfileString("Configuration", "Last Folder"), (data.path() / "Holiday Photos").string() + "/");
  EXPECT_EQ(d.profile.GetProfileInt("Configuration", "MTT Piece Size", 0), 15);
}

TEST(MakeTorrentDialog, CancelWhileHashingStopsTheWorkerFirst) {
  QF_REQUIRE_DISPLAY();
  TempFolder data("mt_dialog_big");
  TempFolder out("mt_dialog_big_out");
  // 64 GiB without a byte on disk: hashing it takes far longer than the
  // dialog waits before it asks the worker to stop.
  const fs::path big = data.path() / "big.img";
  {
    const int fd = ::open(big.c_str(), O_CREAT | O_WRONLY, 0600);
    ASSERT_GE(fd, 0);
    ASSERT_EQ(::ftruncate(fd, std::int64_t{64} << 30), 0);
    ::close(fd);
  }
  Dialog d;
  client::MakeTorrentModel& model = d.dialog->Model();
  model.AddFile(big);
  model.EndTrackerEdit(model.TrackerRowToEdit(-1), L"http://127.0.0.1:6969/announce");
  model.output_file = (out.path() / "big.torrent").wstring();
  d.dialog->ShowModel();
  EXPECT_EQ(d.Label(client::kIdFileCount), "1 file");

  wxButton* make = d.Control<wxButton>(client::kIdMake);
  wxGauge* progress = d.Control<wxGauge>(client::kIdProgress);
  wxCommandEvent press(wxEVT_BUTTON, client::kIdMake);
  make->GetEventHandler()->ProcessEvent(press);
  ASSERT_TRUE(gui_test::PumpUntil([&] { return progress->GetValue() > 0; }, std::chrono::seconds(60)));
  EXPECT_FALSE(make->IsEnabled());
  EXPECT_EQ(progress->GetRange(), 262144);  // 256 KiB pieces
  gui_test::Screenshot(d.dialog, "make_torrent_hashing");

  // The first Cancel finds the worker busy: it is asked to stop, and the
  // dialog stays until it has.
  wxCommandEvent cancel(wxEVT_BUTTON, client::kIdCancel);
  d.Control<wxButton>(client::kIdCancel)->GetEventHandler()->ProcessEvent(cancel);
  EXPECT_TRUE(d.dialog->IsShown());
  ASSERT_TRUE(gui_test::PumpUntil([&] { return !d.Making(); }, std::chrono::seconds(30)));
  EXPECT_EQ(progress->GetValue(), 0);
  EXPECT_TRUE(d.Label(client::kIdInfoHash).empty());
  EXPECT_TRUE(d.ui.Messages().empty());
  EXPECT_TRUE(fs::is_empty(out.path()));

  // The second closes.
  d.Control<wxButton>(client::kIdCancel)->GetEventHandler()->ProcessEvent(cancel);
  EXPECT_FALSE(d.dialog->IsShown());
  EXPECT_EQ(d.dialog->GetReturnCode(), wxID_CANCEL);
  EXPECT_EQ(d.profile.GetProfileInt("Configuration", "Trackers", 0), 1);
}

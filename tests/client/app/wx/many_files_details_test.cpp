// "Properties" of a torrent of 100,000 files, in the real main window over
// the real engine and opened by a real double click on its row: the dialog
// comes up with every file in its list, whose rows are made as they come
// into view, and a click on a row's check box far down the list reaches
// the file's wanted mark.

#include "client/app/wx/CTorrentAnzeige.h"
#include "client/dialogs/wx/CTorrentDetailDialog.h"
#include "client/torrents/wx/CTorrentDiagramm.h"
#include "platform/profile.h"
#include "tests/client/temp_folder.h"
#include "tests/engine/storage/storage_test_support.h"
#include "tests/gui_support/gui_harness.h"

#include <wx/listctrl.h>
#include <wx/timer.h>
#include <wx/weakref.h>

#include <chrono>
#include <functional>

using namespace std::chrono_literals;

namespace {

constexpr int kFiles = 100000;

// Runs `look` on the GUI thread every 50 ms, also inside a modal dialog's
// own loop, until it says it is done.
struct Looker : wxTimer {
  std::function<bool()> look;
  void Notify() override {
    Stop();
    if (!look()) StartOnce(50);
  }
};

TEST(ManyFilesDetails, PropertiesOfATorrentOfManyFilesListsThemAll) {
  QF_REQUIRE_DISPLAY();
  if (!gui_test::HaveXdotool()) GTEST_FAIL() << "no xdotool";
  client_test::temp_folder dir{"qf_many_files_"};
  platform::profile profile(dir / "Quillfern.ini");
  platform::profile::set_application_file(dir / "Quillfern.ini");
  profile.WriteProfileString("Configuration", "Torrents", (dir / "Torrents").string());
  for (const char* key : {"DHTPort", "MinPort", "MaxPort", "ASDMode"}) profile.WriteProfileInt("Configuration", key, 0);
  // New torrents go there without asking.
  std::filesystem::create_directories(dir / "downloads");
  profile.WriteProfileString("Configuration", "ASDSingle", (dir / "downloads").string() + "/");
  const std::filesystem::path torrent = dir / "many.torrent";
  storage_test::write_text(torrent, storage_test::many_files_torrent(kFiles));

  gui_test::RunAndPump({"xdotool", "mousemove", "0", "0"});
  wxWeakRef<CTorrentAnzeige> window(new CTorrentAnzeige(profile, nullptr));
  ASSERT_TRUE(window->Create({40, 40, 560, 400}));
  window->Show();
  window->PostOpenTorrentFile(torrent.string());
  ASSERT_TRUE(gui_test::PumpUntil(
      [&] { return window->Rows().Rows().size() == 1 && window->Rows().Rows()[0]->IsShownOnScreen(); }, 60s));

  // Looked at from a timer, which also runs in the dialog's modal loop.
  Looker looker;
  bool seen = false;
  int rows = 0;
  wxString first, first_size, last, last_size;
  bool last_wanted_after_click = true;
  const auto give_up = std::chrono::steady_clock::now() + 60s;
  looker.look = [&] {
    CTorrentDetailDialog* dialog = nullptr;
    for (wxWindow* w : wxTopLevelWindows)
      if (auto* d = dynamic_cast<CTorrentDetailDialog*>(w); d && d->IsModal()) dialog = d;
    if (!dialog || !dialog->IsShownOnScreen()) return std::chrono::steady_clock::now() > give_up;
    seen = true;
    wxListCtrl* files = dialog->FileList();
    rows = files->GetItemCount();
    first = files->GetItemText(0, client::kFileName);
    first_size = files->GetItemText(0, client::kFileSize);
    last = files->GetItemText(kFiles - 1, client::kFileName);
    last_size = files->GetItemText(kFiles - 1, client::kFileSize);
    // The last rows in view; a real click on the last one's check box.
    files->EnsureVisible(kFiles - 1);
    gui_test::PumpFor(200ms);
    wxRect cell;
    if (files->GetItemRect(kFiles - 1, cell)) {
      gui_test::ClickAt(files, {cell.x + 10, cell.y + cell.height / 2});
      gui_test::PumpUntil([&] { return !dialog->Model().IsWanted(kFiles - 1); }, 5s);
    }
    last_wanted_after_click = dialog->Model().IsWanted(kFiles - 1);
    gui_test::PumpFor(200ms);
    gui_test::Screenshot(dialog, "torrent_details_many_files");
    dialog->EndModal(wxID_CANCEL);
    return true;
  };
  looker.StartOnce(50);
  CTorrentDiagramm* row = window->Rows().Rows()[0];
  EXPECT_EQ(gui_test::ClickAt(row, {83, 50}, "2"), 0);
  ASSERT_TRUE(gui_test::PumpUntil([&] { return seen || !looker.IsRunning(); }, 60s));
  gui_test::PumpUntil([&] { return !looker.IsRunning(); }, 10s);
  EXPECT_TRUE(seen);
  EXPECT_EQ(rows, kFiles);
  EXPECT_EQ(first, "many/folder000/file000000.dat");
  EXPECT_EQ(first_size, "1000");
  EXPECT_EQ(last, "many/folder099/file099999.dat");
  EXPECT_EQ(last_size, "1004");  // 1000 + 99999 % 7
  EXPECT_FALSE(last_wanted_after_click);

  window->Close();
  EXPECT_TRUE(gui_test::PumpUntil([&] { return !window; }, 60s));
  platform::profile::set_application_file({});
}

}  // namespace

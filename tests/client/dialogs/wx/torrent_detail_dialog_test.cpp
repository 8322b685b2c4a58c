#include "client/common/wx/CListEditCtrl.h"
#include "client/common/wx/CLVEdit.h"
#include "client/dialogs/wx/CTorrentDetailDialog.h"
#include "tests/client/temp_folder.h"
#include "tests/client/torrents/torrent_test_support.h"
#include "tests/engine/storage/storage_test_support.h"
#include "tests/gui_support/gui_harness.h"

#include <wx/listctrl.h>
#include <wx/stattext.h>
#include <wx/textctrl.h>

#include <condition_variable>
#include <iterator>
#include <mutex>

namespace id = client::details_id;
using namespace client_test;

namespace {

// A torrent with metadata over the fake session; its .torrent in a folder
// of its own, where the profile lives too.
struct DetailsFixture {
  explicit DetailsFixture(const std::vector<std::pair<std::string, std::int64_t>>& files)
      : source(files, 100, 5) {
    engine::torrent_metainfo info = source.info;
    std::string bytes;
    engine::bencode(std::back_inserter(bytes), info.build_torrent_dictionary());
    const std::string path = dir / "d.torrent";
    storage_test::write_text(path, bytes);
    item = std::make_unique<client::TorrentItem>(std::wstring(path.begin(), path.end()), L"Holiday Photos", events);
    item->SetSession(&fake);
    FakeTorrent t;
    t.paused = false;
    t.info = info;
    t.filtered.assign(std::size_t(info.num_pieces()), false);
    t.trackers = {{"http://localhost:6969/announce", 0}, {"udp://dht:6881", 1}, {"http://slow.example/a", 2}};
    t.status.pieces.assign(std::size_t(info.num_pieces()), false);
    t.status.pieces[0] = true;
    t.status.num_peers = 4;
    t.status.num_seeds = 1;
    t.status.distributed_copies = 1.25f;
    item->Attach(fake.Put(info.info_hash(), t));
    hash = info.info_hash();
    client_test::ChangeLimits(*item, [](auto& limits) { limits.download = 51200; });
  }
  FakeTorrent& Engine() { return fake.At(hash); }
  platform::profile Profile() { return platform::profile(dir / "Quillfern.ini"); }

  client_test::temp_folder dir{"qf_details_dialog_"};
  storage_test::test_torrent source;
  FakeTorrentControl fake;
  RecordingEvents events;
  std::unique_ptr<client::TorrentItem> item;
  engine::sha1_hash hash;
};

// Looks up "slow.example" only once the test opens the gate; the others
// at once, for real. It keeps what it uses: it may outlive the test.
struct SlowResolver {
  struct Gate {
    std::mutex mutex;
    std::condition_variable changed;
    bool open = false;
  };
  std::shared_ptr<Gate> gate = std::make_shared<Gate>();
  client::HostLookupWorker::Resolver Resolver() const {
    return [gate = gate](const std::string& host) -> std::optional<std::string> {
      if (host != "slow.example") return client::ResolveIpv4(host);
      std::unique_lock lock(gate->mutex);
      gate->changed.wait(lock, [&] { return gate->open; });
      return "10.9.9.9";
    };
  }
  void Open() const {
    std::lock_guard lock(gate->mutex);
    gate->open = true;
    gate->changed.notify_all();
  }
};

wxString Text(wxWindow* dialog, int control) {
  wxWindow* w = dialog->FindWindow(control);
  if (auto* edit = dynamic_cast<wxTextCtrl*>(w)) return edit->GetValue();
  return w ? w->GetLabel() : wxString();
}

TEST(TorrentDetailDialog, ShowsTheTorrentLooksUpHostsAndOkReAddsChangedFiles) {
  QF_REQUIRE_DISPLAY();
  if (!gui_test::HaveXdotool()) GTEST_FAIL() << "no xdotool";
  DetailsFixture f({{"photos/a.jpg", 100}, {"photos/b.jpg", 50}, {"photos/c.jpg", 150}});
  SlowResolver slow;
  auto* dialog = new CTorrentDetailDialog(nullptr, *f.item, f.Profile(), slow.Resolver());
  dialog->Show();
  ASSERT_TRUE(gui_test::PumpUntil([&] { return dialog->IsShownOnScreen(); }));
  CListEditCtrl* trackers = dialog->TrackerList();
  ASSERT_TRUE(gui_test::PumpUntil([&] { return trackers->GetCellText(0, client::kTrackerIp) == "127.0.0.1"; }));
  EXPECT_EQ(dialog->GetTitle(), "Holiday Photos Properties (Compact)");
  EXPECT_EQ(trackers->GetCellText(1, client::kTrackerIp), "");  // the dht row
  EXPECT_EQ(trackers->GetCellText(2, client::kTrackerTier), "2");
  EXPECT_EQ(Text(dialog, id::kDownloadLimit), "50");
  EXPECT_EQ(Text(dialog, id::kUploadLimit), "auto");
  EXPECT_EQ(Text(dialog, id::kStateLine), "Torrent is loading");
  EXPECT_EQ(Text(dialog, id::kPeerLine), "Peers: 4  Seeds: 1\nCopies: 1.250000");
  EXPECT_FALSE(dialog->FindWindow(id::kSeedingRatio)->IsEnabled());
  EXPECT_TRUE(dialog->FindWindow(id::kSeedingTime)->IsEnabled());
  wxListCtrl* files = dialog->FileList();
  ASSERT_EQ(files->GetItemCount(), 3);
  EXPECT_EQ(files->GetItemText(1, client::kFileSize), "50");
  EXPECT_EQ(files->GetItemText(0, client::kFilePercent), "100.00");
  EXPECT_EQ(files->GetItemText(2, client::kFilePercent), "0.00");
  EXPECT_TRUE(files->IsItemChecked(1));

  // The row waiting for the slow lookup goes; its answer comes later and
  // finds no row.
  trackers->Refresh();
  gui_test::PumpFor(std::chrono::milliseconds(100));
  wxRect cell;
  ASSERT_TRUE(trackers->GetSubItemRect(2, 0, cell, wxLIST_RECT_LABEL));
  ASSERT_TRUE(trackers->BeginEditAt(wxPoint(cell.x + 10, cell.y + cell.height / 2)));
  trackers->GetEditBox()->SetValue("");
  trackers->EndEdit(true);
  ASSERT_EQ(trackers->GetRowCount(), 2);
  slow.Open();
  gui_test::PumpFor(std::chrono::milliseconds(200));
  EXPECT_EQ(trackers->GetCellText(0, client::kTrackerIp), "127.0.0.1");
  EXPECT_EQ(trackers->GetCellText(1, client::kTrackerIp), "");

  // A double click below the rows adds one and edits its URL; the typed
  // URL is looked up.
  wxWindow* rows = trackers->ItemsWindow();
  EXPECT_EQ(gui_test::ClickAt(rows, {40, rows->GetClientSize().y - 10}, "2"), 0);
  ASSERT_TRUE(gui_test::PumpUntil([&] { return trackers->GetEditBox() != nullptr; }));
  EXPECT_EQ(trackers->GetCellText(2, client::kTrackerUrl), "http://");
  EXPECT_EQ(trackers->GetCellText(2, client::kTrackerTier), "0");
  ASSERT_TRUE(gui_test::PumpUntil([&] { return wxWindow::FindFocus() == trackers->GetEditBox(); }));
  EXPECT_EQ(gui_test::RunAndPump({"xdotool", "key", "ctrl+a"}), 0);
  EXPECT_EQ(gui_test::RunAndPump({"xdotool", "type", "--delay", "15", "http://127.0.0.7/announce"}), 0);
  EXPECT_EQ(gui_test::RunAndPump({"xdotool", "key", "Return"}), 0);
  ASSERT_TRUE(gui_test::PumpUntil([&] { return trackers->GetCellText(2, client::kTrackerIp) == "127.0.0.7"; }));

  // Real clicks: the peer ratio's "+", then the second file unchecked.
  EXPECT_EQ(gui_test::Click(dialog->FindWindow(id::kPeerRatioUp)), 0);
  ASSERT_TRUE(gui_test::PumpUntil([&] { return Text(dialog, id::kPeerRatio) == "1.00"; }));
  files->CheckItem(1, false);
  gui_test::PumpFor(std::chrono::milliseconds(100));
  EXPECT_FALSE(dialog->Model().IsWanted(1));
  gui_test::Screenshot(dialog, "torrent_details");

  EXPECT_EQ(gui_test::Click(dialog->FindWindow(id::kOk)), 0);
  ASSERT_TRUE(gui_test::PumpUntil([&] { return !dialog->IsShown(); }));
  EXPECT_EQ(dialog->GetReturnCode(), wxID_OK);
  EXPECT_TRUE(dialog->Model().FilesApplied());
  EXPECT_TRUE(f.item->ReAddPending());
  EXPECT_EQ(f.item->Goal().peer_ratio, 1.0);
  EXPECT_EQ(f.item->Limits().download, 51200);
  // Back in the engine with the trackers as edited.
  f.item->StepReAdd();
  ASSERT_FALSE(f.item->ReAddPending());
  ASSERT_EQ(f.Engine().trackers.size(), 3u);
  EXPECT_EQ(f.Engine().trackers[2].url, "http://127.0.0.7/announce");
  EXPECT_EQ(f.Engine().filtered, (std::vector<bool>{false, false, false}));  // piece 1 is c.jpg's too
  EXPECT_EQ(f.Profile().GetProfileInt("Configuration", "TL01", 0), dialog->TrackerList()->GetColumnWidth(0));
  EXPECT_EQ(f.Profile().GetProfileInt("Configuration", "FL03", 0), dialog->FileList()->GetColumnWidth(2));
  EXPECT_EQ(f.Profile().GetProfileInt("Configuration", "TL04", 0), 20);
  dialog->Destroy();
  gui_test::PumpFor(std::chrono::milliseconds(50));
}

TEST(TorrentDetailDialog, AOneFileTorrentGreysItsFilesAndGoesWithALookupPending) {
  QF_REQUIRE_DISPLAY();
  if (!gui_test::HaveXdotool()) GTEST_FAIL() << "no xdotool";
  DetailsFixture f({{"movie.mkv", 250}});
  SlowResolver slow;
  auto* dialog = new CTorrentDetailDialog(nullptr, *f.item, f.Profile(), slow.Resolver());
  dialog->Show();
  ASSERT_TRUE(gui_test::PumpUntil([&] { return dialog->IsShownOnScreen(); }));
  EXPECT_FALSE(dialog->FileList()->IsEnabled());
  EXPECT_FALSE(dialog->FindWindow(id::kUnselectAll)->IsEnabled());
  EXPECT_EQ(dialog->FileList()->GetItemText(0, client::kFilePercent), "40.00");

  // Seeding by ratio.
  EXPECT_EQ(gui_test::Click(dialog->FindWindow(id::kSeedByRatio)), 0);
  ASSERT_TRUE(gui_test::PumpUntil([&] { return dialog->FindWindow(id::kSeedingRatio)->IsEnabled(); }));
  EXPECT_FALSE(dialog->FindWindow(id::kSeedingTimeUp)->IsEnabled());
  ASSERT_TRUE(gui_test::PumpUntil(
      [&] { return dialog->TrackerList()->GetCellText(0, client::kTrackerIp) == "127.0.0.1"; }));
  gui_test::Screenshot(dialog, "torrent_details_one_file");

  dialog->Model().SetAllWanted(false);
  EXPECT_EQ(gui_test::Click(dialog->FindWindow(id::kOk)), 0);
  ASSERT_TRUE(gui_test::PumpUntil([&] { return !dialog->IsShown(); }));
  EXPECT_FALSE(dialog->Model().FilesApplied());
  EXPECT_EQ(f.Engine().filter_files_calls, 0);
  EXPECT_FALSE(f.item->ReAddPending());
  EXPECT_EQ(f.item->Goal().mode, client::SeedingMode::ByRatio);
  // The slow lookup is still under way as the dialog goes.
  dialog->Destroy();
  gui_test::PumpFor(std::chrono::milliseconds(50));
  slow.Open();
  gui_test::PumpFor(std::chrono::milliseconds(100));
}

}  // namespace

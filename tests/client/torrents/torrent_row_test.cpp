#include "client/torrents/torrent_row.h"

#include "client/common/tick.h"
#include "store/torrent_database.h"
#include "tests/client/temp_folder.h"
#include "tests/client/timer_test_support.h"
#include "torrent_test_support.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <memory>
#include <string>
#include <vector>

using namespace client_test;
using client::ChartGauge;
using client::TorrentStatus;
namespace menu = client::torrent_menu;

namespace {

class RowTest : public ::testing::Test {
 protected:
  void SetUp() override {
    FakeTorrent running;
    running.paused = false;
    item = MakeTorrent(fake, events, 1, TorrentStatus::Downloading, std::move(running));
    ASSERT_TRUE(item->Start(false));
    item->TimerArmedByView();
    item->SetView(&view);
    item->SetRateScale(100000, 100000);
    row = std::make_unique<client::TorrentRow>(*item);
  }

  FakeTorrent& Engine() { return fake.At(FakeTorrentControl::Hash(1)); }
  engine::torrent_status& Status() { return Engine().status; }
  const std::wstring& StateText() { return item->Chart().Text(ChartGauge::Progress); }
  const std::wstring& TimeText() { return item->Chart().Text(ChartGauge::Time); }
  // The torrent's tick, then the row paints it, as the rows' timer does.
  bool Tick(client::DhtControl* dht = nullptr) { return row->Paint(item->Tick(dht)); }
  void Ticks(int count, client::DhtControl* dht = nullptr) {
    for (int i = 0; i < count; ++i) Tick(dht);
  }
  std::vector<int> MenuIds() {
    std::vector<int> ids;
    for (const client::MenuItem& entry : row->Menu()) ids.push_back(entry.id);
    return ids;
  }
  const client::MenuItem* MenuEntry(int id) {
    static std::vector<client::MenuItem> menu;
    menu = row->Menu();
    for (const client::MenuItem& entry : menu)
      if (entry.id == id) return &entry;
    return nullptr;
  }

  client::FakeTick tick{10000};
  FakeTorrentControl fake;
  RecordingEvents events;
  RecordingView view;
  std::unique_ptr<client::TorrentItem> item;
  std::unique_ptr<client::TorrentRow> row;
  client::ScriptedUiServices ui;
};

// --- texts and status

TEST_F(RowTest, StateTextsAndStatusByEngineState) {
  struct Case {
    int state, peers;
    const wchar_t* text;
    int status;
  };
  const Case cases[] = {
      {engine::checking_files, 0, L"Chk 12.3%", TorrentStatus::Downloading},
      {engine::downloading, 0, L"12.3%", TorrentStatus::Downloading},
      {engine::connecting_to_tracker, 3, L"12.3%", TorrentStatus::Downloading},
      {engine::connecting_to_tracker, 1, L"Connecting", TorrentStatus::Downloading},
      {engine::downloading_metadata, 0, L"Metadata", TorrentStatus::Downloading},
      {engine::allocating, 0, L"Alloc 12.3%", TorrentStatus::Downloading},
      {engine::queued_for_checking, 0, L"Queued", TorrentStatus::Paused},
      {engine::finished, 0, L"Serving", TorrentStatus::Seeding},
      {engine::seeding, 0, L"Seeding", TorrentStatus::Seeding},
      {8, 0, L"GAU", TorrentStatus::Error},
  };
  Status().progress = 0.12345f;
  for (const Case& c : cases) {
    Status().state = c.state;
    Status().num_peers = c.peers;
    Tick();
    EXPECT_EQ(StateText(), c.text) << c.state << "/" << c.peers;
    EXPECT_EQ(item->Status(), c.status) << c.state << "/" << c.peers;
  }
  // Connecting with traffic keeps what was shown.
  Status().state = engine::connecting_to_tracker;
  Status().num_peers = 1;
  Status().upload_rate = 10;
  Tick();
  EXPECT_EQ(StateText(), L"GAU");
  EXPECT_EQ(item->Status(), TorrentStatus::Error);
}

TEST_F(RowTest, ATorrentNoTrackerAnsweredShowsWhatItDoesWithItsPeers) {
  // The engine says "connecting" until a tracker answers; peers from the
  // DHT may have brought the whole torrent meanwhile.
  Status().state = engine::connecting_to_tracker;
  Status().total_wanted = 1000;
  Status().total_wanted_done = 500;
  Status().progress = 0.5f;
  Tick();
  EXPECT_EQ(StateText(), L"Connecting");
  Status().num_peers = 1;
  Status().download_rate = 100;
  Tick();
  EXPECT_EQ(StateText(), L"50.0%");
  EXPECT_EQ(item->Status(), TorrentStatus::Downloading);

  Status().total_wanted_done = 1000;
  Status().progress = 1;
  Status().num_peers = 0;
  Status().download_rate = 0;
  Tick();
  EXPECT_EQ(StateText(), L"Seeding");
  EXPECT_EQ(item->Status(), TorrentStatus::Seeding);
  EXPECT_TRUE(item->SeedingEntered());
  // Done with unwanted pieces missing: served, not seeded.
  item->SetHasFilteredPieces(true);
  Tick();
  EXPECT_EQ(StateText(), L"Serving");
  Engine().seed = true;
  Tick();
  EXPECT_EQ(StateText(), L"Seeding");
}

TEST_F(RowTest, APausedEngineTorrentShowsWhyItIsPaused) {
  Engine().paused = true;
  Tick();
  EXPECT_EQ(StateText(), L"Queued");
  EXPECT_EQ(item->Status(), TorrentStatus::Queued);
  EXPECT_EQ(TimeText(), L"---");

  // Stopped by a file error: not back in the queue.
  item->StopOnFileError();
  Tick();
  EXPECT_EQ(StateText(), L"Error");
  EXPECT_EQ(item->Status(), TorrentStatus::Error);

  item->UserPause();
  item->SetStatus(TorrentStatus::Error);
  Tick();
  EXPECT_EQ(StateText(), L"Paused");
  EXPECT_EQ(item->Status(), TorrentStatus::Error);  // an error stays
  item->SetStatus(TorrentStatus::Downloading);
  Tick();
  EXPECT_EQ(item->Status(), TorrentStatus::Paused);

  item->StopOnSeedingGoal();
  Tick();
  EXPECT_EQ(StateText(), L"Complete");
  EXPECT_EQ(item->Status(), TorrentStatus::Seeding);

  // A torrent that is not started is paused again.
  Engine().paused = false;
  EXPECT_FALSE(item->IsStarted());
  Tick();
  EXPECT_TRUE(Engine().paused);
}

TEST_F(RowTest, RatesInKibPerSecond) {
  const std::pair<float, const wchar_t*> cases[] = {{0, L"0.0"}, {1536, L"1.5"}, {2048, L"2.0"}, {2049, L"2"}, {10300, L"10"}};
  for (const auto& [rate, text] : cases) {
    Status().download_rate = rate;
    Status().upload_rate = rate;
    Tick();
    EXPECT_EQ(item->Chart().Text(ChartGauge::Download), text) << rate;
    EXPECT_EQ(item->Chart().Text(ChartGauge::Upload), text) << rate;
    EXPECT_EQ(item->Chart().Gauge(ChartGauge::Download).value, rate);
  }
}

TEST_F(RowTest, TheDownloadEstimateIsSmoothedAndNeedsMoreThanAFewBytes) {
  Status().state = engine::downloading;
  Status().progress = 0.5f;
  Status().total_wanted = 2000000;
  Status().download_payload_rate = 0.09f;
  Tick();
  EXPECT_EQ(TimeText(), L"oo");
  EXPECT_EQ(item->TotalWanted(), 2000000u);
  // The first real estimate is shown as it is: 1000 s.
  Status().download_payload_rate = 1000;
  Tick();
  EXPECT_EQ(TimeText(), L"0:16:40");
  EXPECT_EQ(item->EtaSeconds(), 1000u);
  // Later ones count 1/60: 400 s gives (1000 * 59 + 400) / 60 = 990.
  Status().download_payload_rate = 2500;
  Tick();
  EXPECT_EQ(TimeText(), L"0:16:30");
  EXPECT_EQ(item->EtaSeconds(), 990u);
}

TEST_F(RowTest, AShortDownloadShowsItsOwnTimeFromTheFirstTick) {
  // 75 s at a steady rate: the first tick shows 75 s, not two hours, and
  // the estimate never rises above it.
  Status().state = engine::downloading;
  Status().total_wanted = 7500000;
  Status().download_payload_rate = 100000;
  for (int tick = 0; tick <= 150; ++tick) {
    Status().progress = static_cast<float>(tick) / 150;
    Tick();
    if (tick == 0) {
      EXPECT_EQ(TimeText(), L"0:01:15");
    }
    EXPECT_LE(item->EtaSeconds(), 75u) << tick;
  }
}

TEST_F(RowTest, SeedingGoalsStopOnlyWhenStrictlyPassed) {
  Status().state = engine::seeding;
  item->SetSeedingRatio(2.0, true);
  Status().upload_payload_rate = 100;
  Status().total_payload_upload = 2000;
  Status().total_payload_download = 999;  // ratio 2000 / (999 + 1) = 2.0
  Tick();
  EXPECT_EQ(TimeText(), L"oo");  // the status before was not Seeding yet
  Tick();
  EXPECT_FALSE(Engine().paused);
  Status().total_payload_upload = 2001;
  Tick();
  EXPECT_TRUE(Engine().paused);
  ASSERT_EQ(events.events.size(), 1u);
  EXPECT_EQ(events.events[0].kind, "stopped");
  EXPECT_EQ(events.events[0].status, TorrentStatus::Seeding);
  Tick();
  EXPECT_EQ(StateText(), L"Complete");
}

TEST_F(RowTest, ASeedingTimeStopsOnlyWhenStrictlyPassed) {
  // Equal to the goal runs on, one millisecond more stops.
  Status().state = engine::seeding;
  item->SetSeedingTime(10000, true);
  Tick();  // from here on the status before is Seeding
  tick.Advance(10000);
  Tick();
  EXPECT_EQ(TimeText(), L"0:00:00");
  EXPECT_FALSE(Engine().paused);
  tick.Advance(1);
  Tick();
  EXPECT_TRUE(Engine().paused);
}

TEST_F(RowTest, TheSummaryReplacesTheNameWhileShowStateIsOn) {
  Tick();
  EXPECT_EQ(item->Settings().stateSummary, L"...");
  item->SetShowState(true);
  Status().total_payload_upload = 5000;
  Tick();
  EXPECT_EQ(item->Settings().stateSummary, L"S:0MB U/D:4/0KB");
  EXPECT_EQ(item->Chart().TitleLabel(), L"S:0MB U/D:4/0KB");
  EXPECT_EQ(item->Chart().GetName(), L"t1");

  Status().total_wanted = 3 * 1048576;
  Status().total_payload_upload = 1000;
  item->SetEarlierTotals(1000, 0);
  Status().total_payload_download = 999;
  Tick();
  EXPECT_EQ(item->Settings().stateSummary, L"S:3MB U/D:2000/999B R:2.00");
  Status().total_payload_download = 6442450944;  // 6 GiB
  Tick();
  EXPECT_EQ(item->Settings().stateSummary, L"S:3MB U/D:0/6GB R:0.00");
}

// --- trackers and DHT

TEST_F(RowTest, TrackersRotateEvery5400TicksWhileDownloading) {
  Engine().trackers = {{"http://a/announce", 0}, {"http://b/announce", 1}, {"http://c/announce", 2}};
  Status().state = engine::downloading;
  const int at_start = Engine().replace_calls;  // the start set the UDP scheme
  Ticks(5399);
  EXPECT_EQ(Engine().replace_calls, at_start);
  Ticks(1);
  auto tiers = [&] {
    std::vector<int> t;
    for (const auto& e : Engine().trackers) t.push_back(e.tier);
    return t;
  };
  EXPECT_EQ(tiers(), (std::vector<int>{2, 0, 1}));
  Ticks(5400);
  EXPECT_EQ(tiers(), (std::vector<int>{1, 2, 0}));
  Ticks(5400);
  EXPECT_EQ(tiers(), (std::vector<int>{0, 1, 2}));
  EXPECT_EQ(item->TrackerRotation(), 1u);

  // One tracker is never re-tiered; a seed does not rotate.
  Engine().trackers.resize(1);
  Ticks(5400);
  EXPECT_EQ(Engine().replace_calls, at_start + 3);
  Engine().trackers = {{"http://a/announce", 0}, {"http://b/announce", 1}};
  Status().state = engine::seeding;
  Ticks(5400);
  EXPECT_EQ(Engine().replace_calls, at_start + 3);
}

TEST_F(RowTest, DhtPeersAreHandedOverMoreOftenWithoutPeers) {
  FakeDht dht;
  dht.peers = {engine::address(1, 2, 3, 4, 6881), engine::address(5, 6, 7, 8, 6882)};
  Status().state = engine::downloading;
  Ticks(300);  // no DHT node
  // Without a node nothing counted: 299 more ticks still hand nothing over.
  Ticks(299, &dht);
  EXPECT_EQ(dht.peer_requests, 0);
  Ticks(1, &dht);
  EXPECT_EQ(dht.peer_requests, 1);
  EXPECT_EQ(Engine().connected, dht.peers);

  Status().num_peers = 2;
  Ticks(1799, &dht);
  EXPECT_EQ(dht.peer_requests, 1);
  Ticks(1, &dht);
  EXPECT_EQ(dht.peer_requests, 2);
  // The last peer goes after 1000 ticks: the shorter interval is already
  // over, the next tick hands over.
  Ticks(1000, &dht);
  Status().num_peers = 0;
  Ticks(1, &dht);
  EXPECT_EQ(dht.peer_requests, 3);

  Engine().failing.insert("connect_peer");
  Ticks(300, &dht);
  EXPECT_EQ(events.log.back(), L"t1.torrent...: Fatal Error: Exception");
}

// A torrent the engine dropped ends its tick quietly; any other fault is
// logged with its text, in the tick as in the DHT hand-over, and the ticks
// go on.
TEST_F(RowTest, AFaultInTheTickIsLoggedWithItsTextAndTheTicksGoOn) {
  Status().state = engine::downloading;
  Engine().failing.insert("status");
  EXPECT_FALSE(item->Tick(nullptr).has_value());
  EXPECT_TRUE(events.log.empty());
  Engine().failing.clear();

  Engine().faults["status"] = "disk on fire";
  EXPECT_FALSE(item->Tick(nullptr).has_value());
  EXPECT_EQ(events.log, std::vector<std::wstring>{L"t1.torrent...: Unexpected error in the torrent's tick: disk on fire"});
  Engine().faults.clear();
  EXPECT_TRUE(item->Tick(nullptr).has_value());

  FakeDht dht;
  dht.peers = {engine::address(9, 9, 9, 9, 6881)};
  Engine().faults["connect_peer"] = "no route";
  Ticks(300, &dht);
  EXPECT_EQ(events.log.back(), L"t1.torrent...: Unexpected error in the DHT hand-over: no route");
  EXPECT_TRUE(item->Tick(nullptr).has_value());
}

// --- repaint

TEST_F(RowTest, TheRowRepaintsOnlyWhenSomethingShownChanged) {
  Status().state = engine::downloading;
  Status().download_rate = 100;
  EXPECT_TRUE(Tick());
  EXPECT_EQ(view.repaints, 1);
  EXPECT_FALSE(Tick());
  // Below the needle's resolution of 0.1, with the same text.
  Status().download_rate = 100.05f;
  EXPECT_FALSE(Tick());
  Status().download_rate = 100.2f;
  EXPECT_TRUE(Tick());
  Status().progress = 0.5f;
  EXPECT_TRUE(Tick());
  EXPECT_EQ(view.repaints, 3);
  // The same text in another status (its colours): waiting in the queue,
  // then started and queued for the check.
  Status() = {};
  Engine().paused = true;
  EXPECT_TRUE(Tick());
  EXPECT_EQ(StateText(), L"Queued");
  EXPECT_EQ(item->Status(), TorrentStatus::Queued);
  Engine().paused = false;
  EXPECT_TRUE(Tick());
  EXPECT_EQ(StateText(), L"Queued");
  EXPECT_EQ(item->Status(), TorrentStatus::Paused);
  EXPECT_EQ(view.repaints, 5);
  // A torrent the engine dropped is left alone.
  Engine().gone = true;
  EXPECT_FALSE(Tick());
  EXPECT_EQ(view.repaints, 5);
}

// --- context menu

TEST_F(RowTest, TheMenuOfARunningTorrent) {
  EXPECT_EQ(MenuIds(), (std::vector<int>{menu::kPause, menu::kQueue, menu::kRemove, 0, menu::kShowState,
                                         menu::kReannounce, 0, menu::kSeeding30, menu::kSeeding60,
                                         menu::kSeedingForever, 0, menu::kPriorityHigh, menu::kPriorityNormal,
                                         menu::kPriorityLow, 0, menu::kViewPeers, menu::kProperties}));
  for (const client::MenuItem& entry : row->Menu()) EXPECT_TRUE(entry.id < 4999 || entry.id > 5999) << entry.id;
  EXPECT_TRUE(MenuEntry(menu::kProperties)->is_default);
  EXPECT_EQ(MenuEntry(menu::kShowState)->text, "Show state");
  EXPECT_TRUE(MenuEntry(menu::kPriorityNormal)->checked);
  EXPECT_FALSE(MenuEntry(menu::kPriorityHigh)->checked);
  EXPECT_EQ(MenuEntry(menu::kPriorityLow)->text, "Priority Low");
}

TEST_F(RowTest, MenuEntriesFollowTheTorrentsState) {
  Engine().paused = true;
  item->SetShowState(true);
  item->SetBitCometUdp(true);
  Engine().trackers = {{"udp://tracker.test/announce", 0}};
  item->ApplyUdpTrackerScheme();
  std::vector<int> ids = MenuIds();
  EXPECT_EQ(ids.front(), menu::kResume);
  EXPECT_EQ(std::count(ids.begin(), ids.end(), menu::kReannounce), 0);
  EXPECT_EQ(MenuEntry(menu::kShowState)->text, "Show name");
  EXPECT_TRUE(MenuEntry(menu::kBitCometUdp)->checked);

  // The seeding entries are checked for their exact time, by time only.
  item->SetSeedingTime(1800000, true);
  EXPECT_TRUE(MenuEntry(menu::kSeeding30)->checked);
  item->SetSeedingTime(1830000, true);
  EXPECT_FALSE(MenuEntry(menu::kSeeding30)->checked);
  item->SetSeedingTime(30000, true);
  EXPECT_FALSE(MenuEntry(menu::kSeedingForever)->checked);
  item->SetSeedingTime(0, true);
  EXPECT_TRUE(MenuEntry(menu::kSeedingForever)->checked);
  item->SetSeedingRatio(2.0, true);
  EXPECT_FALSE(MenuEntry(menu::kSeedingForever)->checked);

  // DB mode offers the store's DHT nodes to a running torrent.
  CTorrentDatabase store(u"127.0.0.1", 1, u"nobody", u"");
  item->SetStore(&store);
  Engine().paused = false;
  ids = MenuIds();
  EXPECT_NE(std::find(ids.begin(), ids.end(), menu::kAddDbNodes), ids.end());
  item->SetStore(nullptr);

  // Without an engine torrent there is nothing to resume or look at.
  Engine().gone = true;
  ids = MenuIds();
  EXPECT_EQ(std::count(ids.begin(), ids.end(), menu::kViewPeers), 0);
  EXPECT_EQ(std::count(ids.begin(), ids.end(), menu::kResume), 0);
}

TEST_F(RowTest, ViewLogIsOfferedWhenTheLogFileExists) {
  const temp_folder folder("qf_row_");
  const std::string path = (folder / "a.torrent").string();
  client::TorrentItem torrent(std::wstring(path.begin(), path.end()), L"a", events);
  client::TorrentRow own(torrent);
  auto has_log = [&] {
    for (const client::MenuItem& entry : own.Menu())
      if (entry.id == menu::kViewLog) return true;
    return false;
  };
  EXPECT_FALSE(has_log());
  std::ofstream(path + ".log.txt") << "x";
  EXPECT_TRUE(has_log());
  // Whatever kept the file from opening is told.
  ui.open_file_failure = "no program to open it was found";
  own.RunCommand(menu::kViewLog, ui);
  EXPECT_EQ(ui.asked[0].text, path + ".log.txt");
  EXPECT_EQ(ui.Messages(),
            std::vector<std::string>{"Could not open " + path + ".log.txt:\nno program to open it was found"});
}

TEST_F(RowTest, MenuCommands) {
  ui.menu_answers = {menu::kPause};
  EXPECT_EQ(row->ContextMenu(ui, 5, 5), client::RowAction::None);
  EXPECT_TRUE(item->Chart().Highlight());
  EXPECT_TRUE(item->IsUserPaused());
  EXPECT_TRUE(Engine().paused);
  EXPECT_EQ(events.events.back().kind, "stopped");
  EXPECT_EQ(events.events.back().status, TorrentStatus::Paused);
  EXPECT_EQ(view.repaints, 1);

  row->RunCommand(menu::kResume, ui);
  EXPECT_FALSE(item->IsUserPaused());
  EXPECT_FALSE(Engine().paused);
  EXPECT_EQ(events.events.back().kind, "started");

  row->RunCommand(menu::kRemove, ui);
  EXPECT_EQ(events.events.back().kind, "remove");

  row->RunCommand(menu::kShowState, ui);
  EXPECT_EQ(item->Chart().TitleLabel(), L"...");
  row->RunCommand(menu::kShowState, ui);
  EXPECT_EQ(item->Chart().TitleLabel(), L"t1");

  item->SetSeedingTime(60000, true);
  row->RunCommand(menu::kSeeding30, ui);
  EXPECT_EQ(item->Goal().time, 1800000u);
  row->RunCommand(menu::kSeedingForever, ui);
  EXPECT_EQ(item->Goal().time, 0u);

  row->RunCommand(menu::kPriorityHigh, ui);
  EXPECT_EQ(item->Priority(), client::TorrentPriority::High);
  row->RunCommand(menu::kPriorityLow, ui);
  EXPECT_EQ(item->Priority(), client::TorrentPriority::Low);

  row->RunCommand(menu::kReannounce, ui);
  EXPECT_EQ(Engine().reannounces, 1);

  Engine().trackers = {{"udp://t:80", 0}};
  row->RunCommand(menu::kBitCometUdp, ui);
  EXPECT_EQ(Engine().trackers[0].url, "bcudp://t:80");

  EXPECT_EQ(row->RunCommand(menu::kViewPeers, ui), client::RowAction::ShowPeers);
  EXPECT_EQ(row->PeersDialogTitle(), L"t1.torrent - Quillfern Peer Info");
  EXPECT_EQ(row->RunCommand(menu::kProperties, ui), client::RowAction::ShowProperties);
  EXPECT_EQ(row->RunCommand(menu::kAddDbNodes, ui), client::RowAction::AddDatabaseNodes);

  // A resume that cannot start is logged.
  Engine().gone = true;
  row->RunCommand(menu::kResume, ui);
  EXPECT_EQ(events.log.back(), L"t1.torrent...: failed to start.");
}

// --- hover

TEST_F(RowTest, HoverWaitsForTheMouseToRest) {
  client::HoverTracker::Step step = row->OnMouseMove({10, 10});
  EXPECT_TRUE(step.repaint);
  EXPECT_EQ(step.start_timer, 400u);
  tick.Advance(100);
  EXPECT_FALSE(row->OnMouseMove({12, 8}).start_timer);  // within the hover square
  tick.Advance(100);
  EXPECT_EQ(row->OnMouseMove({20, 10}).start_timer, 400u);
  tick.Advance(200);
  // The first timer fires: the wait began again 200 ms ago.
  step = row->OnHoverTimer();
  EXPECT_FALSE(step.hover_at);
  EXPECT_EQ(step.start_timer, 200u);
  tick.Advance(200);
  step = row->OnHoverTimer();
  EXPECT_EQ(step.hover_at, (client::Point{20, 10}));
  EXPECT_TRUE(item->Chart().Highlight());
  // Hovering lasts until the mouse leaves.
  EXPECT_FALSE(row->OnMouseMove({60, 60}).start_timer);
  step = row->OnMouseLeave();
  EXPECT_TRUE(step.hide_hint);
  EXPECT_TRUE(step.repaint);
  EXPECT_FALSE(item->Chart().Highlight());
  EXPECT_FALSE(row->OnHoverTimer().hover_at);
}

TEST_F(RowTest, HintTexts) {
  Engine().metadata = false;
  EXPECT_EQ(row->HintText(), L"\u25BA t1.torrent\nWaiting for metadata");

  engine::torrent_metainfo built;
  built.add_file("a.bin", 100);
  built.add_tracker("http://t/announce");
  built.set_hash(0, engine::sha1_hash());
  built.set_comment("Ein Kommentar");
  built.set_creator("mktorrent 1.1");
  engine::entry file = built.build_torrent_dictionary();
  file.dict()["creation date"] = engine::entry(1173103331);
  Engine().metadata = true;
  Engine().info = engine::torrent_metainfo(file);
  item->SetHasDhtNodes(true);
  EXPECT_EQ(row->HintText(),
            L"\u25BA t1.torrent\n\u25BA Ein Kommentar\n\u25BA Created: 2007-Mar-05 14:02:11 by mktorrent 1.1\n"
            L"\u25BA DHT bootstrap nodes available");

  file.dict().erase("creation date");
  file.dict().erase("comment");
  Engine().info = engine::torrent_metainfo(file);
  item->SetHasDhtNodes(false);
  EXPECT_EQ(row->HintText(), L"\u25BA t1.torrent\n\u25BA Created: mktorrent 1.1");

  Engine().gone = true;
  EXPECT_EQ(row->HintText(), L"/data/Torrents/t1.torrent");
}

}  // namespace

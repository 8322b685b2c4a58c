#include "client/app/main_timer.h"

#include "client/common/tick.h"
#include "engine/session/alert_types.h"
#include "tests/client/temp_folder.h"
#include "tests/client/timer_test_support.h"
#include "tests/client/torrents/torrent_test_support.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <vector>

using namespace client_test;
using client::MappedAddress;

namespace {

constexpr std::uint32_t kStart = 5000;

class MainTimerTest : public ::testing::Test {
 protected:
  void SetUp() override {
    input.session = &session;
    input.active_count = 2;
    input.max_active = 4;
    // An address that is stored but starts no re-announce.
    input.local_address = "0.0.0.0";
    FakeTorrent running;
    running.paused = false;
    t1 = Add(1, running);
    t2 = Add(2);  // paused
  }

  client::TorrentItem* Add(int n, FakeTorrent engine_torrent = {}) {
    auto item = MakeTorrent(fake, events, n, client::TorrentStatus::Downloading, std::move(engine_torrent));
    client::TorrentItem* raw = item.get();
    list.Add(std::move(item));
    return raw;
  }
  static engine::torrent_handle Engine(int n) {
    return engine::torrent_handle(nullptr, nullptr, FakeTorrentControl::Hash(n));
  }
  int Reannounces(int n) { return fake.At(FakeTorrentControl::Hash(n)).reannounces; }
  client::MainTimerResult Ticks(int count) {
    client::MainTimerResult last;
    for (int i = 0; i < count; ++i) last = timer.Tick(input);
    return last;
  }

  client::FakeTick tick{kStart};
  FakeTorrentControl fake;
  RecordingEvents events;
  client::CTorrentListe list;
  FakeSession session;
  FakeDht dht;
  RecordingSink sink;
  client::MainTimer timer{list, sink};
  client::MainTimerInput input;
  client::TorrentItem* t1 = nullptr;
  client::TorrentItem* t2 = nullptr;
};

// --- alerts

TEST_F(MainTimerTest, LoggedAlertsGoToTheLogAndToTheirTorrentsLogFile) {
  session.Post<engine::tracker_alert>(Engine(1), 2, 404, "Tracker: Größe 404");
  session.Post<engine::hash_failed_alert>(Engine(1), 7, "hash failed");
  session.Post<engine::chat_message_alert>(Engine(1), engine::address(1, 2, 3, 4, 6881), "chat: hi");
  session.Post<engine::file_error_alert>(Engine(1), "disk full");
  session.Post<engine::tracker_warning_alert>(Engine(1), "tracker says");
  session.Post<engine::fastresume_rejected_alert>(Engine(1), "resume rejected");
  // A torrent no longer in the list is still logged.
  session.Post<engine::tracker_alert>(Engine(9), 1, 0, "gone torrent");
  // Kinds the window does not care about.
  session.Post<engine::peer_error_alert>(engine::address(5, 6, 7, 8, 1), engine::peer_id(), "peer error");
  session.Post<engine::listen_failed_alert>("listen failed");
  session.Post<engine::tracker_reply_alert>(Engine(1), "reply");

  timer.Tick(input);

  EXPECT_TRUE(session.alerts.empty());
  // A file error and a resume rejection name their torrent.
  EXPECT_EQ(sink.log, (std::vector<std::wstring>{L"Tracker: Größe 404", L"hash failed", L"chat: hi",
                                                 L"t1.torrent: disk full", L"tracker says",
                                                 L"t1.torrent: resume rejected", L"gone torrent"}));
  ASSERT_EQ(sink.torrent_log.size(), 6u);
  for (std::size_t i = 0; i < 6; ++i) {
    EXPECT_EQ(sink.torrent_log[i].first, t1);
    EXPECT_EQ(sink.torrent_log[i].second, L"[stamp] - " + sink.log[i]);
  }
}

TEST_F(MainTimerTest, AFileErrorStopsItsTorrentWithErrorAndFreesItsSlot) {
  ASSERT_TRUE(t1->Start(false));
  session.Post<engine::file_error_alert>(Engine(1), "write: No space left on device");
  session.Post<engine::file_error_alert>(Engine(9), "gone torrent's error");
  timer.Tick(input);
  EXPECT_EQ(sink.log, (std::vector<std::wstring>{L"t1.torrent: write: No space left on device",
                                                 L"gone torrent's error"}));
  EXPECT_EQ(t1->Status(), client::TorrentStatus::Error);
  EXPECT_FALSE(t1->IsStarted());
  EXPECT_FALSE(t1->IsActive());
  EXPECT_TRUE(fake.At(FakeTorrentControl::Hash(1)).paused);
  // The main window hears that it stopped (and gives the slot on).
  ASSERT_EQ(events.events.size(), 1u);
  EXPECT_EQ(events.events[0].kind, "stopped");
  EXPECT_EQ(events.events[0].status, client::TorrentStatus::Error);
}

TEST_F(MainTimerTest, ABannedPeerIsLoggedWithItsAddressAndBlocked) {
  const engine::address peer(10, 1, 2, 3, 51413);
  session.Post<engine::peer_ban_alert>(peer, Engine(2), "banned peer");
  timer.Tick(input);
  EXPECT_EQ(sink.log, std::vector<std::wstring>{L"banned peer (10.1.2.3)"});
  EXPECT_EQ(sink.bans, std::vector<engine::address>{peer});
  ASSERT_EQ(sink.torrent_log.size(), 1u);
  EXPECT_EQ(sink.torrent_log[0].first, t2);
}

TEST_F(MainTimerTest, MetadataIsStoredBeforeTheStatusTextGoesToTheTorrentsLog) {
  session.Post<engine::metadata_received_alert>(Engine(1), "metadata received");
  session.Post<engine::metadata_received_alert>(Engine(9), "metadata received");
  timer.Tick(input);
  EXPECT_EQ(sink.metadata, std::vector<client::TorrentItem*>{t1});
  EXPECT_EQ(sink.log, (std::vector<std::wstring>{L"metadata received", L"metadata stored", L"metadata received"}));
  ASSERT_EQ(sink.torrent_log.size(), 1u);
  EXPECT_EQ(sink.torrent_log[0].second, L"[stamp] - metadata stored");
}

TEST_F(MainTimerTest, AFinishedTorrentArmsItsSeedingGoalAndIsRecordedInFileModeOnly) {
  timer.Settings().seeding_time = 3600000;
  ChangeGoal(*t2, [](auto& goal) { goal.time = 60000; });  // a stored goal survives
  tick.Set(kStart + 100);
  session.Post<engine::torrent_finished_alert>(Engine(1), "finished");
  session.Post<engine::torrent_finished_alert>(Engine(2), "finished");
  session.Post<engine::torrent_finished_alert>(Engine(9), "finished");
  timer.Tick(input);
  EXPECT_EQ(t1->Goal().time, 3600000u);
  EXPECT_EQ(t2->Goal().time, 60000u);
  EXPECT_EQ(t1->SeedingStart(), kStart + 100);
  EXPECT_EQ(sink.downloads, (std::vector<std::wstring>{L"t1", L"t2"}));
  EXPECT_TRUE(sink.log.empty());

  // Each torrent arms its own kind of goal, whatever the global mode says
  // now; a stored ratio survives.
  timer.Settings().seeding_mode = 1;
  timer.Settings().seeding_ratio = 1.5;
  timer.Settings().database = true;
  ChangeGoal(*t1, [](auto& goal) { goal = {client::SeedingMode::ByRatio, goal.time, 3.0, goal.peer_ratio}; });
  tick.Set(kStart + 200);
  session.Post<engine::torrent_finished_alert>(Engine(1), "finished");
  session.Post<engine::torrent_finished_alert>(Engine(2), "finished");
  timer.Tick(input);
  EXPECT_EQ(t1->Goal().ratio, 3.0);
  EXPECT_EQ(t1->SeedingStart(), kStart + 200);
  EXPECT_EQ(t2->Goal().mode, client::SeedingMode::ByTime);
  EXPECT_EQ(t2->Goal().time, 60000u);
  EXPECT_EQ(t2->SeedingStart(), kStart + 200);
  EXPECT_EQ(sink.downloads.size(), 2u);  // DB mode records nothing
}

TEST_F(MainTimerTest, ARestoredSeedKeepsItsOwnGoalAndIsRecordedOnlyWhenItFinishedNow) {
  // The global goal is by time; t1 seeds by ratio, was restored at start
  // and its check found it complete; t2 was restored and downloaded the
  // rest in this run.
  timer.Settings().seeding_mode = 0;
  timer.Settings().seeding_time = 3600000;
  t1->MarkRestored();
  t2->MarkRestored();
  ChangeGoal(*t1, [](auto& goal) { goal = {client::SeedingMode::ByRatio, goal.time, 3.0, goal.peer_ratio}; });
  fake.At(FakeTorrentControl::Hash(2)).status.total_payload_download = 5000;
  tick.Set(kStart + 100);
  session.Post<engine::torrent_finished_alert>(Engine(1), "torrent is complete");
  session.Post<engine::torrent_finished_alert>(Engine(2), "torrent has finished downloading");
  timer.Tick(input);
  EXPECT_EQ(t1->Goal().mode, client::SeedingMode::ByRatio);
  EXPECT_EQ(t1->Goal().ratio, 3.0);
  EXPECT_EQ(t1->SeedingStart(), kStart + 100);
  EXPECT_EQ(sink.downloads, std::vector<std::wstring>{L"t2"});
}

// --- listening report and public address

TEST_F(MainTimerTest, TheListeningLineShowsAtTheFirstTickAndThenEveryEleventh) {
  input.local_address = "10.0.0.2";
  session.figures.num_peers = 3;
  input.dht = &dht;
  client::MainTimerResult first = timer.Tick(input);
  EXPECT_EQ(timer.ListeningLine(), L"listening on 10.0.0.2:6881 Peers: 3");
  EXPECT_TRUE(first.invalidate);
  EXPECT_FALSE(first.query_external_address);
  // The local address is the public one: the DHT learns it and the running
  // torrents re-announce.
  EXPECT_EQ(timer.ExternalAddress(), "10.0.0.2");
  EXPECT_EQ(dht.external_addresses, std::vector<std::string>{"10.0.0.2"});
  EXPECT_EQ(Reannounces(1), 1);
  EXPECT_EQ(Reannounces(2), 0);
  EXPECT_EQ(sink.log, std::vector<std::wstring>{L"ip address change to 10.0.0.2 - reannounce enforced"});

  session.figures.num_peers = 4;
  Ticks(10);
  EXPECT_EQ(timer.ListeningLine(), L"listening on 10.0.0.2:6881 Peers: 3");
  timer.Tick(input);
  EXPECT_EQ(timer.ListeningLine(), L"listening on 10.0.0.2:6881 Peers: 4");
  EXPECT_EQ(Reannounces(1), 1);  // the address did not change
}

TEST_F(MainTimerTest, ThePortMappingsAddressLeadsAndAFailureForgetsIt) {
  input.dht = &dht;
  input.mapped_address = {MappedAddress::Pending, ""};
  client::MainTimerResult result = timer.Tick(input);
  EXPECT_EQ(timer.ListeningLine(), L"listening on 0.0.0.0:6881 Peers: 0");
  EXPECT_TRUE(result.query_external_address);
  EXPECT_EQ(timer.ExternalAddress(), "");

  input.mapped_address = {MappedAddress::Known, "203.0.113.7"};
  result = Ticks(11);
  EXPECT_EQ(timer.ListeningLine(), L"listening on external 203.0.113.7:6881 Peers: 0");
  EXPECT_EQ(timer.ExternalAddress(), "203.0.113.7");
  EXPECT_EQ(dht.external_addresses, std::vector<std::string>{"203.0.113.7"});
  EXPECT_EQ(Reannounces(1), 1);

  // Learnt by a mapping round: no change for the report.
  timer.SetExternalAddress("203.0.113.8");
  input.mapped_address = {MappedAddress::Known, "203.0.113.8"};
  Ticks(11);
  EXPECT_EQ(Reannounces(1), 1);

  input.mapped_address = {MappedAddress::Failed, "no router"};
  Ticks(11);
  EXPECT_EQ(timer.ListeningLine(), L"listening failed (UPnP Error: no router) Peers: 0");
  EXPECT_EQ(timer.ExternalAddress(), "");
  EXPECT_EQ(Reannounces(1), 1);

  // 0.0.0.0 is stored but starts nothing.
  input.mapped_address = {MappedAddress::Known, "0.0.0.0"};
  Ticks(11);
  EXPECT_EQ(timer.ExternalAddress(), "0.0.0.0");
  EXPECT_EQ(Reannounces(1), 1);
  EXPECT_EQ(dht.external_addresses.size(), 1u);
}

// --- upload steering and charts

TEST_F(MainTimerTest, WithoutTrafficTheLimitClimbsToMaxUploadRateInFifths) {
  timer.Settings().max_upload_rate = 10240;
  timer.SetSteeredLimit(client::InitialSteeredLimit(10240));
  t1->SetRateScale(20000, 20000);
  EXPECT_EQ(timer.SteeredLimit(), 6040);
  Ticks(5);
  EXPECT_TRUE(session.upload_limits.empty());
  Ticks(1);
  EXPECT_EQ(session.upload_limits, std::vector<int>{8088});
  Ticks(18);
  EXPECT_EQ(session.upload_limits, (std::vector<int>{8088, 10136, 10240, 10240}));
  EXPECT_EQ(t1->Chart().Gauge(client::ChartGauge::Upload).marker, 10240.0);
}

TEST_F(MainTimerTest, HeavyUploadPullsTheLimitDownToHalfOfMaxUploadRate) {
  timer.Settings().max_upload_rate = 10240;
  timer.SetSteeredLimit(client::InitialSteeredLimit(10240));
  session.figures.upload_rate = 20000;
  session.figures.num_peers = 10;
  // estimate 10 * 30 + 625 + 20000 = 20925, step -2137
  Ticks(6);
  EXPECT_EQ(session.upload_limits, std::vector<int>{5120});
  Ticks(6);
  EXPECT_EQ(session.upload_limits, (std::vector<int>{5120, 5120}));
  EXPECT_EQ(client::InitialSteeredLimit(-1), 4096);
}

TEST_F(MainTimerTest, TheDhtsTrafficCountsAndTheChartsTakeTheSamples) {
  timer.Settings().max_upload_rate = 10240;
  timer.Settings().show_diagram = true;
  timer.SetSteeredLimit(6040);
  input.dht = &dht;
  session.figures.upload_rate = 2500;
  session.figures.download_rate = 800;
  session.figures.num_peers = 4;
  dht.figures.upload_rate = 500;
  dht.figures.download_rate = 200;
  dht.figures.records = 17;
  dht.figures.record_limit = 5000;
  client::MainTimerResult result = Ticks(5);
  EXPECT_EQ(*result.caption, L"Quillfern 2/4 - 0/0MB - DHT 0/0");
  result = Ticks(1);
  // up 3000, down 1000: estimate 50 + (120 + 93.75) + 3000 = 3263, step 1395
  EXPECT_EQ(session.upload_limits, std::vector<int>{7435});
  EXPECT_TRUE(result.invalidate);
  EXPECT_EQ(*result.caption, L"Quillfern 2/4 - 0/0MB - DHT 17/5000");
  const std::vector<float> newest = {4, 3000, 1000, 500, 200};
  for (int i = 0; i < client::kProgressionChartCount; ++i) {
    EXPECT_EQ(timer.Charts()[i][199], newest[i]) << i;
    EXPECT_EQ(timer.Charts()[i][198], 0.0f) << i;
  }
  session.figures.num_peers = 5;
  Ticks(6);
  EXPECT_EQ(timer.Charts()[0][198], 4.0f);
  EXPECT_EQ(timer.Charts()[0][199], 5.0f);
}

TEST_F(MainTimerTest, UnlimitedUploadIsNeitherSteeredNorCharted) {
  timer.Settings().show_diagram = true;
  input.dht = &dht;
  dht.figures.records = 17;
  session.figures.upload_rate = 5000;
  const client::MainTimerResult result = Ticks(12);
  EXPECT_TRUE(session.upload_limits.empty());
  for (const auto& chart : timer.Charts())
    for (float sample : chart) EXPECT_EQ(sample, 0.0f);
  EXPECT_EQ(*result.caption, L"Quillfern 2/4 - 0/0MB - DHT 0/0");
}

// --- while nothing is connected

TEST_F(MainTimerTest, QuietReannounceAfterMoreThanHalfAnHour) {
  tick.Set(kStart + 1800000);
  timer.Tick(input);
  EXPECT_EQ(Reannounces(1), 0);
  tick.Advance(1);
  timer.Tick(input);
  EXPECT_EQ(Reannounces(1), 1);
  EXPECT_EQ(Reannounces(2), 0);
  EXPECT_EQ(sink.log, std::vector<std::wstring>{L"0 peers - reannounce enforced"});
  tick.Advance(1800000);
  timer.Tick(input);
  EXPECT_EQ(Reannounces(1), 1);
}

TEST_F(MainTimerTest, PeriodicSaveAfterFourHoursOfQuietInFileModeOnly) {
  const temp_folder folder("qf_main_timer_");
  timer.Settings().list_file = folder / "TorrentQueue.txt";
  // With a peer connected nothing happens, however long it has been.
  session.figures.num_peers = 1;
  tick.Set(kStart + 20000000);
  timer.Tick(input);
  EXPECT_FALSE(std::filesystem::exists(timer.Settings().list_file));
  EXPECT_EQ(Reannounces(1), 0);

  session.figures.num_peers = 0;
  timer.Settings().database = true;
  timer.Tick(input);
  EXPECT_FALSE(std::filesystem::exists(timer.Settings().list_file));
  EXPECT_EQ(Reannounces(1), 1);

  timer.Settings().database = false;
  timer.Tick(input);
  EXPECT_TRUE(std::filesystem::exists(timer.Settings().list_file));
}

// --- caption and tray tip

TEST_F(MainTimerTest, CaptionWithAndWithoutItsParts) {
  session.figures.total_payload_download = 3 * 1048576 + 1048575;
  session.figures.total_payload_upload = 1048576;
  EXPECT_EQ(*timer.Tick(input).caption, L"Quillfern 2/4 - 3/1MB");
  timer.Settings().database = true;
  EXPECT_EQ(*timer.Tick(input).caption, L"Quillfern 2/4 - 3/1MB - DB");
  // Without a session only the caption's own parts remain.
  input.session = nullptr;
  input.dht = &dht;
  input.active_count = 0;
  EXPECT_EQ(*timer.Tick(input).caption, L"Quillfern 0/4 - DB - DHT 0/0");
}

TEST_F(MainTimerTest, TheTrayTipFollowsANewStatusTextCutTo127Characters) {
  client::MainTimerResult result = timer.Tick(input);
  EXPECT_FALSE(result.tray_tip);
  sink.status = L"hello";
  result = timer.Tick(input);
  EXPECT_EQ(*result.tray_tip, L"Quillfern 2/4\nhello");
  EXPECT_TRUE(result.invalidate);
  result = timer.Tick(input);
  EXPECT_FALSE(result.tray_tip);
  EXPECT_FALSE(result.invalidate);

  sink.status = std::wstring(200, L'x');
  result = timer.Tick(input);
  ASSERT_EQ(result.tray_tip->size(), client::kTrayTipLength);
  EXPECT_EQ(*result.tray_tip, L"Quillfern 2/4\n" + std::wstring(127 - 14, L'x'));

  sink.status.clear();
  result = timer.Tick(input);
  EXPECT_FALSE(result.tray_tip);
  EXPECT_TRUE(result.invalidate);
}

// A fault ends the rest of the tick, is logged with its text and where it
// happened, and the next tick runs (one alert's fault costs only that
// alert: MainTimerAlerts).
TEST_F(MainTimerTest, AFaultIsLoggedWithItsTextAndTheTimerGoesOn) {
  session.failing = true;
  const client::MainTimerResult result = timer.Tick(input);
  EXPECT_FALSE(result.caption);
  EXPECT_EQ(sink.log.back(), L"Unexpected error in the main timer: session closing");
  session.failing = false;
  EXPECT_EQ(*timer.Tick(input).caption, L"Quillfern 2/4 - 0/0MB");
}

}  // namespace

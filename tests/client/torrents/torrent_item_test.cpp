#include "client/torrents/torrent_item.h"

#include "client/common/tick.h"
#include "engine/formats/sha1.h"
#include "tests/engine/storage/storage_test_support.h"
#include "torrent_test_support.h"

#include <gtest/gtest.h>

#include <cmath>
#include <iterator>

using client::FakeTick;
using client::TorrentItem;
using client::TorrentStatus;
using namespace client_test;

namespace {

class Item : public ::testing::Test {
 protected:
  FakeTorrent& Engine() { return fake.At(FakeTorrentControl::Hash(1)); }

  FakeTick tick;
  FakeTorrentControl fake;
  RecordingEvents events;
  RecordingView view;  // outlives the item, which tells it when it goes
  std::unique_ptr<TorrentItem> item = MakeTorrent(fake, events, 1);
};

TEST_F(Item, StartResumesTheEngineTorrentAndPostsOnlyWhenAsked) {
  item->SetView(&view);
  EXPECT_TRUE(item->Start(false));
  EXPECT_FALSE(Engine().paused);
  EXPECT_EQ(item->Status(), TorrentStatus::Downloading);
  EXPECT_TRUE(events.events.empty());

  Engine().paused = true;
  EXPECT_TRUE(item->Start(true));
  ASSERT_EQ(events.events.size(), 1u);
  EXPECT_EQ(events.events[0].kind, "started");
  EXPECT_EQ(events.events[0].status, TorrentStatus::Downloading);
  // Running already: nothing to tell.
  EXPECT_TRUE(item->Start(true));
  EXPECT_EQ(events.events.size(), 1u);
  EXPECT_EQ(view.timers, 1);
}

TEST_F(Item, StartIsRefusedWhileTheUserPausedIt) {
  ASSERT_TRUE(item->Start(false));
  item->UserPause();
  EXPECT_FALSE(item->Start(true));
  EXPECT_FALSE(item->IsStarted());
  EXPECT_EQ(item->Status(), TorrentStatus::Paused);
  EXPECT_TRUE(Engine().paused);
}

TEST_F(Item, ATorrentTheEngineLostFailsToStart) {
  auto named = std::make_unique<TorrentItem>(L"/d/ubuntu-22.04.iso.torrent", L"u", events);
  EXPECT_FALSE(named->Start(false));
  EXPECT_FALSE(named->IsStarted());
  EXPECT_EQ(named->Status(), TorrentStatus::Error);
  EXPECT_EQ(events.log, std::vector<std::wstring>{L"ubuntu-22....: torrent is not valid."});

  Engine().failing = {"resume"};
  EXPECT_FALSE(item->Start(false));
  EXPECT_EQ(item->Status(), TorrentStatus::Error);
}

TEST_F(Item, UserPauseAndQueueTellOnlyWhenTheTorrentRan) {
  item->UserPause();
  EXPECT_TRUE(events.events.empty());
  EXPECT_TRUE(item->IsUserPaused());
  item->UserQueue();
  EXPECT_TRUE(events.events.empty());
  ASSERT_TRUE(item->Start(false));
  item->UserPause();
  ASSERT_EQ(events.events.size(), 1u);
  EXPECT_EQ(events.events[0].status, TorrentStatus::Paused);
  EXPECT_TRUE(Engine().paused);

  item->UserQueue();
  EXPECT_FALSE(item->IsUserPaused());
  EXPECT_EQ(events.events.size(), 1u);
}

TEST(Duration, Texts) {
  using client::FormatDuration;
  EXPECT_EQ(FormatDuration(4 * 3600 + 59, true), L"4:00:59");
  EXPECT_EQ(FormatDuration(4 * 3600 + 59 * 60, true), L"4:59:00");
  EXPECT_EQ(FormatDuration(5 * 3600, true), L"5h");
  EXPECT_EQ(FormatDuration(25 * 3600, true), L"1d");
  EXPECT_EQ(FormatDuration(241 * 3600, true), L"oo");
  EXPECT_EQ(FormatDuration(241 * 3600, false), L"10d");
}

TEST_F(Item, SeedingTimeGoalKeepsAStoredTimeUnlessForced) {
  item->SetSeedingTime(1800000, false);  // unset: taken
  EXPECT_EQ(item->Goal().time, 1800000u);
  EXPECT_EQ(item->SeedingStart(), tick.Now());
  tick.Advance(5000);
  item->SetSeedingTime(3600000, false);
  EXPECT_EQ(item->Goal().time, 1800000u);
  EXPECT_EQ(item->SeedingStart(), tick.Now());  // the clock restarts
  // The gauge spans the goal in force.
  EXPECT_EQ(item->Chart().Gauge(client::ChartGauge::Time).maximum, 1800000.0);
  item->SetSeedingTime(0, true);
  EXPECT_EQ(item->Goal().time, 0u);
  EXPECT_EQ(item->Chart().Gauge(client::ChartGauge::Time).maximum, 1.0);
}

TEST_F(Item, SeedingTimeGoalStopsOnlyOnceItIsPassed) {
  ASSERT_TRUE(item->Start(false));
  item->SetStatus(TorrentStatus::Seeding);
  item->SetSeedingTime(4 * 3600000 + 61000, true);
  const engine::torrent_status st;
  EXPECT_EQ(item->SeedingGoalTick(st, TorrentStatus::Downloading), L"oo");
  tick.Advance(2000);
  EXPECT_EQ(item->SeedingGoalTick(st, TorrentStatus::Seeding), L"4:00:59");
  EXPECT_EQ(item->Chart().Gauge(client::ChartGauge::Time).value, 4 * 3600000 + 59000);

  tick.Advance(4 * 3600000 + 59000);  // elapsed equals the goal
  EXPECT_TRUE(item->SeedingGoalTick(st, TorrentStatus::Seeding).has_value());
  EXPECT_TRUE(events.events.empty());
  tick.Advance(1);
  EXPECT_FALSE(item->SeedingGoalTick(st, TorrentStatus::Seeding).has_value());
  EXPECT_TRUE(item->IsComplete());
  EXPECT_FALSE(item->IsStarted());
  EXPECT_TRUE(Engine().paused);
  EXPECT_EQ(item->Status(), TorrentStatus::Seeding);
  ASSERT_EQ(events.events.size(), 1u);
  EXPECT_EQ(events.events[0].kind, "stopped");
  EXPECT_EQ(events.events[0].status, TorrentStatus::Seeding);
}

TEST_F(Item, SeedingForeverNeverStops) {
  item->SetSeedingTime(0, true);
  tick.Advance(0x7FFFFFFF);
  EXPECT_EQ(item->SeedingGoalTick({}, TorrentStatus::Seeding), L"oo");
  EXPECT_FALSE(item->IsComplete());
}

TEST_F(Item, SeedingRatioGoalStopsOnlyAboveTheTarget) {
  item->SetSeedingRatio(2.0, true);
  item->SetSeedingRatio(3.0, false);  // a stored ratio survives
  EXPECT_EQ(item->Goal().ratio, 2.0);
  EXPECT_EQ(item->Goal().mode, client::SeedingMode::ByRatio);
  EXPECT_EQ(item->Chart().Gauge(client::ChartGauge::Time).maximum, 2.0);

  engine::torrent_status st;
  st.total_payload_upload = 2000;
  st.total_payload_download = 999;  // ratio exactly 2.0
  EXPECT_EQ(item->SeedingGoalTick(st, TorrentStatus::Seeding), L"oo");  // nothing uploads
  st.upload_payload_rate = 100;
  EXPECT_TRUE(item->SeedingGoalTick(st, TorrentStatus::Seeding).has_value());
  EXPECT_FALSE(item->IsComplete());
  item->SetEarlierTotals(1, 0);
  EXPECT_FALSE(item->SeedingGoalTick(st, TorrentStatus::Seeding).has_value());
  EXPECT_TRUE(item->IsComplete());
}

TEST_F(Item, ARatioOfZeroGivesTheGaugeAFullScaleOfOne) {
  item->SetSeedingRatio(0.0, true);
  const auto& gauge = item->Chart().Gauge(client::ChartGauge::Time);
  EXPECT_EQ(gauge.maximum, 1.0);
  EXPECT_TRUE(std::isfinite(gauge.factor));
  EXPECT_EQ(item->SeedingGoalTick({}, TorrentStatus::Seeding), L"oo");
}

TEST_F(Item, BitCometUdpSchemeTogglesOnUdpTrackersOnly) {
  Engine().trackers = {{"udp://a:80/announce", 0}, {"http://b/announce", 1}};
  item->SetBitCometUdp(true);
  item->ApplyUdpTrackerScheme();
  EXPECT_TRUE(item->HasUdpTracker());
  EXPECT_EQ(Engine().trackers[0].url, "bcudp://a:80/announce");
  EXPECT_EQ(Engine().trackers[1].url, "http://b/announce");
  item->SetBitCometUdp(false);
  item->ApplyUdpTrackerScheme();
  EXPECT_EQ(Engine().trackers[0].url, "udp://a:80/announce");

  Engine().failing = {"replace_trackers"};
  item->ApplyUdpTrackerScheme();
  EXPECT_EQ(events.log, std::vector<std::wstring>{L"t1.torrent...: Fatal Error: Exception"});
}

TEST_F(Item, SettingsGoToTheEngine) {
  item->SetLimits({5000, 7000});
  ChangeGoal(*item, [](auto& goal) { goal.peer_ratio = 1.5; });
  item->ApplySettings();
  EXPECT_EQ(Engine().upload_limit, 5000);
  EXPECT_EQ(Engine().download_limit, 7000);
  EXPECT_EQ(Engine().ratio, 1.5f);
}

TEST(ItemInfo, HexAndRateScale) {
  RecordingEvents events;
  FakeTorrentControl fake;
  auto item = MakeTorrent(fake, events, 0xAB);
  EXPECT_EQ(item->GetInfoHashHex(), L"AB000000000000000000000000000000000000A5");
  item->SetRateScale(20480.7, 1e12);
  EXPECT_EQ(item->RateScaleUp(), 20480);
  EXPECT_EQ(item->RateScaleDown(), 2147483647);
  EXPECT_EQ(item->Chart().Gauge(client::ChartGauge::Upload).maximum, 20480.7);
}

TEST(ItemFiles, RemoveTriesEveryFile) {
  storage_test::temp_dir dir;
  RecordingEvents events;
  const std::string path = dir / "x.torrent";
  for (const char* suffix : {"", ".ResumeData", ".log.txt"}) storage_test::write_text(path + suffix, "x");
  TorrentItem item(std::wstring(path.begin(), path.end()), L"x", events);
  EXPECT_FALSE(item.Remove());  // no ".FilterData"
  EXPECT_TRUE(std::filesystem::is_empty(dir.path()));
}

// Re-adding runs on a real .torrent file in the data folder.
class ReAdd : public ::testing::Test {
 protected:
  ReAdd() {
    engine::torrent_metainfo info = source.info;
    const engine::entry file = info.build_torrent_dictionary();
    std::string bytes;
    engine::bencode(std::back_inserter(bytes), file);
    storage_test::write_text(path, bytes);
    item = std::make_unique<TorrentItem>(std::wstring(path.begin(), path.end()), L"r", events);
    item->SetSession(&fake);
    FakeTorrent t;
    t.paused = false;
    t.trackers = {{"http://edited/announce", 0}};
    t.filtered = {false, true, false};
    t.resume_data = engine::entry(engine::entry::dictionary_type{{"file-format", engine::entry("x")}});
    t.save_path = dir.path();
    t.removal_polls = 3;
    item->Attach(fake.Put(info.info_hash(), t));
    hash = info.info_hash();
    item->SetStatus(TorrentStatus::Downloading);
    EXPECT_TRUE(item->Start(false));
  }
  FakeTorrent& Engine() { return fake.At(hash); }

  FakeTick tick;
  storage_test::temp_dir dir;
  storage_test::test_torrent source{{{"r.bin", 40000}}, 16384, 3};
  std::string path = dir / "r.torrent";
  FakeTorrentControl fake;
  RecordingEvents events;
  std::unique_ptr<TorrentItem> item;
  engine::sha1_hash hash;
};

TEST_F(ReAdd, TheTorrentComesBackWithItsSelectionTrackersLoginAndLimits) {
  item->SetTrackerLogin("user", "secret");
  ChangeLimits(*item, [](auto& limits) { limits.upload = 4096; });
  ASSERT_TRUE(item->ReAdd());
  EXPECT_TRUE(item->ReAddPending());
  EXPECT_TRUE(Engine().paused);
  EXPECT_TRUE(Engine().removing);
  // Still one of the running torrents while it is away.
  EXPECT_TRUE(item->IsActive());
  item->ApplySettings();  // the dialog's OK comes right after
  EXPECT_FALSE(item->ReAdd());

  item->StepReAdd();  // the engine holds it for two more looks
  item->StepReAdd();
  EXPECT_EQ(fake.adds, 0);
  item->StepReAdd();
  ASSERT_FALSE(item->ReAddPending());
  ASSERT_EQ(fake.adds, 1);
  const FakeTorrent& t = Engine();
  EXPECT_FALSE(t.compact_mode);
  EXPECT_EQ(t.block_size, 16384);
  EXPECT_EQ(t.save_path, dir.path());
  EXPECT_EQ(t.resume_data["file-format"].string(), "x");
  EXPECT_EQ(t.filtered, (std::vector<bool>{false, true, false}));
  ASSERT_EQ(t.trackers.size(), 1u);
  EXPECT_EQ(t.trackers[0].url, "http://edited/announce");
  EXPECT_EQ(t.login_name, "user");
  EXPECT_EQ(t.login_password, "secret");
  EXPECT_EQ(t.upload_limit, 4096);
  EXPECT_FALSE(t.paused);
  EXPECT_TRUE(item->HasFilteredPieces());
  EXPECT_FALSE(item->ReAdd());  // once it has unwanted pieces
  EXPECT_TRUE(events.log.empty());
}

TEST_F(ReAdd, APausedTorrentStaysPausedAndAUserPauseMeanwhileHolds) {
  Engine().paused = true;
  ASSERT_TRUE(item->ReAdd());
  EXPECT_FALSE(item->IsActive());
  ASSERT_TRUE(item->Start(true));  // "Resume" while it is away
  EXPECT_EQ(events.events.size(), 1u);
  item->UserPause();
  EXPECT_EQ(events.events.size(), 2u);
  for (int i = 0; i < 3; ++i) item->StepReAdd();
  ASSERT_EQ(fake.adds, 1);
  EXPECT_TRUE(Engine().paused);
}

TEST_F(ReAdd, GivesUpWhenTheEngineKeepsTheTorrent) {
  Engine().removal_polls = -1;
  ASSERT_TRUE(item->ReAdd());
  tick.Advance(client::kReAddTimeoutMs - 1);
  item->StepReAdd();
  EXPECT_TRUE(item->ReAddPending());
  tick.Advance(1);
  item->StepReAdd();
  EXPECT_FALSE(item->ReAddPending());
  EXPECT_EQ(item->Status(), TorrentStatus::Error);
  EXPECT_FALSE(item->IsStarted());
  EXPECT_EQ(fake.adds, 0);
  EXPECT_EQ(events.log.size(), 1u);
}

TEST_F(ReAdd, AFailedAddLeavesAnError) {
  fake.fail_next_add = "no files in torrent";
  ASSERT_TRUE(item->ReAdd());
  for (int i = 0; i < 3; ++i) item->StepReAdd();
  EXPECT_FALSE(item->ReAddPending());
  EXPECT_EQ(item->Status(), TorrentStatus::Error);
  EXPECT_FALSE(item->IsStarted());
  EXPECT_FALSE(item->IsValid());
  EXPECT_FALSE(item->HasFilteredPieces());
  ASSERT_EQ(events.log.size(), 1u);
  EXPECT_EQ(events.log[0], L"r.torrent...: failed to add the torrent again: no files in torrent");
}

TEST_F(ReAdd, ATorrentTheEngineRefusedLeavesNoFilesBehind) {
  auto side_files = [&] {
    int count = 0;
    for (const char* suffix : {"", ".ResumeData", ".log.txt", ".FilterData"})
      count += std::filesystem::exists(path + suffix);
    return count;
  };
  for (const char* suffix : {".ResumeData", ".log.txt", ".FilterData"}) storage_test::write_text(path + suffix, "x");
  // A file error of a torrent the engine keeps: the files stay.
  item->StopOnFileError();
  EXPECT_EQ(side_files(), 4);
  // One it let go of, re-added or restored at start: they stay too.
  ASSERT_TRUE(item->ReAdd());
  for (int i = 0; i < 3; ++i) item->StepReAdd();
  Engine().gone = true;
  item->StopOnFileError();
  EXPECT_EQ(side_files(), 4);
  auto other = [&] {
    auto made = std::make_unique<TorrentItem>(std::wstring(path.begin(), path.end()), L"r", events);
    made->SetSession(&fake);
    made->Attach(item->Handle());
    return made;
  };
  auto restored = other();
  restored->MarkRestored();
  restored->StopOnFileError();
  EXPECT_EQ(side_files(), 4);

  // Added in this run and let go of at its check: refused.
  auto added = other();
  added->StopOnFileError();
  EXPECT_EQ(added->Status(), TorrentStatus::Error);
  EXPECT_EQ(side_files(), 0);
}

TEST_F(ReAdd, AnInfoDictionaryInAnotherKeyOrderComesBackUnderTheHashOfItsBytes) {
  // The same torrent, its info keys written "name", "length", "piece
  // length", "pieces".
  const engine::entry canonical = source.info.build_info_dictionary();
  const std::string info = "d4:name5:r.bin6:lengthi40000e12:piece lengthi16384e6:pieces60:" +
                           canonical["pieces"].string() + "e";
  storage_test::write_text(path, "d8:announce12:http://t/ann4:info" + info + "e");
  const engine::sha1_hash raw_hash = engine::hasher(info.data(), static_cast<int>(info.size())).final();
  ASSERT_NE(raw_hash, hash);

  ASSERT_TRUE(item->ReAdd());
  for (int look = 0; look < 3; ++look) item->StepReAdd();
  ASSERT_FALSE(item->ReAddPending());
  EXPECT_EQ(item->Handle().info_hash(), raw_hash);
  ASSERT_TRUE(fake.At(raw_hash).info.has_value());
  EXPECT_EQ(fake.At(raw_hash).info->info_dictionary_bytes(), info);
}

TEST_F(ReAdd, AnUnreadableTorrentFileLeavesTheTorrentRunning) {
  storage_test::write_text(path, "not bencoded");
  EXPECT_FALSE(item->ReAdd());
  EXPECT_FALSE(item->ReAddPending());
  EXPECT_FALSE(Engine().paused);
  EXPECT_FALSE(Engine().removing);
  EXPECT_EQ(events.log.size(), 1u);
}

}  // namespace

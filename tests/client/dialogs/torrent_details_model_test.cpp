#include "client/dialogs/torrent_details_model.h"

#include "client/common/tick.h"
#include "client/net/host_lookup.h"
#include "tests/engine/storage/storage_test_support.h"
#include "tests/support/wait.h"
#include "tests/client/torrents/torrent_test_support.h"

#include <gtest/gtest.h>

#include <atomic>
#include <condition_variable>
#include <iterator>
#include <mutex>

using client::NumberRead;
using client::RatioRead;
using client::TorrentDetailsModel;
using client::TorrentItem;
using namespace client_test;
namespace id = client::details_id;

namespace {

TEST(DetailsConversions, NumbersAreReadInRangeOrRefused) {
  EXPECT_EQ(client::ReadUnsigned(L" 12 KB", 100).value, 12u);
  EXPECT_EQ(client::ReadUnsigned(L"+3", 100).kind, NumberRead::Value);
  EXPECT_EQ(client::ReadUnsigned(L"-5", 100).kind, NumberRead::Refused);
  EXPECT_EQ(client::ReadUnsigned(L"101", 100).kind, NumberRead::Refused);
  EXPECT_EQ(client::ReadUnsigned(L"99999999999999999999999", client::kMaxRateLimitKb).kind, NumberRead::Refused);
  EXPECT_EQ(client::ReadUnsigned(L"auto", 100).kind, NumberRead::None);
  EXPECT_EQ(client::ReadUnsigned(L"", 100).kind, NumberRead::None);
  EXPECT_EQ(client::ReadUnsigned(L"-", 100).kind, NumberRead::None);

  EXPECT_EQ(client::ReadRatio(L" 1.25").value, 1.25);
  EXPECT_EQ(client::ReadRatio(L"1,5").value, 1.5);  // a decimal comma reads as the point
  EXPECT_EQ(client::ReadRatio(L"1.5,5").value, 1.5);
  EXPECT_EQ(client::ReadRatio(L"off").kind, RatioRead::None);
  EXPECT_EQ(client::ReadRatio(L"-1").kind, RatioRead::Refused);
  EXPECT_EQ(client::ReadRatio(L"1e400").kind, RatioRead::Refused);
  EXPECT_EQ(client::ReadRatio(L"1e300").kind, RatioRead::Refused);  // no float holds it
  EXPECT_EQ(client::ReadRatio(L"1000000").kind, RatioRead::Value);

  EXPECT_EQ(client::LimitText(-1), L"auto");
  EXPECT_EQ(client::LimitText(1023), L"0");
  EXPECT_EQ(client::LimitText(2147483647), L"2097151");
  EXPECT_EQ(client::SeedingTimeText(0), L"no limit");
  EXPECT_EQ(client::SeedingTimeText(90500), L"90");
  EXPECT_EQ(client::SeedingTimeText(client::kSeedingTimeUnset), L"");
  EXPECT_EQ(client::RatioText(0), L"off");
  EXPECT_EQ(client::RatioText(1.5), L"1.50");
}

TEST(DetailsConversions, TrackerHosts) {
  EXPECT_EQ(client::TrackerHost("http://tracker.example.org:6969/announce"), "tracker.example.org");
  EXPECT_EQ(client::TrackerHost("udp://10.0.0.7:80"), "10.0.0.7");
  EXPECT_EQ(client::TrackerHost("https://a.example/x"), "a.example");
  EXPECT_EQ(client::TrackerHost("bcudp://h.example:1/"), "h.example");
  EXPECT_EQ(client::TrackerHost("http://host\\announce"), "host");
  EXPECT_EQ(client::TrackerHost("udp://dht:6881"), "dht");
  EXPECT_EQ(client::TrackerHost("http://"), "");
  EXPECT_EQ(client::TrackerHost("tracker/announce"), "");
  EXPECT_EQ(client::TrackerHost("http:/x"), "");
}

TEST(DetailsFileWalk, SharesOfFinishedPieces) {
  using V = std::vector<double>;
  // A file of exactly one piece: the next file starts in the next piece.
  EXPECT_EQ(client::FileDonePercent({100, 50}, 100, {true, false}), (V{100, 0}));
  EXPECT_EQ(client::FileDonePercent({100, 50}, 100, {false, true}), (V{0, 100}));
  // Size 0 is done, wherever it lies.
  EXPECT_EQ(client::FileDonePercent({100, 0, 50}, 100, {false, false}), (V{0, 100, 0}));
  // A short last piece.
  EXPECT_EQ(client::FileDonePercent({250}, 100, {false, false, true}), (V{20}));
  EXPECT_EQ(client::FileDonePercent({250}, 100, {true, true, true}), (V{100}));
  // Files sharing pieces.
  EXPECT_EQ(client::FileDonePercent({30, 170}, 100, {true, false}), (V{100, 70.0 * 100 / 170}));
  // No piece bits (no metadata yet): nothing done.
  EXPECT_EQ(client::FileDonePercent({30}, 100, {}), (V{0}));

  // A file is wanted while none of its pieces is marked not wanted.
  EXPECT_EQ(client::FileWantedMarks({100, 50}, 100, {true, false}), (std::vector<bool>{false, true}));
  EXPECT_EQ(client::FileWantedMarks({120, 30, 0}, 100, {false, true}), (std::vector<bool>{false, false, true}));
}

// A torrent with metadata over the fake session, its .torrent in a data
// folder (a re-add reads it).
class Details : public ::testing::Test {
 protected:
  void SetUp() override { Make(source); }
  void Make(storage_test::test_torrent& t) {
    engine::torrent_metainfo info = t.info;
    std::string bytes;
    engine::bencode(std::back_inserter(bytes), info.build_torrent_dictionary());
    storage_test::write_text(path, bytes);
    item = std::make_unique<TorrentItem>(std::wstring(path.begin(), path.end()), L"Linux ISO", events);
    item->SetSession(&fake);
    FakeTorrent engine_torrent;
    engine_torrent.paused = false;
    engine_torrent.info = info;
    engine_torrent.filtered.assign(std::size_t(info.num_pieces()), false);
    engine_torrent.trackers = {{"http://tracker.example:6969/announce", 0}, {"udp://dht:6881", 1}};
    engine_torrent.status.upload_rate = 200000;
    item->Attach(fake.Put(info.info_hash(), engine_torrent));
    hash = info.info_hash();
    item->SetStatus(client::TorrentStatus::Downloading);
  }
  FakeTorrent& Engine() { return fake.At(hash); }

  client::FakeTick tick;
  storage_test::temp_dir dir;
  // Three files over pieces of 100 bytes: 0-99 | 100-199 | 200-349.
  storage_test::test_torrent source{{{"iso/a.bin", 100}, {"iso/b.bin", 100}, {"iso/c.bin", 150}}, 100, 7};
  std::string path = dir / "d.torrent";
  FakeTorrentControl fake;
  RecordingEvents events;
  std::unique_ptr<TorrentItem> item;
  engine::sha1_hash hash;
};

TEST_F(Details, ShowsTheSettingsAndStepsThem) {
  item->SetLimits({-1, 10240});
  client_test::ChangeGoal(*item, [](auto& goal) {
    goal.time = 240000;
    goal.peer_ratio = 1.25;
  });
  TorrentDetailsModel model(*item);
  EXPECT_EQ(model.Caption(), L"Linux ISO Properties (Compact)");
  EXPECT_EQ(model.EditText(id::kUploadLimit), L"auto");
  EXPECT_EQ(model.EditText(id::kDownloadLimit), L"10");
  EXPECT_EQ(model.EditText(id::kSeedingTime), L"240");
  EXPECT_EQ(model.EditText(id::kSeedingRatio), L"1.00");
  EXPECT_EQ(model.EditText(id::kPeerRatio), L"1.25");
  EXPECT_TRUE(model.IsEnabled(id::kSeedingTimeUp));
  EXPECT_FALSE(model.IsEnabled(id::kSeedingRatioDown));
  model.SetSeedingMode(1);
  EXPECT_FALSE(model.IsEnabled(id::kSeedingTime));
  EXPECT_TRUE(model.IsEnabled(id::kSeedingRatioDown));

  // Upload rate 200000 B/s: steps of 20000; "+" on auto starts from -1.
  EXPECT_EQ(model.Step(id::kUploadUp), id::kUploadLimit);
  EXPECT_EQ(model.EditText(id::kUploadLimit), L"19");
  // Download: no traffic, steps of 1024; a step above the value is auto.
  model.SetEditText(id::kDownloadLimit, L"0");
  model.Step(id::kDownloadDown);
  EXPECT_EQ(model.EditText(id::kDownloadLimit), L"auto");
  model.Step(id::kDownloadUp);
  EXPECT_EQ(model.EditText(id::kDownloadLimit), L"0");  // 1023 bytes/s
  model.SetEditText(id::kDownloadLimit, L"-5");  // unreadable: auto
  model.Step(id::kDownloadDown);
  EXPECT_EQ(model.EditText(id::kDownloadLimit), L"auto");
  // Four minutes less five is no limit.
  model.Step(id::kSeedingTimeDown);
  EXPECT_EQ(model.EditText(id::kSeedingTime), L"no limit");
  model.Step(id::kSeedingTimeUp);
  EXPECT_EQ(model.EditText(id::kSeedingTime), L"300");
  // The peer ratio is off below 1.
  model.Step(id::kPeerRatioDown);
  EXPECT_EQ(model.EditText(id::kPeerRatio), L"off");
  model.Step(id::kPeerRatioUp);
  EXPECT_EQ(model.EditText(id::kPeerRatio), L"1.00");
  model.SetEditText(id::kSeedingRatio, L"0.5");
  model.Step(id::kSeedingRatioDown);
  EXPECT_EQ(model.EditText(id::kSeedingRatio), L"off");
  model.Step(id::kSeedingRatioUp);
  EXPECT_EQ(model.EditText(id::kSeedingRatio), L"0.50");
}

TEST_F(Details, OkRefusesBadValuesAndKeepsWhatWasNotTouched) {
  client_test::ChangeLimits(*item, [](auto& limits) { limits.upload = 1500; });  // shows 1
  TorrentDetailsModel model(*item);
  model.SetEditText(id::kDownloadLimit, L"-5");
  ASSERT_TRUE(model.Check());
  EXPECT_EQ(model.Check()->id, id::kDownloadLimit);
  model.SetEditText(id::kDownloadLimit, L"2097152");  // x1024 is past 32 bits
  EXPECT_EQ(model.Check()->id, id::kDownloadLimit);
  model.SetEditText(id::kDownloadLimit, L"2097151");
  model.SetEditText(id::kSeedingTime, L"4294968");  // x1000 is past 32 bits
  EXPECT_EQ(model.Check()->id, id::kSeedingTime);
  model.SetEditText(id::kSeedingTime, L"");
  model.SetEditText(id::kPeerRatio, L"-0.5");
  EXPECT_EQ(model.Check()->id, id::kPeerRatio);
  model.SetEditText(id::kPeerRatio, L"2");
  ASSERT_FALSE(model.Check());

  model.Apply();
  EXPECT_EQ(item->Limits().upload, 1500);
  EXPECT_EQ(item->Limits().download, 2147482624);
  EXPECT_EQ(item->Goal().time, client::kSeedingTimeUnset);  // shown empty, left empty
  EXPECT_EQ(item->Goal().peer_ratio, 2.0);
  EXPECT_EQ(Engine().upload_limit, 1500);
  EXPECT_EQ(Engine().download_limit, 2147482624);
  EXPECT_EQ(Engine().ratio, 2.0f);
}

TEST_F(Details, TrackerRowsLookUpTheirHostsAndDropAnswersForRowsThatWent) {
  TorrentDetailsModel model(*item);
  ASSERT_EQ(model.Trackers().size(), 2u);
  EXPECT_EQ(model.Trackers()[0].tier, L"0");
  EXPECT_EQ(model.Trackers()[1].tier, L"1");
  auto lookups = model.TakeLookups();
  ASSERT_EQ(lookups.size(), 1u);  // none for the dht row
  EXPECT_EQ(lookups[0].host, "tracker.example");
  EXPECT_EQ(model.Trackers()[1].ip, L"");

  // An answer for the row as it is shows; a second answer finds nothing.
  EXPECT_EQ(model.HostResolved(lookups[0].key, std::string("10.1.2.3")), 0);
  EXPECT_EQ(model.Trackers()[0].ip, L"10.1.2.3");
  EXPECT_EQ(model.HostResolved(lookups[0].key, std::nullopt), -1);

  // A new URL asks again; the answer of the old one is dropped.
  const int row = model.AppendTracker();
  EXPECT_EQ(model.Trackers()[std::size_t(row)].url, L"http://");
  EXPECT_TRUE(model.TakeLookups().empty());
  EXPECT_EQ(model.EditTracker(row, client::kTrackerUrl, L"udp://one.example:80"), std::vector<int>{row});
  const auto first = model.TakeLookups();
  model.EditTracker(row, client::kTrackerUrl, L"udp://two.example:80");
  const auto second = model.TakeLookups();
  ASSERT_EQ(second.size(), 1u);
  EXPECT_EQ(second[0].host, "two.example");
  EXPECT_EQ(model.HostResolved(first[0].key, std::string("10.0.0.1")), -1);
  EXPECT_EQ(model.HostResolved(second[0].key, std::nullopt), row);
  EXPECT_EQ(model.Trackers()[std::size_t(row)].ip, L"failed");

  // A row removed while its lookup is under way: the answer is dropped.
  model.EditTracker(0, client::kTrackerUrl, L"http://three.example/announce");
  const auto third = model.TakeLookups();
  model.EditTracker(0, client::kTrackerUrl, L"");
  EXPECT_EQ(model.Trackers().size(), 2u);
  EXPECT_EQ(model.HostResolved(third[0].key, std::string("10.0.0.3")), -1);

  // One login for all rows.
  EXPECT_EQ(model.EditTracker(1, client::kTrackerUser, L"me"), (std::vector<int>{0, 1}));
  EXPECT_EQ(model.Trackers()[0].user, L"me");
}

TEST_F(Details, AnUnchangedOkDoesNotReAdd) {
  TorrentDetailsModel model(*item);
  ASSERT_EQ(model.FileCount(), 3);
  model.EditTracker(0, client::kTrackerUrl, L"http://edited.example/announce");
  model.Apply();
  EXPECT_FALSE(model.FilesApplied());
  EXPECT_EQ(Engine().filter_files_calls, 0);
  EXPECT_FALSE(item->ReAddPending());
  ASSERT_EQ(Engine().trackers.size(), 2u);
  EXPECT_EQ(Engine().trackers[0].url, "http://edited.example/announce");
  EXPECT_EQ(Engine().trackers[1].tier, 1);
}

TEST_F(Details, ChangedFilesReAddWithTheEditedTrackersAndLogin) {
  TorrentDetailsModel model(*item);
  model.SetWanted(1, false);  // b.bin: piece 1 alone
  model.EditTracker(0, client::kTrackerUrl, L"http://edited.example/announce");
  model.EditTracker(0, client::kTrackerTier, L"3");
  model.EditTracker(0, client::kTrackerUser, L"user");
  model.EditTracker(0, client::kTrackerPassword, L"secret");
  model.SetEditText(id::kUploadLimit, L"8");
  ASSERT_FALSE(model.Check());
  model.Apply();
  EXPECT_TRUE(model.FilesApplied());
  ASSERT_TRUE(item->ReAddPending());
  EXPECT_EQ(item->Limits().upload, 8192);
  for (int i = 0; i < 3 && item->ReAddPending(); ++i) item->StepReAdd();
  ASSERT_FALSE(item->ReAddPending());
  EXPECT_EQ(fake.adds, 1);
  const FakeTorrent& t = Engine();
  EXPECT_EQ(t.filtered, (std::vector<bool>{false, true, false, false}));
  ASSERT_EQ(t.trackers.size(), 2u);
  EXPECT_EQ(t.trackers[0].url, "http://edited.example/announce");
  EXPECT_EQ(t.trackers[0].tier, 3);
  EXPECT_EQ(t.login_name, "user");
  EXPECT_EQ(t.login_password, "secret");
  EXPECT_EQ(t.upload_limit, 8192);
  EXPECT_TRUE(item->HasFilteredPieces());
  EXPECT_EQ(TorrentDetailsModel(*item).Caption(), L"Linux ISO Properties");
}

TEST_F(Details, RefreshShowsFiguresAndGoneTorrentsChangeNothing) {
  Engine().status.pieces = {true, false, true, false};
  Engine().status.num_peers = 5;
  Engine().status.num_seeds = 2;
  Engine().status.distributed_copies = 1.5f;
  TorrentDetailsModel model(*item);
  auto figures = model.Refresh();
  ASSERT_TRUE(figures);
  EXPECT_EQ(figures->state_line, L"Torrent is loading");
  EXPECT_EQ(figures->peer_line, L"Peers: 5  Seeds: 2\nCopies: 1.500000");
  EXPECT_FALSE(figures->disable_files);
  EXPECT_TRUE(figures->percents_changed);
  EXPECT_EQ(model.FileText(0, client::kFilePercent), L"100.00");
  EXPECT_EQ(model.FileText(1, client::kFilePercent), L"0.00");
  EXPECT_EQ(model.FileText(2, client::kFilePercent), L"66.67");

  Engine().seed = true;
  Engine().paused = true;
  Engine().status.num_complete = 7;
  Engine().status.num_incomplete = 3;
  figures = model.Refresh();
  EXPECT_FALSE(figures->percents_changed);
  EXPECT_EQ(figures->state_line, L"Torrent is paused");
  EXPECT_EQ(figures->peer_line, L"Peers: 5\nIncomplete: 3 Complete: 7");

  Engine().gone = true;
  EXPECT_FALSE(model.Refresh());
  model.SetWanted(0, false);
  model.Apply();  // every step fails on its own
  EXPECT_FALSE(model.FilesApplied());
}

TEST_F(Details, MetadataThatComesLaterFillsTheFiles) {
  Engine().metadata = false;
  TorrentDetailsModel model(*item);
  EXPECT_EQ(model.FileCount(), 0);
  EXPECT_EQ(model.FileText(0, client::kFileName), L"");
  EXPECT_FALSE(model.OriginalTrackers());
  EXPECT_FALSE(model.Refresh());
  Engine().metadata = true;
  Engine().filtered = {false, false, false, true};
  const auto figures = model.Refresh();
  ASSERT_TRUE(figures && figures->files_filled);
  ASSERT_EQ(model.FileCount(), 3);
  EXPECT_FALSE(model.IsWanted(2));
  EXPECT_EQ(model.FileText(0, client::kFileName), L"iso/a.bin");
  EXPECT_TRUE(model.OriginalTrackers());
  ASSERT_EQ(model.Trackers().size(), 1u);
  EXPECT_EQ(model.Trackers()[0].url, L"http://127.0.0.1:1/announce");
}

TEST_F(Details, AOneFileTorrentNeverChangesItsSelection) {
  storage_test::test_torrent one{{{"one.bin", 250}}, 100, 9};
  Make(one);
  TorrentDetailsModel model(*item);
  const auto figures = model.Refresh();
  ASSERT_TRUE(figures);
  EXPECT_TRUE(figures->disable_files);
  EXPECT_FALSE(model.IsEnabled(id::kFileList));
  EXPECT_FALSE(model.IsEnabled(id::kSelectAll));
  EXPECT_FALSE(model.Refresh()->disable_files);  // once
  model.SetAllWanted(false);
  model.Apply();
  EXPECT_FALSE(model.FilesApplied());
  EXPECT_EQ(Engine().filter_files_calls, 0);
  EXPECT_FALSE(item->ReAddPending());
}

TEST(HostLookup, ResolvesOnItsThreadAndStaysSilentOnceGone) {
  std::mutex mutex;
  std::vector<client::HostLookupWorker::Answer> answers;
  {
    client::HostLookupWorker worker([&](client::HostLookupWorker::Answer a) {
      std::lock_guard lock(mutex);
      answers.push_back(std::move(a));
    });
    worker.Lookup(1, "127.0.0.9");
    worker.Lookup(2, "localhost");
    worker.Lookup(3, "");
    ASSERT_TRUE(test_support::wait_until([&] {
      std::lock_guard lock(mutex);
      return answers.size() == 3;
    }));
  }
  EXPECT_EQ(answers[0].key, 1u);
  EXPECT_EQ(answers[0].address, "127.0.0.9");
  EXPECT_EQ(answers[1].address, "127.0.0.1");
  EXPECT_FALSE(answers[2].address);

  // Destroyed while a lookup hangs: the answer never comes, and the
  // destruction does not wait for it. The resolver keeps what it uses.
  struct Gate {
    std::mutex mutex;
    std::condition_variable changed;
    bool started = false, open = false, returned = false;
  };
  auto gate = std::make_shared<Gate>();
  auto delivered = std::make_shared<std::atomic<int>>(0);
  auto worker = std::make_unique<client::HostLookupWorker>(
      [delivered](client::HostLookupWorker::Answer) { ++*delivered; },
      [gate](const std::string&) -> std::optional<std::string> {
        std::unique_lock lock(gate->mutex);
        gate->started = true;
        gate->changed.notify_all();
        gate->changed.wait(lock, [&] { return gate->open; });
        gate->returned = true;
        gate->changed.notify_all();
        return "10.0.0.1";
      });
  worker->Lookup(7, "slow.example");
  std::unique_lock lock(gate->mutex);
  ASSERT_TRUE(gate->changed.wait_for(lock, std::chrono::seconds(10), [&] { return gate->started; }));
  lock.unlock();
  worker.reset();
  lock.lock();
  gate->open = true;
  gate->changed.notify_all();
  ASSERT_TRUE(gate->changed.wait_for(lock, std::chrono::seconds(10), [&] { return gate->returned; }));
  EXPECT_EQ(*delivered, 0);
}

// The rows of a torrent of many files are made when asked for, each with
// its path, size and share done; the wanted marks follow the clicks.
TEST_F(Details, EveryRowOfManyFilesReadsItsOwnTexts) {
  constexpr int kFiles = 20000;
  std::vector<std::pair<std::string, std::int64_t>> files;
  for (int i = 0; i < kFiles; ++i)
    files.push_back({"many/d" + std::to_string(i / 1000) + "/f" + std::to_string(i) + ".bin", 10 + i % 3});
  storage_test::test_torrent many{files, 1024, 3};
  Make(many);
  Engine().status.pieces.assign(std::size_t(many.info.num_pieces()), false);
  Engine().status.pieces[0] = true;  // the first 1024 bytes: files 0 to 92 and a byte of 93
  TorrentDetailsModel model(*item);
  ASSERT_EQ(model.FileCount(), kFiles);
  EXPECT_EQ(model.FileText(0, client::kFileName), L"many/d0/f0.bin");
  EXPECT_EQ(model.FileText(0, client::kFileSize), L"10");
  EXPECT_EQ(model.FileText(0, client::kFilePercent), L"");  // until the first refresh
  EXPECT_EQ(model.FileText(kFiles - 1, client::kFileName), L"many/d19/f19999.bin");
  EXPECT_EQ(model.FileText(kFiles - 1, client::kFileSize), L"11");
  EXPECT_EQ(model.FileText(kFiles, client::kFileName), L"");
  EXPECT_EQ(model.FileText(-1, client::kFileSize), L"");
  ASSERT_TRUE(model.Refresh());
  EXPECT_EQ(model.FileText(92, client::kFilePercent), L"100.00");
  EXPECT_EQ(model.FileText(93, client::kFilePercent), L"10.00");
  EXPECT_EQ(model.FileText(kFiles - 1, client::kFilePercent), L"0.00");

  EXPECT_TRUE(model.IsWanted(kFiles - 1));
  model.SetWanted(kFiles - 1, false);
  EXPECT_FALSE(model.IsWanted(kFiles - 1));
  EXPECT_FALSE(model.IsWanted(kFiles));
  model.SetAllWanted(false);
  EXPECT_FALSE(model.IsWanted(0));
  model.SetAllWanted(true);
  EXPECT_TRUE(model.IsWanted(kFiles - 1));
}

}  // namespace

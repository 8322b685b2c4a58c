#include "client/torrents/torrent_item.h"

#include "client/torrents/dht_control.h"
#include "client/files/utf16_ini_file.h"
#include "engine/formats/sha1.h"
#include "engine/formats/text_helpers.h"
#include "persistence_support.h"
#include "platform/profile.h"
#include "tests/store/store_test_support.h"

#include <gtest/gtest.h>

#include <chrono>

using client::TorrentItem;
using client::TorrentStatus;
using client::Utf16IniFile;
using namespace client_test;

namespace {

class Persisted : public ::testing::Test, public TwoRuns {
 protected:
  std::u16string Section(const std::string& file) const {
    return client::EscapeSectionName(client::WideToUtf16(client::Utf8ToWide(file)));
  }
  std::u16string Get(std::u16string_view key, const std::string& file) const {
    return ini.GetString(Section(file), key, u"<none>");
  }
  std::u16string Get(std::u16string_view key) const { return Get(key, path); }
  void Set(std::u16string_view key, std::u16string_view value, const std::string& file) {
    ASSERT_TRUE(ini.Set(Section(file), key, value));
  }
  void Set(std::u16string_view key, std::u16string_view value) { Set(key, value, path); }
  // Saves the torrent into the list file on disk and reads the file again.
  void SaveToDisk(TorrentItem& item, bool pause = true) {
    ASSERT_TRUE(item.Save(ini, pause));
    ASSERT_TRUE(ini.Save(list));
    ini.Clear();
    ASSERT_TRUE(ini.Load(list));
  }
  std::unique_ptr<TorrentItem> Next(const std::string& file) {
    auto item = Item(second, file);
    loaded = item->Load(ini);
    return item;
  }
  std::unique_ptr<TorrentItem> Next() { return Next(path); }

  Utf16IniFile ini;
  std::filesystem::path list = dir.path() / "TorrentQueue.txt";
  bool loaded = false;
};

TEST_F(Persisted, EveryKeyRoundTripsWhateverTheUsersLocale) {
  // A decimal comma in the user's locale changes nothing in the file.
  store_test::decimal_comma_locale comma;
  auto item = Running();
  SetEveryKey(*item);
  // Done: stopped on its goal, then counted as downloading again.
  item->StopOnSeedingGoal();
  item->SetStatus(TorrentStatus::Downloading);
  SaveToDisk(*item);

  EXPECT_EQ(Get(u"SeedingRatio"), u"1.500000");
  EXPECT_EQ(Get(u"PeerRatio"), u"0.250000");
  EXPECT_EQ(Get(u"Downloaded"), u"5000000050");
  EXPECT_EQ(Get(u"Destination"), client::AsciiToUtf16((dir.path() / "down load/").string()));
  EXPECT_EQ(Get(u"HasMetadata"), u"true");
  EXPECT_EQ(Get(u"HashInfoTracker"), u"<none>");

  auto next = Next();
  ASSERT_TRUE(loaded);
  ExpectEveryKey(*next);
  EXPECT_EQ(next->Status(), TorrentStatus::Downloading);
  EXPECT_FALSE(next->IsUserPaused());
  EXPECT_TRUE(next->IsComplete());
  EXPECT_EQ(next->TotalWanted(), 40000u);
  // The title is the torrent's name alone, not its save path.
  EXPECT_EQ(next->Chart().GetName(), L"r_b.bin");

  // Added paused with full allocation, its save path and resume data.
  const FakeTorrent& added = Added();
  EXPECT_TRUE(added.paused);
  EXPECT_FALSE(added.compact_mode);
  EXPECT_EQ(added.block_size, 16384);
  EXPECT_EQ(added.save_path.string(), (dir.path() / "down load/").string());
  EXPECT_EQ(added.resume_data, ResumeEntry());
}

TEST_F(Persisted, PieceFlagsWaitForTheCheckAndTheTorrentRunsOnlyThen) {
  SaveToDisk(*Running());
  auto next = Next();
  ASSERT_TRUE(loaded);
  EXPECT_TRUE(next->ReAddPending());
  EXPECT_EQ(Added().filtered, (std::vector<bool>{false, false, false}));
  ASSERT_TRUE(next->Start(false));
  EXPECT_TRUE(Added().paused);
  // A save meanwhile keeps what the first run stored.
  const std::string resume = storage_test::read_text(path + ".ResumeData");
  ASSERT_TRUE(next->Save(ini, false));
  EXPECT_EQ(storage_test::read_text(path + ".ResumeData"), resume);
  EXPECT_EQ(storage_test::read_text(path + ".FilterData"), "010");

  next->StepReAdd();
  EXPECT_FALSE(next->ReAddPending());
  EXPECT_EQ(Added().filtered, (std::vector<bool>{false, true, false}));
  EXPECT_FALSE(Added().paused);
  EXPECT_TRUE(events.log.empty());
}

TEST_F(Persisted, SideFilesHoldTheResumeDataAndOneCharacterPerPiece) {
  auto item = Running();
  SaveToDisk(*item);
  EXPECT_EQ(storage_test::read_text(path + ".ResumeData"), Bencoded(ResumeEntry()));
  EXPECT_EQ(storage_test::read_text(path + ".FilterData"), "010");

  // Resume data the engine cannot give now leaves the file of the last save.
  first.At(hash).resume_data = engine::entry();
  first.At(hash).filtered = {true, true, false};
  SaveToDisk(*item);
  EXPECT_EQ(storage_test::read_text(path + ".ResumeData"), Bencoded(ResumeEntry()));
  EXPECT_EQ(storage_test::read_text(path + ".FilterData"), "110");

  // A FilterData of another length is ignored: all pieces wanted.
  storage_test::write_text(path + ".FilterData", "1111");
  auto next = Next();
  ASSERT_TRUE(loaded);
  EXPECT_FALSE(next->HasFilteredPieces());
  EXPECT_FALSE(next->ReAddPending());
  EXPECT_TRUE(Added().compact_mode);
}

TEST_F(Persisted, TheLogFileIsUtf16WithItsMarkOnlyAtTheStart) {
  auto item = Running();
  item->AppendLogFile(L"tracker: ok");
  item->AppendLogFile(L"Größe");
  const std::string expected("\xFF\xFEt\0r\0a\0c\0k\0e\0r\0:\0 \0o\0k\0\r\0\n\0G\0r\0\xF6\0\xDF\0e\0\r\0\n\0", 42);
  EXPECT_EQ(storage_test::read_text(path + ".log.txt"), expected);
}

TEST_F(Persisted, ASeedStoresTheRestOfItsGoalAndAnExpiredGoalAsTheShortestOne) {
  FakeTorrent t = Downloading();
  t.seed = true;
  t.paused = false;
  auto item = Running(t);
  item->SetStatus(TorrentStatus::Seeding);
  item->SetSeedingTime(10000, true);
  tick.Advance(4000);
  SaveToDisk(*item, false);
  EXPECT_EQ(Get(u"Seeding"), u"6000");
  // Running seeds are stored as downloading: they start again next time.
  EXPECT_EQ(Get(u"Status"), u"2");

  tick.Advance(6000);
  SaveToDisk(*item);  // paused now: stored as a seed
  EXPECT_EQ(Get(u"Seeding"), u"1");
  EXPECT_EQ(Get(u"Status"), u"3");
  auto next = Next();
  ASSERT_TRUE(loaded);
  EXPECT_EQ(next->Goal().time, 1u);  // not 0, which is forever

  item->SetSeedingTime(0, true);  // forever stays forever
  tick.Advance(100000);
  SaveToDisk(*item);
  EXPECT_EQ(Get(u"Seeding"), u"0");
}

TEST_F(Persisted, StatusIsHeldWithinItsRange) {
  SaveToDisk(*Running());
  for (const auto& [text, status] :
       std::vector<std::pair<std::u16string, int>>{{u"7", 4}, {u"-3", 0}, {u"99999999999", 4}, {u"x", 0}}) {
    Set(u"Status", text);
    FakeTorrentControl fresh;
    auto next = Item(fresh, path);
    ASSERT_TRUE(next->Load(ini));
    EXPECT_EQ(next->Status(), status) << client::Utf16ToWide(text).size();
    EXPECT_EQ(next->IsUserPaused(), status == TorrentStatus::Paused);
  }
}

TEST_F(Persisted, DefaultsOfMissingKeys) {
  // Only a destination: a torrent with metadata, paused by the user.
  Set(u"Destination", u"/downloads");
  auto next = Next();
  ASSERT_TRUE(loaded);
  EXPECT_EQ(Added().save_path.string(), "/downloads/");
  EXPECT_EQ(next->Status(), TorrentStatus::Paused);
  EXPECT_TRUE(next->IsUserPaused());
  EXPECT_EQ(next->Priority(), client::TorrentPriority::Low);
  EXPECT_EQ(next->Goal().time, 0u);
  EXPECT_EQ(next->Limits().upload, 0);
  EXPECT_FALSE(next->IsComplete());
  EXPECT_EQ(Added().resume_data, engine::entry());  // no .ResumeData

  // Without a destination nothing is added.
  auto other = Next(dir / "other.torrent");
  EXPECT_FALSE(loaded);
  EXPECT_EQ(second.adds, 1);
}

TEST_F(Persisted, BooleansAreTrueOnlyAsExactlyTrueAndRatiosTakeADecimalComma) {
  Set(u"Destination", u"/d/");
  Set(u"Done", u"True");
  Set(u"ShowState", u"\"true\"");
  // As earlier versions wrote them under a German locale.
  Set(u"SeedingRatio", u"1,500000");
  Set(u"PeerRatio", u"2,25");
  auto next = Next();
  ASSERT_TRUE(loaded);
  EXPECT_FALSE(next->IsComplete());
  EXPECT_TRUE(next->Settings().showState);  // quotes are no part of a value
  EXPECT_EQ(next->Goal().ratio, 1.5);
  EXPECT_EQ(next->Goal().peer_ratio, 2.25);
}

TEST_F(Persisted, ATruncatedResumeFileCostsOnlyThatTorrentsResumeData) {
  SaveToDisk(*Running());
  // A second torrent beside it, saved the same way.
  storage_test::test_torrent other_source{{{"o.bin", 20000}}, 16384, 9};
  engine::torrent_metainfo other_info = other_source.info;
  const std::string other = dir / "o.torrent";
  storage_test::write_text(other, Bencoded(other_info.build_torrent_dictionary()));
  FakeTorrent t = Downloading();
  t.filtered = {false, false};
  t.info = other_info;
  auto other_item = Item(first, other);
  other_item->Attach(first.Put(other_info.info_hash(), t));
  SaveToDisk(*other_item);

  const std::string resume = storage_test::read_text(path + ".ResumeData");
  storage_test::write_text(path + ".ResumeData", resume.substr(0, resume.size() / 2));
  auto next = Next();
  EXPECT_TRUE(loaded);
  EXPECT_EQ(Added().resume_data, engine::entry());
  ASSERT_EQ(events.log.size(), 1u);
  EXPECT_EQ(events.log[0], L"r.torrent...: the resume data cannot be read; the files are checked.");
  auto next_other = Next(other);
  EXPECT_TRUE(loaded);
  EXPECT_EQ(second.At(other_info.info_hash()).resume_data, ResumeEntry());
}

TEST_F(Persisted, AnUnreadableTorrentFileFailsTheLoad) {
  SaveToDisk(*Running());
  storage_test::write_text(path, "d8:announce");
  auto next = Next();
  EXPECT_FALSE(loaded);
  EXPECT_EQ(second.adds, 0);
  std::filesystem::remove(path);
  next = Next();
  EXPECT_FALSE(loaded);
}

TEST_F(Persisted, SingleFileNamesGoThroughTheUnderscoreRule) {
  SaveToDisk(*Running());
  engine::set_remove_underscores(true);
  auto next = Next();
  engine::set_remove_underscores(false);
  ASSERT_TRUE(loaded);
  EXPECT_EQ(next->Chart().GetName(), L"r b.bin");
}

// Torrents known only by their info-hash, named by it in the data folder.
class PersistedByHash : public Persisted {
 protected:
  std::string HashPath(const std::string& name) const { return dir / name; }
  std::string hex = "0123456789ABCDEFabcdef0123456789ABCDEF01";
  std::string hash_path = HashPath(hex + ".Torrent");
  engine::sha1_hash Hash() const { return engine::sha1_hash::from_bytes(std::string("\x01\x23\x45\x67\x89\xAB\xCD\xEF\xAB\xCD\xEF\x01\x23\x45\x67\x89\xAB\xCD\xEF\x01", 20)); }
};

TEST_F(PersistedByHash, LongPathsAndUrlsAreKeptWhole) {
  const std::string folder = "/" + std::string(300, 'd') + "/";
  const std::string tracker = "http://tracker.test/announce?key=" + std::string(300, 'k');
  auto item = Item(first, hash_path);
  FakeTorrent t;
  t.metadata = false;
  t.save_path = folder;
  t.trackers = {{tracker, 3}};
  item->Attach(first.Put(Hash(), t));
  item->SetEarlierTotals(9, 0);
  SaveToDisk(*item);
  EXPECT_EQ(Get(u"HasMetadata", hash_path), u"false");
  EXPECT_EQ(Get(u"HashInfoTier", hash_path), u"3");

  auto next = Next(hash_path);
  ASSERT_TRUE(loaded);
  const FakeTorrent& added = second.At(Hash());
  EXPECT_EQ(added.save_path.string(), folder);
  ASSERT_EQ(added.trackers.size(), 1u);
  EXPECT_EQ(added.trackers[0].url, tracker);
  EXPECT_EQ(added.block_size, 16384);
  EXPECT_TRUE(added.paused);
  EXPECT_EQ(next->Settings().uploadedBase, 9u);
  // No side files for a torrent without metadata.
  EXPECT_FALSE(std::filesystem::exists(hash_path + ".ResumeData"));
}

TEST_F(PersistedByHash, WithoutATrackerTheDefaultOneIsAnnouncedTo) {
  Set(u"Destination", u"/d/", hash_path);
  Set(u"HasMetadata", u"false", hash_path);
  ASSERT_TRUE(Next(hash_path) && loaded);
  EXPECT_EQ(second.At(Hash()).trackers[0].url, "http://127.0.0.1/announce");
}

TEST_F(PersistedByHash, TheNameMustStartWithFortyHexadecimalDigits) {
  for (const std::string& name :
       {" " + hex.substr(1), "+" + hex.substr(1), hex.substr(0, 39) + "G", hex.substr(0, 39), "0x" + hex.substr(2),
        hex.substr(0, 20) + " " + hex.substr(21)}) {
    const std::string file = HashPath(name + ".Torrent");
    Set(u"Destination", u"/d/", file);
    Set(u"HasMetadata", u"false", file);
    Next(file);
    EXPECT_FALSE(loaded) << name;
  }
  EXPECT_EQ(second.adds, 0);
  Set(u"Destination", u"/d/", hash_path);
  Set(u"HasMetadata", u"false", hash_path);
  Next(hash_path);
  EXPECT_TRUE(loaded);
  EXPECT_TRUE(second.torrents.count(Hash()));
}

TEST_F(PersistedByHash, ReceivedMetadataBecomesATorrentFileThatParsesBackToTheSameHash) {
  RecordingView view;  // outlives the torrent, which destroys it
  auto item = Item(first, hash_path);
  FakeTorrent t;
  t.metadata = false;
  t.trackers = {{"bcudp://tracker.test:6969/announce", 0}, {"http://second.test/announce", 1}};
  item->Attach(first.Put(hash, t));
  item->SetView(&view);
  EXPECT_FALSE(item->WriteTorrentFile(L""));  // nothing came yet
  EXPECT_FALSE(std::filesystem::exists(hash_path));

  EXPECT_EQ(item->Chart().GetName(), L"title");

  first.At(hash).metadata = true;
  first.At(hash).info = engine::torrent_metainfo(torrent_file);
  const auto before = std::chrono::system_clock::now();
  item->OnMetadataReceived(L"");
  // The row names the torrent at once, as the next start would.
  EXPECT_EQ(item->Chart().GetName(), L"r_b.bin");
  EXPECT_EQ(item->Chart().TitleLabel(), L"r_b.bin");
  EXPECT_EQ(item->TotalWanted(), 40000u);
  const std::string bytes = storage_test::read_text(hash_path);
  const engine::torrent_metainfo info(bytes.data(), bytes.size());
  EXPECT_EQ(info.info_hash(), hash);
  EXPECT_EQ(info.comment(), "received metadata");
  EXPECT_EQ(info.creator(), "Quillfern 1, 3, 0, 55");
  ASSERT_EQ(info.trackers().size(), 1u);
  EXPECT_EQ(info.trackers()[0].url, "udp://tracker.test:6969/announce");
  ASSERT_TRUE(info.creation_date().has_value());
  EXPECT_GE(*info.creation_date(), std::chrono::floor<std::chrono::seconds>(before));
  EXPECT_EQ(view.repaints, 1);

  // The next save stores it as a torrent with metadata.
  SaveToDisk(*item);
  EXPECT_EQ(Get(u"HasMetadata", hash_path), u"true");

  // A target path given: written there.
  const std::string target = dir / "elsewhere.torrent";
  ASSERT_TRUE(item->WriteTorrentFile(client::Utf8ToWide(target)));
  EXPECT_EQ(storage_test::read_text(target).size(), bytes.size());
}

TEST_F(PersistedByHash, MetadataInAnotherKeyOrderIsWrittenAndLoadedAsItCame) {
  // The keys of the info dictionary the swarm sent are out of order; the
  // info-hash is that of these bytes.
  const std::string info = "d12:piece lengthi16384e4:name5:m.bin6:lengthi1000e6:pieces20:" +
                           std::string(20, 'p') + "e";
  const engine::sha1_hash raw_hash = engine::hasher(info.data(), static_cast<int>(info.size())).final();
  auto item = Item(first, hash_path);
  FakeTorrent t;
  t.trackers = {{"http://tracker.test/announce", 0}};
  t.info = engine::torrent_metainfo(raw_hash);
  t.info->read_info_dictionary(info);
  item->Attach(first.Put(raw_hash, t));
  item->OnMetadataReceived(L"");
  const std::string bytes = storage_test::read_text(hash_path);
  EXPECT_TRUE(bytes.ends_with("4:info" + info + "e")) << bytes;
  EXPECT_EQ(engine::torrent_metainfo(bytes.data(), bytes.size()).info_hash(), raw_hash);

  SaveToDisk(*item);
  auto next = Next(hash_path);
  ASSERT_TRUE(loaded);
  EXPECT_EQ(next->Handle().info_hash(), raw_hash);
  EXPECT_EQ(second.At(raw_hash).info->info_dictionary_bytes(), info);
}

TEST_F(Persisted, TheDhtNodeLearnsTheTorrentAndItsNodes) {
  CDHTService::Options options;
  options.profile = platform::profile(dir.path() / "dht.ini");
  options.dump_folder = dir.path() / "dht_logs";
  CDHTService service(40, options);
  client::DhtServiceControl dht(service);
  SaveToDisk(*Running());
  // A .torrent with a "nodes" list: a public torrent.
  engine::entry with_nodes = torrent_file;
  engine::entry::list_type node{engine::entry(std::string("127.0.0.1")), engine::entry(engine::entry::integer_type{6881})};
  with_nodes["nodes"] = engine::entry::list_type{engine::entry(node)};
  storage_test::write_text(path, Bencoded(with_nodes));
  auto next = Item(second, path);
  ASSERT_TRUE(next->Load(ini, &dht));
  EXPECT_TRUE(next->HasDhtNodes());
  bool found = false, is_private = true, own = false;
  service.Inspect([&](const dht::NodeCore& core) {
    if (const dht::InfoHashRecord* r = core.find_record(hash)) found = true, is_private = r->is_private, own = r->own;
  });
  EXPECT_TRUE(found);
  EXPECT_FALSE(is_private);
  EXPECT_TRUE(own);

  // Without one: private.
  storage_test::write_text(path, Bencoded(torrent_file));
  FakeTorrentControl third;
  auto again = Item(third, path);
  ASSERT_TRUE(again->Load(ini, &dht));
  EXPECT_FALSE(again->HasDhtNodes());
  service.Inspect([&](const dht::NodeCore& core) { is_private = core.find_record(hash)->is_private; });
  EXPECT_TRUE(is_private);
}

}  // namespace

#include "client/torrents/torrent_item.h"

#include "client/files/utf16_ini_file.h"
#include "persistence_support.h"
#include "tests/store/store_test_support.h"

#include <gtest/gtest.h>

using client::TorrentItem;
using client::TorrentStatus;
using namespace client_test;

namespace {

class TorrentItemOnDatabase : public store_test::StoreServerTest, public TwoRuns {
 protected:
  std::string Hex() const {
    std::string hex;
    for (std::uint8_t b : hash) hex += "0123456789ABCDEF"[b >> 4], hex += "0123456789ABCDEF"[b & 15];
    return hex;
  }
  std::string Column(const std::string& column) {
    return raw->value("SELECT " + column + " FROM torrent_data WHERE info_hash='" + Hex() + "'").value_or("NULL");
  }
  // The torrent as the program adds it in DB mode: its metainfo in the store.
  std::unique_ptr<TorrentItem> Stored() { return Stored(Downloading()); }
  std::unique_ptr<TorrentItem> Stored(FakeTorrent t) {
    EXPECT_TRUE(db->TorrentData()->StoreMetaData(Hex(), Bencoded(torrent_file), "/x/", "r_b.bin"));
    auto item = Running(std::move(t));
    item->SetStore(db.get());
    return item;
  }
  // The next run: the row selected as the main window does, then loaded.
  std::unique_ptr<TorrentItem> Next() {
    EXPECT_TRUE(db->TorrentData()->SelectUnfinished());
    auto item = Item(second, dir / "r_b.bin");
    item->SetStore(db.get());
    loaded = item->Load(ini);
    return item;
  }

  client::Utf16IniFile ini;  // unused in DB mode
  bool loaded = false;
};

TEST_F(TorrentItemOnDatabase, ATorrentRoundTripsThroughTheStore) {
  FakeTorrent t = Downloading();
  t.resume_data = ResumeEntry({{"10.0.0.1", 6881}, {"10.0.0.2", 51413}});
  auto item = Stored(t);
  SetEveryKey(*item);
  item->SetStatus(TorrentStatus::Seeding);  // running: stored as downloading
  ASSERT_TRUE(item->Save(ini, false));

  EXPECT_EQ(Column("status"), "2");
  EXPECT_EQ(Column("destination"), (dir.path() / "down load/").string());
  EXPECT_EQ(Column("name"), "r_b.bin");
  EXPECT_EQ(Column("downloaded"), "5000000050");
  EXPECT_EQ(Column("uploaded"), "1007");
  EXPECT_EQ(Column("seeding_ratio"), "1.5");
  EXPECT_EQ(Column("finished"), "0");
  EXPECT_EQ(raw->value("SELECT resume_data FROM resume_data"), Bencoded(t.resume_data));
  EXPECT_EQ(raw->value("SELECT piece_map FROM piece_selection"), "010");
  EXPECT_EQ(raw->count("trackers"), 0u);
  EXPECT_EQ(raw->query("SELECT ip,port FROM nodes ORDER BY ip"),
            (store_test::rows{{"10.0.0.1", "6881"}, {"10.0.0.2", "51413"}}));

  auto next = Next();
  ASSERT_TRUE(loaded);
  ExpectEveryKey(*next);
  EXPECT_EQ(next->Status(), TorrentStatus::Downloading);
  EXPECT_FALSE(next->IsComplete());
  EXPECT_EQ(Added().save_path.string(), (dir.path() / "down load/").string());
  EXPECT_EQ(Added().resume_data, t.resume_data);
  EXPECT_FALSE(Added().compact_mode);
  next->StepReAdd();
  EXPECT_EQ(Added().filtered, (std::vector<bool>{false, true, false}));

  // Saved again: the same rows, a changed port updated.
  first.At(hash).resume_data = ResumeEntry({{"10.0.0.1", 7000}});
  ASSERT_TRUE(item->Save(ini, true));
  EXPECT_EQ(raw->count("torrent_data"), 1u);
  EXPECT_EQ(raw->count("resume_data"), 1u);
  EXPECT_EQ(raw->query("SELECT ip,port FROM nodes ORDER BY ip"),
            (store_test::rows{{"10.0.0.1", "7000"}, {"10.0.0.2", "51413"}}));
}

TEST_F(TorrentItemOnDatabase, AHashOnlyTorrentKeepsItsTrackerAndStatusIsHeldInRange) {
  auto item = Item(first, dir / (Hex() + ".Torrent"));
  item->SetStore(db.get());
  FakeTorrent t;
  t.metadata = false;
  t.save_path = "/downloads";
  t.trackers = {{"http://tracker.test/announce", 2}};
  item->Attach(first.Put(hash, t));
  ASSERT_TRUE(item->Save(ini, true));
  EXPECT_EQ(Column("name"), "Unkown");
  EXPECT_EQ(Column("destination"), "/downloads/");
  EXPECT_EQ(raw->query("SELECT tracker_url,tier FROM trackers"),
            (store_test::rows{{"http://tracker.test/announce", "2"}}));
  EXPECT_EQ(raw->count("resume_data"), 0u);

  ASSERT_TRUE(raw->execute("UPDATE torrent_data SET status=9"));
  auto next = Next();
  ASSERT_TRUE(loaded);
  EXPECT_EQ(next->Status(), TorrentStatus::Error);
  const FakeTorrent& added = Added();
  ASSERT_EQ(added.trackers.size(), 1u);
  EXPECT_EQ(added.trackers[0].url, "http://tracker.test/announce");
  EXPECT_EQ(added.save_path.string(), "/downloads/");

  // Its metadata arrives: the row gets the .torrent, which parses back to
  // the same info-hash.
  first.At(hash).metadata = true;
  first.At(hash).info = engine::torrent_metainfo(torrent_file);
  item->OnMetadataReceived(L"");
  const std::string meta = Column("meta_data");
  EXPECT_EQ(engine::torrent_metainfo(meta.data(), meta.size()).info_hash(), hash);
  EXPECT_EQ(Column("name"), "r_b.bin");
  EXPECT_FALSE(std::filesystem::exists(dir / (Hex() + ".Torrent")));
}

TEST_F(TorrentItemOnDatabase, RowUpdatesAndStoredPeers) {
  auto item = Stored();
  ASSERT_TRUE(item->Save(ini, false));
  item->SetPriority(client::TorrentPriority::Low);
  EXPECT_TRUE(item->UpdateDatabaseRow(false, true));
  EXPECT_EQ(Column("finished"), "1");
  EXPECT_EQ(Column("priority"), "0");
  EXPECT_EQ(raw->count("nodes"), 0u);

  first.At(hash).resume_data = ResumeEntry({{"10.0.0.3", 6881}, {"10.0.0.4", 0}});
  EXPECT_TRUE(item->UpdateDatabaseRow(true, false));
  EXPECT_EQ(Column("finished"), "0");
  EXPECT_EQ(raw->query("SELECT ip,port FROM nodes"), (store_test::rows{{"10.0.0.3", "6881"}}));
  ASSERT_TRUE(raw->execute("INSERT nodes SET torrent_data_id=" + Column("id") + ",ip='bad',port=1"));
  item->OnAddDbNodes();
  EXPECT_EQ(first.At(hash).connected, (std::vector<engine::address>{engine::address(10, 0, 0, 3, 6881)}));

  // A torrent the store does not know.
  ASSERT_TRUE(raw->execute("TRUNCATE TABLE torrent_data"));
  EXPECT_FALSE(item->UpdateDatabaseRow(false, false));
}

TEST_F(TorrentItemOnDatabase, StoreFailuresAreLogged) {
  auto item = Stored();
  ASSERT_TRUE(raw->execute("DROP TABLE IF EXISTS resume_data_kept"));
  ASSERT_TRUE(raw->execute("RENAME TABLE resume_data TO resume_data_kept"));
  const bool saved = item->Save(ini, false);
  ASSERT_TRUE(raw->execute("RENAME TABLE resume_data_kept TO resume_data"));
  EXPECT_FALSE(saved);
  ASSERT_EQ(events.log.size(), 1u);
  EXPECT_NE(events.log[0].find(L"resume_data"), std::wstring::npos);
}

}  // namespace

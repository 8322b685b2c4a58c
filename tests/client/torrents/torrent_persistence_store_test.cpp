#include "client/torrents/torrent_item.h"

#include "client/torrents/CTorrentListe.h"
#include "client/torrents/database_store.h"

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
    item->SetStore(&Keeper());
    return item;
  }
  // The next run: the row selected as the main window does, then loaded.
  std::unique_ptr<TorrentItem> Next() {
    EXPECT_TRUE(db->TorrentData()->SelectUnfinished());
    auto item = Item(second, dir / "r_b.bin");
    item->SetStore(&Keeper());
    loaded = item->Load(ini);
    return item;
  }

  // What keeps the torrents in store mode; its log lines are the events'.
  client::DatabaseStore& Keeper() {
    if (!store)
      store = std::make_unique<client::DatabaseStore>(*db, dir.path(),
                                                      [this](const std::wstring& line) { events.LogLine(line); });
    return *store;
  }

  // The next start in store mode: the torrents the store restores, each
  // loaded into the second session.
  std::vector<std::unique_ptr<TorrentItem>> RestoreNext(client::DatabaseStore& next) {
    std::vector<std::unique_ptr<TorrentItem>> restored;
    next.Restore([&](const std::wstring& torrent_path, const client::Utf16IniFile& list_file) {
      auto torrent = std::make_unique<TorrentItem>(torrent_path, L"START", events);
      torrent->SetSession(&second);
      torrent->SetStore(&next);
      if (!torrent->Load(list_file)) return false;
      restored.push_back(std::move(torrent));
      return true;
    });
    return restored;
  }
  // The end of a run while the server cannot take the torrents' rows.
  void EndWithTheServerAway(client::CTorrentListe& list) {
    ASSERT_TRUE(raw->execute("RENAME TABLE torrent_data TO torrent_data_away"));
    ASSERT_TRUE(Keeper().SaveAll(list));
    ASSERT_TRUE(raw->execute("RENAME TABLE torrent_data_away TO torrent_data"));
  }

  client::Utf16IniFile ini;  // unused in DB mode
  bool loaded = false;
  std::unique_ptr<client::DatabaseStore> store;
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
  item->SetStore(&Keeper());
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

TEST_F(TorrentItemOnDatabase, ARemovalThatWaitedIsCarriedOutWhenTheServerAnswers) {
  client::CTorrentListe list;
  list.Add(Stored());
  TorrentItem& item = *list.begin()->get();
  ASSERT_TRUE(item.Save(ini, false));
  ASSERT_EQ(raw->count("resume_data"), 1u);

  // The server cannot take it (the table is away): the removal waits, and
  // the files go at once.
  ASSERT_TRUE(raw->execute("RENAME TABLE torrent_data TO torrent_data_away"));
  const std::wstring name = item.FileName();
  ASSERT_TRUE(list.Remove(&item, true));
  ASSERT_FALSE(events.log.empty());
  EXPECT_EQ(events.log.back().rfind(L"the removal of " + name + L" waits for the store: ", 0), 0u)
      << events.log.back();
  EXPECT_FALSE(std::filesystem::exists(path));
  EXPECT_EQ(Keeper().Queue().RemovalsWaiting(), 1u);
  ASSERT_TRUE(raw->execute("RENAME TABLE torrent_data_away TO torrent_data"));

  // The next try carries it out.
  tick.Advance(client::kStoreRetryMs);
  Keeper().Retry(list);
  EXPECT_EQ(events.log.back(), L"the removal of " + name + L" reached the store");
  EXPECT_EQ(raw->query("SELECT finished FROM torrent_data"), (store_test::rows{{"1"}}));
  EXPECT_EQ(raw->count("resume_data") + raw->count("piece_selection") + raw->count("trackers"), 0u);
  EXPECT_TRUE(Keeper().Queue().Empty());

  // With the server up a removal is carried out at once, and a torrent
  // added again since is stored again.
  list.Add(Stored());
  ASSERT_TRUE(list.begin()->get()->Save(ini, false));
  EXPECT_EQ(raw->query("SELECT finished FROM torrent_data"), (store_test::rows{{"0"}}));
  const std::size_t lines = events.log.size();
  ASSERT_TRUE(list.Remove(list.begin()->get(), true));
  EXPECT_EQ(events.log.size(), lines);
  EXPECT_EQ(raw->query("SELECT finished FROM torrent_data"), (store_test::rows{{"1"}}));
}

TEST_F(TorrentItemOnDatabase, WhatWaitsAtTheEndOfARunReachesTheStoreAtTheNextStart) {
  client::CTorrentListe list;
  list.Add(Stored());
  TorrentItem& item = *list.begin()->get();
  ASSERT_TRUE(item.Save(ini, false));
  std::filesystem::remove(path);  // the metainfo lives in the store alone

  // The server goes; the user changes the torrent's settings, and the run
  // ends: what changed is kept in the waiting file.
  SetEveryKey(item);
  EndWithTheServerAway(list);
  EXPECT_EQ(events.log.back(),
            L"1 torrents and 0 removals wait for the store, kept in " +
                client::Utf8ToWide((dir.path() / std::string(client::kWaitingFileName)).string()));
  EXPECT_EQ(Column("priority"), "1");
  ASSERT_TRUE(std::filesystem::exists(dir / std::string(client::kWaitingFileName)));

  // The next start: the torrent comes back with its settings and totals of
  // the end of the run, its metainfo from the row, and the row takes them.
  client::DatabaseStore next(*db, dir.path(), [this](const std::wstring& line) { events.LogLine(line); });
  std::vector<std::unique_ptr<TorrentItem>> restored = RestoreNext(next);
  ASSERT_EQ(restored.size(), 1u);
  ExpectEveryKey(*restored[0]);
  EXPECT_EQ(restored[0]->Path(), client::Utf8ToWide(path));
  EXPECT_TRUE(next.Waits(*restored[0]));
  client::CTorrentListe next_list;
  next_list.Add(std::move(restored[0]));
  next.Retry(next_list);
  EXPECT_EQ(events.log.back(), L"r.torrent is in the store again");
  EXPECT_EQ(Column("priority"), "2");
  EXPECT_EQ(Column("uploaded"), "1007");
  EXPECT_EQ(Column("meta_data"), Bencoded(torrent_file));
  // Its side files went with the waiting file's section.
  EXPECT_FALSE(std::filesystem::exists(path + ".ResumeData"));
  ASSERT_TRUE(next.SaveAll(next_list));
  EXPECT_FALSE(std::filesystem::exists(dir / std::string(client::kWaitingFileName)));
}

TEST_F(TorrentItemOnDatabase, AHashOnlyTorrentThatWaitedComesBackByItsHash) {
  // Restored from its row, a torrent known by its info-hash is named after
  // the row ("Unkown").
  client::CTorrentListe list;
  list.Add(Item(first, dir / std::string(client::kUnknownTorrentName)));
  TorrentItem& item = *list.begin()->get();
  item.SetStore(&Keeper());
  FakeTorrent t;
  t.metadata = false;
  t.save_path = "/downloads";
  t.trackers = {{"http://tracker.test/announce", 0}};
  item.Attach(first.Put(hash, t));
  ASSERT_TRUE(item.Save(ini, false));
  item.SetPriority(client::TorrentPriority::High);
  EndWithTheServerAway(list);

  client::DatabaseStore next(*db, dir.path(), nullptr);
  const std::vector<std::unique_ptr<TorrentItem>> restored = RestoreNext(next);
  ASSERT_EQ(restored.size(), 1u);
  EXPECT_EQ(restored[0]->Priority(), client::TorrentPriority::High);
  EXPECT_EQ(restored[0]->FileName(), client::Utf8ToWide(Hex() + ".Torrent"));
  ASSERT_EQ(Added().trackers.size(), 1u);
  EXPECT_EQ(Added().trackers[0].url, "http://tracker.test/announce");
  EXPECT_TRUE(next.Waits(*restored[0]));
}

}  // namespace

#include "store/torrent_database.h"

#include "tests/store/store_test_support.h"

#include <gtest/gtest.h>

using namespace std::string_literals;

namespace {

// Bytes that break careless handling: NUL, both quotes, backslashes, 0xFF,
// a statement end and a comment start.
const std::string hostile = "a\0b'c\"d\\e\xff\xfe;\n\r\x1a--%s%u"s;
const std::string drop_table = "'); DROP TABLE torrent_data; --";

const std::string hash_a = "0123456789abcdef0123456789abcdef01234567";
const std::string hash_b = "fedcba9876543210fedcba9876543210fedcba98";
// A torrent's metainfo as the store gets it with the first save.
const std::string meta = "d4:infod4:name1:x12:piece lengthi16384eee";

class StoreTorrentData : public store_test::StoreServerTest {
 protected:
  // Fills the buffers of a torrent with metainfo (no tracker row).
  void fill_torrent(const std::string& hash) {
    auto& t = *db->TorrentData();
    t.info_hash = hash;
    t.priority = 3;
    t.status = 2;
    t.destination = "/home/quill/Downloads/it's here/";
    t.finished = 0;
    t.upload_limit = -1;
    t.download_limit = 51200;
    t.seeding_mode = 1;
    t.seeding_ratio = 1.5f;
    t.peer_ratio = 0.25f;
    t.seeding_time = 3600000;
    t.uploaded = (1ull << 40) + 5;
    t.downloaded = 4294967296ull;
    t.show_state = 1;
    t.bitcomet_udp_protocol = 0;
    t.name = "Some name";
    db->ResumeData()->resume_data = "d4:file" + hostile + "e";
    db->PieceSelection()->piece_map = "0101";
    db->Trackers()->tracker_url.clear();
  }
};

}  // namespace

TEST_F(StoreTorrentData, SavingTwiceKeepsOneRowPerTable) {
  fill_torrent(hash_a);
  ASSERT_TRUE(db->SaveTorrent(meta)) << std::string(db->GetLastError().begin(), db->GetLastError().end());
  const auto id = db->TorrentData()->id;
  EXPECT_NE(id, 0u);
  EXPECT_EQ(db->ResumeData()->torrent_data_id, id);
  EXPECT_EQ(db->PieceSelection()->torrent_data_id, id);

  // The update at exit: nobody set an end time.
  ASSERT_FALSE(db->TorrentData()->end_time.valid());
  db->TorrentData()->uploaded = 99;
  db->TorrentData()->name = "Renamed";
  db->ResumeData()->resume_data = "d5:againe";
  db->PieceSelection()->piece_map = "1111";
  ASSERT_TRUE(db->SaveTorrent(meta)) << std::string(db->GetLastError().begin(), db->GetLastError().end());
  EXPECT_EQ(db->TorrentData()->id, id);

  EXPECT_EQ(raw->count("torrent_data"), 1u);
  EXPECT_EQ(raw->count("resume_data"), 1u);
  EXPECT_EQ(raw->count("piece_selection"), 1u);
  EXPECT_EQ(raw->count("trackers"), 0u);
  EXPECT_EQ(raw->value("SELECT uploaded FROM torrent_data"), "99");
  EXPECT_EQ(raw->value("SELECT name FROM torrent_data"), "Renamed");
  EXPECT_EQ(raw->value("SELECT resume_data FROM resume_data"), "d5:againe");
  EXPECT_EQ(raw->value("SELECT piece_map FROM piece_selection"), "1111");
  EXPECT_EQ(raw->value("SELECT end_time FROM torrent_data"), std::nullopt);

  // A set end time is written.
  db->TorrentData()->end_time = store::date_time(2024, 5, 6, 7, 8, 9);
  ASSERT_TRUE(db->SaveTorrent(meta));
  EXPECT_EQ(raw->value("SELECT end_time FROM torrent_data"), "2024-05-06 07:08:09");
}

TEST_F(StoreTorrentData, TorrentWithTrackerWritesNoResumeData) {
  fill_torrent(hash_b);
  db->TorrentData()->name = "Unkown";
  db->Trackers()->tracker_url = "udp://tracker.example:6969/announce?key='x'";
  db->Trackers()->tier = 2;
  ASSERT_TRUE(db->SaveTorrent(meta));
  ASSERT_TRUE(db->SaveTorrent(meta));
  EXPECT_EQ(raw->count("torrent_data"), 1u);
  EXPECT_EQ(raw->count("trackers"), 1u);
  EXPECT_EQ(raw->count("resume_data"), 0u);
  EXPECT_EQ(raw->count("piece_selection"), 0u);

  auto& trackers = *db->Trackers();
  trackers.tracker_url.clear();
  trackers.tier = 0;
  ASSERT_TRUE(trackers.SelectByTorrent(db->TorrentData()->id));
  EXPECT_EQ(trackers.tracker_url, "udp://tracker.example:6969/announce?key='x'");
  EXPECT_EQ(trackers.tier, 2u);
  EXPECT_FALSE(trackers.FetchNext());
}

TEST_F(StoreTorrentData, EveryFieldComesBackAsSaved) {
  fill_torrent(hash_a);
  auto& t = *db->TorrentData();
  t.destination = hostile;
  t.name = drop_table;
  ASSERT_TRUE(db->SaveTorrent(meta));
  const auto id = t.id;

  CTorrentDataTable& read = t;
  read.priority = read.status = 0;
  read.name.clear();
  read.destination.clear();
  read.uploaded = read.downloaded = 0;
  read.seeding_ratio = read.peer_ratio = 0;
  ASSERT_TRUE(read.SelectById(id));
  EXPECT_EQ(read.id, id);
  EXPECT_EQ(read.priority, 3u);
  EXPECT_EQ(read.status, 2u);
  EXPECT_EQ(read.destination, hostile);
  EXPECT_EQ(read.finished, 0u);
  EXPECT_EQ(read.upload_limit, -1);
  EXPECT_EQ(read.download_limit, 51200);
  EXPECT_EQ(read.seeding_mode, 1u);
  EXPECT_EQ(read.seeding_ratio, 1.5f);
  EXPECT_EQ(read.peer_ratio, 0.25f);
  EXPECT_EQ(read.seeding_time, 3600000u);
  EXPECT_EQ(read.uploaded, (1ull << 40) + 5);
  EXPECT_EQ(read.downloaded, 4294967296ull);
  EXPECT_EQ(read.show_state, 1u);
  EXPECT_EQ(read.info_hash, hash_a);
  EXPECT_TRUE(read.start_time.valid());
  EXPECT_FALSE(read.end_time.valid());
  EXPECT_EQ(read.name, drop_table);  // and the table is still there
  EXPECT_EQ(read.meta_data, meta);
  EXPECT_FALSE(read.FetchNext());

  ASSERT_TRUE(db->ResumeData()->Load(id));
  EXPECT_EQ(db->ResumeData()->resume_data, "d4:file" + hostile + "e");
  ASSERT_TRUE(db->PieceSelection()->Load(id));
  EXPECT_EQ(db->PieceSelection()->piece_map, "0101");
}

TEST_F(StoreTorrentData, RatioIsWrittenWithAPointUnderACommaLocale) {
  store_test::decimal_comma_locale german;
  if (!german.active()) GTEST_FAIL() << "no German locale could be built (localedef)";
  fill_torrent(hash_a);
  ASSERT_TRUE(db->SaveTorrent(meta));
  auto& t = *db->TorrentData();
  t.seeding_ratio = 2.75f;
  t.peer_ratio = 0.5f;
  ASSERT_TRUE(t.UpdateState());
  EXPECT_EQ(raw->value("SELECT seeding_ratio FROM torrent_data"), "2.75");
  EXPECT_EQ(raw->value("SELECT peer_ratio FROM torrent_data"), "0.5");
  t.seeding_ratio = 0;
  ASSERT_TRUE(t.SelectById(t.id));
  EXPECT_EQ(t.seeding_ratio, 2.75f);
  EXPECT_EQ(t.peer_ratio, 0.5f);
}

TEST_F(StoreTorrentData, UpdateStateWritesTheBufferToRowId) {
  fill_torrent(hash_a);
  ASSERT_TRUE(db->SaveTorrent(meta));
  auto& t = *db->TorrentData();
  t.priority = 9;
  t.status = 4;
  t.finished = 1;
  t.upload_limit = 10240;
  t.download_limit = -1;
  t.seeding_mode = 2;
  t.seeding_time = 7;
  t.uploaded = 18446744073709551615ull;
  t.downloaded = 1;
  t.show_state = 0;
  t.bitcomet_udp_protocol = 1;
  ASSERT_TRUE(t.UpdateState());
  EXPECT_EQ(raw->query("SELECT priority,status,finished,upload_limit,download_limit,seeding_mode,seeding_time,"
                       "uploaded,downloaded,show_state,bitcomet_udp_protocol,end_time IS NOT NULL FROM torrent_data"),
            (store_test::rows{{"9", "4", "1", "10240", "-1", "2", "7", "18446744073709551615", "1", "0", "1", "1"}}));
}

TEST_F(StoreTorrentData, StoreMetaDataInsertsThenReplaces) {
  auto& t = *db->TorrentData();
  const std::string meta = "d4:info" + hostile + "e";
  ASSERT_TRUE(t.StoreMetaData(hash_a, meta, "/data/'first'/", drop_table));
  const auto id = t.FindIdByInfoHash(hash_a);
  ASSERT_NE(id, 0u);
  EXPECT_EQ(t.FindIdByInfoHash(hash_b), 0u);
  EXPECT_EQ(t.FindIdByInfoHash("' OR '1'='1"), 0u);

  ASSERT_TRUE(t.SelectById(id));
  EXPECT_EQ(t.meta_data, meta);
  EXPECT_EQ(t.destination, "/data/'first'/");
  EXPECT_EQ(t.name, drop_table);
  EXPECT_EQ(t.upload_limit, -1);  // defaults of a row made from metainfo alone
  EXPECT_EQ(t.download_limit, -1);
  EXPECT_EQ(t.uploaded, 0u);
  EXPECT_TRUE(t.start_time.valid());

  // Finished rows come back unfinished with the new metainfo; the
  // destination stays.
  ASSERT_TRUE(raw->execute("UPDATE torrent_data SET finished=1"));
  ASSERT_TRUE(t.StoreMetaData(hash_a, "d4:infoi1ee", "/elsewhere/", "Second"));
  EXPECT_EQ(raw->count("torrent_data"), 1u);
  ASSERT_TRUE(t.SelectById(id));
  EXPECT_EQ(t.meta_data, "d4:infoi1ee");
  EXPECT_EQ(t.name, "Second");
  EXPECT_EQ(t.destination, "/data/'first'/");
  EXPECT_EQ(t.finished, 0u);
}

TEST_F(StoreTorrentData, BlobsLargeAndBinaryComeBackByteExact) {
  std::string meta(3 * 1024 * 1024, '\0');
  for (std::size_t i = 0; i < meta.size(); ++i) meta[i] = static_cast<char>((i * 131 + i / 7) & 0xFF);
  auto& t = *db->TorrentData();
  ASSERT_TRUE(t.StoreMetaData(hash_a, meta, "", ""));
  ASSERT_TRUE(t.SelectById(t.FindIdByInfoHash(hash_a)));
  EXPECT_TRUE(t.meta_data == meta);
}

TEST_F(StoreTorrentData, RowsOutliveTheResultTheyCameFrom) {
  auto& t = *db->TorrentData();
  ASSERT_TRUE(t.StoreMetaData(hash_a, "first\xff"s + '\0', "", "A"));
  ASSERT_TRUE(t.StoreMetaData(hash_b, "second", "", "B"));
  ASSERT_TRUE(t.SelectUnfinished());
  const std::string first_hash = t.info_hash;
  const std::string first_meta = t.meta_data;
  // Lookups on the same table (as the restore loop makes them) neither free
  // the pending result nor disturb the row buffer's bytes.
  EXPECT_NE(t.FindIdByInfoHash(hash_b), 0u);
  EXPECT_NE(t.FindIdByInfoHash(hash_a), 0u);
  EXPECT_EQ(t.meta_data, first_meta);
  ASSERT_TRUE(t.FetchNext());
  EXPECT_NE(t.info_hash, first_hash);
  EXPECT_FALSE(t.FetchNext());
  EXPECT_FALSE(t.FetchNext());

  // A new SELECT replaces the result; bytes taken before stay intact.
  ASSERT_TRUE(t.SelectById(t.FindIdByInfoHash(hash_a)));
  const std::string kept = t.meta_data;
  ASSERT_TRUE(t.SelectById(t.FindIdByInfoHash(hash_b)));
  EXPECT_EQ(kept, "first\xff"s + '\0');
  EXPECT_EQ(t.meta_data, "second");
}

TEST_F(StoreTorrentData, SelectUnfinishedSkipsFinishedRows) {
  auto& t = *db->TorrentData();
  EXPECT_FALSE(t.SelectUnfinished());  // no rows
  ASSERT_TRUE(t.StoreMetaData(hash_a, "a", "", "A"));
  ASSERT_TRUE(t.StoreMetaData(hash_b, "b", "", "B"));
  t.id = t.FindIdByInfoHash(hash_a);
  ASSERT_TRUE(t.MarkFinished());
  ASSERT_TRUE(t.SelectUnfinished());
  EXPECT_EQ(t.info_hash, hash_b);
  EXPECT_FALSE(t.FetchNext());

  ASSERT_TRUE(t.SelectAll());
  int rows = 1;
  while (t.FetchNext()) ++rows;
  EXPECT_EQ(rows, 2);
  ASSERT_TRUE(t.SelectById(t.FindIdByInfoHash(hash_a)));
  EXPECT_EQ(t.finished, 1u);
  EXPECT_TRUE(t.end_time.valid());
}

TEST_F(StoreTorrentData, FinishDropsTheSideRows) {
  fill_torrent(hash_a);
  ASSERT_TRUE(db->SaveTorrent(meta));
  ASSERT_TRUE(raw->execute("INSERT trackers SET torrent_data_id=" + std::to_string(db->TorrentData()->id) +
                           ",tracker_url='http://t/announce'"));
  ASSERT_EQ(raw->count("trackers"), 1u);
  ASSERT_TRUE(db->TorrentData()->Finish());
  EXPECT_EQ(raw->count("trackers"), 0u);
  EXPECT_EQ(raw->count("resume_data"), 0u);
  EXPECT_EQ(raw->count("piece_selection"), 0u);
  EXPECT_EQ(raw->value("SELECT finished FROM torrent_data"), "1");
}

TEST_F(StoreTorrentData, NullColumnsReadAsEmpty) {
  ASSERT_TRUE(raw->execute("INSERT torrent_data SET info_hash='" + hash_a + "'"));
  auto& t = *db->TorrentData();
  t.name = "stale";
  t.start_time = store::date_time::now();
  ASSERT_TRUE(t.SelectUnfinished());
  EXPECT_EQ(t.info_hash, hash_a);
  EXPECT_TRUE(t.meta_data.empty());
  EXPECT_TRUE(t.destination.empty());
  EXPECT_TRUE(t.name.empty());
  EXPECT_FALSE(t.start_time.valid());
  EXPECT_FALSE(t.end_time.valid());

  const auto id = t.id;
  ASSERT_TRUE(raw->execute("INSERT resume_data SET torrent_data_id=" + std::to_string(id)));
  ASSERT_TRUE(raw->execute("INSERT piece_selection SET torrent_data_id=" + std::to_string(id)));
  ASSERT_TRUE(raw->execute("INSERT trackers SET torrent_data_id=" + std::to_string(id)));
  db->ResumeData()->resume_data = "stale";
  ASSERT_TRUE(db->ResumeData()->Load(id));
  EXPECT_TRUE(db->ResumeData()->resume_data.empty());
  db->PieceSelection()->piece_map = "stale";
  ASSERT_TRUE(db->PieceSelection()->Load(id));
  EXPECT_TRUE(db->PieceSelection()->piece_map.empty());
  ASSERT_TRUE(db->Trackers()->SelectByTorrent(id));
  EXPECT_TRUE(db->Trackers()->tracker_url.empty());

  EXPECT_FALSE(db->ResumeData()->Load(id + 1));  // no row
  EXPECT_FALSE(db->PieceSelection()->Load(id + 1));
}

TEST_F(StoreTorrentData, ATorrentWithMetainfoGetsNoRowWithoutIt) {
  fill_torrent(hash_a);
  EXPECT_FALSE(db->SaveTorrent());
  EXPECT_EQ(raw->count("torrent_data"), 0u);
  EXPECT_EQ(raw->count("resume_data"), 0u);

  // A row that lacks it (written by an earlier version) gets it.
  ASSERT_TRUE(raw->execute("INSERT torrent_data SET info_hash='" + hash_a + "',name='Unkown'"));
  EXPECT_FALSE(db->SaveTorrent());
  ASSERT_TRUE(db->SaveTorrent(meta));
  EXPECT_EQ(raw->count("torrent_data"), 1u);
  EXPECT_EQ(raw->value("SELECT meta_data FROM torrent_data"), meta);
  EXPECT_EQ(raw->value("SELECT name FROM torrent_data"), "Some name");
  EXPECT_EQ(raw->value("SELECT uploaded FROM torrent_data"), std::to_string((1ull << 40) + 5));
  EXPECT_EQ(raw->count("resume_data"), 1u);

  // From then on the metainfo stays without being handed over again.
  db->TorrentData()->uploaded = 7;
  ASSERT_TRUE(db->SaveTorrent());
  EXPECT_EQ(raw->value("SELECT meta_data FROM torrent_data"), meta);
  EXPECT_EQ(raw->value("SELECT uploaded FROM torrent_data"), "7");
}

TEST_F(StoreTorrentData, ARowWithMetainfoIsNotWrittenOverByOneWithout) {
  fill_torrent(hash_a);
  ASSERT_TRUE(db->SaveTorrent(meta));
  // The same torrent known only by its info-hash: its save changes the
  // settings and totals, not the metainfo, the name or the trackers.
  db->TorrentData()->name = "Unkown";
  db->TorrentData()->uploaded = 11;
  db->Trackers()->tracker_url = "http://127.0.0.1/announce";
  ASSERT_TRUE(db->SaveTorrent());
  EXPECT_EQ(raw->value("SELECT meta_data FROM torrent_data"), meta);
  EXPECT_EQ(raw->value("SELECT name FROM torrent_data"), "Some name");
  EXPECT_EQ(raw->value("SELECT uploaded FROM torrent_data"), "11");
  EXPECT_EQ(raw->count("trackers"), 0u);
  EXPECT_EQ(raw->count("resume_data"), 1u);

  // Nor by an add by info-hash.
  ASSERT_TRUE(raw->execute("UPDATE torrent_data SET finished=1"));
  ASSERT_TRUE(db->TorrentData()->StoreMetaData(hash_a, "", "/x/", "Unkown"));
  EXPECT_EQ(raw->query("SELECT meta_data,name,finished FROM torrent_data"),
            (store_test::rows{{meta, "Some name", "0"}}));
}

TEST_F(StoreTorrentData, AFinishedTorrentKeepsItsRowWithoutItsOtherRows) {
  fill_torrent(hash_a);
  ASSERT_TRUE(db->SaveTorrent(meta));
  fill_torrent(hash_b);
  ASSERT_TRUE(db->SaveTorrent(meta));

  // The server cannot take it (the table is away): the look-up fails, it
  // does not read as a torrent the store does not know.
  ASSERT_TRUE(raw->execute("RENAME TABLE torrent_data TO torrent_data_away"));
  EXPECT_FALSE(db->TorrentData()->LookUp(hash_a).has_value());
  ASSERT_TRUE(raw->execute("RENAME TABLE torrent_data_away TO torrent_data"));

  const auto stored = db->TorrentData()->LookUp(hash_a);
  ASSERT_TRUE(stored.has_value());
  db->TorrentData()->id = stored->id;
  ASSERT_TRUE(db->TorrentData()->Finish());
  EXPECT_EQ(raw->query("SELECT info_hash,finished FROM torrent_data ORDER BY info_hash"),
            (store_test::rows{{hash_a, "1"}, {hash_b, "0"}}));
  EXPECT_EQ(raw->count("resume_data"), 1u);
  EXPECT_EQ(raw->count("piece_selection"), 1u);
  // Saved again (added anew): it counts as unfinished again.
  fill_torrent(hash_a);
  ASSERT_TRUE(db->SaveTorrent(meta));
  EXPECT_EQ(raw->query("SELECT finished FROM torrent_data WHERE info_hash='" + hash_a + "'"),
            (store_test::rows{{"0"}}));
  EXPECT_EQ(db->TorrentData()->LookUp(hash_a.substr(1) + "9")->id, 0u);
}

#include "store/torrent_database.h"

#include "tests/store/store_test_support.h"

#include <gtest/gtest.h>

#include <map>
#include <vector>

class StoreTables : public store_test::StoreServerTest {};

TEST_F(StoreTables, IpFilterRulesListAndDelete) {
  auto& f = *db->IpFilter();
  const std::vector<std::pair<std::string, std::string>> ranges = {
      {"10.0.0.0", "10.255.255.255"}, {"192.168.1.1", "192.168.1.1"}, {"1.2.3.4", "1.2.3.'9"}};
  for (const auto& [from, to] : ranges) {
    f.ip_start = from;
    f.ip_end = to;
    f.flags = 1;
    ASSERT_TRUE(f.Insert());
  }
  ASSERT_TRUE(f.Select(0));
  std::vector<std::uint32_t> ids;
  do {
    ids.push_back(f.id);
    EXPECT_EQ(f.ip_start, ranges[ids.size() - 1].first);
    EXPECT_EQ(f.ip_end, ranges[ids.size() - 1].second);
    EXPECT_EQ(f.flags, 1u);
  } while (f.FetchNext());
  EXPECT_EQ(ids, (std::vector<std::uint32_t>{1, 2, 3}));

  ASSERT_TRUE(f.Select(2));
  EXPECT_EQ(f.ip_start, "192.168.1.1");
  EXPECT_FALSE(f.FetchNext());
  ASSERT_TRUE(f.Delete(2));
  EXPECT_FALSE(f.Select(2));
  EXPECT_EQ(raw->count("ip_filter"), 2u);

  // Deleting all restarts the ids.
  ASSERT_TRUE(f.Delete(0));
  EXPECT_EQ(raw->count("ip_filter"), 0u);
  EXPECT_FALSE(f.Select(0));
  f.ip_start = f.ip_end = "8.8.8.8";
  f.flags = 0;
  ASSERT_TRUE(f.Insert());
  ASSERT_TRUE(f.Select(0));
  EXPECT_EQ(f.id, 1u);
}

TEST_F(StoreTables, AutoDestinationsListAndDelete) {
  auto& a = *db->AutoDestinations();
  a.key_words = "linux,iso";
  a.destination = "/srv/it's/";
  ASSERT_TRUE(a.Insert());
  a.key_words = "music";
  a.destination = "/srv/music/";
  ASSERT_TRUE(a.Insert());
  std::map<std::uint32_t, std::string> seen;
  ASSERT_TRUE(a.Select(0));
  do seen[a.id] = a.key_words + "|" + a.destination;
  while (a.FetchNext());
  EXPECT_EQ(seen, (std::map<std::uint32_t, std::string>{{1, "linux,iso|/srv/it's/"}, {2, "music|/srv/music/"}}));
  ASSERT_TRUE(a.Delete(1));
  ASSERT_TRUE(a.Select(2));
  EXPECT_EQ(a.key_words, "music");
  ASSERT_TRUE(a.Delete(0));
  a.key_words = "x";
  ASSERT_TRUE(a.Insert());
  ASSERT_TRUE(a.Select(0));
  EXPECT_EQ(a.id, 1u);
}

TEST_F(StoreTables, PeerNodesFindInsertUpdate) {
  auto& n = *db->Nodes();
  std::uint32_t port = 12345;
  EXPECT_EQ(n.FindByIp(7, "10.1.2.3", port), 0u);
  EXPECT_EQ(port, 12345u);

  n.torrent_data_id = 7;
  n.ip = "10.1.2.3";
  n.port = 6881;
  ASSERT_TRUE(n.Insert());
  n.ip = "10.1.2.4";
  n.port = 6882;
  ASSERT_TRUE(n.Insert());
  n.torrent_data_id = 8;
  n.ip = "10.1.2.3";
  n.port = 1;
  ASSERT_TRUE(n.Insert());

  const auto id = n.FindByIp(7, "10.1.2.3", port);
  ASSERT_NE(id, 0u);
  EXPECT_EQ(port, 6881u);
  EXPECT_EQ(n.FindByIp(7, "10.1.2.3' OR '1'='1", port), 0u);

  n.id = id;
  n.torrent_data_id = 7;
  n.ip = "10.1.2.3";
  n.port = 51413;
  ASSERT_TRUE(n.Update());
  EXPECT_EQ(n.FindByIp(7, "10.1.2.3", port), id);
  EXPECT_EQ(port, 51413u);
  EXPECT_EQ(n.FindByIp(8, "10.1.2.3", port), id + 2);
  EXPECT_EQ(port, 1u);

  std::map<std::string, std::uint32_t> peers;
  ASSERT_TRUE(n.SelectByTorrent(7));
  do {
    EXPECT_EQ(n.torrent_data_id, 7u);
    peers[n.ip] = n.port;
  } while (n.FetchNext());
  EXPECT_EQ(peers, (std::map<std::string, std::uint32_t>{{"10.1.2.3", 51413}, {"10.1.2.4", 6882}}));

  ASSERT_TRUE(n.DeleteByTorrent(7));
  EXPECT_FALSE(n.SelectByTorrent(7));
  EXPECT_EQ(raw->count("nodes"), 1u);
}

TEST_F(StoreTables, PeerNodeWithoutAddressReadsAsZeros) {
  ASSERT_TRUE(raw->execute("INSERT nodes SET torrent_data_id=3,port=99"));
  auto& n = *db->Nodes();
  n.ip = "stale";
  ASSERT_TRUE(n.SelectByTorrent(3));
  EXPECT_EQ(n.ip, "0.0.0.0");
  EXPECT_EQ(n.port, 99u);
}

TEST_F(StoreTables, DeleteByTorrentTouchesOnlyThatTorrent) {
  for (int torrent : {1, 2}) {
    const std::string id = std::to_string(torrent);
    ASSERT_TRUE(raw->execute("INSERT resume_data SET torrent_data_id=" + id + ", resume_data='r'"));
    ASSERT_TRUE(raw->execute("INSERT piece_selection SET torrent_data_id=" + id + ", piece_map='0'"));
    ASSERT_TRUE(raw->execute("INSERT trackers SET torrent_data_id=" + id + ", tracker_url='u'"));
  }
  EXPECT_TRUE(db->PieceSelection()->DeleteByTorrent(1));
  EXPECT_TRUE(db->ResumeData()->DeleteByTorrent(1));
  EXPECT_TRUE(db->Trackers()->DeleteByTorrent(1));
  for (const char* table : {"resume_data", "piece_selection", "trackers"})
    EXPECT_EQ(raw->value(std::string("SELECT torrent_data_id FROM ") + table), "2") << table;
}

namespace {

// A table object that reads three columns per row.
class three_column_table : public CDatabaseTable {
 public:
  three_column_table(const store::mysql::client_api& api, store::mysql::connection* connection)
      : CDatabaseTable(api, connection) {}
  using CDatabaseTable::Select;
  std::string last;

 protected:
  bool ParseRow() override {
    last = Bytes(0) + "|" + Bytes(1) + "|" + Bytes(2);
    return true;
  }
};

}  // namespace

TEST_F(StoreTables, ResultOfTheWrongShapeIsNeverParsed) {
  ASSERT_TRUE(raw->execute("INSERT nodes SET torrent_data_id=1,ip='1.1.1.1',port=1"));
  ASSERT_TRUE(raw->execute("INSERT nodes SET torrent_data_id=1,ip='2.2.2.2',port=2"));
  three_column_table probe(raw->api(), raw->handle());
  ASSERT_TRUE(probe.Select(3, "SELECT id,ip,port FROM nodes"));
  EXPECT_EQ(probe.last, "1|1.1.1.1|1");
  // One column where three are named: fails, and no row of it is read.
  EXPECT_FALSE(probe.Select(3, "SELECT id FROM nodes"));
  EXPECT_FALSE(probe.FetchNext());
  EXPECT_EQ(probe.last, "1|1.1.1.1|1");
}

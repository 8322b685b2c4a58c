#include "dht/info_hash_record.h"
#include "dht/node_core.h"

#include <gtest/gtest.h>

#include "dht/krpc.h"
#include "dht_harness.h"

using namespace dht_test;
using dht::InfoHashRecord;
using dht::NodeCore;
using engine::address;

namespace {

address peer(int i) { return address(std::uint32_t(0x7F020000 + i), static_cast<std::uint16_t>(1000 + i)); }

TEST(DhtInfoHashStore, CapacityIsAtLeast32) {
  CoreHarness small(id_of(1), 1000, 10), large(id_of(1), 1000, 40);
  EXPECT_EQ(small.core.peer_capacity(), 32u);
  EXPECT_EQ(large.core.peer_capacity(), 40u);
}

TEST(DhtInfoHashStore, FullPeerListOverwritesAsARing) {
  InfoHashRecord r(id_of(9), 40, false, false, 0);
  for (int i = 0; i < 40; ++i) r.store_peer(peer(i), 40, 0);
  r.store_peer(peer(40), 40, 0);
  EXPECT_EQ(r.peers[0], peer(40));
  r.store_peer(peer(41), 40, 0);
  EXPECT_EQ(r.peers[1], peer(41));
  for (int i = 42; i < 80; ++i) r.store_peer(peer(i), 40, 0);
  EXPECT_EQ(r.peers[39], peer(79));
  EXPECT_EQ(r.ring_cursor, 0u);
  EXPECT_EQ(r.peers.size(), 40u);
  // The same address with another port keeps its place.
  r.store_peer(address(peer(50).ip, 1), 40, 0);
  EXPECT_EQ(r.peers[10], address(peer(50).ip, 1));
  EXPECT_EQ(r.ring_cursor, 0u);
}

TEST(DhtInfoHashStore, ValuesComeInSlidingWindowsOf32) {
  InfoHashRecord r(id_of(9), 70, false, false, 0);
  for (int i = 0; i < 70; ++i) r.store_peer(peer(i), 70, 0);
  const auto first = [](const std::vector<address>& v) { return v.empty() ? -1 : int(v[0].ip - peer(0).ip); };
  auto w = r.next_values();
  EXPECT_EQ(w.size(), 32u);
  EXPECT_EQ(first(w), 0);
  EXPECT_EQ(first(r.next_values()), 32);
  w = r.next_values();
  EXPECT_EQ(first(w), 38);
  EXPECT_EQ(w.back(), peer(69));
  EXPECT_EQ(first(r.next_values()), 0);
}

class DhtInfoHashRecords : public ::testing::Test {
 protected:
  std::string get_peers(const engine::sha1_hash& ih, const address& from = address(127, 0, 3, 1, 5000)) {
    h.sent.clear();
    h.receive("d1:ad2:id20:" + id_of(0x66).to_string() + "9:info_hash20:" + ih.to_string() +
                  "e1:q9:get_peers1:t2:aa1:y1:qe",
              from);
    return h.take().bytes;
  }
  bool announce(const engine::sha1_hash& ih, const address& from) {
    h.sent.clear();
    h.receive("d1:ad2:id20:" + id_of(0x66).to_string() + "9:info_hash20:" + ih.to_string() + "4:porti" +
                  std::to_string(from.port) + "e5:token20:" + h.core.write_token(from.ip) +
                  "e1:q13:announce_peer1:t2:aa1:y1:qe",
              from);
    return h.take().message().find_key("e") == nullptr;
  }
  CoreHarness h;
};

TEST_F(DhtInfoHashRecords, PrivateRecordsNeverHandOutTheirPeers) {
  const auto ih = id_of(0x70);
  h.core.add_info_hash(ih, true, true, h.now);
  ASSERT_TRUE(announce(ih, peer(1)));
  EXPECT_EQ(h.core.peers(ih).size(), 1u);
  EXPECT_EQ(get_peers(ih).find("6:values"), std::string::npos);
}

TEST_F(DhtInfoHashRecords, ReleasedRecordKeepsItsPeersButIsNoLongerQueried) {
  const auto ih = id_of(0x71);
  h.core.add_info_hash(ih, false, true, h.now);
  h.core.add_node(peer(1), ih, h.now);
  ASSERT_TRUE(announce(ih, peer(2)));
  h.core.release_info_hash(ih, h.now);
  EXPECT_EQ(h.core.find_record(ih)->table.size(), 0u);
  EXPECT_NE(get_peers(ih).find("6:values"), std::string::npos);
  h.sent.clear();
  h.tick(NodeCore::ping_after + 1);
  EXPECT_TRUE(h.sent.empty());
}

TEST_F(DhtInfoHashRecords, OwnPrivateTorrentStaysPrivateWhenOthersAnnouncedItFirst) {
  const auto foreign = id_of(0x72);
  ASSERT_TRUE(announce(foreign, peer(3)));
  EXPECT_NE(get_peers(foreign).find("6:values"), std::string::npos);
  h.core.add_info_hash(foreign, true, true, h.now);
  EXPECT_TRUE(h.core.find_record(foreign)->own);
  EXPECT_TRUE(h.core.find_record(foreign)->is_private);
  EXPECT_EQ(get_peers(foreign).find("6:values"), std::string::npos);
  // A public torrent of our own leaves a public record public.
  const auto open = id_of(0x74);
  ASSERT_TRUE(announce(open, peer(4)));
  h.core.add_info_hash(open, false, true, h.now);
  EXPECT_FALSE(h.core.find_record(open)->is_private);
}

TEST_F(DhtInfoHashRecords, ForeignRecordsAreBoundedAndExpire) {
  engine::sha1_hash ih;
  for (std::uint32_t i = 0; i < NodeCore::record_limit; ++i) {
    std::memcpy(ih.data(), &i, sizeof i);
    ASSERT_TRUE(h.core.add_info_hash(ih, false, false, h.now));
  }
  const auto mine = id_of(0x73);
  h.core.add_info_hash(mine, true, true, h.now);  // own torrents are never refused
  h.sent.clear();
  h.receive("d1:ad2:id20:" + id_of(0x66).to_string() + "9:info_hash20:" + id_of(0x74).to_string() +
                "4:porti80e5:token20:" + h.core.write_token(peer(1).ip) + "e1:q13:announce_peer1:t2:aa1:y1:qe",
            peer(1));
  EXPECT_EQ(h.take().message()["e"].string(), "announce_peer: no more free resources");

  ASSERT_TRUE(announce(ih, peer(5)));  // one foreign record stays announced
  h.tick(NodeCore::foreign_lifetime / 2);
  ASSERT_TRUE(announce(ih, peer(5)));
  h.tick(NodeCore::foreign_lifetime / 2 + 1);
  EXPECT_EQ(h.core.statistics().records, 2u);  // the announced one and the own one
  EXPECT_TRUE(h.core.find_record(ih));
  EXPECT_TRUE(h.core.find_record(mine));
  EXPECT_TRUE(announce(id_of(0x74), peer(1)));
  // Unannounced, its peer goes and then the record.
  h.tick(NodeCore::foreign_lifetime);
  EXPECT_FALSE(h.core.find_record(ih));
  EXPECT_TRUE(h.core.find_record(mine));
}

TEST_F(DhtInfoHashRecords, GetPeersRepliesCarryValuesOrNodesAndStoreThem) {
  // Our own torrent asks a contact of the main table; "values" and "nodes"
  // in one reply are both used.
  const auto ih = id_of(0x75);
  h.core.add_info_hash(ih, false, true, h.now);
  h.core.add_node(peer(1), {}, h.now);
  h.tick(NodeCore::ping_after + 1);
  h.receive(reply_to(h.take(), "2:id20:" + id_of(0x21).to_string()), peer(1));
  std::optional<Sent> query;
  for (int i = 0; i < 5 && !query; ++i) {
    h.sent.clear();
    h.tick();
    for (const auto& s : h.sent)
      if (s.message()["q"].string() == "get_peers") query = s;
      else h.receive(reply_to(s, "2:id20:" + id_of(0x21).to_string()), peer(1));
  }
  ASSERT_TRUE(query);
  EXPECT_EQ(query->message()["a"]["info_hash"].string(), ih.to_string());
  std::string nodes;
  dht::krpc::append_compact_node(nodes, flip(ih, 5), peer(9));
  const std::string values = "l6:" + dht::krpc::compact_peer(peer(7)) + "5:short" + "6:" +
                             dht::krpc::compact_peer(h.core.own_endpoint()) + "i5ee";
  h.receive(reply_to(*query, "2:id20:" + id_of(0x21).to_string() + "5:nodes" + bstr(nodes) + "5:token4:abcd6:values" +
                                 values),
            peer(1));
  EXPECT_EQ(h.core.peers(ih), std::vector<address>{peer(7)});
  EXPECT_TRUE(h.core.find_record(ih)->table.find_by_id(flip(ih, 5)));
  EXPECT_EQ(h.core.main_table().find_by_id(id_of(0x21))->token, "abcd");
}

}  // namespace

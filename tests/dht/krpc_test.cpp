#include "dht/krpc.h"

#include <gtest/gtest.h>

#include "dht_harness.h"
#include "engine/formats/sha1.h"

using namespace dht_test;
using engine::address;
using engine::entry;

namespace {

const std::string A20(20, 'A');
const std::string B20(20, 'B');

TEST(DhtKrpcGolden, QueriesByteForByte) {
  const auto id = engine::sha1_hash::from_bytes(A20);
  const auto other = engine::sha1_hash::from_bytes(B20);
  EXPECT_EQ(dht::krpc::ping_query(2, id), "d1:ad2:id20:" + A20 + "e1:q4:ping1:t1:\x02" "1:y1:qe");
  EXPECT_EQ(dht::krpc::find_node_query(3, id, other),
            "d1:ad2:id20:" + A20 + "6:target20:" + B20 + "e1:q9:find_node1:t1:\x03" "1:y1:qe");
  EXPECT_EQ(dht::krpc::get_peers_query(0, id, other),
            "d1:ad2:id20:" + A20 + "9:info_hash20:" + B20 + "e1:q9:get_peers1:t1:" + std::string(1, '\0') +
                "1:y1:qe");
  // Tokens of other nodes go back at their own length.
  EXPECT_EQ(dht::krpc::announce_peer_query(255, id, other, 6881, "tok4"),
            "d1:ad2:id20:" + A20 + "9:info_hash20:" + B20 + "4:porti6881e5:token4:tok4e1:q13:announce_peer1:t1:\xff"
                                                             "1:y1:qe");
}

TEST(DhtKrpcGolden, CompactEncodings) {
  std::string out;
  dht::krpc::append_compact_node(out, engine::sha1_hash::from_bytes(A20), address(10, 1, 2, 3, 0x1AE1));
  EXPECT_EQ(out, A20 + "\x0a\x01\x02\x03\x1a\xe1");
  EXPECT_EQ(dht::krpc::compact_peer(address(192, 168, 0, 255, 80)), std::string("\xc0\xa8\x00\xff\x00\x50", 6));
  const auto nodes = dht::krpc::decode_nodes(out + out);
  ASSERT_EQ(nodes.size(), 2u);
  EXPECT_EQ(nodes[1].address, address(10, 1, 2, 3, 0x1AE1));
  EXPECT_TRUE(dht::krpc::decode_nodes(out + "x").empty());
  EXPECT_TRUE(dht::krpc::decode_nodes("").empty());
  EXPECT_FALSE(dht::krpc::decode_peer("12345"));
  EXPECT_FALSE(dht::krpc::decode_peer("1234567"));
}

TEST(DhtKrpcGolden, ShortFieldsCountAsMissing) {
  entry d(entry::dictionary_t);
  d["short"] = std::string(19, 'x');
  d["long"] = std::string(25, 'y');
  d["number"] = entry::integer_type(5);
  EXPECT_FALSE(dht::krpc::hash_field(d, "short"));
  EXPECT_FALSE(dht::krpc::hash_field(d, "number"));
  EXPECT_FALSE(dht::krpc::hash_field(d, "missing"));
  EXPECT_EQ(dht::krpc::hash_field(d, "long")->to_string(), std::string(20, 'y'));
}

// The handlers, answered to the datagram's source.
class DhtKrpcHandlers : public ::testing::Test {
 protected:
  DhtKrpcHandlers() : h(engine::sha1_hash::from_bytes(A20)) {}
  std::string ask(const std::string& query) {
    h.sent.clear();
    h.receive(query, from);
    if (h.sent.empty()) return "<none>";
    EXPECT_EQ(h.sent.size(), 1u);
    EXPECT_EQ(h.sent[0].to, from);
    return h.sent[0].bytes;
  }
  static std::string q(const std::string& name, const std::string& args, const std::string& t = "2:aa") {
    return "d1:ad" + args + "e1:q" + bstr(name) + "1:t" + t + "1:y1:qe";
  }
  static std::string err(const std::string& text, const std::string& t = "2:aa") {
    return "d1:e" + bstr(text) + "1:t" + t + "1:y1:ee";
  }
  std::string token() const { return h.core.write_token(from.ip); }

  CoreHarness h;
  address from{127, 0, 0, 9, 7000};
};

TEST_F(DhtKrpcHandlers, RepliesByteForByte) {
  EXPECT_EQ(ask(q("ping", "2:id20:" + B20)), "d1:rd2:id20:" + A20 + "e1:t2:aa1:y1:re");
  // A "t" of another type comes back as it was.
  EXPECT_EQ(ask(q("ping", "2:id20:" + B20, "i42e")), "d1:rd2:id20:" + A20 + "e1:ti42e1:y1:re");
  EXPECT_EQ(ask(q("find_node", "2:id20:" + B20 + "6:target20:" + B20)),
            "d1:rd2:id20:" + A20 + "5:nodes0:e1:t2:aa1:y1:re");
  EXPECT_EQ(ask(q("get_peers", "2:id20:" + B20 + "9:info_hash20:" + B20)),
            "d1:rd2:id20:" + A20 + "5:nodes0:5:token20:" + token() + "e1:t2:aa1:y1:re");
  EXPECT_EQ(ask(q("announce_peer", "2:id20:" + B20 + "9:info_hash20:" + B20 + "4:porti80e5:token20:" + token())),
            "d1:rd2:id20:" + A20 + "e1:t2:aa1:y1:re");
  // The peer is there now: values, its address and the announced port.
  EXPECT_EQ(ask(q("get_peers", "2:id20:" + B20 + "9:info_hash20:" + B20)),
            "d1:rd2:id20:" + A20 + "5:token20:" + token() + "6:valuesl6:" + std::string("\x7f\x00\x00\x09\x00\x50", 6) +
                "ee1:t2:aa1:y1:re");
}

TEST_F(DhtKrpcHandlers, ErrorTextsByteForByte) {
  EXPECT_EQ(ask(q("ping", "")), err("ping: 'id' entry not found"));
  EXPECT_EQ(ask(q("ping", "2:id19:" + std::string(19, 'x'))), err("ping: 'id' entry not found"));
  EXPECT_EQ(ask(q("find_node", "2:id20:" + B20)), err("find_node: 'target' entry not found"));
  EXPECT_EQ(ask(q("get_peers", "2:id20:" + B20 + "9:info_hash3:abc")), err("get_peers: 'info_hash' entry not found"));
  // Without a token the token is what is wrong, even when the port is missing too.
  EXPECT_EQ(ask(q("announce_peer", "2:id20:" + B20 + "9:info_hash20:" + B20)), err("Invalid write token"));
  const std::string tok = "5:token20:" + token();
  EXPECT_EQ(ask(q("announce_peer", "2:id20:" + B20 + "9:info_hash20:" + B20 + tok)),
            err("announce_peer: 'port' entry not found"));
  EXPECT_EQ(ask(q("announce_peer", "9:info_hash20:" + B20 + "4:porti1e" + tok)),
            err("announce_peer: 'id' entry not found"));
  EXPECT_EQ(ask(q("announce_peer", "2:id20:" + B20 + "4:porti1e" + tok)),
            err("announce_peer: 'info_hash' entry not found"));
  // A query without "t" is answered without one.
  EXPECT_EQ(ask("d1:ade1:q4:ping1:y1:qe"), "d1:e26:ping: 'id' entry not found1:y1:ee");
}

TEST_F(DhtKrpcHandlers, InternalFailuresAnswerWithTheirOwnTexts) {
  const auto failing = [&](const std::string& query) {
    h.fail_next_send = true;
    return ask(query);
  };
  const std::string tok = "5:token20:" + token();
  EXPECT_EQ(failing(q("ping", "2:id20:" + B20)), err("ping: fatal internal error"));
  EXPECT_EQ(failing(q("find_node", "2:id20:" + B20 + "6:target20:" + B20)), err("find_node:\tfatal internal error"));
  EXPECT_EQ(failing(q("get_peers", "2:id20:" + B20 + "9:info_hash20:" + B20)), err("get_peers:\tfatal internal error"));
  EXPECT_EQ(failing(q("announce_peer", "2:id20:" + B20 + "9:info_hash20:" + B20 + "4:porti80e" + tok)),
            err("announce_peer: fatal internal error"));
}

TEST_F(DhtKrpcHandlers, MalformedQueriesGetNoAnswer) {
  EXPECT_EQ(ask(q("vote", "2:id20:" + B20)), "<none>");
  EXPECT_EQ(ask("d1:ad2:id20:" + B20 + "e1:q4:ping1:t2:aa1:y1:xe"), "<none>");
  EXPECT_EQ(ask("d1:ai5e1:q4:ping1:t2:aa1:y1:qe"), "<none>");     // "a" no dictionary
  EXPECT_EQ(ask("d1:ad2:id20:" + B20 + "e1:qi1e1:t2:aa1:y1:qe"), "<none>");  // "q" no string
  EXPECT_EQ(ask("l1:y1:qe"), "<none>");
  EXPECT_EQ(ask("d1:ad2:id20:" + B20 + "e1:q4:ping"), "<none>");  // truncated
  EXPECT_EQ(ask(""), "<none>");
}

TEST_F(DhtKrpcHandlers, AnswersOnlyWithinTheRateLimits) {
  const std::string ping = q("ping", "2:id20:" + B20);
  h.core.set_rates(2000.5f, 0);
  EXPECT_EQ(ask(ping), "<none>");
  EXPECT_EQ(h.core.statistics().query_flag, 1u);
  h.core.set_rates(0, 2000.5f);
  EXPECT_EQ(ask(ping), "<none>");
  h.core.set_rates(2000.0f, 2000.0f);
  EXPECT_NE(ask(ping), "<none>");
}

}  // namespace

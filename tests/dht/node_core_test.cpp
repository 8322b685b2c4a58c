#include "dht/node_core.h"

#include <gtest/gtest.h>

#include "dht/krpc.h"
#include "dht_harness.h"

using namespace dht_test;
using dht::NodeCore;
using engine::address;
using engine::sha1_hash;

namespace {

class DhtNodeCore : public ::testing::Test {
 protected:
  explicit DhtNodeCore(std::uint32_t start = 1000) : h(id_of(0x11), start) {}

  static address peer(int i) { return address(127, 0, 1, static_cast<std::uint8_t>(i), static_cast<std::uint16_t>(7000 + i)); }

  // Adds a contact by address and waits for the ping that it gets.
  Sent ping_new(const address& a) {
    h.core.add_node(a, {}, h.now);
    h.sent.clear();
    h.tick(NodeCore::ping_after + 1);
    const auto to = h.sent_to(a);
    EXPECT_EQ(to.size(), 1u);
    EXPECT_EQ(to.at(0).message()["q"].string(), "ping");
    h.sent.clear();
    return to.at(0);
  }
  // A contact with `id` in its bucket of the main table, confirmed.
  dht::Node& confirmed(const address& a, const sha1_hash& id) {
    const Sent ping = ping_new(a);
    h.receive(reply_to(ping, "2:id20:" + id.to_string()), a);
    dht::Node* n = h.core.main_table().find_by_id(id);
    EXPECT_TRUE(n && n->confirmed);
    return *n;
  }

  CoreHarness h;
};

TEST_F(DhtNodeCore, ContactsByAddressOncePerIpv4Address) {
  auto& idless = h.core.main_table()[dht::idless_bucket];
  h.core.add_node(peer(1), {}, h.now);
  h.core.add_node(address(peer(1).ip, 9999), {}, h.now);  // same address, other port
  h.core.add_node(h.core.own_endpoint(), {}, h.now);
  h.core.add_node(address(127, 0, 1, 77, 0), {}, h.now);
  ASSERT_EQ(idless.size(), 1u);
  EXPECT_EQ(idless[0].address, peer(1));
  EXPECT_EQ(idless[0].pending, '*');
  for (int i = 2; i <= 8; ++i) h.core.add_node(peer(i), {}, h.now);
  h.core.add_node(peer(9), {}, h.now);  // full, none timed out: dropped
  EXPECT_EQ(idless.size(), 8u);
  EXPECT_FALSE(h.core.main_table().contains_ip(peer(9).ip));
  idless[4].pending = 't';
  h.core.add_node(peer(9), {}, h.now);
  EXPECT_EQ(idless[4].address, peer(9));
}

TEST_F(DhtNodeCore, IdlessContactMovesToItsBucketWhenItTellsItsId) {
  const auto id = flip(id_of(0x11), 3);
  dht::Node& n = confirmed(peer(1), id);
  EXPECT_EQ(&n, &h.core.main_table()[156][0]);
  EXPECT_TRUE(h.core.main_table()[dht::idless_bucket].empty());
  EXPECT_FALSE(n.awaiting);
  EXPECT_EQ(n.pending, 'p');
  // A reply without an id leaves an id-less contact where it is.
  const Sent ping = ping_new(peer(2));
  h.receive(reply_to(ping, "2:ip4:abcd"), peer(2));
  ASSERT_EQ(h.core.main_table()[dht::idless_bucket].size(), 1u);
  EXPECT_TRUE(h.core.main_table()[dht::idless_bucket][0].confirmed);
}

TEST_F(DhtNodeCore, RepliesOnlyFromAwaitedContactsWithTheirTransaction) {
  const Sent ping = ping_new(peer(1));
  const std::string answer = reply_to(ping, "2:id20:" + id_of(0x22).to_string());
  std::string wrong_t = answer;
  wrong_t[wrong_t.find("1:t1:") + 5] ^= 0x40;
  h.receive(wrong_t, peer(1));
  h.receive(answer, peer(2));                                             // another address
  h.receive("d1:rd2:id20:" + id_of(0x22).to_string() + "e1:t0:1:y1:re", peer(1));  // empty "t"
  h.receive("d1:rd2:id20:" + id_of(0x22).to_string() + "e1:y1:re", peer(1));        // none
  EXPECT_FALSE(h.core.main_table()[dht::idless_bucket][0].confirmed);
  EXPECT_TRUE(h.core.main_table()[dht::idless_bucket][0].awaiting);
  h.receive(answer, address(peer(1).ip, 1));  // the port does not matter
  ASSERT_TRUE(h.core.main_table().find_by_id(id_of(0x22)));
  // Once answered, the same reply again is not awaited any more.
  dht::Node& n = *h.core.main_table().find_by_id(id_of(0x22));
  n.confirmed = false;
  h.receive(answer, peer(1));
  EXPECT_FALSE(n.confirmed);
  EXPECT_TRUE(h.sent.empty());
}

TEST_F(DhtNodeCore, FindNodeRepliesFillTheTableButNeverWithJunk) {
  const auto id = flip(id_of(0x11), 0);
  confirmed(peer(1), id);
  h.tick();
  const auto queries = h.sent_to(peer(1));
  ASSERT_EQ(queries.size(), 1u);
  const auto q = queries[0].message();
  EXPECT_EQ(q["q"].string(), "find_node");
  EXPECT_EQ(q["a"]["target"].string(), id.to_string());  // first find_node: its own id

  std::string nodes;
  const auto good = flip(id_of(0x11), 20);
  dht::krpc::append_compact_node(nodes, good, peer(3));
  dht::krpc::append_compact_node(nodes, id_of(0x11), peer(4));             // our own id
  dht::krpc::append_compact_node(nodes, sha1_hash(), peer(5));              // no id
  dht::krpc::append_compact_node(nodes, id_of(0x33), h.core.own_endpoint());  // ourselves
  dht::krpc::append_compact_node(nodes, id_of(0x34), peer(1));              // already known
  dht::krpc::append_compact_node(nodes, id_of(0x35), address(127, 0, 1, 6, 0));
  h.receive(reply_to(queries[0], "2:id20:" + id.to_string() + "5:nodes" + bstr(nodes)), peer(1));
  EXPECT_EQ(h.core.main_table().size(), 2u);
  const dht::Node* learned = h.core.main_table().find_by_id(good);
  ASSERT_TRUE(learned);
  EXPECT_EQ(learned->pending, '*');
  EXPECT_FALSE(learned->confirmed);
  EXPECT_EQ(h.core.main_table().find_by_id(id)->last_find_node, h.core.main_table().find_by_id(id)->last_contact);
  // A "nodes" value of a wrong length is ignored whole.
  h.core.main_table().find_by_id(id)->awaiting = true;
  h.receive(reply_to(queries[0], "2:id20:" + id.to_string() + "5:nodes" + bstr(nodes + "x")), peer(1));
  EXPECT_EQ(h.core.main_table().size(), 2u);
}

TEST_F(DhtNodeCore, FindNodeIsRepeatedAfterTenMinutesForANeighboursId) {
  const auto far = flip(id_of(0x11), 0), near = flip(id_of(0x11), 150);
  dht::Node& first = confirmed(peer(1), far);
  confirmed(peer(2), near);
  // While the second contact got its ping, the first got a find_node for
  // its own id; it is answered now.
  const std::uint32_t asked_first = h.now;
  EXPECT_EQ(first.pending, 'f');
  EXPECT_EQ(first.last_find_node, asked_first);
  h.receive("d1:rd2:id20:" + far.to_string() + "e1:t1:" + std::string(1, char(first.transaction)) + "1:y1:re",
            peer(1));
  EXPECT_FALSE(first.awaiting);
  h.tick();  // the other one has never been asked: it is next, for its own id
  ASSERT_EQ(h.sent.size(), 1u);
  EXPECT_EQ(h.sent[0].to, peer(2));
  EXPECT_EQ(h.sent[0].message()["a"]["target"].string(), near.to_string());
  h.receive(reply_to(h.take(), "2:id20:" + near.to_string()), peer(2));
  // Nobody is asked again before ten minutes have passed; then the one silent
  // longest is asked for the id of the first other contact.
  h.tick(asked_first + NodeCore::find_node_every - 1 - h.now);
  EXPECT_TRUE(h.sent.empty());
  h.tick(1);
  ASSERT_EQ(h.sent.size(), 1u);
  EXPECT_EQ(h.sent[0].to, peer(1));
  EXPECT_EQ(h.sent[0].message()["q"].string(), "find_node");
  EXPECT_EQ(h.sent[0].message()["a"]["target"].string(), near.to_string());
}

TEST_F(DhtNodeCore, PingHandlerAddsTheSenderOnce) {
  const std::string ping = "d1:ad2:id20:" + id_of(0x44).to_string() + "e1:q4:ping1:t2:aa1:y1:qe";
  h.receive(ping, peer(1));
  h.receive("d1:ad2:id20:" + id_of(0x45).to_string() + "e1:q4:ping1:t2:aa1:y1:qe", peer(1));
  h.receive("d1:ad2:id20:" + id_of(0x46).to_string() + "e1:q4:ping1:t2:aa1:y1:qe", h.core.own_endpoint());
  EXPECT_EQ(h.core.main_table().size(), 1u);
  // The known id at a new port: the contact follows.
  h.receive(ping, address(peer(1).ip, 4000));
  EXPECT_EQ(h.core.main_table().find_by_id(id_of(0x44))->address.port, 4000);
}

class DhtNodeCoreWrap : public DhtNodeCore {
 protected:
  DhtNodeCoreWrap() : DhtNodeCore(0xFFFFFFFFu - NodeCore::ping_after) {}
};

TEST_F(DhtNodeCoreWrap, TimeOutAfter90001MsAcrossTheClockWrap) {
  h.random_byte = 0xFF;  // jitter 32767 ms
  h.core.add_node(peer(1), {}, h.now);
  auto& n = h.core.main_table()[dht::idless_bucket][0];
  EXPECT_EQ(n.last_contact, h.now + 32767);
  h.tick(NodeCore::ping_after + 32767);  // silence exactly 300000: the ping goes out
  ASSERT_EQ(h.sent.size(), 1u);
  EXPECT_LT(h.now, 100000u);             // the clock wrapped
  EXPECT_TRUE(n.awaiting);
  h.tick(NodeCore::reply_timeout);
  EXPECT_TRUE(n.awaiting);
  h.tick(1);
  EXPECT_FALSE(n.awaiting);
  EXPECT_EQ(n.pending, 't');
  EXPECT_EQ(n.last_find_node + n.last_get_peers + n.last_announce, 0u);
  // A contact whose last_contact lies ahead of the clock is left alone.
  n.awaiting = true;
  n.last_contact = h.now + 200000;
  h.tick(100000);
  EXPECT_TRUE(n.awaiting);
}

TEST_F(DhtNodeCoreWrap, PingWaitsForFiveMinutesOfSilence) {
  h.core.add_node(peer(1), {}, h.now);
  h.tick(NodeCore::ping_after - 1);
  EXPECT_TRUE(h.sent.empty());
  h.tick(1);
  EXPECT_EQ(h.sent.size(), 1u);
}

TEST_F(DhtNodeCore, TokensOfOtherNodesAreEchoedAtTheirOwnLength) {
  const auto info_hash = id_of(0x77);
  ASSERT_TRUE(h.core.add_info_hash(info_hash, false, true, h.now));
  // The record's own table gets a contact, confirmed with a 5-byte token.
  h.core.add_node(peer(1), info_hash, h.now);
  auto& table = h.core.find_record(info_hash)->table;
  ASSERT_EQ(table[dht::idless_bucket].size(), 1u);
  h.tick(NodeCore::ping_after + 1);
  const auto ping = h.sent_to(peer(1));
  ASSERT_EQ(ping.size(), 1u);
  h.receive(reply_to(ping[0], "2:id20:" + flip(info_hash, 2).to_string() + "5:token5:short"), peer(1));
  const dht::Node* n = table.find_by_id(flip(info_hash, 2));
  ASSERT_TRUE(n);
  EXPECT_EQ(n->token, "short");
  h.sent.clear();
  for (int i = 0; i < 4 && h.sent_to(peer(1)).empty(); ++i) h.tick();
  // first a find_node, get_peers or announce; run until the announce is out
  for (int i = 0; i < 20; ++i) {
    for (const auto& s : h.sent_to(peer(1)))
      if (s.message()["q"].string() != "announce_peer") h.receive(reply_to(s, "2:id20:" + flip(info_hash, 2).to_string()), peer(1));
    h.sent.clear();
    h.tick();
    const auto out = h.sent_to(peer(1));
    if (!out.empty() && out[0].message()["q"].string() == "announce_peer") {
      EXPECT_EQ(out[0].message()["a"]["token"].string(), "short");
      EXPECT_EQ(out[0].message()["a"]["port"].integer(), 6882);
      return;
    }
  }
  FAIL() << "no announce_peer";
}

TEST_F(DhtNodeCore, WriteTokenBelongsToTheQuerierAndRotates) {
  h.random_byte = 1;
  const auto info_hash = id_of(0x55);
  const std::string token = h.core.write_token(peer(1).ip);
  EXPECT_EQ(token.size(), 20u);
  EXPECT_NE(token, h.core.write_token(peer(2).ip));
  const auto announce = [&](const address& from, const std::string& tok) {
    h.sent.clear();
    h.receive("d1:ad2:id20:" + id_of(0x66).to_string() + "9:info_hash20:" + info_hash.to_string() +
                  "4:porti80e5:token" + bstr(tok) + "e1:q13:announce_peer1:t2:aa1:y1:qe",
              from);
    return h.take().message().find_key("e") == nullptr;
  };
  EXPECT_FALSE(announce(peer(2), token));  // nobody announces for another address
  EXPECT_FALSE(announce(peer(1), token.substr(0, 19)));
  EXPECT_TRUE(announce(peer(1), token));
  h.random_byte = 2;
  h.tick(NodeCore::secret_lifetime);       // one new secret: the old token still holds
  EXPECT_NE(h.core.write_token(peer(1).ip), token);
  EXPECT_TRUE(announce(peer(1), token));
  h.random_byte = 3;
  h.tick(NodeCore::secret_lifetime);
  EXPECT_FALSE(announce(peer(1), token));
  EXPECT_TRUE(announce(peer(1), h.core.write_token(peer(1).ip)));
}

TEST_F(DhtNodeCore, RatesFollowTheTrafficOncePerSecond) {
  const std::string ping = "d1:ad2:id20:" + id_of(0x44).to_string() + "e1:q4:ping1:t2:aa1:y1:qe";
  for (int i = 0; i < 10; ++i) h.receive(ping, peer(1));
  h.tick(2000);
  const auto s = h.core.statistics();
  EXPECT_FLOAT_EQ(s.download_rate, 0.1f * ping.size() * 10 / 2);
  EXPECT_FLOAT_EQ(s.upload_rate, 0.1f * h.sent[0].bytes.size() * 10 / 2);
  EXPECT_EQ(s.total_received, ping.size() * 10);
  EXPECT_EQ(s.query_flag, 0u);
  EXPECT_EQ(s.upload_limit, 2000.0f);
  EXPECT_EQ(s.record_limit, 5000u);
}

}  // namespace

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "engine/formats/sha1.h"
#include "engine/net/ip_filter.h"
#include "engine/wire/dht_link.h"
#include "engine/wire/extension_format.h"
#include "engine/wire/peer_extensions.h"
#include "engine/wire/protocol_error.h"
#include "engine/wire/send_buffer.h"
#include "engine/wire/wire_format.h"
#include "engine/wire/wire_message.h"

using namespace engine;
using namespace std::chrono_literals;

namespace {

using clock_type = peer_extensions::clock;

std::string bytes(const send_buffer& b) { return std::string(b.data(), b.size()); }
std::string raw(std::initializer_list<int> v) {
  std::string s;
  for (int c : v) s.push_back(char(c));
  return s;
}
std::string be32(std::uint32_t v) { return raw({int(v >> 24 & 0xff), int(v >> 16 & 0xff), int(v >> 8 & 0xff), int(v & 0xff)}); }
// A length prefix and the packet.
std::string framed(const std::string& packet) { return be32(std::uint32_t(packet.size())) + packet; }
// Extended packets as the peer sends them to us, in our numbering.
std::string one_byte(int index, const std::string& body) { return raw({20, index + 1}) + body; }
std::string four_byte(int index, const std::string& body) { return raw({21}) + be32(std::uint32_t(index)) + body; }

sha1_hash sha1_of(const std::string& s) { return hasher(s.data(), int(s.size())).final(); }

struct test_host : peer_extensions::host {
  extension_settings settings{{true, true, true, true}, 6881, "Quillfern"};
  bool torrent = true;
  address peer{10, 0, 0, 2, 51413};
  peer_id pid = sha1_of("peer");
  bool outgoing = false;
  std::string dictionary;  // our metadata; empty: none
  std::vector<wire::metadata_range> ranges_to_offer;
  std::vector<wire::metadata_range> ended;
  struct received {
    std::string bytes;
    int offset;
    int total;
  };
  std::vector<received> metadata_parts;
  std::vector<std::pair<address, peer_id>> learnt;
  int connections = 0;
  std::vector<address> outgoing_addresses;
  ip_filter ip_rules;
  std::vector<std::string> chats;

  extension_settings extension_config() const override { return settings; }
  bool extension_enabled(int index) const override { return settings.enabled[std::size_t(index)]; }
  bool has_torrent() const override { return torrent; }
  address remote() const override { return peer; }
  const peer_id& remote_id() const override { return pid; }
  bool is_outgoing() const override { return outgoing; }
  bool has_metadata() const override { return !dictionary.empty(); }
  std::string_view metadata() override { return dictionary; }
  std::optional<wire::metadata_range> choose_metadata_range() override {
    if (ranges_to_offer.empty()) return std::nullopt;
    auto r = ranges_to_offer.front();
    ranges_to_offer.erase(ranges_to_offer.begin());
    return r;
  }
  void metadata_request_ended(wire::metadata_range r) override { ended.push_back(r); }
  void metadata_received(std::span<const char> b, int offset, int total) override {
    metadata_parts.push_back({std::string(b.data(), b.size()), offset, total});
  }
  void peer_learnt(const address& a, const peer_id& id) override { learnt.emplace_back(a, id); }
  int num_connections() const override { return connections; }
  std::vector<address> outgoing_peers() const override { return outgoing_addresses; }
  const ip_filter* filter() const override { return &ip_rules; }
  void chat_message(std::string text) override { chats.push_back(std::move(text)); }
};

// A connection's extension side with the peer's handshake taken.
struct PeerExtensions : ::testing::Test {
  test_host host;
  peer_extensions ext{host};
  send_buffer out;
  clock_type::time_point t0 = clock_type::now();

  void receive(const std::string& packet, clock_type::time_point now = {}) {
    ext.on_packet({packet.data(), packet.size()}, out, now);
  }
  std::string error_of(const std::string& packet) {
    try {
      receive(packet);
    } catch (const protocol_error& e) {
      return e.what();
    }
    return "";
  }
  std::string take() {
    std::string s = bytes(out);
    out.consume(out.size());
    return s;
  }
  // The peer set the extension bit and sent "m" with each index + 10.
  void modern_peer() {
    ext.handshake_received(true, false, out);
    take();
    receive(raw({20, 0}) +
            "d1:md7:QF_chati11e11:QF_metadatai12e16:QF_peer_exchangei13e14:QF_listen_porti14eee");
    ASSERT_TRUE(ext.extension_handshake_received());
  }
};

// --------------------------------------------------------------- the lists

TEST(ExtensionFormatLists, HandshakeAndOlderListGoldenBytes) {
  send_buffer out;
  wire::write_extension_handshake(out, {true, true, true, true}, 6881, "Quillfern");
  const std::string hs =
      "d1:md7:QF_chati1e14:QF_listen_porti4e11:QF_metadatai2e16:QF_peer_exchangei3ee1:pi6881e1:v9:Quillferne";
  EXPECT_EQ(bytes(out), be32(std::uint32_t(2 + hs.size())) + raw({20, 0}) + hs);

  send_buffer list;
  wire::write_extension_list(list, {true, false, true, true});
  const std::string body = "d4:chati0e11:listen_porti3e13:peer_exchangei2ee";
  EXPECT_EQ(bytes(list), be32(std::uint32_t(1 + body.size())) + raw({20}) + body);

  send_buffer none;
  wire::write_extension_handshake(none, {false, false, false, false}, 0, "");
  EXPECT_EQ(bytes(none), framed(raw({20, 0}) + "d1:mde1:pi0e1:v0:e"));
}

TEST_F(PeerExtensions, HandshakeOrOlderListFollowsThePeersMarks) {
  ext.handshake_received(true, true, out);
  EXPECT_EQ(take().substr(4, 2), raw({20, 0}));
  peer_extensions older(host);
  older.handshake_received(false, true, out);
  EXPECT_EQ(take().substr(4, 3), raw({20, 'd', '4'}));
  peer_extensions plain(host);
  plain.handshake_received(false, false, out);
  EXPECT_TRUE(out.empty());
}

TEST_F(PeerExtensions, HandshakeWithMSwitchesToTheOneByteForm) {
  ext.handshake_received(true, false, out);
  receive(raw({20, 0}) + "d1:md7:QF_chati7e11:QF_metadatai0e14:QF_listen_porti300ee1:pi7000e1:v3:abce");
  EXPECT_TRUE(ext.extension_handshake_received());
  EXPECT_EQ(ext.peer_extension_id(wire::ext_chat), 6);
  EXPECT_EQ(ext.peer_extension_id(wire::ext_metadata), -1);       // 0: switched off
  EXPECT_EQ(ext.peer_extension_id(wire::ext_peer_exchange), -1);  // absent
  EXPECT_EQ(ext.peer_extension_id(wire::ext_listen_port), -1);    // does not fit one byte
  ASSERT_EQ(host.learnt.size(), 1u);
  EXPECT_EQ(host.learnt[0].first, address(10, 0, 0, 2, 7000));
  EXPECT_EQ(host.learnt[0].second, host.pid);

  take();
  ASSERT_TRUE(ext.send_chat_message(out, "hi"));
  EXPECT_EQ(take(), framed(raw({20, 7}) + "d3:msg2:hie"));
}

TEST_F(PeerExtensions, HandshakeWithoutMTakesTopLevelNamesInTheFourByteForm) {
  ext.handshake_received(true, false, out);
  receive(raw({20, 0}) + "d7:QF_chati3e1:pi0ee");
  EXPECT_FALSE(ext.extension_handshake_received());
  EXPECT_EQ(ext.peer_extension_id(wire::ext_chat), 2);
  EXPECT_TRUE(host.learnt.empty());  // port 0 names nobody
  take();
  ASSERT_TRUE(ext.send_chat_message(out, "hi"));
  EXPECT_EQ(take(), framed(raw({21, 0, 0, 0, 2}) + "d3:msg2:hie"));
  // One-byte messages stay ignored until a handshake with "m" arrives.
  receive(one_byte(wire::ext_chat, "d3:msg2:yoe"));
  EXPECT_TRUE(host.chats.empty());
}

TEST_F(PeerExtensions, OlderListWithoutTheExtensionBit) {
  ext.handshake_received(false, true, out);
  receive(raw({20}) + "d4:chati5e8:metadatai1ee");
  EXPECT_EQ(ext.peer_extension_id(wire::ext_chat), 5);
  EXPECT_EQ(ext.peer_extension_id(wire::ext_metadata), 1);
  receive(raw({20}) + "d13:peer_exchangei2ee");  // absent names stay as they were
  EXPECT_EQ(ext.peer_extension_id(wire::ext_chat), 5);
  EXPECT_EQ(ext.peer_extension_id(wire::ext_peer_exchange), 2);
  EXPECT_FALSE(ext.extension_handshake_received());
}

TEST_F(PeerExtensions, BadListsCloseWithTheirTexts) {
  const std::string invalid = "'extensions' packet contains invalid bencoding";
  const std::string types = "'extensions' packet contains incorrect types";
  ext.handshake_received(true, false, out);
  EXPECT_EQ(error_of(raw({20, 0}) + "d1:m"), invalid);
  EXPECT_EQ(error_of(raw({20})), invalid);
  EXPECT_EQ(error_of(raw({20, 0}) + "li1ee"), types);
  EXPECT_EQ(error_of(raw({20, 0}) + "d1:mi1ee"), types);
  EXPECT_EQ(error_of(raw({20, 0}) + "d1:md7:QF_chat1:xee"), types);
  EXPECT_EQ(error_of(raw({20, 0}) + "d1:p1:xe"), types);
  peer_extensions older(host);
  older.handshake_received(false, false, out);
  EXPECT_EQ([&] {
    try {
      const std::string p = raw({20}) + "d4:chat1:xe";
      older.on_packet({p.data(), p.size()}, out, t0);
    } catch (const protocol_error& e) {
      return std::string(e.what());
    }
    return std::string();
  }(), types);
}

// ------------------------------------------------------------ size limits

TEST_F(PeerExtensions, ListsAreCappedAt100kBButExtendedMessagesAreNot) {
  ext.handshake_received(true, false, out);
  auto list = [](int n) { return raw({20, 0}) + "d1:v" + std::to_string(n) + ":" + std::string(std::size_t(n), 'x') + "e"; };
  ASSERT_EQ(list(99987).size(), 100000u);
  EXPECT_EQ(error_of(list(99987)), "");
  EXPECT_EQ(error_of(list(99988)), "'extensions' message size > 100kB");
  // A one-byte message before the handshake that sets the form up is
  // ignored, within the same cap.
  EXPECT_EQ(error_of(one_byte(wire::ext_chat, std::string(99998, 'x'))), "");
  EXPECT_EQ(error_of(one_byte(wire::ext_chat, std::string(99999, 'x'))), "'extensions' message size > 100kB");
}

TEST_F(PeerExtensions, WholeLargestMetadataReplyIsTaken) {
  modern_peer();
  const std::string dictionary(wire::max_metadata_size, 'd');
  std::string reply = one_byte(wire::ext_metadata, raw({1}) + be32(512000) + be32(0) + dictionary);
  EXPECT_EQ(error_of(reply), "");
  ASSERT_EQ(host.metadata_parts.size(), 1u);
  EXPECT_EQ(host.metadata_parts[0].bytes.size(), dictionary.size());
  reply = four_byte(wire::ext_metadata, raw({1}) + be32(512000) + be32(0) + dictionary);
  EXPECT_EQ(error_of(reply), "");
  EXPECT_EQ(error_of(reply + "x"), "metadata message larger than 500 kB");
}

// --------------------------------------------------------- extended frame

TEST_F(PeerExtensions, ExtendedFrameChecks) {
  modern_peer();
  EXPECT_EQ(error_of(raw({21, 0, 0, 0})), "'extended' message smaller than 2(5) bytes");
  EXPECT_EQ(error_of(raw({21, 0, 0, 0, 9})), "unknown extended message id: 9");
  EXPECT_EQ(error_of(raw({21, 255, 255, 255, 255})), "unknown extended message id: -1");
  EXPECT_EQ(error_of(raw({20, 5})), "unknown extended message id: 4");
  host.settings.enabled[wire::ext_chat] = false;
  EXPECT_EQ(error_of(one_byte(wire::ext_chat, "d3:msg2:hie")), "'extended' message using disabled extension");
  EXPECT_EQ(error_of(four_byte(wire::ext_chat, "d3:msg2:hie")), "'extended' message using disabled extension");
  host.torrent = false;
  EXPECT_EQ(error_of(four_byte(wire::ext_metadata, "")), "'extended' message sent before proper handshake");
}

// ------------------------------------------------------------------ chat

TEST_F(PeerExtensions, ChatLimitsAndTexts) {
  modern_peer();
  receive(one_byte(wire::ext_chat, "d3:msg5:helloe"));
  receive(four_byte(wire::ext_chat, "d3:msg3:yo!e"));
  EXPECT_EQ(host.chats, (std::vector<std::string>{"hello", "yo!"}));

  // The whole packet counts: id, extension byte and body.
  std::string packet = one_byte(wire::ext_chat, "d3:msg2034:" + std::string(2034, 'a') + "e");
  ASSERT_EQ(packet.size(), 2048u);
  EXPECT_EQ(error_of(packet), "");
  packet = one_byte(wire::ext_chat, "d3:msg2036:" + std::string(2036, 'a') + "e");
  EXPECT_EQ(error_of(packet), "CHAT message larger than 2 kB");

  EXPECT_EQ(error_of(one_byte(wire::ext_chat, "d3:msg")), "invalid bencoding in CHAT message");
  EXPECT_EQ(error_of(one_byte(wire::ext_chat, "d3:msgi1ee")), "invalid types in bencoded CHAT message");
  EXPECT_EQ(error_of(one_byte(wire::ext_chat, "de")), "invalid types in bencoded CHAT message");
  EXPECT_EQ(error_of(one_byte(wire::ext_chat, "le")), "invalid types in bencoded CHAT message");
}

TEST_F(PeerExtensions, ChatIsNotSentToAPeerWithoutIt) {
  ext.handshake_received(true, false, out);
  take();
  EXPECT_FALSE(ext.send_chat_message(out, "hi"));
  EXPECT_TRUE(out.empty());
}

// -------------------------------------------------------------- metadata

TEST(ExtensionFormatMetadata, RangesInByteTerms) {
  EXPECT_EQ(wire::metadata_bytes({0, 256}, 1000).first, 0);
  EXPECT_EQ(wire::metadata_bytes({0, 256}, 1000).last, 1000);
  EXPECT_EQ(wire::metadata_bytes({1, 1}, 1000).first, 4);  // ceil(1000 / 256)
  EXPECT_EQ(wire::metadata_bytes({1, 1}, 1000).last, 8);   // ceil(2000 / 256)
  EXPECT_EQ(wire::metadata_bytes({128, 128}, 10).first, 5);
  EXPECT_FALSE(wire::valid_metadata_range({200, 57}));
  EXPECT_FALSE(wire::valid_metadata_range({0, 0}));
  EXPECT_TRUE(wire::valid_metadata_range({255, 1}));
}

TEST_F(PeerExtensions, MetadataMessagesGoldenBytes) {
  modern_peer();
  host.dictionary = "0123456789";
  // The peer advertised metadata as 12: that byte names it in the one-byte form.
  receive(one_byte(wire::ext_metadata, raw({0, 128, 127})));
  EXPECT_EQ(take(), framed(raw({20, 12, 1}) + be32(10) + be32(5) + "56789"));
  receive(one_byte(wire::ext_metadata, raw({0, 0, 255})));
  EXPECT_EQ(take(), framed(raw({20, 12, 1}) + be32(10) + be32(0) + "0123456789"));
  host.dictionary.clear();
  receive(one_byte(wire::ext_metadata, raw({0, 0, 255})));
  EXPECT_EQ(take(), raw({0, 0, 0, 3, 20, 12, 2}));

  ext.send_metadata_request(out, {64, 32}, t0);
  EXPECT_EQ(take(), raw({0, 0, 0, 5, 20, 12, 0, 64, 31}));
}

TEST_F(PeerExtensions, MetadataRequestsFourByteForm) {
  ext.handshake_received(false, true, out);
  receive(raw({20}) + "d8:metadatai3ee");
  take();
  host.dictionary = "abcd";
  receive(four_byte(wire::ext_metadata, raw({0, 0, 255})));
  EXPECT_EQ(take(), framed(raw({21, 0, 0, 0, 3, 1}) + be32(4) + be32(0) + "abcd"));
}

TEST_F(PeerExtensions, BadMetadataRequestsAreRefused) {
  modern_peer();
  host.dictionary = "0123456789";
  EXPECT_EQ(error_of(one_byte(wire::ext_metadata, raw({0, 0}))), "invalid metadata request");
  EXPECT_EQ(error_of(one_byte(wire::ext_metadata, raw({0, 0, 0, 0}))), "invalid metadata request");
  // Parts 200..299 would run past the dictionary.
  EXPECT_EQ(error_of(one_byte(wire::ext_metadata, raw({0, 200, 99}))), "invalid metadata request");
  EXPECT_EQ(error_of(one_byte(wire::ext_metadata, raw({0, 255, 1}))), "invalid metadata request");
  EXPECT_TRUE(out.empty());
  EXPECT_EQ(error_of(one_byte(wire::ext_metadata, raw({0, 255, 0}))), "");
  EXPECT_EQ(take(), framed(raw({20, 12, 1}) + be32(10) + be32(10)));  // the last part of 10 bytes is empty
}

TEST_F(PeerExtensions, BadMetadataDataCloses) {
  modern_peer();
  auto data = [](std::int32_t total, std::int32_t offset, const std::string& b) {
    return one_byte(wire::ext_metadata, raw({1}) + be32(std::uint32_t(total)) + be32(std::uint32_t(offset)) + b);
  };
  EXPECT_EQ(error_of(data(512001, 0, "x")), "metadata size larger than 500 kB");
  EXPECT_EQ(error_of(data(0, 0, "")), "invalid metadata size");
  EXPECT_EQ(error_of(data(-5, 0, "")), "invalid metadata size");
  EXPECT_EQ(error_of(data(10, -1, "x")), "invalid metadata offset");
  EXPECT_EQ(error_of(data(10, 11, "")), "invalid metadata offset");
  EXPECT_EQ(error_of(data(10, 8, "xyz")), "invalid metadata message");
  EXPECT_EQ(error_of(one_byte(wire::ext_metadata, raw({1, 0, 0, 0, 10}))), "invalid metadata message");
  EXPECT_EQ(error_of(one_byte(wire::ext_metadata, "")), "invalid metadata message");
  EXPECT_EQ(error_of(one_byte(wire::ext_metadata, raw({3}))), "unknown metadata extension message: 3");
  EXPECT_TRUE(host.metadata_parts.empty());
  EXPECT_EQ(error_of(data(10, 8, "yz")), "");
  ASSERT_EQ(host.metadata_parts.size(), 1u);
  EXPECT_EQ(host.metadata_parts[0].bytes, "yz");
  EXPECT_EQ(host.metadata_parts[0].offset, 8);
  EXPECT_EQ(host.metadata_parts[0].total, 10);
}

TEST_F(PeerExtensions, MetadataRequestScheduleInSecondTick) {
  modern_peer();
  host.ranges_to_offer = {{0, 128}, {128, 128}, {0, 256}, {5, 5}};
  ext.second_tick(out, t0);
  EXPECT_EQ(take(), raw({0, 0, 0, 5, 20, 12, 0, 0, 127}));
  EXPECT_TRUE(ext.metadata_request_pending());
  ext.second_tick(out, t0 + 19s);  // in flight: nothing more
  EXPECT_TRUE(out.empty());
  ext.second_tick(out, t0 + 20s);  // dropped, and the next one asked for
  ASSERT_EQ(host.ended.size(), 1u);
  EXPECT_EQ(host.ended[0], (wire::metadata_range{0, 128}));
  EXPECT_EQ(take(), raw({0, 0, 0, 5, 20, 12, 0, 128, 127}));

  // The answer ends the request.
  receive(one_byte(wire::ext_metadata, raw({1}) + be32(10) + be32(5) + "abcde"), t0 + 21s);
  EXPECT_FALSE(ext.metadata_request_pending());
  EXPECT_EQ(host.ended.back(), (wire::metadata_range{128, 128}));

  // "Lacking" ends the next one and holds off for 300 seconds.
  ext.second_tick(out, t0 + 22s);
  EXPECT_EQ(take(), raw({0, 0, 0, 5, 20, 12, 0, 0, 255}));
  receive(one_byte(wire::ext_metadata, raw({2})), t0 + 23s);
  EXPECT_EQ(host.ended.back(), (wire::metadata_range{0, 256}));
  EXPECT_EQ(host.ended.size(), 3u);
  ext.second_tick(out, t0 + 322s);
  EXPECT_TRUE(out.empty());
  ext.second_tick(out, t0 + 323s);
  EXPECT_EQ(take(), raw({0, 0, 0, 5, 20, 12, 0, 5, 4}));

  // Nothing is asked for once the metadata is there.
  ext.second_tick(out, t0 + 400s);
  host.dictionary = "x";
  host.ranges_to_offer = {{1, 1}};
  ext.second_tick(out, t0 + 500s);
  EXPECT_TRUE(out.empty());
}

TEST_F(PeerExtensions, NoMetadataRequestWhileOurSwitchIsOff) {
  modern_peer();
  host.settings.enabled[wire::ext_metadata] = false;
  host.ranges_to_offer = {{0, 256}};
  ext.second_tick(out, t0);
  EXPECT_TRUE(out.empty());
  EXPECT_EQ(host.ranges_to_offer.size(), 1u);
}

// A peer that asks again and again without reading what we send cannot make
// us queue copies of the dictionary without end.
TEST_F(PeerExtensions, RequestsWaitWhileRepliesPileUp) {
  modern_peer();
  host.dictionary = std::string(100000, 'd');
  host.connections = 5;
  host.outgoing_addresses = {address(1, 2, 3, 4, 6881)};
  for (int i = 0; i < 100; ++i) {
    receive(one_byte(wire::ext_metadata, raw({0, 0, 255})));
    receive(one_byte(wire::ext_peer_exchange, raw({0, 0, 0, 0, 9})));
  }
  EXPECT_LE(out.size(), peer_extensions::max_reply_backlog + std::size_t(wire::max_metadata_packet) + 4);
  // Once the peer has read them, it is answered again.
  take();
  receive(one_byte(wire::ext_metadata, raw({0, 0, 255})));
  EXPECT_EQ(out.size(), 4u + 2 + 9 + 100000);
}

// --------------------------------------------------------- peer exchange

TEST_F(PeerExtensions, PeerExchangeRequestsAndAnswers) {
  modern_peer();
  // The peer advertised peer exchange as 13.
  ext.send_peer_exchange_request(out, 20, t0);
  EXPECT_EQ(take(), raw({0, 0, 0, 7, 20, 13, 0, 0, 0, 0, 20}));

  host.connections = 5;
  host.outgoing_addresses = {address(1, 2, 3, 4, 6881), address(5, 6, 7, 8, 80), address(9, 9, 9, 9, 1)};
  receive(one_byte(wire::ext_peer_exchange, raw({0, 0, 0, 0, 2})));
  const std::string list = "ld2:ip7:1.2.3.44:porti6881eed2:ip7:5.6.7.84:porti80eee";
  EXPECT_EQ(take(), framed(raw({20, 13, 1}) + list));

  receive(one_byte(wire::ext_peer_exchange, raw({0, 0, 0, 0, 0})));  // 0 peers
  EXPECT_EQ(take(), raw({0, 0, 0, 3, 20, 13, 2}));
  host.connections = 1;
  receive(one_byte(wire::ext_peer_exchange, raw({0, 0, 0, 0, 9})));
  EXPECT_EQ(take(), raw({0, 0, 0, 3, 20, 13, 2}));

  EXPECT_EQ(error_of(one_byte(wire::ext_peer_exchange, raw({0, 0, 0, 9}))), "invalid peer exchange request");
  EXPECT_EQ(error_of(one_byte(wire::ext_peer_exchange, raw({0, 0, 0, 0, 9, 9}))), "invalid peer exchange request");
  EXPECT_EQ(error_of(one_byte(wire::ext_peer_exchange, raw({7}))), "unknown peer exchange extension message: 7");
  EXPECT_EQ(error_of(one_byte(wire::ext_peer_exchange, raw({1}) + "d")), "invalid peer exchange message");
  std::string big = one_byte(wire::ext_peer_exchange, raw({1}) + std::string(511997, 'x'));
  ASSERT_EQ(big.size(), 512000u);
  EXPECT_EQ(error_of(big), "invalid peer exchange message");  // within the limit: only badly encoded
  big.push_back('e');
  EXPECT_EQ(error_of(big), "peer exchange message larger than 500 kB");
}

TEST_F(PeerExtensions, PeerExchangeListTakesOnlyUsableAddresses) {
  modern_peer();
  host.ip_rules.add_rule(address(6, 0, 0, 0, 0), address(6, 255, 255, 255, 0), ip_filter::blocked);
  ext.send_peer_exchange_request(out, 20, t0);
  ASSERT_TRUE(ext.peer_exchange_request_pending());
  const std::string list =
      "l"
      "d2:ip7:1.2.3.44:porti6881ee"        // taken
      "d2:ip11:example.org4:porti80ee"     // a host name: never looked up
      "d2:ip7:1.2.3.54:porti0ee"           // port 0
      "d2:ip7:1.2.3.64:porti65536ee"       // port out of range
      "d2:ip7:1.2.3.74:porti-1ee"
      "d2:ip9:1.2.3.2564:porti1ee"         // no dotted quad
      "d2:ip7:6.6.6.64:porti1ee"           // blocked by the filter
      "d2:ip7:0.0.0.04:porti1ee"           // no address
      "d2:ipi1e4:porti1ee"                 // wrong types
      "d4:porti1ee"                        // no ip
      "i5e"
      "d2:ip7:9.8.7.64:porti65535ee"       // taken
      "e";
  receive(one_byte(wire::ext_peer_exchange, raw({1}) + list));
  ASSERT_EQ(host.learnt.size(), 2u);
  EXPECT_EQ(host.learnt[0].first, address(1, 2, 3, 4, 6881));
  EXPECT_EQ(host.learnt[0].second, peer_id());
  EXPECT_EQ(host.learnt[1].first, address(9, 8, 7, 6, 65535));
  EXPECT_FALSE(ext.peer_exchange_request_pending());
}

TEST_F(PeerExtensions, PeerExchangeWantedCountAndTimeout) {
  modern_peer();
  ext.set_peer_exchange_wanted(20);
  ext.second_tick(out, t0);
  EXPECT_EQ(take(), raw({0, 0, 0, 7, 20, 13, 0, 0, 0, 0, 20}));
  EXPECT_EQ(ext.peer_exchange_wanted(), 0);
  ext.set_peer_exchange_wanted(20);
  ext.second_tick(out, t0 + 19s);  // still in flight
  EXPECT_TRUE(out.empty());
  ext.second_tick(out, t0 + 20s);  // dropped, asked again
  EXPECT_EQ(take(), raw({0, 0, 0, 7, 20, 13, 0, 0, 0, 0, 20}));
  receive(one_byte(wire::ext_peer_exchange, raw({2})));
  EXPECT_FALSE(ext.peer_exchange_request_pending());
}

TEST_F(PeerExtensions, PeerExchangeNeedsANumberThatFitsOneByte) {
  // An older list may name the extension by any 32-bit number; the
  // one-byte form cannot carry it.
  ext.handshake_received(false, true, out);
  receive(raw({20}) + "d13:peer_exchangei1000ee");
  take();
  ext.set_peer_exchange_wanted(20);
  ext.second_tick(out, t0);
  host.connections = 3;
  host.outgoing_addresses = {address(1, 2, 3, 4, 1)};
  receive(four_byte(wire::ext_peer_exchange, raw({0, 0, 0, 0, 5})));
  EXPECT_TRUE(out.empty());
}

// ----------------------------------------------------------- listen port

TEST_F(PeerExtensions, ListenPort) {
  modern_peer();
  send_buffer port;
  wire::write_listen_port(port, true, 13, 6882);
  EXPECT_EQ(bytes(port), raw({0, 0, 0, 4, 20, 14, 0x1a, 0xe2}));

  receive(one_byte(wire::ext_listen_port, raw({0x1a, 0xe2})));
  ASSERT_EQ(host.learnt.size(), 1u);
  EXPECT_EQ(host.learnt[0].first, address(10, 0, 0, 2, 6882));
  EXPECT_EQ(host.learnt[0].second, host.pid);
  receive(four_byte(wire::ext_listen_port, raw({0, 0})));  // port 0: nobody
  EXPECT_EQ(host.learnt.size(), 1u);
  host.outgoing = true;  // we dialled it: its address is known already
  receive(one_byte(wire::ext_listen_port, raw({0x1a, 0xe3})));
  EXPECT_EQ(host.learnt.size(), 1u);
  EXPECT_EQ(error_of(one_byte(wire::ext_listen_port, raw({1}))), "invalid listen_port message");
  EXPECT_EQ(error_of(four_byte(wire::ext_listen_port, raw({1, 2, 3}))), "invalid listen_port message");
}

// --------------------------------------------------------------- DHT port

struct recording_node : dht_link {
  std::vector<std::pair<address, sha1_hash>> contacts;
  std::uint16_t dht_port() override { return 7000; }
  void add_node(const address& a, const sha1_hash& ih) override { contacts.emplace_back(a, ih); }
};

TEST(ExtensionDhtPort, HandOverToTheNode) {
  recording_node node;
  EXPECT_EQ(announced_dht_port(nullptr), 1504);
  EXPECT_EQ(announced_dht_port(&node), 7000);
  send_buffer out;
  wire::write_dht_port(out, announced_dht_port(&node));
  EXPECT_EQ(bytes(out), raw({0, 0, 0, 3, 9, 0x1b, 0x58}));

  const sha1_hash ih = sha1_of("torrent");
  const std::string packet = raw({9, 0x1a, 0xe1});
  const auto port_of = [](const std::string& p) { return std::get<wire::dht_port_message>(wire::decode(p)).port; };
  dht_port_received(&node, address(10, 1, 2, 3, 51413), port_of(packet), ih);
  ASSERT_EQ(node.contacts.size(), 1u);
  EXPECT_EQ(node.contacts[0].first, address(10, 1, 2, 3, 6881));
  EXPECT_EQ(node.contacts[0].second, ih);
  dht_port_received(nullptr, address(10, 1, 2, 3, 1), port_of(packet), ih);  // no node: nothing
  const std::string zero = raw({9, 0, 0});
  dht_port_received(&node, address(10, 1, 2, 3, 1), port_of(zero), ih);
  EXPECT_EQ(node.contacts.size(), 1u);
}

}  // namespace

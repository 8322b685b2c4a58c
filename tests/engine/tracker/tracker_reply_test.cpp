#include <gtest/gtest.h>

#include "engine/formats/entry.h"
#include "engine/tracker/tracker_reply.h"
#include "tests/engine/tracker/tracker_test_support.h"

using namespace engine;
using namespace std::string_literals;

namespace {

tracker_query query(int kind) {
  tracker_query q;
  q.kind = kind;
  q.info_hash = sha1_hash::from_bytes("abcdefghijklmnopqrst");
  return q;
}

tracker_reply parse(const std::string& bencoded, int kind = tracker_query::announce_request, int status = 200) {
  return parse_tracker_reply(bdecode(bencoded), query(kind), status);
}

std::string peer_dict(const std::string& ip, long port, const std::string& id = "") {
  std::string d = "d";
  d += "2:ip" + std::to_string(ip.size()) + ":" + ip;
  if (!id.empty()) d += "7:peer id" + std::to_string(id.size()) + ":" + id;
  d += "4:porti" + std::to_string(port) + "e";
  return d + "e";
}

}  // namespace

TEST(TrackerReply, CompactPeersIgnoreATrailingPart) {
  const std::string peers("\x0a\x00\x00\x01\x1a\xe1" "\xc0\xa8\x01\xff\x00\x50" "\x7f", 13);
  const tracker_reply r = parse("d8:completei5e10:incompletei7e8:intervali1800e5:peers13:" + peers + "e");
  ASSERT_FALSE(r.failed) << r.error;
  ASSERT_EQ(r.peers.size(), 2u);
  EXPECT_EQ(r.peers[0].ip, "10.0.0.1");
  EXPECT_EQ(r.peers[0].port, 6881);
  EXPECT_TRUE(r.peers[0].pid.is_all_zeros());
  EXPECT_EQ(r.peers[1].ip, "192.168.1.255");
  EXPECT_EQ(r.peers[1].port, 80);
  EXPECT_EQ(r.interval, 1800);
  EXPECT_EQ(r.complete, 5);
  EXPECT_EQ(r.incomplete, 7);
  EXPECT_FALSE(r.warning);
}

TEST(TrackerReply, ListedPeersWithAndWithoutIds) {
  const std::string id = "-TR2940-abcdefghijkl";
  const tracker_reply r = parse("d8:intervali900e5:peersl" + peer_dict("1.2.3.4", 6881, id) +
                                peer_dict("5.6.7.8", 65535) + "e8:completei3ee");
  ASSERT_FALSE(r.failed) << r.error;
  ASSERT_EQ(r.peers.size(), 2u);
  EXPECT_EQ(r.peers[0].pid, sha1_hash::from_bytes(id));
  EXPECT_EQ(r.peers[0].ip, "1.2.3.4");
  EXPECT_EQ(r.peers[1].port, 65535);
  EXPECT_TRUE(r.peers[1].pid.is_all_zeros());
  EXPECT_EQ(r.complete, 3);
  EXPECT_EQ(r.incomplete, -1);
}

TEST(TrackerReply, PeersThatCannotBeUsedSafelyAreLeftOut) {
  // Host names would need a blocking look-up; ports must be 1..65535.
  const tracker_reply r = parse("d8:intervali900e5:peersl" + peer_dict("localhost", 80) +
                                peer_dict("tracker.example.org", 80) + peer_dict("1.2.3", 80) +
                                peer_dict("1.2.3.256", 80) + peer_dict("::1", 80) + peer_dict("1.1.1.1", 0) +
                                peer_dict("1.1.1.2", 65536) + peer_dict("1.1.1.3", -1) +
                                peer_dict("1.1.1.4", 4294967377) + peer_dict("9.9.9.9", 9) + "ee");
  ASSERT_FALSE(r.failed) << r.error;
  ASSERT_EQ(r.peers.size(), 1u);
  EXPECT_EQ(r.peers[0].ip, "9.9.9.9");
  EXPECT_EQ(r.peers[0].port, 9);

  const std::string zero_port("\x01\x02\x03\x04\x00\x00" "\x01\x02\x03\x05\x00\x01", 12);
  const tracker_reply compact = parse("d8:intervali900e5:peers12:" + zero_port + "e");
  ASSERT_EQ(compact.peers.size(), 1u);
  EXPECT_EQ(compact.peers[0].ip, "1.2.3.5");
}

TEST(TrackerReply, MalformedPeerEntriesFailTheReply) {
  EXPECT_EQ(parse("d8:intervali900e5:peersld4:porti1eeee", 0, 200).error, "invalid response from tracker");
  EXPECT_EQ(parse("d8:intervali900e5:peersld2:ip7:1.2.3.4eee").error, "invalid response from tracker");
  EXPECT_EQ(parse("d8:intervali900e5:peersl" + peer_dict("1.2.3.4", 1, "short") + "ee").error,
            "invalid response from tracker");
  const tracker_reply wrong_type = parse("d8:intervali900e5:peersld2:ipi5e4:porti1eeee", 0, 202);
  EXPECT_TRUE(wrong_type.failed);
  EXPECT_EQ(wrong_type.status_code, 202);
  EXPECT_EQ(wrong_type.error, "invalid type requested from entry");
  EXPECT_TRUE(wrong_type.peers.empty());
}

TEST(TrackerReply, FailureWarningAndMissingKeys) {
  const tracker_reply failure = parse("d14:failure reason12:unregistered8:intervali5ee", 0, 200);
  EXPECT_TRUE(failure.failed);
  EXPECT_EQ(failure.error, "unregistered");
  EXPECT_EQ(failure.status_code, 200);
  EXPECT_TRUE(failure.peers.empty());

  const tracker_reply warning = parse("d8:intervali60e5:peers0:15:warning message4:slowe");
  EXPECT_FALSE(warning.failed);
  EXPECT_EQ(warning.warning.value_or(""), "slow");

  EXPECT_EQ(parse("d5:peers0:e").error, "key not found: interval");
  EXPECT_EQ(parse("d8:intervali60ee").error, "key not found: peers");
  EXPECT_EQ(parse("d8:interval2:60e").error, "invalid type requested from entry");
  EXPECT_EQ(parse("li1ee").error, "invalid type requested from entry");
}

TEST(TrackerReply, ScrapeReadsTheTorrentsCounts) {
  const tracker_reply r =
      parse("d5:filesd20:abcdefghijklmnopqrstd8:completei11e10:downloadedi3e10:incompletei4eeee",
            tracker_query::scrape_request);
  ASSERT_FALSE(r.failed) << r.error;
  EXPECT_EQ(r.complete, 11);
  EXPECT_EQ(r.incomplete, 4);
  EXPECT_EQ(r.interval, 0);
  EXPECT_TRUE(r.peers.empty());

  const tracker_reply other = parse("d5:filesd20:zzzzzzzzzzzzzzzzzzzzd8:completei1e10:incompletei1eeee",
                                    tracker_query::scrape_request);
  EXPECT_TRUE(other.failed);
  EXPECT_EQ(other.error, "key not found: abcdefghijklmnopqrst");
}

TEST(TrackerReply, DeliveryTellsTheWarningFirst) {
  tracker_test::recording_callback cb;
  const tracker_query q = query(tracker_query::announce_request);
  deliver_tracker_reply(cb, q, parse("d8:intervali60e5:peers6:\x01\x02\x03\x04\x00\x05" "15:warning message2:hie"s));
  ASSERT_EQ(cb.warnings.size(), 1u);
  ASSERT_EQ(cb.responses.size(), 1u);
  EXPECT_EQ(cb.responses[0].interval, 60);
  EXPECT_EQ(cb.responses[0].peers.size(), 1u);

  deliver_tracker_reply(cb, q, parse("d14:failure reason4:nopee", 0, 403));
  ASSERT_EQ(cb.errors.size(), 1u);
  EXPECT_EQ(cb.errors[0].status, 403);
  EXPECT_EQ(cb.errors[0].message, "nope");
}

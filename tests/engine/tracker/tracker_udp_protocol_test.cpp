#include <gtest/gtest.h>

#include <string>

#include "engine/tracker/udp_tracker_protocol.h"

using namespace engine;
using namespace std::chrono_literals;
using step = udp_tracker_protocol::step;
using clock_type = udp_tracker_protocol::clock;

namespace {

std::string be32(std::uint32_t v) {
  return {char(v >> 24), char(v >> 16 & 0xff), char(v >> 8 & 0xff), char(v & 0xff)};
}
std::string be64(std::uint64_t v) { return be32(std::uint32_t(v >> 32)) + be32(std::uint32_t(v)); }

tracker_query announce() {
  tracker_query q;
  q.info_hash = sha1_hash::from_bytes("IIIIIIIIIIIIIIIIIIII");
  q.pid = sha1_hash::from_bytes("PPPPPPPPPPPPPPPPPPPP");
  q.downloaded = 0x0102030405060708;
  q.left = 0x1112131415161718;
  q.uploaded = 0x2122232425262728;
  q.event = tracker_query::started;
  q.key = 0x31323334;
  q.num_want = 50;
  q.listen_port = 6881;
  return q;
}

// Transaction ids from a fixed list, so the packets are known byte for byte.
struct ids {
  std::vector<std::uint32_t> values;
  std::size_t next = 0;
  std::uint32_t operator()() { return values.at(next++); }
};

struct TrackerUdp : ::testing::Test {
  clock_type::time_point t0 = clock_type::time_point() + 1000s;
  http_settings settings;

  std::string connect_reply(std::uint32_t tid, std::uint64_t cid) { return be32(0) + be32(tid) + be64(cid); }
  step feed(udp_tracker_protocol& p, const std::string& d, clock_type::time_point at) {
    return p.receive(d.data(), int(d.size()), at);
  }
};

}  // namespace

TEST_F(TrackerUdp, ConnectAnnounceAndReply) {
  auto id_source = std::make_shared<ids>(ids{{0x0a0b0c0d, 0x01020304}});
  udp_tracker_protocol p(announce(), false, settings, [id_source] { return (*id_source)(); });
  const step first = p.start(t0);
  EXPECT_EQ(first.send, std::string("\x00\x00\x04\x17\x27\x10\x19\x80\x00\x00\x00\x00\x0a\x0b\x0c\x0d", 16));
  EXPECT_EQ(first.kind, step::pending);
  EXPECT_FALSE(p.send_finished(t0));

  const step announce_packet = feed(p, connect_reply(0x0a0b0c0d, 0xfedcba9876543210), t0 + 1s);
  ASSERT_TRUE(p.connected());
  EXPECT_EQ(p.attempts(), 1);
  EXPECT_EQ(announce_packet.send,
            be64(0xfedcba9876543210) + be32(1) + be32(0x01020304) + std::string(20, 'I') + std::string(20, 'P') +
                be64(0x0102030405060708) + be64(0x1112131415161718) + be64(0x2122232425262728) + be32(2) +
                be32(0) + be32(0x31323334) + be32(50) + "\x1a\xe1");
  EXPECT_EQ(announce_packet.send.size(), 98u);
  EXPECT_TRUE(p.send_finished(t0 + 1s));

  const std::string reply = be32(1) + be32(0x01020304) + be32(1800) + be32(4) + be32(9) +
                            std::string("\x7f\x00\x00\x01\x1a\xe2", 6);
  const step done = feed(p, reply, t0 + 2s);
  ASSERT_EQ(done.kind, step::response);
  EXPECT_EQ(done.interval, 1800);
  EXPECT_EQ(done.incomplete, 4);
  EXPECT_EQ(done.complete, 9);
  ASSERT_EQ(done.peers.size(), 1u);
  EXPECT_EQ(done.peers[0].ip, "127.0.0.1");
  EXPECT_EQ(done.peers[0].port, 6882);
}

TEST_F(TrackerUdp, VariantAddsTwoZeroBytes) {
  udp_tracker_protocol p(announce(), true, settings, [] { return 7u; });
  p.start(t0);
  const step s = feed(p, connect_reply(7, 1), t0);
  ASSERT_EQ(s.send.size(), 100u);
  EXPECT_EQ(s.send.substr(96), std::string("\x1a\xe1\x00\x00", 4));
}

TEST_F(TrackerUdp, Scrape) {
  tracker_query q = announce();
  q.kind = tracker_query::scrape_request;
  udp_tracker_protocol p(q, false, settings, [] { return 5u; });
  p.start(t0);
  const step s = feed(p, connect_reply(5, 42), t0);
  EXPECT_EQ(s.send, be64(42) + be32(2) + be32(5) + std::string(20, 'I'));
  // An announce-shaped reply is not the scrape reply.
  EXPECT_EQ(feed(p, be32(1) + be32(5) + be32(0) + be32(0) + be32(0), t0).kind, step::pending);
  const step done = feed(p, be32(2) + be32(5) + be32(12) + be32(99) + be32(3), t0);
  ASSERT_EQ(done.kind, step::response);
  EXPECT_EQ(done.complete, 12);
  EXPECT_EQ(done.incomplete, 3);
  EXPECT_EQ(done.interval, 0);
  EXPECT_TRUE(done.peers.empty());
}

TEST_F(TrackerUdp, TransactionIdIsNeverZero) {
  auto id_source = std::make_shared<ids>(ids{{0, 0, 9, 0, 0, 11}});
  udp_tracker_protocol p(announce(), false, settings, [id_source] { return (*id_source)(); });
  EXPECT_EQ(p.start(t0).send.substr(12), be32(9));
  // A reply naming transaction 0 is not ours.
  EXPECT_EQ(feed(p, connect_reply(0, 1), t0).kind, step::pending);
  EXPECT_FALSE(p.connected());
  const step s = feed(p, connect_reply(9, 1), t0);
  EXPECT_EQ(s.send.substr(12, 4), be32(11));
}

TEST_F(TrackerUdp, IgnoresForeignAndShortDatagrams) {
  udp_tracker_protocol p(announce(), false, settings, [] { return 3u; });
  p.start(t0);
  EXPECT_EQ(feed(p, connect_reply(4, 1), t0).kind, step::pending);          // other transaction
  EXPECT_EQ(feed(p, be32(0) + "\x00\x00\x00", t0).kind, step::pending);      // shorter than 8
  EXPECT_EQ(feed(p, (be32(0) + be32(3) + be64(1)).substr(0, 15), t0).kind, step::pending);  // 15 bytes
  EXPECT_EQ(feed(p, be32(1) + be32(3) + be64(1), t0).kind, step::pending);  // not a connect reply
  EXPECT_FALSE(p.connected());
  EXPECT_EQ(feed(p, be32(3) + be32(4) + "busy", t0).kind, step::pending);   // error of another transaction

  // The ignored 15-byte reply leaves the connect to be resent after 15 s.
  EXPECT_TRUE(p.tick(t0 + 15s, true).send.empty());
  EXPECT_EQ(p.tick(t0 + 15s + 1ms, true).send.substr(12), be32(3));
  EXPECT_EQ(p.attempts(), 2);
}

TEST_F(TrackerUdp, ErrorRepliesAndBadLengths) {
  udp_tracker_protocol p(announce(), false, settings, [] { return 3u; });
  p.start(t0);
  const step busy = feed(p, be32(3) + be32(3) + "busy", t0);
  EXPECT_EQ(busy.kind, step::failed);
  EXPECT_EQ(busy.error, "busy");

  udp_tracker_protocol q(announce(), false, settings, [] { return 3u; });
  q.start(t0);
  feed(q, connect_reply(3, 8), t0);
  const std::string head = be32(1) + be32(3) + be32(60) + be32(0) + be32(0);
  EXPECT_EQ(feed(q, head.substr(0, 19), t0).kind, step::pending);
  const step bad = feed(q, head + "12345", t0);
  EXPECT_EQ(bad.kind, step::failed);
  EXPECT_EQ(bad.error, "invalid tracker response");

  udp_tracker_protocol r(announce(), false, settings, [] { return 3u; });
  r.start(t0);
  const std::string big(2048, '\0');
  const step too_big = feed(r, big, t0);
  EXPECT_EQ(too_big.kind, step::failed);
  EXPECT_EQ(too_big.error, "tracker reply too big");
  const std::string almost = be32(3) + be32(3) + std::string(2039, 'x');
  EXPECT_EQ(feed(r, almost, t0).error, std::string(2039, 'x'));
}

TEST_F(TrackerUdp, PeersWithPortZeroAreLeftOut) {
  udp_tracker_protocol p(announce(), false, settings, [] { return 3u; });
  p.start(t0);
  feed(p, connect_reply(3, 8), t0);
  const step s = feed(p, be32(1) + be32(3) + be32(60) + be32(0) + be32(0) +
                             std::string("\x01\x01\x01\x01\x00\x00\x02\x02\x02\x02\xff\xff", 12), t0);
  ASSERT_EQ(s.peers.size(), 1u);
  EXPECT_EQ(s.peers[0].ip, "2.2.2.2");
  EXPECT_EQ(s.peers[0].port, 65535);
}

TEST_F(TrackerUdp, SilentTrackerTimesOutAfterBoundedResends) {
  udp_tracker_protocol p(announce(), false, settings, [] { return 3u; });
  auto now = t0;
  p.start(now);
  int connects = 1;
  step s;
  for (;;) {
    now += 16s;
    s = p.tick(now, true);
    if (s.kind != step::pending) break;
    ASSERT_EQ(s.send.size(), 16u);
    ++connects;
  }
  EXPECT_EQ(s.kind, step::timed_out);
  EXPECT_EQ(connects, 4);

  udp_tracker_protocol c(announce(), false, settings, [] { return 3u; });
  now = t0;
  c.start(now);
  feed(c, connect_reply(3, 1), now);
  int requests = 1;
  for (;;) {
    EXPECT_TRUE(c.tick(now + 10s, true).send.empty());
    now += 11s;
    s = c.tick(now, true);
    if (s.kind != step::pending) break;
    ASSERT_EQ(s.send.size(), 98u);
    ++requests;
  }
  EXPECT_EQ(s.kind, step::timed_out);
  EXPECT_EQ(requests, 15);
}

TEST_F(TrackerUdp, ConnectionIdZeroCannotLoop) {
  // A tracker that hands out connection id 0 and answers every connect but
  // never the announce must not keep the request alive for ever.
  udp_tracker_protocol p(announce(), false, settings, [] { return 3u; });
  auto now = t0;
  p.start(now);
  const step s = feed(p, connect_reply(3, 0), now);
  ASSERT_TRUE(p.connected());
  EXPECT_EQ(s.send.substr(0, 8), be64(0));
  // Later connect replies are not taken for the announce reply and do not
  // reset the attempts.
  int ticks = 0;
  step t;
  do {
    now += 11s;
    feed(p, connect_reply(p.transaction_id(), 0), now);
    t = p.tick(now, true);
    ASSERT_LT(++ticks, 100);
  } while (t.kind == step::pending);
  EXPECT_EQ(t.kind, step::timed_out);
}

TEST_F(TrackerUdp, WithoutRequesterGivesUpQuickly) {
  udp_tracker_protocol p(announce(), false, settings, [] { return 3u; });
  p.start(t0);
  EXPECT_EQ(p.tick(t0 + 3s, false).kind, step::pending);
  EXPECT_EQ(p.tick(t0 + 3s + 1ms, false).kind, step::timed_out);
  // while a live requester would still wait for the resend
  udp_tracker_protocol q(announce(), false, settings, [] { return 3u; });
  q.start(t0);
  EXPECT_EQ(q.tick(t0 + 4s, true).kind, step::pending);
}

TEST_F(TrackerUdp, SendFinished) {
  udp_tracker_protocol p(announce(), false, settings, [] { return 3u; });
  p.start(t0);
  EXPECT_FALSE(p.send_finished(t0 + 20s));
  EXPECT_TRUE(p.send_finished(t0 + 21s));
}

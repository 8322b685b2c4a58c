#include <gtest/gtest.h>

#include <chrono>

#include "engine/tracker/tracker_dispatcher.h"
#include "tests/engine/tracker/tracker_opentracker.h"
#include "tests/engine/tracker/tracker_test_support.h"

using namespace engine;
using namespace std::chrono_literals;
using tracker_test::recording_callback;

namespace {

const sha1_hash torrent_hash = sha1_hash::from_bytes("quillfern-ot-torrent");

struct TrackerOpentracker : ::testing::Test {
  void SetUp() override {
    if (!tracker_test::opentracker::available()) GTEST_FAIL() << "opentracker is not installed";
    tracker = std::make_unique<tracker_test::opentracker>(std::vector<sha1_hash>{torrent_hash});
    if (!tracker->ready()) GTEST_FAIL() << "opentracker did not start";
  }

  tracker_query query(const std::string& url, int kind, const char* id, std::uint16_t port, std::int64_t left,
                      int event) {
    tracker_query q;
    q.kind = kind;
    q.info_hash = torrent_hash;
    q.pid = sha1_hash::from_bytes(id);
    q.listen_port = port;
    q.left = left;
    q.event = event;
    q.url = url;
    q.key = 0x5a5a;
    q.num_want = 50;
    return q;
  }

  // One request, run to its end; what the tracker said.
  std::shared_ptr<recording_callback> ask(const tracker_query& q) {
    auto cb = std::make_shared<recording_callback>();
    dispatcher.start_tracker_request(q, cb);
    test_support::wait_until(
        [&] {
          dispatcher.tick();
          return dispatcher.empty();
        },
        test_support::default_deadline, 2ms);
    return cb;
  }

  std::unique_ptr<tracker_test::opentracker> tracker;
  http_settings settings;
  tracker_dispatcher dispatcher{settings};
};

bool has_peer(const std::vector<tracker_peer>& peers, std::uint16_t port) {
  for (const auto& p : peers)
    if (p.ip == "127.0.0.1" && p.port == port) return true;
  return false;
}

}  // namespace

TEST_F(TrackerOpentracker, PeersMeetAndScrapeCountsAgreeOverHttpAndUdp) {
  const std::string http = tracker->http_url();
  const std::string udp = tracker->udp_url();

  // A leecher over HTTP, a seed over UDP.
  auto leecher = ask(query(http, tracker_query::announce_request, "-QF0100-leecher00001", 7001, 5000,
                           tracker_query::started));
  ASSERT_EQ(leecher->responses.size(), 1u) << (leecher->errors.empty() ? "" : leecher->errors[0].message);
  EXPECT_GT(leecher->responses[0].interval, 0);

  auto seed = ask(query(udp, tracker_query::announce_request, "-QF0100-seed00000001", 7002, 0,
                        tracker_query::completed));
  ASSERT_EQ(seed->responses.size(), 1u) << (seed->errors.empty() ? "" : seed->errors[0].message);
  EXPECT_TRUE(has_peer(seed->responses[0].peers, 7001));
  EXPECT_EQ(seed->responses[0].complete, 1);
  EXPECT_EQ(seed->responses[0].incomplete, 1);

  // The variant form over UDP and a second HTTP announce see both.
  auto third = ask(query("bcudp://127.0.0.1:" + std::to_string(tracker->port()), tracker_query::announce_request,
                         "-QF0100-third0000001", 7003, 100, tracker_query::started));
  ASSERT_EQ(third->responses.size(), 1u) << (third->errors.empty() ? "" : third->errors[0].message);
  EXPECT_TRUE(has_peer(third->responses[0].peers, 7001));
  EXPECT_TRUE(has_peer(third->responses[0].peers, 7002));

  for (const std::string& url : {http, udp}) {
    auto scrape = ask(query(url, tracker_query::scrape_request, "-QF0100-leecher00001", 7001, 0, 0));
    ASSERT_EQ(scrape->responses.size(), 1u) << url;
    EXPECT_EQ(scrape->responses[0].complete, 1) << url;
    EXPECT_EQ(scrape->responses[0].incomplete, 2) << url;
  }

  // A stopped announce takes the leecher out of the swarm.
  auto stopped = ask(query(http, tracker_query::announce_request, "-QF0100-leecher00001", 7001, 5000,
                           tracker_query::stopped));
  ASSERT_EQ(stopped->responses.size(), 1u);
  auto after = ask(query(udp, tracker_query::scrape_request, "-QF0100-seed00000001", 7002, 0, 0));
  ASSERT_EQ(after->responses.size(), 1u);
  EXPECT_EQ(after->responses[0].complete, 1);
  EXPECT_EQ(after->responses[0].incomplete, 1);
}

TEST_F(TrackerOpentracker, UnknownTorrentIsRefusedWithTheTrackersReason) {
  tracker_query q = query(tracker->http_url(), tracker_query::announce_request, "-QF0100-leecher00001", 7001, 1,
                          tracker_query::started);
  q.info_hash = sha1_hash::from_bytes("not-on-the-whitelist");
  auto cb = ask(q);
  ASSERT_EQ(cb->errors.size(), 1u);
  EXPECT_EQ(cb->errors[0].status, 200);
  EXPECT_EQ(cb->errors[0].message, "Requested download is not authorized for use with this tracker.");
}

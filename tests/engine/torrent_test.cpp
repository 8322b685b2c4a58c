#include "engine/torrent.h"

#include <gtest/gtest.h>

#include "engine/alert_types.h"
#include "engine/peer_connection.h"
#include "engine/session_impl.h"

using namespace engine;
using namespace std::chrono_literals;

namespace {

// A session without its threads and a torrent on a clock the test moves.
struct TorrentFixture : ::testing::Test {
  session_impl ses{0, 0, fingerprint("QF", 1, 0, 0, 0), nullptr};
  torrent::time_point clock_now{std::chrono::seconds(1'000'000)};
  std::shared_ptr<torrent> t;

  void SetUp() override {
    ses.m_alerts.set_severity(alert::debug);
    sha1_hash ih;
    ih[0] = 1;
    t = make("http://127.0.0.1:1/announce", ih);
  }

  std::shared_ptr<torrent> make(const std::string& url, const sha1_hash& ih) {
    auto r = std::make_shared<torrent>(ses, nullptr, url, ih, ".", address(), true, 16384);
    r->set_clock([this] { return clock_now; });
    r->force_tracker_request();
    return r;
  }

  std::chrono::seconds until_announce() const {
    return std::chrono::duration_cast<std::chrono::seconds>(t->next_announce() - clock_now);
  }

  template <class A>
  std::vector<std::unique_ptr<alert>> alerts_of() {
    std::vector<std::unique_ptr<alert>> out;
    while (auto a = ses.m_alerts.get())
      if (dynamic_cast<A*>(a.get())) out.push_back(std::move(a));
    return out;
  }
};

}  // namespace

TEST(TorrentBlockSize, FromPieceLength) {
  EXPECT_EQ(torrent::block_size_for(512, 262144), 1024);
  EXPECT_EQ(torrent::block_size_for(16384, 512), 512);
  EXPECT_EQ(torrent::block_size_for(16384, 67108864), 262144);
  EXPECT_EQ(torrent::block_size_for(16384, 262144), 16384);
}

TEST_F(TorrentFixture, CreatedPausedAndAnnouncesStartedOnResume) {
  EXPECT_TRUE(t->is_paused());
  EXPECT_FALSE(t->should_request());
  t->resume();
  ASSERT_TRUE(t->should_request());
  const tracker_query q = t->generate_tracker_request();
  EXPECT_EQ(q.event, tracker_query::started);
  EXPECT_EQ(q.url, "http://127.0.0.1:1/announce");
  EXPECT_EQ(q.info_hash, t->info_hash());
  EXPECT_EQ(q.pid, ses.m_peer_id);
  // Without metadata: 1000 bytes left, at least 100 peers wanted.
  EXPECT_EQ(q.left, 1000);
  EXPECT_GE(q.num_want, 100);
  EXPECT_EQ(until_announce(), 600s);
  EXPECT_FALSE(t->should_request());
  EXPECT_EQ(t->generate_tracker_request().event, tracker_query::none);
}

TEST_F(TorrentFixture, PauseOwesOneStoppedAnnounce) {
  t->resume();
  t->generate_tracker_request();
  t->pause();
  t->pause();  // nothing more
  ASSERT_TRUE(t->should_request());
  const tracker_query q = t->generate_tracker_request();
  EXPECT_EQ(q.event, tracker_query::stopped);
  EXPECT_EQ(q.num_want, 0);
  clock_now += 3600s;
  EXPECT_FALSE(t->should_request());  // paused: no schedule
}

TEST_F(TorrentFixture, ResponseSchedulesAndReorders) {
  t->replace_trackers({{"http://a/", 0}, {"http://b/", 0}, {"http://c/", 1}});
  t->resume();
  t->tracker_request_timed_out(t->generate_tracker_request());
  EXPECT_EQ(t->current_tracker(), 1);
  tracker_query q = t->generate_tracker_request();
  EXPECT_EQ(q.url, "http://b/");
  std::vector<tracker_peer> peers{{"127.0.0.2", 6881, peer_id()}, {"peer.example", 6881, peer_id()},
                                  {"127.0.0.3", 6882, ses.m_peer_id}};
  t->tracker_response(q, peers, 120, 5, -1);
  EXPECT_EQ(until_announce(), 300s);  // 120 is raised to 300
  EXPECT_EQ(t->trackers()[0].url, "http://b/");
  EXPECT_EQ(t->last_working_tracker(), 0);
  EXPECT_EQ(t->current_tracker(), 0);
  EXPECT_EQ(t->status().current_tracker, "http://b/");
  EXPECT_EQ(t->status().num_complete, 5);
  EXPECT_EQ(t->status().num_incomplete, -1);
  EXPECT_EQ(t->status().state, downloading_metadata);
  // Our own id and the host name are left out.
  ASSERT_EQ(t->tracker_peers().size(), 1u);
  EXPECT_EQ(t->tracker_peers()[0].ip, address(127, 0, 0, 2, 6881));

  auto timeouts = alerts_of<tracker_alert>();
  ASSERT_EQ(timeouts.size(), 1u);
  EXPECT_EQ(timeouts[0]->msg(), "tracker: \"http://a/\" timed out");
}

TEST_F(TorrentFixture, ReplyAlertNamesTheTracker) {
  t->resume();
  t->tracker_response(t->generate_tracker_request(), {}, 1800, -1, -1);
  auto replies = alerts_of<tracker_reply_alert>();
  ASSERT_EQ(replies.size(), 1u);
  EXPECT_EQ(replies[0]->msg(), "Got response from tracker: http://127.0.0.1:1/announce");
  EXPECT_EQ(until_announce(), 1800s);
}

TEST_F(TorrentFixture, BackOffAfterWholeRounds) {
  t->resume();
  std::vector<std::chrono::seconds> waits;
  for (int round = 0; round < 7; ++round) {
    t->tracker_request_error(t->generate_tracker_request(), 404, "Not Found");
    waits.push_back(until_announce());
  }
  EXPECT_EQ(waits[0], 60s);
  EXPECT_EQ(waits[3], 384s);  // 60 + 3 x 108
  EXPECT_EQ(waits[5], 600s);
  EXPECT_EQ(waits[6], 600s);
  auto errors = alerts_of<tracker_alert>();
  ASSERT_EQ(errors.size(), 7u);
  EXPECT_EQ(errors[0]->msg(), "tracker: \"http://127.0.0.1:1/announce\" Not Found");
  EXPECT_EQ(dynamic_cast<tracker_alert&>(*errors[2]).times_in_row, 3);
  EXPECT_EQ(dynamic_cast<tracker_alert&>(*errors[2]).status_code, 404);
}

TEST_F(TorrentFixture, EmptyTrackerListIsNeverIndexed) {
  t->replace_trackers({});
  t->resume();
  EXPECT_FALSE(t->should_request());
  const tracker_query q = t->generate_tracker_request();
  EXPECT_EQ(q.url, "");
  t->tracker_response(q, {}, 1800, 1, 2);
  t->tracker_request_timed_out(q);
  EXPECT_EQ(t->status().current_tracker, "");
  t->pause();
  EXPECT_FALSE(t->should_request());
}

TEST_F(TorrentFixture, LimitsAndQuotas) {
  std::vector<std::shared_ptr<peer_connection>> peers;
  for (int i = 0; i < 20; ++i) {
    const address a(127, 0, 0, std::uint8_t(1 + i), std::uint16_t(7000 + i));  // one peer per IP
    peers.push_back(std::make_shared<peer_connection>(ses, ses.m_selector, std::make_shared<socket>(-1, a, false)));
    peers.back()->attach_to_torrent(t.get());
  }
  t->set_upload_limit(5);
  EXPECT_EQ(t->upload_limit(), 200);
  t->set_download_limit(-1);
  EXPECT_EQ(t->download_limit(), torrent::unlimited);
  t->set_max_uploads(0);
  EXPECT_EQ(t->m_uploads_quota.max, 2);
  t->set_max_connections(-1);
  EXPECT_EQ(t->m_connections_quota.max, torrent::unlimited);

  t->resume();
  engine::stat session_stat;
  t->second_tick(session_stat);
  EXPECT_EQ(t->m_connections_quota.used, 20);
  EXPECT_EQ(t->m_ul_bandwidth_quota.max, 200);
  EXPECT_EQ(t->m_ul_bandwidth_quota.min, 20 * 10);
  EXPECT_EQ(t->m_dl_bandwidth_quota.max, torrent::unlimited);
  peers.clear();  // each connection leaves its torrent as it goes
  EXPECT_EQ(t->num_peers(), 0);
}

TEST_F(TorrentFixture, PolicyPulseEveryTenthSecondAndAfterResume) {
  t->resume();
  for (int i = 0; i < 25; ++i) t->distribute_resources();
  EXPECT_EQ(t->policy_pulses(), 3);  // seconds 1, 11 and 21
  t->pause();
  t->resume();
  t->distribute_resources();
  EXPECT_EQ(t->policy_pulses(), 4);
}

TEST_F(TorrentFixture, StatusWithoutMetadata) {
  const torrent_status st = t->status();
  EXPECT_EQ(st.state, connecting_to_tracker);
  EXPECT_TRUE(st.paused);
  EXPECT_EQ(st.progress, 0);
  EXPECT_EQ(st.pieces, nullptr);
  EXPECT_EQ(t->bytes_left(), -1);
  EXPECT_FALSE(t->has_metadata());
  t->set_tracker_login("", "");
  EXPECT_EQ(t->tracker_login(), "");
  t->set_tracker_login("me", "pw");
  EXPECT_EQ(t->tracker_login(), "me:pw");
}

#include "engine/session/announce_schedule.h"

#include <gtest/gtest.h>

using namespace engine;
using namespace std::chrono_literals;

namespace {

struct AnnounceSchedule : ::testing::Test {
  announce_schedule::time_point clock = announce_schedule::time_point(1000000s);
  announce_schedule s{{{"http://a/", 0}, {"http://b/", 0}, {"http://c/", 1}}, [this] { return clock; }};

  std::chrono::seconds until_next() const {
    return std::chrono::duration_cast<std::chrono::seconds>(s.next_announce() - clock);
  }
};

}  // namespace

TEST_F(AnnounceSchedule, FirstAnnounceStartsAndTheNextComesTenMinutesLater) {
  EXPECT_EQ(s.due(true), std::nullopt);
  EXPECT_EQ(s.due(false), clock);
  EXPECT_FALSE(s.should_request(true));
  ASSERT_TRUE(s.should_request(false));
  const tracker_query q = s.take_announce();
  EXPECT_EQ(q.url, "http://a/");
  EXPECT_EQ(q.event, tracker_query::started);
  EXPECT_EQ(until_next(), 600s);
  EXPECT_TRUE(s.announced_within(1s));
  clock += 1s;
  EXPECT_FALSE(s.announced_within(1s));
  EXPECT_FALSE(s.should_request(false));
  EXPECT_EQ(s.take_announce().event, tracker_query::none);

  // An owed "stopped" goes out at the next look even while paused, once.
  s.owe(tracker_query::stopped);
  s.announce_now();
  EXPECT_EQ(s.due(true), announce_schedule::time_point::min());
  ASSERT_TRUE(s.should_request(true));
  EXPECT_FALSE(s.should_request(true));
  EXPECT_EQ(s.take_announce().event, tracker_query::stopped);
}

TEST_F(AnnounceSchedule, FailuresTryTheNextTrackerThenBackOffByRounds) {
  const tracker_query started = s.take_announce();
  EXPECT_TRUE(s.try_next_tracker(started));
  EXPECT_EQ(s.current_tracker(), 1);
  EXPECT_EQ(until_next(), 0s);
  // The failed announce's event is owed to the next tracker.
  tracker_query q = s.take_announce();
  EXPECT_EQ(q.url, "http://b/");
  EXPECT_EQ(q.event, tracker_query::started);
  EXPECT_TRUE(s.try_next_tracker(q));
  q = s.take_announce();
  EXPECT_EQ(q.url, "http://c/");
  // Past the end of the list: the first tracker after a back-off that
  // grows with each failed round, up to ten minutes.
  for (const auto delay : {60s, 168s, 276s, 384s, 492s, 600s, 600s}) {
    EXPECT_FALSE(s.try_next_tracker(q));
    EXPECT_EQ(s.current_tracker(), 0);
    EXPECT_EQ(until_next(), delay);
    for (int i = 0; i < 2; ++i) EXPECT_TRUE(s.try_next_tracker(s.take_announce()));
    q = s.take_announce();
  }
  EXPECT_EQ(s.failed_rounds(), 7);
  // A newer event is not overwritten by the failed one's.
  s.owe(tracker_query::completed);
  q.event = tracker_query::started;
  s.try_next_tracker(q);
  EXPECT_EQ(s.take_announce().event, tracker_query::completed);
}

TEST_F(AnnounceSchedule, ReplyMovesTheTrackerToTheFrontOfItsTier) {
  EXPECT_EQ(s.working_url(), "");
  EXPECT_TRUE(s.try_next_tracker(s.take_announce()));
  s.take_announce();
  s.replied(60);
  EXPECT_EQ(s.failed_rounds(), 0);
  EXPECT_EQ(s.last_working_tracker(), 0);
  EXPECT_EQ(s.current_tracker(), 0);
  EXPECT_EQ(s.working_url(), "http://b/");
  EXPECT_EQ(s.trackers()[1].url, "http://a/");
  EXPECT_EQ(until_next(), 300s);  // never sooner than five minutes
  s.replied(1800);
  EXPECT_EQ(s.interval(), 1800s);

  // A tracker of the second tier stays behind the first.
  EXPECT_TRUE(s.try_next_tracker(s.take_announce()));
  EXPECT_TRUE(s.try_next_tracker(s.take_announce()));
  s.take_announce();
  s.replied(1800);
  EXPECT_EQ(s.last_working_tracker(), 2);
  EXPECT_EQ(s.working_url(), "http://c/");
}

TEST_F(AnnounceSchedule, AskedAnnounceStandsUntilOneGoesOut) {
  s.take_announce();
  s.announce_at(clock + 90s);
  // The reply to the announce under way does not move the asked one.
  s.replied(1800);
  EXPECT_EQ(until_next(), 90s);
  clock += 90s;
  ASSERT_TRUE(s.should_request(false));
  s.take_announce();
  EXPECT_EQ(until_next(), 600s);
}

TEST_F(AnnounceSchedule, TrackersReplacedAndLogin) {
  EXPECT_TRUE(s.try_next_tracker(s.take_announce()));
  EXPECT_TRUE(s.try_next_tracker(s.take_announce()));
  s.replace_trackers({{"http://d/", 0}});
  EXPECT_EQ(s.current_tracker(), 0);
  EXPECT_EQ(s.last_working_tracker(), -1);
  EXPECT_EQ(s.take_announce().url, "http://d/");
  s.replace_trackers({});
  EXPECT_EQ(s.due(false), std::nullopt);
  s.announce_now();
  EXPECT_FALSE(s.should_request(false));  // nothing to announce to; the wish is dropped
  EXPECT_EQ(s.due(false), std::nullopt);
  EXPECT_EQ(s.take_announce().url, "");

  EXPECT_EQ(s.login(), "");
  s.set_login("me", "secret");
  EXPECT_EQ(s.login(), "me:secret");
}

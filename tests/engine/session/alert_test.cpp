#include "engine/session/alert.h"

#include <gtest/gtest.h>

#include <thread>
#include <vector>

#include "engine/session/alert_types.h"

using namespace engine;

namespace {

std::unique_ptr<alert> reply(int n) {
  return std::make_unique<tracker_reply_alert>(torrent_handle(), "Got response from tracker: " + std::to_string(n));
}

}  // namespace

TEST(AlertManager, NothingQueuedAtTheInitialThreshold) {
  alert_manager m;
  EXPECT_FALSE(m.should_post(alert::fatal));
  m.post_alert(file_error_alert(torrent_handle(), "disk full"));
  m.post_alert(listen_failed_alert("x"));
  EXPECT_FALSE(m.pending());
  EXPECT_EQ(m.get(), nullptr);
}

TEST(AlertManager, ThresholdFiltersBySeverity) {
  alert_manager m;
  m.set_severity(alert::info);
  EXPECT_FALSE(m.should_post(alert::debug));
  EXPECT_TRUE(m.should_post(alert::info));
  m.post_alert(peer_error_alert(address(), peer_id(), "connection timed out"));
  EXPECT_FALSE(m.pending());
  m.post_alert(*reply(1));
  ASSERT_TRUE(m.pending());
  auto a = m.get();
  ASSERT_NE(dynamic_cast<tracker_reply_alert*>(a.get()), nullptr);
  EXPECT_EQ(a->msg(), "Got response from tracker: 1");
  EXPECT_EQ(a->severity(), alert::info);
  EXPECT_FALSE(m.pending());
}

TEST(AlertManager, PostIfBuildsOnlyWhatItsKindsLevelAdmits) {
  alert_manager m;
  m.set_severity(alert::info);
  int built = 0;
  m.post_if([&] {
    ++built;
    return peer_error_alert(address(), peer_id(), "below the threshold");
  });
  EXPECT_EQ(built, 0);
  m.post_if([&] {
    ++built;
    return torrent_finished_alert(torrent_handle(), "torrent is complete");
  });
  EXPECT_EQ(built, 1);
  auto a = m.get();
  ASSERT_NE(dynamic_cast<torrent_finished_alert*>(a.get()), nullptr);
  EXPECT_EQ(a->severity(), torrent_finished_alert::level);
}

TEST(AlertManager, KeepsTheNewestHundred) {
  alert_manager m;
  m.set_severity(alert::debug);
  for (int i = 0; i < 101; ++i) m.post_alert(*reply(i));
  int popped = 0;
  std::string first;
  while (auto a = m.get()) {
    if (popped++ == 0) first = a->msg();
  }
  EXPECT_EQ(popped, 100);
  EXPECT_EQ(first, "Got response from tracker: 1");
}

TEST(AlertManager, CloneKeepsKindFieldsAndTime) {
  const address ip(127, 0, 0, 1, 6881);
  tracker_alert original(torrent_handle(), 3, 404, "tracker: \"http://t/a\" not found");
  auto copy = original.clone();
  auto* t = dynamic_cast<tracker_alert*>(copy.get());
  ASSERT_NE(t, nullptr);
  EXPECT_EQ(t->times_in_row, 3);
  EXPECT_EQ(t->status_code, 404);
  EXPECT_EQ(t->msg(), original.msg());
  EXPECT_EQ(t->timestamp(), original.timestamp());
  EXPECT_EQ(t->severity(), alert::warning);

  chat_message_alert chat(torrent_handle(), ip, "hello");
  auto c = chat.clone();
  EXPECT_EQ(dynamic_cast<chat_message_alert&>(*c).ip, ip);
  EXPECT_EQ(c->severity(), alert::critical);
}

// Several threads post while one pops and another moves the threshold: the
// queue never exceeds its cap and nothing is lost beyond what the cap drops.
TEST(AlertManager, ConcurrentPostersAndOnePopper) {
  alert_manager m;
  m.set_severity(alert::debug);
  constexpr int posters = 6, each = 2000;
  std::atomic<bool> done{false};
  std::atomic<int> popped{0};
  std::thread popper([&] {
    while (!done.load() || m.pending()) {
      if (auto a = m.get()) {
        ASSERT_NE(dynamic_cast<tracker_reply_alert*>(a.get()), nullptr);
        ++popped;
      }
    }
  });
  std::thread toggler([&] {
    for (int i = 0; i < 200; ++i) {
      m.set_severity(alert::info);
      m.set_severity(alert::debug);
    }
  });
  std::vector<std::thread> threads;
  for (int t = 0; t < posters; ++t)
    threads.emplace_back([&] {
      for (int i = 0; i < each; ++i)
        if (m.should_post(alert::info)) m.post_alert(*reply(i));
    });
  for (auto& t : threads) t.join();
  toggler.join();
  done = true;
  popper.join();
  EXPECT_FALSE(m.pending());
  EXPECT_GT(popped.load(), 0);
  EXPECT_LE(popped.load(), posters * each);
}

#include "client/torrents/torrent_queue.h"

#include "torrent_test_support.h"

#include <gtest/gtest.h>

#include <functional>

using client::CTorrentListe;
using client::TorrentItem;
using client::TorrentQueue;
using client::TorrentStatus;
using namespace client_test;

namespace {

class Queue : public ::testing::Test {
 public:
  // Torrent n, queued and paused in the engine, with this priority.
  TorrentItem* Queued(int n, int priority = 1) {
    auto item = MakeTorrent(fake, events, n);
    item->SetPriority(client::TorrentPriority(priority));
    TorrentItem* raw = item.get();
    list.Add(std::move(item));
    return raw;
  }
  bool Running(int n) { return !fake.At(FakeTorrentControl::Hash(n)).paused; }
  int RunningCount() {
    int count = 0;
    for (auto& [hash, t] : fake.torrents) count += !t.paused;
    return count;
  }

  FakeTorrentControl fake;
  RecordingEvents events;
  CTorrentListe list;
  std::vector<std::wstring> log;
  TorrentQueue queue{list, [this](std::wstring line) { log.push_back(std::move(line)); }};
};

TEST_F(Queue, HighestPriorityFirstAndTheEarlierOneAmongEquals) {
  Queued(1, 1);
  TorrentItem* second = Queued(2, 2);
  Queued(3, 2);
  EXPECT_EQ(list.PickNextQueued(nullptr), second);

  queue.SetMaxActive(1);
  queue.StartNextQueued(nullptr);
  EXPECT_TRUE(Running(2));
  EXPECT_EQ(RunningCount(), 1);
  EXPECT_EQ(second->Status(), TorrentStatus::Downloading);
  EXPECT_TRUE(second->IsStarted());
  EXPECT_EQ(queue.ActiveCount(), 1u);
  // A start by the queue is counted here, not posted.
  EXPECT_TRUE(events.events.empty());
}

TEST_F(Queue, OnlyQueuedPausedUnfinishedTorrentsArePicked) {
  // Paused by the user, and stopped on its goal, each still shown queued.
  TorrentItem* paused = Queued(1);
  paused->UserPause();
  paused->SetStatus(TorrentStatus::Queued);
  TorrentItem* done = Queued(2);
  done->StopOnSeedingGoal();
  done->SetStatus(TorrentStatus::Queued);
  Queued(3)->SetStatus(TorrentStatus::Paused);
  Queued(4);
  fake.At(FakeTorrentControl::Hash(4)).paused = false;
  Queued(5);
  fake.At(FakeTorrentControl::Hash(5)).gone = true;
  EXPECT_EQ(list.PickNextQueued(nullptr), nullptr);
  queue.SetMaxActive(10);
  queue.StartNextQueued(nullptr);
  EXPECT_EQ(RunningCount(), 1);  // only torrent 4, which ran already
  EXPECT_FALSE(Running(1));
}

TEST_F(Queue, AnEngineErrorWhileChoosingEndsTheRound) {
  Queued(1);
  Queued(2, 2);
  fake.At(FakeTorrentControl::Hash(1)).failing = {"is_paused"};
  EXPECT_EQ(list.PickNextQueued(nullptr), nullptr);
  queue.StartNextQueued(nullptr);
  EXPECT_EQ(RunningCount(), 0);
}

TEST_F(Queue, MaxActiveZeroStartsNothing) {
  Queued(1);
  queue.SetMaxActive(0);
  queue.StartNextQueued(nullptr);
  EXPECT_EQ(RunningCount(), 0);
}

TEST_F(Queue, TheExcludedTorrentIsNotRestarted) {
  TorrentItem* stopped = Queued(1, 2);
  Queued(2, 0);
  queue.SetMaxActive(4);
  queue.StartNextQueued(stopped);
  EXPECT_FALSE(Running(1));
  EXPECT_TRUE(Running(2));
  EXPECT_EQ(stopped->Status(), TorrentStatus::Queued);
}

TEST_F(Queue, RaisingTheLimitFillsTheNewSlotsAtOnce) {
  for (int n = 1; n <= 6; ++n) Queued(n);
  queue.SetMaxActive(2);
  queue.StartNextQueued(nullptr);
  EXPECT_EQ(RunningCount(), 2);
  queue.SetMaxActive(4);
  queue.StartNextQueued(nullptr);
  EXPECT_EQ(RunningCount(), 4);
  EXPECT_EQ(queue.ActiveCount(), 4u);
  for (int n = 1; n <= 4; ++n) EXPECT_TRUE(Running(n)) << n;
}

// Torrent 1 (the better one) fails to start in the way `spoil` makes it:
// logged, not counted, and torrent 2 takes the slot.
void ExpectTheNextOneStartsWhenTheFirstFails(Queue& q, const std::function<void(FakeTorrent&)>& spoil) {
  q.Queued(1, 2);
  q.Queued(2, 1);
  spoil(q.fake.At(FakeTorrentControl::Hash(1)));
  q.queue.SetMaxActive(1);
  q.queue.StartNextQueued(nullptr);
  EXPECT_EQ(q.log, std::vector<std::wstring>{L"t1.torrent failed to start"});
  EXPECT_TRUE(q.Running(2));
  EXPECT_EQ(q.queue.ActiveCount(), 1u);
}

TEST_F(Queue, AFailedStartIsLoggedAndTheNextOneStarts) {
  ExpectTheNextOneStartsWhenTheFirstFails(*this, [](FakeTorrent& t) { t.failing = {"resume"}; });
}

TEST_F(Queue, ATorrentGoneBetweenPickAndStartIsNoStart) {
  // Removed from the session: valid when picked, dropped before it starts.
  ExpectTheNextOneStartsWhenTheFirstFails(*this, [](FakeTorrent& t) {
    t.removing = true;
    t.removal_polls = 2;
  });
}

TEST_F(Queue, TorrentsThatStoppedWithoutTellingFreeTheirSlots) {
  for (int n = 1; n <= 4; ++n) Queued(n);
  queue.SetMaxActive(2);
  queue.StartNextQueued(nullptr);
  ASSERT_EQ(queue.ActiveCount(), 2u);

  // "Pause All" posts no stop; the count would stay at 2 for good.
  list.PauseAll();
  EXPECT_EQ(queue.CountActive(), 0u);
  queue.StartNextQueued(nullptr);
  EXPECT_TRUE(Running(3));
  EXPECT_TRUE(Running(4));
  EXPECT_EQ(queue.ActiveCount(), 2u);

  // The engine pauses a torrent on a file error, without a stop either.
  fake.At(FakeTorrentControl::Hash(3)).paused = true;
  Queued(5);
  queue.StartNextQueued(nullptr);
  EXPECT_TRUE(Running(5));
  EXPECT_EQ(queue.ActiveCount(), 2u);
}

TEST_F(Queue, CountFollowsTheMainWindowsEvents) {
  queue.OnTorrentStopped();
  EXPECT_EQ(queue.ActiveCount(), 0u);
  queue.OnTorrentStarted();
  queue.OnTorrentStarted();
  queue.OnTorrentRemoved(true);
  EXPECT_EQ(queue.ActiveCount(), 2u);
  queue.OnTorrentRemoved(false);
  queue.OnTorrentStopped();
  queue.OnTorrentStopped();
  EXPECT_EQ(queue.ActiveCount(), 0u);
}

}  // namespace

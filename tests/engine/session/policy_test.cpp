#include "engine/session/policy.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <deque>
#include <memory>
#include <random>
#include <set>
#include <string>
#include <vector>

#include "engine/session/piece_picker.h"
#include "engine/wire/protocol_error.h"

using namespace engine;
using std::chrono::seconds;

namespace {

struct fake_conn : policy::connection {
  explicit fake_conn(address a) : addr(a) {}
  address addr;
  bool connecting = false, has_failed = false, ourselves = false;
  bool choked = true, peer_choked = true, interesting = false, peer_interested = false, seed = false;
  std::vector<bool> bits;
  std::int64_t diff = 0, down = 0, up = 0;
  float rate = 0, payload_rate = 0;
  std::vector<piece_block> download_queue, request_queue;
  int chokes = 0, unchokes = 0, not_interesteds = 0;

  address remote() const override { return addr; }
  bool is_connecting() const override { return connecting; }
  bool failed() const override { return has_failed; }
  bool reached_ourselves() const override { return ourselves; }
  bool is_choked() const override { return choked; }
  bool has_peer_choked() const override { return peer_choked; }
  bool is_interesting() const override { return interesting; }
  bool is_peer_interested() const override { return peer_interested; }
  bool is_seed() const override { return seed; }
  const std::vector<bool>& get_bitfield() const override { return bits; }
  void send_choke() override { choked = true; ++chokes; }
  void send_unchoke() override { choked = false; ++unchokes; }
  void send_interested() override { interesting = true; }
  void send_not_interested() override { interesting = false; ++not_interesteds; }
  std::int64_t share_diff() const override { return diff; }
  void add_free_upload(std::int64_t b) override { diff += b; }
  void add_stat(std::int64_t d, std::int64_t u) override { down += d; up += u; }
  std::int64_t total_payload_download() const override { return down; }
  std::int64_t total_payload_upload() const override { return up; }
  float download_rate() const override { return rate; }
  float download_payload_rate() const override { return payload_rate; }
  int download_queue_size() const override { return int(download_queue.size()); }
  int request_queue_size() const override { return int(request_queue.size()); }
  bool in_download_queue(piece_block b) const override {
    return std::find(download_queue.begin(), download_queue.end(), b) != download_queue.end();
  }
  piece_picker* picker = nullptr;
  void request_block(piece_block b) override {
    picker->mark_as_downloading(b, addr);
    download_queue.push_back(b);
  }
  void cancel_request(piece_block b) override {
    picker->abort_download(b);
    std::erase(download_queue, b);
  }
};

struct fake_torrent : policy::torrent_interface {
  policy::time_point clock = policy::time_point() + std::chrono::hours(1000);
  int connection_limit = 100, upload_slots = 4;
  float share_ratio = 0;
  bool paused = false, aborted = false, seed = false;
  std::uint32_t tracker = 0;
  std::unique_ptr<piece_picker> pick;
  std::vector<std::unique_ptr<fake_conn>> conns;
  std::vector<address> dialled;
  policy pol{*this};

  policy::time_point now() const override { return clock; }
  int max_connections() const override { return connection_limit; }
  int max_uploads() const override { return upload_slots; }
  int num_connections() const override { return int(conns.size()); }
  float ratio() const override { return share_ratio; }
  bool is_paused() const override { return paused; }
  bool is_aborted() const override { return aborted; }
  bool is_seed() const override { return seed; }
  int block_size() const override { return 16384; }
  int piece_length() const override { return 4 * 16384; }
  piece_picker* picker() override { return pick.get(); }
  policy::connection* connect_to_peer(const address& a) override {
    dialled.push_back(a);
    fake_conn* c = add(a);
    c->connecting = dials_hang;
    return c;
  }
  void disconnect(policy::connection& c, const char*) override {
    pol.connection_closed(c);
    std::erase_if(conns, [&](auto& p) { return p.get() == &c; });
  }
  std::uint32_t tracker_ip() const override { return tracker; }
  // Connects dialled stay in progress while `dials_hang` is set.
  int half_open_limit = 1000;
  bool dials_hang = false;
  int connect_room() const override {
    return half_open_limit - int(std::count_if(conns.begin(), conns.end(), [](auto& c) { return c->connecting; }));
  }

  fake_conn* add(address a) {
    conns.push_back(std::make_unique<fake_conn>(a));
    conns.back()->picker = pick.get();
    return conns.back().get();
  }
  // An incoming connection that the policy accepts.
  fake_conn* incoming(address a) {
    auto c = std::make_unique<fake_conn>(a);
    c->picker = pick.get();
    pol.new_connection(*c);  // before it counts as one of ours
    conns.push_back(std::move(c));
    return conns.back().get();
  }
  void close(fake_conn* c) { disconnect(*c, "closed"); }
};

address addr(int host, std::uint16_t port = 6881) { return address(10, 0, std::uint8_t(host >> 8), std::uint8_t(host), port); }

std::string refusal(fake_torrent& t, address a) {
  try {
    t.incoming(a);
  } catch (const protocol_error& e) {
    return e.what();
  }
  return "";
}

}  // namespace

TEST(PolicyPeerList, IncomingRefusals) {
  fake_torrent t;
  t.incoming(addr(1, 5000));
  EXPECT_EQ(refusal(t, addr(1, 6000)), "duplicate connection, closing");
  EXPECT_EQ(t.conns.size(), 1u);
  t.pol.ban_peer(*t.conns[0]);
  t.close(t.conns[0].get());
  EXPECT_EQ(refusal(t, addr(1, 5000)), "ip address banned, closing");
  t.connection_limit = 2;
  t.incoming(addr(2));
  t.incoming(addr(3));
  EXPECT_EQ(refusal(t, addr(4)), "too many connections, refusing incoming connection");
  t.tracker = addr(4).ip;  // the tracker itself is let in
  EXPECT_EQ(refusal(t, addr(4)), "");
}

TEST(PolicyPeerList, TotalsCarryOverReconnections) {
  fake_torrent t;
  fake_conn* c = t.incoming(addr(1));
  c->down = 1000;
  c->up = 300;
  t.close(c);
  EXPECT_EQ(t.pol.find_peer(addr(1).ip)->prev_amount_download, 1000);
  c = t.incoming(addr(1, 7000));
  EXPECT_EQ(c->down, 1000);
  EXPECT_EQ(c->up, 300);
  EXPECT_EQ(t.pol.find_peer(addr(1).ip)->prev_amount_download, 0);
}

TEST(PolicyPeerList, TrackerPeers) {
  fake_torrent t;
  t.paused = true;
  t.pol.peer_from_tracker(addr(1), peer_id());
  t.pol.peer_from_tracker(address(0, 6881), peer_id());
  t.pol.peer_from_tracker(address(addr(2).ip, 0), peer_id());
  EXPECT_EQ(t.pol.peers().size(), 1u);
  EXPECT_TRUE(t.dialled.empty());  // paused: stored, not dialled
  t.paused = false;
  t.pol.peer_from_tracker(addr(1), peer_id());
  ASSERT_EQ(t.dialled.size(), 1u);
  EXPECT_EQ(t.dialled[0], addr(1));
  t.pol.peer_from_tracker(addr(1), peer_id());  // connected: left alone
  EXPECT_EQ(t.dialled.size(), 1u);
  // A connection that failed makes its peer unconnectable for a while.
  t.conns[0]->has_failed = true;
  t.close(t.conns[0].get());
  EXPECT_EQ(t.pol.find_peer(addr(1).ip)->ip.port, 0);
  EXPECT_FALSE(t.pol.connect_one_peer());
}

TEST(PolicyPeerList, AFailedPeerIsDialledAgainAfterAWaitThatDoubles) {
  fake_torrent t;
  t.pol.peer_from_tracker(addr(1), peer_id());
  ASSERT_EQ(t.dialled.size(), 1u);
  const auto fail = [&] {
    t.conns.back()->has_failed = true;
    t.close(t.conns.back().get());
  };
  // Each wait twice the one before: 60 s, then 120 s.
  for (const int wait : {60, 120}) {
    fail();
    const std::size_t dialled = t.dialled.size();
    t.clock += seconds(wait - 1);
    t.pol.pulse();
    EXPECT_EQ(t.dialled.size(), dialled) << wait;
    t.pol.peer_from_tracker(addr(1), peer_id());  // a listing does not cut the wait short
    EXPECT_EQ(t.dialled.size(), dialled) << wait;
    t.clock += seconds(1);
    t.pol.pulse();
    ASSERT_EQ(t.dialled.size(), dialled + 1) << wait;
    EXPECT_EQ(t.dialled.back(), addr(1));
  }
  // A connection that ends without an error starts the count again.
  t.close(t.conns.back().get());
  t.pol.pulse();
  ASSERT_EQ(t.dialled.size(), 4u);
  fail();
  t.clock += seconds(60);
  t.pol.pulse();
  EXPECT_EQ(t.dialled.size(), 5u);
  // A banned peer waits for nothing: it is never dialled again.
  t.pol.ban_peer(*t.conns.back());
  fail();
  t.clock += std::chrono::hours(1);
  t.pol.pulse();
  EXPECT_EQ(t.dialled.size(), 5u);
}

TEST(PolicyPeerList, FloodIsBounded) {
  fake_torrent t;
  t.connection_limit = 0;  // store only
  for (int i = 1; i < 60000; ++i) t.pol.peer_from_tracker(address(std::uint32_t(i), 80), peer_id());
  EXPECT_EQ(t.pol.peers().size(), policy::max_peers);
  // An incoming connection still finds room by replacing an idle record.
  t.connection_limit = 10;
  fake_conn* c = t.incoming(address(10, 1, 1, 1, 5));
  EXPECT_EQ(t.pol.peers().size(), policy::max_peers);
  EXPECT_EQ(t.pol.find_peer(c->addr.ip)->conn, c);
}

// One reply of dead addresses fills the list: it opens no more connects than
// the half-open limit lets, the addresses of later replies take the places
// of those that failed or were never tried (these wait for room again), and
// a peer that worked keeps its record.
TEST(PolicyPeerList, FullListTakesFreshAddressesAndDialsWithinTheHalfOpenLimit) {
  fake_torrent t;
  const address good = addr(60000);
  t.pol.peer_from_tracker(good, peer_id());
  ASSERT_EQ(t.dialled.size(), 1u);
  t.close(t.conns[0].get());  // closed without a failure: it worked
  t.half_open_limit = 8;
  t.dials_hang = true;
  for (int i = 1; i <= 10000; ++i) t.pol.peer_from_tracker(addr(i), peer_id());
  EXPECT_EQ(t.pol.peers().size(), policy::max_peers);
  EXPECT_EQ(t.dialled.size(), 1u + 8u);
  t.pol.connect_peers();
  t.pol.pulse();
  EXPECT_EQ(t.dialled.size(), 1u + 8u);  // still no room
  // The dials fail; the next ones go out as room frees up.
  const auto fail_all = [&] {
    while (!t.conns.empty()) {
      t.conns.back()->has_failed = true;
      t.close(t.conns.back().get());
    }
  };
  fail_all();
  t.pol.connect_peers();
  EXPECT_EQ(t.dialled.size(), 1u + 16u);
  fail_all();
  // The real seed of the next reply is taken and dialled at once.
  t.half_open_limit = 9;
  const address seed = addr(60001);
  t.pol.peer_from_tracker(seed, peer_id());
  ASSERT_NE(t.pol.find_peer(seed.ip), nullptr);
  EXPECT_EQ(t.dialled.back(), seed);
  EXPECT_EQ(t.pol.peers().size(), policy::max_peers);
  ASSERT_NE(t.pol.find_peer(good.ip), nullptr);
  // A second flood keeps to the limit too, and the records that worked.
  for (int i = 20000; i < 30000; ++i) t.pol.peer_from_tracker(addr(i), peer_id());
  EXPECT_LE(int(t.conns.size()), 9);
  EXPECT_NE(t.pol.find_peer(good.ip), nullptr);
  EXPECT_NE(t.pol.find_peer(seed.ip), nullptr);
  EXPECT_EQ(t.pol.peers().size(), policy::max_peers);
}

// Candidates that wait for connect room ask for it once; when it frees up,
// the addresses learnt last go first, so the live peer of a later reply is
// not stuck behind thousands of dead ones of an earlier reply.
TEST(PolicyPeerList, FreedRoomGoesToTheLatestAddressesFirst) {
  struct asking_torrent : fake_torrent {
    int asked = 0;
    void wait_for_connect_room() override { ++asked; }
  } t;
  t.half_open_limit = 4;
  t.dials_hang = true;
  for (int i = 1; i <= 3000; ++i) t.pol.peer_from_tracker(addr(i), peer_id());
  EXPECT_EQ(t.dialled.size(), 4u);
  EXPECT_EQ(t.asked, 1);
  const address seed = addr(5000);
  t.pol.peer_from_tracker(seed, peer_id());
  EXPECT_EQ(t.asked, 1);
  // One dial fails: the room goes to the seed.
  t.conns.front()->has_failed = true;
  t.close(t.conns.front().get());
  t.pol.room_freed();
  ASSERT_EQ(t.dialled.size(), 5u);
  EXPECT_EQ(t.dialled.back(), seed);
  EXPECT_EQ(t.asked, 2);  // the others still wait
  // Then the newest of the first reply, and so on.
  t.close(t.conns.front().get());
  t.pol.room_freed();
  EXPECT_EQ(t.dialled.back(), addr(3000));
}

// A reply of 10,000 addresses fills the list and the rest waits, once each,
// however often it comes. Each address that fails makes way for one that
// waited, until every address of the reply has been dialled.
TEST(PolicyPeerList, WhatDoesNotFitWaitsForRoom) {
  fake_torrent t;
  t.half_open_limit = 8;
  t.dials_hang = true;
  for (int round = 0; round < 2; ++round)
    for (int i = 1; i <= 10000; ++i) t.pol.peer_from_tracker(addr(i), peer_id());
  EXPECT_EQ(t.pol.peers().size(), policy::max_peers);
  EXPECT_EQ(t.pol.backlog_size(), 10000 - policy::max_peers);
  EXPECT_EQ(t.dialled.size(), 8u);
  std::size_t last = 0;
  while (t.dialled.size() != last) {
    last = t.dialled.size();
    while (!t.conns.empty()) {
      t.conns.back()->has_failed = true;
      t.close(t.conns.back().get());
    }
    t.pol.connect_peers();
  }
  std::sort(t.dialled.begin(), t.dialled.end());
  EXPECT_EQ(std::unique(t.dialled.begin(), t.dialled.end()) - t.dialled.begin(), 10000);
  EXPECT_EQ(t.pol.backlog_size(), 0u);
  EXPECT_EQ(t.pol.peers().size(), policy::max_peers);
  // Failed records make way for new addresses at once.
  for (int i = 20001; i <= 20100; ++i) t.pol.peer_from_tracker(addr(i), peer_id());
  EXPECT_EQ(t.pol.backlog_size(), 0u);
  EXPECT_NE(t.pol.find_peer(addr(20001).ip), nullptr);
}

// The backlog against a plain model of it: each address once, the newest
// out first, the oldest dropped when full, through many pushes and pops
// (addresses from a small range, so that most pushes meet one that waits).
TEST(PolicyPeerList, BacklogKeepsEachAddressOnceAndTheNewest) {
  policy::address_backlog b;
  std::deque<address> model;
  std::set<address> in_model;
  std::mt19937 rng(7);
  for (int step = 0; step < 200000; ++step) {
    if (rng() % 3 == 0 && !model.empty()) {
      ASSERT_EQ(b.pop_newest(), model.back());
      in_model.erase(model.back());
      model.pop_back();
    } else {
      const address a(std::uint32_t(rng() % 30000), std::uint16_t(rng() % 2));
      b.push(a);
      if (in_model.insert(a).second) {
        if (model.size() == policy::address_backlog::capacity) {
          in_model.erase(model.front());
          model.pop_front();
        }
        model.push_back(a);
      }
    }
    ASSERT_EQ(b.size(), model.size());
  }
  for (const address& a : model) ASSERT_TRUE(b.contains(a));
}

// Records that worked keep their places; what comes meanwhile waits until
// they are forgotten, 30 minutes after their connections closed.
TEST(PolicyPeerList, ForgottenRecordsMakeRoomForWaitingAddresses) {
  fake_torrent t;
  for (int i = 1; i <= int(policy::max_peers); ++i) t.close(t.incoming(addr(i)));
  for (int i = 5001; i <= 5100; ++i) t.pol.peer_from_tracker(addr(i), peer_id());
  EXPECT_EQ(t.pol.backlog_size(), 100u);
  EXPECT_TRUE(t.dialled.empty());
  t.clock += seconds(1801);
  t.pol.pulse();
  EXPECT_EQ(t.pol.backlog_size(), 0u);
  EXPECT_EQ(t.pol.peers().size(), 100u);
  EXPECT_EQ(t.dialled.size(), 100u);
}

// A port learnt for an address with a record: dialled when the record has
// no connection, else once its connection ends; the port it replaces is
// tried when the new one fails.
TEST(PolicyPeerList, TheLatestPortOfAnAddressIsDialled) {
  fake_torrent t;
  t.dials_hang = true;
  const auto fail = [&](const address& a) {
    auto it = std::find_if(t.conns.begin(), t.conns.end(), [&](auto& c) { return c->addr == a; });
    ASSERT_NE(it, t.conns.end());
    (*it)->has_failed = true;
    t.close(it->get());
  };
  // Named at two ports in one reply: the second is dialled when the first fails.
  t.pol.peer_from_tracker(addr(1, 1000), peer_id());
  t.pol.peer_from_tracker(addr(1, 2000), peer_id());
  ASSERT_EQ(t.dialled, std::vector<address>{addr(1, 1000)});
  fail(addr(1, 1000));
  t.pol.connect_peers();
  ASSERT_EQ(t.dialled.back(), addr(1, 2000));
  // The same without connect room: the latest port goes first, then the other.
  t.half_open_limit = 1;
  t.pol.peer_from_tracker(addr(2, 1000), peer_id());
  t.pol.peer_from_tracker(addr(2, 2000), peer_id());
  EXPECT_EQ(t.dialled.size(), 2u);
  fail(addr(1, 2000));
  t.pol.connect_peers();
  ASSERT_EQ(t.dialled.back(), addr(2, 2000));
  fail(addr(2, 2000));
  t.pol.connect_peers();
  ASSERT_EQ(t.dialled.back(), addr(2, 1000));
  // Both failed: the last one waits its turn to be dialled again.
  fail(addr(2, 1000));
  const std::size_t dialled = t.dialled.size();
  t.pol.connect_peers();
  t.pol.pulse();
  EXPECT_EQ(t.dialled.size(), dialled);
  EXPECT_EQ(t.pol.find_peer(addr(2).ip)->retry_port, 1000);
  // A peer that moved is dialled at its new port at once, without the wait.
  t.pol.peer_from_tracker(addr(2, 3000), peer_id());
  ASSERT_EQ(t.dialled.size(), dialled + 1);
  EXPECT_EQ(t.dialled.back(), addr(2, 3000));
  EXPECT_EQ(t.pol.find_peer(addr(2).ip)->failures, 0);
  // A port learnt while connected waits for the connection to end.
  t.dials_hang = false;
  t.half_open_limit = 1000;
  fake_conn* c = t.incoming(addr(3, 40000));
  t.pol.peer_from_tracker(addr(3, 4000), peer_id());
  EXPECT_EQ(t.dialled.size(), dialled + 1);
  t.close(c);
  t.pol.connect_peers();
  EXPECT_EQ(t.dialled.back(), addr(3, 4000));
}

// A dial that reached ourselves marks that port of the address as our own:
// it is never dialled again, and never keeps another port of the address
// from being dialled.
TEST(PolicyPeerList, OurOwnPortNeverBlocksItsAddress) {
  fake_torrent t;
  t.dials_hang = true;
  const address self = addr(1, 1500), seed = addr(1, 6881);
  t.pol.peer_from_tracker(self, peer_id());
  t.pol.peer_from_tracker(seed, peer_id());
  ASSERT_EQ(t.dialled, std::vector<address>{self});
  t.conns.back()->ourselves = true;
  t.conns.back()->has_failed = true;
  t.close(t.conns.back().get());
  t.pol.connect_peers();
  ASSERT_EQ(t.dialled.back(), seed);
  // The seed keeps the record; our own port, listed again, changes nothing.
  t.pol.peer_from_tracker(self, peer_id());
  t.conns.back()->has_failed = true;
  t.close(t.conns.back().get());
  t.clock += seconds(60);
  t.pol.pulse();
  ASSERT_EQ(t.dialled.size(), 3u);
  EXPECT_EQ(t.dialled.back(), seed);  // dialled again after its wait
  t.conns.back()->has_failed = true;
  t.close(t.conns.back().get());
  t.pol.peer_from_tracker(self, peer_id());
  t.pol.peer_from_tracker(seed, peer_id());
  t.pol.connect_peers();
  EXPECT_EQ(t.dialled.size(), 3u);
}

TEST(PolicyPeerList, ExpiryAfterThirtyMinutes) {
  fake_torrent t;
  t.connection_limit = 0;
  t.pol.peer_from_tracker(addr(1), peer_id());  // never connected
  t.connection_limit = 10;
  fake_conn* c = t.incoming(addr(2));
  t.close(c);
  t.connection_limit = 0;
  t.clock += seconds(1800);
  t.pol.pulse();
  EXPECT_EQ(t.pol.peers().size(), 2u);
  t.clock += seconds(1);
  t.pol.pulse();
  ASSERT_EQ(t.pol.peers().size(), 1u);
  EXPECT_EQ(t.pol.peers()[0].ip, addr(1));
  EXPECT_NE(t.pol.find_peer(addr(1).ip), nullptr);
  EXPECT_EQ(t.pol.find_peer(addr(2).ip), nullptr);
}

TEST(PolicyPeerList, RotationDropsOneConnectionEveryTwoMinutes) {
  fake_torrent t;
  t.connection_limit = 3;
  for (int i = 1; i <= 3; ++i) t.incoming(addr(i))->down = 1000 * i;
  t.connection_limit = 0;
  for (int i = 10; i < 20; ++i) t.pol.peer_from_tracker(addr(i), peer_id());
  t.connection_limit = 3;
  int drops = 0;
  for (int second = 10; second <= 600; second += 10) {
    t.clock += seconds(10);
    const std::size_t before = t.dialled.size();
    t.pol.pulse();
    if (t.dialled.size() != before) ++drops;
    EXPECT_EQ(t.conns.size(), 3u);
  }
  EXPECT_EQ(drops, 5);  // one every 120 seconds
  // The slowest (addr(1), lowest average) went first.
  EXPECT_EQ(t.pol.find_peer(addr(1).ip)->conn, nullptr);
}

TEST(PolicyChoking, OweLimitIsExactlyTheThreshold) {
  fake_torrent t;
  t.share_ratio = 1.0f;
  fake_conn* a = t.incoming(addr(1));
  fake_conn* b = t.incoming(addr(2));
  a->diff = -65536;
  b->diff = -65537;
  t.pol.interested(*a);
  t.pol.interested(*b);
  EXPECT_FALSE(a->choked);
  EXPECT_TRUE(b->choked);
  EXPECT_EQ(t.pol.num_uploads(), 1);
  t.seed = true;  // a seed lets the debtor in
  t.pol.interested(*b);
  EXPECT_FALSE(b->choked);
}

TEST(PolicyChoking, SlotsGoToTheFastestAndRotate) {
  fake_torrent t;
  t.upload_slots = 2;
  std::vector<fake_conn*> c;
  for (int i = 1; i <= 4; ++i) {
    c.push_back(t.incoming(addr(i)));
    c.back()->peer_interested = true;
    c.back()->rate = float(100 * i);
  }
  t.pol.pulse();
  EXPECT_EQ(t.pol.num_uploads(), 2);
  EXPECT_FALSE(c[3]->choked);
  EXPECT_FALSE(c[2]->choked);
  // Next round: the weakest unchoked peer makes way for the best choked one.
  c[0]->rate = 1000;
  t.pol.pulse();
  EXPECT_EQ(t.pol.num_uploads(), 2);
  EXPECT_FALSE(c[0]->choked);
  EXPECT_FALSE(c[3]->choked);
  EXPECT_TRUE(c[2]->choked);
  // A closed unchoked peer frees its slot at once.
  t.close(c[3]);
  EXPECT_EQ(t.pol.num_uploads(), 2);
  EXPECT_FALSE(c[2]->choked);
  // A peer losing interest is choked.
  c[2]->peer_interested = false;
  t.pol.not_interested(*c[2]);
  EXPECT_TRUE(c[2]->choked);
  EXPECT_EQ(t.pol.num_uploads(), 1);
}

TEST(PolicyChoking, SeedRotatesOptimistically) {
  fake_torrent t;
  t.seed = true;
  t.upload_slots = 1;
  std::vector<fake_conn*> c;
  for (int i = 1; i <= 3; ++i) {
    c.push_back(t.incoming(addr(i)));
    c.back()->peer_interested = true;
  }
  std::vector<int> unchoked_at;
  for (int round = 0; round < 6; ++round) {
    t.clock += seconds(10);
    t.pol.pulse();
    EXPECT_EQ(t.pol.num_uploads(), 1);
    for (int i = 0; i < 3; ++i)
      if (!c[i]->choked) unchoked_at.push_back(i);
  }
  // Every peer gets its turn.
  ASSERT_EQ(unchoked_at.size(), 6u);
  EXPECT_NE(unchoked_at[0], unchoked_at[1]);
  EXPECT_NE(unchoked_at[1], unchoked_at[2]);
  EXPECT_NE(unchoked_at[0], unchoked_at[2]);
}

TEST(PolicyChoking, FreeUploadMovesToDebtors) {
  fake_torrent t;
  t.share_ratio = 2.0f;
  fake_conn* giver = t.incoming(addr(1));
  fake_conn* taker = t.incoming(addr(2));
  giver->diff = 5000;
  taker->diff = -3000;
  taker->peer_interested = true;
  t.pol.pulse();
  EXPECT_EQ(giver->diff, 0);
  // Pool 5000, sum of differences -3000: 5000 - 3000 go to the one debtor.
  EXPECT_EQ(taker->diff, -3000 + 2000);
  EXPECT_EQ(t.pol.available_free_upload(), 3000);
}

TEST(PolicyRequests, UnchokeRequestsBlocksAndEndGameSteals) {
  fake_torrent t;
  t.pick = std::make_unique<piece_picker>(16, 32, 1);  // 2 pieces of 16 blocks
  t.pick->files_checked({false, false}, {});
  fake_conn* slow = t.incoming(addr(1));
  fake_conn* fast = t.incoming(addr(2));
  for (fake_conn* c : {slow, fast}) {
    c->picker = t.pick.get();
    c->bits = {true, true};
    c->interesting = true;
    c->peer_choked = false;
    t.pick->inc_refcount(0);
    t.pick->inc_refcount(1);
  }
  slow->payload_rate = 10;
  t.pol.unchoked(*slow);
  // Sixteen blocks wanted at the lowest rate.
  ASSERT_EQ(slow->download_queue.size(), 16u);
  fast->payload_rate = 1000;
  fast->rate = 16384 * 16;  // wants 48 blocks
  t.pol.unchoked(*fast);
  // It gets the sixteen free blocks, then takes one of the slow peer's blocks.
  EXPECT_EQ(fast->download_queue.size(), 17u);
  EXPECT_EQ(slow->download_queue.size(), 15u);
}

// A peer that answers every pending request a few times a second gives per
// burst only what was asked: at a few MB/s the queue must hold hundreds of
// blocks, bounded by what peers accept.
TEST(PolicyRequests, FastPeersGetADeepQueue) {
  fake_torrent t;
  t.pick = std::make_unique<piece_picker>(16, 16 * 40, 1);  // 40 pieces of 16 blocks
  t.pick->files_checked(std::vector<bool>(40, false), {});
  fake_conn* c = t.incoming(addr(1));
  c->bits.assign(40, true);
  for (int i = 0; i < 40; ++i) t.pick->inc_refcount(i);
  c->interesting = true;
  c->peer_choked = false;
  c->rate = 16384 * 40;  // three seconds: 120 blocks
  t.pol.unchoked(*c);
  EXPECT_EQ(c->download_queue.size(), 120u);
  c->download_queue.clear();
  c->rate = 8e6;
  t.pol.unchoked(*c);
  EXPECT_EQ(c->download_queue.size(), 250u);
}

TEST(PolicyRequests, PieceFinishedEndsInterestWhenNothingIsLeft) {
  fake_torrent t;
  t.pick = std::make_unique<piece_picker>(1, 2, 1);
  t.pick->files_checked({false, false}, {});
  fake_conn* a = t.incoming(addr(1));
  fake_conn* b = t.incoming(addr(2));
  a->bits = {true, false};
  b->bits = {true, true};
  a->interesting = b->interesting = true;
  t.pick->we_have(0);
  t.pol.piece_finished(0, true);
  EXPECT_FALSE(a->interesting);
  EXPECT_TRUE(b->interesting);
}

// A limit of 0 before any connection came: the rotation clock starts at the
// pulse instead of counting from the start of time (an overflow).
TEST(PolicyPeerList, PulseAtALimitOfZeroBeforeAnyConnection) {
  fake_torrent t;
  t.connection_limit = 0;
  t.pol.pulse();
  t.clock += seconds(121);
  t.pol.pulse();
  EXPECT_TRUE(t.pol.peers().empty());
}

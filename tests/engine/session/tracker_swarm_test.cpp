// Sessions that know nothing of each other but the tracker: they meet
// through opentracker on loopback and the torrent goes from the seed to the
// others.
#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <string>

#include "tests/engine/session/checked.h"
#include "engine/session/session.h"
#include "engine/session/torrent_handle.h"
#include "engine/tracker/tracker_dispatcher.h"
#include "tests/engine/session/swarm_fixture.h"
#include "tests/engine/tracker/tracker_opentracker.h"
#include "tests/engine/tracker/tracker_process.h"
#include "tests/engine/tracker/tracker_test_server.h"
#include "tests/engine/tracker/tracker_test_support.h"

using namespace engine;
using namespace std::chrono_literals;
namespace fs = std::filesystem;

using engine_test::checked;

namespace {

// What a leech that did not finish holds: its missing pieces and, per
// connection, the flags and both request queues.
std::string describe(const torrent_handle& h) {
  const torrent_status st = h.status();
  std::string s = "lacks " + std::to_string(std::count(st.pieces.begin(), st.pieces.end(), false)) + " pieces;";
  std::vector<peer_info> peers;
  h.get_peer_info(peers);
  for (const auto& p : peers)
    s += " [" + p.ip.as_string() + " flags " + std::to_string(p.flags) + " requested " +
         std::to_string(p.download_queue_length) + " asked " + std::to_string(p.upload_queue_length) + "]";
  return s;
}

}  // namespace

TEST(TrackerSwarm, TwoSessionsMeetOnlyThroughTheTracker) {
  if (!tracker_test::opentracker::available()) GTEST_FAIL() << "opentracker is not installed";
  tracker_test::temp_dir dir("qf-swarm");
  const fs::path seed_dir = fs::path(dir.path()) / "seed";
  const fs::path leech_dir = fs::path(dir.path()) / "leech";
  fs::create_directories(leech_dir);
  const std::vector<swarm_fixture::file_spec> files = {{"a.bin", 700000}, {"b.bin", 1300001}};
  const torrent_metainfo info = swarm_fixture::make_torrent(seed_dir, "t", files, 32768, 11);

  tracker_test::opentracker tracker({info.info_hash()});
  if (!tracker.ready()) GTEST_FAIL() << "opentracker did not start";

  // The choking policy knows one peer per IP address: each session has its
  // own, and the tracker sees it because requests leave from there.
  auto seed = swarm_fixture::make_session(2);
  auto leech = swarm_fixture::make_session(3);
  ASSERT_TRUE(seed->is_listening());
  ASSERT_TRUE(leech->is_listening());

  torrent_handle hs = seed->add_torrent(info, seed_dir);
  torrent_handle hl = leech->add_torrent(info, leech_dir);
  ASSERT_TRUE(checked(hs));
  ASSERT_TRUE(checked(hl));
  ASSERT_TRUE(hs.is_seed());
  ASSERT_FALSE(hl.is_seed());
  // Each knows a different face of the same tracker, and nothing else.
  hs.replace_trackers({{tracker.http_url(), 0}});
  hl.replace_trackers({{tracker.udp_url(), 0}});
  // Slow enough that the transfer can be watched.
  hl.set_download_limit(1000000);
  hs.resume();
  hl.resume();

  // While the transfer runs the leech sees the seed as a peer.
  bool saw_seed = false;
  const bool done = swarm_fixture::wait_until(
      [&] {
        std::vector<peer_info> peers;
        hl.get_peer_info(peers);
        for (const auto& p : peers)
          if (p.seed && p.pid.to_string().compare(0, 3, "-QF") == 0 && p.pieces.size() == std::size_t(info.num_pieces()))
            saw_seed = true;
        return hl.is_seed();
      },
      120s);
  ASSERT_TRUE(done) << "progress " << hl.status().progress;
  EXPECT_TRUE(swarm_fixture::same_files(seed_dir / "t", leech_dir / "t", files));
  EXPECT_TRUE(saw_seed);
  EXPECT_EQ(hl.status().current_tracker, tracker.udp_url());

  // The leech's "completed" reaches the tracker: two seeds, no leecher.
  std::pair<int, int> counts;
  EXPECT_TRUE(swarm_fixture::wait_until([&] {
    counts = tracker_test::scrape(tracker.http_url(), info.info_hash());
    return counts == std::make_pair(2, 0);
  }))
      << counts.first << " " << counts.second;
  EXPECT_EQ(tracker_test::scrape(tracker.udp_url(), info.info_hash()), std::make_pair(2, 0));
  const torrent_status st = hs.status();
  EXPECT_EQ(st.current_tracker, tracker.http_url());
  EXPECT_GE(st.num_complete, 1);
}

// One seed and 32 leeches of our own, each on its own address. The seed's
// line is slower than the loopback between leeches, so a leech's fast
// connections take blocks over from its seed connection at the end of each
// piece; each leech keeps two connections (the seed and one other leech),
// and a leech leaves the swarm as soon as it has everything. Every leech
// must still end with the whole torrent: a connection whose blocks were all
// taken over must ask the seed again.
TEST(TrackerSwarm, EveryLeechFinishesWhenTheOthersLeave) {
  if (!tracker_test::opentracker::available()) GTEST_FAIL() << "opentracker is not installed";
  constexpr int leeches = 32;
  tracker_test::temp_dir dir("qf-swarm");
  const fs::path seed_dir = fs::path(dir.path()) / "seed";
  const std::vector<swarm_fixture::file_spec> files = {{"one.bin", 16 << 20}};
  const torrent_metainfo info = swarm_fixture::make_torrent(seed_dir, "t", files, 1 << 20, 23);

  tracker_test::opentracker tracker({info.info_hash()});
  if (!tracker.ready()) GTEST_FAIL() << "opentracker did not start";

  auto seed = swarm_fixture::make_session(2);
  ASSERT_TRUE(seed->is_listening());
  torrent_handle hs = seed->add_torrent(info, seed_dir);
  ASSERT_TRUE(checked(hs));
  ASSERT_TRUE(hs.is_seed());
  hs.replace_trackers({{tracker.http_url(), 0}});
  hs.set_upload_limit(64000000);
  hs.resume();
  const address seed_address(127, 0, 0, 2, seed->listen_port());

  std::vector<std::unique_ptr<session>> sessions;
  std::vector<torrent_handle> handles;
  for (int i = 0; i < leeches; ++i) {
    const fs::path d = fs::path(dir.path()) / ("leech" + std::to_string(i));
    fs::create_directories(d);
    sessions.push_back(swarm_fixture::make_session(3 + i));
    ASSERT_TRUE(sessions.back()->is_listening());
    handles.push_back(sessions.back()->add_torrent(info, d));
  }
  // Each leech dials the seed first; the tracker's reply, which comes within
  // milliseconds of an announce, then fills the other place.
  for (auto& h : handles) {
    ASSERT_TRUE(checked(h));
    h.replace_trackers({});
    h.set_max_connections(2);
    h.resume();
    h.connect_peer(seed_address);
  }
  for (auto& h : handles) {
    ASSERT_TRUE(swarm_fixture::wait_until([&] { return h.status().num_peers >= 1; }));
    h.replace_trackers({{tracker.http_url(), 0}});
    h.force_reannounce();
  }

  // The deadline only ends a hung test: a connection that failed (a
  // time-out on a busy machine) is dialled again after a minute.
  std::vector<bool> finished(leeches, false);
  const bool done = swarm_fixture::wait_until(
      [&] {
        for (int i = 0; i < leeches; ++i) {
          if (finished[i] || !handles[i].is_seed()) continue;
          finished[i] = true;
          handles[i].pause();
        }
        return std::find(finished.begin(), finished.end(), false) == finished.end();
      },
      240s);
  std::string stuck;
  for (int i = 0; i < leeches; ++i)
    if (!finished[i]) stuck += "leech " + std::to_string(i) + " " + describe(handles[i]) + "\n";
  ASSERT_TRUE(done) << stuck;
  for (int i = 0; i < leeches; ++i)
    EXPECT_TRUE(swarm_fixture::same_files(seed_dir / "t", fs::path(dir.path()) / ("leech" + std::to_string(i)) / "t",
                                          files))
        << i;
}

// A tracker first names 10,000 addresses where nothing listens, then the one
// seed among more of them. The refused connects free their room at once for the next ones, and
// the address of the latest reply goes before the dead ones still untried:
// the leech reaches the seed and completes well before it could have tried
// the dead addresses at a fixed pace of dials per second.
TEST(TrackerSwarm, SeedOfTheNextReplyIsReachedPastTenThousandDeadAddresses) {
  tracker_test::temp_dir dir("qf-flood");
  const fs::path seed_dir = fs::path(dir.path()) / "seed";
  const fs::path leech_dir = fs::path(dir.path()) / "leech";
  fs::create_directories(leech_dir);
  const std::vector<swarm_fixture::file_spec> files = {{"a.bin", 300000}};
  const torrent_metainfo info = swarm_fixture::make_torrent(seed_dir, "t", files, 32768, 12);
  auto seed = swarm_fixture::make_session(2);
  auto leech = swarm_fixture::make_session(3);
  ASSERT_TRUE(seed->is_listening());
  const auto compact = [](std::uint32_t ip, std::uint16_t port) {
    const char bytes[6] = {char(ip >> 24), char(ip >> 16), char(ip >> 8), char(ip), char(port >> 8), char(port)};
    return std::string(bytes, 6);
  };
  // The seed comes with a thousand more dead addresses: the few connects
  // that start at once are unlikely to be its.
  std::string dead, more;
  for (std::uint32_t i = 0; i < 11000; ++i)
    (i < 10000 ? dead : more) += compact(0x7f010000 + (i / 250 << 8) + i % 250 + 1, 1);
  more += compact(0x7f000002, seed->listen_port());
  tracker_test::scripted_server tracker(false, [&](const std::string&, int index) {
    const std::string& peers = index == 0 ? dead : more;
    const std::string body = "d8:intervali1800e5:peers" + std::to_string(peers.size()) + ":" + peers + "e";
    return "HTTP/1.0 200 OK\r\nContent-Length: " + std::to_string(body.size()) + "\r\n\r\n" + body;
  });

  torrent_handle hs = seed->add_torrent(info, seed_dir);
  torrent_handle hl = leech->add_torrent(info, leech_dir);
  ASSERT_TRUE(checked(hs));
  ASSERT_TRUE(checked(hl));
  hs.replace_trackers({});
  hl.replace_trackers({{"http://127.0.0.1:" + std::to_string(tracker.port()) + "/announce", 0}});
  hs.resume();
  hl.resume();
  const auto known = [&] {
    std::size_t n = 0;
    swarm_fixture::with_torrent(*leech, info.info_hash(),
                                [&](torrent& t) { n = t.get_policy().peers().size(); });
    return n;
  };
  ASSERT_TRUE(swarm_fixture::wait_until([&] { return known() == policy::max_peers; }));
  hl.force_reannounce();
  ASSERT_TRUE(swarm_fixture::wait_until([&] { return hl.is_seed(); }, 30s)) << describe(hl);
  EXPECT_GE(tracker.requests().size(), 2u);
  EXPECT_TRUE(swarm_fixture::same_files(seed_dir / "t", leech_dir / "t", files));
}

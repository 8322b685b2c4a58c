// The peer list against what trackers really hand out: replies far larger
// than the list, and peers that share an address or move to another port.
// Real sessions on loopback, a scripted tracker over HTTP.
#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <mutex>
#include <random>
#include <string>
#include <vector>

#include "engine/session/session.h"
#include "engine/session/torrent_handle.h"
#include "tests/engine/session/checked.h"
#include "tests/engine/session/swarm_fixture.h"
#include "tests/engine/tracker/tracker_test_server.h"

using namespace engine;
using namespace std::chrono_literals;
namespace fs = std::filesystem;

using engine_test::checked;

namespace {

std::string compact(std::uint32_t ip, std::uint16_t port) {
  const char bytes[6] = {char(ip >> 24), char(ip >> 16), char(ip >> 8), char(ip), char(port >> 8), char(port)};
  return std::string(bytes, 6);
}

std::string compact(const address& a) { return compact(a.ip, a.port); }

std::string http_reply(const std::string& peers) {
  const std::string body = "d8:intervali1800e5:peers" + std::to_string(peers.size()) + ":" + peers + "e";
  return "HTTP/1.0 200 OK\r\nContent-Length: " + std::to_string(body.size()) + "\r\n\r\n" + body;
}

// Addresses on 127.1.0.0/16 where nothing listens: connects to them are
// refused at once.
std::vector<std::string> refusing_addresses(int n) {
  std::vector<std::string> out;
  for (int i = 0; i < n; ++i) out.push_back(compact(0x7f010000 + std::uint32_t(i / 250 << 8) + std::uint32_t(i % 250) + 1, 1));
  return out;
}

address listen_address(session& s, std::uint8_t host) { return address(127, 0, 0, host, s.listen_port()); }

// A seed of a small torrent and leeches that learn of it only through the
// tracker, whose replies set_reply writes (the index counts the requests).
struct PeerListSwarm : ::testing::Test {
  swarm_fixture::scratch_dir dir{"qf-peerlist"};
  const std::vector<swarm_fixture::file_spec> files = {{"a.bin", 300000}};
  fs::path seed_dir = dir.path / "seed";
  torrent_metainfo info = swarm_fixture::make_torrent(seed_dir, "t", files, 32768, 21);
  std::mutex reply_mutex;
  std::function<std::string(int)> reply;
  tracker_test::scripted_server tracker{false, [this](const std::string&, int index) {
                                          std::lock_guard l(reply_mutex);
                                          return http_reply(reply(index));
                                        }};
  int leeches = 0;

  void set_reply(std::function<std::string(int)> r) {
    std::lock_guard l(reply_mutex);
    reply = std::move(r);
  }

  std::string announce_url() const { return "http://127.0.0.1:" + std::to_string(tracker.port()) + "/announce"; }

  // The seed's torrent, checked and running; it announces nowhere.
  torrent_handle start_seed(session& s) {
    torrent_handle h = s.add_torrent(info, seed_dir);
    EXPECT_TRUE(checked(h));
    h.replace_trackers({});
    h.resume();
    return h;
  }

  // A new leech's torrent, checked and running, announcing to the tracker.
  torrent_handle start_leech(session& s, fs::path& where) {
    where = dir.path / ("leech" + std::to_string(leeches++));
    fs::create_directories(where);
    torrent_handle h = s.add_torrent(info, where);
    EXPECT_TRUE(checked(h));
    h.replace_trackers({{announce_url(), 0}});
    h.resume();
    return h;
  }

  bool complete(const torrent_handle& h, const fs::path& where, std::chrono::seconds limit = 40s) {
    return swarm_fixture::wait_until([&] { return h.is_seed(); }, limit) &&
           swarm_fixture::same_files(seed_dir / "t", where / "t", files);
  }
};

}  // namespace

// One reply holds 10,000 refusing addresses and the seed somewhere among
// them: far more than the peer list holds at once. What does not fit waits
// and comes in as the refused addresses make way, so the seed is reached
// wherever it stands in the reply.
TEST_F(PeerListSwarm, SeedInOneReplyOfTenThousandRefusingAddresses) {
  auto seed = swarm_fixture::make_session(2);
  ASSERT_TRUE(seed->is_listening());
  start_seed(*seed);
  const std::vector<std::string> dead = refusing_addresses(10000);
  for (unsigned round = 0; round < 5; ++round) {
    std::vector<std::string> peers = dead;
    std::mt19937 rng(round + 1);
    const auto at = std::uniform_int_distribution<std::size_t>(0, peers.size())(rng);
    peers.insert(peers.begin() + std::ptrdiff_t(at), compact(listen_address(*seed, 2)));
    std::string all;
    for (const auto& p : peers) all += p;
    set_reply([all](int) { return all; });

    auto leech = swarm_fixture::make_session(3);
    fs::path where;
    torrent_handle h = start_leech(*leech, where);
    EXPECT_TRUE(complete(h, where)) << "round " << round << ", seed at " << at;
  }
}

// 127.0.0.1 is named twice: at a port where nothing listens and at the
// seed's. The record of the address takes the other port when the first
// fails, whichever of the two the leech tries first.
TEST_F(PeerListSwarm, TwoPortsAtOneAddress) {
  auto seed = swarm_fixture::make_session(1);
  ASSERT_TRUE(seed->is_listening());
  start_seed(*seed);
  const std::string both = compact(0x7f000001, 1) + compact(listen_address(*seed, 1));
  set_reply([both](int) { return both; });
  for (int round = 0; round < 4; ++round) {
    auto leech = swarm_fixture::make_session(3);
    fs::path where;
    torrent_handle h = start_leech(*leech, where);
    EXPECT_TRUE(complete(h, where)) << "round " << round;
  }
}

// The seed goes away mid-way and comes back at another port of the same
// address; the tracker names the new port and the leech reaches it there.
TEST_F(PeerListSwarm, SeedThatRestartsOnANewPortIsReachedAgain) {
  auto first = swarm_fixture::make_session(2);
  ASSERT_TRUE(first->is_listening());
  first->set_upload_rate_limit(32768);  // slow, so that the leech is mid-way when it goes
  start_seed(*first);
  std::atomic<std::uint16_t> seed_port = first->listen_port();
  set_reply([&](int) { return compact(0x7f000002, seed_port); });

  auto leech = swarm_fixture::make_session(3);
  fs::path where;
  torrent_handle h = start_leech(*leech, where);
  const auto has = [&] {
    const auto pieces = h.status().pieces;
    return std::count(pieces.begin(), pieces.end(), true);
  };
  ASSERT_TRUE(swarm_fixture::wait_until([&] { return has() > 0; }));
  ASSERT_FALSE(h.is_seed());
  first.reset();

  std::unique_ptr<session> second;
  do second = swarm_fixture::make_session(2);
  while (second->listen_port() == seed_port);
  start_seed(*second);
  seed_port = second->listen_port();
  h.force_reannounce();
  EXPECT_TRUE(complete(h, where));
}

// The tracker names the leech itself, at the address a seed on the same
// host listens at too. The leech dials itself once, and from then on that
// port alone is known as its own: the seed's port at the address is dialled.
TEST_F(PeerListSwarm, OurOwnAddressDoesNotBlockASeedAtIt) {
  auto seed = swarm_fixture::make_session(4);
  auto leech = swarm_fixture::make_session(4);
  ASSERT_TRUE(seed->is_listening());
  ASSERT_TRUE(leech->is_listening());
  start_seed(*seed);
  const std::string self = compact(listen_address(*leech, 4));
  const std::string both = self + compact(listen_address(*seed, 4));
  set_reply([self, both](int index) { return index == 0 ? self : both; });

  fs::path where;
  torrent_handle h = start_leech(*leech, where);
  // The first reply names only the leech: it dials itself, and the
  // connection ends when the handshake shows whom it reached.
  const auto dialled_itself = [&] {
    bool done = false;
    swarm_fixture::with_torrent(*leech, info.info_hash(), [&](torrent& t) {
      const policy::peer* p = t.get_policy().find_peer(address(127, 0, 0, 4, 0).ip);
      done = p && !p->conn && p->connected != policy::never;
    });
    return done;
  };
  ASSERT_TRUE(swarm_fixture::wait_until(dialled_itself));
  h.force_reannounce();
  EXPECT_TRUE(complete(h, where));
  EXPECT_GE(tracker.requests().size(), 2u);
}

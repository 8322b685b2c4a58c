// Two hundred of our own nodes on distinct 127.x addresses, driven in memory
// with one injected clock: every datagram is delivered at once, in order.

#include <gtest/gtest.h>

#include <deque>
#include <memory>
#include <set>
#include <unordered_map>

#include "dht/node_core.h"
#include "dht_harness.h"

using engine::address;
using engine::sha1_hash;

namespace {

class Network {
 public:
  Network(int count, std::uint64_t seed) : m_seed(seed) {
    for (int i = 0; i < count; ++i) {
      auto n = std::make_unique<Member>();
      n->self = address(127, 10 + i / 250, static_cast<std::uint8_t>(i % 250 + 1), 1, 6881);
      n->rng = next() | 1;
      sha1_hash id;
      for (auto& b : id) b = static_cast<std::uint8_t>(next());
      Member* m = n.get();
      dht::NodeCore::Io io{[this, m](const address& to, std::string_view d) {
                             m_queue.push_back({m->self, to, std::string(d)});
                             ++sent;
                             return true;
                           },
                           [m](void* out, std::size_t size) {
                             auto* p = static_cast<unsigned char*>(out);
                             for (std::size_t k = 0; k < size; ++k) {
                               m->rng ^= m->rng << 13;
                               m->rng ^= m->rng >> 7;
                               m->rng ^= m->rng << 17;
                               p[k] = static_cast<unsigned char>(m->rng);
                             }
                           }};
      n->core = std::make_unique<dht::NodeCore>(id, 40, now, std::move(io));
      n->core->set_own_endpoint(n->self);
      n->core->set_listen_port(static_cast<std::uint16_t>(10000 + i));
      m_by_ip.emplace(n->self.ip, m);
      m_members.push_back(std::move(n));
    }
  }

  dht::NodeCore& core(int i) { return *m_members[static_cast<std::size_t>(i)]->core; }
  const address& self(int i) const { return m_members[static_cast<std::size_t>(i)]->self; }
  int size() const { return static_cast<int>(m_members.size()); }

  // One round: the clock moves on and every node ticks once; every datagram
  // sent on the way arrives before the next node's tick.
  void round(std::uint32_t step) {
    now += step;
    for (auto& m : m_members) {
      m->core->tick(now);
      deliver();
    }
  }

  std::uint64_t next() {
    m_seed = m_seed * 6364136223846793005ull + 1442695040888963407ull;
    return m_seed >> 33;
  }

  std::uint32_t now = 0x7FFFFFFFu;  // the clock wraps on the way
  std::uint64_t sent = 0;

 private:
  struct Member {
    address self;
    std::uint64_t rng = 0;
    std::unique_ptr<dht::NodeCore> core;
  };
  struct Datagram {
    address from, to;
    std::string bytes;
  };

  void deliver() {
    while (!m_queue.empty()) {
      const Datagram d = std::move(m_queue.front());
      m_queue.pop_front();
      const auto it = m_by_ip.find(d.to.ip);
      if (it != m_by_ip.end() && it->second->self.port == d.to.port) it->second->core->receive(d.bytes, d.from, now);
    }
  }

  std::uint64_t m_seed;
  std::vector<std::unique_ptr<Member>> m_members;
  std::unordered_map<std::uint32_t, Member*> m_by_ip;
  std::deque<Datagram> m_queue;
};

void expect_bounded(const dht::RoutingTable& table, const address& self, int network_size) {
  std::set<std::uint32_t> ips;
  std::size_t total = 0;
  for (int b = 0; b < dht::bucket_count; ++b) {
    EXPECT_LE(table[b].size(), dht::bucket_size);
    for (const dht::Node& n : table[b]) {
      EXPECT_NE(n.address.ip, self.ip);
      EXPECT_TRUE(ips.insert(n.address.ip).second) << "one contact per address";
      ++total;
    }
  }
  EXPECT_LT(total, static_cast<std::size_t>(network_size));
}

void run_simulation(std::uint64_t seed, int warm_up, int max_rounds) {
  constexpr int nodes = 200;
  constexpr std::uint32_t step = 1000;  // ms per round
  Network net(nodes, seed);
  // Every node knows three others by address, as from torrents' "nodes".
  for (int i = 0; i < nodes; ++i)
    for (int k : {1, 17, 83}) net.core(i).add_node(net.self((i + k) % nodes), {}, net.now);

  sha1_hash info_hash;
  for (auto& b : info_hash) b = static_cast<std::uint8_t>(net.next());
  const int announcer = 0;
  net.core(announcer).add_info_hash(info_hash, false, true, net.now);
  const address announced(net.self(announcer).ip, net.core(announcer).listen_port());
  // Searchers spread over the network.
  std::vector<int> searchers;
  for (int i = 0; i < 20; ++i) searchers.push_back(1 + static_cast<int>(net.next() % (nodes - 1)));

  // The network grows its tables for a while before the searchers start.
  for (int r = 0; r < warm_up; ++r) net.round(step);
  for (int s : searchers) net.core(s).add_info_hash(info_hash, false, true, net.now);

  int found_after = -1;
  for (int r = 0; r < max_rounds && found_after < 0; ++r) {
    net.round(step);
    bool all = true;
    for (int s : searchers) {
      const auto peers = net.core(s).peers(info_hash);
      all = all && std::find(peers.begin(), peers.end(), announced) != peers.end();
    }
    if (all) found_after = r + 1;
  }
  EXPECT_GT(found_after, 0) << "not found within " << max_rounds << " rounds";
  std::cout << "found from all searchers after " << found_after << " rounds; " << net.sent << " datagrams\n";

  std::size_t contacts = 0;
  for (int i = 0; i < nodes; ++i) {
    expect_bounded(net.core(i).main_table(), net.self(i), nodes);
    for (const auto& rec : net.core(i).records()) {
      expect_bounded(rec->table, net.self(i), nodes);
      EXPECT_LE(rec->peers.size(), net.core(i).peer_capacity());
    }
    contacts += net.core(i).main_table().size();
  }
  std::cout << "average main table: " << double(contacts) / nodes << " contacts\n";
}

TEST(DhtSimulation, FoundFromFreshNodesWithinTheBoundFromTheStart) { run_simulation(20261209, 0, 2400); }

TEST(DhtSimulation, FoundFromNodesJoiningAGrownNetwork) { run_simulation(20261209, 3600, 600); }

}  // namespace

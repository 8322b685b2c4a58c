#include "dht/dht_service.h"

#include <gtest/gtest.h>

#include <chrono>
#include <future>
#include <fstream>
#include <sstream>
#include <thread>

#include "dht_harness.h"
#include "platform/clock.h"
#include "platform/random.h"
#include "tests/support/wait.h"
#include "udp_probe.h"

using namespace dht_test;
using engine::address;
using test_support::wait_until;

namespace {

// A clock that runs with real time and can be pushed ahead.
struct TestClock {
  std::atomic<std::uint32_t> offset{0};
  std::uint32_t operator()() const { return platform::timeGetTime() + offset.load(); }
};

class DhtService : public ::testing::Test {
 protected:
  void SetUp() override {
    dir = std::filesystem::temp_directory_path() / ("qf_dht_" + std::to_string(::getpid()) + "_" +
                                                     std::to_string(platform::random_u32()));
    std::filesystem::create_directories(dir);
  }
  void TearDown() override { std::filesystem::remove_all(dir); }

  CDHTService::Options options(const std::string& name) {
    CDHTService::Options o;
    o.profile = platform::profile(dir / (name + ".ini"));
    o.dump_folder = dir / (name + "_logs");
    o.clock = [this] { return clock(); };
    return o;
  }
  static std::string read(const std::filesystem::path& p) {
    std::ifstream in(p, std::ios::binary);
    std::stringstream ss;
    ss << in.rdbuf();
    return ss.str();
  }
  std::filesystem::path dir;
  TestClock clock;
};

TEST_F(DhtService, NodeIdComesFromTheProfileWhenItHas20Bytes) {
  platform::profile p(dir / "id.ini");
  const auto o = [&] {
    CDHTService::Options opt = options("id");
    return opt;
  };
  for (const std::size_t size : {19u, 21u}) {
    const std::string wrong(size, 'x');
    p.WriteProfileBinary("Configuration", "DHT ID", wrong);
    engine::sha1_hash made;
    {
      CDHTService s(40, o());
      made = s.GetNodeId();
    }
    EXPECT_NE(made.to_string(), wrong.substr(0, 20));
    EXPECT_EQ(p.GetProfileBinary("Configuration", "DHT ID"), made.to_string());
  }
  const std::string kept(20, 'k');
  p.WriteProfileBinary("Configuration", "DHT ID", kept);
  CDHTService s(40, o());
  EXPECT_EQ(s.GetNodeId().to_string(), kept);
}

TEST_F(DhtService, PublishedOnlyWhileAlive) {
  EXPECT_EQ(g_pDHTService.load(), nullptr);
  {
    CDHTService s(40, options("pub"));
    EXPECT_EQ(g_pDHTService.load(), &s);
    s.Start("127.0.0.1", "127.0.0.1", 0, 1);
  }
  EXPECT_EQ(g_pDHTService.load(), nullptr);
}

// Hostile peers may keep the socket busy for good: the node must still stop.
TEST_F(DhtService, StopsWhileFlooded) {
  const address at(127, 0, 0, 28, free_udp_port(address(127, 0, 0, 28, 0).ip));
  auto s = std::make_unique<CDHTService>(40, options("flood"));
  ASSERT_TRUE(s->Start(at.as_string(), at.as_string(), at.port, 6881));
  std::atomic<bool> flooding{true};
  std::atomic<int> sent{0};
  std::vector<std::thread> senders;
  for (int i = 0; i < 4; ++i)
    senders.emplace_back([&, i] {
      UdpProbe probe(address(127, 0, 0, 29, 0));
      const std::string junk = "junk" + std::to_string(i);
      while (flooding) {
        probe.send(at, junk);
        ++sent;
      }
    });
  // The flood is on.
  wait_until([&] { return sent > 10000; });
  auto destroyed = std::async(std::launch::async, [&] { s.reset(); });
  const bool stopped = destroyed.wait_for(test_support::default_deadline) == std::future_status::ready;
  flooding = false;
  for (auto& t : senders) t.join();
  destroyed.wait();
  EXPECT_TRUE(stopped) << "the node did not stop while datagrams kept arriving";
}

TEST_F(DhtService, StartAgainBindsAFreshSocket) {
  const address local(127, 0, 0, 20, 0);
  CDHTService s(40, options("restart"));
  const auto port1 = free_udp_port(local.ip);
  ASSERT_TRUE(s.Start("127.0.0.20", "127.0.0.20", port1, 6881));
  const auto port2 = free_udp_port(local.ip);
  ASSERT_TRUE(s.Start("127.0.0.20", "127.0.0.20", port2, 6881));
  EXPECT_EQ(s.GetPort(), port2);
  UdpProbe probe(address(127, 0, 0, 21, 0));
  const std::string ping = "d1:ad2:id20:" + id_of(0x42).to_string() + "e1:q4:ping1:t2:xy1:y1:qe";
  probe.send(address(local.ip, port1), ping);
  probe.send(address(local.ip, port2), ping);
  address from;
  const auto reply = probe.receive(int(std::chrono::milliseconds(test_support::default_deadline).count()), &from);
  ASSERT_TRUE(reply);
  EXPECT_EQ(from, address(local.ip, port2));
  EXPECT_EQ(*reply, "d1:rd2:id20:" + s.GetNodeId().to_string() + "e1:t2:xy1:y1:re");
  EXPECT_FALSE(probe.receive(300));  // the old socket is gone
  EXPECT_GT(s.GetStatistics().total_received + 1, 0u);
  // The node that pinged is now a contact.
  s.Inspect([&](const dht::NodeCore& core) { EXPECT_TRUE(core.main_table().find_by_ip(probe.local().ip, 0, 159)); });
}

TEST_F(DhtService, AnnouncedTorrentIsFoundBetweenTwoNodes) {
  const auto info_hash = id_of(0x5A);
  const address a(127, 0, 0, 22, free_udp_port(address(127, 0, 0, 22, 0).ip));
  const address b(127, 0, 0, 23, free_udp_port(address(127, 0, 0, 23, 0).ip));
  CDHTService node_a(40, options("a"));
  CDHTService node_b(40, options("b"));
  ASSERT_TRUE(node_a.Start(a.as_string(), a.as_string(), a.port, 5001));
  ASSERT_TRUE(node_b.Start(b.as_string(), b.as_string(), b.port, 5002));
  ASSERT_TRUE(node_a.AddInfoHash(info_hash, false));
  ASSERT_TRUE(node_b.AddInfoHash(info_hash, false));
  // A torrent's "nodes" list names the other node.
  engine::entry nodes(engine::entry::list_t);
  nodes.list().push_back(engine::entry::list_type{engine::entry(b.as_string()), engine::entry::integer_type(b.port)});
  nodes.list().push_back(engine::entry::list_type{engine::entry("no.such.host.invalid"), engine::entry::integer_type(1)});
  nodes.list().push_back(engine::entry(std::string("junk")));
  node_a.AddBootstrapNodes(nodes, info_hash);
  node_b.AddNode(a, info_hash);
  clock.offset += dht::NodeCore::ping_after + 40000;  // past the first ping's wait
  EXPECT_TRUE(wait_until([&] { return node_b.GetPeers(info_hash) == std::vector<address>{address(a.ip, 5001)}; }));
  EXPECT_TRUE(wait_until([&] { return node_a.GetPeers(info_hash) == std::vector<address>{address(b.ip, 5002)}; }));
  const auto stats = node_a.GetStatistics();
  EXPECT_GT(stats.total_sent + stats.total_received + stats.upload_rate, 0.0f);
  EXPECT_EQ(stats.records, 1u);

  node_a.DumpTables();
  const std::string nodes_txt = read(node_a.DumpFolder() / "nodes.txt");
  const std::string hashes_txt = read(node_a.DumpFolder() / "info_hashs.txt");
  // A's record holds B's peer and B as a contact.
  EXPECT_NE(nodes_txt.find("\r\nEstimated table size: "), std::string::npos) << nodes_txt;
  EXPECT_EQ(hashes_txt.rfind("[5A5A5A5A5A5A5A5A5A5A5A5A5A5A5A5A5A5A5A5A] Public Own ", 0), 0u) << hashes_txt;
  EXPECT_NE(hashes_txt.find("\r\n  Peers\r\n\t 1\t127.0.0.23\t 5002\r\n  Nodes\r\n\t["), std::string::npos)
      << hashes_txt;
  EXPECT_NE(hashes_txt.find("\r\nTotal number of info hashes: 1\r\nEstimated table size: 2724 bytes"),
            std::string::npos) << hashes_txt;
}

TEST_F(DhtService, FailedBindLeavesTheNodeSilent) {
  UdpProbe taken(address(127, 0, 0, 25, 0));
  CDHTService s(40, options("silent"));
  EXPECT_FALSE(s.Start("127.0.0.25", "127.0.0.25", taken.local().port, 6881));
  UdpProbe contact(address(127, 0, 0, 26, 0));
  s.AddNode(contact.local(), {});
  clock.offset += dht::NodeCore::ping_after + 40000;
  EXPECT_FALSE(contact.receive(1000));  // no ping from some other port
  EXPECT_EQ(s.GetStatistics().total_sent, 0u);
}

TEST_F(DhtService, ExternalAddressKeepsThePort) {
  CDHTService s(40, options("ext"));
  s.Start("127.0.0.24", "127.0.0.24", free_udp_port(address(127, 0, 0, 24, 0).ip), 6881);
  const auto own = [&] {
    address a;
    s.Inspect([&](const dht::NodeCore& core) { a = core.own_endpoint(); });
    return a;
  };
  const auto port = own().port;
  EXPECT_EQ(port, s.GetPort());
  EXPECT_TRUE(s.SetExternalAddress("127.0.0.99"));
  EXPECT_EQ(own(), address(127, 0, 0, 99, port));
  EXPECT_FALSE(s.SetExternalAddress("999.1.1.1"));
  EXPECT_EQ(own(), address(127, 0, 0, 99, port));
  // A restart with a host that cannot be found keeps the address.
  s.Start("127.0.0.24", "999.0.0.1", port, 6881);
  EXPECT_EQ(own(), address(127, 0, 0, 99, port));
}

TEST_F(DhtService, DumpFailureReachesTheCaller) {
  auto o = options("dump");
  o.dump_folder = dir / "a_file";
  std::ofstream(dir / "a_file") << "x";
  CDHTService s(40, o);
  EXPECT_THROW(s.DumpTables(), std::filesystem::filesystem_error);
  EXPECT_EQ(s.GetStatistics().records, 0u);  // the lock was released
}

}  // namespace

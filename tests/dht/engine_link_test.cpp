// The engine's DHT contacts reach a running node through dht::EngineLink.
#include "dht/engine_link.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <thread>

#include "dht_harness.h"
#include "platform/clock.h"
#include "platform/random.h"
#include "tests/support/wait.h"
#include "udp_probe.h"

using namespace dht_test;
using engine::address;

TEST(DhtEngineLink, ContactsFromPeersArePinged) {
  const auto dir = std::filesystem::temp_directory_path() /
                   ("qf_dht_link_" + std::to_string(::getpid()) + "_" + std::to_string(platform::random_u32()));
  std::filesystem::create_directories(dir);
  std::atomic<std::uint32_t> offset{0};
  CDHTService::Options o;
  o.profile = platform::profile(dir / "node.ini");
  o.dump_folder = dir / "logs";
  o.clock = [&] { return platform::timeGetTime() + offset.load(); };
  {
    CDHTService node(40, std::move(o));
    const address at(127, 0, 0, 26, free_udp_port(address(127, 0, 0, 26, 0).ip));
    ASSERT_TRUE(node.Start(at.as_string(), at.as_string(), at.port, 6881));
    dht::EngineLink link(node);
    EXPECT_EQ(link.dht_port(), at.port);

    // A peer said its DHT node listens here; the node checks the contact.
    UdpProbe peer(address(127, 0, 0, 27, 0));
    link.add_node(peer.local(), id_of(0x3C));
    offset += dht::NodeCore::ping_after + 40000;
    EXPECT_TRUE(test_support::wait_until(
        [&] {
          const auto datagram = peer.receive(100);
          return datagram && datagram->find("1:q4:ping") != std::string::npos;
        },
        test_support::default_deadline, std::chrono::milliseconds(0)));
  }
  std::filesystem::remove_all(dir);
}

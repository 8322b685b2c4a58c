#include "client/net/network_setup.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <filesystem>

#include "dht/dht_service.h"
#include "engine/session/session.h"
#include "platform/random.h"
#include "upnp_support.h"

using client::MappingReport;
using client::NetworkSettings;
using namespace upnp_test;

namespace {

using Calls = std::vector<std::string>;
using Lines = std::vector<std::wstring>;

// A port the kernel has just handed out and taken back.
std::uint16_t FreePort(int type) {
  const int s = ::socket(AF_INET, type | SOCK_CLOEXEC, 0);
  sockaddr_in a{};
  a.sin_family = AF_INET;
  socklen_t size = sizeof a;
  ::bind(s, reinterpret_cast<sockaddr*>(&a), sizeof a);
  ::getsockname(s, reinterpret_cast<sockaddr*>(&a), &size);
  ::close(s);
  return ntohs(a.sin_port);
}

bool Accepts(const char* ip, std::uint16_t port) {
  const int s = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  sockaddr_in a{};
  a.sin_family = AF_INET;
  a.sin_port = htons(port);
  ::inet_pton(AF_INET, ip, &a.sin_addr);
  const bool ok = ::connect(s, reinterpret_cast<sockaddr*>(&a), sizeof a) == 0;
  ::close(s);
  return ok;
}

// A listening socket on every interface: the port is taken.
struct PortBlocker {
  PortBlocker() : fd(::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0)) {
    sockaddr_in a{};
    a.sin_family = AF_INET;
    socklen_t size = sizeof a;
    ::bind(fd, reinterpret_cast<sockaddr*>(&a), sizeof a);
    ::listen(fd, 1);
    ::getsockname(fd, reinterpret_cast<sockaddr*>(&a), &size);
    port = ntohs(a.sin_port);
  }
  ~PortBlocker() { Close(); }
  void Close() {
    if (fd >= 0) ::close(fd);
    fd = -1;
  }
  int fd;
  std::uint16_t port = 0;
};

// The main window's side of the network settings, over a real session and a
// real DHT node on loopback, with a scripted router. The host's addresses
// are two loopback addresses, 127.0.0.1 and 127.0.0.3.
class NetworkSetupTest : public ::testing::Test {
 protected:
  void SetUp() override {
    dir = std::filesystem::temp_directory_path() /
          ("qf_upnp_" + std::to_string(::getpid()) + "_" + std::to_string(platform::random_u32()));
    std::filesystem::create_directories(dir);
    CDHTService::Options o;
    o.profile = platform::profile(dir / "dht.ini");
    o.dump_folder = dir / "dht_logs";
    dht = std::make_unique<CDHTService>(40, std::move(o));
    setup = Make();
    const std::uint16_t first = FreePort(SOCK_STREAM);
    settings.min_port = first;
    settings.max_port = first + 20u;
    settings.dht_port = FreePort(SOCK_DGRAM);
    settings.ip_address_index = 1;
  }
  void TearDown() override {
    setup.reset();
    dht.reset();
    std::filesystem::remove_all(dir);
  }

  std::unique_ptr<client::NetworkSetup> Make() {
    client::NetworkSetup::Options o;
    o.read_interfaces = [this] { return interfaces; };
    o.make_mapper = [this] {
      ++mappers_made;
      return std::make_unique<FakeUpnpMapper>(router);
    };
    o.pause = router->Pause();
    return std::make_unique<client::NetworkSetup>(host, events.Sink(), std::move(o));
  }
  bool Apply(bool upnp) {
    settings.upnp_port_forwarding = upnp;
    return setup->Apply(settings, &session, dht.get());
  }
  // The next mapping report, handed over on this thread as the window does.
  MappingReport Deliver() {
    auto report = events.NextOf<MappingReport>();
    EXPECT_TRUE(report) << "no mapping report";
    if (!report) return {};
    setup->OnMappingReport(*report, dht.get());
    return *report;
  }
  engine::address OwnDhtEndpoint() {
    engine::address own;
    dht->Inspect([&](const dht::NodeCore& core) { own = core.own_endpoint(); });
    return own;
  }
  std::string Add(const char* protocol, unsigned port) {
    return std::string("add ") + protocol + " " + std::to_string(port) + " -> 127.0.0.3:" + std::to_string(port) +
           " Quillfern";
  }

  std::shared_ptr<FakeRouter> router = std::make_shared<FakeRouter>();
  int mappers_made = 0;
  RecordingHost host;
  EventQueue events;
  std::optional<std::vector<client::InterfaceAddress>> interfaces =
      std::vector<client::InterfaceAddress>{{"lo", true, 0x7F000001, true, true}, {"lo", true, 0x7F000003, true, true}};
  engine::session session{engine::fingerprint("QF", 1, 3, 0, 55)};
  std::filesystem::path dir;
  std::unique_ptr<CDHTService> dht;
  NetworkSettings settings;
  std::unique_ptr<client::NetworkSetup> setup;
};

TEST_F(NetworkSetupTest, WithoutPortForwardingEveryInterfaceListensAndNoRouterIsAsked) {
  ASSERT_TRUE(Apply(false));
  EXPECT_EQ(setup->LocalAddress(), "0.0.0.0");
  EXPECT_EQ(setup->ExternalAddress(), "0.0.0.0");
  const auto port = session.listen_port();
  EXPECT_GE(port, settings.min_port);
  EXPECT_LE(port, settings.max_port);
  EXPECT_TRUE(Accepts("127.0.0.2", port));
  EXPECT_EQ(mappers_made, 0);
  EXPECT_EQ(dht->GetPort(), settings.dht_port);
  EXPECT_EQ(OwnDhtEndpoint(), engine::address(0, std::uint16_t(settings.dht_port)));
  EXPECT_TRUE(host.log.empty());
  EXPECT_TRUE(host.status.empty());

  // The port lies inside the new range: the session keeps its socket, on
  // every interface, although the local address is now 127.0.0.3.
  settings.min_port = port;
  settings.max_port = port;
  ASSERT_TRUE(Apply(true));
  EXPECT_TRUE(Accepts("127.0.0.2", port));
  // A range without it opens a new socket on the local address only.
  settings.min_port = port + 1u;
  settings.max_port = port + 20u;
  ASSERT_TRUE(Apply(true));
  EXPECT_NE(session.listen_port(), port);
  EXPECT_TRUE(Accepts("127.0.0.3", session.listen_port()));
  EXPECT_FALSE(Accepts("127.0.0.2", session.listen_port()));
}

TEST_F(NetworkSetupTest, NoLocalAddressStopsBeforeTheListenPort) {
  interfaces.reset();
  EXPECT_FALSE(Apply(true));
  interfaces.emplace();
  EXPECT_FALSE(Apply(true));
  EXPECT_EQ(host.log, (Lines{L"Local ip address(es) not found.", L"Local ip address not found."}));
  EXPECT_FALSE(session.is_listening());
  EXPECT_EQ(mappers_made, 0);
  EXPECT_EQ(dht->GetPort(), 0);

  // An index past the end stops it all as well, before the listen port.
  interfaces = std::vector<client::InterfaceAddress>{{"lo", true, 0x7F000001, true, true}};
  settings.ip_address_index = 5;
  EXPECT_FALSE(Apply(true));
  EXPECT_EQ(host.log.back(), L"Local ip address not found.");
  EXPECT_FALSE(session.is_listening());
  EXPECT_EQ(mappers_made, 0);
  settings.ip_address_index = 0;
  EXPECT_TRUE(Apply(true));
  EXPECT_EQ(setup->LocalAddress(), "127.0.0.1");
}

TEST_F(NetworkSetupTest, NoFreePortShowsTheRangeAndIsTriedAgainNextTime) {
  PortBlocker blocker;
  settings.min_port = settings.max_port = blocker.port;
  EXPECT_FALSE(Apply(false));
  EXPECT_EQ(host.status, Lines{L"Quillfern - no available port between " + std::to_wstring(blocker.port) + L" to " +
                               std::to_wstring(blocker.port)});
  EXPECT_EQ(dht->GetPort(), 0);
  EXPECT_FALSE(Apply(true));
  EXPECT_EQ(host.status.size(), 2u);
  EXPECT_EQ(mappers_made, 0);

  // The failed session's port lies inside the range, yet it listens now.
  blocker.Close();
  ASSERT_TRUE(Apply(false));
  EXPECT_TRUE(session.is_listening());
  EXPECT_EQ(session.listen_port(), settings.min_port);
}

TEST_F(NetworkSetupTest, MappingsComeFirstThenTheDhtTakesTheRoutersAddress) {
  ASSERT_TRUE(Apply(true));
  const unsigned tcp = session.listen_port(), udp1 = settings.dht_port;
  EXPECT_EQ(setup->LocalAddress(), "127.0.0.3");
  EXPECT_EQ(setup->ExternalAddress(), "127.0.0.3");
  EXPECT_EQ(dht->GetPort(), 0);  // waits for the router

  MappingReport report = Deliver();
  EXPECT_TRUE(report.log_lines.empty());
  EXPECT_EQ(router->TakeCalls(), (Calls{"open 127.0.0.3", Add("TCP", tcp), "external", Add("UDP", udp1)}));
  EXPECT_TRUE(setup->HasTcpMapping());
  EXPECT_TRUE(setup->HasUdpMapping());
  EXPECT_EQ(setup->ExternalAddress(), "203.0.113.9");
  EXPECT_EQ(dht->GetPort(), udp1);
  EXPECT_EQ(OwnDhtEndpoint(), engine::address(203, 0, 113, 9, std::uint16_t(udp1)));

  // A new DHT port: its mapping replaces the old one, which is disabled;
  // the TCP entry is the same one renewed and stays enabled.
  router->Script([](FakeRouter& r) { r.external = "203.0.113.10"; });
  settings.dht_port = FreePort(SOCK_DGRAM);
  const unsigned udp2 = settings.dht_port;
  ASSERT_TRUE(Apply(true));
  Deliver();
  EXPECT_EQ(router->TakeCalls(), (Calls{"open 127.0.0.3", Add("TCP", tcp), "pause 300", "external", Add("UDP", udp2),
                                        "disable UDP " + std::to_string(udp1), "pause 300"}));
  EXPECT_EQ(OwnDhtEndpoint(), engine::address(203, 0, 113, 10, std::uint16_t(udp2)));

  // The same ports again: the DHT node keeps running as it is.
  router->Script([](FakeRouter& r) { r.external = "203.0.113.11"; });
  ASSERT_TRUE(Apply(true));
  Deliver();
  EXPECT_EQ(setup->ExternalAddress(), "203.0.113.11");
  EXPECT_EQ(OwnDhtEndpoint(), engine::address(203, 0, 113, 10, std::uint16_t(udp2)));
  EXPECT_EQ(mappers_made, 1);

  setup->QueryExternalAddress();
  const auto answer = events.NextOf<client::ExternalAddressAnswer>();
  ASSERT_TRUE(answer);
  EXPECT_TRUE(answer->ok);
  EXPECT_EQ(answer->address, "203.0.113.11");

  // Shut-down: both disabled, TCP first, before the setup is gone.
  router->TakeCalls();
  setup->DisableMappings();
  setup.reset();
  EXPECT_EQ(router->TakeCalls(), (Calls{"disable TCP " + std::to_string(tcp), "disable UDP " + std::to_string(udp2)}));
  EXPECT_TRUE(host.log.empty());
}

TEST_F(NetworkSetupTest, DhtPortZeroMapsNoUdpAndLeavesTheDhtAlone) {
  settings.dht_port = 0;
  ASSERT_TRUE(Apply(true));
  Deliver();
  EXPECT_EQ(router->TakeCalls(), (Calls{"open 127.0.0.3", Add("TCP", session.listen_port()), "external"}));
  EXPECT_FALSE(setup->HasUdpMapping());
  EXPECT_EQ(dht->GetPort(), 0);
}

// Without a router the round ends with its line, but the DHT node still
// starts, known by the local address.
TEST_F(NetworkSetupTest, NoRouterStillStartsTheDht) {
  router->Script([](FakeRouter& r) { r.open_fails = true; });
  ASSERT_TRUE(Apply(true));
  Deliver();
  EXPECT_EQ(host.log, Lines{L"UPnP Interface failed to initialize."});
  EXPECT_EQ(router->TakeCalls(), Calls{"open 127.0.0.3"});
  EXPECT_FALSE(setup->HasTcpMapping());
  EXPECT_EQ(setup->ExternalAddress(), "127.0.0.3");
  EXPECT_EQ(OwnDhtEndpoint(), engine::address(127, 0, 0, 3, std::uint16_t(settings.dht_port)));
}

// Looking for the router takes seconds: the GUI thread only queues.
TEST_F(NetworkSetupTest, ASlowRouterDoesNotHoldTheCaller) {
  router->Script([](FakeRouter& r) { r.hold_open = true; });
  ASSERT_TRUE(Apply(true));
  EXPECT_TRUE(events.Empty());
  EXPECT_EQ(dht->GetPort(), 0);
  router->Release();
  Deliver();
  EXPECT_TRUE(setup->HasTcpMapping());
  EXPECT_EQ(dht->GetPort(), settings.dht_port);
}

// A later round supersedes one still on its way: the earlier report only
// adds its log lines.
TEST_F(NetworkSetupTest, OnlyTheLatestRoundDecides) {
  router->Script([](FakeRouter& r) {
    r.hold_open = true;
    r.open_fails = true;
  });
  ASSERT_TRUE(Apply(true));
  settings.dht_port = 0;
  ASSERT_TRUE(Apply(true));
  router->Release();
  Deliver();
  EXPECT_EQ(dht->GetPort(), 0);  // the first round's DHT port is no longer wanted
  Deliver();
  EXPECT_EQ(host.log, (Lines{L"UPnP Interface failed to initialize.", L"UPnP Interface failed to initialize."}));
  EXPECT_EQ(dht->GetPort(), 0);
}

// The failure table, one round at a time on the worker's own code.
TEST(MappingRound, EachFailureLogsItsLineAndEndsTheRound) {
  auto router = std::make_shared<FakeRouter>();
  FakeUpnpMapper mapper(router);
  client::MappingState state;
  const auto pause = router->Pause();
  auto round = [&](std::uint16_t tcp, std::uint16_t udp) {
    return client::RunMappingRound(mapper, state, {7, "192.168.1.20", tcp, udp}, pause);
  };
  auto add = [](const char* protocol, int port) {
    return std::string("add ") + protocol + " " + std::to_string(port) + " -> 192.168.1.20:" + std::to_string(port) +
           " Quillfern";
  };

  MappingReport r = round(6881, 6881);
  EXPECT_EQ(r.round, 7u);
  EXPECT_EQ(r.external_address, "203.0.113.9");
  router->TakeCalls();

  // TCP: the earlier mapping is given up without being disabled; no UDP step.
  router->Script([](FakeRouter& f) { f.add_fails = {"TCP"}; });
  r = round(6882, 6881);
  EXPECT_EQ(r.log_lines, Lines{L"BT port forwarding failed."});
  EXPECT_EQ(router->TakeCalls(), (Calls{"open 192.168.1.20", add("TCP", 6882)}));
  EXPECT_FALSE(r.tcp_mapped);
  EXPECT_TRUE(r.udp_mapped);
  EXPECT_EQ(r.external_address, "192.168.1.20");

  // Nothing earlier to disable now.
  router->Script([](FakeRouter& f) { f.add_fails.clear(); });
  r = round(6882, 6881);
  EXPECT_TRUE(r.log_lines.empty());
  EXPECT_EQ(router->TakeCalls(),
            (Calls{"open 192.168.1.20", add("TCP", 6882), "external", add("UDP", 6881), "pause 300"}));

  // UDP likewise, the TCP mapping stays.
  router->Script([](FakeRouter& f) { f.add_fails = {"UDP"}; });
  r = round(6882, 6883);
  EXPECT_EQ(r.log_lines, Lines{L"DHT port forwarding failed."});
  EXPECT_TRUE(r.tcp_mapped);
  EXPECT_FALSE(r.udp_mapped);
  router->TakeCalls();

  // Disabling the earlier mapping fails: it is given up, the new one kept.
  router->Script([](FakeRouter& f) {
    f.add_fails.clear();
    f.disable_fails = true;
  });
  r = round(6884, 0);
  EXPECT_EQ(r.log_lines, Lines{L"BT port forwarding failed."});
  EXPECT_EQ(router->TakeCalls(), (Calls{"open 192.168.1.20", add("TCP", 6884), "disable TCP 6882"}));
  EXPECT_TRUE(r.tcp_mapped);

  // The public address cannot be read: the mapping stays, the address is
  // the local one.
  router->Script([](FakeRouter& f) { f.external_fails = true; });
  r = round(6884, 0);
  EXPECT_EQ(r.log_lines, Lines{L"BT port forwarding failed."});
  EXPECT_TRUE(r.tcp_mapped);
  EXPECT_EQ(r.external_address, "192.168.1.20");
}

}  // namespace

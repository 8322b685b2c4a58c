#include "client/net/miniupnp_mapper.h"

#include "netns_lab.h"

#include <miniupnpc/miniupnpc.h>
#include <miniupnpc/upnpcommands.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <future>

#include "client/net/network_setup.h"
#include "dht/dht_service.h"
#include "engine/session/session.h"
#include "platform/random.h"
#include "upnp_support.h"

using namespace upnp_test;

namespace {

constexpr const char* kRouterAddress = "10.77.0.1";
constexpr const char* kPublicAddress = "100.200.0.2";
constexpr const char* kRootDescription = "http://10.77.0.1:5555/rootDesc.xml";

struct Entry {
  std::string client, description, enabled;
};

// The router's entry for the port, read by a client of its own; none when
// the router has no such entry.
std::optional<Entry> RouterEntry(int port, const char* protocol) {
  UPNPUrls urls{};
  IGDdatas data{};
  char lan[64] = {};
  if (UPNP_GetIGDFromUrl(kRootDescription, &urls, &data, lan, sizeof lan) == 0) {
    ADD_FAILURE() << "the router's description cannot be read";
    return std::nullopt;
  }
  char client[16] = {}, internal[6] = {}, description[80] = {}, enabled[4] = {}, lease[16] = {};
  const int r = UPNP_GetSpecificPortMappingEntry(urls.controlURL, data.first.servicetype,
                                                 std::to_string(port).c_str(), protocol, nullptr, client, internal,
                                                 description, enabled, lease);
  FreeUPNPUrls(&urls);
  if (r != UPNPCOMMAND_SUCCESS) return std::nullopt;
  return Entry{client, description, enabled};
}

// Until the router answers a search (it opens its sockets one by one).
bool WaitForRouter(const char* interface_address) {
  return test_support::wait_until(
      [&] {
        int error = 0;
        UPNPDev* found = upnpDiscover(250, interface_address, nullptr, UPNP_LOCAL_PORT_ANY, 0, 2, &error);
        if (found) freeUPNPDevlist(found);
        return found != nullptr;
      },
      std::chrono::seconds(20), std::chrono::milliseconds(0));
}

// A gateway in a namespace of its own: the outside link ext0 with a public
// address, the inside link int0 with 10.77.0.1, which is also the program's
// local address.
class RealGateway : public ::testing::Test {
 protected:
  void SetUp() override {
    if (!std::filesystem::exists(netns_lab::kIp)) GTEST_FAIL() << netns_lab::kIp << " is not installed (iproute2)";
    if (!ns.ok()) GTEST_SKIP() << "no private network namespace here: " << ns.why();
    if (!std::filesystem::exists(netns_lab::kMiniupnpd)) GTEST_FAIL() << "miniupnpd is not installed";
    ASSERT_TRUE(ns.Veth("ext0", "ext0p", std::string(kPublicAddress) + "/24"));
    ASSERT_TRUE(ns.Veth("int0", "cli0", std::string(kRouterAddress) + "/24"));
    bool tables = false;
    ns.Inside([&] { tables = netns_lab::CreateNftChains("filter", netns_lab::Miniupnpd::Chains()); });
    if (!tables) GTEST_SKIP() << "the kernel offers no nftables for miniupnpd's rules";
    folder = std::filesystem::temp_directory_path() /
             ("qf_igd_" + std::to_string(::getpid()) + "_" + std::to_string(platform::random_u32()));
    std::filesystem::create_directories(folder);
    daemon = std::make_unique<netns_lab::Miniupnpd>(ns, folder, "ext0", "int0", 5555);
    ASSERT_TRUE(daemon->started());
    bool ready = false;
    ns.Inside([&] { ready = WaitForRouter(kRouterAddress); });
    ASSERT_TRUE(ready) << daemon->Log();
  }
  void TearDown() override {
    daemon.reset();
    if (!folder.empty()) std::filesystem::remove_all(folder);
  }

  netns_lab::Namespace ns;
  std::filesystem::path folder;
  std::unique_ptr<netns_lab::Miniupnpd> daemon;
};

TEST_F(RealGateway, MapsBothPortsMovesThemAndGivesThemUpAtShutDown) {
  ns.Inside([&] {
    RecordingHost host;
    EventQueue events;
    engine::session session(engine::fingerprint("QF", 1, 3, 0, 55));
    CDHTService::Options o;
    o.profile = platform::profile(folder / "dht.ini");
    o.dump_folder = folder / "dht_logs";
    CDHTService dht(40, std::move(o));
    auto setup = std::make_unique<client::NetworkSetup>(host, events.Sink());
    auto deliver = [&] {
      auto report = events.NextOf<client::MappingReport>();
      ASSERT_TRUE(report) << "no mapping report";
      setup->OnMappingReport(*report, &dht);
    };

    // The namespace's own interfaces, read from the system.
    const auto list = client::LocalAddressList(*client::ReadInterfaceAddresses());
    const auto at = std::find(list.begin(), list.end(), kRouterAddress);
    ASSERT_NE(at, list.end());
    client::NetworkSettings settings;
    settings.upnp_port_forwarding = true;
    settings.ip_address_index = static_cast<int>(at - list.begin());
    settings.min_port = 6881;
    settings.max_port = 6889;
    settings.dht_port = 6881;

    ASSERT_TRUE(setup->Apply(settings, &session, &dht));
    deliver();
    EXPECT_TRUE(host.log.empty()) << daemon->Log();
    EXPECT_EQ(session.listen_port(), 6881);
    EXPECT_TRUE(setup->HasTcpMapping());
    EXPECT_TRUE(setup->HasUdpMapping());
    EXPECT_EQ(setup->ExternalAddress(), kPublicAddress);
    EXPECT_EQ(dht.GetPort(), 6881);
    for (const char* protocol : {"TCP", "UDP"}) {
      const auto entry = RouterEntry(6881, protocol);
      ASSERT_TRUE(entry) << protocol;
      EXPECT_EQ(entry->client, kRouterAddress);
      EXPECT_EQ(entry->description, "Quillfern");
      EXPECT_EQ(entry->enabled, "1");
    }
    setup->QueryExternalAddress();
    const auto answer = events.NextOf<client::ExternalAddressAnswer>();
    ASSERT_TRUE(answer);
    EXPECT_TRUE(answer->ok) << answer->error;
    EXPECT_EQ(answer->address, kPublicAddress);

    // New ports: the old entries stop forwarding (this router ignores the
    // disabled flag, so they are deleted), the DHT node moves.
    settings.min_port = settings.max_port = 7001;
    settings.dht_port = 7002;
    ASSERT_TRUE(setup->Apply(settings, &session, &dht));
    deliver();
    EXPECT_TRUE(host.log.empty()) << daemon->Log();
    EXPECT_FALSE(RouterEntry(6881, "TCP"));
    EXPECT_FALSE(RouterEntry(6881, "UDP"));
    EXPECT_TRUE(RouterEntry(7001, "TCP"));
    EXPECT_TRUE(RouterEntry(7002, "UDP"));
    EXPECT_EQ(dht.GetPort(), 7002);

    setup->DisableMappings();
    setup.reset();
    EXPECT_FALSE(RouterEntry(7001, "TCP"));
    EXPECT_FALSE(RouterEntry(7002, "UDP"));
  });
}

// No router on the link: discovery gives up after its wait, on the worker,
// and the round ends with its line.
TEST(NoGateway, DiscoveryEndsAndTheRoundReportsIt) {
  netns_lab::Namespace ns;
  if (!std::filesystem::exists(netns_lab::kIp)) GTEST_FAIL() << netns_lab::kIp << " is not installed (iproute2)";
  if (!ns.ok()) GTEST_SKIP() << "no private network namespace here: " << ns.why();
  ASSERT_TRUE(ns.Veth("int0", "cli0", "10.78.0.1/24"));
  ns.Inside([&] {
    client::MiniupnpMapper mapper(client::MiniupnpMapper::Options{500});
    auto open = std::async(std::launch::async, [&] { return mapper.Open("10.78.0.1"); });
    ASSERT_EQ(open.wait_for(std::chrono::seconds(60)), std::future_status::ready);
    const client::UpnpResult r = open.get();
    EXPECT_FALSE(r.ok);
    EXPECT_EQ(r.error, "no UPnP device answered");
    std::string address;
    EXPECT_FALSE(mapper.ExternalAddress(address).ok);

    // The same through the worker, with the real mapper.
    auto router = std::make_shared<FakeRouter>();
    EventQueue events;
    {
      client::UpnpWorker worker(std::make_unique<client::MiniupnpMapper>(client::MiniupnpMapper::Options{500}),
                                events.Sink(), router->Pause());
      worker.MapPorts({1, "10.78.0.1", 6881, 6881});
      const auto report = events.NextOf<client::MappingReport>();
      ASSERT_TRUE(report);
      EXPECT_EQ(report->log_lines, std::vector<std::wstring>{L"UPnP Interface failed to initialize."});
      EXPECT_FALSE(report->tcp_mapped);
    }
  });
}

}  // namespace

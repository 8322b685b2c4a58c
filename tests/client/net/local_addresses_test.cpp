#include "client/net/local_addresses.h"

#include <gtest/gtest.h>

#include <climits>

using client::ChooseLocalAddress;
using client::InterfaceAddress;
using client::LocalAddressList;

namespace {

InterfaceAddress V4(const char* name, std::uint32_t address, bool up = true, bool loopback = false) {
  return {name, true, address, up, loopback};
}
InterfaceAddress V6(const char* name) { return {name, false, 0, true, false}; }

using List = std::vector<std::string>;

// A Debian desktop: the host name resolves to 127.0.1.1, which no interface
// carries; loopback comes first in the system's list.
TEST(LocalAddresses, RealInterfacesFirstLoopbackOnlyWhenAlone) {
  const std::vector<InterfaceAddress> host = {
      V4("lo", 0x7F000001, true, true), V6("lo"),
      V4("eth0", 0xC0A80114),            V6("eth0"),
      V4("docker0", 0xAC110001, false),  // down
      V4("wlan0", 0x0A000007),
      V4("eth0", 0xC0A80114),            // the same address again
      V4("tun0", 0x7F000101),            // 127.0.1.1 on an ordinary interface is still loopback
  };
  EXPECT_EQ(LocalAddressList(host), (List{"192.168.1.20", "10.0.0.7"}));
  EXPECT_EQ(ChooseLocalAddress(LocalAddressList(host), 0), "192.168.1.20");

  EXPECT_EQ(LocalAddressList({V4("lo", 0x7F000001, true, true), V6("eth0"), V4("eth0", 0xC0A80114, false)}),
            (List{"127.0.0.1"}));
  EXPECT_EQ(LocalAddressList({V6("lo")}), List{});
  EXPECT_EQ(LocalAddressList({}), List{});
}

TEST(LocalAddresses, IndexOutsideTheListFindsNone) {
  const List list = {"192.168.1.20", "10.0.0.7"};
  EXPECT_EQ(ChooseLocalAddress(list, 0), "192.168.1.20");
  EXPECT_EQ(ChooseLocalAddress(list, 1), "10.0.0.7");
  EXPECT_FALSE(ChooseLocalAddress(list, 2));
  EXPECT_FALSE(ChooseLocalAddress(list, -1));
  EXPECT_FALSE(ChooseLocalAddress(list, INT_MIN));
  EXPECT_FALSE(ChooseLocalAddress(list, INT_MAX));
  EXPECT_FALSE(ChooseLocalAddress({}, 0));

  EXPECT_EQ(client::DottedQuad(0xFFFFFFFF), "255.255.255.255");
  EXPECT_EQ(client::DottedQuad(0), "0.0.0.0");
}

TEST(LocalAddresses, ReadsTheSystemsInterfaces) {
  const auto interfaces = client::ReadInterfaceAddresses();
  ASSERT_TRUE(interfaces);
  bool loopback_seen = false;
  for (const auto& i : *interfaces)
    if (i.ipv4 && i.address == 0x7F000001) loopback_seen = i.up && i.loopback;
  EXPECT_TRUE(loopback_seen);
  EXPECT_FALSE(LocalAddressList(*interfaces).empty());
}

}  // namespace

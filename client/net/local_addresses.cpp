#include "client/net/local_addresses.h"

#include <arpa/inet.h>
#include <ifaddrs.h>
#include <net/if.h>
#include <netinet/in.h>

#include <algorithm>
#include <cstdio>

namespace client {

std::optional<std::vector<InterfaceAddress>> ReadInterfaceAddresses() {
  ifaddrs* list = nullptr;
  if (::getifaddrs(&list) != 0) return std::nullopt;
  std::vector<InterfaceAddress> result;
  for (const ifaddrs* i = list; i; i = i->ifa_next) {
    if (!i->ifa_addr) continue;
    InterfaceAddress a;
    a.name = i->ifa_name ? i->ifa_name : "";
    a.up = (i->ifa_flags & IFF_UP) != 0;
    a.loopback = (i->ifa_flags & IFF_LOOPBACK) != 0;
    if (i->ifa_addr->sa_family == AF_INET) {
      a.ipv4 = true;
      a.address = ntohl(reinterpret_cast<const sockaddr_in*>(i->ifa_addr)->sin_addr.s_addr);
    }
    result.push_back(std::move(a));
  }
  ::freeifaddrs(list);
  return result;
}

std::string DottedQuad(std::uint32_t address) {
  char text[16];
  std::snprintf(text, sizeof text, "%u.%u.%u.%u", address >> 24, (address >> 16) & 0xFF, (address >> 8) & 0xFF,
                address & 0xFF);
  return text;
}

std::vector<std::string> LocalAddressList(const std::vector<InterfaceAddress>& interfaces) {
  std::vector<std::string> others, loopbacks;
  for (const auto& i : interfaces) {
    if (!i.ipv4 || !i.up) continue;
    const bool loopback = i.loopback || (i.address >> 24) == 127;
    auto& list = loopback ? loopbacks : others;
    const std::string text = DottedQuad(i.address);
    if (std::find(list.begin(), list.end(), text) == list.end()) list.push_back(text);
  }
  return others.empty() ? loopbacks : others;
}

std::optional<std::string> ChooseLocalAddress(const std::vector<std::string>& list, int index) {
  if (index < 0 || static_cast<std::size_t>(index) >= list.size()) return std::nullopt;
  return list[static_cast<std::size_t>(index)];
}

}  // namespace client

#pragma once
// The host's own IPv4 addresses, from which the "IpAddressIndex" setting
// picks the address the ports are mapped to. The list is read from the
// interfaces, not from the host name: on Debian the host name resolves to
// 127.0.1.1, which would leave the program listening on loopback only.

#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <vector>

namespace client {

// One address of one interface, as the system reports it.
struct InterfaceAddress {
  std::string name;            // e.g. "eth0"
  bool ipv4 = false;           // other families are listed but never used
  std::uint32_t address = 0;   // IPv4, host byte order
  bool up = false;
  bool loopback = false;
};

// The interfaces as the system lists them, or none when they cannot be read.
std::optional<std::vector<InterfaceAddress>> ReadInterfaceAddresses();

// Replaceable reader: tests hand in a fixed list.
using InterfaceReader = std::function<std::optional<std::vector<InterfaceAddress>>()>;

// The addresses to choose from, as "%u.%u.%u.%u" in the system's order:
// IPv4 addresses of interfaces that are up, each once. Loopback addresses
// (the loopback interface or 127.0.0.0/8) count only on a host that has no
// other address, so index 0 is a real interface whenever there is one.
std::vector<std::string> LocalAddressList(const std::vector<InterfaceAddress>& interfaces);

// Entry `index` of the list; none for an index below 0 or past the end (the
// address went away since it was chosen).
std::optional<std::string> ChooseLocalAddress(const std::vector<std::string>& list, int index);

std::string DottedQuad(std::uint32_t address);

}  // namespace client

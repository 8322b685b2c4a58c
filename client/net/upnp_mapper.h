#pragma once
// A router's port mapping service (UPnP internet gateway device), reduced to
// the few operations the program needs. Every call may block for seconds:
// only the UPnP worker (upnp_worker.h) calls it, never the GUI thread.

#include <cstdint>
#include <string>

namespace client {

struct PortMapping {
  std::uint16_t external_port = 0;
  std::string protocol;         // "TCP" or "UDP"
  std::uint16_t internal_port = 0;
  std::string internal_client;  // dotted quad
  std::string description;

  // The router keeps one entry per external port and protocol.
  bool SameEntry(const PortMapping& other) const {
    return external_port == other.external_port && protocol == other.protocol;
  }
};

struct UpnpResult {
  bool ok = true;
  std::string error;  // why it failed

  static UpnpResult Failure(std::string why) { return {false, std::move(why)}; }
};

class UpnpMapper {
 public:
  virtual ~UpnpMapper() = default;
  // Makes sure a router is known for the interface with `local_address`.
  // The router is looked for once; later calls reuse it (a new local
  // address, or no router found the last time, looks again).
  virtual UpnpResult Open(const std::string& local_address) = 0;
  // Adds the mapping, enabled, or replaces the router's entry for the same
  // external port and protocol.
  virtual UpnpResult AddMapping(const PortMapping& mapping) = 0;
  // The entry stops forwarding.
  virtual UpnpResult DisableMapping(const PortMapping& mapping) = 0;
  // The router's public address as dotted quad.
  virtual UpnpResult ExternalAddress(std::string& address) = 0;
};

}  // namespace client

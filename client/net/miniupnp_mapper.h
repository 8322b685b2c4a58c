#pragma once
// The router's port mapping service over miniupnpc: SSDP discovery of an
// internet gateway device on the local interface, then SOAP calls to its
// connection service.

#include <memory>
#include <string>

#include "client/net/upnp_mapper.h"

namespace client {

class MiniupnpMapper : public UpnpMapper {
 public:
  struct Options {
    // How long discovery waits for answers; without a router it asks twice,
    // so it gives up after twice this time.
    int discovery_ms = 1000;
  };

  MiniupnpMapper();
  explicit MiniupnpMapper(Options options);
  ~MiniupnpMapper() override;

  UpnpResult Open(const std::string& local_address) override;
  UpnpResult AddMapping(const PortMapping& mapping) override;
  // Re-adds the entry with NewEnabled 0. A router that ignores the flag (the
  // entry still forwards afterwards) gets the entry deleted instead. An
  // entry that now belongs to another client is left alone.
  UpnpResult DisableMapping(const PortMapping& mapping) override;
  UpnpResult ExternalAddress(std::string& address) override;

 private:
  struct Router;
  Options m_options;
  std::unique_ptr<Router> m_router;
  std::string m_local_address;  // the interface the router was found on
};

}  // namespace client

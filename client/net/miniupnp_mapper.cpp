#include "client/net/miniupnp_mapper.h"

#include <miniupnpc/miniupnpc.h>
#include <miniupnpc/upnpcommands.h>
#include <miniupnpc/upnperrors.h>
#include <miniupnpc/upnpreplyparse.h>

#include <cstdlib>
#include <cstring>

namespace client {

struct MiniupnpMapper::Router {
  UPNPUrls urls{};
  IGDdatas data{};

  Router() = default;
  Router(const Router&) = delete;
  Router& operator=(const Router&) = delete;
  ~Router() { FreeUPNPUrls(&urls); }

  const char* control() const { return urls.controlURL; }
  const char* service() const { return data.first.servicetype; }
};

namespace {

UpnpResult Result(int code) {
  if (code == UPNPCOMMAND_SUCCESS) return {};
  const char* name = strupnperror(code);
  return UpnpResult::Failure("UPnP error " + std::to_string(code) + (name ? std::string(" ") + name : ""));
}

constexpr int kNoSuchEntry = 714;

}  // namespace

MiniupnpMapper::MiniupnpMapper() : MiniupnpMapper(Options{}) {}
MiniupnpMapper::MiniupnpMapper(Options options) : m_options(options) {}
MiniupnpMapper::~MiniupnpMapper() = default;

UpnpResult MiniupnpMapper::Open(const std::string& local_address) {
  if (m_router && local_address == m_local_address) return {};
  m_router.reset();
  const bool any = local_address.empty() || local_address == "0.0.0.0";
  // One search type: each type searched for costs two waits when nothing
  // answers. Gateways of version 2 answer searches for version 1 as well.
  static const char* const kTypes[] = {"urn:schemas-upnp-org:device:InternetGatewayDevice:1", nullptr};
  int error = 0;
  UPNPDev* devices = upnpDiscoverDevices(kTypes, m_options.discovery_ms, any ? nullptr : local_address.c_str(),
                                         nullptr, UPNP_LOCAL_PORT_ANY, 0, 2, &error, 0);
  if (!devices) return UpnpResult::Failure("no UPnP device answered");
  auto router = std::make_unique<Router>();
  char lan_address[64] = {};
  const int found = UPNP_GetValidIGD(devices, &router->urls, &router->data, lan_address, sizeof lan_address);
  freeUPNPDevlist(devices);
  // 1: a connected gateway; 2: one that reports its outside link down, which
  // still takes mappings.
  if (found != 1 && found != 2) return UpnpResult::Failure("no internet gateway device found");
  m_router = std::move(router);
  m_local_address = local_address;
  return {};
}

UpnpResult MiniupnpMapper::AddMapping(const PortMapping& m) {
  if (!m_router) return UpnpResult::Failure("no router");
  const std::string external = std::to_string(m.external_port), internal = std::to_string(m.internal_port);
  return Result(UPNP_AddPortMapping(m_router->control(), m_router->service(), external.c_str(), internal.c_str(),
                                    m.internal_client.c_str(), m.description.c_str(), m.protocol.c_str(), nullptr,
                                    "0"));
}

UpnpResult MiniupnpMapper::DisableMapping(const PortMapping& m) {
  if (!m_router) return UpnpResult::Failure("no router");
  const std::string external = std::to_string(m.external_port), internal = std::to_string(m.internal_port);
  UPNParg args[] = {{"NewRemoteHost", ""},
                    {"NewExternalPort", external.c_str()},
                    {"NewProtocol", m.protocol.c_str()},
                    {"NewInternalPort", internal.c_str()},
                    {"NewInternalClient", m.internal_client.c_str()},
                    {"NewEnabled", "0"},
                    {"NewPortMappingDescription", m.description.c_str()},
                    {"NewLeaseDuration", "0"},
                    {nullptr, nullptr}};
  int size = 0;
  // The router's answer does not matter: what its table says afterwards does.
  std::free(simpleUPnPcommand(-1, m_router->control(), m_router->service(), "AddPortMapping", args, &size));

  char client[16] = {}, port[6] = {}, description[80] = {}, enabled[4] = {}, lease[16] = {};
  const int r = UPNP_GetSpecificPortMappingEntry(m_router->control(), m_router->service(), external.c_str(),
                                                 m.protocol.c_str(), nullptr, client, port, description, enabled,
                                                 lease);
  if (r == kNoSuchEntry) return {};
  if (r != UPNPCOMMAND_SUCCESS) return Result(r);
  if (std::strcmp(enabled, "0") == 0 || m.internal_client != client) return {};
  const int d = UPNP_DeletePortMapping(m_router->control(), m_router->service(), external.c_str(),
                                       m.protocol.c_str(), nullptr);
  return d == kNoSuchEntry ? UpnpResult{} : Result(d);
}

UpnpResult MiniupnpMapper::ExternalAddress(std::string& address) {
  if (!m_router) return UpnpResult::Failure("no router");
  char text[40] = {};
  const UpnpResult r = Result(UPNP_GetExternalIPAddress(m_router->control(), m_router->service(), text));
  if (r.ok) address = text;
  return r;
}

}  // namespace client

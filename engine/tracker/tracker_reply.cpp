#include "engine/tracker/tracker_reply.h"

#include <algorithm>
#include <cstdint>
#include <limits>
#include <stdexcept>

#include "engine/net/address.h"
#include "engine/tracker/request_callback.h"

namespace engine {

namespace {

int clamp_int(entry::integer_type v) {
  return int(std::clamp<entry::integer_type>(v, std::numeric_limits<int>::min(),
                                             std::numeric_limits<int>::max()));
}

// An optional count: -1 when absent or not an integer.
int optional_count(const entry& reply, const char* key) {
  const entry* e = reply.find_key(key);
  return e && e->type() == entry::int_t ? clamp_int(e->integer()) : -1;
}

bool valid_port(entry::integer_type port) { return port >= 1 && port <= 65535; }

void compact_peers(const std::string& s, std::vector<tracker_peer>& peers) {
  for (std::size_t i = 0; i + 6 <= s.size(); i += 6) {
    const auto* p = reinterpret_cast<const std::uint8_t*>(s.data() + i);
    const std::uint16_t port = std::uint16_t(p[4] << 8 | p[5]);
    if (port == 0) continue;
    tracker_peer peer;
    peer.ip = address(p[0], p[1], p[2], p[3], port).as_string();
    peer.port = port;
    peers.push_back(std::move(peer));
  }
}

void listed_peers(const entry::list_type& list, std::vector<tracker_peer>& peers) {
  for (const entry& item : list) {
    tracker_peer peer;
    if (const entry* id = item.find_key("peer id")) {
      if (id->type() != entry::string_t || id->string().size() != sha1_hash::size)
        throw std::runtime_error("invalid response from tracker");
      peer.pid = sha1_hash::from_bytes(id->string());
    }
    const entry* ip = item.find_key("ip");
    const entry* port = item.find_key("port");
    if (!ip || !port) throw std::runtime_error("invalid response from tracker");
    // Only dotted quads: a host name here would have to be looked up, and
    // nothing on the network thread may wait for that.
    const auto addr = address::parse_dotted(ip->string());
    const entry::integer_type port_number = port->integer();
    if (!addr || !valid_port(port_number)) continue;
    peer.ip = addr->as_string();
    peer.port = std::uint16_t(port_number);
    peers.push_back(std::move(peer));
  }
}

}  // namespace

tracker_reply parse_tracker_reply(const entry& reply, const tracker_query& q, int status_code) {
  tracker_reply r;
  r.status_code = status_code;
  try {
    if (const entry* failure = reply.find_key("failure reason")) {
      r.failed = true;
      r.error = failure->string();
      return r;
    }
    if (const entry* warning = reply.find_key("warning message");
        warning && warning->type() == entry::string_t)
      r.warning = warning->string();

    if (q.kind == tracker_query::scrape_request) {
      const entry& files = reply["files"];
      const entry& torrent = files[q.info_hash.to_string()];
      r.complete = clamp_int(torrent["complete"].integer());
      r.incomplete = clamp_int(torrent["incomplete"].integer());
      return r;
    }

    r.interval = clamp_int(reply["interval"].integer());
    const entry& peers = reply["peers"];
    if (peers.type() == entry::string_t)
      compact_peers(peers.string(), r.peers);
    else
      listed_peers(peers.list(), r.peers);
    r.complete = optional_count(reply, "complete");
    r.incomplete = optional_count(reply, "incomplete");
  } catch (const std::exception& e) {
    r.failed = true;
    r.error = e.what();
    r.peers.clear();
  }
  return r;
}

void deliver_tracker_reply(request_callback& cb, const tracker_query& q, const tracker_reply& r) {
  if (r.warning) cb.tracker_warning(*r.warning);
  if (r.failed)
    cb.tracker_request_error(q, r.status_code, r.error);
  else
    cb.tracker_response(q, r.peers, r.interval, r.complete, r.incomplete);
}

}  // namespace engine

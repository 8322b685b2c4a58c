#pragma once

#include "engine/formats/sha1_hash.h"

namespace engine {

class alert_manager;
class disk_io;
class ip_filter;

// What a torrent and a peer connection both reach of their session.
class session_host {
 public:
  virtual ~session_host() = default;
  virtual alert_manager& alerts() = 0;
  // Our own peer id, as announced to trackers and sent in handshakes.
  virtual const peer_id& local_id() const = 0;
  virtual const ip_filter& filter() const = 0;
  // The session's upload rate limit; -1 is unlimited.
  virtual int upload_rate_limit() const = 0;
  // The session's disk worker.
  virtual disk_io& disk() = 0;
};

}  // namespace engine

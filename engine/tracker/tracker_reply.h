#pragma once
// What a bencoded tracker reply says: a failure, an optional warning, and
// for an announce the peers and the interval, for a scrape the counts.

#include <optional>
#include <string>
#include <vector>

#include "engine/formats/entry.h"
#include "engine/tracker/tracker_query.h"

namespace engine {

class request_callback;

struct tracker_reply {
  std::optional<std::string> warning;
  // A failure: the reply's "failure reason", or what was wrong with the reply.
  bool failed = false;
  int status_code = 0;
  std::string error;
  std::vector<tracker_peer> peers;
  int interval = 0;
  int complete = -1;    // -1: not given
  int incomplete = -1;  // -1: not given
};

// Interprets a decoded reply to `q`; `status_code` is the HTTP status the
// reply came with and goes with every failure. Peers whose "ip" is not a
// dotted quad or whose port is not within 1..65535 are left out.
tracker_reply parse_tracker_reply(const entry& reply, const tracker_query& q, int status_code);

// Tells `cb` what the reply says: the warning first, then the failure or the
// response.
void deliver_tracker_reply(request_callback& cb, const tracker_query& q, const tracker_reply& r);

}  // namespace engine

#pragma once
// The records a torrent and its trackers exchange: one announce or scrape
// request, one peer from a reply, and the HTTP settings the client sets on
// the session.

#include <cstdint>
#include <string>

#include "engine/formats/sha1_hash.h"

namespace engine {

struct tracker_query {
  enum kind_t { announce_request = 0, scrape_request = 1 };
  enum event_t { none = 0, completed = 1, started = 2, stopped = 3 };

  int kind = announce_request;
  sha1_hash info_hash;
  peer_id pid;
  std::int64_t downloaded = 0;  // payload bytes received
  std::int64_t uploaded = 0;    // payload bytes sent
  std::int64_t left = 0;        // bytes still wanted
  std::uint16_t listen_port = 0;
  int event = none;
  std::string url;
  int key = 0;       // identifies this client across address changes
  int num_want = 0;  // peers wanted
  // How many redirections led to this request; a chain of them is cut off.
  int redirects = 0;
};

struct tracker_peer {
  std::string ip;  // dotted quad
  std::uint16_t port = 0;
  peer_id pid;  // all zero when the tracker gave none
};

struct http_settings {
  std::string proxy_ip;  // empty: no proxy
  int proxy_port = 0;    // 0 means 80
  std::string proxy_login;
  std::string proxy_password;
  std::string user_agent = "Quillfern";
  int tracker_timeout = 20;       // seconds
  int stop_tracker_timeout = 3;   // seconds, for requests nobody waits for
  int tracker_maximum_response_length = 1024 * 1024;  // bytes
};

}  // namespace engine

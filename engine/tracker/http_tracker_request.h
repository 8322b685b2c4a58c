#pragma once
// The text of one HTTP/1.0 GET request to a tracker.

#include <string>

#include "engine/tracker/tracker_query.h"

namespace engine {

// Builds the request for `q` to the tracker at host:port with `path` (the
// URL's path, possibly holding a query part). Through a proxy (settings'
// proxy_ip not empty) the full URL is requested. `login` ("user:password")
// adds basic authentication when not empty. A scrape on a path without
// "announce" throws std::runtime_error
// "scrape is not available on url: 'URL'".
std::string build_http_tracker_request(const tracker_query& q, const std::string& host, int port,
                                       std::string path, const http_settings& settings,
                                       const std::string& login);

}  // namespace engine

#pragma once
// Splitting tracker URLs and the Base64 of HTTP basic authentication.

#include <string>
#include <string_view>

namespace engine {

struct tracker_url {
  std::string protocol;
  std::string host;
  int port = 80;
  std::string path;  // from the first '/' after the host on; may be empty
};

// "proto://host[:port][/path]". Throws std::runtime_error "invalid url" when
// the scheme or the "//" is missing or the host is empty, and
// "invalid url: \"URL\", port number expected" for a port that is not a
// number from 1 to 65535.
tracker_url split_tracker_url(const std::string& url);

// Standard Base64 with '=' padding.
std::string base64_encode(std::string_view text);

}  // namespace engine

#include "engine/tracker/tracker_url.h"

#include <charconv>
#include <cstdint>
#include <stdexcept>

namespace engine {

tracker_url split_tracker_url(const std::string& url) {
  tracker_url out;
  const auto colon = url.find(':');
  if (colon == std::string::npos) throw std::runtime_error("invalid url");
  out.protocol = url.substr(0, colon);
  if (url.compare(colon + 1, 2, "//") != 0) throw std::runtime_error("invalid url");

  const std::size_t host_start = colon + 3;
  std::size_t host_end = url.find('/', host_start);
  if (host_end == std::string::npos) host_end = url.size();
  const auto port_colon = url.find(':', host_start);
  if (port_colon != std::string::npos && port_colon < host_end) {
    out.host = url.substr(host_start, port_colon - host_start);
    const char* first = url.data() + port_colon + 1;
    const char* last = url.data() + host_end;
    int port = 0;
    const auto [end, ec] = std::from_chars(first, last, port);
    if (ec != std::errc() || end != last || port < 1 || port > 65535)
      throw std::runtime_error("invalid url: \"" + url + "\", port number expected");
    out.port = port;
  } else {
    out.host = url.substr(host_start, host_end - host_start);
    out.port = 80;
  }
  if (out.host.empty()) throw std::runtime_error("invalid url");
  out.path = url.substr(host_end);
  return out;
}

std::string base64_encode(std::string_view text) {
  static const char alphabet[] =
      "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
  std::string out;
  out.reserve((text.size() + 2) / 3 * 4);
  std::size_t i = 0;
  for (; i + 3 <= text.size(); i += 3) {
    const unsigned v = unsigned(std::uint8_t(text[i])) << 16 | unsigned(std::uint8_t(text[i + 1])) << 8 |
                       std::uint8_t(text[i + 2]);
    out += alphabet[v >> 18];
    out += alphabet[(v >> 12) & 63];
    out += alphabet[(v >> 6) & 63];
    out += alphabet[v & 63];
  }
  const std::size_t rest = text.size() - i;
  if (rest > 0) {
    unsigned v = unsigned(std::uint8_t(text[i])) << 16;
    if (rest == 2) v |= unsigned(std::uint8_t(text[i + 1])) << 8;
    out += alphabet[v >> 18];
    out += alphabet[(v >> 12) & 63];
    out += rest == 2 ? alphabet[(v >> 6) & 63] : '=';
    out += '=';
  }
  return out;
}

}  // namespace engine

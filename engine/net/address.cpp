#include "engine/net/address.h"

#include <netdb.h>
#include <netinet/in.h>
#include <sys/socket.h>

#include <charconv>

#include "engine/net/network_error.h"

namespace engine {

std::optional<address> address::parse_dotted(std::string_view text, std::uint16_t port_) {
  std::uint32_t ip_ = 0;
  const char* p = text.data();
  const char* const end = p + text.size();
  for (int part = 0; part < 4; ++part) {
    if (part > 0) {
      if (p == end || *p != '.') return std::nullopt;
      ++p;
    }
    if (p == end || *p < '0' || *p > '9') return std::nullopt;
    unsigned value = 0;
    const char* digits = p;
    while (p != end && *p >= '0' && *p <= '9' && p - digits < 4) value = value * 10 + unsigned(*p++ - '0');
    if (value > 255 || (p != end && *p >= '0' && *p <= '9')) return std::nullopt;
    ip_ = ip_ << 8 | value;
  }
  if (p != end) return std::nullopt;
  return address(ip_, port_);
}

namespace {

// True when the text has the shape of a dotted quad ("%u.%u.%u.%u"),
// whatever the size of its numbers.
bool looks_dotted(std::string_view text) {
  int dots = 0;
  bool digit_seen = false;
  for (char c : text) {
    if (c == '.') {
      if (!digit_seen) return false;
      ++dots;
      digit_seen = false;
    } else if (c >= '0' && c <= '9') {
      digit_seen = true;
    } else {
      return false;
    }
  }
  return dots == 3 && digit_seen;
}

}  // namespace

address::address(std::string_view text, std::uint16_t port_) : port(port_) {
  if (text.empty()) return;
  if (auto dotted = parse_dotted(text, port_)) {
    ip = dotted->ip;
    return;
  }
  if (looks_dotted(text)) throw network_error(network_error::host_not_found);

  addrinfo hints{};
  hints.ai_family = AF_INET;
  hints.ai_socktype = SOCK_STREAM;
  addrinfo* result = nullptr;
  const std::string host(text);
  if (getaddrinfo(host.c_str(), nullptr, &hints, &result) != 0 || result == nullptr) {
    throw network_error(network_error::host_not_found);
  }
  ip = ntohl(reinterpret_cast<const sockaddr_in*>(result->ai_addr)->sin_addr.s_addr);
  freeaddrinfo(result);
}

std::string address::as_string() const {
  char buf[16];
  char* p = buf;
  for (int shift = 24; shift >= 0; shift -= 8) {
    p = std::to_chars(p, buf + sizeof buf, (ip >> shift) & 0xFF).ptr;
    if (shift) *p++ = '.';
  }
  return std::string(buf, p);
}

}  // namespace engine

#pragma once
// An IPv4 endpoint: 32-bit address and 16-bit port, both in host order
// (the first dotted part is the high byte of `ip`).

#include <compare>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <string_view>

namespace engine {

struct address {
  std::uint32_t ip = 0;
  std::uint16_t port = 0;

  address() = default;
  address(std::uint32_t ip_, std::uint16_t port_) : ip(ip_), port(port_) {}
  address(std::uint8_t a, std::uint8_t b, std::uint8_t c, std::uint8_t d, std::uint16_t port_)
      : ip(std::uint32_t(a) << 24 | std::uint32_t(b) << 16 | std::uint32_t(c) << 8 | d), port(port_) {}

  // An empty text gives 0.0.0.0. A dotted quad is read directly (a part above
  // 255 throws network_error "Hostname not found"); any other text is looked
  // up by name, blocking, and a failed look-up throws the same error. Never
  // call this with a host name on a thread that must not block.
  address(std::string_view text, std::uint16_t port_);

  // Reads a strict dotted quad ("a.b.c.d", each part 0..255 in decimal);
  // anything else gives nothing. Never looks anything up.
  static std::optional<address> parse_dotted(std::string_view text, std::uint16_t port_ = 0);

  // "a.b.c.d" without the port.
  std::string as_string() const;

  friend auto operator<=>(const address&, const address&) = default;
  friend bool operator==(const address&, const address&) = default;
};

}  // namespace engine

template <>
struct std::hash<engine::address> {
  std::size_t operator()(const engine::address& a) const noexcept {
    return std::hash<std::uint64_t>()(std::uint64_t(a.ip) << 16 | a.port);
  }
};

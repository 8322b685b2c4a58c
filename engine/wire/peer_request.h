#pragma once
// A peer's request for a byte range of one piece.

#include <compare>
#include <cstdint>

namespace engine {

struct peer_request {
  std::int32_t piece = 0;
  std::int32_t start = 0;
  std::int32_t length = 0;

  friend auto operator<=>(const peer_request&, const peer_request&) = default;
  friend bool operator==(const peer_request&, const peer_request&) = default;
};

}  // namespace engine

#pragma once
// One block of one piece: the unit in which blocks are requested and received.

#include <compare>
#include <cstddef>
#include <cstdint>
#include <functional>

namespace engine {

struct piece_block {
  std::int32_t piece_index = 0;
  std::int32_t block_index = 0;

  piece_block() = default;
  piece_block(std::int32_t piece, std::int32_t block) : piece_index(piece), block_index(block) {}

  friend auto operator<=>(const piece_block&, const piece_block&) = default;
  friend bool operator==(const piece_block&, const piece_block&) = default;
};

}  // namespace engine

template <>
struct std::hash<engine::piece_block> {
  std::size_t operator()(const engine::piece_block& b) const noexcept {
    return std::hash<std::uint64_t>()(std::uint64_t(std::uint32_t(b.piece_index)) << 32 |
                                      std::uint32_t(b.block_index));
  }
};

#pragma once
// One piece being downloaded, as the application sees it: a copy of the
// piece picker's record.

#include <array>
#include <bitset>
#include <cstdint>

#include "engine/net/address.h"

namespace engine {

struct partial_piece_info {
  static constexpr int max_blocks_per_piece = 256;

  std::int32_t piece_index = 0;
  std::int32_t blocks_in_piece = 0;
  std::bitset<max_blocks_per_piece> requested_blocks;
  std::bitset<max_blocks_per_piece> finished_blocks;
  // The peer each block was requested from.
  std::array<address, max_blocks_per_piece> peer{};
  // How often each block was requested, as the picker counts it.
  std::array<std::int32_t, max_blocks_per_piece> num_downloads{};
};

}  // namespace engine

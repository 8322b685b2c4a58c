#pragma once
// Shares a limited amount over a set of consumers in proportion to what each
// used in the last second, within every consumer's minimum and maximum. The
// session shares its limits over the torrents with it, and every torrent its
// rate over its connections.

#include <algorithm>
#include <cstdint>

#include "engine/session/resource_request.h"

namespace engine {

// `consumers` is any range; `get(element)` yields the element's
// resource_request&. Allocates nothing; always terminates. A consumer whose
// minimum lies above its maximum gets its minimum and takes no further part.
template <class Range, class Get>
void allocate_resources(std::int32_t amount, Range&& consumers, Get get) {
  constexpr std::int32_t inf = resource_request::inf;
  if (amount == inf) {
    for (auto& c : consumers) {
      resource_request& r = get(c);
      r.given = std::max(r.min, r.max);
    }
    return;
  }

  std::int32_t sum_max = 0;
  std::int64_t sum_min = 0;
  for (auto& c : consumers) {
    resource_request& r = get(c);
    sum_max = saturated_add(sum_max, std::max({r.max, r.min, 0}));
    sum_min += r.min;
    r.given = r.min;
  }
  if (amount <= 0 || sum_max == 0) return;

  std::int64_t target = std::max<std::int64_t>(amount, sum_min);
  target = std::min<std::int64_t>(target, sum_max);
  std::int64_t left = target - sum_min;

  // Every round hands out at least one unit: the room below the maxima is
  // never smaller than `left`, and the largest user always gets a share.
  while (left > 0) {
    std::int64_t sum_w = 0;
    std::int64_t w_max = 0;
    for (auto& c : consumers) {
      const resource_request& r = get(c);
      if (r.given >= r.max) continue;
      const std::int64_t w = std::int64_t(std::max(r.used, 0)) + 1;
      sum_w += w;
      w_max = std::max(w_max, w);
    }
    if (sum_w == 0) break;  // nobody has room left
    const std::int64_t round_left = left;
    const bool tiny = round_left * w_max <= sum_w;
    for (auto& c : consumers) {
      resource_request& r = get(c);
      if (r.given >= r.max) continue;
      const std::int64_t w = std::int64_t(std::max(r.used, 0)) + 1;
      std::int64_t share = tiny ? w / w_max : w * round_left / sum_w;
      share = std::min<std::int64_t>(share, left);
      share = std::min<std::int64_t>(share, inf);
      left -= give(r, std::int32_t(share));
      if (left <= 0) break;
    }
  }
}

}  // namespace engine

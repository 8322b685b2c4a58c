#pragma once
// One consumer's share of a limited resource (bytes per second, unchoke
// slots or connections) for the next second.

#include <cstdint>
#include <limits>

namespace engine {

struct resource_request {
  // Stands for "no limit" in every field.
  static constexpr std::int32_t inf = std::numeric_limits<std::int32_t>::max();

  resource_request() = default;
  resource_request(std::int32_t used_, std::int32_t min_, std::int32_t max_, std::int32_t given_)
      : used(used_), min(min_), max(max_), given(given_) {}

  std::int32_t used = 0;   // what was used in the last period
  std::int32_t min = 0;    // always granted
  std::int32_t max = inf;  // never more than this
  std::int32_t given = 0;  // the grant for the next period

  bool operator==(const resource_request&) const = default;

  // Bytes (or slots) still available in this period.
  std::int32_t left() const { return given > used ? given - used : 0; }
};

// Settings and reports outside the engine say "no limit" with -1, the engine
// with inf; every other value passes through unchanged.
constexpr std::int32_t limit_from_setting(std::int32_t value) { return value == -1 ? resource_request::inf : value; }
constexpr std::int32_t limit_to_setting(std::int32_t value) { return value == resource_request::inf ? -1 : value; }

// a + b, or inf when the sum overflows.
constexpr std::int32_t saturated_add(std::int32_t a, std::int32_t b) {
  const std::int64_t sum = std::int64_t(a) + b;
  return sum > resource_request::inf ? resource_request::inf : std::int32_t(sum);
}

// Grants up to `amount` more (never beyond max) and returns what was granted.
inline std::int32_t give(resource_request& r, std::int32_t amount) {
  const std::int64_t room = std::int64_t(r.max) - r.given;
  const std::int32_t taken = std::int32_t(room < amount ? (room > 0 ? room : 0) : amount);
  r.given += taken;
  return taken;
}

}  // namespace engine

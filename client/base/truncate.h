#pragma once
// Floating-point values as whole numbers, the way the client's figures are
// shown and compared: truncated toward zero and held within the target's
// range (NaN counts as 0), so that no conversion is undefined.

#include <limits>

namespace client {

template <class T>
T Truncate(double value) {
  if (!(value == value)) return 0;
  if (value <= static_cast<double>(std::numeric_limits<T>::min())) return std::numeric_limits<T>::min();
  if (value >= static_cast<double>(std::numeric_limits<T>::max())) return std::numeric_limits<T>::max();
  return static_cast<T>(value);
}

}  // namespace client

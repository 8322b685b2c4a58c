#pragma once
// Access flags for every IPv4 address, kept as a map of ranges. Bit 0 of
// the flags means blocked; the other bits are carried along unread.

#include <cstdint>
#include <map>
#include <vector>

#include "engine/net/address.h"

namespace engine {

struct ip_range {
  address first;
  address last;
  int flags = 0;

  friend bool operator==(const ip_range&, const ip_range&) = default;
};

class ip_filter {
 public:
  enum access_flags { blocked = 1 };

  // Every address allowed (flags 0).
  ip_filter();

  // Gives every address from `first` to `last` inclusive (ports ignored)
  // the flags `flags`; the others keep theirs. A rule with first above last
  // is empty and changes nothing.
  void add_rule(address first, address last, int flags);

  // The flags of the range that holds `addr`.
  int access(address addr) const;

  // One entry per range in ascending order; together they cover every
  // address once, and neighbours never have equal flags.
  std::vector<ip_range> export_filter() const;

 private:
  // Start of each range -> its flags. A range runs up to the next start
  // minus one, the last one up to 255.255.255.255. There is always a range
  // starting at 0, and neighbouring ranges never have equal flags.
  std::map<std::uint32_t, int> m_ranges;
};

}  // namespace engine

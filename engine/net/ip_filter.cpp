#include "engine/net/ip_filter.h"

#include <iterator>
#include <limits>

namespace engine {

namespace {
constexpr std::uint32_t max_ip = std::numeric_limits<std::uint32_t>::max();
}

ip_filter::ip_filter() { m_ranges.emplace(0, 0); }

int ip_filter::access(address addr) const {
  // The first range starts at 0, so there is always one to step back to.
  return std::prev(m_ranges.upper_bound(addr.ip))->second;
}

void ip_filter::add_rule(address first_addr, address last_addr, int flags) {
  const std::uint32_t first = first_addr.ip;
  const std::uint32_t last = last_addr.ip;
  if (first > last) return;

  const int flags_at_last = access(last_addr);

  // Every range that starts inside the span goes; the span is painted anew.
  m_ranges.erase(m_ranges.lower_bound(first), m_ranges.upper_bound(last));

  // The span starts a range of its own unless the range before it already
  // has the new flags, in which case that one grows over it.
  if (first == 0 || access(address(first - 1, 0)) != flags) m_ranges.emplace(first, flags);

  if (last == max_ip) return;
  const std::uint32_t after = last + 1;
  if (auto next = m_ranges.find(after); next != m_ranges.end()) {
    if (next->second == flags) m_ranges.erase(next);
  } else if (flags_at_last != flags) {
    // The addresses after the span keep the flags they had.
    m_ranges.emplace(after, flags_at_last);
  }
}

std::vector<ip_range> ip_filter::export_filter() const {
  std::vector<ip_range> out;
  out.reserve(m_ranges.size());
  for (auto it = m_ranges.begin(); it != m_ranges.end(); ++it) {
    auto next = std::next(it);
    const std::uint32_t last = next == m_ranges.end() ? max_ip : next->first - 1;
    out.push_back(ip_range{address(it->first, 0), address(last, 0), it->second});
  }
  return out;
}

}  // namespace engine

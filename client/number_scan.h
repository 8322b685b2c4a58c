#pragma once
// Reading numbers out of short texts the way the "%u" conversions of the C
// library's scanf family do: blanks and other white space before a number
// are skipped, a sign is allowed (a minus wraps the value around), and text
// after the last item is ignored. The filter file, the filter table and the
// update reply are read this way.

#include <cstdint>
#include <string_view>

namespace client {

class NumberScan {
 public:
  explicit NumberScan(std::string_view text) : m_text(text) {}

  // One "%u": false when no digit follows (the position is then undefined).
  bool Number(std::uint32_t& out);
  // One literal character, matched exactly (no white space is skipped).
  bool Literal(char c);
  // Four numbers separated by dots ("%u.%u.%u.%u").
  bool DottedQuad(std::uint32_t (&parts)[4]);

 private:
  std::string_view m_text;
  std::size_t m_pos = 0;
};

}  // namespace client

#pragma once
// Reading numbers out of short texts the way the "%u" conversions of the C
// library's scanf family do: blanks and other white space before a number
// are skipped, a sign is allowed (a minus wraps an unsigned value around),
// and text after the last item is ignored. The filter file, the filter
// table, the update reply, the torrent list file and the settings' ratios
// are read this way.
// Numbers are read the same whatever the user's locale.

#include <cstdint>
#include <string_view>

namespace client {

class NumberScan {
 public:
  explicit NumberScan(std::string_view text) : m_text(text) {}

  // One "%u": false when no digit follows (the position is then undefined).
  bool Number(std::uint32_t& out);
  // "%llu" (written "%I64u" on the other side).
  bool Number(std::uint64_t& out);
  // "%d": a value beyond the type's range is held at its end.
  bool Number(std::int32_t& out);
  // "%lf" with a decimal point, never a comma; only finite values count.
  bool Number(double& out);
  // A ratio: "%lf", with a decimal comma read as the point too (earlier
  // versions wrote ratios under the user's locale, and users type them so).
  bool Ratio(double& out);
  // One literal character, matched exactly (no white space is skipped).
  bool Literal(char c);
  // Four numbers separated by dots ("%u.%u.%u.%u").
  bool DottedQuad(std::uint32_t (&parts)[4]);
  // Whether the whole text has been read.
  bool AtEnd() const { return m_pos >= m_text.size(); }

 private:
  // Blanks, a sign and the digits; false when no digit follows. A value too
  // large for 64 bits saturates.
  bool Digits(std::uint64_t& value, bool& negative, bool& saturated);
  void SkipSpace();

  std::string_view m_text;
  std::size_t m_pos = 0;
};

}  // namespace client

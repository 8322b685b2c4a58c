#include "client/base/number_scan.h"

#include <charconv>
#include <cmath>
#include <limits>
#include <string>

namespace client {

namespace {
bool IsSpace(char c) { return c == ' ' || (c >= '\t' && c <= '\r'); }
bool IsDigit(char c) { return c >= '0' && c <= '9'; }
}  // namespace

void NumberScan::SkipSpace() {
  while (m_pos < m_text.size() && IsSpace(m_text[m_pos])) ++m_pos;
}

bool NumberScan::Digits(std::uint64_t& value, bool& negative, bool& saturated) {
  SkipSpace();
  negative = false;
  if (m_pos < m_text.size() && (m_text[m_pos] == '+' || m_text[m_pos] == '-')) negative = m_text[m_pos++] == '-';
  if (m_pos >= m_text.size() || !IsDigit(m_text[m_pos])) return false;
  constexpr std::uint64_t max = std::numeric_limits<std::uint64_t>::max();
  value = 0;
  saturated = false;
  for (; m_pos < m_text.size() && IsDigit(m_text[m_pos]); ++m_pos) {
    const unsigned digit = unsigned(m_text[m_pos] - '0');
    saturated = saturated || value > (max - digit) / 10;
    value = saturated ? max : value * 10 + digit;
  }
  return true;
}

bool NumberScan::Number(std::uint64_t& out) {
  std::uint64_t value;
  bool negative, saturated;
  if (!Digits(value, negative, saturated)) return false;
  out = negative && !saturated ? 0 - value : value;
  return true;
}

bool NumberScan::Number(std::uint32_t& out) {
  // Like strtoul: a value too large for the widest unsigned type saturates,
  // and the conversion keeps its low 32 bits.
  std::uint64_t value = 0;
  if (!Number(value)) return false;
  out = static_cast<std::uint32_t>(value);
  return true;
}

bool NumberScan::Number(std::int32_t& out) {
  std::uint64_t value;
  bool negative, saturated;
  if (!Digits(value, negative, saturated)) return false;
  constexpr std::uint64_t max = std::numeric_limits<std::int32_t>::max();
  if (negative) out = value > max + 1 ? std::numeric_limits<std::int32_t>::min() : static_cast<std::int32_t>(0 - value);
  else out = value > max ? std::numeric_limits<std::int32_t>::max() : static_cast<std::int32_t>(value);
  return true;
}

bool NumberScan::Number(double& out) {
  SkipSpace();
  // from_chars takes a minus but no plus.
  if (m_pos + 1 < m_text.size() && m_text[m_pos] == '+' && (IsDigit(m_text[m_pos + 1]) || m_text[m_pos + 1] == '.'))
    ++m_pos;
  double value = 0;
  const char* first = m_text.data() + m_pos;
  const auto [end, ec] = std::from_chars(first, m_text.data() + m_text.size(), value);
  if (ec != std::errc() || !std::isfinite(value)) return false;
  m_pos += static_cast<std::size_t>(end - first);
  out = value;
  return true;
}

bool NumberScan::Ratio(double& out) {
  SkipSpace();
  // The comma counts only where a point would: after the integer digits.
  std::size_t at = m_pos;
  if (at < m_text.size() && (m_text[at] == '+' || m_text[at] == '-')) ++at;
  while (at < m_text.size() && IsDigit(m_text[at])) ++at;
  if (at >= m_text.size() || m_text[at] != ',') return Number(out);
  std::string pointed(m_text);
  pointed[at] = '.';
  NumberScan scan(pointed);
  scan.m_pos = m_pos;
  if (!scan.Number(out)) return false;
  m_pos = scan.m_pos;
  return true;
}

bool NumberScan::Literal(char c) {
  if (m_pos >= m_text.size() || m_text[m_pos] != c) return false;
  ++m_pos;
  return true;
}

bool NumberScan::DottedQuad(std::uint32_t (&parts)[4]) {
  return Number(parts[0]) && Literal('.') && Number(parts[1]) && Literal('.') && Number(parts[2]) &&
         Literal('.') && Number(parts[3]);
}

}  // namespace client

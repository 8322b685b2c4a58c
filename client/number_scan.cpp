#include "client/number_scan.h"

#include <limits>

namespace client {

namespace {
bool IsSpace(char c) { return c == ' ' || (c >= '\t' && c <= '\r'); }
bool IsDigit(char c) { return c >= '0' && c <= '9'; }
}  // namespace

bool NumberScan::Number(std::uint32_t& out) {
  while (m_pos < m_text.size() && IsSpace(m_text[m_pos])) ++m_pos;
  bool negative = false;
  if (m_pos < m_text.size() && (m_text[m_pos] == '+' || m_text[m_pos] == '-')) negative = m_text[m_pos++] == '-';
  if (m_pos >= m_text.size() || !IsDigit(m_text[m_pos])) return false;
  // Like strtoul: a value too large for the widest unsigned type saturates,
  // and the conversion keeps its low 32 bits.
  constexpr std::uint64_t max = std::numeric_limits<std::uint64_t>::max();
  std::uint64_t value = 0;
  bool saturated = false;
  for (; m_pos < m_text.size() && IsDigit(m_text[m_pos]); ++m_pos) {
    const unsigned digit = unsigned(m_text[m_pos] - '0');
    saturated = saturated || value > (max - digit) / 10;
    value = saturated ? max : value * 10 + digit;
  }
  if (negative && !saturated) value = 0 - value;
  out = static_cast<std::uint32_t>(value);
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

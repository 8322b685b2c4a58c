#pragma once
// 20 raw bytes: info-hash, piece hash, peer id and DHT node id.

#include <algorithm>
#include <array>
#include <compare>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <functional>
#include <string>
#include <string_view>

namespace engine {

class sha1_hash {
 public:
  static constexpr std::size_t size = 20;

  constexpr sha1_hash() = default;
  // Copies exactly 20 bytes from `bytes`.
  explicit sha1_hash(const void* bytes) { std::memcpy(m_bytes.data(), bytes, size); }
  // Copies the first 20 bytes of `s`; a shorter text is padded with zeros.
  static sha1_hash from_bytes(std::string_view s) {
    sha1_hash h;
    std::memcpy(h.m_bytes.data(), s.data(), std::min(s.size(), size));
    return h;
  }

  bool is_all_zeros() const {
    return std::all_of(m_bytes.begin(), m_bytes.end(), [](std::uint8_t b) { return b == 0; });
  }
  void clear() { m_bytes.fill(0); }

  std::uint8_t& operator[](std::size_t i) { return m_bytes[i]; }
  std::uint8_t operator[](std::size_t i) const { return m_bytes[i]; }
  std::uint8_t* data() { return m_bytes.data(); }
  const std::uint8_t* data() const { return m_bytes.data(); }
  auto begin() { return m_bytes.begin(); }
  auto end() { return m_bytes.end(); }
  auto begin() const { return m_bytes.begin(); }
  auto end() const { return m_bytes.end(); }

  // The raw 20 bytes as a byte string.
  std::string to_string() const { return std::string(reinterpret_cast<const char*>(m_bytes.data()), size); }
  // 40 lower-case hexadecimal digits.
  std::string to_hex() const {
    static const char digits[] = "0123456789abcdef";
    std::string out(2 * size, '0');
    for (std::size_t i = 0; i < size; ++i) {
      out[2 * i] = digits[m_bytes[i] >> 4];
      out[2 * i + 1] = digits[m_bytes[i] & 15];
    }
    return out;
  }

  // Bytewise unsigned order: the first differing byte decides.
  friend auto operator<=>(const sha1_hash&, const sha1_hash&) = default;
  friend bool operator==(const sha1_hash&, const sha1_hash&) = default;

 private:
  std::array<std::uint8_t, size> m_bytes{};
};

using peer_id = sha1_hash;

}  // namespace engine

template <>
struct std::hash<engine::sha1_hash> {
  std::size_t operator()(const engine::sha1_hash& h) const noexcept {
    std::size_t v;
    std::memcpy(&v, h.data(), sizeof v);
    return v;
  }
};

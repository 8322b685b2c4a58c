#include "engine/wire/send_buffer.h"

#include <algorithm>
#include <cstring>

namespace engine {

char* send_buffer::append_space(std::size_t n) {
  if (m_buf.size() - m_end < n) {
    const std::size_t used = size();
    if (m_begin > 0 && m_buf.size() - used >= n && used <= m_begin) {
      // The unsent bytes do not overlap their new place: one cheap copy.
      std::memcpy(m_buf.data(), m_buf.data() + m_begin, used);
    } else if (m_begin > 0 && m_buf.size() - used >= n) {
      std::memmove(m_buf.data(), m_buf.data() + m_begin, used);
    } else {
      std::vector<char> bigger(std::max(m_buf.size() * 2, used + n + 4096));
      if (used > 0) std::memcpy(bigger.data(), m_buf.data() + m_begin, used);
      m_buf.swap(bigger);
    }
    m_begin = 0;
    m_end = used;
  }
  char* p = m_buf.data() + m_end;
  m_end += n;
  return p;
}

void send_buffer::append(const void* bytes, std::size_t n) {
  if (n == 0) return;
  std::memcpy(append_space(n), bytes, n);
}

void send_buffer::mark_payload(std::size_t length) {
  m_payload.push_back({std::int64_t(size() - length), std::int64_t(length)});
}

std::size_t send_buffer::consume(std::size_t n) {
  n = std::min(n, size());
  m_begin += n;
  if (m_begin == m_end) m_begin = m_end = 0;

  std::size_t payload = 0;
  std::size_t whole = 0;
  for (auto& r : m_payload) {
    r.offset -= std::int64_t(n);
    if (r.offset >= 0) continue;
    if (r.offset + r.length <= 0) {
      payload += std::size_t(r.length);
      ++whole;
    } else {
      payload += std::size_t(-r.offset);
      r.length += r.offset;
      r.offset = 0;
    }
  }
  // Ranges are kept in buffer order, so the ones sent whole are at the front.
  m_payload.erase(m_payload.begin(), m_payload.begin() + std::ptrdiff_t(whole));
  return payload;
}

}  // namespace engine

#pragma once
// The bytes waiting to go out on one connection. Appending never moves the
// unsent bytes more than once per wrap, and the buffer only grows when more
// is queued than ever before, so steady traffic allocates nothing. Ranges of
// piece data are noted so that the bytes sent can be split into payload and
// protocol overhead.

#include <cstddef>
#include <cstdint>
#include <vector>

namespace engine {

class send_buffer {
 public:
  std::size_t size() const { return m_end - m_begin; }
  bool empty() const { return m_begin == m_end; }
  const char* data() const { return m_buf.data() + m_begin; }

  void append(const void* bytes, std::size_t n);
  // Room for `n` bytes at the end, already counted as queued; the caller
  // fills them (for example straight from storage). Valid until the next
  // change of the buffer.
  char* append_space(std::size_t n);

  // Notes that the last `length` bytes appended are piece data.
  void mark_payload(std::size_t length);

  // `n` bytes from the front went out; returns how many of them were piece
  // data (the rest is protocol overhead).
  std::size_t consume(std::size_t n);

  // Pending payload ranges, as {offset from the front, length}.
  struct range {
    std::int64_t offset;
    std::int64_t length;
  };
  const std::vector<range>& payload_ranges() const { return m_payload; }

 private:
  std::vector<char> m_buf;
  std::size_t m_begin = 0;
  std::size_t m_end = 0;
  std::vector<range> m_payload;
};

}  // namespace engine

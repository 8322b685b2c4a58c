#include "engine/wire/metadata_transfer.h"

#include <algorithm>
#include <cstring>
#include <numeric>

#include "engine/formats/sha1.h"

namespace engine {

void metadata_transfer::reset() {
  m_buffer.clear();
  m_have.fill(false);
  m_bytes_received = 0;
}

metadata_transfer::result metadata_transfer::received(const char* data, int size, int offset, int total_size,
                                                      const sha1_hash& info_hash) {
  if (total_size <= 0 || total_size > max_size || offset < 0 || size < 0 || size > total_size - offset)
    return result::incomplete;
  if (int(m_buffer.size()) != total_size) {
    // Peers disagree on the size: the latest one counts, so that one peer
    // naming a wrong size cannot hold up the honest ones for good.
    reset();
    m_buffer.resize(std::size_t(total_size));
  }

  std::memcpy(m_buffer.data() + offset, data, std::size_t(size));
  m_bytes_received = std::min<std::int64_t>(m_bytes_received + size, total_size);
  const int first = int(std::int64_t(offset) * parts / total_size);
  const int end = int(std::int64_t(offset + size) * parts / total_size);
  std::fill(m_have.begin() + first, m_have.begin() + end, true);
  if (!std::all_of(m_have.begin(), m_have.end(), [](bool b) { return b; })) return result::incomplete;

  if (hasher(m_buffer.data(), int(m_buffer.size())).final() != info_hash) {
    reset();
    return result::failed;
  }
  return result::complete;
}

std::pair<int, int> metadata_transfer::request(int num_metadata_peers) {
  const int count = std::max(parts / (std::max(num_metadata_peers, 0) + 1), 1);
  int best_start = 0;
  std::int64_t best_score = -1;
  // A part already received weighs as if every peer had been asked for it
  // many times over, so the window goes where parts are still missing.
  std::array<std::int64_t, parts> weight{};
  for (int i = 0; i < parts; ++i)
    weight[std::size_t(i)] = m_requested[std::size_t(i)] + (m_have[std::size_t(i)] ? std::int64_t(1) << 32 : 0);
  for (int start = 0; start + count <= parts; ++start) {
    const auto first = weight.begin() + start;
    const std::int64_t score =
        *std::min_element(first, first + count) + std::accumulate(first, first + count, std::int64_t(0));
    if (best_score < 0 || score < best_score) {
      best_score = score;
      best_start = start;
    }
  }
  for (int i = best_start; i < best_start + count; ++i) ++m_requested[std::size_t(i)];
  return {best_start, count};
}

void metadata_transfer::cancel(std::pair<int, int> window) {
  const int first = std::clamp(window.first, 0, parts);
  const int end = std::clamp(window.first + window.second, first, parts);
  for (int i = first; i < end; ++i) m_requested[std::size_t(i)] = std::max(m_requested[std::size_t(i)] - 1, 0);
}

std::pair<int, int> metadata_transfer::window_to_bytes(std::pair<int, int> window, int size) {
  auto up = [size](int part) { return int((std::int64_t(part) * size + parts - 1) / parts); };
  return {up(window.first), up(window.first + window.second)};
}

int metadata_transfer::byte_to_part(int offset, int size) {
  return size <= 0 ? 0 : int(std::int64_t(offset) * parts / size);
}

}  // namespace engine

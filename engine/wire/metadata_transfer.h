#pragma once
// The metadata (bencoded info dictionary) of a torrent known only by its
// info-hash, as it arrives from the swarm in parts, and the choice of which
// part to ask each peer for. Positions are counted in 1/256 of the metadata's
// size. Free of I/O: the torrent feeds it what its peers send.

#include <array>
#include <cstdint>
#include <utility>
#include <vector>

#include "engine/formats/sha1_hash.h"

namespace engine {

class metadata_transfer {
 public:
  static constexpr int parts = 256;
  // Larger metadata is refused: no real torrent needs more, and a peer must
  // not make us allocate what it likes.
  static constexpr int max_size = 16 * 1024 * 1024;

  enum class result { incomplete, failed, complete };

  // Copies `size` bytes at `offset` of metadata of `total_size` bytes. Once
  // every part is in, the SHA-1 of the whole must equal `info_hash`:
  // `complete`, and buffer() holds it; else `failed`, and everything received
  // is dropped so that it is asked for again. A part that does not fit the
  // metadata is ignored; one whose total differs from the one seen before
  // starts the metadata over with the new total.
  result received(const char* data, int size, int offset, int total_size, const sha1_hash& info_hash);

  // The window (start, count) of parts to ask a peer for, among
  // `num_metadata_peers` peers that have the metadata extension: the least
  // requested one of 256 / (n + 1) parts among those not yet received.
  // Counts it as requested.
  std::pair<int, int> request(int num_metadata_peers);
  // A request was answered or dropped: its parts count as requested once less.
  void cancel(std::pair<int, int> window);

  const std::vector<char>& buffer() const { return m_buffer; }
  // For the progress figure; both 0 while the size is unknown.
  std::int64_t bytes_received() const { return m_bytes_received; }
  int total_size() const { return int(m_buffer.size()); }

  // The bytes [first, end) of a window of parts of metadata of `size` bytes.
  static std::pair<int, int> window_to_bytes(std::pair<int, int> window, int size);
  // The part in which byte `offset` lies.
  static int byte_to_part(int offset, int size);

 private:
  void reset();

  std::vector<char> m_buffer;
  std::array<bool, parts> m_have{};
  std::array<int, parts> m_requested{};
  std::int64_t m_bytes_received = 0;
};

}  // namespace engine

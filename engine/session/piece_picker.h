#pragma once
// Knows, for every piece of a torrent, how many connected peers have it,
// whether we have it, whether it is wanted, and which of its blocks are
// requested or finished and from whom; picks the blocks to ask a peer for,
// rarest first with partial pieces preferred. Pieces sit in buckets by peer
// count so that every update is constant time and picking visits only as
// many buckets as it needs.

#include <array>
#include <bitset>
#include <cstdint>
#include <random>
#include <vector>

#include "engine/formats/random.h"
#include "engine/net/address.h"
#include "engine/session/piece_block.h"

namespace engine {

class piece_picker {
 public:
  static constexpr int max_blocks_per_piece = 256;
  // The peer count of a piece saturates here rather than spill into the
  // piece's flags; it also bounds the bucket tables.
  static constexpr int max_peer_count = 2047;
  // Pieces from this count on are refused.
  static constexpr int max_pieces = 0x3ffff;
  // At most this many blocks already requested from other peers are offered
  // by one pick (they feed the end game and nothing else).
  static constexpr int max_busy_blocks = 10;

  struct downloading_piece {
    std::int32_t index = 0;
    std::bitset<max_blocks_per_piece> requested;
    std::bitset<max_blocks_per_piece> finished;
    // The peer each block was requested from or received from.
    std::vector<address> info = std::vector<address>(max_blocks_per_piece);
    // How often each block was requested, from whichever peer.
    std::array<std::int32_t, max_blocks_per_piece> num_downloads{};
  };

  // Every piece starts as had, with no peers; files_checked brings the
  // picker to its real state. `seed` drives the shuffles.
  piece_picker(int blocks_per_piece, int total_num_blocks, std::uint32_t seed = random_u32());

  // `pieces` holds one bit per piece we have; `unfinished` lists the
  // finished blocks of partly downloaded pieces.
  void files_checked(const std::vector<bool>& pieces, const std::vector<downloading_piece>& unfinished);

  void inc_refcount(int piece);
  void dec_refcount(int piece);

  void we_have(int piece);
  bool have_piece(int piece) const { return m_piece_map[piece].have(); }

  void filter(int piece);
  void unfilter(int piece);
  bool is_filtered(int piece) const { return m_piece_map[piece].filtered; }
  std::vector<bool> filtered_pieces() const;
  int num_filtered() const { return m_num_filtered; }
  int num_have_filtered() const { return m_num_have_filtered; }

  void mark_as_downloading(piece_block block, const address& peer);
  void mark_as_finished(piece_block block, const address& peer);
  void abort_download(piece_block block);
  bool is_requested(piece_block block) const;
  bool is_finished(piece_block block) const;
  bool is_piece_finished(int piece) const;
  // Drops the piece's downloading record: after a hash check, before
  // we_have or a retry.
  void restore_piece(int piece);

  // Forgets the finished blocks that `peer` delivered, of every partly
  // downloaded piece but those `keep` names, so that they are fetched again.
  // Returns the number of blocks forgotten.
  int forget_blocks_of(const address& peer, const std::vector<int>& keep);
  // The peer each block of the piece was requested from or received from,
  // in block order (zero addresses without a record).
  std::vector<address> get_downloaders(int piece) const;
  const std::vector<downloading_piece>& get_download_queue() const { return m_downloads; }

  float distributed_copies() const;

  // Appends to `out` the blocks to ask the peer (who has `peer_pieces`) for;
  // `num_blocks` is how many fresh blocks are wanted. The output is bounded:
  // about twice the wanted number, one whole piece and max_busy_blocks.
  void pick_pieces(const std::vector<bool>& peer_pieces, std::vector<piece_block>& out, int num_blocks,
                   bool prefer_whole_pieces, const address& peer) const;

  int num_pieces() const { return int(m_piece_map.size()); }
  int blocks_per_piece() const { return m_blocks_per_piece; }
  int blocks_in_piece(int piece) const {
    return piece + 1 == num_pieces() ? m_blocks_in_last_piece : m_blocks_per_piece;
  }
  int peer_count(int piece) const { return m_piece_map[piece].peer_count; }

 private:
  struct piece_pos {
    static constexpr std::uint32_t we_have_index = 0x3ffff;
    std::uint32_t peer_count : 11 = 0;
    std::uint32_t downloading : 1 = 0;
    std::uint32_t filtered : 1 = 0;
    std::uint32_t index : 19 = we_have_index;  // position in its bucket
    bool have() const { return index == we_have_index; }
    // Only wanted pieces that we lack sit in a bucket.
    bool in_bucket() const { return !have() && !filtered; }
  };

  std::vector<int>& bucket_for(const piece_pos& p);
  void add_to_bucket(int piece);
  void remove_from_bucket(int piece);
  downloading_piece& start_download(int piece);
  void drop_download(int piece);
  const downloading_piece* find_download(int piece) const;
  void check_block(piece_block block) const;
  bool exclusively_requested_from(const downloading_piece& dp, int num_blocks, const address& peer) const;

  std::vector<piece_pos> m_piece_map;
  // [0]: pieces without a downloading record, [1]: with one; each a vector of
  // buckets indexed by peer count.
  std::vector<std::vector<int>> m_piece_info[2];
  std::vector<downloading_piece> m_downloads;
  std::vector<std::int32_t> m_download_slot;  // piece -> index in m_downloads, -1 none
  int m_blocks_per_piece;
  int m_blocks_in_last_piece;
  int m_num_filtered = 0;
  int m_num_have_filtered = 0;
  std::minstd_rand m_rng;  // small: every torrent has a picker
};

}  // namespace engine

#include "engine/session/piece_picker.h"

#include <algorithm>
#include <cassert>
#include <stdexcept>

namespace engine {

piece_picker::piece_picker(int blocks_per_piece, int total_num_blocks, std::uint32_t seed)
    : m_blocks_per_piece(blocks_per_piece), m_rng(seed) {
  if (blocks_per_piece < 1 || blocks_per_piece > max_blocks_per_piece)
    throw std::out_of_range("blocks per piece out of range");
  if (total_num_blocks < 0) throw std::out_of_range("negative number of blocks");
  const std::int64_t pieces = (std::int64_t(total_num_blocks) + blocks_per_piece - 1) / blocks_per_piece;
  if (pieces >= max_pieces) throw std::runtime_error("too many pieces in torrent");
  m_piece_map.resize(std::size_t(pieces));
  m_download_slot.assign(std::size_t(pieces), -1);
  const int rest = total_num_blocks % blocks_per_piece;
  m_blocks_in_last_piece = rest == 0 ? blocks_per_piece : rest;
  for (auto& table : m_piece_info) table.resize(2);
}

std::vector<int>& piece_picker::bucket_for(const piece_pos& p) {
  auto& table = m_piece_info[p.downloading];
  if (table.size() <= p.peer_count) table.resize(p.peer_count + 1);
  return table[p.peer_count];
}

void piece_picker::add_to_bucket(int piece) {
  piece_pos& p = m_piece_map[piece];
  auto& bucket = bucket_for(p);
  p.index = std::uint32_t(bucket.size());
  bucket.push_back(piece);
}

// Swap-with-last removal; the caller sets the piece's new index.
void piece_picker::remove_from_bucket(int piece) {
  const piece_pos& p = m_piece_map[piece];
  auto& bucket = m_piece_info[p.downloading][p.peer_count];
  assert(p.index < bucket.size() && bucket[p.index] == piece);
  const int last = bucket.back();
  bucket[p.index] = last;
  m_piece_map[last].index = p.index;
  bucket.pop_back();
}

void piece_picker::files_checked(const std::vector<bool>& pieces,
                                 const std::vector<downloading_piece>& unfinished) {
  std::vector<int> wanted;
  for (int i = 0; i < num_pieces(); ++i) {
    piece_pos& p = m_piece_map[i];
    if (i < int(pieces.size()) && pieces[i]) {
      we_have(i);
      continue;
    }
    if (!p.have()) continue;  // already brought to its state
    if (p.filtered) {
      p.index = 0;
      --m_num_have_filtered;
      ++m_num_filtered;
    } else {
      wanted.push_back(i);
    }
  }
  std::shuffle(wanted.begin(), wanted.end(), m_rng);
  for (int i : wanted) add_to_bucket(i);

  for (const auto& dp : unfinished) {
    if (dp.index < 0 || dp.index >= num_pieces()) continue;
    const int n = blocks_in_piece(dp.index);
    for (int b = 0; b < n; ++b)
      if (dp.finished[b]) mark_as_finished(piece_block(dp.index, b), address());
  }
}

void piece_picker::inc_refcount(int piece) {
  piece_pos& p = m_piece_map[piece];
  if (p.peer_count >= max_peer_count) return;
  if (!p.in_bucket()) {
    ++p.peer_count;
    return;
  }
  remove_from_bucket(piece);
  ++p.peer_count;
  add_to_bucket(piece);
}

void piece_picker::dec_refcount(int piece) {
  piece_pos& p = m_piece_map[piece];
  if (p.peer_count == 0) return;
  if (!p.in_bucket()) {
    --p.peer_count;
    return;
  }
  remove_from_bucket(piece);
  --p.peer_count;
  add_to_bucket(piece);
}

void piece_picker::we_have(int piece) {
  piece_pos& p = m_piece_map[piece];
  if (p.have()) return;
  if (p.downloading) drop_download(piece);
  if (p.filtered) {
    --m_num_filtered;
    ++m_num_have_filtered;
  } else {
    remove_from_bucket(piece);
  }
  p.downloading = 0;
  p.index = piece_pos::we_have_index;
}

void piece_picker::filter(int piece) {
  piece_pos& p = m_piece_map[piece];
  if (p.filtered) return;
  if (p.have()) {
    ++m_num_have_filtered;
  } else {
    ++m_num_filtered;
    remove_from_bucket(piece);
    p.index = 0;
  }
  p.filtered = 1;
}

void piece_picker::unfilter(int piece) {
  piece_pos& p = m_piece_map[piece];
  if (!p.filtered) return;
  p.filtered = 0;
  if (p.have()) {
    --m_num_have_filtered;
  } else {
    --m_num_filtered;
    add_to_bucket(piece);
  }
}

std::vector<bool> piece_picker::filtered_pieces() const {
  std::vector<bool> out(m_piece_map.size());
  for (std::size_t i = 0; i < m_piece_map.size(); ++i) out[i] = m_piece_map[i].filtered;
  return out;
}

const piece_picker::downloading_piece* piece_picker::find_download(int piece) const {
  const int slot = m_download_slot[piece];
  return slot < 0 ? nullptr : &m_downloads[slot];
}

piece_picker::downloading_piece& piece_picker::start_download(int piece) {
  if (const int slot = m_download_slot[piece]; slot >= 0) return m_downloads[slot];
  piece_pos& p = m_piece_map[piece];
  const bool moves = p.in_bucket();
  if (moves) remove_from_bucket(piece);
  p.downloading = 1;
  if (moves) add_to_bucket(piece);
  m_download_slot[piece] = std::int32_t(m_downloads.size());
  m_downloads.emplace_back();
  m_downloads.back().index = piece;
  return m_downloads.back();
}

void piece_picker::drop_download(int piece) {
  const int slot = m_download_slot[piece];
  if (slot >= 0) {
    if (slot + 1 != int(m_downloads.size())) {
      m_downloads[slot] = std::move(m_downloads.back());
      m_download_slot[m_downloads[slot].index] = slot;
    }
    m_downloads.pop_back();
    m_download_slot[piece] = -1;
  }
  piece_pos& p = m_piece_map[piece];
  if (!p.downloading) return;
  const bool moves = p.in_bucket();
  if (moves) remove_from_bucket(piece);
  p.downloading = 0;
  if (moves) add_to_bucket(piece);
}

void piece_picker::check_block(piece_block block) const {
  if (block.piece_index < 0 || block.piece_index >= num_pieces())
    throw std::out_of_range("piece index out of range");
  if (block.block_index < 0 || block.block_index >= blocks_in_piece(block.piece_index))
    throw std::out_of_range("block index out of range");
}

void piece_picker::mark_as_downloading(piece_block block, const address& peer) {
  check_block(block);
  downloading_piece& dp = start_download(block.piece_index);
  dp.info[block.block_index] = peer;
  dp.requested.set(block.block_index);
  ++dp.num_downloads[std::size_t(block.block_index)];
}

void piece_picker::mark_as_finished(piece_block block, const address& peer) {
  check_block(block);
  const piece_pos& p = m_piece_map[block.piece_index];
  if (p.have() || p.filtered) return;
  downloading_piece& dp = start_download(block.piece_index);
  dp.info[block.block_index] = peer;
  dp.requested.set(block.block_index);
  dp.finished.set(block.block_index);
}

void piece_picker::abort_download(piece_block block) {
  check_block(block);
  const int slot = m_download_slot[block.piece_index];
  if (slot < 0) return;
  downloading_piece& dp = m_downloads[slot];
  if (dp.finished[block.block_index]) return;
  dp.requested.reset(block.block_index);
  if (dp.requested.none() && dp.finished.none()) drop_download(block.piece_index);
}

bool piece_picker::is_requested(piece_block block) const {
  check_block(block);
  const downloading_piece* dp = find_download(block.piece_index);
  return dp && dp->requested[block.block_index];
}

bool piece_picker::is_finished(piece_block block) const {
  check_block(block);
  if (m_piece_map[block.piece_index].have()) return true;
  const downloading_piece* dp = find_download(block.piece_index);
  return dp && dp->finished[block.block_index];
}

bool piece_picker::is_piece_finished(int piece) const {
  const downloading_piece* dp = find_download(piece);
  return dp && int(dp->finished.count()) == blocks_in_piece(piece);
}

void piece_picker::restore_piece(int piece) { drop_download(piece); }

int piece_picker::forget_blocks_of(const address& peer, const std::vector<int>& keep) {
  std::vector<int> emptied;
  int forgotten = 0;
  for (downloading_piece& dp : m_downloads) {
    if (std::find(keep.begin(), keep.end(), dp.index) != keep.end()) continue;
    for (int b = 0; b < blocks_in_piece(dp.index); ++b) {
      if (!dp.finished[b] || dp.info[std::size_t(b)] != peer) continue;
      dp.finished.reset(b);
      dp.requested.reset(b);
      dp.info[std::size_t(b)] = address();
      ++forgotten;
    }
    if (dp.requested.none() && dp.finished.none()) emptied.push_back(dp.index);
  }
  for (int piece : emptied) drop_download(piece);
  return forgotten;
}

std::vector<address> piece_picker::get_downloaders(int piece) const {
  const int n = blocks_in_piece(piece);
  const downloading_piece* dp = find_download(piece);
  if (!dp) return std::vector<address>(std::size_t(n));
  return std::vector<address>(dp->info.begin(), dp->info.begin() + n);
}

float piece_picker::distributed_copies() const {
  const auto& table = m_piece_info[0];
  for (std::size_t k = 0; k < table.size(); ++k) {
    if (table[k].empty()) continue;
    return float(double(k) + 1.0 - double(table[k].size()) / double(num_pieces()));
  }
  return 1.0f;
}

bool piece_picker::exclusively_requested_from(const downloading_piece& dp, int num_blocks,
                                              const address& peer) const {
  for (int b = 0; b < num_blocks; ++b) {
    if (!dp.requested[b] && !dp.finished[b]) continue;
    if (dp.info[b] != peer) return false;
  }
  return true;
}

void piece_picker::pick_pieces(const std::vector<bool>& peer_pieces, std::vector<piece_block>& out,
                               int num_blocks, bool prefer_whole_pieces, const address& peer) const {
  if (num_blocks <= 0) return;
  const auto has = [&](int piece) { return piece < int(peer_pieces.size()) && peer_pieces[piece]; };
  const auto& free_table = m_piece_info[0];
  const auto& busy_table = m_piece_info[1];
  std::vector<piece_block> backup;
  int busy_offered = 0;

  // Partial pieces with up to twice the peer count of the free bucket come
  // first: each round visits two downloading buckets, then one free bucket.
  std::size_t next_busy = 1;
  std::size_t next_free = 1;
  while (num_blocks > 0 && (next_busy < busy_table.size() || next_free < free_table.size())) {
    for (int i = 0; i < 2 && next_busy < busy_table.size() && num_blocks > 0; ++i, ++next_busy) {
      for (int piece : busy_table[next_busy]) {
        if (!has(piece)) continue;
        const downloading_piece& dp = *find_download(piece);
        const int n = blocks_in_piece(piece);
        if (prefer_whole_pieces && !exclusively_requested_from(dp, n, peer)) {
          for (int b = 0; b < n && int(backup.size()) < num_blocks; ++b) {
            if (dp.finished[b] || (dp.requested[b] && dp.info[b] == peer)) continue;
            backup.emplace_back(piece, b);
          }
          continue;
        }
        for (int b = 0; b < n; ++b) {
          if (dp.finished[b]) continue;
          if (dp.requested[b]) {
            if (dp.info[b] == peer || busy_offered >= max_busy_blocks) continue;
            ++busy_offered;
            out.emplace_back(piece, b);
            continue;
          }
          out.emplace_back(piece, b);
          --num_blocks;
          if (!prefer_whole_pieces && num_blocks <= 0) break;
        }
        if (num_blocks <= 0) break;
      }
    }
    if (num_blocks <= 0) break;
    if (next_free < free_table.size()) {
      for (int piece : free_table[next_free]) {
        if (!has(piece)) continue;
        int n = blocks_in_piece(piece);
        if (!prefer_whole_pieces) n = std::min(n, num_blocks);
        for (int b = 0; b < n; ++b) out.emplace_back(piece, b);
        num_blocks -= n;
        if (num_blocks <= 0) break;
      }
      ++next_free;
    }
  }
  if (num_blocks > 0 && prefer_whole_pieces) {
    const int n = std::min(num_blocks, int(backup.size()));
    out.insert(out.end(), backup.begin(), backup.begin() + n);
  }
}

}  // namespace engine

#include "engine/storage/piece_manager.h"

#include <algorithm>
#include <atomic>
#include <deque>
#include <unordered_map>

#include "engine/formats/sha1.h"
#include "engine/storage/file_cache.h"
#include "platform/mutex.h"

namespace engine {

namespace {

enum class check_state { not_started, hashing, allocating, done };

}  // namespace

struct piece_manager::impl {
  impl(const torrent_metainfo& info, const std::filesystem::path& save_path, file_cache& cache)
      : st(info, save_path, cache),
        num_pieces(st.info().num_pieces()),
        piece_to_slot(static_cast<std::size_t>(num_pieces), has_no_slot),
        slot_to_piece(static_cast<std::size_t>(num_pieces), unallocated) {
    for (int s = 0; s < num_pieces; ++s) unallocated_slots.push_back(s);
  }

  int piece_size(int piece) const { return static_cast<int>(st.info().piece_size(piece)); }
  // Bytes of the piece a slot holds (the slot's own size when it holds none).
  int held_size(int slot) const REQUIRES(mutex) {
    const int p = slot_to_piece[static_cast<std::size_t>(slot)];
    return piece_size(p >= 0 ? p : slot);
  }
  int& to_slot(int piece) REQUIRES(mutex) { return piece_to_slot[static_cast<std::size_t>(piece)]; }
  int& to_piece(int slot) REQUIRES(mutex) { return slot_to_piece[static_cast<std::size_t>(slot)]; }

  void reset_maps() REQUIRES(mutex) {
    std::fill(piece_to_slot.begin(), piece_to_slot.end(), has_no_slot);
    std::fill(slot_to_piece.begin(), slot_to_piece.end(), unallocated);
    free_slots.clear();
    unallocated_slots.clear();
  }

  void assign(int piece, int slot) REQUIRES(mutex) {
    to_piece(slot) = piece;
    to_slot(piece) = slot;
  }
  // The slot holds nothing from now on.
  void make_free(int slot) REQUIRES(mutex) {
    const int p = to_piece(slot);
    if (p >= 0 && to_slot(p) == slot) to_slot(p) = has_no_slot;
    to_piece(slot) = free_slot;
    free_slots.push_back(slot);
  }
  void leave_free_list(int slot) REQUIRES(mutex) {
    auto it = std::find(free_slots.rbegin(), free_slots.rend(), slot);
    if (it != free_slots.rend()) free_slots.erase(std::next(it).base());
  }
  void leave_unallocated(int slot) REQUIRES(mutex) {
    if (!unallocated_slots.empty() && unallocated_slots.front() == slot) {
      unallocated_slots.pop_front();
    } else {
      auto it = std::find(unallocated_slots.begin(), unallocated_slots.end(), slot);
      if (it != unallocated_slots.end()) unallocated_slots.erase(it);
    }
  }

  // Reads a piece that is to move. It may be partly downloaded, and its slot
  // may never have been written in full: what is not there reads as zeros.
  void read_piece(std::vector<char>& buf, int piece, int slot) REQUIRES(mutex) {
    buf.resize(static_cast<std::size_t>(piece_size(piece)));
    st.read_sparse(buf.data(), slot, piece_size(piece));
  }
  void write_piece(const std::vector<char>& buf, int piece, int slot) REQUIRES(mutex) {
    st.write(buf.data(), slot, 0, piece_size(piece));
  }

  void allocate_slots(int n) REQUIRES(mutex);
  int slot_for_piece(int piece) REQUIRES(mutex);
  int pick_free_slot(int piece) REQUIRES(mutex);
  int identify(int slot, int bytes) REQUIRES(mutex);
  void check_slot(int slot, std::vector<bool>& have) REQUIRES(mutex);

  // Not guarded: the storage keeps its slots and the file cache apart by
  // their own locks, and closing the files (release_files) never waits for
  // the disk. Its paths change only in move_storage, under the lock.
  storage st;
  const int num_pieces;
  bool compact_mode GUARDED_BY(mutex) = true;
  std::vector<int> piece_to_slot GUARDED_BY(mutex);
  std::vector<int> slot_to_piece GUARDED_BY(mutex);
  std::vector<int> free_slots GUARDED_BY(mutex);        // the back is the newest
  std::deque<int> unallocated_slots GUARDED_BY(mutex);  // increasing
  // Read without the lock: status queries never wait for the disk.
  std::atomic<check_state> state{check_state::not_started};
  int current_slot GUARDED_BY(mutex) = 0;
  std::unordered_multimap<sha1_hash, int> hash_to_piece GUARDED_BY(mutex);
  std::vector<char> slot_buf GUARDED_BY(mutex), home_buf GUARDED_BY(mutex), other_buf GUARDED_BY(mutex);
  // Pieces hashed while they are written. The writer keeps, per piece, how
  // many bytes from the piece's start were written in order (and handed on
  // to be hashed); a write below that length ends the run. The hashing side
  // keeps the SHA-1 state over the bytes it was handed, under its own lock.
  std::unordered_map<int, int> in_order GUARDED_BY(mutex);
  struct partial_hash {
    hasher h;
    int length = 0;
  };
  // Never held together with `mutex`.
  platform::mutex hash_mutex;
  std::unordered_map<int, partial_hash> partial GUARDED_BY(hash_mutex);
  // The maps, the check and the in-order runs; the disk worker holds it
  // through each read and write. Taken before the file cache's lock.
  mutable platform::mutex mutex;
};

void piece_manager::impl::allocate_slots(int n) {
  std::vector<char> buf;
  for (int i = 0; i < n && !unallocated_slots.empty(); ++i) {
    const int s = unallocated_slots.front();
    const int t = to_slot(s);
    if (t >= 0) {
      // Piece s waits elsewhere: bring it home; its old slot is then free.
      read_piece(buf, s, t);
      write_piece(buf, s, s);
      unallocated_slots.pop_front();
      assign(s, s);
      to_piece(t) = free_slot;
      free_slots.push_back(t);
    } else {
      // Claim the disk space.
      buf.assign(static_cast<std::size_t>(piece_size(s)), 0);
      write_piece(buf, s, s);
      unallocated_slots.pop_front();
      to_piece(s) = free_slot;
      free_slots.push_back(s);
    }
  }
}

// A free slot that can take `piece`: the newest free one, but never the
// short last slot for a piece of full size.
int piece_manager::impl::pick_free_slot(int piece) {
  const int last = num_pieces - 1;
  const bool too_short = piece != last && piece_size(last) < piece_size(piece);
  for (;;) {
    for (auto it = free_slots.rbegin(); it != free_slots.rend(); ++it) {
      if (!too_short || *it != last) return *it;
    }
    if (unallocated_slots.empty()) throw file_error("no storage for piece " + std::to_string(piece));
    allocate_slots(1);
  }
}

int piece_manager::impl::slot_for_piece(int p) {
  if (to_slot(p) >= 0) return to_slot(p);
  if (free_slots.empty()) allocate_slots(1);
  const int chosen = to_piece(p) == free_slot ? p : pick_free_slot(p);
  const int q = to_piece(p);
  if (chosen != p && q >= 0) {
    // Slot p holds piece q: q moves to the chosen slot and p takes its home.
    std::vector<char> buf;
    read_piece(buf, q, p);
    write_piece(buf, q, chosen);
    leave_free_list(chosen);
    assign(q, chosen);
    assign(p, p);
  } else {
    leave_free_list(chosen);
    assign(p, chosen);
  }
  return to_slot(p);
}

// The piece whose data the first `bytes` bytes of `slot` (in slot_buf) are,
// or free_slot. Only pieces that have no slot yet count; the piece whose
// index is the slot's is preferred.
int piece_manager::impl::identify(int slot, int bytes) {
  if (hash_to_piece.empty()) {
    hash_to_piece.reserve(static_cast<std::size_t>(num_pieces));
    for (int p = 0; p < num_pieces; ++p) hash_to_piece.emplace(st.info().hash_for_piece(p), p);
  }
  const int last = num_pieces - 1;
  const int last_size = piece_size(last);
  const int slot_size = piece_size(slot);
  int found = free_slot;
  auto consider = [&](int p) REQUIRES(mutex) {
    if (to_slot(p) != has_no_slot) return;
    if (p == slot || found == free_slot) found = p;
  };
  if (bytes < last_size) return free_slot;
  sha1_context ctx;
  sha1_init(ctx);
  sha1_update(ctx, slot_buf.data(), static_cast<std::size_t>(last_size));
  sha1_context full = ctx;
  sha1_hash h;
  sha1_final(ctx, h.data());
  if (h == st.info().hash_for_piece(last)) consider(last);
  if (bytes >= slot_size) {
    sha1_update(full, slot_buf.data() + last_size, static_cast<std::size_t>(slot_size - last_size));
    sha1_final(full, h.data());
    auto range = hash_to_piece.equal_range(h);
    for (auto it = range.first; it != range.second; ++it) {
      if (piece_size(it->second) == slot_size) consider(it->second);
    }
  }
  return found;
}

// One slot of the full check. Slot s is still unallocated, so nothing in the
// maps refers to its old contents; each move writes first into a slot whose
// contents the maps no longer need, then updates the maps.
void piece_manager::impl::check_slot(int s, std::vector<bool>& have) {
  slot_buf.resize(static_cast<std::size_t>(piece_size(s)));
  const int bytes = st.read_existing(slot_buf.data(), s, piece_size(s));
  const int p = identify(s, bytes);
  const int t = to_slot(s);                                   // B: piece s was found in slot t
  const bool a = p >= 0 && to_piece(p) != unallocated;        // A: slot p already has a state
  const int q = a ? to_piece(p) : free_slot;
  auto found = [&](int piece) { have[static_cast<std::size_t>(piece)] = true; };

  if (t >= 0) read_piece(home_buf, s, t);
  if (a && q >= 0 && p != t) read_piece(other_buf, q, p);

  if (!a && t < 0) {
    leave_unallocated(s);
    if (p >= 0) {
      assign(p, s);
      found(p);
    } else {
      to_piece(s) = free_slot;
      free_slots.push_back(s);
    }
    return;
  }

  if (t >= 0) {
    // Piece s comes home first: slot s is referred to by nothing.
    write_piece(home_buf, s, s);
    leave_unallocated(s);
    assign(s, s);
    to_piece(t) = free_slot;  // its data is a spare copy now
    if (!a) {
      // Whatever slot s held goes to slot t.
      if (p < 0) {
        free_slots.push_back(t);
        return;
      }
      try {
        write_piece(slot_buf, p, t);
      } catch (...) {
        free_slots.push_back(t);
        throw;
      }
      assign(p, t);
      found(p);
      return;
    }
    if (t != p) {
      // Three-way: q (whatever slot p held) goes to slot t.
      if (q >= 0) {
        try {
          write_piece(other_buf, q, t);
        } catch (...) {
          free_slots.push_back(t);
          throw;
        }
        assign(q, t);
      } else {
        free_slots.push_back(t);
      }
    }
  } else if (q >= 0) {
    // A only: q moves to slot s, whose old contents (piece p) are in memory.
    write_piece(other_buf, q, s);
    leave_unallocated(s);
    assign(q, s);
  } else {
    // A only with slot p free: slot s becomes free once p is home.
    write_piece(slot_buf, p, p);
    leave_free_list(p);
    assign(p, p);
    found(p);
    leave_unallocated(s);
    to_piece(s) = free_slot;
    free_slots.push_back(s);
    return;
  }

  // Piece p goes home; slot p's old contents live elsewhere by now.
  const bool p_was_free = to_piece(p) == free_slot;
  try {
    write_piece(slot_buf, p, p);
  } catch (...) {
    if (!p_was_free) make_free(p);
    throw;
  }
  if (p_was_free) leave_free_list(p);
  assign(p, p);
  found(p);
}

piece_manager::piece_manager(const torrent_metainfo& info, const std::filesystem::path& save_path)
    : piece_manager(info, save_path, default_file_cache()) {}

piece_manager::piece_manager(const torrent_metainfo& info, const std::filesystem::path& save_path,
                             file_cache& cache)
    : m_impl(std::make_unique<impl>(info, save_path, cache)) {}

piece_manager::~piece_manager() = default;

bool piece_manager::check_fastresume(const std::vector<int>& slots, const std::vector<int>& unfinished,
                                     std::vector<bool>& have, bool compact_mode) {
  impl& m = *m_impl;
  platform::mutex_lock lock(m.mutex);
  m.compact_mode = compact_mode;
  have.resize(static_cast<std::size_t>(m.num_pieces), false);
  if (slots.empty() || static_cast<int>(slots.size()) > m.num_pieces) return false;
  // A map that names a piece twice, or puts a piece into a slot too small
  // for it, describes no disk; the files are then checked in full.
  std::vector<bool> seen(static_cast<std::size_t>(m.num_pieces), false);
  for (int s = 0; s < static_cast<int>(slots.size()); ++s) {
    const int p = slots[static_cast<std::size_t>(s)];
    if (p < free_slot || p >= m.num_pieces) return false;
    if (p < 0) continue;
    if (seen[static_cast<std::size_t>(p)] || m.piece_size(p) > m.piece_size(s)) return false;
    seen[static_cast<std::size_t>(p)] = true;
  }
  m.st.create_folders();
  m.reset_maps();
  for (int s = 0; s < m.num_pieces; ++s) {
    const int p = s < static_cast<int>(slots.size()) ? slots[static_cast<std::size_t>(s)] : unallocated;
    if (p >= 0) {
      m.assign(p, s);
      if (std::find(unfinished.begin(), unfinished.end(), p) == unfinished.end()) {
        have[static_cast<std::size_t>(p)] = true;
      }
    } else if (p == free_slot) {
      m.to_piece(s) = free_slot;
      m.free_slots.push_back(s);
    } else {
      m.unallocated_slots.push_back(s);
    }
  }
  m.state = check_state::allocating;
  if (compact_mode || m.unallocated_slots.empty()) {
    m.state = check_state::done;
    return true;
  }
  return false;
}

std::pair<bool, float> piece_manager::check_pieces(std::vector<bool>& have) {
  impl& m = *m_impl;
  platform::mutex_lock lock(m.mutex);
  have.resize(static_cast<std::size_t>(m.num_pieces), false);
  if (m.state == check_state::not_started) {
    m.reset_maps();
    for (int s = 0; s < m.num_pieces; ++s) m.unallocated_slots.push_back(s);
    m.st.create_folders();
    m.current_slot = 0;
    m.state = check_state::hashing;
  }
  if (m.state == check_state::hashing) {
    if (m.current_slot < m.num_pieces) {
      m.check_slot(m.current_slot, have);
      ++m.current_slot;
      if (m.current_slot < m.num_pieces) return {false, float(m.current_slot) / float(m.num_pieces)};
    }
    // Swapped out, not assigned {}: that would keep the memory, a piece's
    // worth for every torrent ever checked.
    for (std::vector<char>* b : {&m.slot_buf, &m.home_buf, &m.other_buf}) std::vector<char>().swap(*b);
    decltype(m.hash_to_piece)().swap(m.hash_to_piece);
    m.state = check_state::allocating;
  }
  if (m.state == check_state::allocating) {
    if (!m.compact_mode && !m.unallocated_slots.empty()) {
      m.allocate_slots(1);
      if (!m.unallocated_slots.empty()) {
        return {false, 1.0f - float(m.unallocated_slots.size()) / float(m.num_pieces)};
      }
    }
    m.state = check_state::done;
  }
  return {true, 1.0f};
}

bool piece_manager::is_allocating() const {
  const check_state state = m_impl->state;
  return state == check_state::allocating || state == check_state::done;
}

int piece_manager::read(char* buf, int piece, int offset, int size) {
  platform::mutex_lock lock(m_impl->mutex);
  if (piece < 0 || piece >= m_impl->num_pieces || m_impl->to_slot(piece) < 0) {
    throw file_error("slot has no storage");
  }
  return m_impl->st.read(buf, m_impl->to_slot(piece), offset, size);
}

bool piece_manager::write(const char* buf, int piece, int offset, int size) {
  const std::span<const char> one(buf, static_cast<std::size_t>(std::max(size, 0)));
  return write(std::span(&one, 1), piece, offset);
}

bool piece_manager::write(std::span<const std::span<const char>> blocks, int piece, int offset) {
  platform::mutex_lock lock(m_impl->mutex);
  if (piece < 0 || piece >= m_impl->num_pieces) throw file_error("no storage for piece " + std::to_string(piece));
  std::int64_t size = 0;
  for (const auto& b : blocks) size += static_cast<std::int64_t>(b.size());
  auto& in_order = m_impl->in_order;
  auto it = in_order.find(piece);
  if (it != in_order.end() && offset < it->second) {
    in_order.erase(it);
    it = in_order.end();
  }
  m_impl->st.write(blocks, m_impl->slot_for_piece(piece), offset);
  if (it == in_order.end() && offset == 0) it = in_order.try_emplace(piece, 0).first;
  if (it == in_order.end() || it->second != offset) return false;
  it->second += static_cast<int>(size);
  return true;
}

void piece_manager::hash_block(int piece, int offset, const char* buf, int size) {
  platform::mutex_lock lock(m_impl->hash_mutex);
  auto& state = m_impl->partial[piece];
  if (offset == 0) state = impl::partial_hash();
  if (state.length != offset) return;  // a run that ended; hash_piece starts over
  state.h.update(buf, size);
  state.length += size;
}

int piece_manager::end_hash_run(int piece) {
  platform::mutex_lock lock(m_impl->mutex);
  auto it = m_impl->in_order.find(piece);
  if (it == m_impl->in_order.end()) return 0;
  const int length = it->second;
  m_impl->in_order.erase(it);
  return length;
}

sha1_hash piece_manager::hash_piece(int piece, int hashed) {
  impl& m = *m_impl;
  impl::partial_hash state;
  {
    platform::mutex_lock lock(m.hash_mutex);
    if (auto it = m.partial.find(piece); it != m.partial.end()) {
      if (it->second.length == hashed) state = it->second;
      m.partial.erase(it);
    }
  }
  // What was not hashed on its way in is read back in steps.
  platform::mutex_lock lock(m.mutex);
  if (piece < 0 || piece >= m.num_pieces || m.to_slot(piece) < 0) throw file_error("slot has no storage");
  const int size = m.piece_size(piece);
  constexpr int step = 256 * 1024;
  std::vector<char> buf;
  for (int at = state.length; at < size; at += step) {
    const int n = std::min(step, size - at);
    buf.resize(static_cast<std::size_t>(n));
    m.st.read(buf.data(), m.to_slot(piece), at, n);
    state.h.update(buf.data(), n);
  }
  return state.h.final();
}

int piece_manager::slot_for_piece(int piece) {
  platform::mutex_lock lock(m_impl->mutex);
  return m_impl->slot_for_piece(piece);
}

void piece_manager::allocate_slots(int n) {
  platform::mutex_lock lock(m_impl->mutex);
  m_impl->allocate_slots(n);
}

int piece_manager::slot_of(int piece) const {
  platform::mutex_lock lock(m_impl->mutex);
  if (piece < 0 || piece >= m_impl->num_pieces) return has_no_slot;
  return m_impl->piece_to_slot[static_cast<std::size_t>(piece)];
}

void piece_manager::mark_failed(int piece) {
  platform::mutex_lock lock(m_impl->mutex);
  if (piece < 0 || piece >= m_impl->num_pieces) return;
  m_impl->in_order.erase(piece);
  const int slot = m_impl->to_slot(piece);
  if (slot >= 0) m_impl->make_free(slot);
}

std::vector<int> piece_manager::export_piece_map() const {
  platform::mutex_lock lock(m_impl->mutex);
  std::vector<int> map = m_impl->slot_to_piece;
  while (!map.empty() && map.back() < 0) map.pop_back();
  return map;
}

sha1_hash piece_manager::hash_for_slot(int slot) {
  platform::mutex_lock lock(m_impl->mutex);
  std::vector<char> buf(static_cast<std::size_t>(m_impl->held_size(slot)));
  m_impl->st.read(buf.data(), slot, 0, static_cast<int>(buf.size()));
  return hasher(buf.data(), static_cast<int>(buf.size())).final();
}

std::uint32_t piece_manager::piece_crc(int slot, int block_size, const std::vector<bool>& finished_blocks) {
  platform::mutex_lock lock(m_impl->mutex);
  return finished_blocks_checksum(m_impl->st, slot, m_impl->held_size(slot), block_size, finished_blocks);
}

bool piece_manager::move_storage(const std::filesystem::path& save_path) {
  platform::mutex_lock lock(m_impl->mutex);
  return m_impl->st.move_storage(save_path);
}

std::filesystem::path piece_manager::save_path() const {
  platform::mutex_lock lock(m_impl->mutex);
  return m_impl->st.save_path();
}

void piece_manager::release_files() { m_impl->st.release_files(); }

std::vector<int> piece_manager::piece_map() const {
  platform::mutex_lock lock(m_impl->mutex);
  return m_impl->piece_to_slot;
}

std::vector<int> piece_manager::slot_map() const {
  platform::mutex_lock lock(m_impl->mutex);
  return m_impl->slot_to_piece;
}

}  // namespace engine

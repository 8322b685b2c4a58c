#pragma once
// Keeps the mapping between a torrent's pieces and the slots of its storage,
// so that pieces can be stored in the order they arrive and moved home later
// ("compact" allocation), or every slot is allocated in advance ("full"
// allocation). Checks existing files against the piece hashes, one slot per
// call, and serves the reads and writes of the peer connections.
//
// Every move writes only into a slot whose old contents the maps no longer
// need, and the maps change only after the write went through; a failed
// write therefore leaves maps that still describe the disk.

#include <cstdint>
#include <filesystem>
#include <memory>
#include <span>
#include <utility>
#include <vector>

#include "engine/formats/sha1_hash.h"
#include "engine/formats/torrent_metainfo.h"
#include "engine/storage/storage.h"

namespace engine {

class file_cache;

class piece_manager {
 public:
  // slot_to_piece markers.
  static constexpr int unallocated = -1;
  static constexpr int free_slot = -2;
  // piece_to_slot marker.
  static constexpr int has_no_slot = -3;

  piece_manager(const torrent_metainfo& info, const std::filesystem::path& save_path);
  piece_manager(const torrent_metainfo& info, const std::filesystem::path& save_path, file_cache& cache);
  ~piece_manager();
  piece_manager(const piece_manager&) = delete;
  piece_manager& operator=(const piece_manager&) = delete;

  // Takes the slot map of accepted fast-resume data as it stands: every
  // piece it names is had, but for the `unfinished` ones. Returns true when
  // no check is needed; false when the files must be checked in full (empty
  // map) or, in full allocation mode, slots remain to be allocated (the
  // check then starts in its allocation state).
  bool check_fastresume(const std::vector<int>& slots, const std::vector<int>& unfinished,
                        std::vector<bool>& have, bool compact_mode);

  // One step of the check: (finished, progress 0..1). Sets the have bit of
  // every piece found.
  std::pair<bool, float> check_pieces(std::vector<bool>& have);
  // Whether the check has reached its allocation state.
  bool is_allocating() const;

  int read(char* buf, int piece, int offset, int size);
  // Returns true when the block continues the piece's run of blocks written
  // in order from its start: it may then be handed to hash_block, in the
  // order of the writes.
  bool write(const char* buf, int piece, int offset, int size);
  // Adjacent blocks of one piece from `offset` on, written at once; true
  // when they all continue the piece's in-order run.
  bool write(std::span<const std::span<const char>> blocks, int piece, int offset);
  // Adds a block of a piece's in-order run to the piece's running SHA-1.
  void hash_block(int piece, int offset, const char* buf, int size);
  // Ends the piece's in-order run; returns its length (0 without one).
  int end_hash_run(int piece);
  // The SHA-1 of the piece as it lies on disk. The first `hashed` bytes
  // come from the running SHA-1 when it covers exactly them (end_hash_run's
  // length); the rest is read back.
  sha1_hash hash_piece(int piece, int hashed = 0);

  // The slot for `piece`, giving it one when it has none.
  int slot_for_piece(int piece);
  // Allocates up to `n` more slots.
  void allocate_slots(int n);
  // The slot holding `piece`, or has_no_slot; allocates nothing.
  int slot_of(int piece) const;

  // After a failed hash check: the piece's slot becomes free.
  void mark_failed(int piece);
  // Slot-to-piece list without the trailing unallocated and free slots.
  std::vector<int> export_piece_map() const;
  sha1_hash hash_for_slot(int slot);
  // Adler-32 over the finished blocks of the piece in `slot`, read in
  // `block_size` steps (the last block of a piece is the rest).
  std::uint32_t piece_crc(int slot, int block_size, const std::vector<bool>& finished_blocks);

  bool move_storage(const std::filesystem::path& save_path);
  std::filesystem::path save_path() const;
  void release_files();
  // Throws file_error naming a file of the torrent that was deleted (or
  // replaced) on disk while it was open.
  void check_files();

  // For tests and diagnostics: the slot each piece is in and the piece each
  // slot holds.
  std::vector<int> piece_map() const;
  std::vector<int> slot_map() const;

 private:
  struct impl;
  std::unique_ptr<impl> m_impl;
};

}  // namespace engine

#pragma once
// A torrent's files seen as one long byte range cut into piece-sized slots:
// reads and writes of (slot, offset, length) go to the files under the save
// path through the process-wide open-file cache. Also the small file-system
// helpers of the storage and the comparison of the files on disk with the
// sizes and times kept in fast-resume data.

#include <cstdint>
#include <ctime>
#include <filesystem>
#include <memory>
#include <span>
#include <string>
#include <utility>
#include <vector>

#include "engine/formats/torrent_metainfo.h"
#include "engine/storage/file.h"

namespace engine {

class file_cache;

class storage {
 public:
  // A relative save path is taken from the process's initial working folder.
  storage(const torrent_metainfo& info, const std::filesystem::path& save_path);
  storage(const torrent_metainfo& info, const std::filesystem::path& save_path, file_cache& cache);
  ~storage();
  storage(const storage&) = delete;
  storage& operator=(const storage&) = delete;

  // Reads `size` bytes at `offset` of `slot`; anything short of that throws
  // file_error "slot has no storage". Returns the bytes read.
  int read(char* buf, int slot, int offset, int size);
  // Writes `size` bytes at `offset` of `slot`, creating files as needed;
  // throws file_error when the bytes cannot all be written.
  void write(const char* buf, int slot, int offset, int size);
  // Writes the buffers one after another from `offset` of `slot` on, as
  // the single write of all their bytes would.
  void write(std::span<const std::span<const char>> bufs, int slot, int offset);
  // Reads from the start of `slot` as far as the files on disk reach (a
  // missing or short file ends it) and returns the bytes read; used to check
  // what is there.
  int read_existing(char* buf, int slot, int size);
  // Reads from the start of `slot`; what no file holds (a missing file, or
  // past the end of a short one) reads as zeros, as in a sparse file. A
  // file that is to be there (see expect_data) and is not throws.
  void read_sparse(char* buf, int slot, int size);

  // Moves the torrent's file or top folder into `save_path`; false, with the
  // old path kept, when that fails.
  bool move_storage(const std::filesystem::path& save_path);
  // Closes every cached file of this storage.
  void release_files();

  // A file that this storage has opened, or that holds data the piece
  // manager counts on (`expect_data`), must stay: once it is gone, reads
  // and writes throw file_error naming it instead of creating it anew (the
  // data it held would be lost without a word).
  //
  // The bytes of `slot` up to `size` are known to lie in the files.
  void expect_data(int slot, int size);
  // Throws file_error when a file that the bytes of `slot` up to `size` lie
  // in is no longer there (or another file took its place).
  void check_slot_files(int slot, int size);
  // Throws file_error when one of this storage's open files was deleted or
  // replaced on disk.
  void check_open_files();

  std::filesystem::path save_path() const;
  // The storage's own copy of the torrent's metainfo.
  const torrent_metainfo& info() const;
  // The folders that the torrent's files need, created when missing.
  void create_folders();

 private:
  struct impl;
  std::shared_ptr<impl> m_impl;
};

// Adler-32 over the finished blocks of a piece of `piece_size` bytes that
// lies in `slot`, read in `block_size` steps (the last block is the rest).
std::uint32_t finished_blocks_checksum(storage& st, int slot, int piece_size, int block_size,
                                       const std::vector<bool>& finished_blocks);

// `path` made absolute against the process's initial working folder (the
// current folder at the first call, kept from then on).
std::filesystem::path complete_path(const std::filesystem::path& path);

// File-system helpers on UTF-8 paths. Failures throw file_error with the
// operation's context, the reason and the path.
void create_directories(const std::string& path);
bool exists(const std::string& path);
std::int64_t file_size(const std::string& path);
std::time_t last_write_time(const std::string& path);
void rename(const std::string& from, const std::string& to);

// The local path of file `index` of a torrent under `save_path`.
std::filesystem::path file_path(const torrent_metainfo& info, int index, const std::filesystem::path& save_path);

// (size, modification time in seconds) of each file of the torrent, in
// order; a file that is not there counts as (0, 0).
std::vector<std::pair<std::int64_t, std::time_t>> get_filesizes(const torrent_metainfo& info,
                                                                 const std::filesystem::path& save_path);

// Whether the files on disk have the given sizes and times; on a difference
// `error` tells the first one.
bool match_filesizes(const torrent_metainfo& info,
                     const std::vector<std::pair<std::int64_t, std::time_t>>& sizes,
                     const std::filesystem::path& save_path, std::string& error);

}  // namespace engine

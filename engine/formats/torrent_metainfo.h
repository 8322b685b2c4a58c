#pragma once
// The content of a .torrent file: trackers, pieces, files and info-hash,
// read from bencoded data or built up by the torrent maker.

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <exception>
#include <filesystem>
#include <iosfwd>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "engine/formats/entry.h"
#include "engine/formats/sha1_hash.h"

namespace engine {

// A required key is missing, a value has the wrong type, or the values do not
// describe a torrent that can be stored safely.
class invalid_torrent_file : public std::exception {
 public:
  const char* what() const noexcept override { return "invalid torrent file"; }
};

struct announce_entry {
  std::string url;
  int tier = 0;  // 0 is the first tier

  friend bool operator==(const announce_entry&, const announce_entry&) = default;
};

struct file_entry {
  // Relative, UTF-8, its components joined by '/'; in a multi-file torrent
  // the first component is the torrent's name, in a single-file torrent it
  // is the file name alone. (A plain string: a torrent may have hundreds of
  // thousands of these, and a path object keeps each component apart.)
  std::string path;
  std::int64_t size = 0;

  friend bool operator==(const file_entry&, const file_entry&) = default;
};

class torrent_metainfo {
 public:
  // Empty, for building a new torrent: piece length 262144, created now.
  torrent_metainfo();
  // Empty, but for the torrent with this info-hash (metadata still to come).
  explicit torrent_metainfo(const sha1_hash& info_hash);
  // Reads a decoded .torrent. The info-hash is taken over the canonical
  // encoding of its "info" dictionary. Throws invalid_torrent_file, or
  // std::runtime_error for a name or path that is absolute or has
  // directories in it.
  explicit torrent_metainfo(const entry& torrent_file);
  // Reads a .torrent from its bytes. The info-hash is taken over the bytes
  // of the "info" value exactly as they stand, so a torrent that was not
  // encoded canonically keeps the hash its trackers and peers know.
  // Throws what the entry constructor throws, and invalid_encoding.
  torrent_metainfo(const char* data, std::size_t size);

  // Reads the info dictionary of a torrent known by info-hash so far (its
  // metadata arrived from the swarm); `raw` are its bytes as received, over
  // which the info-hash is taken. Trackers and descriptive fields stay.
  // Throws like the constructors; on a throw nothing is changed.
  void read_info_dictionary(std::string_view raw);

  // Builders for the torrent maker.
  void add_file(const std::filesystem::path& path, std::int64_t size);
  void add_tracker(const std::string& url, int tier = 0);
  void set_piece_size(std::int64_t length);
  void set_hash(int index, const sha1_hash& hash);
  void set_comment(const std::string& text) { m_comment = text; }
  void set_creator(const std::string& text) { m_created_by = text; }

  const std::vector<announce_entry>& trackers() const { return m_trackers; }
  std::int64_t piece_length() const { return m_piece_length; }
  int num_pieces() const { return static_cast<int>(m_bulk->piece_hashes.size()); }
  // Size of piece `index` (0 <= index < num_pieces()): the piece length but
  // for the last piece, which holds the rest.
  std::int64_t piece_size(int index) const;
  const sha1_hash& hash_for_piece(int index) const { return m_bulk->piece_hashes[static_cast<std::size_t>(index)]; }
  const std::vector<file_entry>& files() const { return m_bulk->files; }
  std::int64_t total_size() const { return m_total_size; }
  const sha1_hash& info_hash() const { return m_info_hash; }
  const std::string& name() const { return m_name; }
  std::optional<std::chrono::sys_seconds> creation_date() const { return m_creation_date; }
  const std::string& comment() const { return m_comment; }
  const std::string& creator() const { return m_created_by; }
  bool is_multi_file() const { return m_multi_file; }

  entry build_info_dictionary() const;
  // The info dictionary's bytes, as served to peers that fetch the
  // metadata: exactly as they were read when this came from raw bytes (a
  // .torrent or metadata from the swarm), so that they hash to the
  // info-hash; else the encoding of build_info_dictionary().
  std::string info_dictionary_bytes() const;
  // The whole .torrent; an undefined entry when there is no tracker or no
  // file. Sets the info-hash to that of the built info dictionary.
  entry build_torrent_dictionary();

  void print_summary(std::ostream& os) const;

 private:
  void read_torrent_dictionary(const entry& torrent, const std::optional<sha1_hash>& raw_info_hash);
  void read_info(const entry& info, const sha1_hash& info_hash);
  void resize_hashes();

  // What grows with the pieces and files. Copies of a metainfo (the
  // torrent's, its storage's, the checker's, each one a handle hands out)
  // share it; a builder gives its metainfo a copy of its own first.
  struct bulk {
    std::vector<sha1_hash> piece_hashes;
    std::vector<file_entry> files;
    // The info dictionary as read from raw bytes; empty when built or read
    // from an entry, and dropped when a builder changes the dictionary.
    std::string info_bytes;
    // The "files" list of the info dictionary as read, bencoded: kept to
    // rebuild the dictionary exactly, at a fraction of the size of its
    // decoded form. Empty when there was none.
    std::string files_list;
  };
  bulk& own_bulk();

  std::vector<announce_entry> m_trackers;  // ascending tier
  std::int64_t m_piece_length = 262144;
  std::shared_ptr<const bulk> m_bulk = std::make_shared<bulk>();
  std::int64_t m_total_size = 0;
  sha1_hash m_info_hash;
  std::string m_name;
  std::optional<std::chrono::sys_seconds> m_creation_date;
  std::string m_comment;
  std::string m_created_by;
  bool m_multi_file = false;
  // The info dictionary's members but "pieces", "piece length", "length"
  // and "files" (which lies in the bulk).
  entry m_info{entry::dictionary_t};
};

// The blocks of `block_size` bytes that make up a piece of `piece_size` bytes.
constexpr int block_count(std::int64_t piece_size, int block_size) {
  return int((piece_size + block_size - 1) / block_size);
}

// Bytes in block `block_index` of such a piece: a whole block, the rest for
// the last one, 0 past the end.
constexpr int block_length(std::int64_t piece_size, int block_size, int block_index) {
  const std::int64_t rest = piece_size - std::int64_t(block_index) * block_size;
  return int(rest < 0 ? 0 : rest < block_size ? rest : block_size);
}

// Pieces [first, end).
struct piece_range {
  int first = 0;
  int end = 0;
};

// The pieces that bytes [offset, offset + size) of a torrent touch: a run
// that ends on a piece boundary leaves the next piece out. No bytes touch no
// piece (an empty range at the piece `offset` falls in); nor does anything
// when there is no piece length.
constexpr piece_range pieces_of_bytes(std::int64_t offset, std::int64_t size, std::int64_t piece_length) {
  if (piece_length <= 0) return {};
  const int first = int(offset / piece_length);
  return {first, size > 0 ? int((offset + size - 1) / piece_length) + 1 : first};
}

}  // namespace engine

#pragma once
// One open file of torrent data: a thin layer over the POSIX file calls that
// takes UTF-8 paths, 64-bit positions, and reports every failure as a
// file_error carrying the operation's name and the system's message.

#include <cstdint>
#include <filesystem>
#include <memory>
#include <span>
#include <stdexcept>
#include <string>

namespace engine {

class file_error : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

// The local name of a torrent file's UTF-8 path, after the file-name rule;
// a path that is no valid UTF-8 is taken byte for byte.
std::filesystem::path local_path(const std::string& utf8_path);

class file {
 public:
  // Open mode bits; both may be set.
  static constexpr int in = 1;
  static constexpr int out = 2;
  // With `out`: the file must exist already, it is not created.
  static constexpr int existing = 4;

  using size_type = std::int64_t;

  file();
  // Opens at once; see open().
  file(const std::string& utf8_path, int mode);
  ~file();
  file(const file&) = delete;
  file& operator=(const file&) = delete;

  // Opening only for reading needs the file to exist; opening for writing
  // creates it when missing (unless `existing` is set). A file already open
  // is closed and replaced. Failure text: the path, ": " and the system's
  // message.
  void open(const std::string& utf8_path, int mode);
  void close();

  // Throws file_error (the path, ": " and the system's message for a
  // missing file) when the path no longer names the open file: it was
  // deleted, or another file took its place. Reads and writes through the
  // open descriptor would still succeed then, on data no one sees.
  void check_path() const;

  // Reads and writes at the current position, which they move on.
  size_type read(char* buf, size_type n);
  size_type write(const char* buf, size_type n);
  void seek(size_type pos);
  size_type tell();

  // Reads and writes at a position without touching the current one, so that
  // two threads may share one open file. A read stops early only at the end
  // of the file.
  size_type read_at(char* buf, size_type n, size_type pos);
  size_type write_at(const char* buf, size_type n, size_type pos);
  // Writes the buffers one after another from `pos` on, in as few system
  // calls as the system allows; returns the bytes written.
  size_type write_at(std::span<const std::span<const char>> bufs, size_type pos);

 private:
  struct impl;
  std::unique_ptr<impl> m_impl;
};

}  // namespace engine

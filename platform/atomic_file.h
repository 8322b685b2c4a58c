#pragma once
// Replacing a file so that a crash leaves either the old or the new
// contents, never a torn mix: write a temporary beside it, flush it to disk
// and rename it over the old file.

#include <cstddef>
#include <filesystem>
#include <functional>
#include <initializer_list>
#include <string_view>
#include <sys/types.h>
#include <vector>

namespace platform {

// Creates the parent folder when missing. False when anything failed; the
// old file is then untouched and no temporary is left behind.
bool write_file_atomically(const std::filesystem::path& file, std::string_view bytes,
                           mode_t mode = 0644);

// Many files replaced as write_file_atomically does, with one flush of
// the disk for all of them instead of one per file: each write puts its
// bytes into a temporary beside its file, and commit flushes the
// filesystems they are on, then renames each temporary over its file. A
// crash leaves each file old or new, never torn. A batch that is not
// committed removes its temporaries.
class file_batch {
 public:
  file_batch() = default;
  file_batch(const file_batch&) = delete;
  file_batch& operator=(const file_batch&) = delete;
  ~file_batch();

  // False when the temporary could not be written (the file stays as it
  // is); `failed` is called when the commit cannot put it in place, with
  // errno telling why.
  bool write(const std::filesystem::path& file, std::string_view bytes, std::function<void()> failed = {},
             mode_t mode = 0644);
  // False when any file could not be put in place.
  bool commit();

 private:
  struct pending {
    std::filesystem::path file, temporary;
    std::function<void()> failed;
  };
  std::vector<pending> m_pending;
};

// Whether `file` is a regular file that holds exactly `bytes`: a save
// that would write the same again can leave it as it is.
bool file_holds(const std::filesystem::path& file, std::string_view bytes);

// The temporaries a process killed while writing left in `folder`: files
// named "<name>.tmp.<pid>.<n>" (pid and n decimal) whose <name> ends in one
// of `endings` and whose process no longer runs, are removed; anything else
// stays. The count removed.
std::size_t remove_stale_temporaries(const std::filesystem::path& folder,
                                     std::initializer_list<std::string_view> endings);

}  // namespace platform

#pragma once
// Replacing a file so that a crash leaves either the old or the new
// contents, never a torn mix: write a temporary beside it, flush it to disk
// and rename it over the old file.

#include <cstddef>
#include <filesystem>
#include <initializer_list>
#include <string_view>
#include <sys/types.h>

namespace platform {

// Creates the parent folder when missing. False when anything failed; the
// old file is then untouched and no temporary is left behind.
bool write_file_atomically(const std::filesystem::path& file, std::string_view bytes,
                           mode_t mode = 0644);

// The temporaries a process killed while writing left in `folder`: files
// named "<name>.tmp.<pid>.<n>" (pid and n decimal) whose <name> ends in one
// of `endings` and whose process no longer runs, are removed; anything else
// stays. The count removed.
std::size_t remove_stale_temporaries(const std::filesystem::path& folder,
                                     std::initializer_list<std::string_view> endings);

}  // namespace platform

#pragma once
// Replacing a file so that a crash leaves either the old or the new
// contents, never a torn mix: write a temporary beside it, flush it to disk
// and rename it over the old file.

#include <filesystem>
#include <string_view>
#include <sys/types.h>

namespace platform {

// Creates the parent folder when missing. False when anything failed; the
// old file is then untouched and no temporary is left behind.
bool write_file_atomically(const std::filesystem::path& file, std::string_view bytes,
                           mode_t mode = 0644);

}  // namespace platform

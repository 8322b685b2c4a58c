#pragma once
// Free space of the file system that holds a folder.

#include <cstdint>
#include <optional>
#include <string>

namespace platform {

// Bytes available to this (unprivileged) process, nothing when the folder
// cannot be examined.
std::optional<std::uint64_t> free_disk_space(const std::string& utf8_folder);

}  // namespace platform

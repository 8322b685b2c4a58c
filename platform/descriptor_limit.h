#pragma once
// The number of file descriptors the process may hold open at once.

#include <cstdint>

namespace platform {

// The soft limit: open, socket and accept fail once this many are in use.
std::uint64_t descriptor_limit();

// Raises the soft limit to the hard one (the most an unprivileged process
// may ask for) and returns the soft limit it ends with.
std::uint64_t raise_descriptor_limit();

}  // namespace platform

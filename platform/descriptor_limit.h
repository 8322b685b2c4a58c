#pragma once
// The number of file descriptors the process may hold open at once.

#include <cstdint>

namespace platform {

// The soft limit: open, socket and accept fail once this many are in use.
std::uint64_t descriptor_limit();

// Raises the soft limit to the hard one (the most an unprivileged process
// may ask for) and returns the soft limit it ends with.
std::uint64_t raise_descriptor_limit();

// Moves `fd` to a number of FD_SETSIZE (1024) or more when the soft limit
// leaves room for at least as many again, and returns the descriptor to use
// (`fd` itself when it stays). The low numbers stay free for libraries that
// still wait with select(), which cannot take a higher one (miniupnpc does
// so while it connects to the router), however many sockets the engine
// holds. The moved descriptor is close-on-exec.
int move_above_select_range(int fd);

}  // namespace platform

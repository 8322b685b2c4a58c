#pragma once
// The largest values the options and the torrent details take for the
// rate limits and the seeding time: the stored 32-bit settings must still
// hold them.

namespace client {

// The largest rate limit in KB/s whose bytes per second still fit the
// signed 32-bit setting.
inline constexpr int kMaxRateLimitKb = 2097151;
// The longest seeding time in seconds whose milliseconds still fit the
// unsigned 32-bit setting (below its "unset" mark).
inline constexpr int kMaxSeedingSeconds = 4294967;

}  // namespace client

#pragma once
// gzip-compressed tracker replies: the header is read here, the deflate data
// is inflated with zlib.

#include <string>

namespace engine {

// The length of the gzip header at the start of buf[0..size), or -1 when it
// is no gzip header or does not end inside the buffer.
int skip_gzip_header(const char* buf, int size);

// Replaces `buffer` (a whole gzip member) by its inflated contents. The
// result is empty on success, else the failure text: "invalid gzip header in
// tracker response", "tracker response too large" (more than `max_size`
// bytes inflated), "gzip out of memory" or "gzip error" (broken or truncated
// data, or a body too short to hold the 8-byte trailer).
std::string gunzip(std::string& buffer, int max_size);

}  // namespace engine

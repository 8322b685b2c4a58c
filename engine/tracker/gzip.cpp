#include "engine/tracker/gzip.h"

#include <zlib.h>

#include <algorithm>
#include <cstdint>
#include <cstring>

namespace engine {

namespace {

enum gzip_flags { FHCRC = 2, FEXTRA = 4, FNAME = 8, FCOMMENT = 16 };

// Skips a zero-terminated text starting at `pos`; -1 when it does not end
// inside the buffer.
int skip_text(const std::uint8_t* buf, int size, int pos) {
  const void* nul = std::memchr(buf + pos, 0, size - pos);
  if (!nul) return -1;
  return int(static_cast<const std::uint8_t*>(nul) - buf) + 1;
}

}  // namespace

int skip_gzip_header(const char* data, int size) {
  const auto* buf = reinterpret_cast<const std::uint8_t*>(data);
  if (size < 10 || buf[0] != 0x1f || buf[1] != 0x8b || buf[2] != 8 || buf[3] >= 32) return -1;
  const int flags = buf[3];
  int pos = 10;
  if (flags & FEXTRA) {
    if (size - pos < 2) return -1;
    const int extra = buf[pos] | buf[pos + 1] << 8;
    pos += 2;
    if (size - pos < extra) return -1;
    pos += extra;
  }
  if (flags & FNAME) {
    pos = skip_text(buf, size, pos);
    if (pos < 0) return -1;
  }
  if (flags & FCOMMENT) {
    pos = skip_text(buf, size, pos);
    if (pos < 0) return -1;
  }
  if (flags & FHCRC) {
    if (size - pos < 2) return -1;
    pos += 2;
  }
  return pos;
}

std::string gunzip(std::string& buffer, int max_size) {
  const int header = skip_gzip_header(buffer.data(), int(buffer.size()));
  if (header < 0) return "invalid gzip header in tracker response";
  // The deflate data lies between the header and the 8-byte trailer.
  if (int(buffer.size()) - header < 8) return "gzip error";
  const int input_size = int(buffer.size()) - header - 8;

  z_stream strm{};
  strm.next_in = reinterpret_cast<Bytef*>(buffer.data() + header);
  strm.avail_in = uInt(input_size);
  if (inflateInit2(&strm, -15) != Z_OK) return "gzip out of memory";

  const std::size_t limit = std::size_t(std::max(max_size, 1));
  std::string out(std::min<std::size_t>(1024, limit), '\0');
  strm.next_out = reinterpret_cast<Bytef*>(out.data());
  strm.avail_out = uInt(out.size());
  std::string error;
  for (;;) {
    const int ret = inflate(&strm, Z_SYNC_FLUSH);
    if (ret == Z_STREAM_END) break;
    if (ret != Z_OK && ret != Z_BUF_ERROR) {
      error = ret == Z_MEM_ERROR ? "gzip out of memory" : "gzip error";
      break;
    }
    if (strm.avail_out == 0) {
      if (out.size() >= limit) {
        error = "tracker response too large";
        break;
      }
      const std::size_t used = out.size();
      out.resize(std::min(used * 2, limit));
      strm.next_out = reinterpret_cast<Bytef*>(out.data() + used);
      strm.avail_out = uInt(out.size() - used);
    } else if (strm.avail_in == 0 || ret == Z_BUF_ERROR) {
      // The input ended before the deflate stream did.
      error = "gzip error";
      break;
    }
  }
  const std::size_t produced = strm.total_out;
  inflateEnd(&strm);
  if (!error.empty()) return error;
  out.resize(produced);
  buffer.swap(out);
  return {};
}

}  // namespace engine

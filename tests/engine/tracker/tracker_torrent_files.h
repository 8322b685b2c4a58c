#pragma once
// Payload files and .torrent files made by mktorrent (an independent tool)
// for the tests and benchmarks that run other BitTorrent programs.

#include <unistd.h>

#include <cstdint>
#include <cstdlib>
#include <fstream>
#include <memory>
#include <iterator>
#include <string>

#include "engine/formats/sha1_hash.h"
#include "engine/formats/torrent_metainfo.h"
#include "tests/engine/tracker/tracker_opentracker.h"
#include "tests/engine/tracker/tracker_process.h"

namespace tracker_test {

inline bool mktorrent_available() { return ::access("/usr/bin/mktorrent", X_OK) == 0; }

// Writes `size` bytes of a fixed pseudo-random sequence, a megabyte at a
// time.
inline void write_payload(const std::string& path, std::size_t size) {
  std::ofstream out(path, std::ios::binary);
  std::string chunk(1 << 20, '\0');
  std::uint32_t x = 0x9e3779b9;
  for (std::size_t left = size; left > 0;) {
    const std::size_t n = std::min(left, chunk.size());
    for (std::size_t i = 0; i < n; ++i) {
      x ^= x << 13;
      x ^= x >> 17;
      x ^= x << 5;
      chunk[i] = char(x);
    }
    out.write(chunk.data(), std::streamsize(n));
    left -= n;
  }
}

// A .torrent for `file` announcing to `announce`, pieces of 2^log2_piece
// bytes; its path, or "" when mktorrent failed.
inline std::string make_torrent(const std::string& file, const std::string& announce, const std::string& out,
                                int log2_piece = 16) {
  const std::string command = "/usr/bin/mktorrent -a '" + announce + "' -l " + std::to_string(log2_piece) +
                              " -o '" + out + "' '" + file + "' > /dev/null 2>&1";
  return std::system(command.c_str()) == 0 ? out : std::string();
}

inline std::string read_file(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string((std::istreambuf_iterator<char>(in)), {});
}

inline engine::sha1_hash info_hash_of(const std::string& torrent_file) {
  const std::string bytes = read_file(torrent_file);
  return engine::torrent_metainfo(bytes.data(), bytes.size()).info_hash();
}

// One payload file, its .torrent (made by mktorrent, announcing to a
// tracker on a port chosen beforehand) and that tracker.
struct shared_torrent {
  shared_torrent(const std::string& folder, std::size_t size, int log2_piece = 16) {
    payload = folder + "/payload.bin";
    write_payload(payload, size);
    port = free_port();
    torrent_file = make_torrent(payload, "http://127.0.0.1:" + std::to_string(port) + "/announce",
                                folder + "/payload.torrent", log2_piece);
    if (torrent_file.empty()) return;
    info_hash = info_hash_of(torrent_file);
    tracker = std::make_unique<opentracker>(std::vector<engine::sha1_hash>{info_hash}, port);
  }
  bool ready() const { return !torrent_file.empty() && tracker && tracker->ready(); }
  // A tracker that has forgotten every peer, on the same port.
  bool restart_tracker() {
    tracker.reset();
    tracker = std::make_unique<opentracker>(std::vector<engine::sha1_hash>{info_hash}, port);
    return tracker->ready();
  }

  std::string payload;
  std::string torrent_file;
  engine::sha1_hash info_hash;
  std::uint16_t port = 0;
  std::unique_ptr<opentracker> tracker;
};

}  // namespace tracker_test

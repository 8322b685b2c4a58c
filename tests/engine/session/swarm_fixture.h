#pragma once
// Builds a torrent over files of pseudo-random bytes and runs sessions on
// loopback addresses that exchange it: shared by the transfer tests and the
// transfer benchmark.

#include <sys/socket.h>
#include <unistd.h>

#include <chrono>
#include <cstring>
#include <cstdint>
#include <filesystem>
#include <fstream>
#include <functional>
#include <memory>
#include <random>
#include <string>
#include <vector>

#include "engine/formats/entry.h"
#include "engine/formats/sha1.h"
#include "engine/formats/torrent_metainfo.h"
#include "engine/session/piece_picker.h"
#include "engine/session/policy.h"
#include "engine/session/session.h"
#include "engine/session/session_impl.h"
#include "engine/session/torrent.h"
#include "engine/wire/fingerprint.h"
#include "tests/support/wait.h"

namespace swarm_fixture {

namespace fs = std::filesystem;

// A fresh folder under the system's temporary one, removed with the object;
// `prefix` names the tests it belongs to.
struct scratch_dir {
  fs::path path;
  explicit scratch_dir(const std::string& prefix) {
    static int n = 0;
    path = fs::temp_directory_path() / (prefix + std::to_string(::getpid()) + "_" + std::to_string(n++));
    fs::remove_all(path);
    fs::create_directories(path);
  }
  ~scratch_dir() { fs::remove_all(path); }
};

struct file_spec {
  std::string name;
  std::int64_t size;
};

// Writes the files under `dir`/`name`/ and returns the torrent over them.
// The bytes are made and hashed a chunk at a time, so large torrents cost
// little memory.
inline engine::torrent_metainfo make_torrent(const fs::path& dir, const std::string& name,
                                             const std::vector<file_spec>& files, std::int64_t piece_length,
                                             std::uint32_t seed = 1) {
  fs::create_directories(dir / name);
  std::mt19937_64 rng(seed);
  engine::entry::list_type file_list;
  engine::hasher piece_hasher;
  std::int64_t in_piece = 0;
  std::string pieces;
  std::vector<char> chunk(1 << 20);
  for (const auto& f : files) {
    std::ofstream out(dir / name / f.name, std::ios::binary);
    for (std::int64_t left = f.size; left > 0;) {
      const std::size_t n = std::size_t(std::min<std::int64_t>(left, std::int64_t(chunk.size())));
      for (std::size_t i = 0; i < n; i += 8) {
        const std::uint64_t v = rng();
        std::memcpy(&chunk[i], &v, std::min<std::size_t>(8, n - i));
      }
      out.write(chunk.data(), std::streamsize(n));
      for (std::size_t at = 0; at < n;) {
        const std::size_t take = std::size_t(std::min<std::int64_t>(piece_length - in_piece, std::int64_t(n - at)));
        piece_hasher.update(chunk.data() + at, int(take));
        at += take;
        in_piece += std::int64_t(take);
        if (in_piece == piece_length) {
          pieces += piece_hasher.final().to_string();
          in_piece = 0;
        }
      }
      left -= std::int64_t(n);
    }
    engine::entry::dictionary_type fe;
    fe["length"] = engine::entry(f.size);
    fe["path"] = engine::entry(engine::entry::list_type{engine::entry(f.name)});
    file_list.push_back(engine::entry(std::move(fe)));
  }
  if (in_piece > 0) pieces += piece_hasher.final().to_string();
  engine::entry::dictionary_type info;
  info["name"] = engine::entry(name);
  info["piece length"] = engine::entry(piece_length);
  info["pieces"] = engine::entry(pieces);
  info["files"] = engine::entry(std::move(file_list));
  engine::entry::dictionary_type t;
  t["announce"] = engine::entry(std::string("http://127.0.0.1:1/announce"));
  t["info"] = engine::entry(std::move(info));
  return engine::torrent_metainfo(engine::entry(std::move(t)));
}

// Compares the files a chunk at a time.
inline bool same_files(const fs::path& a, const fs::path& b, const std::vector<file_spec>& files) {
  std::vector<char> ca(1 << 20), cb(1 << 20);
  for (const auto& f : files) {
    std::ifstream fa(a / f.name, std::ios::binary), fb(b / f.name, std::ios::binary);
    if (!fa || !fb || fs::file_size(a / f.name) != fs::file_size(b / f.name)) return false;
    while (fa) {
      fa.read(ca.data(), std::streamsize(ca.size()));
      fb.read(cb.data(), std::streamsize(cb.size()));
      if (fa.gcount() != fb.gcount() || std::memcmp(ca.data(), cb.data(), std::size_t(fa.gcount())) != 0) return false;
    }
  }
  return true;
}

// A session listening on 127.0.0.`host`, at a port the kernel chooses, or at
// the first free one from `port`.
inline std::unique_ptr<engine::session> make_session(int host, int port = 0) {
  const std::string iface = "127.0.0." + std::to_string(host);
  auto s = std::make_unique<engine::session>(engine::fingerprint("QF", 1, 0, 0, 0));
  s->listen_on({port, port == 0 ? 0 : port + 200}, iface.c_str());
  return s;
}

// Runs `f` on the session's torrent under the session lock; false while the
// torrent is not (yet) in the session.
inline bool with_torrent(engine::session& s, const engine::sha1_hash& ih,
                         const std::function<void(engine::torrent&)>& f) {
  std::lock_guard l(s.impl().mutex());
  auto t = s.impl().find_torrent(ih);
  if (!t) return false;
  f(*t);
  return true;
}

using test_support::wait_until;

// Blocking receives on a raw peer's socket give up once the tests' deadline
// passes without a byte.
inline void receive_with_deadline(int fd) {
  const timeval tv{test_support::default_deadline.count(), 0};
  ::setsockopt(fd, SOL_SOCKET, SO_RCVTIMEO, &tv, sizeof tv);
}

// Blocking I/O of a raw peer: false when the connection ended first.
inline bool read_all(int fd, char* p, std::size_t n) {
  while (n > 0) {
    const ssize_t r = ::recv(fd, p, n, 0);
    if (r <= 0) return false;
    p += r;
    n -= std::size_t(r);
  }
  return true;
}

inline bool write_all(int fd, const char* p, std::size_t n) {
  for (std::size_t at = 0; at < n;) {
    const ssize_t r = ::send(fd, p + at, n - at, MSG_NOSIGNAL);
    if (r <= 0) return false;
    at += std::size_t(r);
  }
  return true;
}

// Tells the leech's torrent about a peer, as a tracker would.
inline void add_peer(engine::session& s, const engine::sha1_hash& ih, const engine::address& a) {
  with_torrent(s, ih, [&](engine::torrent& t) { t.get_policy().peer_from_tracker(a, engine::peer_id()); });
}

inline bool is_seed(engine::session& s, const engine::sha1_hash& ih) {
  bool seed = false;
  with_torrent(s, ih, [&](engine::torrent& t) { seed = t.is_seed(); });
  return seed;
}

}  // namespace swarm_fixture

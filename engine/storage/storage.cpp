#include "engine/storage/storage.h"

#include <algorithm>
#include <cerrno>
#include <condition_variable>
#include <cstdio>
#include <limits>
#include <sys/stat.h>
#include <system_error>
#include <zlib.h>

#include "engine/storage/file_cache.h"
#include "platform/mutex.h"

namespace engine {

namespace {

std::string quoted(const std::string& path) { return "\"" + path + "\""; }

// "cannot <what failed>: <why>".
[[noreturn]] void throw_fs_error(const std::string& what, const std::string& reason) {
  throw file_error("cannot " + what + ": " + reason);
}

[[noreturn]] void throw_fs_errno(const std::string& what, int err) {
  throw_fs_error(what, std::system_category().message(err));
}

}  // namespace

std::filesystem::path complete_path(const std::filesystem::path& path) {
  static const std::filesystem::path initial = [] {
    std::error_code ec;
    auto cwd = std::filesystem::current_path(ec);
    return ec ? std::filesystem::path("/") : cwd;
  }();
  if (path.is_absolute()) return path;
  return initial / path;
}

void create_directories(const std::string& path) {
  std::filesystem::path p(path);
  std::filesystem::path partial;
  for (const auto& part : p) {
    partial /= part;
    struct stat st;
    if (::stat(partial.c_str(), &st) == 0) {
      if (!S_ISDIR(st.st_mode)) {
        throw_fs_error("create directory " + quoted(partial.string()), "path exists and is not a directory");
      }
      continue;
    }
    if (::mkdir(partial.c_str(), 0777) != 0 && errno != EEXIST) {
      throw_fs_errno("create directory " + quoted(partial.string()), errno);
    }
  }
}

bool exists(const std::string& path) {
  struct stat st;
  return ::stat(path.c_str(), &st) == 0;
}

std::int64_t file_size(const std::string& path) {
  struct stat st;
  if (::stat(path.c_str(), &st) != 0) throw_fs_errno("read the size of " + quoted(path), errno);
  if (S_ISDIR(st.st_mode)) throw_fs_error("read the size of " + quoted(path), "is a directory");
  return st.st_size;
}

std::time_t last_write_time(const std::string& path) {
  struct stat st;
  if (::stat(path.c_str(), &st) != 0) throw_fs_errno("read the modification time of " + quoted(path), errno);
  return st.st_mtim.tv_sec;
}

void rename(const std::string& from, const std::string& to) {
  if (std::rename(from.c_str(), to.c_str()) != 0) throw_fs_errno("rename " + quoted(from) + " to " + quoted(to), errno);
}

std::filesystem::path file_path(const torrent_metainfo& info, int index, const std::filesystem::path& save_path) {
  return local_path((save_path / info.files()[static_cast<std::size_t>(index)].path).string());
}

std::vector<std::pair<std::int64_t, std::time_t>> get_filesizes(const torrent_metainfo& info,
                                                                 const std::filesystem::path& save_path) {
  const auto base = complete_path(save_path);
  std::vector<std::pair<std::int64_t, std::time_t>> sizes;
  sizes.reserve(info.files().size());
  for (int i = 0; i < static_cast<int>(info.files().size()); ++i) {
    struct stat st;
    if (::stat(file_path(info, i, base).c_str(), &st) == 0 && !S_ISDIR(st.st_mode)) {
      sizes.emplace_back(st.st_size, st.st_mtim.tv_sec);
    } else {
      sizes.emplace_back(0, 0);
    }
  }
  return sizes;
}

bool match_filesizes(const torrent_metainfo& info,
                     const std::vector<std::pair<std::int64_t, std::time_t>>& sizes,
                     const std::filesystem::path& save_path, std::string& error) {
  if (sizes.size() != info.files().size()) {
    error = "mismatching number of files";
    return false;
  }
  const auto now = get_filesizes(info, save_path);
  const auto base = complete_path(save_path);
  for (std::size_t i = 0; i < sizes.size(); ++i) {
    const std::string path = file_path(info, static_cast<int>(i), base).string();
    if (now[i].first != sizes[i].first) {
      error = "filesize mismatch for file '" + path + "', expected to be " + std::to_string(sizes[i].first) +
              " bytes";
      return false;
    }
    if (now[i].second != sizes[i].second) {
      error = "timestamp mismatch for file '" + path + "', expected to have modification date " +
              std::to_string(sizes[i].second);
      return false;
    }
  }
  return true;
}

std::uint32_t finished_blocks_checksum(storage& st, int slot, int piece_size, int block_size,
                                       const std::vector<bool>& finished_blocks) {
  std::vector<char> buf(static_cast<std::size_t>(block_size));
  uLong crc = adler32(0, Z_NULL, 0);
  for (std::size_t i = 0; i < finished_blocks.size(); ++i) {
    const std::int64_t start = static_cast<std::int64_t>(i) * block_size;
    if (start >= piece_size) break;
    if (!finished_blocks[i]) continue;
    const int n = block_length(piece_size, block_size, static_cast<int>(i));
    st.read(buf.data(), slot, static_cast<int>(start), n);
    crc = adler32(crc, reinterpret_cast<const Bytef*>(buf.data()), static_cast<uInt>(n));
  }
  return static_cast<std::uint32_t>(crc);
}

struct storage::impl {
  impl(const torrent_metainfo& i, const std::filesystem::path& p, file_cache& c) : info(i), cache(c) {
    std::int64_t start = 0;
    for (const auto& f : info.files()) {
      starts.push_back(start);
      start += f.size;
    }
    save_path = complete_path(p);
    busy.resize(static_cast<std::size_t>(std::max(info.num_pieces(), 0)));
  }

  // The UTF-8 path of file `index` under the save path, made when needed
  // rather than kept for every file.
  std::string path_of(std::size_t index) const { return (save_path / info.files()[index].path).string(); }

  // Keep two users off one slot at a time: a slot_guard holds its slot from
  // construction to destruction. The locking is in these functions rather
  // than in the guard, as the compiler's lock check passes over constructors
  // and destructors.
  void claim_slot(std::size_t slot) EXCLUDES(busy_mutex) {
    platform::mutex_lock lock(busy_mutex);
    lock.wait(busy_cond, [&]() REQUIRES(busy_mutex) { return !busy[slot]; });
    busy[slot] = true;
  }
  void free_slot(std::size_t slot) EXCLUDES(busy_mutex) {
    {
      platform::mutex_lock lock(busy_mutex);
      busy[slot] = false;
    }
    busy_cond.notify_all();
  }
  class slot_guard {
   public:
    slot_guard(impl& s, int slot) : m_s(s), m_slot(static_cast<std::size_t>(slot)) { m_s.claim_slot(m_slot); }
    ~slot_guard() { m_s.free_slot(m_slot); }
    slot_guard(const slot_guard&) = delete;
    slot_guard& operator=(const slot_guard&) = delete;

   private:
    impl& m_s;
    std::size_t m_slot;
  };

  // Calls `op(file index, offset in file, offset in buffer, length)` for
  // each file that the byte range [pos, pos + size) touches, in order, while
  // `op` reports that it transferred the whole length. Returns the bytes
  // done; the range ends early where the torrent ends.
  template <class Op>
  std::int64_t walk(std::int64_t pos, std::int64_t size, Op op) {
    const auto& files = info.files();
    std::size_t i = static_cast<std::size_t>(std::upper_bound(starts.begin(), starts.end(), pos) - starts.begin());
    if (i == 0) return 0;
    --i;
    std::int64_t done = 0;
    for (; i < files.size() && done < size; ++i) {
      const std::int64_t in_file = pos + done - starts[i];
      if (in_file >= files[i].size) continue;
      const std::int64_t n = std::min(size - done, files[i].size - in_file);
      const std::int64_t got = op(i, in_file, done, n);
      done += got;
      if (got != n) break;
    }
    return done;
  }

  bool valid(int slot, int offset, int size) const {
    return slot >= 0 && slot < info.num_pieces() && offset >= 0 && size >= 0 &&
           offset + std::int64_t{size} <= info.piece_size(slot);
  }

  std::int64_t slot_start(int slot, int offset) const { return std::int64_t{slot} * info.piece_length() + offset; }

  const torrent_metainfo info;
  file_cache& cache;
  // Changed only by move_storage, which its caller keeps apart from every
  // other use of the storage (the piece manager does so under its lock).
  std::filesystem::path save_path;
  std::vector<std::int64_t> starts;  // first byte of each file
  // Which slots are in use. The lock is held only to mark a slot, never
  // while taking another.
  platform::mutex busy_mutex;
  std::condition_variable busy_cond;
  std::vector<bool> busy GUARDED_BY(busy_mutex);
};

storage::storage(const torrent_metainfo& info, const std::filesystem::path& save_path)
    : storage(info, save_path, default_file_cache()) {}

storage::storage(const torrent_metainfo& info, const std::filesystem::path& save_path, file_cache& cache)
    : m_impl(std::make_shared<impl>(info, save_path, cache)) {}

storage::~storage() { release_files(); }

int storage::read(char* buf, int slot, int offset, int size) {
  if (!m_impl->valid(slot, offset, size)) throw file_error("slot has no storage");
  impl::slot_guard guard(*m_impl, slot);
  std::int64_t done = m_impl->walk(m_impl->slot_start(slot, offset), size,
                                   [&](std::size_t i, std::int64_t pos, std::int64_t at, std::int64_t n) {
                                     auto f = m_impl->cache.open_file(m_impl.get(), m_impl->path_of(i), file::in);
                                     return f->read_at(buf + at, n, pos);
                                   });
  if (done != size) throw file_error("slot has no storage");
  return size;
}

void storage::write(const char* buf, int slot, int offset, int size) {
  const std::span<const char> one(buf, static_cast<std::size_t>(std::max(size, 0)));
  if (size < 0) throw file_error("no storage for slot " + std::to_string(slot));
  write(std::span(&one, 1), slot, offset);
}

void storage::write(std::span<const std::span<const char>> bufs, int slot, int offset) {
  std::int64_t size = 0;
  for (const auto& b : bufs) size += static_cast<std::int64_t>(b.size());
  if (size > std::numeric_limits<int>::max() || !m_impl->valid(slot, offset, static_cast<int>(size)))
    throw file_error("no storage for slot " + std::to_string(slot));
  impl::slot_guard guard(*m_impl, slot);
  // The buffers that cover [at, at + n) of the bytes to write.
  std::vector<std::span<const char>> part;
  const auto cut = [&](std::int64_t at, std::int64_t n) {
    part.clear();
    for (const auto& b : bufs) {
      const std::int64_t len = static_cast<std::int64_t>(b.size());
      if (at >= len) {
        at -= len;
        continue;
      }
      const std::int64_t take = std::min(len - at, n);
      part.push_back(b.subspan(static_cast<std::size_t>(at), static_cast<std::size_t>(take)));
      n -= take;
      at = 0;
      if (n == 0) break;
    }
    return std::span<const std::span<const char>>(part);
  };
  // Files are opened for reading too, so that the reads that follow writes
  // (hash checks, uploads) find them open.
  std::int64_t done = m_impl->walk(m_impl->slot_start(slot, offset), size,
                                   [&](std::size_t i, std::int64_t pos, std::int64_t at, std::int64_t n) {
                                     auto f = m_impl->cache.open_file(m_impl.get(), m_impl->path_of(i),
                                                                      file::in | file::out);
                                     return f->write_at(cut(at, n), pos);
                                   });
  if (done != size) throw file_error("no storage for slot " + std::to_string(slot));
}

int storage::read_existing(char* buf, int slot, int size) {
  if (!m_impl->valid(slot, 0, size)) return 0;
  impl::slot_guard guard(*m_impl, slot);
  return static_cast<int>(m_impl->walk(m_impl->slot_start(slot, 0), size,
                                       [&](std::size_t i, std::int64_t pos, std::int64_t at, std::int64_t n) {
                                         const std::string path = m_impl->path_of(i);
                                         if (!exists(local_path(path).string())) return std::int64_t{0};
                                         auto f = m_impl->cache.open_file(m_impl.get(), path, file::in);
                                         return f->read_at(buf + at, n, pos);
                                       }));
}

void storage::read_sparse(char* buf, int slot, int size) {
  if (!m_impl->valid(slot, 0, size)) throw file_error("slot has no storage");
  impl::slot_guard guard(*m_impl, slot);
  std::fill(buf, buf + size, 0);
  m_impl->walk(m_impl->slot_start(slot, 0), size,
               [&](std::size_t i, std::int64_t pos, std::int64_t at, std::int64_t n) {
                 const std::string path = m_impl->path_of(i);
                 if (exists(local_path(path).string())) {
                   auto f = m_impl->cache.open_file(m_impl.get(), path, file::in);
                   f->read_at(buf + at, n, pos);
                 }
                 return n;
               });
}

bool storage::move_storage(const std::filesystem::path& save_path) {
  const auto target = complete_path(save_path);
  if (target == m_impl->save_path) return true;
  release_files();
  const auto& files = m_impl->info.files();
  try {
    if (!exists(target.string())) create_directories(target.string());
    if (!files.empty()) {
      const std::string_view first = files.front().path;
      const std::string top(first.substr(0, first.find('/')));
      const bool single = files.size() == 1 && files.front().path == top;
      auto place = [&](const std::filesystem::path& base) {
        return single ? local_path((base / top).string()).string() : (base / top).string();
      };
      const std::string from = place(m_impl->save_path), to = place(target);
      if (exists(to)) return false;
      if (exists(from)) rename(from, to);
    }
  } catch (const file_error&) {
    return false;
  }
  m_impl->save_path = target;
  return true;
}

void storage::release_files() { m_impl->cache.release(m_impl.get()); }

std::filesystem::path storage::save_path() const { return m_impl->save_path; }

const torrent_metainfo& storage::info() const { return m_impl->info; }

void storage::create_folders() {
  for (std::size_t i = 0; i < m_impl->info.files().size(); ++i) {
    const auto parent = local_path(m_impl->path_of(i)).parent_path();
    if (!parent.empty()) create_directories(parent.string());
  }
}

}  // namespace engine

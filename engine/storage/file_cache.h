#pragma once
// The process-wide cache of open data files: at most `limit` files are open
// at once, the least recently used one is closed first, and every cached file
// remembers the storage it belongs to so that a storage can close all of its
// files at once.

#include <cstdint>
#include <memory>
#include <string>

#include <boost/multi_index/member.hpp>
#include <boost/multi_index/ordered_index.hpp>
#include <boost/multi_index/hashed_index.hpp>
#include <boost/multi_index_container.hpp>

#include "engine/storage/file.h"
#include "platform/mutex.h"

namespace engine {

class file_cache {
 public:
  static constexpr int default_limit = 40;

  explicit file_cache(int limit = default_limit) : m_limit(limit < 1 ? 1 : limit) {}
  file_cache(const file_cache&) = delete;
  file_cache& operator=(const file_cache&) = delete;

  // The open file for `utf8_path`, opened with at least the bits of `mode`.
  // A cached file is handed over to `owner`. A file whose cached mode lacks a
  // requested bit is opened again with the requested mode; holders of the
  // old one keep using it until they let go. A failed open throws file_error
  // and leaves the cache as it was.
  std::shared_ptr<file> open_file(const void* owner, const std::string& utf8_path, int mode) EXCLUDES(m_mutex);

  // Drops every file of `owner`; each closes when no one else holds it.
  void release(const void* owner) EXCLUDES(m_mutex);

  int size() const EXCLUDES(m_mutex);
  int limit() const { return m_limit; }

 private:
  struct entry {
    std::shared_ptr<file> handle;
    std::string path;
    int mode;
    const void* owner;
    std::uint64_t last_use;
  };
  struct by_path {};
  struct by_use {};
  struct by_owner {};
  using entries = boost::multi_index_container<
      entry,
      boost::multi_index::indexed_by<
          boost::multi_index::hashed_unique<boost::multi_index::tag<by_path>,
                                            boost::multi_index::member<entry, std::string, &entry::path>>,
          boost::multi_index::ordered_non_unique<boost::multi_index::tag<by_use>,
                                                 boost::multi_index::member<entry, std::uint64_t, &entry::last_use>>,
          boost::multi_index::ordered_non_unique<boost::multi_index::tag<by_owner>,
                                                 boost::multi_index::member<entry, const void*, &entry::owner>>>>;

  const int m_limit;
  // Taken after a piece manager's lock, never before it.
  mutable platform::mutex m_mutex;
  entries m_files GUARDED_BY(m_mutex);
  // Use counter standing in for the time of last use: strictly increasing,
  // so the eviction order is exact.
  std::uint64_t m_clock GUARDED_BY(m_mutex) = 0;
};

// The one cache shared by every torrent of the process.
file_cache& default_file_cache();

}  // namespace engine

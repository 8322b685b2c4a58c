#include "engine/storage/file_cache.h"

namespace engine {

std::shared_ptr<file> file_cache::open_file(const void* owner, const std::string& utf8_path, int mode) {
  platform::mutex_lock lock(m_mutex);
  auto& paths = m_files.get<by_path>();
  auto it = paths.find(utf8_path);
  if (it == paths.end()) {
    // Open before evicting: a failed open must leave the cache unchanged.
    auto f = std::make_shared<file>(utf8_path, mode);
    if (static_cast<int>(m_files.size()) >= m_limit) {
      auto& ages = m_files.get<by_use>();
      ages.erase(ages.begin());
    }
    m_files.insert(entry{f, utf8_path, mode, owner, ++m_clock});
    return f;
  }
  std::shared_ptr<file> f = it->handle;
  int new_mode = it->mode;
  if ((it->mode & mode) != mode) {
    // Another thread may be reading through the old handle right now, so it
    // is not closed under it; it closes when its last holder lets go.
    f = std::make_shared<file>(utf8_path, mode);
    new_mode = mode;
  }
  paths.modify(it, [&](entry& e) REQUIRES(m_mutex) {
    e.handle = f;
    e.mode = new_mode;
    e.owner = owner;
    e.last_use = ++m_clock;
  });
  return f;
}

void file_cache::release(const void* owner) {
  platform::mutex_lock lock(m_mutex);
  m_files.get<by_owner>().erase(owner);
}

int file_cache::size() const {
  platform::mutex_lock lock(m_mutex);
  return static_cast<int>(m_files.size());
}

file_cache& default_file_cache() {
  static file_cache cache(file_cache::default_limit);
  return cache;
}

}  // namespace engine

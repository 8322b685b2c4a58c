#include "engine/disk_io.h"

#include <algorithm>

#include <pthread.h>

#include "engine/file.h"
#include "engine/piece_manager.h"

namespace engine {

disk_io::disk_io(std::function<void()> wake, std::size_t limit)
    : m_wake(std::move(wake)),
      m_limit(limit),
      m_worker([this] { work(); }),
      m_hasher([this] { hash_work(); }) {}

disk_io::~disk_io() {
  std::vector<disk_job> dropped;
  {
    std::lock_guard l(m_mutex);
    // Data that came from peers is kept; nobody waits for reads or hashes.
    drop_unneeded(m_jobs, nullptr, dropped);
    m_stop = true;
  }
  m_work_ready.notify_all();
  m_worker.join();
  {
    std::lock_guard l(m_mutex);
    m_hash_stop = true;
  }
  m_hash_ready.notify_all();
  m_hasher.join();
}

void disk_io::queue(disk_job j) {
  bool idle;
  {
    std::lock_guard l(m_mutex);
    if (j.type == disk_job::write) {
      m_bytes += std::size_t(j.length);
      m_peak = std::max(m_peak, m_bytes.load());
    }
    // Writes are handed over in batches (see kick): waking the worker for
    // every block would cost more than the write.
    idle = m_worker_idle && (j.type != disk_job::write || m_jobs.size() >= batch);
    ++m_pending[j.storage.get()];
    m_jobs.push_back(std::move(j));
  }
  if (idle) m_work_ready.notify_one();
}

void disk_io::kick() {
  bool idle;
  {
    std::lock_guard l(m_mutex);
    idle = m_worker_idle && !m_jobs.empty();
  }
  if (idle) m_work_ready.notify_one();
}

std::unique_ptr<char[]> disk_io::allocate_buffer(std::size_t n) {
  if (n == m_spare_size && !m_spare.empty()) {
    auto b = std::move(m_spare.back());
    m_spare.pop_back();
    return b;
  }
  return std::make_unique_for_overwrite<char[]>(n);
}

void disk_io::async_write(std::shared_ptr<piece_manager> st, int piece, int offset, int length,
                          std::unique_ptr<char[]> data, handler h) {
  disk_job j;
  j.type = disk_job::write;
  j.storage = std::move(st);
  j.piece = piece;
  j.offset = offset;
  j.length = length;
  j.buffer = std::move(data);
  j.handler = std::move(h);
  queue(std::move(j));
}

void disk_io::async_read(std::shared_ptr<piece_manager> st, int piece, int offset, int length, handler h) {
  disk_job j;
  j.type = disk_job::read;
  j.storage = std::move(st);
  j.piece = piece;
  j.offset = offset;
  j.length = length;
  j.handler = std::move(h);
  queue(std::move(j));
}

void disk_io::async_hash(std::shared_ptr<piece_manager> st, int piece, handler h) {
  disk_job j;
  j.type = disk_job::hash;
  j.storage = std::move(st);
  j.piece = piece;
  j.handler = std::move(h);
  queue(std::move(j));
}

void disk_io::async_call(std::shared_ptr<piece_manager> st, std::function<void(piece_manager&)> op, handler h) {
  disk_job j;
  j.type = disk_job::call;
  j.storage = std::move(st);
  j.operation = std::move(op);
  j.handler = std::move(h);
  queue(std::move(j));
}

void disk_io::drop_unneeded(std::vector<disk_job>& q, const piece_manager* st, std::vector<disk_job>& dropped) {
  std::erase_if(q, [&](disk_job& j) {
    if ((st && j.storage.get() != st) || (j.type != disk_job::read && j.type != disk_job::hash)) return false;
    --m_pending[j.storage.get()];
    dropped.push_back(std::move(j));
    return true;
  });
  m_job_done.notify_all();
}

void disk_io::abort_jobs(const piece_manager* st) {
  std::vector<disk_job> dropped;  // destroyed outside the lock
  std::lock_guard l(m_mutex);
  drop_unneeded(m_jobs, st, dropped);
  drop_unneeded(m_hash_jobs, st, dropped);
}

void disk_io::wait_for(const piece_manager* st) {
  std::unique_lock l(m_mutex);
  m_job_done.wait(l, [&] {
    auto i = m_pending.find(st);
    return i == m_pending.end() || i->second == 0;
  });
}

void disk_io::run_completions() {
  {
    std::lock_guard l(m_mutex);
    m_done.swap(m_completions);
    m_wake_pending = false;
  }
  for (disk_job& j : m_done) {
    if (j.type == disk_job::write && j.buffer) {
      if (std::size_t(j.length) != m_spare_size) {
        m_spare.clear();
        m_spare_size = std::size_t(j.length);
      }
      // A quarter of what the limit lets wait at once is kept for reuse.
      if (m_spare.size() * m_spare_size < m_limit / 4) m_spare.push_back(std::move(j.buffer));
    }
    if (j.handler) j.handler(j);
  }
  m_done.clear();
}

std::size_t disk_io::bytes_in_flight() const { return m_bytes.load(std::memory_order_relaxed); }

std::size_t disk_io::peak_bytes_in_flight() const {
  std::lock_guard l(m_mutex);
  return m_peak;
}

bool disk_io::execute(disk_job& j) {
  piece_manager& pm = *j.storage;
  try {
    switch (j.type) {
      case disk_job::write:
        return pm.write(j.buffer.get(), j.piece, j.offset, j.length);
      case disk_job::read:
        j.buffer = std::make_unique_for_overwrite<char[]>(std::size_t(j.length));
        pm.read(j.buffer.get(), j.piece, j.offset, j.length);
        return false;
      case disk_job::hash:
        // After the piece's writes; the hash thread takes it from here.
        j.length = pm.end_hash_run(j.piece);
        return true;
      case disk_job::call:
        j.operation(pm);
        return false;
    }
  } catch (const std::exception& e) {
    j.error = e.what();
  }
  return false;
}

void disk_io::execute_hash(disk_job& j) {
  try {
    if (j.type == disk_job::write)
      j.storage->hash_block(j.piece, j.offset, j.buffer.get(), j.length);
    else
      j.digest = j.storage->hash_piece(j.piece, j.length);
  } catch (const std::exception& e) {
    j.error = e.what();
  }
}

bool disk_io::finish(disk_job& j) {
  // A written block needs no prompt answer, unless connections wait for the
  // room it leaves: its bookkeeping runs with the next round.
  bool prompt = j.type != disk_job::write;
  if (j.type == disk_job::write) {
    const std::size_t before = m_bytes.fetch_sub(std::size_t(j.length));
    const std::size_t after = before - std::size_t(j.length);
    prompt = before >= m_limit / 2 && after < m_limit / 2;
  }
  --m_pending[j.storage.get()];
  m_job_done.notify_all();
  if (m_stop) return false;
  m_completions.push_back(std::move(j));
  if (!prompt || m_wake_pending) return false;
  m_wake_pending = true;
  return true;
}

void disk_io::work() {
  ::pthread_setname_np(::pthread_self(), "qf-disk");
  std::vector<disk_job> taken;
  std::unique_lock l(m_mutex);
  for (;;) {
    m_worker_idle = true;
    m_work_ready.wait(l, [&] { return m_stop || !m_jobs.empty(); });
    m_worker_idle = false;
    if (m_jobs.empty()) return;  // stopping, and everything is done
    taken.swap(m_jobs);
    for (disk_job& j : taken) {
      l.unlock();
      const bool to_hash = execute(j) && !j.error;
      j.operation = nullptr;  // let go of what it holds outside the lock
      l.lock();
      if (to_hash && !m_stop) {
        m_hash_jobs.push_back(std::move(j));
        if (m_hasher_idle && m_hash_jobs.size() >= batch) m_hash_ready.notify_one();
        continue;
      }
      if (finish(j)) {
        l.unlock();
        m_wake();
        l.lock();
      }
    }
    taken.clear();
    if (m_hasher_idle && !m_hash_jobs.empty()) m_hash_ready.notify_one();
  }
}

void disk_io::hash_work() {
  ::pthread_setname_np(::pthread_self(), "qf-hash");
  std::vector<disk_job> taken;
  std::unique_lock l(m_mutex);
  for (;;) {
    m_hasher_idle = true;
    m_hash_ready.wait(l, [&] { return m_hash_stop || !m_hash_jobs.empty(); });
    m_hasher_idle = false;
    if (m_hash_jobs.empty()) return;
    taken.swap(m_hash_jobs);
    for (disk_job& j : taken) {
      l.unlock();
      execute_hash(j);
      l.lock();
      if (finish(j)) {
        l.unlock();
        m_wake();
        l.lock();
      }
    }
    taken.clear();
  }
}

}  // namespace engine

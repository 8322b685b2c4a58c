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
  {
    std::lock_guard l(m_mutex);
    // Data that came from peers is kept; nobody waits for reads or hashes.
    std::erase_if(m_jobs, [](const disk_job& j) { return j.type == disk_job::read || j.type == disk_job::hash; });
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
      m_peak = std::max(m_peak, m_bytes);
    }
    // Writes are handed over in batches (see kick): waking the worker for
    // every block would cost more than the write.
    idle = m_worker_idle && (j.type != disk_job::write || m_jobs.size() >= batch);
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

void disk_io::abort_jobs(const piece_manager* st) {
  std::vector<disk_job> dropped;  // destroyed outside the lock
  std::lock_guard l(m_mutex);
  for (auto* q : {&m_jobs, &m_hash_jobs}) {
    for (auto i = q->begin(); i != q->end();) {
      if (i->storage.get() == st && (i->type == disk_job::read || i->type == disk_job::hash)) {
        dropped.push_back(std::move(*i));
        i = q->erase(i);
      } else {
        ++i;
      }
    }
  }
}

bool disk_io::busy_with(const piece_manager* st) const {
  const auto of = [&](const disk_job& j) { return j.storage.get() == st; };
  return m_running == st || m_hashing == st || std::any_of(m_jobs.begin(), m_jobs.end(), of) ||
         std::any_of(m_hash_jobs.begin(), m_hash_jobs.end(), of);
}

void disk_io::wait_for(const piece_manager* st) {
  std::unique_lock l(m_mutex);
  m_job_done.wait(l, [&] { return !busy_with(st); });
}

void disk_io::run_completions() {
  std::vector<disk_job> done;
  {
    std::lock_guard l(m_mutex);
    done.swap(m_completions);
    m_wake_pending = false;
  }
  for (disk_job& j : done) {
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
}

std::size_t disk_io::bytes_in_flight() const {
  std::lock_guard l(m_mutex);
  return m_bytes;
}

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
    const std::size_t before = m_bytes;
    m_bytes -= std::size_t(j.length);
    prompt = before >= m_limit / 2 && m_bytes < m_limit / 2;
  }
  m_job_done.notify_all();
  if (m_stop) return false;
  m_completions.push_back(std::move(j));
  if (!prompt || m_wake_pending) return false;
  m_wake_pending = true;
  return true;
}

void disk_io::work() {
  ::pthread_setname_np(::pthread_self(), "qf-disk");
  std::unique_lock l(m_mutex);
  for (;;) {
    m_worker_idle = true;
    m_work_ready.wait(l, [&] { return m_stop || !m_jobs.empty(); });
    m_worker_idle = false;
    if (m_jobs.empty()) return;  // stopping, and everything is done
    disk_job j = std::move(m_jobs.front());
    m_jobs.pop_front();
    m_running = j.storage.get();
    l.unlock();

    const bool to_hash = execute(j) && !j.error;
    j.operation = nullptr;  // let go of what it holds outside the lock

    l.lock();
    m_running = nullptr;
    if (to_hash && !m_stop) {
      m_hash_jobs.push_back(std::move(j));
      if (m_hasher_idle && (m_hash_jobs.size() >= batch || m_jobs.empty())) m_hash_ready.notify_one();
      continue;
    }
    if (finish(j)) {
      l.unlock();
      m_wake();
      l.lock();
    }
  }
}

void disk_io::hash_work() {
  ::pthread_setname_np(::pthread_self(), "qf-hash");
  std::unique_lock l(m_mutex);
  for (;;) {
    m_hasher_idle = true;
    m_hash_ready.wait(l, [&] { return m_hash_stop || !m_hash_jobs.empty(); });
    m_hasher_idle = false;
    if (m_hash_jobs.empty()) return;
    disk_job j = std::move(m_hash_jobs.front());
    m_hash_jobs.pop_front();
    m_hashing = j.storage.get();
    l.unlock();

    execute_hash(j);

    l.lock();
    m_hashing = nullptr;
    if (finish(j)) {
      l.unlock();
      m_wake();
      l.lock();
    }
  }
}

}  // namespace engine

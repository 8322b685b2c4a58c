#include "engine/storage/disk_io.h"

#include <algorithm>
#include <array>

#include <pthread.h>

#include "engine/storage/file.h"
#include "engine/storage/piece_manager.h"

namespace engine {

disk_io::disk_io(std::function<void()> wake, std::size_t limit)
    : m_wake(std::move(wake)),
      m_limit(limit),
      m_worker([this] { work(); }),
      m_hasher([this] { hash_work(); }) {}

disk_io::~disk_io() {
  submit();
  std::vector<disk_job> dropped;
  {
    platform::mutex_lock l(m_mutex);
    // Data that came from peers is kept; nobody waits for reads or hashes.
    drop_unneeded(m_jobs, nullptr, dropped);
    m_stop = true;
  }
  m_work_ready.notify_all();
  m_worker.join();
  {
    platform::mutex_lock l(m_mutex);
    m_hash_stop = true;
  }
  m_hash_ready.notify_all();
  m_hasher.join();
}

void disk_io::queue(disk_job j) {
  bool now;
  {
    platform::mutex_lock l(m_submit_mutex);
    if (j.type == disk_job::write) {
      m_bytes += std::size_t(j.length);
      m_peak = std::max(m_peak, m_bytes.load());
    }
    // Writes are handed over in batches (see kick): waking the worker for
    // every block would cost more than the write. Anything else goes at
    // once, with the writes before it.
    now = j.type != disk_job::write || m_submitted.size() + 1 >= batch;
    m_submitted.push_back(std::move(j));
  }
  if (now) submit();
}

void disk_io::submit() {
  platform::mutex_lock s(m_submit_mutex);
  if (m_submitted.empty()) return;
  bool idle;
  {
    platform::mutex_lock l(m_mutex);
    for (disk_job& j : m_submitted) {
      ++m_pending[j.storage.get()];
      m_jobs.push_back(std::move(j));
    }
    idle = m_worker_idle;
  }
  m_submitted.clear();
  if (idle) m_work_ready.notify_one();
}

void disk_io::kick() {
  {
    platform::mutex_lock s(m_submit_mutex);
    if (m_submitted.empty()) {
      m_kick_owed = false;
      return;
    }
    // A few writes wait one more round for company: waking an idle worker
    // costs more than writing them.
    if (!m_kick_owed && m_submitted.size() < batch / 2) {
      m_kick_owed = true;
      return;
    }
    m_kick_owed = false;
  }
  submit();
}

std::unique_ptr<char[]> disk_io::allocate_buffer(std::size_t n) {
  if (n == m_spare_size && !m_spare.empty()) {
    auto b = std::move(m_spare.back());
    m_spare.pop_back();
    return b;
  }
  return std::make_unique_for_overwrite<char[]>(n);
}

void disk_io::recycle(std::unique_ptr<char[]> buffer, std::size_t n) {
  if (n != m_spare_size) {
    m_spare.clear();
    m_spare_size = n;
  }
  // An eighth of the limit is kept for reuse.
  if (buffer && m_spare.size() * m_spare_size < m_limit / 8) m_spare.push_back(std::move(buffer));
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
  // Given and freed by the network thread, like the write buffers.
  j.buffer = std::make_unique_for_overwrite<char[]>(std::size_t(length));
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
  std::erase_if(q, [&](disk_job& j) REQUIRES(m_mutex) {
    if ((st && j.storage.get() != st) || (j.type != disk_job::read && j.type != disk_job::hash)) return false;
    --m_pending[j.storage.get()];
    dropped.push_back(std::move(j));
    return true;
  });
  m_job_done.notify_all();
}

void disk_io::abort_jobs(const piece_manager* st) {
  submit();
  std::vector<disk_job> dropped;  // destroyed outside the lock
  platform::mutex_lock l(m_mutex);
  drop_unneeded(m_jobs, st, dropped);
  drop_unneeded(m_hash_jobs, st, dropped);
}

void disk_io::wait_for(const piece_manager* st) {
  submit();
  platform::mutex_lock l(m_mutex);
  l.wait(m_job_done, [&]() REQUIRES(m_mutex) {
    auto i = m_pending.find(st);
    return i == m_pending.end() || i->second == 0;
  });
}

void disk_io::run_completions() {
  if (!m_completed.load(std::memory_order_acquire)) return;
  {
    platform::mutex_lock l(m_mutex);
    m_done.swap(m_completions);
    m_completed.store(false, std::memory_order_relaxed);
    m_wake_pending = false;
    m_uncollected = 0;
  }
  for (disk_job& j : m_done) {
    if (j.type == disk_job::write) {
      // The block's buffer is back: only now does it leave the count.
      m_bytes -= std::size_t(j.length);
      recycle(std::move(j.buffer), std::size_t(j.length));
    }
    if (j.handler) j.handler(j);
  }
  m_done.clear();
}

void disk_io::wake_when_room() {
  submit();  // nothing held back may keep the room from coming
  bool wake;
  {
    platform::mutex_lock l(m_mutex);
    // Otherwise a write finishing later crosses the mark and wakes it.
    wake = !m_wake_pending && m_bytes.load() - std::min(m_bytes.load(), m_uncollected) < m_limit / 2;
    if (wake) m_wake_pending = true;
  }
  if (wake) m_wake();
}

std::size_t disk_io::bytes_in_flight() const { return m_bytes.load(std::memory_order_relaxed); }

std::size_t disk_io::peak_bytes_in_flight() const {
  platform::mutex_lock l(m_submit_mutex);
  return m_peak;
}

bool disk_io::execute(disk_job& j) {
  piece_manager& pm = *j.storage;
  try {
    switch (j.type) {
      case disk_job::write:
        return pm.write(j.buffer.get(), j.piece, j.offset, j.length);
      case disk_job::read:
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
  // room it leaves once collected: its bookkeeping runs with the next round.
  bool prompt = j.type != disk_job::write;
  if (j.type == disk_job::write) {
    const std::size_t before = m_bytes.load() - std::min(m_bytes.load(), m_uncollected);
    m_uncollected += std::size_t(j.length);
    const std::size_t after = before - std::min(before, std::size_t(j.length));
    prompt = before >= m_limit / 2 && after < m_limit / 2;
  }
  --m_pending[j.storage.get()];
  m_job_done.notify_all();
  if (m_stop) return false;
  m_completions.push_back(std::move(j));
  m_completed.store(true, std::memory_order_release);
  if (!prompt || m_wake_pending) return false;
  m_wake_pending = true;
  return true;
}

bool disk_io::hand_over(std::vector<disk_job>& to_hash, std::vector<disk_job>& finished) {
  bool wake = false;
  if (!to_hash.empty()) {
    if (m_stop) {
      // Nobody waits for the hashes any more.
      for (disk_job& j : to_hash) finished.push_back(std::move(j));
    } else {
      for (disk_job& j : to_hash) m_hash_jobs.push_back(std::move(j));
      if (m_hasher_idle) m_hash_ready.notify_one();
    }
    to_hash.clear();
  }
  for (disk_job& j : finished) wake = finish(j) || wake;
  finished.clear();
  return wake;
}

std::size_t disk_io::write_run(std::vector<disk_job>& jobs, std::size_t first) {
  const disk_job& head = jobs[first];
  std::size_t end = first + 1;
  if (head.type != disk_job::write) return end;
  std::int64_t next = std::int64_t(head.offset) + head.length;
  while (end < jobs.size() && end - first < max_run) {
    const disk_job& j = jobs[end];
    if (j.type != disk_job::write || j.storage != head.storage || j.piece != head.piece || j.offset != next) break;
    next += j.length;
    ++end;
  }
  return end;
}

bool disk_io::execute_run(std::span<disk_job> run) {
  std::array<std::span<const char>, max_run> blocks;
  for (std::size_t i = 0; i < run.size(); ++i) blocks[i] = {run[i].buffer.get(), std::size_t(run[i].length)};
  return run.front().storage->write(std::span(blocks.data(), run.size()), run.front().piece, run.front().offset);
}

void disk_io::work() {
  ::pthread_setname_np(::pthread_self(), "qf-disk");
  std::vector<disk_job> taken, to_hash, finished;
  platform::mutex_lock l(m_mutex);
  for (;;) {
    m_worker_idle = true;
    l.wait(m_work_ready, [&]() REQUIRES(m_mutex) { return m_stop || !m_jobs.empty(); });
    m_worker_idle = false;
    if (m_jobs.empty()) return;  // stopping, and everything is done
    taken.swap(m_jobs);
    l.unlock();
    for (std::size_t i = 0; i < taken.size();) {
      // Adjacent blocks of a piece go to disk in one call. Should that
      // fail, each is written on its own, so that each reports its own
      // outcome.
      const std::size_t end = write_run(taken, i);
      bool merged = false, in_order = false;
      if (end - i > 1) {
        try {
          in_order = execute_run(std::span(taken).subspan(i, end - i));
          merged = true;
        } catch (const std::exception&) {
        }
      }
      bool prompt = false;
      for (; i < end; ++i) {
        disk_job& j = taken[i];
        prompt = prompt || j.type != disk_job::write;
        const bool hash = merged ? in_order : execute(j) && !j.error;
        j.operation = nullptr;  // let go of what it holds outside the lock
        // A written block is hashed here while its bytes are still in this
        // core's cache; a piece's final hash (which may read the piece back)
        // goes on to the hash thread.
        if (hash && j.type == disk_job::write) {
          execute_hash(j);
          finished.push_back(std::move(j));
        } else {
          (hash ? to_hash : finished).push_back(std::move(j));
        }
      }
      // Results go on in groups, or at once when somebody waits for them.
      if (prompt || to_hash.size() + finished.size() >= batch || i == taken.size()) {
        l.lock();
        const bool wake = hand_over(to_hash, finished);
        l.unlock();
        if (wake) m_wake();
      }
    }
    taken.clear();
    l.lock();
  }
}

void disk_io::hash_work() {
  ::pthread_setname_np(::pthread_self(), "qf-hash");
  std::vector<disk_job> taken, none, finished;
  platform::mutex_lock l(m_mutex);
  for (;;) {
    m_hasher_idle = true;
    l.wait(m_hash_ready, [&]() REQUIRES(m_mutex) { return m_hash_stop || !m_hash_jobs.empty(); });
    m_hasher_idle = false;
    if (m_hash_jobs.empty()) return;
    taken.swap(m_hash_jobs);
    l.unlock();
    // Only pieces' hash jobs come here (blocks are hashed as they are
    // written): each result is awaited, so each goes back at once.
    for (disk_job& j : taken) {
      execute_hash(j);
      finished.push_back(std::move(j));
      l.lock();
      const bool wake = hand_over(none, finished);
      l.unlock();
      if (wake) m_wake();
    }
    taken.clear();
    l.lock();
  }
}

}  // namespace engine

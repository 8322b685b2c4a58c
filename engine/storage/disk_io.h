#pragma once
// The disk worker. Block writes, upload reads and piece hashes of every
// torrent run on threads of their own, so that neither a slow disk nor the
// hashing of a large piece holds up the network thread and its peers.
//
// Two threads share the work: the disk thread runs the jobs in the order
// they were queued (adjacent blocks of a piece that wait together go to disk
// in one call); a block written in order from a piece's start is added to
// the piece's running SHA-1 right after its write, while its bytes are still
// in that core's cache, so a piece is rarely read back. A piece's hash job
// follows its writes and goes on to the hash thread, which finishes the
// SHA-1 (reading back what was not hashed on its way in) while the disk
// thread writes on.
//
// Each job holds a share of the storage it works on: a torrent removed while
// its jobs are queued or running frees nothing they use. A finished job comes
// back as a completion; the network thread runs the completions' handlers
// (run_completions) under the session lock, woken through `wake` when the
// first one is ready. Handlers hold weak references to what they report to.
//
// The block data of writes is counted until their buffers are back on the
// network thread: once it reaches the limit, the connections stop reading
// from their sockets until the worker has caught up (the peers then slow
// down through TCP's own flow control).

#include <atomic>
#include <condition_variable>
#include <cstddef>
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <span>
#include <string>
#include <thread>
#include <vector>

#include "engine/formats/sha1_hash.h"
#include "platform/mutex.h"

namespace engine {

class piece_manager;

struct disk_job {
  enum kind { write, read, hash, call };
  kind type = call;
  std::shared_ptr<piece_manager> storage;
  int piece = 0;
  int offset = 0;
  int length = 0;
  // write: the block to write; read: the bytes read.
  std::unique_ptr<char[]> buffer;
  // call: what to do with the storage.
  std::function<void(piece_manager&)> operation;
  // Results: the error text of a file_error (none on success) and, for a
  // hash job, the piece's SHA-1.
  std::optional<std::string> error;
  sha1_hash digest;
  // Runs on the network thread with the finished job; may be empty.
  std::function<void(disk_job&)> handler;
};

class disk_io {
 public:
  static constexpr std::size_t default_limit = 768 * 1024;
  // Writes queued before an idle worker is woken without a kick.
  static constexpr std::size_t batch = 16;

  // `wake` is called (from the worker) when a completion that should not
  // wait for the network thread's next round is ready.
  explicit disk_io(std::function<void()> wake, std::size_t limit = default_limit);
  // Writes still queued go to disk first; queued reads and hashes are
  // dropped; no handler runs any more.
  ~disk_io();
  disk_io(const disk_io&) = delete;
  disk_io& operator=(const disk_io&) = delete;

  using handler = std::function<void(disk_job&)>;
  // A buffer of `n` bytes for a write. Network thread only: buffers of
  // written blocks come back to it through run_completions, so that the
  // allocator is never asked to free memory across threads.
  std::unique_ptr<char[]> allocate_buffer(std::size_t n);
  // Takes back a buffer of `n` bytes from allocate_buffer, for reuse.
  void recycle(std::unique_ptr<char[]> buffer, std::size_t n);
  // `data` holds `length` bytes for `offset` of `piece`.
  void async_write(std::shared_ptr<piece_manager> st, int piece, int offset, int length,
                   std::unique_ptr<char[]> data, handler h);
  void async_read(std::shared_ptr<piece_manager> st, int piece, int offset, int length, handler h);
  // The SHA-1 of the piece as it stands on disk once the writes queued
  // before it are done.
  void async_hash(std::shared_ptr<piece_manager> st, int piece, handler h);
  // Runs `op` on the storage after the jobs queued before it.
  void async_call(std::shared_ptr<piece_manager> st, std::function<void(piece_manager&)> op, handler h = {});

  // Hands the writes queued since the last hand-over to the worker; the
  // network thread calls it at the end of each round. A handful of writes
  // may wait for the next round (never longer).
  void kick();

  // Drops the queued reads and hashes of a storage (their handlers never
  // run); its writes and calls still run.
  void abort_jobs(const piece_manager* st);
  // Blocks until no job of the storage is queued or running.
  void wait_for(const piece_manager* st);

  // Runs the handlers of the finished jobs, in the order they finished.
  // Network thread only.
  void run_completions();

  // Bytes of block data held by writes: queued, running, or done and not
  // yet collected by run_completions.
  std::size_t bytes_in_flight() const;
  bool over_limit() const { return bytes_in_flight() >= m_limit; }
  // Below this the connections that stopped reading start again.
  bool below_resume_mark() const { return bytes_in_flight() < m_limit / 2; }
  // A connection stopped reading: the network thread is to be woken once
  // the bytes in flight can drop below the resume mark (at once when all it
  // takes is to collect the finished writes).
  void wake_when_room();
  std::size_t limit() const { return m_limit; }
  void set_limit(std::size_t limit) { m_limit = limit; }
  // The most ever held at once by writes (for tests and benchmarks).
  std::size_t peak_bytes_in_flight() const;

 private:
  void queue(disk_job j);
  // Moves the queued jobs over to the worker.
  void submit();
  void work();
  void hash_work();
  // Passes the jobs a thread finished on (lock held): to the hash thread
  // (`to_hash`) or back to the network thread. True when the network thread
  // should be woken now.
  bool hand_over(std::vector<disk_job>& to_hash, std::vector<disk_job>& finished) REQUIRES(m_mutex);
  // Runs a job of the disk thread; true when it goes on to the hash thread.
  static bool execute(disk_job& j);
  // The end of the run of adjacent writes to one piece that starts at
  // `first` (first + 1 when that is no write).
  static std::size_t write_run(std::vector<disk_job>& jobs, std::size_t first);
  // Writes a run in one go; true when it continues the piece's in-order
  // run. Throws what the write throws.
  static bool execute_run(std::span<disk_job> run);
  static constexpr std::size_t max_run = 64;
  static void execute_hash(disk_job& j);
  // Hands a finished job back (lock held); true when the network thread
  // should be woken now.
  bool finish(disk_job& j) REQUIRES(m_mutex);
  // Drops queued reads and hashes (of `st`, or of every storage); lock held.
  void drop_unneeded(std::vector<disk_job>& q, const piece_manager* st, std::vector<disk_job>& dropped)
      REQUIRES(m_mutex);

  std::function<void()> m_wake;
  std::size_t m_limit;

  // Jobs not handed to the worker yet: writes go over in batches, so that
  // neither side takes the worker's lock for every block.
  mutable platform::mutex m_submit_mutex;
  std::vector<disk_job> m_submitted GUARDED_BY(m_submit_mutex);
  std::size_t m_peak GUARDED_BY(m_submit_mutex) = 0;
  // The last kick left writes waiting: the next one hands them over.
  bool m_kick_owed GUARDED_BY(m_submit_mutex) = false;

  // Taken after m_submit_mutex where both are held.
  mutable platform::mutex m_mutex;
  std::condition_variable m_work_ready;
  std::condition_variable m_hash_ready;
  std::condition_variable m_job_done;
  // Each thread takes its whole queue at once; the vectors keep their room,
  // so that steady traffic allocates nothing (and nothing is freed on
  // another thread than the one that allocated it).
  std::vector<disk_job> m_jobs GUARDED_BY(m_mutex);
  std::vector<disk_job> m_hash_jobs GUARDED_BY(m_mutex);
  std::vector<disk_job> m_completions GUARDED_BY(m_mutex);
  std::vector<disk_job> m_done;  // network thread only
  // Set when m_completions is not empty, so that a round without any does
  // not take the lock.
  std::atomic<bool> m_completed{false};
  // Jobs queued or running, per storage (entries stay at 0).
  std::map<const piece_manager*, int> m_pending GUARDED_BY(m_mutex);
  // Changed by the network thread alone; read by the worker threads and by
  // over_limit on every socket read.
  std::atomic<std::size_t> m_bytes{0};
  // Bytes of the finished writes in m_completions.
  std::size_t m_uncollected GUARDED_BY(m_mutex) = 0;
  bool m_stop GUARDED_BY(m_mutex) = false;
  bool m_hash_stop GUARDED_BY(m_mutex) = false;
  bool m_worker_idle GUARDED_BY(m_mutex) = false;
  bool m_hasher_idle GUARDED_BY(m_mutex) = false;
  // The network thread was woken and has not collected the completions yet.
  bool m_wake_pending GUARDED_BY(m_mutex) = false;
  // Network thread only: spare write buffers, all of m_spare_size bytes.
  std::vector<std::unique_ptr<char[]>> m_spare;
  std::size_t m_spare_size = 0;
  std::thread m_worker;
  std::thread m_hasher;
};

}  // namespace engine

#pragma once
// The make-torrent dialog's worker: one thread at a time that runs
// MakeTorrent and reports through callbacks on that thread (the window
// turns them into events of its own). The worker owns its thread and joins
// it; destroying a worker that still runs asks it to stop first.

#include "client/dialogs/make_torrent_job.h"

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <functional>
#include <mutex>
#include <thread>

namespace client {

class MakeTorrentWorker {
 public:
  using Done = std::function<void(MakeTorrentResult)>;

  MakeTorrentWorker() = default;
  ~MakeTorrentWorker();
  MakeTorrentWorker(const MakeTorrentWorker&) = delete;
  MakeTorrentWorker& operator=(const MakeTorrentWorker&) = delete;

  // Starts making the torrent; false (and nothing starts) while a job still
  // runs. `done` is called last, once, with the result, when the job no
  // longer counts as running.
  bool Start(MakeTorrentJob job, MakeTorrentProgress progress, Done done);
  bool Running() const;
  // Asks the job to stop before its next piece.
  void RequestCancel() { m_cancel = true; }
  bool CancelRequested() const { return m_cancel; }
  // Waits up to `wait` for the job to end; true when none runs (its thread
  // is then joined). Else asks it to stop and returns false.
  bool StopWithin(std::chrono::milliseconds wait);

 private:
  void Join();

  std::thread m_thread;
  std::atomic<bool> m_cancel{false};
  mutable std::mutex m_mutex;
  std::condition_variable m_ended;
  bool m_running = false;
};

}  // namespace client

#pragma once
// The worker threads of the network features (one per dropped URL, one per
// update check). A job reports only through the callbacks it was given,
// from its own thread; the owner turns them into queued events of its
// window. The owner keeps the workers while it lives: destroying them
// aborts every running transfer and joins its thread, so no job reports
// after its window is gone.

#include "client/net/http_get.h"

#include <atomic>
#include <cstddef>
#include <functional>
#include <list>
#include <memory>
#include <thread>

namespace client {

class NetWorker {
 public:
  // Starts `job` on a thread of its own at once.
  explicit NetWorker(std::function<void(HttpCancel&)> job);
  // Aborts and joins.
  ~NetWorker();
  NetWorker(const NetWorker&) = delete;
  NetWorker& operator=(const NetWorker&) = delete;

  void Abort() { m_cancel.Abort(); }
  bool Finished() const { return m_finished.load(); }

 private:
  HttpCancel m_cancel;
  std::atomic<bool> m_finished{false};
  std::thread m_thread;
};

class NetWorkers {
 public:
  NetWorkers() = default;
  // Aborts every worker first, then joins them all.
  ~NetWorkers();
  NetWorkers(const NetWorkers&) = delete;
  NetWorkers& operator=(const NetWorkers&) = delete;

  // Drops the finished workers first.
  void Start(std::function<void(HttpCancel&)> job);
  // Joins and drops the workers whose job has ended.
  void Reap();
  // The workers not yet dropped.
  std::size_t Count() const { return m_workers.size(); }

 private:
  std::list<std::unique_ptr<NetWorker>> m_workers;
};

}  // namespace client

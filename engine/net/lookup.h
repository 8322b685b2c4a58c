#pragma once
// Host names of trackers are resolved on one worker thread so that the
// network thread never waits on a name server. A requester queues a look-up,
// keeps the shared entry and polls its done flag.

#include <atomic>
#include <condition_variable>
#include <deque>
#include <functional>
#include <memory>
#include <string>
#include <thread>

#include "engine/net/address.h"
#include "platform/mutex.h"

namespace engine {

namespace detail {

struct lookup_entry {
  // Set last, with release order: address and error are complete once a
  // reader has seen it true (acquire).
  std::atomic<bool> done{false};
  // The requested port from the start; the ip once resolved.
  engine::address address;
  std::string host;
  // Empty on success, else why the look-up failed.
  std::string error;
  // Called on the worker once done is set (may be empty): wakes whoever
  // waits for the result.
  std::function<void()> notify;
};

}  // namespace detail

class lookup_thread {
 public:
  lookup_thread();
  // Stops the worker and drops the look-ups still queued (they never end).
  // A worker stuck in a name server that does not answer is left behind
  // after a short wait rather than holding the caller.
  ~lookup_thread();
  lookup_thread(const lookup_thread&) = delete;
  lookup_thread& operator=(const lookup_thread&) = delete;

  // `notify` (may be empty) is called on the worker when the look-up ends.
  std::shared_ptr<detail::lookup_entry> add_lookup(const std::string& host, std::uint16_t port,
                                                   std::function<void()> notify = {});

 private:
  struct shared_state {
    // Held for the queue only, never while a name is resolved; no other
    // lock is taken under it.
    platform::mutex mutex;
    std::condition_variable wake;     // new work or stop
    std::condition_variable stopped;  // the worker has ended
    std::deque<std::shared_ptr<detail::lookup_entry>> queue GUARDED_BY(mutex);
    bool stop GUARDED_BY(mutex) = false;
    bool ended GUARDED_BY(mutex) = false;
  };
  static void run(std::shared_ptr<shared_state> state);
  // Tells the worker to stop and waits a little for it; true once it ended.
  bool stop_worker() EXCLUDES(m_state->mutex);

  std::shared_ptr<shared_state> m_state;
  std::thread m_worker;
};

// Queues a look-up on the process-wide service, which starts with the first
// call and ends at program exit.
std::shared_ptr<detail::lookup_entry> async_lookup(const std::string& host, std::uint16_t port,
                                                   std::function<void()> notify = {});

}  // namespace engine

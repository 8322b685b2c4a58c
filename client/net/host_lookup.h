#pragma once
// Host-name lookups off the GUI thread: one worker thread takes lookups in
// order and hands each answer, with the key it was asked under, to a sink.
// The owner keys its lookups so that an answer for something that has gone
// in the meantime can be recognised and dropped.
//
// Once the worker is destroyed no answer reaches the sink any more. A
// lookup under way at that moment is not waited for: the thread finishes
// it on its own and ends.

#include <condition_variable>
#include <cstdint>
#include <deque>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <thread>

namespace client {

// The first IPv4 address of `host` as "a.b.c.d"; none when it has none.
std::optional<std::string> ResolveIpv4(const std::string& host);

class HostLookupWorker {
 public:
  struct Answer {
    std::uint64_t key = 0;
    std::optional<std::string> address;  // none: the lookup failed
  };
  using Resolver = std::function<std::optional<std::string>(const std::string& host)>;
  // Called on the worker thread.
  using Sink = std::function<void(Answer)>;

  explicit HostLookupWorker(Sink sink, Resolver resolver = ResolveIpv4);
  ~HostLookupWorker();
  HostLookupWorker(const HostLookupWorker&) = delete;
  HostLookupWorker& operator=(const HostLookupWorker&) = delete;

  void Lookup(std::uint64_t key, std::string host);

 private:
  struct State {
    std::mutex mutex;
    std::condition_variable wake;
    std::deque<std::pair<std::uint64_t, std::string>> queue;
    Sink sink;
    Resolver resolver;
    bool stop = false;
    bool busy = false;  // the resolver runs
  };
  static void Run(std::shared_ptr<State> state);

  std::shared_ptr<State> m_state;
  std::thread m_thread;
};

}  // namespace client

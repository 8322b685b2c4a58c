#include "engine/net/lookup.h"

#include <chrono>
#include <exception>

namespace engine {

lookup_thread::lookup_thread() : m_state(std::make_shared<shared_state>()), m_worker(run, m_state) {}

lookup_thread::~lookup_thread() {
  // The worker owns a share of the state, so it may outlive us safely.
  if (stop_worker())
    m_worker.join();
  else
    m_worker.detach();
}

bool lookup_thread::stop_worker() {
  platform::mutex_lock l(m_state->mutex);
  m_state->stop = true;
  m_state->queue.clear();
  m_state->wake.notify_all();
  return l.wait_for(m_state->stopped, std::chrono::seconds(2),
                    [&]() REQUIRES(m_state->mutex) { return m_state->ended; });
}

std::shared_ptr<detail::lookup_entry> lookup_thread::add_lookup(const std::string& host, std::uint16_t port,
                                                                std::function<void()> notify) {
  auto e = std::make_shared<detail::lookup_entry>();
  e->host = host;
  e->address = address(0u, port);
  e->notify = std::move(notify);
  platform::mutex_lock l(m_state->mutex);
  m_state->queue.push_back(e);
  m_state->wake.notify_one();
  return e;
}

void lookup_thread::run(std::shared_ptr<shared_state> state) {
  platform::mutex_lock l(state->mutex);
  for (;;) {
    l.wait(state->wake, [&]() REQUIRES(state->mutex) { return state->stop || !state->queue.empty(); });
    if (state->stop) break;
    auto e = std::move(state->queue.front());
    state->queue.pop_front();
    // Resolve without the lock: requests may be queued meanwhile and the
    // destructor can still stop us.
    l.unlock();
    try {
      e->address = address(e->host, e->address.port);
    } catch (const std::exception& ex) {
      e->error = std::string(ex.what()) + ": " + e->host;
    }
    e->done.store(true, std::memory_order_release);
    if (e->notify) e->notify();
    e.reset();
    l.lock();
  }
  state->ended = true;
  state->stopped.notify_all();
}

std::shared_ptr<detail::lookup_entry> async_lookup(const std::string& host, std::uint16_t port,
                                                   std::function<void()> notify) {
  static lookup_thread service;
  return service.add_lookup(host, port, std::move(notify));
}

}  // namespace engine

#pragma once
// Test support for the port mapping code: a scripted router behind the
// UpnpMapper interface, the worker's answers collected for the test thread,
// and a recording main window.

#include <chrono>
#include <condition_variable>
#include <deque>
#include <memory>
#include <mutex>
#include <optional>
#include <set>
#include <string>
#include <vector>

#include "client/net/network_setup.h"
#include "client/net/upnp_mapper.h"
#include "client/net/upnp_worker.h"

namespace upnp_test {

// The router's side: what it was asked, in order, and how it answers.
struct FakeRouter {
  std::mutex mutex;
  std::condition_variable released;
  std::vector<std::string> calls;
  bool hold_open = false;  // Open waits until Release
  bool open_fails = false;
  std::set<std::string> add_fails;  // protocols
  bool disable_fails = false;
  bool external_fails = false;
  std::string external = "203.0.113.9";

  void Record(std::string call) {
    std::lock_guard lock(mutex);
    calls.push_back(std::move(call));
  }
  std::vector<std::string> TakeCalls() {
    std::lock_guard lock(mutex);
    return std::exchange(calls, {});
  }
  template <class F>
  void Script(F change) {
    std::lock_guard lock(mutex);
    change(*this);
  }
  void Release() {
    Script([](FakeRouter& r) { r.hold_open = false; });
    released.notify_all();
  }
  // The worker's pause, recorded among the router calls.
  client::UpnpWorker::Pause Pause() {
    return [this](unsigned ms) { Record("pause " + std::to_string(ms)); };
  }
};

class FakeUpnpMapper : public client::UpnpMapper {
 public:
  explicit FakeUpnpMapper(std::shared_ptr<FakeRouter> router) : m_router(std::move(router)) {}

  client::UpnpResult Open(const std::string& local_address) override {
    std::unique_lock lock(m_router->mutex);
    m_router->calls.push_back("open " + local_address);
    m_router->released.wait(lock, [&] { return !m_router->hold_open; });
    return Answer(m_router->open_fails);
  }
  client::UpnpResult AddMapping(const client::PortMapping& m) override {
    std::lock_guard lock(m_router->mutex);
    m_router->calls.push_back("add " + m.protocol + " " + std::to_string(m.external_port) + " -> " +
                              m.internal_client + ":" + std::to_string(m.internal_port) + " " + m.description);
    return Answer(m_router->add_fails.count(m.protocol) != 0);
  }
  client::UpnpResult DisableMapping(const client::PortMapping& m) override {
    std::lock_guard lock(m_router->mutex);
    m_router->calls.push_back("disable " + m.protocol + " " + std::to_string(m.external_port));
    return Answer(m_router->disable_fails);
  }
  client::UpnpResult ExternalAddress(std::string& address) override {
    std::lock_guard lock(m_router->mutex);
    m_router->calls.push_back("external");
    if (!m_router->external_fails) address = m_router->external;
    return Answer(m_router->external_fails);
  }

 private:
  static client::UpnpResult Answer(bool fails) {
    return fails ? client::UpnpResult::Failure("scripted failure") : client::UpnpResult{};
  }
  std::shared_ptr<FakeRouter> m_router;
};

// The worker's answers, as the window's event queue would hold them.
class EventQueue {
 public:
  client::UpnpWorker::Sink Sink() {
    return [this](client::UpnpEvent e) {
      {
        std::lock_guard lock(m_mutex);
        m_events.push_back(std::move(e));
      }
      m_arrived.notify_all();
    };
  }
  // The next answer, waiting up to `limit` for it.
  std::optional<client::UpnpEvent> Next(std::chrono::seconds limit = std::chrono::seconds(60)) {
    std::unique_lock lock(m_mutex);
    if (!m_arrived.wait_for(lock, limit, [&] { return !m_events.empty(); })) return std::nullopt;
    auto e = std::move(m_events.front());
    m_events.pop_front();
    return e;
  }
  template <class T>
  std::optional<T> NextOf(std::chrono::seconds limit = std::chrono::seconds(60)) {
    auto e = Next(limit);
    if (!e || !std::holds_alternative<T>(*e)) return std::nullopt;
    return std::get<T>(std::move(*e));
  }
  bool Empty() {
    std::lock_guard lock(m_mutex);
    return m_events.empty();
  }

 private:
  std::mutex m_mutex;
  std::condition_variable m_arrived;
  std::deque<client::UpnpEvent> m_events;
};

struct RecordingHost : client::NetworkSetup::Host {
  void AddLogLine(const std::wstring& line) override { log.push_back(line); }
  void ShowStatus(const std::wstring& text) override { status.push_back(text); }
  std::vector<std::wstring> log;
  std::vector<std::wstring> status;
};

}  // namespace upnp_test

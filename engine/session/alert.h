#pragma once
// Notifications from the engine to the application, and the bounded queue
// they wait in until the application pops them.

#include <atomic>
#include <chrono>
#include <deque>
#include <memory>
#include <string>
#include <type_traits>

#include "platform/mutex.h"

namespace engine {

class alert {
 public:
  enum severity_t { debug = 0, info = 1, warning = 2, critical = 3, fatal = 4, none = 5 };
  using time_point = std::chrono::sys_seconds;

  alert(severity_t severity, std::string message);
  virtual ~alert() = default;
  // A heap copy of the same kind, timestamp included.
  virtual std::unique_ptr<alert> clone() const = 0;

  const std::string& msg() const { return m_message; }
  severity_t severity() const { return m_severity; }
  // UTC, whole seconds, taken when the poster built the alert.
  time_point timestamp() const { return m_timestamp; }

 protected:
  alert(const alert&) = default;
  alert& operator=(const alert&) = default;

 private:
  std::string m_message;
  severity_t m_severity;
  time_point m_timestamp;
};

// Implements clone for an alert kind.
template <class Derived>
class alert_of : public alert {
 public:
  using alert::alert;
  std::unique_ptr<alert> clone() const override {
    return std::make_unique<Derived>(static_cast<const Derived&>(*this));
  }
};

class alert_manager {
 public:
  static constexpr std::size_t max_queued = 100;

  alert_manager() = default;
  alert_manager(const alert_manager&) = delete;
  alert_manager& operator=(const alert_manager&) = delete;

  // Whether an alert of this severity would be queued; posters ask first and
  // build the alert only then. Safe from any thread without the lock.
  bool should_post(alert::severity_t severity) const {
    return severity >= m_threshold.load(std::memory_order_relaxed);
  }
  // Queues a copy (the caller keeps its object); at the cap the oldest alert
  // is dropped first.
  void post_alert(const alert& a) EXCLUDES(m_mutex);
  // Builds the alert `make` returns and queues it, only when the level of its
  // kind (`kind::level`) is admitted: texts nobody reads are never built.
  // `make` runs under the caller's locks, which the analysis cannot follow
  // into this template.
  template <class Make>
  void post_if(Make&& make) NO_THREAD_SAFETY_ANALYSIS {
    using kind = std::remove_cvref_t<std::invoke_result_t<Make&>>;
    if (should_post(kind::level)) post_alert(make());
  }
  bool pending() const EXCLUDES(m_mutex);
  // The oldest alert, or nothing when none is queued.
  std::unique_ptr<alert> get() EXCLUDES(m_mutex);
  void set_severity(alert::severity_t threshold) EXCLUDES(m_mutex);
  alert::severity_t severity() const { return m_threshold.load(std::memory_order_relaxed); }

 private:
  mutable platform::mutex m_mutex;
  std::deque<std::unique_ptr<alert>> m_alerts GUARDED_BY(m_mutex);
  std::atomic<alert::severity_t> m_threshold{alert::none};
};

}  // namespace engine

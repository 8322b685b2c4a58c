#include "engine/session/alert.h"

namespace engine {

alert::alert(severity_t severity, std::string message)
    : m_message(std::move(message)),
      m_severity(severity),
      m_timestamp(std::chrono::floor<std::chrono::seconds>(std::chrono::system_clock::now())) {}

void alert_manager::post_alert(const alert& a) {
  if (!should_post(a.severity())) return;
  auto copy = a.clone();
  std::unique_ptr<alert> dropped;  // deleted after the lock is released
  platform::mutex_lock l(m_mutex);
  if (m_alerts.size() >= max_queued) {
    dropped = std::move(m_alerts.front());
    m_alerts.pop_front();
  }
  m_alerts.push_back(std::move(copy));
}

bool alert_manager::pending() const {
  platform::mutex_lock l(m_mutex);
  return !m_alerts.empty();
}

std::unique_ptr<alert> alert_manager::get() {
  platform::mutex_lock l(m_mutex);
  if (m_alerts.empty()) return {};
  auto a = std::move(m_alerts.front());
  m_alerts.pop_front();
  return a;
}

void alert_manager::set_severity(alert::severity_t threshold) {
  platform::mutex_lock l(m_mutex);
  m_threshold.store(threshold, std::memory_order_relaxed);
}

}  // namespace engine

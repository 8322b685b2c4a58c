#include "engine/session/announce_schedule.h"

#include <algorithm>
#include <utility>

namespace engine {

announce_schedule::announce_schedule(std::vector<announce_entry> trackers, clock_function now)
    : m_trackers(std::move(trackers)), m_clock(std::move(now)) {
  m_next_request = this->now();
}

bool announce_schedule::should_request(bool paused) {
  if (m_trackers.empty()) {
    m_announce_now = false;
    return false;
  }
  if (m_announce_now) {
    m_announce_now = false;
    return true;
  }
  if (paused) return false;
  return now() >= next_announce();
}

std::optional<announce_schedule::time_point> announce_schedule::due(bool paused) const {
  // A pending "announce now" is cleared at the next look even without a
  // tracker, as should_request does.
  if (m_announce_now) return time_point::min();
  if (paused || m_trackers.empty()) return std::nullopt;
  return next_announce();
}

tracker_query announce_schedule::take_announce() {
  m_last_announce = now();
  m_next_request = *m_last_announce + std::chrono::seconds(600);
  m_asked_announce.reset();
  tracker_query req;
  req.event = m_event;
  m_event = tracker_query::none;
  if (m_currently_trying_tracker < int(m_trackers.size())) req.url = m_trackers[m_currently_trying_tracker].url;
  return req;
}

bool announce_schedule::try_next_tracker(const tracker_query& failed) {
  // The event of the failed announce goes to the next tracker (or the next
  // round) unless a newer one is pending.
  if (m_event == tracker_query::none) m_event = failed.event;
  ++m_currently_trying_tracker;
  if (m_currently_trying_tracker < int(m_trackers.size())) {
    m_next_request = now();
    return true;
  }
  m_currently_trying_tracker = 0;
  const int delay = 60 + std::min(m_failed_rounds, 5) * 540 / 5;
  m_next_request = now() + std::chrono::seconds(delay);
  ++m_failed_rounds;
  return false;
}

void announce_schedule::replied(int interval) {
  m_failed_rounds = 0;
  // The tracker that answered moves to the front of its tier.
  int i = m_currently_trying_tracker;
  if (i < int(m_trackers.size())) {
    while (i > 0 && m_trackers[i - 1].tier == m_trackers[i].tier) {
      std::swap(m_trackers[i - 1], m_trackers[i]);
      --i;
    }
    m_last_working_tracker = i;
  }
  m_currently_trying_tracker = 0;
  m_duration = std::max(interval, 300);
  m_next_request = now() + std::chrono::seconds(m_duration);
}

void announce_schedule::replace_trackers(const std::vector<announce_entry>& urls) {
  m_trackers = urls;
  m_currently_trying_tracker = std::clamp(m_currently_trying_tracker, 0, std::max(int(m_trackers.size()) - 1, 0));
  m_last_working_tracker = -1;
}

std::string announce_schedule::login() const {
  if (m_username.empty() && m_password.empty()) return {};
  return m_username + ":" + m_password;
}

std::string announce_schedule::working_url() const {
  if (m_last_working_tracker < 0 || m_last_working_tracker >= int(m_trackers.size())) return {};
  return m_trackers[m_last_working_tracker].url;
}

}  // namespace engine

#pragma once
// A torrent's trackers and when it announces to them: the tracker tried now
// and the one that answered last, the next tracker after a failure and a
// back-off after a whole failed round, the interval a reply gives, an
// announce asked for off the schedule, the event owed to the next announce,
// and the login sent along. Free of I/O: the torrent turns the announce it
// takes into a request and tells its session when the schedule moved.

#include <chrono>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "engine/formats/torrent_metainfo.h"
#include "engine/tracker/tracker_query.h"

namespace engine {

class announce_schedule {
 public:
  using time_point = std::chrono::time_point<std::chrono::system_clock, std::chrono::microseconds>;
  // The torrent's clock: tests of the torrent set their own.
  using clock_function = std::function<time_point()>;

  announce_schedule(std::vector<announce_entry> trackers, clock_function now);

  // Whether an announce is due now (never while paused, unless one is owed
  // at once); answering yes to an announce owed at once clears it.
  bool should_request(bool paused);
  // From when on should_request may say yes without anything changing
  // first; none while it cannot (paused, or no tracker).
  std::optional<time_point> due(bool paused) const;
  // Takes the next announce: the URL of the tracker to try and the event
  // owed (the event is then cleared); the one after it is scheduled 600 s
  // ahead.
  tracker_query take_announce();
  // After a time-out or an error: the next tracker of the list at once
  // (true), or, past its end, the first one after a back-off of 60 to
  // 600 s (false). The failed announce's event is owed to it unless a newer
  // one is.
  bool try_next_tracker(const tracker_query& failed);
  // A reply: the tracker moves to the front of its tier, and the next
  // announce comes after the interval (300 s at the least).
  void replied(int interval);

  // The event the next announce carries (started, stopped, completed).
  void owe(int event) { m_event = event; }
  // An announce at the next look, even while paused (the "stopped" of a pause).
  void announce_now() { m_announce_now = true; }
  // The next announce at `when`; it stands until an announce goes out,
  // whatever the replies to announces already under way schedule.
  void announce_at(time_point when) {
    m_asked_announce = when;
    m_next_request = when;
  }

  void replace_trackers(const std::vector<announce_entry>& urls);
  const std::vector<announce_entry>& trackers() const { return m_trackers; }
  void set_login(const std::string& name, const std::string& password) {
    m_username = name;
    m_password = password;
  }
  // Empty when no login is set, else "name:password".
  std::string login() const;

  // Whether an announce was taken less than `span` ago.
  bool announced_within(std::chrono::microseconds span) const {
    return m_last_announce && now() - *m_last_announce < span;
  }
  // When the next announce is due: the schedule, or an announce asked for
  // earlier than that.
  time_point next_announce() const {
    return m_asked_announce ? std::min(*m_asked_announce, m_next_request) : m_next_request;
  }
  std::chrono::seconds interval() const { return std::chrono::seconds(m_duration); }
  int current_tracker() const { return m_currently_trying_tracker; }
  int last_working_tracker() const { return m_last_working_tracker; }
  // The URL of the tracker that answered last; empty when none did.
  std::string working_url() const;
  // Whole rounds over the list that failed in a row.
  int failed_rounds() const { return m_failed_rounds; }

 private:
  time_point now() const { return m_clock(); }

  std::vector<announce_entry> m_trackers;
  int m_last_working_tracker = -1;
  int m_currently_trying_tracker = 0;
  int m_failed_rounds = 0;
  bool m_announce_now = false;
  int m_event = tracker_query::started;
  // The schedule: the tracker's interval after a reply, a back-off after
  // failures.
  time_point m_next_request;
  // An announce asked for off the schedule. A reply or failure of an
  // announce that was under way reschedules only m_next_request: this one
  // goes out all the same (at the next second tick when the session held it
  // back while the other ran), and only an announce that goes out clears it.
  std::optional<time_point> m_asked_announce;
  std::optional<time_point> m_last_announce;
  int m_duration = 1800;
  std::string m_username;
  std::string m_password;
  clock_function m_clock;
};

}  // namespace engine

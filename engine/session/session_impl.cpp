#include "engine/session/session_impl.h"

#include <algorithm>
#include <iostream>
#include <iterator>
#include <limits>
#include <type_traits>
#include <thread>

#include "engine/session/alert_types.h"
#include "engine/session/allocate_resources.h"
#include "engine/session/peer_connection.h"
#include "engine/session/torrent.h"
#include "engine/storage/file.h"
#include "platform/clock.h"
#include "platform/descriptor_limit.h"
#include "platform/random.h"

namespace engine {

session_impl::session_impl(int listen_port_first, int listen_port_last, const fingerprint& id,
                           const char* listen_interface)
    : m_listen_port_first(listen_port_first),
      m_listen_port_last(listen_port_last),
      m_listen_interface(address::parse_dotted(listen_interface ? listen_interface : "0.0.0.0")
                             .value_or(address())
                             .ip,
                         std::uint16_t(listen_port_first)) {
  m_key = platform::random_u32();
  const std::string mark = id.to_string();
  const std::size_t marked = std::min(mark.size(), peer_id::size);
  std::copy_n(mark.begin(), marked, m_peer_id.begin());
  fill_peer_id_randomly(m_peer_id, marked, peer_id::size);
  std::copy_n("ext", 3, m_peer_id.begin() + 17);
  m_tracker_manager.attach(m_selector);
}

// Handles given out may outlive the session (a bare one, in tests).
session_impl::~session_impl() { m_lifetime->end(); }

std::shared_ptr<torrent> session_impl::find_torrent(const sha1_hash& info_hash) {
  auto i = m_torrents.find(info_hash);
  return i == m_torrents.end() ? nullptr : i->second;
}

std::shared_ptr<peer_connection> session_impl::connect(torrent& t, const address& a) {
  auto c = std::make_shared<peer_connection>(*this, m_selector, &t, std::make_shared<socket>(socket::tcp), a);
  m_connection_queue.push_back(c);
  process_connection_queue();
  return c;
}

int session_impl::connect_room() const {
  const int limit = m_half_open_limit > 0 ? m_half_open_limit : default_connect_room;
  return limit - int(m_half_open.size() + m_connection_queue.size());
}

torrent_handle session_impl::handle_of(const torrent& t) const {
  return torrent_handle(const_cast<session_impl*>(this), t.info_hash());
}

extension_settings session_impl::extension_config() const {
  extension_settings s;
  for (int i = 0; i < wire::num_extensions; ++i) s.enabled[std::size_t(i)] = m_extension_enabled[i];
  s.listen_port = m_listen_interface.port;
  s.user_agent = m_settings.user_agent;
  return s;
}

bool session_impl::extension_enabled(int index) const {
  return index >= 0 && index < wire::num_extensions && m_extension_enabled[index];
}

void session_impl::insert_torrent(std::shared_ptr<torrent> t) {
  const sha1_hash ih = t->info_hash();
  m_torrents.emplace(ih, std::move(t));
  m_visit_next.push_back(ih);
}

void session_impl::open_listen_port() {
  if (m_listen_socket) m_selector.remove(m_listen_socket);
  m_listen_socket.reset();
  m_listen_full = false;
  auto fail = [&](const std::string& message) { m_alerts.post_if([&] { return listen_failed_alert(message); }); };
  try {
    for (;;) {
      // A fresh socket for every port: one that failed half-way may be bound.
      auto s = std::make_shared<socket>(socket::tcp);
      try {
        s->listen(m_listen_interface, 10);
        if (m_listen_interface.port == 0) m_listen_interface.port = s->local_address().port;
        m_listen_socket = s;
        break;
      } catch (const network_error& e) {
        if (e.error_code() == 4) {
          fail("cannot listen on the given interface '" + m_listen_interface.as_string() + "'");
          return;
        }
        if (int(m_listen_interface.port) + 1 > m_listen_port_last || m_listen_interface.port == 65535) {
          fail("none of the ports in the range [" + std::to_string(m_listen_port_first) + ", " +
               std::to_string(m_listen_port_last) + "] could be opened for listening");
          return;
        }
        ++m_listen_interface.port;
      }
    }
  } catch (const std::exception& e) {
    fail(e.what());
    return;
  }
  m_selector.monitor_readability(m_listen_socket);
  m_selector.monitor_errors(m_listen_socket);
}

void session_impl::process_connection_queue() {
  while (!m_connection_queue.empty() &&
         (int(m_half_open.size()) < m_half_open_limit || m_half_open_limit < 1)) {
    auto c = m_connection_queue.front();
    m_connection_queue.pop_front();
    m_half_open.emplace(c->get_socket(), c);
    try {
      c->connect();
    } catch (const std::exception& e) {
      // It leaves the half-open map at the next purge, which pumps again.
      connection_failed(*c, e.what());
    }
  }
}

void session_impl::close(peer_connection& c, const std::string& reason) {
  if (!c.start_closing()) return;
  m_alerts.post_if([&] { return peer_error_alert(c.remote(), c.id(), reason); });
  // A connection nobody shares any more (being destroyed) needs no purge.
  if (auto self = c.weak_from_this().lock()) m_disconnect_peer.push_back(std::move(self));
}

void session_impl::give_connect_room() {
  while (!m_room_waiters.empty() && connect_room() > 0) {
    const sha1_hash ih = m_room_waiters.front();
    m_room_waiters.pop_front();
    if (auto t = find_torrent(ih)) t->get_policy().room_freed();
  }
}

void session_impl::purge_connections() {
  do {
    while (!m_disconnect_peer.empty()) {
      auto c = std::move(m_disconnect_peer.back());
      m_disconnect_peer.pop_back();
      c->leave_torrent();
      const std::shared_ptr<socket>& s = c->get_socket();
      m_selector.remove(s);
      if (m_half_open.erase(s) > 0) {
        process_connection_queue();
      } else if (m_connections.erase(s) == 0) {
        std::erase(m_connection_queue, c);
      }
    }
    // The room of connects that ended is used at once, not at the next
    // second: a tracker reply of dead addresses is worked through as fast
    // as they refuse. Connects that fail at once are purged in turn.
    give_connect_room();
  } while (!m_disconnect_peer.empty());
}

template <class Pred>
void session_impl::close_connections_if(Pred pred, const std::string& reason) {
  std::vector<std::shared_ptr<peer_connection>> chosen;
  auto collect = [&](const std::shared_ptr<peer_connection>& c) REQUIRES(m_mutex) {
    if (pred(*c)) chosen.push_back(c);
  };
  for (const connection_map* map : {&m_connections, &m_half_open})
    for (const auto& [s, c] : *map) collect(c);
  for (const auto& c : m_connection_queue) collect(c);
  for (const auto& c : chosen) close(*c, reason);
  purge_connections();
}

void session_impl::close_filtered_connections() {
  close_connections_if(
      [&](const peer_connection& c) REQUIRES(m_mutex) { return m_ip_filter.access(c.remote()) & ip_filter::blocked; },
      "peer blocked by the IP filter");
}

void session_impl::queue_tracker_request(tracker_query req, const std::weak_ptr<request_callback>& c,
                                         const std::string& login) {
  req.listen_port = m_listen_interface.port;
  req.key = int(m_key);
  // Trackers see the address the session listens on.
  m_tracker_manager.set_local_address(address(m_listen_interface.ip, 0));
  m_tracker_manager.start_tracker_request(std::move(req), c, login);
}

void session_impl::connection_failed(peer_connection& c, const std::string& message) {
  close(c, message);
  c.set_failed();
}

std::shared_ptr<peer_connection> session_impl::connection_of(const std::shared_ptr<socket>& s) const {
  for (const connection_map* map : {&m_connections, &m_half_open})
    if (auto i = map->find(s); i != map->end()) return i->second;
  return nullptr;
}

template <class Io>
void session_impl::run_io(std::shared_ptr<peer_connection> c, Io io) {
  try {
    io(*c);
  } catch (const file_error& e) {
    // The disk failed, not the peer: the torrent stops until the user acts.
    if (torrent* t = c->associated_torrent()) t->disk_failed(e.what());
    connection_failed(*c, e.what());
  } catch (const std::exception& e) {
    connection_failed(*c, e.what());
  }
}

void session_impl::send_now(peer_connection& c) {
  run_io(c.shared_from_this(), [](peer_connection& p) { p.send_data(); });
}

void session_impl::wait_for_disk(peer_connection& c) {
  m_disk_waiters.push_back(c.weak_from_this());
  m_disk.wake_when_room();
}

std::size_t session_impl::waiting_handshake_bound() {
  const std::uint64_t quarter = std::max<std::uint64_t>(platform::descriptor_limit() / 4, 1);
  return std::size_t(std::min<std::uint64_t>(max_waiting_handshakes, quarter));
}

void session_impl::handshake_wait_ended(peer_connection&) {
  if (m_waiting_handshakes > 0) --m_waiting_handshakes;
  if (m_listen_full && m_waiting_handshakes < waiting_handshake_bound()) {
    m_listen_full = false;
    if (m_listen_socket && !m_listen_resting) m_selector.monitor_readability(m_listen_socket);
  }
}

void session_impl::disk_completions() {
  m_disk.run_completions();
  if (m_disk_waiters.empty() || !m_disk.below_resume_mark()) return;
  auto waiting = std::move(m_disk_waiters);
  m_disk_waiters.clear();
  for (auto& w : waiting)
    if (auto c = w.lock()) c->disk_ready();
}

void session_impl::handle_writable(const std::shared_ptr<socket>& s) {
  if (auto i = m_connections.find(s); i != m_connections.end()) {
    run_io(i->second, [](peer_connection& c) { c.send_data(); });
  } else if (auto h = m_half_open.find(s); h != m_half_open.end()) {
    if (h->second->is_disconnecting()) return;  // leaves at the next purge
    // Writable means the connect ended; the socket's own error tells how.
    if (auto err = s->pending_error()) {
      connection_failed(*h->second, err->what());
      return;
    }
    auto c = h->second;
    m_half_open.erase(h);
    m_connections.emplace(s, c);
    c->connection_established();
    process_connection_queue();
  } else {
    m_selector.remove(s);
  }
}

void session_impl::handle_readable(const std::shared_ptr<socket>& s) {
  if (s == m_listen_socket) {
    // At the bound the next peers wait in the backlog, not in our
    // descriptors, until a handshake ends or times out.
    if (m_waiting_handshakes >= waiting_handshake_bound()) {
      m_selector.remove_readable(s);
      m_listen_full = true;
      return;
    }
    std::shared_ptr<socket> a;
    try {
      a = s->accept();
    } catch (const network_error&) {
      // Out of descriptors, most likely. The peer waits in the backlog; the
      // listen socket rests for a second instead of waking every round, and
      // the other sockets of this round are still served.
      m_selector.remove_readable(s);
      m_listen_resting = true;
      return;
    }
    if (!a) return;
    a->set_blocking(false);
    m_incoming_connection = true;
    if (m_ip_filter.access(a->remote_address()) & ip_filter::blocked) return;  // dropped silently
    auto c = std::make_shared<peer_connection>(*this, m_selector, a);
    m_connections.emplace(a, c);
    ++m_waiting_handshakes;
    m_selector.monitor_readability(a);
    m_selector.monitor_errors(a);
  } else if (auto i = m_connections.find(s); i != m_connections.end()) {
    run_io(i->second, [](peer_connection& c) { c.receive_data(); });
  } else {
    m_selector.remove(s);
  }
}

void session_impl::handle_errored(const std::shared_ptr<socket>& s) {
  if (auto c = connection_of(s)) {
    connection_failed(*c, "connection exception");
  } else if (s == m_listen_socket) {
    m_alerts.post_if([&]() REQUIRES(m_mutex) {
      return listen_failed_alert("cannot listen on the given interface '" + m_listen_interface.as_string() + "'");
    });
    m_selector.remove(s);
    m_listen_socket.reset();
  }
}

void session_impl::second_tick() {
  if (m_listen_resting) {
    m_listen_resting = false;
    if (m_listen_socket && !m_listen_full) m_selector.monitor_readability(m_listen_socket);
  }

  // Connection time-outs.
  for (auto& [s, c] : m_connections) {
    if (c->is_disconnecting()) continue;
    if (c->has_timed_out())
      connection_failed(*c, "connection timed out");
    else
      c->keep_alive();
  }

  const std::uint64_t tick = ++m_ticks;
  const policy::time_point steady_now = std::chrono::steady_clock::now();
  m_tick_times[tick % m_tick_times.size()] = steady_now;

  // Tracker announces and torrent ticks, in info-hash order.
  struct looked_at {
    std::shared_ptr<torrent> t;
    // What a tick changes of a torrent without connections (the shares
    // given aside: a session limit may move them in every tick).
    stat statistics;
    std::array<resource_request, 4> quotas;
  };
  const auto quotas_of = [](const torrent& t) {
    std::array q{t.upload_rate_quota(), t.download_rate_quota(), t.unchoke_quota(), t.connection_quota()};
    for (resource_request& r : q) r.given = 0;
    return q;
  };
  std::vector<looked_at> visited;
  for (const std::shared_ptr<torrent>& due : due_torrents(tick, steady_now)) {
    torrent& t = *due;
    if (t.is_aborted()) {
      // A paused torrent has sent its "stopped" already, unless the pause
      // came so late that its announce is still owed.
      if (!t.is_paused() || t.should_request()) {
        queue_tracker_request(t.generate_tracker_request(), {}, t.tracker_login());
        m_alerts.post_if([&] { return tracker_announce_alert(t.get_handle(), "tracker announce, event=stopped"); });
      }
      // Its connections go first: they point at it, those still in their
      // handshake too. What they moved since the last tick still counts
      // for the session.
      close_connections_if([&](const peer_connection& c) { return c.bound_to(&t); }, "torrent removed");
      m_stat += t.statistics();
      m_torrents.erase(t.info_hash());
      continue;
    }
    torrent::tick_schedule& when = t.schedule();
    if (when.ticked && tick - when.last_tick > 1) {
      const int skipped = int(std::min<std::uint64_t>(tick - when.last_tick - 1, 1u << 30));
      if (const int last = t.skip_ticks(skipped); last > 0 && !when.paused)
        t.get_policy().quiet_pulse(m_tick_times[(when.last_tick + std::uint64_t(last)) % m_tick_times.size()]);
    }
    visited.push_back({due, t.statistics(), quotas_of(t)});
    announce_if_due(due);
    t.second_tick(m_stat);
  }

  purge_connections();
  m_stat.second_tick();

  // The session's limits over the torrents, then each torrent's over its
  // peers. Without a limit every torrent's share is its own maximum, which
  // changes only in the torrents looked at; a limit is shared over all.
  std::size_t limit_index = 0;
  auto share = [&](int limit, resource_request& (torrent::*quota)()) REQUIRES(m_mutex) {
    const bool changed = std::exchange(m_shared_limits[limit_index++], limit) != limit;
    const auto get = [quota](auto& t) -> resource_request& { return ((*t).*quota)(); };
    if (limit_from_setting(limit) == resource_request::inf && !changed) {
      for (auto& v : visited) {
        resource_request& r = get(v.t);
        r.given = std::max(r.min, r.max);
      }
    } else {
      allocate_resources(limit_from_setting(limit), m_torrents,
                         [&](auto& t) -> resource_request& { return get(t.second); });
    }
  };
  share(m_upload_rate, &torrent::upload_rate_quota);
  share(m_download_rate, &torrent::download_rate_quota);
  share(m_max_uploads, &torrent::unchoke_quota);
  share(m_max_connections, &torrent::connection_quota);
  for (auto& v : visited) {
    v.t->distribute_resources();
    v.t->schedule().last_tick = tick;
    v.t->schedule().ticked = true;
    plan_ticks(v.t, !(v.t->statistics() == v.statistics) || quotas_of(*v.t) != v.quotas);
  }

  m_tracker_manager.tick();
}

std::vector<std::shared_ptr<torrent>> session_impl::due_torrents(std::uint64_t tick, policy::time_point steady_now) {
  // Taken out whole: a start that touches thousands leaves no list that size.
  std::vector<sha1_hash> due;
  due.swap(m_visit_next);
  std::vector<sha1_hash> changed;
  {
    platform::mutex_lock l(m_announce_mutex);
    changed.swap(m_look_at);
  }
  due.insert(due.end(), changed.begin(), changed.end());
  // An entry whose key is no longer the torrent's is stale: the live one
  // comes sooner.
  const auto live = [&](const sha1_hash& ih, auto key, auto torrent::tick_schedule::*field)
                        REQUIRES(m_mutex) -> torrent* {
    const auto i = m_torrents.find(ih);
    if (i == m_torrents.end() || i->second->schedule().*field != key) return nullptr;
    using key_type = decltype(key);
    if constexpr (std::is_integral_v<key_type>)
      i->second->schedule().*field = std::numeric_limits<key_type>::max();
    else
      i->second->schedule().*field = key_type::max();
    return i->second.get();
  };
  m_announce_queue.pop_due(std::chrono::time_point_cast<std::chrono::microseconds>(std::chrono::system_clock::now()),
                           [&](auto key, const sha1_hash& ih) REQUIRES(m_mutex) {
                             if (live(ih, key, &torrent::tick_schedule::announce_at)) due.push_back(ih);
                           });
  // A pulse with work waits for the torrent's next pulse tick.
  m_pulse_queue.pop_due(steady_now, [&](auto key, const sha1_hash& ih) REQUIRES(m_mutex) {
    if (torrent* t = live(ih, key, &torrent::tick_schedule::pulse_at)) wake_at(*t, pulse_tick(*t, tick));
  });
  m_wake_queue.pop_due(tick, [&](auto key, const sha1_hash& ih) REQUIRES(m_mutex) {
    if (live(ih, key, &torrent::tick_schedule::wake_at)) due.push_back(ih);
  });
  std::sort(due.begin(), due.end());
  due.erase(std::unique(due.begin(), due.end()), due.end());
  // Merged with the busy ones, which come in order already.
  std::vector<std::shared_ptr<torrent>> busy;
  busy.swap(m_busy);
  std::vector<std::shared_ptr<torrent>> out;
  out.reserve(busy.size() + due.size());
  auto b = busy.begin();
  for (const sha1_hash& ih : due) {
    for (; b != busy.end() && (*b)->info_hash() < ih; ++b) out.push_back(std::move(*b));
    if (b != busy.end() && (*b)->info_hash() == ih) {
      out.push_back(std::move(*b++));
    } else if (auto t = find_torrent(ih)) {
      out.push_back(std::move(t));
    }
  }
  std::move(b, busy.end(), std::back_inserter(out));
  return out;
}

std::uint64_t session_impl::pulse_tick(const torrent& t, std::uint64_t from) const {
  const std::uint64_t first = t.schedule().last_tick + std::uint64_t(t.ticks_to_pulse());
  return first >= from ? first : first + (from - first + 9) / 10 * 10;
}

void session_impl::wake_at(torrent& t, std::uint64_t tick) {
  if (tick >= t.schedule().wake_at) return;
  t.schedule().wake_at = tick;
  m_wake_queue.push(tick, t.info_hash());
}

void session_impl::plan_ticks(const std::shared_ptr<torrent>& shared, bool busy) {
  torrent& t = *shared;
  torrent::tick_schedule& when = t.schedule();
  when.paused = t.is_paused();
  if (busy || t.num_peers() > 0 || t.get_policy().connects_held()) {
    m_busy.push_back(shared);
  } else if (!when.paused) {
    if (const auto work = t.get_policy().next_work()) {
      if (*work == policy::time_point::min()) {
        wake_at(t, pulse_tick(t, when.last_tick + 1));
      } else if (*work < when.pulse_at) {
        when.pulse_at = *work;
        m_pulse_queue.push(*work, t.info_hash());
      }
    }
  }
  if (const auto due = t.announce_due(); due && *due < when.announce_at) {
    when.announce_at = *due;
    m_announce_queue.push(*due, t.info_hash());
  }
}

void session_impl::announce_if_due(const std::shared_ptr<torrent>& t) {
  if (!t->should_request()) return;
  queue_tracker_request(t->generate_tracker_request(), t, t->tracker_login());
  m_alerts.post_if([&] { return tracker_announce_alert(t->get_handle(), "tracker announce"); });
}

void session_impl::queue_due_announces() {
  // Aborted torrents send their "stopped" and leave at the second tick. So
  // does an announce while the torrent's last one still runs or went out
  // less than a second ago: a torrent paused and resumed over and over
  // announces no more often than the ticks come, plus once. Only the
  // torrents that asked are looked at: a start hands thousands over.
  std::vector<sha1_hash> wanted;
  {
    platform::mutex_lock l(m_announce_mutex);
    wanted.swap(m_announce_wanted);
  }
  for (const sha1_hash& ih : wanted) {
    m_visit_next.push_back(ih);
    auto t = find_torrent(ih);
    if (t && !t->is_aborted() && !t->dispatcher() && !t->announced_within(std::chrono::seconds(1))) announce_if_due(t);
  }
}

void session_impl::shut_down() {
  m_tracker_manager.abort_all();
  std::vector<torrent*> owed;
  for (auto& [h, t] : m_torrents) {
    if (!t->is_paused() || t->should_request()) owed.push_back(t.get());
    t->abort();
  }
  // The connections close first, so that the "stopped" announces carry all
  // they moved.
  purge_connections();
  for (torrent* t : owed) queue_tracker_request(t->generate_tracker_request(), {}, t->tracker_login());
}

bool session_impl::network_round(std::uint32_t& last_tick) {
  selector::socket_list readable, writable, errored;
  m_selector.wait(500000, readable, writable, errored);

  platform::mutex_lock l(m_mutex);
  purge_connections();
  if (m_abort) {
    shut_down();
    return false;
  }
  disk_completions();
  purge_connections();

  // The trackers' sockets first: what is left is the peers'.
  m_tracker_manager.serve(readable, writable, errored);
  for (auto& s : writable) handle_writable(s);
  purge_connections();
  for (auto& s : readable) handle_readable(s);
  purge_connections();
  for (auto& s : errored) handle_errored(s);
  purge_connections();
  m_disk.kick();
  if (m_announce_due.exchange(false, std::memory_order_acq_rel)) queue_due_announces();

  const std::uint32_t now = platform::timeGetTime();
  if (platform::elapsed_ms(now, last_tick) >= 960) {
    last_tick = now;
    second_tick();
  }
  return true;
}

namespace {

void report(const std::exception* e) { std::cerr << (e ? e->what() : "error!") << "\n"; }

}  // namespace

void session_impl::operator()() {
  {
    platform::mutex_lock l(m_mutex);
    // A listen_on that came before this thread started has opened the port
    // already: opening it again would refuse connections in between, or
    // move to another port.
    if (!m_listen_socket && m_listen_port_first != 0 && m_listen_port_last != 0) open_listen_port();
  }
  std::uint32_t last_tick = platform::timeGetTime();
  for (bool running = true; running;) {
    try {
      running = network_round(last_tick);
    } catch (const std::exception& e) {
      report(&e);
    } catch (...) {
      report(nullptr);
    }
  }

  // The "stopped" announces are on their way; serve the trackers as their
  // sockets answer and tick them every 100 ms until they are done, but
  // never longer than their time-out allows: a tracker or a name server that
  // never answers must not hold the exit.
  platform::mutex_lock l(m_mutex);
  if (m_listen_socket) m_selector.remove(m_listen_socket);
  const auto deadline =
      std::chrono::steady_clock::now() + std::chrono::seconds(std::max(m_settings.stop_tracker_timeout, 0) + 2);
  auto next_tick = std::chrono::steady_clock::now();
  selector::socket_list readable, writable, errored;
  for (;;) {
    try {
      m_tracker_manager.serve(readable, writable, errored);
      // Nobody else is served any more.
      for (const auto* list : {&readable, &writable, &errored})
        for (const auto& s : *list) m_selector.remove(s);
      if (std::chrono::steady_clock::now() >= next_tick) {
        next_tick = std::chrono::steady_clock::now() + std::chrono::milliseconds(100);
        m_tracker_manager.tick();
      }
    } catch (const std::exception& e) {
      report(&e);
    } catch (...) {
      report(nullptr);
    }
    if (m_tracker_manager.empty() || std::chrono::steady_clock::now() >= deadline) break;
    l.unlock();
    const auto wait = std::chrono::ceil<std::chrono::microseconds>(next_tick - std::chrono::steady_clock::now());
    try {
      m_selector.wait(int(std::clamp<long long>(wait.count(), 0, 100000)), readable, writable, errored);
    } catch (const std::exception& e) {
      report(&e);
      std::this_thread::sleep_for(std::chrono::milliseconds(100));
    }
    l.lock();
  }
}

}  // namespace engine

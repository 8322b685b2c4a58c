#include "engine/tracker/tracker_dispatcher.h"

#include <algorithm>
#include <exception>
#include <stdexcept>

#include "engine/tracker/http_tracker_connection.h"
#include "engine/tracker/tracker_url.h"
#include "engine/tracker/udp_tracker_connection.h"

namespace engine {

void tracker_dispatcher::attach(selector& s) {
  m_selector = &s;
  m_wake = s.waker();
  for (const auto& c : m_connections) watch(*c);
}

void tracker_dispatcher::start_tracker_request(tracker_query q, std::weak_ptr<request_callback> requester,
                                               const std::string& login) {
  if (q.event == tracker_query::stopped) q.num_want = 0;
  try {
    const tracker_url url = split_tracker_url(q.url);
    std::shared_ptr<tracker_connection> c;
    if (url.protocol == "http")
      c = std::make_shared<http_tracker_connection>(*this, q, url.host, url.port, url.path, requester,
                                                    m_settings, login, m_local_address, m_wake);
    else if (url.protocol == "udp" || url.protocol == "bcudp")
      c = std::make_shared<udp_tracker_connection>(q, url.host, url.port, requester, m_settings,
                                                   url.protocol == "bcudp", m_local_address, m_wake);
    else
      throw std::runtime_error("unkown protocol in tracker url");
    m_connections.push_back(std::move(c));
    if (auto r = requester.lock()) r->set_dispatcher(this);
  } catch (const std::exception& e) {
    if (auto r = requester.lock()) r->tracker_request_error(q, -1, e.what());
  }
}

void tracker_dispatcher::watch(tracker_connection& c) {
  if (!m_selector) return;
  const std::shared_ptr<socket> s = c.watched_socket();
  if (!s) return;
  auto [it, fresh] = m_watched.try_emplace(s.get(), watched{&c, false});
  if (fresh) {
    m_selector->monitor_readability(s);
    m_selector->monitor_errors(s);
  }
  const bool writing = c.wants_to_send();
  if (writing == it->second.writing) return;
  it->second.writing = writing;
  if (writing)
    m_selector->monitor_writability(s);
  else
    m_selector->remove_writable(s);
}

void tracker_dispatcher::unwatch(tracker_connection& c) {
  if (!m_selector) return;
  const std::shared_ptr<socket> s = c.watched_socket();
  if (!s || m_watched.erase(s.get()) == 0) return;
  m_selector->remove(s);
}

void tracker_dispatcher::remove(connection_list::iterator i) {
  if (auto r = (*i)->requester()) {
    // Another request of the same requester may still run.
    const bool others = std::any_of(m_connections.begin(), m_connections.end(),
                                    [&](const auto& c) { return c != *i && c->requester() == r; });
    if (!others) r->set_dispatcher(nullptr);
  }
  unwatch(**i);
  m_connections.erase(i);
}

template <class Step>
tracker_dispatcher::connection_list::iterator tracker_dispatcher::advance(connection_list::iterator i, Step step) {
  // Keeps the connection alive while it runs, whatever it queues.
  const std::shared_ptr<tracker_connection> c = *i;
  bool done;
  try {
    done = step(*c);
  } catch (const std::exception& e) {
    if (auto r = c->requester()) r->tracker_request_error(c->tracker_req(), -1, e.what());
    done = true;
  }
  if (done) {
    remove(i++);
  } else {
    watch(*c);
    ++i;
  }
  return i;
}

void tracker_dispatcher::serve(selector::socket_list& readable, selector::socket_list& writable,
                               selector::socket_list& errored, clock::time_point now) {
  std::unordered_map<const tracker_connection*, tracker_connection::readiness> ready;
  auto take = [&](selector::socket_list& list, bool tracker_connection::readiness::*flag) {
    std::erase_if(list, [&](const std::shared_ptr<socket>& s) {
      const auto it = m_watched.find(s.get());
      if (it == m_watched.end()) return false;
      ready[it->second.connection].*flag = true;
      return true;
    });
  };
  if (!m_watched.empty()) {
    take(readable, &tracker_connection::readiness::readable);
    take(writable, &tracker_connection::readiness::writable);
    take(errored, &tracker_connection::readiness::error);
    // The selector has let go of the sockets it reported broken: one whose
    // connection goes on is watched anew after its step.
    for (const auto& [c, seen] : ready)
      if (seen.error) m_watched.erase(c->watched_socket().get());
  }
  for (auto i = m_connections.begin(); i != m_connections.end();) {
    tracker_connection::readiness seen;
    if (const auto r = ready.find(i->get()); r != ready.end()) {
      seen = r->second;
      ready.erase(r);
    } else if (!(*i)->lookup_ended()) {
      ++i;
      continue;
    }
    i = advance(i, [&](tracker_connection& c) { return c.on_ready(seen, now); });
  }
}

void tracker_dispatcher::tick(clock::time_point now) {
  for (auto i = m_connections.begin(); i != m_connections.end();)
    i = advance(i, [&](tracker_connection& c) { return c.tick(now); });
}

void tracker_dispatcher::abort_all() {
  for (auto i = m_connections.begin(); i != m_connections.end();) {
    if (auto r = (*i)->requester()) {
      r->set_dispatcher(nullptr);
      unwatch(**i);
      i = m_connections.erase(i);
    } else {
      ++i;
    }
  }
}

bool tracker_dispatcher::send_finished(clock::time_point now) const {
  return std::all_of(m_connections.begin(), m_connections.end(),
                     [&](const auto& c) { return c->send_finished(now); });
}

}  // namespace engine

#include "engine/tracker_dispatcher.h"

#include <algorithm>
#include <exception>
#include <stdexcept>

#include "engine/http_tracker_connection.h"
#include "engine/tracker_url.h"
#include "engine/udp_tracker_connection.h"

namespace engine {

void tracker_dispatcher::start_tracker_request(tracker_query q, std::weak_ptr<request_callback> requester,
                                               const std::string& login) {
  if (q.event == tracker_query::stopped) q.num_want = 0;
  try {
    const tracker_url url = split_tracker_url(q.url);
    std::shared_ptr<tracker_connection> c;
    if (url.protocol == "http")
      c = std::make_shared<http_tracker_connection>(*this, q, url.host, url.port, url.path, requester,
                                                    m_settings, login, m_local_address);
    else if (url.protocol == "udp" || url.protocol == "bcudp")
      c = std::make_shared<udp_tracker_connection>(q, url.host, url.port, requester, m_settings,
                                                   url.protocol == "bcudp", m_local_address);
    else
      throw std::runtime_error("unkown protocol in tracker url");
    m_connections.push_back(std::move(c));
    if (auto r = requester.lock()) r->dispatcher = this;
  } catch (const std::exception& e) {
    if (auto r = requester.lock()) r->tracker_request_error(q, -1, e.what());
  }
}

void tracker_dispatcher::remove(std::list<std::shared_ptr<tracker_connection>>::iterator i) {
  if (auto r = (*i)->requester()) {
    // Another request of the same requester may still run.
    const bool others = std::any_of(m_connections.begin(), m_connections.end(),
                                    [&](const auto& c) { return c != *i && c->requester() == r; });
    if (!others) r->dispatcher = nullptr;
  }
  m_connections.erase(i);
}

void tracker_dispatcher::tick(clock::time_point now) {
  for (auto i = m_connections.begin(); i != m_connections.end();) {
    // Keeps the connection alive while it runs, whatever it queues.
    const std::shared_ptr<tracker_connection> c = *i;
    bool done;
    try {
      done = c->tick(now);
    } catch (const std::exception& e) {
      if (auto r = c->requester()) r->tracker_request_error(c->tracker_req(), -1, e.what());
      done = true;
    }
    if (done)
      remove(i++);
    else
      ++i;
  }
}

void tracker_dispatcher::abort_all() {
  for (auto i = m_connections.begin(); i != m_connections.end();) {
    if (auto r = (*i)->requester()) {
      r->dispatcher = nullptr;
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

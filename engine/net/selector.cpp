#include "engine/net/selector.h"

#include <poll.h>
#include <sys/eventfd.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdint>
#include <unordered_map>

namespace engine {

// The descriptor that ends a wait early; shared with the wakers handed out,
// so that it stays open while one of them is using it.
struct selector::wake_event {
  wake_event() : fd(::eventfd(0, EFD_NONBLOCK | EFD_CLOEXEC)) {
    if (fd < 0) throw network_error::from_errno(errno);
  }
  ~wake_event() { ::close(fd); }
  wake_event(const wake_event&) = delete;
  wake_event& operator=(const wake_event&) = delete;
  void signal() const {
    const std::uint64_t one = 1;
    [[maybe_unused]] const auto n = ::write(fd, &one, sizeof one);
  }
  const int fd;
};

selector::selector() : m_wake(std::make_shared<wake_event>()) {}

selector::~selector() = default;

void selector::add(list_id list, const std::shared_ptr<socket>& s) {
  std::size_t& at = m_places[s.get()].at[list];
  if (at != absent) return;
  at = m_lists[list].size();
  m_lists[list].push_back(s);
  if (m_waiting) m_wake->signal();
}

void selector::erase(list_id list, const socket* s) {
  auto p = m_places.find(s);
  if (p == m_places.end() || p->second.at[list] == absent) return;
  m_lists[list][p->second.at[list]].reset();
  p->second.at[list] = absent;
  if (std::all_of(p->second.at.begin(), p->second.at.end(), [](std::size_t at) { return at == absent; }))
    m_places.erase(p);
  if (++m_empty_places[list] * 2 >= m_lists[list].size()) close_up(list);
}

void selector::close_up(list_id list) {
  socket_list& sockets = m_lists[list];
  std::erase(sockets, nullptr);
  for (std::size_t i = 0; i < sockets.size(); ++i) m_places[sockets[i].get()].at[list] = i;
  m_empty_places[list] = 0;
}

bool selector::contains(list_id list, const socket* s) const {
  auto p = m_places.find(s);
  return p != m_places.end() && p->second.at[list] != absent;
}

void selector::monitor_readability(const std::shared_ptr<socket>& s) {
  platform::mutex_lock l(m_mutex);
  add(readable_list, s);
}

void selector::monitor_writability(const std::shared_ptr<socket>& s) {
  platform::mutex_lock l(m_mutex);
  add(writable_list, s);
}

void selector::monitor_errors(const std::shared_ptr<socket>& s) {
  platform::mutex_lock l(m_mutex);
  add(error_list, s);
}

void selector::remove_readable(const std::shared_ptr<socket>& s) {
  platform::mutex_lock l(m_mutex);
  erase(readable_list, s.get());
}

void selector::remove_writable(const std::shared_ptr<socket>& s) {
  platform::mutex_lock l(m_mutex);
  erase(writable_list, s.get());
}

void selector::remove(const std::shared_ptr<socket>& s) {
  platform::mutex_lock l(m_mutex);
  for (list_id list : {readable_list, writable_list, error_list}) erase(list, s.get());
}

bool selector::is_readability_monitored(const std::shared_ptr<socket>& s) const {
  platform::mutex_lock l(m_mutex);
  return contains(readable_list, s.get());
}

bool selector::is_writability_monitored(const std::shared_ptr<socket>& s) const {
  platform::mutex_lock l(m_mutex);
  return contains(writable_list, s.get());
}

bool selector::is_error_monitored(const std::shared_ptr<socket>& s) const {
  platform::mutex_lock l(m_mutex);
  return contains(error_list, s.get());
}

std::size_t selector::size() const {
  platform::mutex_lock l(m_mutex);
  return m_places.size();
}

void selector::wake() { m_wake->signal(); }

std::function<void()> selector::waker() const {
  return [w = std::weak_ptr<const wake_event>(m_wake)] {
    if (auto e = w.lock()) e->signal();
  };
}

void selector::wait(int timeout_us, socket_list& readable, socket_list& writable, socket_list& errored) {
  readable.clear();
  writable.clear();
  errored.clear();

  // The snapshot: one poll entry per distinct socket, the wake descriptor
  // first. The shared pointers keep every socket open through the wait.
  std::vector<pollfd> fds{{m_wake->fd, POLLIN, 0}};
  std::vector<std::shared_ptr<socket>> held;
  {
    platform::mutex_lock l(m_mutex);
    fds.reserve(m_places.size() + 1);
    held.reserve(m_places.size());
    for (const auto& [s, p] : m_places) {
      short events = 0;
      if (p.at[readable_list] != absent) events |= POLLIN;
      if (p.at[writable_list] != absent) events |= POLLOUT;
      fds.push_back({s->handle(), events, 0});
      // Any list that holds the socket has its shared pointer.
      for (list_id list : {readable_list, writable_list, error_list})
        if (p.at[list] != absent) {
          held.push_back(m_lists[list][p.at[list]]);
          break;
        }
    }
    m_waiting = true;
  }

  const int timeout_ms = timeout_us <= 0 ? 0 : (timeout_us + 999) / 1000;
  const int n = ::poll(fds.data(), fds.size(), timeout_ms);
  const int err = errno;
  platform::mutex_lock l(m_mutex);
  m_waiting = false;
  if (n < 0) {
    if (network_error::translate_errno(err) == network_error::interrupted) return;
    throw network_error::from_errno(err);
  }
  if (n == 0) return;
  if (fds[0].revents & POLLIN) {
    std::uint64_t count;
    [[maybe_unused]] const auto r = ::read(m_wake->fd, &count, sizeof count);
  }

  // Each list's sockets come in list order: those that woke are few, and
  // are sorted by their places rather than walking every list.
  const short fail = POLLHUP | POLLERR | POLLNVAL;
  std::array<std::vector<std::size_t>, num_lists> woke;
  std::vector<const socket*> drop;
  for (std::size_t i = 1; i < fds.size(); ++i) {
    const short r = fds[i].revents;
    if (!r) continue;
    const socket* s = held[i - 1].get();
    // One taken off every list during the wait is not handed out.
    const auto found = m_places.find(s);
    if (found == m_places.end()) continue;
    const places& p = found->second;
    // Broken: an error, a closed descriptor, or a hang-up that no reader
    // will notice. Such a socket would wake every later wait at once.
    const bool broken = (r & (POLLERR | POLLNVAL)) || ((r & POLLHUP) && p.at[readable_list] == absent);
    // A broken socket goes to `errored` when it is watched for errors; else
    // it is handed to its reader or writer, whose next call meets the error.
    if (broken && p.at[error_list] != absent) {
      woke[error_list].push_back(p.at[error_list]);
    } else {
      if ((r & (POLLIN | fail)) && p.at[readable_list] != absent) woke[readable_list].push_back(p.at[readable_list]);
      if ((r & (POLLOUT | fail)) && p.at[writable_list] != absent) woke[writable_list].push_back(p.at[writable_list]);
    }
    // Handed once: a broken socket leaves every list so it stops waking the loop.
    if (broken) drop.push_back(s);
  }
  for (auto [list, out] : {std::pair{error_list, &errored}, std::pair{readable_list, &readable},
                           std::pair{writable_list, &writable}}) {
    std::sort(woke[list].begin(), woke[list].end());
    for (std::size_t at : woke[list]) out->push_back(m_lists[list][at]);
  }
  for (const socket* s : drop)
    for (list_id list : {readable_list, writable_list, error_list}) erase(list, s);
}

}  // namespace engine

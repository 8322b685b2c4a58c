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

void selector::add(socket_list& list, const std::shared_ptr<socket>& s) {
  if (contains(list, s.get())) return;
  list.push_back(s);
  if (m_waiting) m_wake->signal();
}

void selector::erase(socket_list& list, const socket* s) {
  std::erase_if(list, [s](const std::shared_ptr<socket>& p) { return p.get() == s; });
}

bool selector::contains(const socket_list& list, const socket* s) {
  return std::any_of(list.begin(), list.end(), [s](const std::shared_ptr<socket>& p) { return p.get() == s; });
}

void selector::monitor_readability(const std::shared_ptr<socket>& s) {
  std::lock_guard l(m_mutex);
  add(m_readable, s);
}

void selector::monitor_writability(const std::shared_ptr<socket>& s) {
  std::lock_guard l(m_mutex);
  add(m_writable, s);
}

void selector::monitor_errors(const std::shared_ptr<socket>& s) {
  std::lock_guard l(m_mutex);
  add(m_error, s);
}

void selector::remove_readable(const std::shared_ptr<socket>& s) {
  std::lock_guard l(m_mutex);
  erase(m_readable, s.get());
}

void selector::remove_writable(const std::shared_ptr<socket>& s) {
  std::lock_guard l(m_mutex);
  erase(m_writable, s.get());
}

void selector::remove(const std::shared_ptr<socket>& s) {
  std::lock_guard l(m_mutex);
  erase(m_readable, s.get());
  erase(m_writable, s.get());
  erase(m_error, s.get());
}

bool selector::is_readability_monitored(const std::shared_ptr<socket>& s) const {
  std::lock_guard l(m_mutex);
  return contains(m_readable, s.get());
}

bool selector::is_writability_monitored(const std::shared_ptr<socket>& s) const {
  std::lock_guard l(m_mutex);
  return contains(m_writable, s.get());
}

bool selector::is_error_monitored(const std::shared_ptr<socket>& s) const {
  std::lock_guard l(m_mutex);
  return contains(m_error, s.get());
}

std::size_t selector::size() const {
  std::lock_guard l(m_mutex);
  std::unordered_map<const socket*, int> seen;
  for (const socket_list* list : {&m_readable, &m_writable, &m_error})
    for (const auto& s : *list) seen.emplace(s.get(), 0);
  return seen.size();
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
  std::unordered_map<const socket*, std::size_t> index;
  {
    std::lock_guard l(m_mutex);
    auto enter = [&](const socket_list& list, short events) {
      for (const auto& s : list) {
        auto [it, fresh] = index.emplace(s.get(), fds.size());
        if (fresh) {
          fds.push_back({s->handle(), 0, 0});
          held.push_back(s);
        }
        fds[it->second].events |= events;
      }
    };
    enter(m_readable, POLLIN);
    enter(m_writable, POLLOUT);
    enter(m_error, 0);
    m_waiting = true;
  }

  const int timeout_ms = timeout_us <= 0 ? 0 : (timeout_us + 999) / 1000;
  const int n = ::poll(fds.data(), fds.size(), timeout_ms);
  const int err = errno;
  std::lock_guard l(m_mutex);
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

  auto revents_of = [&](const socket* s) -> short {
    auto it = index.find(s);
    return it == index.end() ? short(0) : fds[it->second].revents;
  };
  // Broken: an error, a closed descriptor, or a hang-up that no reader will
  // notice. Such a socket would wake every later wait at once.
  auto broken = [&](const socket* s) {
    const short r = revents_of(s);
    if (r & (POLLERR | POLLNVAL)) return true;
    return (r & POLLHUP) && !contains(m_readable, s);
  };

  // A broken socket goes to `errored` when it is watched for errors; else it
  // is handed to its reader or writer, whose next call meets the error.
  auto as_error = [&](const socket* s) { return broken(s) && contains(m_error, s); };
  const short fail = POLLHUP | POLLERR | POLLNVAL;
  for (const auto& s : m_error)
    if (as_error(s.get())) errored.push_back(s);
  for (const auto& s : m_readable)
    if ((revents_of(s.get()) & (POLLIN | fail)) && !as_error(s.get())) readable.push_back(s);
  for (const auto& s : m_writable)
    if ((revents_of(s.get()) & (POLLOUT | fail)) && !as_error(s.get())) writable.push_back(s);
  // Handed once: a broken socket leaves every list so it stops waking the loop.
  std::vector<const socket*> drop;
  for (const auto& s : held)
    if (broken(s.get())) drop.push_back(s.get());
  for (const socket* s : drop) {
    erase(m_readable, s);
    erase(m_writable, s);
    erase(m_error, s);
  }
}

}  // namespace engine

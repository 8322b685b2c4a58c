#pragma once
// Waits on many sockets at once for the network thread. Three lists name the
// sockets watched for readability, writability and errors; any thread may
// change them, also while a wait is running: the wait works on a snapshot and
// never holds the lock while it sleeps, and a socket added meanwhile ends it,
// so that the next wait takes it in.

#include <array>
#include <cstddef>
#include <functional>
#include <memory>
#include <unordered_map>
#include <vector>

#include "engine/net/socket.h"
#include "platform/mutex.h"

namespace engine {

class selector {
 public:
  using socket_list = std::vector<std::shared_ptr<socket>>;

  selector();
  ~selector();
  selector(const selector&) = delete;
  selector& operator=(const selector&) = delete;

  // Adding a socket that is already on a list does nothing.
  void monitor_readability(const std::shared_ptr<socket>& s) EXCLUDES(m_mutex);
  void monitor_writability(const std::shared_ptr<socket>& s) EXCLUDES(m_mutex);
  void monitor_errors(const std::shared_ptr<socket>& s) EXCLUDES(m_mutex);
  void remove_readable(const std::shared_ptr<socket>& s) EXCLUDES(m_mutex);
  void remove_writable(const std::shared_ptr<socket>& s) EXCLUDES(m_mutex);
  // Takes the socket off all three lists.
  void remove(const std::shared_ptr<socket>& s) EXCLUDES(m_mutex);

  bool is_readability_monitored(const std::shared_ptr<socket>& s) const EXCLUDES(m_mutex);
  bool is_writability_monitored(const std::shared_ptr<socket>& s) const EXCLUDES(m_mutex);
  bool is_error_monitored(const std::shared_ptr<socket>& s) const EXCLUDES(m_mutex);
  // Sockets on at least one list.
  std::size_t size() const EXCLUDES(m_mutex);

  // Waits up to `timeout_us` microseconds for any watched socket to become
  // ready and fills the three vectors, each in list order. A socket that
  // reports an error (or a hang-up nobody reads) is handed to `errored` once
  // and taken off every list, so a broken descriptor is never spun on. An
  // interrupted wait returns with empty vectors; other failures throw
  // network_error.
  void wait(int timeout_us, socket_list& readable, socket_list& writable, socket_list& errored) EXCLUDES(m_mutex);

  // Makes the wait that is running, or else the next one, return at once.
  void wake();
  // The same for another thread (a look-up worker, say) that may call it
  // after this selector is gone: it then does nothing.
  std::function<void()> waker() const;

 private:
  struct wake_event;
  // The three lists. A list keeps its sockets in the order they came; a
  // socket that leaves leaves an empty place, and the places are closed up
  // once they are half the list. Where each socket sits is kept by socket,
  // so that adding, finding and taking one off cost the same however many
  // thousand connections there are.
  enum list_id { readable_list, writable_list, error_list, num_lists };
  static constexpr std::size_t absent = std::size_t(-1);
  struct places {
    std::array<std::size_t, num_lists> at{absent, absent, absent};
  };
  // Adds `s` to a list; a wait that is running is told when it is new.
  void add(list_id list, const std::shared_ptr<socket>& s) REQUIRES(m_mutex);
  void erase(list_id list, const socket* s) REQUIRES(m_mutex);
  bool contains(list_id list, const socket* s) const REQUIRES(m_mutex);
  void close_up(list_id list) REQUIRES(m_mutex);

  // Held only while the lists are read or changed, never during the poll;
  // no other lock is taken under it.
  mutable platform::mutex m_mutex;
  std::array<socket_list, num_lists> m_lists GUARDED_BY(m_mutex);
  std::array<std::size_t, num_lists> m_empty_places GUARDED_BY(m_mutex){0, 0, 0};
  std::unordered_map<const socket*, places> m_places GUARDED_BY(m_mutex);
  // Whether a wait works on a snapshot of the lists right now.
  bool m_waiting GUARDED_BY(m_mutex) = false;
  // Set once at construction; signalling it needs no lock.
  const std::shared_ptr<wake_event> m_wake;
};

}  // namespace engine

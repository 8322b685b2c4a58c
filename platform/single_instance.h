#pragma once
// One instance of a program per user session.
//
// The instances meet in a private folder "<runtime folder>/<name>" (mode
// 0700, owned by the user): the first one holds an flock on "instance.lock"
// and listens on the stream socket "instance.socket"; a later start fails to
// get the lock, connects, checks that the listener runs as the same user and
// hands its command line over, byte for byte, then ends. The lock decides
// who is first: a socket file left behind by a killed instance is simply
// replaced by the next one that gets the lock.
//
// Receiving is non-blocking so the GUI can drive it from an fd watch on
// listen_fd() and from its regular timer: receive() accepts what is waiting,
// reads what has arrived and returns the finished hand-overs. A connection
// whose text has not fully arrived is kept for later calls, at most for the
// receive time-out; one that never finishes is dropped.

#include <chrono>
#include <climits>
#include <cstddef>
#include <filesystem>
#include <string>
#include <string_view>
#include <vector>

namespace platform {

// What a later start handed over. Every hand-over asks the first instance to
// come to the front; an empty text hands over nothing beyond that.
struct instance_request {
  std::string command_line;
};

class single_instance {
 public:
  enum class outcome {
    first,            // this process is the first instance and listens
    handed_over,      // another instance runs and has the command line: end
    not_handed_over,  // another instance holds the lock but could not be
                      // reached (or is not ours): end as well
    unguarded,        // no guard could be set up (no safe, usable folder;
                      // a socket that cannot be made): the caller must
                      // guard its data another way
  };

  // Longest command line handed over, in bytes: the longest path the
  // system takes (PATH_MAX counts the terminating zero). A longer one hands
  // over nothing and only asks the first instance to come to the front.
  static constexpr std::size_t max_command_line = PATH_MAX - 1;

  // `base_folder` holds the private folder `name`; empty: the first usable
  // one of runtime_folders().
  explicit single_instance(std::string name = "Quillfern", std::filesystem::path base_folder = {});
  ~single_instance();
  single_instance(const single_instance&) = delete;
  single_instance& operator=(const single_instance&) = delete;

  // Becomes the first instance, or hands `command_line` (UTF-8) to the one
  // that is. Call once.
  outcome start(std::string_view command_line);

  // The private folder of the lock and the socket.
  const std::filesystem::path& folder() const { return m_folder; }
  std::filesystem::path socket_path() const { return m_folder / "instance.socket"; }

  // First instance only (else -1): readable when a later start connects.
  int listen_fd() const { return m_listen_fd; }

  // First instance only: accepts and reads without blocking; the finished
  // hand-overs in the order they completed.
  std::vector<instance_request> receive();
  // True while a connection's text is still awaited (poll again later).
  bool receiving() const { return !m_pending.empty(); }

  // How long a connection may take to deliver its text (default 2 s).
  void set_receive_timeout(std::chrono::milliseconds timeout) { m_receive_timeout = timeout; }
  // How long a later start keeps trying to reach a first instance that holds
  // the lock but does not listen yet (default 5 s).
  void set_connect_timeout(std::chrono::milliseconds timeout) { m_connect_timeout = timeout; }

  // A folder that may hold the private folder `name`; `make_private`: made
  // when missing and taken only when it is private (it is not the session's
  // own runtime folder).
  struct base_folder {
    std::filesystem::path path;
    bool make_private = false;
  };
  // In the order tried: $XDG_RUNTIME_DIR when set, absolute and private to
  // the user; "/tmp/<name>-<uid>"; "<cache>/<name>-<uid>" in the user's cache
  // folder ($XDG_CACHE_HOME or ~/.cache). A folder is skipped when it is not
  // private (another user's, a link, open to others), when its socket path
  // is too long, or when its lock cannot be opened.
  static std::vector<base_folder> runtime_folders(std::string_view name);
  // The first of runtime_folders().
  static std::filesystem::path runtime_folder(std::string_view name);

 private:
  struct pending {
    int fd;
    std::chrono::steady_clock::time_point since;
    std::string text;
    bool too_long = false;
  };
  // Opens the lock in `base`/name when that folder is safe and usable.
  bool take_folder(const base_folder& base);
  outcome become_first();
  // 1: handed over, 0: nobody listening yet, -1: the listener is not ours.
  int try_hand_over(std::string_view command_line);
  // True when the connection is finished (its request, if any, appended).
  bool read_pending(pending& p, std::vector<instance_request>& out);

  std::string m_name;
  std::vector<base_folder> m_candidates;
  std::filesystem::path m_folder;
  int m_lock_fd = -1;
  int m_listen_fd = -1;
  std::vector<pending> m_pending;
  std::chrono::milliseconds m_receive_timeout{2000};
  std::chrono::milliseconds m_connect_timeout{5000};
};

// An flock on a lock file, held as long as the object lives: one process at
// a time works in the folder that holds the file (a data folder that two
// instances must never share, whatever their runtime folders are).
class folder_lock {
 public:
  enum class state {
    held,    // this process holds it
    busy,    // another process holds it
    failed,  // the file cannot be opened (or is not a regular file)
  };
  explicit folder_lock(const std::filesystem::path& lock_file);
  ~folder_lock();
  folder_lock(const folder_lock&) = delete;
  folder_lock& operator=(const folder_lock&) = delete;
  state get() const { return m_state; }

 private:
  int m_fd = -1;
  state m_state = state::failed;
};

// Makes `folder` (mkdir when missing) and checks that it is a real folder
// owned by this user with no access for anyone else.
bool make_private_folder(const std::filesystem::path& folder);

}  // namespace platform

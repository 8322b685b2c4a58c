#include "platform/single_instance.h"

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <thread>
#include <unistd.h>

namespace platform {
namespace {

using steady = std::chrono::steady_clock;

// Largest text a connection may deliver; anything longer is not a
// hand-over of ours.
constexpr std::size_t max_message_bytes = single_instance::max_command_line;
// Connections whose text is still awaited at one time.
constexpr std::size_t max_pending = 16;

// A folder that is this user's alone: a real folder (not a link), owned by
// the user, with no access for anyone else.
bool is_private_folder(const std::filesystem::path& folder) {
  struct stat st{};
  return ::lstat(folder.c_str(), &st) == 0 && S_ISDIR(st.st_mode) && st.st_uid == ::geteuid() &&
         (st.st_mode & 077) == 0;
}

// The session's runtime folder, when it is set, absolute and private.
const char* xdg_runtime_dir() {
  const char* xdg = std::getenv("XDG_RUNTIME_DIR");
  return xdg && xdg[0] == '/' && is_private_folder(xdg) ? xdg : nullptr;
}

std::string uid_suffix(std::string_view name) { return std::string(name) + "-" + std::to_string(::geteuid()); }

bool make_address(const std::filesystem::path& path, sockaddr_un& addr) {
  std::memset(&addr, 0, sizeof addr);
  addr.sun_family = AF_UNIX;
  const std::string& s = path.native();
  if (s.size() >= sizeof addr.sun_path) return false;
  std::memcpy(addr.sun_path, s.c_str(), s.size() + 1);
  return true;
}

bool peer_is_this_user(int fd) {
  ucred cred{};
  socklen_t len = sizeof cred;
  return ::getsockopt(fd, SOL_SOCKET, SO_PEERCRED, &cred, &len) == 0 && len == sizeof cred &&
         cred.uid == ::geteuid();
}

void close_fd(int& fd) {
  if (fd >= 0) ::close(fd);
  fd = -1;
}

bool send_all(int fd, std::string_view bytes) {
  while (!bytes.empty()) {
    const ssize_t n = ::send(fd, bytes.data(), bytes.size(), MSG_NOSIGNAL);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return false;
    bytes.remove_prefix(static_cast<std::size_t>(n));
  }
  return true;
}

}  // namespace

bool make_private_folder(const std::filesystem::path& folder) {
  if (::mkdir(folder.c_str(), 0700) != 0 && errno != EEXIST) return false;
  return is_private_folder(folder);
}

std::vector<single_instance::base_folder> single_instance::runtime_folders(std::string_view name) {
  std::vector<base_folder> out;
  if (const char* xdg = xdg_runtime_dir()) out.push_back({xdg, false});
  out.push_back({std::filesystem::path("/tmp") / uid_suffix(name), true});
  // Where /tmp holds someone else's folder of that name (or one that is not
  // private), a folder in the user's own cache folder.
  std::filesystem::path cache;
  if (const char* xdg_cache = std::getenv("XDG_CACHE_HOME"); xdg_cache && xdg_cache[0] == '/') cache = xdg_cache;
  else if (const char* home = std::getenv("HOME"); home && home[0] == '/')
    cache = std::filesystem::path(home) / ".cache";
  if (!cache.empty()) out.push_back({cache / uid_suffix(name), true});
  return out;
}

std::filesystem::path single_instance::runtime_folder(std::string_view name) {
  return runtime_folders(name).front().path;
}

single_instance::single_instance(std::string name, std::filesystem::path base_folder) : m_name(std::move(name)) {
  if (base_folder.empty()) m_candidates = runtime_folders(m_name);
  else m_candidates.push_back({std::move(base_folder), false});
  m_folder = m_candidates.front().path / m_name;
}

bool single_instance::take_folder(const base_folder& base) {
  if (base.make_private) {
    std::error_code ec;
    std::filesystem::create_directories(base.path.parent_path(), ec);
    if (!make_private_folder(base.path)) return false;
  }
  const std::filesystem::path folder = base.path / m_name;
  sockaddr_un addr;
  if (!make_private_folder(folder) || !make_address(folder / "instance.socket", addr)) return false;
  const int fd = ::open((folder / "instance.lock").c_str(), O_RDWR | O_CREAT | O_CLOEXEC | O_NOFOLLOW, 0600);
  if (fd < 0) return false;
  struct stat st{};
  if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
    ::close(fd);
    return false;
  }
  m_folder = folder;
  m_lock_fd = fd;
  return true;
}

single_instance::~single_instance() {
  for (auto& p : m_pending) close_fd(p.fd);
  if (m_listen_fd >= 0) {
    // The lock is still held here, so the socket file is ours to remove.
    ::unlink(socket_path().c_str());
    close_fd(m_listen_fd);
  }
  close_fd(m_lock_fd);
}

single_instance::outcome single_instance::start(std::string_view command_line) {
  // The first usable folder of the list; every start of this user takes
  // the same one, so they meet there.
  bool taken = false;
  for (const base_folder& base : m_candidates)
    if ((taken = take_folder(base))) break;
  if (!taken) return outcome::unguarded;

  // A command line too long to hand over only brings the first one forward.
  if (command_line.size() > max_command_line) command_line = {};
  const auto deadline = steady::now() + m_connect_timeout;
  for (;;) {
    if (::flock(m_lock_fd, LOCK_EX | LOCK_NB) == 0) return become_first();
    if (errno != EWOULDBLOCK && errno != EINTR) break;
    // Someone holds the lock; it may still be setting up its socket, or
    // about to end (then the lock comes free and the next round takes it).
    const int handed = try_hand_over(command_line);
    if (handed != 0) {
      close_fd(m_lock_fd);
      return handed > 0 ? outcome::handed_over : outcome::not_handed_over;
    }
    if (steady::now() >= deadline) break;
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
  close_fd(m_lock_fd);
  return outcome::not_handed_over;
}

single_instance::outcome single_instance::become_first() {
  sockaddr_un addr;
  if (!make_address(socket_path(), addr)) return outcome::unguarded;
  // Whatever is in the socket's place was left by an instance that no
  // longer holds the lock (or put there by hand): the private folder is
  // ours, and nothing else belongs under that name.
  std::error_code ec;
  std::filesystem::remove_all(socket_path(), ec);
  m_listen_fd = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0);
  if (m_listen_fd < 0) return outcome::unguarded;
  if (::bind(m_listen_fd, reinterpret_cast<const sockaddr*>(&addr), sizeof addr) != 0 ||
      ::listen(m_listen_fd, SOMAXCONN) != 0) {
    close_fd(m_listen_fd);
    // The lock stays held: a later start must not become a second first one.
    return outcome::unguarded;
  }
  return outcome::first;
}

int single_instance::try_hand_over(std::string_view command_line) {
  sockaddr_un addr;
  if (!make_address(socket_path(), addr)) return -1;
  int fd = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
  if (fd < 0) return 0;
  // A listener whose queue is full must not hold this start for long.
  timeval tv{2, 0};
  ::setsockopt(fd, SOL_SOCKET, SO_SNDTIMEO, &tv, sizeof tv);
  int result = 0;
  if (::connect(fd, reinterpret_cast<const sockaddr*>(&addr), sizeof addr) == 0) {
    if (!peer_is_this_user(fd)) result = -1;
    else if (send_all(fd, command_line) && ::shutdown(fd, SHUT_WR) == 0) result = 1;
  }
  close_fd(fd);
  return result;
}

std::vector<instance_request> single_instance::receive() {
  std::vector<instance_request> out;
  if (m_listen_fd < 0) return out;
  const auto now = steady::now();
  for (;;) {
    const int fd = ::accept4(m_listen_fd, nullptr, nullptr, SOCK_CLOEXEC | SOCK_NONBLOCK);
    if (fd < 0) {
      if (errno == EINTR || errno == ECONNABORTED) continue;
      break;  // nothing more waiting (or out of descriptors: next time)
    }
    if (!peer_is_this_user(fd)) {
      ::close(fd);
      continue;
    }
    if (m_pending.size() >= max_pending) {
      ::close(m_pending.front().fd);
      m_pending.erase(m_pending.begin());
    }
    m_pending.push_back({fd, now, {}});
  }
  std::erase_if(m_pending, [&](pending& p) {
    if (read_pending(p, out) || now - p.since >= m_receive_timeout) {
      close_fd(p.fd);
      return true;
    }
    return false;
  });
  return out;
}

bool single_instance::read_pending(pending& p, std::vector<instance_request>& out) {
  char buf[512];
  for (;;) {
    const ssize_t n = ::read(p.fd, buf, sizeof buf);
    if (n > 0) {
      if (!p.too_long) p.text.append(buf, static_cast<std::size_t>(n));
      if (p.text.size() > max_message_bytes) {
        p.too_long = true;
        p.text.clear();
      }
      continue;
    }
    if (n < 0 && errno == EINTR) continue;
    if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) return false;
    if (n < 0) return true;  // the sender broke off: nothing to act on
    // End of the text. The same length rule as the sender's applies.
    p.text.resize(std::min(p.text.size(), p.text.find('\0')));
    if (p.too_long) p.text.clear();
    out.push_back({std::move(p.text)});
    return true;
  }
}

folder_lock::folder_lock(const std::filesystem::path& lock_file) {
  m_fd = ::open(lock_file.c_str(), O_RDWR | O_CREAT | O_CLOEXEC | O_NOFOLLOW | O_NONBLOCK, 0600);
  if (m_fd < 0) return;
  struct stat st{};
  if (::fstat(m_fd, &st) != 0 || !S_ISREG(st.st_mode)) {
    close_fd(m_fd);
    return;
  }
  int rc;
  while ((rc = ::flock(m_fd, LOCK_EX | LOCK_NB)) != 0 && errno == EINTR) {
  }
  if (rc == 0) {
    m_state = state::held;
    return;
  }
  m_state = errno == EWOULDBLOCK ? state::busy : state::failed;
  close_fd(m_fd);
}

folder_lock::~folder_lock() { close_fd(m_fd); }

}  // namespace platform

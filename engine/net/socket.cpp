#include "engine/net/socket.h"

#include "platform/descriptor_limit.h"

#include <algorithm>

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <sys/uio.h>
#include <unistd.h>

#include <cerrno>

namespace engine {

namespace {

sockaddr_in to_sockaddr(const address& a) {
  sockaddr_in sa{};
  sa.sin_family = AF_INET;
  sa.sin_addr.s_addr = htonl(a.ip);
  sa.sin_port = htons(a.port);
  return sa;
}

address from_sockaddr(const sockaddr_in& sa) { return address(ntohl(sa.sin_addr.s_addr), ntohs(sa.sin_port)); }

[[noreturn]] void throw_last() { throw network_error::from_errno(errno); }

void bind_to(int handle, const address& local) {
  const sockaddr_in sa = to_sockaddr(local);
  if (::bind(handle, reinterpret_cast<const sockaddr*>(&sa), sizeof sa) != 0) throw_last();
}

}  // namespace

socket::socket(type kind, bool blocking, std::uint16_t local_port) : m_blocking(blocking) {
  m_handle = ::socket(AF_INET, (kind == tcp ? SOCK_STREAM : SOCK_DGRAM) | SOCK_CLOEXEC, 0);
  if (m_handle < 0) throw_last();
  m_handle = platform::move_above_select_range(m_handle);
  try {
    if (kind == udp && local_port != 0) {
      m_address = address(0u, local_port);
      bind_to(m_handle, m_address);
    }
    if (!blocking) set_blocking(false);
  } catch (...) {
    ::close(m_handle);
    throw;
  }
}

socket::socket(int handle, const address& remote, bool blocking)
    : m_handle(handle), m_address(remote), m_blocking(blocking) {}

socket::~socket() { close(); }

void socket::close() {
  if (m_handle >= 0) ::close(m_handle);
  m_handle = -1;
}

void socket::set_blocking(bool blocking) {
  const int flags = ::fcntl(m_handle, F_GETFL, 0);
  if (flags < 0) throw_last();
  const int wanted = blocking ? flags & ~O_NONBLOCK : flags | O_NONBLOCK;
  if (wanted != flags && ::fcntl(m_handle, F_SETFL, wanted) != 0) throw_last();
  m_blocking = blocking;
}

void socket::connect(const address& remote, const address& local) {
  if (local != address()) bind_to(m_handle, local);
  m_address = remote;
  const sockaddr_in sa = to_sockaddr(remote);
  if (::connect(m_handle, reinterpret_cast<const sockaddr*>(&sa), sizeof sa) != 0) {
    const int err = errno;
    if (network_error::translate_errno(err) != network_error::would_block) throw network_error::from_errno(err);
  }
}

void socket::listen(const address& local, int backlog) {
  const int on = 1;
  if (::setsockopt(m_handle, SOL_SOCKET, SO_REUSEADDR, &on, sizeof on) != 0) throw_last();
  bind_to(m_handle, local);
  if (::listen(m_handle, backlog) != 0) throw_last();
  m_address = local;
}

std::shared_ptr<socket> socket::accept() {
  sockaddr_in sa{};
  socklen_t len = sizeof sa;
  const int flags = SOCK_CLOEXEC | (m_blocking ? 0 : SOCK_NONBLOCK);
  const int handle = ::accept4(m_handle, reinterpret_cast<sockaddr*>(&sa), &len, flags);
  if (handle < 0) {
    const int err = errno;
    // A connection that was reset before we took it is as good as none.
    if (network_error::translate_errno(err) == network_error::would_block || err == ECONNABORTED) return {};
    throw network_error::from_errno(err);
  }
  return std::make_shared<socket>(platform::move_above_select_range(handle), from_sockaddr(sa), m_blocking);
}

int socket::send(const char* buffer, int length) {
  return int(::send(m_handle, buffer, std::size_t(length), MSG_NOSIGNAL));
}

int socket::receive(char* buffer, int length) { return int(::recv(m_handle, buffer, std::size_t(length), 0)); }

int socket::receive(std::span<const std::span<char>> parts) {
  iovec v[8];
  const std::size_t n = std::min<std::size_t>(parts.size(), 8);
  for (std::size_t i = 0; i < n; ++i) v[i] = {parts[i].data(), parts[i].size()};
  return int(::readv(m_handle, v, int(n)));
}

int socket::sendto(const address& to, const char* buffer, int length) {
  const sockaddr_in sa = to_sockaddr(to);
  return int(::sendto(m_handle, buffer, std::size_t(length), MSG_NOSIGNAL, reinterpret_cast<const sockaddr*>(&sa),
                      sizeof sa));
}

int socket::recvfrom(char* buffer, int length, address& from) {
  sockaddr_in sa{};
  socklen_t len = sizeof sa;
  const int n = int(::recvfrom(m_handle, buffer, std::size_t(length), 0, reinterpret_cast<sockaddr*>(&sa), &len));
  if (n >= 0) from = from_sockaddr(sa);
  return n;
}

short socket::poll_one(short events) const {
  pollfd p{m_handle, events, 0};
  if (::poll(&p, 1, 0) < 0) throw_last();
  return p.revents;
}

// A closed connection reads as readable: the read then returns 0.
bool socket::is_readable() const { return (poll_one(POLLIN) & (POLLIN | POLLHUP)) != 0; }
bool socket::is_writable() const { return (poll_one(POLLOUT) & POLLOUT) != 0; }
bool socket::has_error() const { return (poll_one(0) & (POLLERR | POLLNVAL)) != 0; }

std::optional<network_error> socket::pending_error() const {
  int err = 0;
  socklen_t len = sizeof err;
  if (::getsockopt(m_handle, SOL_SOCKET, SO_ERROR, &err, &len) != 0) err = errno;
  if (err == 0) return std::nullopt;
  return network_error::from_errno(err);
}

void socket::set_send_buffer_size(int size) {
  if (::setsockopt(m_handle, SOL_SOCKET, SO_SNDBUF, &size, sizeof size) != 0) throw_last();
}

address socket::local_address() const {
  sockaddr_in sa{};
  socklen_t len = sizeof sa;
  if (::getsockname(m_handle, reinterpret_cast<sockaddr*>(&sa), &len) != 0) throw_last();
  return from_sockaddr(sa);
}

int socket::last_error() { return network_error::translate_errno(errno); }

}  // namespace engine

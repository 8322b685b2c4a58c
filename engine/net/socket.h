#pragma once
// A TCP or UDP socket over the POSIX socket calls. Non-blocking unless asked
// otherwise; failures throw network_error with the translated errno, except
// the transfer calls, which return the system's result for the caller to test.

#include <cstdint>
#include <memory>
#include <optional>
#include <span>

#include "engine/net/address.h"
#include "engine/net/network_error.h"

namespace engine {

class socket {
 public:
  enum type { tcp = 0, udp = 1 };

  // Creates the socket; a UDP socket with a non-zero local port is bound to
  // 0.0.0.0 at that port. Switched to non-blocking unless `blocking`.
  explicit socket(type kind, bool blocking = false, std::uint16_t local_port = 0);
  // Takes ownership of an accepted descriptor.
  socket(int handle, const address& remote, bool blocking);
  ~socket();

  socket(const socket&) = delete;
  socket& operator=(const socket&) = delete;

  // Binds to `local` (when it is not 0.0.0.0:0) and connects to `remote`. On
  // a non-blocking socket the connect goes on in the background ("would
  // block" is not an error); pending_error() tells how it ended.
  void connect(const address& remote, const address& local = address());
  // Binds to `local` (reusing a port in TIME_WAIT) and listens.
  void listen(const address& local, int backlog);
  // The next pending connection, or an empty pointer when a non-blocking
  // socket has none. The new socket inherits this one's blocking flag.
  std::shared_ptr<socket> accept();

  // Bytes moved, or -1 with last_error() telling why. A send never raises
  // SIGPIPE on a connection the peer has closed.
  int send(const char* buffer, int length);
  int receive(char* buffer, int length);
  // Fills the parts one after another, in one call (at most 8 parts).
  int receive(std::span<const std::span<char>> parts);
  int sendto(const address& to, const char* buffer, int length);
  // Fills `from` with the sender of the datagram.
  int recvfrom(char* buffer, int length, address& from);

  // Each asks the system about this one socket without waiting.
  bool is_readable() const;
  bool is_writable() const;
  bool has_error() const;

  // The error the socket holds (SO_ERROR), cleared by reading it: how a
  // background connect failed. Nothing when there is none.
  std::optional<network_error> pending_error() const;

  void set_blocking(bool blocking);
  bool is_blocking() const { return m_blocking; }
  void set_send_buffer_size(int size);
  address local_address() const;
  // The remote end (or the bound address of a listening or UDP socket).
  const address& remote_address() const { return m_address; }
  void close();
  int handle() const { return m_handle; }
  // The table index of the last failed call on this thread.
  static int last_error();

 private:
  short poll_one(short events) const;

  int m_handle = -1;
  address m_address;
  bool m_blocking = false;
};

}  // namespace engine

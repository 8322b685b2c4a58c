#include "engine/net/network_error.h"

#include <cerrno>

namespace engine {

namespace {

const char* const error_texts[network_error::table_size] = {
    "The network subsystem has failed.",
    "The buf parameter is not completely contained in a valid part of the user address space.",
    "ACCSESS",
    "A process on the machine is already bound to the same fully-qualified address and the socket has "
    "not been marked to allow address reuse.",
    "The specified address is not a valid address for this machine.",
    "A blocking Windows Sockets 1.1 call is in progress, or the service provider is still processing a "
    "callback function.",
    "The (blocking) call was canceled through WSACancelBlockingCall.",
    "The socket has not been bound with bind, or an unknown flag was specified, or MSG_OOB was specified "
    "for a socket with SO_OOBINLINE enabled or (for byte stream sockets only) len was zero or negative.",
    "The connection has been broken due to the keep-alive activity detecting a failure while the "
    "operation was in progress.",
    "The socket is not connected.",
    "Not enough buffers available, too many connections.",
    "MSG_OOB was specified, but the socket is not stream-style such as type SOCK_STREAM, OOB data is not "
    "supported in the communication domain associated with this socket, or the socket is unidirectional "
    "and supports only send operations.",
    "NOTSOCK",
    "The socket has been shut down; it is not possible to receive on a socket after shutdown has been "
    "invoked with how set to SD_RECEIVE or SD_BOTH.",
    "The socket is marked as nonblocking and the receive operation would block.",
    "The virtual circuit was reset by the remote side executing a hard or abortive close.",
    "The connection has been dropped because of a network failure or because the peer system failed to "
    "respond.",
    "The virtual circuit was terminated due to a time-out or other failure. The application should close "
    "the socket as it is no longer usable.",
    "The message was too large to fit into the specified buffer and was truncated.",
    "A nonblocking connect call is in progress on the specified socket.",
    "Addresses in the specified family cannot be used with this socket.",
    "The attempt to connect was forcefully rejected.",
    "The socket is already connected.",
    "The network cannot be reached from this host at this time.",
    "A successful WSAStartup call must occur before using this function.",
    "Hostname not found",
    "unknown network error.",
};

}  // namespace

const char* network_error::what() const noexcept { return error_texts[m_index]; }

int network_error::translate_errno(int err) noexcept {
  switch (err) {
    case ENETDOWN: return 0;
    case EFAULT: return 1;
    case EACCES:
    case EPERM: return 2;
    case EADDRINUSE: return 3;
    case EADDRNOTAVAIL: return 4;
    case EINTR: return interrupted;
    case EINVAL: return 7;
    case ENETRESET: return 8;
    case ENOTCONN: return 9;
    case ENOBUFS:
    case ENOMEM:
    case EMFILE:
    case ENFILE: return 10;
    case EOPNOTSUPP: return 11;
    case ENOTSOCK:
    case EBADF: return 12;
    case ESHUTDOWN:
    case EPIPE: return 13;
    case EAGAIN:
#if EWOULDBLOCK != EAGAIN
    case EWOULDBLOCK:
#endif
    case EINPROGRESS: return would_block;
    case ECONNRESET: return 15;
    case ETIMEDOUT:
    case EHOSTDOWN: return 16;
    case ECONNABORTED: return 17;
    case EMSGSIZE: return 18;
    case EALREADY: return 19;
    case EAFNOSUPPORT: return 20;
    case ECONNREFUSED: return 21;
    case EISCONN: return 22;
    case ENETUNREACH:
    case EHOSTUNREACH: return 23;
    default: return unknown;
  }
}

}  // namespace engine

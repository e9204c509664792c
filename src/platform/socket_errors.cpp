#include "platform/socket_errors.h"

#include <asio/error.hpp>
#include <cerrno>

#include "ravelon/tcp_socket.h"

namespace ravelon {

int16_t SocketErrorNumber(const std::error_code& error) {
  if (error.category() == asio::error::get_netdb_category() ||
      error.category() == asio::error::get_addrinfo_category()) {
    return kSocketErrorHostNotFound;
  }
  switch (error.value()) {
    case ECONNREFUSED:
      return kSocketErrorConnectionRefused;
    case ETIMEDOUT:
      return kSocketErrorTimedOut;
    case ECONNRESET:
    case EPIPE:
      return kSocketErrorConnectionReset;
    case ENETUNREACH:
    case ENETDOWN:
      return kSocketErrorNetworkUnreachable;
    case EHOSTUNREACH:
    case EHOSTDOWN:
      return kSocketErrorHostUnreachable;
    case EADDRNOTAVAIL:
      return kSocketErrorAddressNotAvailable;
    case ENOTCONN:
      return kSocketErrorNotConnected;
    case EINVAL:
      return kSocketErrorInvalidArgument;
    default:
      return kSocketErrorConnectionAborted;
  }
}

}  // namespace ravelon

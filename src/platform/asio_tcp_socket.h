// The real TCP client on Asio. Internal to the platform: made by the real
// platform's NewTcpSocket.
#pragma once

#include <asio/io_context.hpp>
#include <memory>

#include "ravelon/tcp_socket.h"

namespace ravelon {

std::unique_ptr<TcpSocket> NewAsioTcpSocket(asio::io_context& context);

}  // namespace ravelon

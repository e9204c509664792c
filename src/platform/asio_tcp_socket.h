// The real TCP client on Asio. Internal to the platform: made by the real
// platform's NewTcpSocket. Names are looked up by `resolver` on a thread of
// its own (see name_lookup.h); tests give one that hangs or answers as they like.
#pragma once

#include <asio/io_context.hpp>
#include <memory>

#include "platform/name_lookup.h"
#include "ravelon/tcp_socket.h"

namespace ravelon {

std::unique_ptr<TcpSocket> NewAsioTcpSocket(asio::io_context& context,
                                            Resolver resolver = SystemResolve);

}  // namespace ravelon

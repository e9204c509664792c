// Maps operating-system and resolver errors to the error numbers of the
// socket's error event, once, at the edge of the platform.
#pragma once

#include <cstdint>
#include <system_error>

namespace ravelon {

int16_t SocketErrorNumber(const std::error_code& error);

}  // namespace ravelon

// Sending event text to a named port of a running host, from any program of
// the same user: the client side of Platform::NewNamedIpcPort.
//
// Plain blocking POSIX, safe from any thread but the one running the loop of
// the port it sends to (it waits for that loop's answer).
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

namespace ravelon {

// The largest message a named port takes: a receipt is a few KiB, an event
// list far below this.
inline constexpr int32_t kMaxMessageBytes = 16 * 1024 * 1024;

// The folder of named ports when no other is given: $XDG_RUNTIME_DIR/ravelon
// when that variable holds an absolute path, else /tmp/ravelon-<uid>.
std::string DefaultNamedPortFolder();

// Sends `bytes` as one message to the port listening as `name` in `folder`
// ("" for the default folder) and waits for its answer, each step bounded
// by a 10-second timeout. Returns 0 when the listener handed the message to
// the port it is connected to; -1 when refused by a check: a bad name, a
// message over kMaxMessageBytes, a folder that is not the user's private
// folder, or a listener not connected to any port (the message was
// dropped); any other value is the errno of the failing call (ENOENT or
// ECONNREFUSED: nothing listens under that name; ECONNRESET, EPIPE: the
// listener closed the connection, as it does for another user). `error` says
// why whenever the result is not 0.
int32_t SendToNamedPort(const std::string& name, std::string_view bytes, std::string& error,
                        const std::string& folder = "");

}  // namespace ravelon

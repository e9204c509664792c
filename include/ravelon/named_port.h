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
// when that variable holds an absolute path; else a folder of this user in
// /tmp named ravelon-<uid>-XXXXXX with a random end, which the first port to
// listen makes (another user cannot take that name first), or "" while there
// is none.
std::string DefaultNamedPortFolder();

// Sends `bytes` as one message to the port listening as `name` in `folder`
// ("" for the default folders: the first that holds a port of that name) and
// waits for its answer, each step bounded by a 10-second timeout. Returns 0
// when the listener handed the message to the port it is connected to; -1
// when refused by a check: a bad name, a message over kMaxMessageBytes, a
// folder that is not the user's private folder, or a listener not connected
// to any port (the message was dropped); any other value is the errno of the
// failing call (ENOENT or ECONNREFUSED: nothing listens under that name;
// ECONNRESET, EPIPE: the listener closed the connection). `error` says why
// whenever the result is not 0, with the listener's own reason when it ended
// the connection: another user, all its connections taken, silence, or it
// stopped listening.
int32_t SendToNamedPort(const std::string& name, std::string_view bytes, std::string& error,
                        const std::string& folder = "");

}  // namespace ravelon

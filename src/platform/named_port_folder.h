// Where named ports keep their socket files, and the checks that keep other
// users out of them.
//
// A port listening as <name> is the socket file <folder>/<name>.sock.
//
// The default folder is $XDG_RUNTIME_DIR/ravelon when that variable holds an
// absolute path: a folder of the user's own that nobody else can write to.
// Without it the folder is in /tmp, where every user may create names: a
// fixed name could be taken first by another user and so block the port.
// There a listening port makes a folder with a random name,
// ravelon-<uid>-XXXXXX, which nobody can take first, and senders find it by
// looking for ravelon-<uid>-* folders that are the user's own with mode 0700.
// A folder of that name planted by another user, or open to others, is
// ignored: it neither blocks listening nor is used.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace ravelon {

// The shared folder used when there is no runtime folder.
inline constexpr char kSharedPortBase[] = "/tmp";
inline constexpr char kSocketSuffix[] = ".sock";

// 0 when `name` may name a port; -1 with `error` otherwise.
int32_t CheckPortName(const std::string& name, std::string& error);

// Checks `name` and makes the socket path <folder>/<name>.sock of it.
// Returns 0, or -1 with `error`.
int32_t SocketPathOf(const std::string& name, const std::string& folder, std::string& path,
                     std::string& error);

// Connects the Unix socket `fd` to the socket file `path`; 0 or an errno.
int ConnectToSocket(int fd, const std::string& path);

// 0 when `folder` is a real folder (not a symbolic link) owned by this user
// that group and others cannot enter; -1 or an errno with `error` otherwise.
int32_t CheckPrivateFolder(const std::string& folder, std::string& error);

// "$XDG_RUNTIME_DIR/ravelon" when that variable holds an absolute path, else "".
std::string RuntimePortFolder();

// The folders ravelon-<uid>-* in `base` that pass CheckPrivateFolder, sorted
// by name.
std::vector<std::string> PrivatePortFolders(const std::string& base);

// The folder in `base` that a port listens in when given none: the first of
// PrivatePortFolders, else a new one. Two ports that start at once may each
// make one; senders look in all of them. Returns 0 with `folder`, or an errno
// with `error`.
int32_t MakePortFolder(const std::string& base, std::string& folder, std::string& error);

}  // namespace ravelon

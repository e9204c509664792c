#include "platform/named_port_folder.h"

#include <dirent.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <system_error>

namespace ravelon {
namespace {

std::string ErrnoText(int error) {
  return std::error_code(error, std::generic_category()).message();
}

std::string FolderPrefix() { return "ravelon-" + std::to_string(::geteuid()) + "-"; }

}  // namespace

int32_t CheckPortName(const std::string& name, std::string& error) {
  if (name.empty() || name.find('/') != std::string::npos || name.find('\0') != std::string::npos) {
    error = "the port name \"" + name + "\" is empty or holds '/' or a zero byte";
    return -1;
  }
  return 0;
}

int32_t SocketPathOf(const std::string& name, const std::string& folder, std::string& path,
                     std::string& error) {
  if (const int32_t result = CheckPortName(name, error); result != 0) return result;
  path = folder + "/" + name + kSocketSuffix;
  if (path.find('\0') != std::string::npos || path.size() >= sizeof(sockaddr_un::sun_path)) {
    error = "the socket path " + path + " is longer than a socket address takes (" +
            std::to_string(sizeof(sockaddr_un::sun_path) - 1) + " bytes) or holds a zero byte";
    return -1;
  }
  return 0;
}

int ConnectToSocket(int fd, const std::string& path) {
  sockaddr_un address{};
  address.sun_family = AF_UNIX;
  path.copy(address.sun_path, sizeof address.sun_path - 1);
  return ::connect(fd, reinterpret_cast<const sockaddr*>(&address), sizeof address) == 0 ? 0
                                                                                         : errno;
}

int32_t CheckPrivateFolder(const std::string& folder, std::string& error) {
  struct stat info {};
  if (::lstat(folder.c_str(), &info) != 0) {
    const int e = errno;
    error = "cannot inspect the port folder " + folder + ": " + ErrnoText(e);
    return e;
  }
  if (!S_ISDIR(info.st_mode)) {
    error = "the port folder " + folder + " is not a folder";
    return -1;
  }
  if (info.st_uid != ::geteuid()) {
    error = "the port folder " + folder + " belongs to user " + std::to_string(info.st_uid) +
            ", not to this user (" + std::to_string(::geteuid()) + ")";
    return -1;
  }
  if ((info.st_mode & 077) != 0) {
    char mode[8];
    std::snprintf(mode, sizeof mode, "%04o", static_cast<unsigned>(info.st_mode & 07777));
    error = "the port folder " + folder + " is open to group or others (mode " + mode +
            "); it must be 0700";
    return -1;
  }
  return 0;
}

std::string RuntimePortFolder() {
  const char* runtime = std::getenv("XDG_RUNTIME_DIR");
  return runtime != nullptr && runtime[0] == '/' ? std::string(runtime) + "/ravelon" : "";
}

std::vector<std::string> PrivatePortFolders(const std::string& base) {
  std::vector<std::string> folders;
  DIR* dir = ::opendir(base.c_str());
  if (dir == nullptr) return folders;
  const std::string prefix = FolderPrefix();
  std::string ignored;
  while (const dirent* entry = ::readdir(dir)) {
    const std::string name = entry->d_name;
    const std::string folder = base + "/" + name;
    if (name.size() > prefix.size() && name.starts_with(prefix) &&
        CheckPrivateFolder(folder, ignored) == 0) {
      folders.push_back(folder);
    }
  }
  ::closedir(dir);
  std::sort(folders.begin(), folders.end());
  return folders;
}

int32_t MakePortFolder(const std::string& base, std::string& folder, std::string& error) {
  if (const std::vector<std::string> found = PrivatePortFolders(base); !found.empty()) {
    folder = found.front();
    return 0;
  }
  // mkdtemp makes the folder with mode 0700, under a name nobody could know
  // before.
  std::string pattern = base + "/" + FolderPrefix() + "XXXXXX";
  if (::mkdtemp(pattern.data()) == nullptr) {
    const int e = errno;
    error = "cannot create a port folder in " + base + ": " + ErrnoText(e);
    return e;
  }
  folder = pattern;
  return 0;
}

}  // namespace ravelon

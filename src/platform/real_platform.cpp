#include <sys/stat.h>

#include <cerrno>
#include <cstdlib>
#include <string>
#include <system_error>
#include <utility>

#include "platform/asio_loop.h"
#include "platform/asio_tcp_socket.h"
#include "platform/system_clock.h"
#include "platform/unix_ipc_port.h"
#include "ravelon/platform.h"
#include "ravelon/registry_store.h"

namespace ravelon {
namespace {

// Makes the folders of `path` that are missing, each with mode 0700 (the
// store holds passwords). Returns "" or why not.
std::string MakeFolders(const std::string& path) {
  for (size_t end = path.find('/', 1); end != std::string::npos; end = path.find('/', end + 1)) {
    const std::string folder = path.substr(0, end);
    if (::mkdir(folder.c_str(), 0700) == 0) {
      ::chmod(folder.c_str(), 0700);  // the umask may have taken the owner's bits
    } else if (errno != EEXIST) {
      return "cannot create the folder " + folder + ": " +
             std::error_code(errno, std::generic_category()).message();
    }
  }
  return "";
}

class RealPlatform final : public Platform {
 public:
  RealPlatform(std::string registry_file, bool make_folders)
      : loop_(clock_), registry_file_(std::move(registry_file)), make_folders_(make_folders) {}

  EventLoop& Loop() override { return loop_; }
  const Clock& GetClock() const override { return clock_; }
  std::unique_ptr<TcpSocket> NewTcpSocket() override { return NewAsioTcpSocket(loop_.Context()); }
  // A named port that does not listen behaves as an in-process one.
  std::shared_ptr<IpcPort> NewIpcPort() override { return std::make_shared<NamedIpcPort>(loop_); }
  std::shared_ptr<IpcPort> NewNamedIpcPort(const std::string& name, const std::string& folder,
                                           std::string& error) override {
    auto port = std::make_shared<NamedIpcPort>(loop_);
    if (port->Listen(name, folder, error) != 0) return nullptr;
    return port;
  }

  FileSystem& Files() override { return *files_; }
  RegistryStore& Registry() override {
    OpenRegistry();
    return *registry_;
  }
  const std::string& RegistryError() const override {
    OpenRegistry();
    return registry_error_;
  }

 private:
  // Opens the store on first use; a file that cannot be opened leaves an
  // empty store in memory and the reason in registry_error_.
  void OpenRegistry() const {
    if (registry_ != nullptr) return;
    if (registry_file_.empty()) {
      registry_error_ = "no registry file: neither $XDG_CONFIG_HOME nor $HOME is set";
    } else if (make_folders_) {
      registry_error_ = MakeFolders(registry_file_);
    }
    if (registry_error_.empty())
      registry_ = NewSqliteRegistryStore(registry_file_, registry_error_);
    if (registry_ == nullptr) registry_ = NewMemoryRegistryStore();
  }

  SystemClock clock_;
  AsioLoop loop_;
  std::unique_ptr<FileSystem> files_ = NewPosixFileSystem();
  const std::string registry_file_;
  const bool make_folders_;
  // Made on first use, by const RegistryError() too.
  mutable std::unique_ptr<RegistryStore> registry_;
  mutable std::string registry_error_;
};

}  // namespace

// As the XDG base directory rules say, a relative $XDG_CONFIG_HOME counts as unset.
std::string DefaultRegistryFile() {
  const char* config = std::getenv("XDG_CONFIG_HOME");
  std::string folder;
  if (config != nullptr && config[0] == '/') {
    folder = config;
  } else if (const char* home = std::getenv("HOME"); home != nullptr && home[0] != '\0') {
    folder = std::string(home) + "/.config";
  } else {
    return "";
  }
  return folder + "/ravelon/registry.db";
}

std::shared_ptr<Platform> NewRealPlatform() {
  return std::make_shared<RealPlatform>(DefaultRegistryFile(), /*make_folders=*/true);
}

std::shared_ptr<Platform> NewRealPlatform(const std::string& registry_file) {
  return std::make_shared<RealPlatform>(registry_file, /*make_folders=*/false);
}

}  // namespace ravelon

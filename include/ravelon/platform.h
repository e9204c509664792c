// Everything an engine needs of the world, bundled in one object the host
// hands to each engine: the message loop with its timers, the clock, TCP
// sockets, inter-process ports, files and the registry store of source
// settings. The real platform (NewRealPlatform) uses Asio, the system clock,
// Unix sockets and a SQLite file; the simulated one (SimulatedPlatform) runs
// on virtual time with scripted network peers and an in-memory store, so
// tests of long timeouts take microseconds.
//
// Several engines may share one platform; it must outlive them.
#pragma once

#include <memory>
#include <string>

#include "ravelon/clock.h"
#include "ravelon/event_loop.h"
#include "ravelon/file_system.h"
#include "ravelon/registry_store.h"
#include "ravelon/tcp_socket.h"

namespace ravelon {

class IpcPort;

class Platform {
 public:
  virtual ~Platform() = default;

  virtual EventLoop& Loop() = 0;
  virtual const Clock& GetClock() const = 0;
  virtual std::unique_ptr<TcpSocket> NewTcpSocket() = 0;

  // A port for event text from other processes, delivering on Loop().
  virtual std::shared_ptr<IpcPort> NewIpcPort() = 0;

  // A port that other processes of this user reach by `name`: each message
  // sent to that name reaches the port this one is connected to (connect an
  // engine with ipcConnect). `folder` "" picks the default folder of named
  // ports (see platform/unix_ipc_port.h). nullptr, with the reason in
  // `error`, when the port cannot listen or the platform has no named ports,
  // as the simulated one has not.
  virtual std::shared_ptr<IpcPort> NewNamedIpcPort(const std::string& /*name*/,
                                                   const std::string& /*folder*/,
                                                   std::string& error) {
    error = "this platform has no named ports";
    return nullptr;
  }

  // The files of the frame store.
  virtual FileSystem& Files() = 0;

  // The store that source settings are read from and written to.
  virtual RegistryStore& Registry() = 0;

  // Why the store's file could not be opened ("" when it could); the store is
  // then an empty one in memory.
  virtual const std::string& RegistryError() const = 0;
};

// The platform of a real host: one Asio io_context run on the calling thread.
// The registry store is the file $XDG_CONFIG_HOME/ravelon/registry.db (with
// ~/.config for an unset or relative $XDG_CONFIG_HOME), its missing folders
// made with mode 0700. The file is opened on the first use of Registry() or
// RegistryError(), so a host that configures its engines through setters
// never creates it.
std::shared_ptr<Platform> NewRealPlatform();

// The file that NewRealPlatform() keeps the registry store in: see above.
// "" when neither $XDG_CONFIG_HOME nor $HOME gives a folder.
std::string DefaultRegistryFile();

// The same with the registry store in `registry_file`.
std::shared_ptr<Platform> NewRealPlatform(const std::string& registry_file);

}  // namespace ravelon

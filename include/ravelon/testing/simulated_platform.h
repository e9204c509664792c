// The platform of tests: a SimulatedLoop on virtual time, its clock, a
// SimulatedNetwork of scripted peers, files and a registry store in memory. A test
// builds one, hands it to the engines under test, fills the store, scripts the
// peers and moves time with AdvanceBy.
#pragma once

#include <memory>
#include <string>

#include "ravelon/platform.h"
#include "ravelon/testing/memory_file_system.h"
#include "ravelon/testing/simulated_loop.h"
#include "ravelon/testing/simulated_network.h"

namespace ravelon {

class SimulatedPlatform final : public Platform {
 public:
  SimulatedPlatform() : network_(loop_) {}

  EventLoop& Loop() override { return loop_; }
  const Clock& GetClock() const override { return loop_.GetClock(); }
  std::unique_ptr<TcpSocket> NewTcpSocket() override { return network_.NewSocket(); }
  std::shared_ptr<IpcPort> NewIpcPort() override;
  FileSystem& Files() override { return *active_files_; }
  RegistryStore& Registry() override { return *registry_; }
  const std::string& RegistryError() const override { return registry_error_; }

  SimulatedLoop& loop() { return loop_; }
  // The in-memory files, whatever file system engines are given.
  MemoryFileSystem& files() { return files_; }
  // Gives engines made from now on another file system (a fault-injecting
  // wrapper, a snapshot); not owned.
  void UseFileSystem(FileSystem& files) { active_files_ = &files; }
  SimulatedClock& clock() { return loop_.GetClock(); }
  SimulatedNetwork& network() { return network_; }

  void AdvanceBy(Duration duration) { loop_.AdvanceBy(duration); }

 private:
  SimulatedLoop loop_;
  SimulatedNetwork network_;
  MemoryFileSystem files_;
  FileSystem* active_files_ = &files_;
  std::unique_ptr<RegistryStore> registry_ = NewMemoryRegistryStore();
  const std::string registry_error_;  // always ""
};

}  // namespace ravelon

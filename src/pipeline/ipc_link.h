// IpcLink: the engine's inter-process port. Each block of event text that
// reaches it (from another program, through the port the host connected it
// to) becomes an event frame of the pipeline, taking the same road as an
// event part of the stream. A block that is not text is ignored.
//
// Owned by the engine; the port delivers on the engine's loop.
#pragma once

#include <cstdint>
#include <memory>

#include "ravelon/ipc_port.h"

namespace ravelon {

class FramePipeline;

class IpcLink {
 public:
  IpcLink(std::shared_ptr<IpcPort> port, FramePipeline& pipeline);
  ~IpcLink();
  IpcLink(const IpcLink&) = delete;
  IpcLink& operator=(const IpcLink&) = delete;

  // Links the engine's port with `toPort`; the port's own result, unchanged.
  int32_t Connect(std::shared_ptr<IpcPort>& toPort) { return m_ipcPort->connect(toPort); }

 private:
  std::shared_ptr<IpcPort> m_ipcPort;
  std::shared_ptr<IpcPortObserver> m_ipcPortObserver;
};

}  // namespace ravelon

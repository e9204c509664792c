// Event text from other processes, through the engine's inter-process port.
#include "components/ipc_port.h"
#include "ravelon/korvid.h"

namespace ravelon {

// The result is the port's own, passed on to the host unchanged.
int32_t Korvid::ipcConnect(std::shared_ptr<IpcPort>& toPort) { return m_ipcPort->connect(toPort); }

void Korvid::m_ipcPortObserver_onData(MemoryChunk& /*dataPtr*/) {
  // Turning arrivals into event frames comes with the frame pipeline.
}

}  // namespace ravelon

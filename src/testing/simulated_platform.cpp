#include "ravelon/testing/simulated_platform.h"

#include "components/in_process_ipc_port.h"

namespace ravelon {

std::shared_ptr<IpcPort> SimulatedPlatform::NewIpcPort() {
  return std::make_shared<InProcessIpcPort>(loop_);
}

}  // namespace ravelon

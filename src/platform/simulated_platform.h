// The platform of tests: a SimulatedLoop on virtual time, its clock and a
// SimulatedNetwork of scripted peers. A test builds one, hands it to the
// engines under test, scripts the peers and moves time with AdvanceBy.
#pragma once

#include <memory>

#include "platform/platform.h"
#include "platform/simulated_loop.h"
#include "platform/simulated_network.h"

namespace ravelon {

class SimulatedPlatform final : public Platform {
 public:
  SimulatedPlatform() : network_(loop_) {}

  EventLoop& Loop() override { return loop_; }
  const Clock& GetClock() const override { return loop_.GetClock(); }
  std::unique_ptr<TcpSocket> NewTcpSocket() override { return network_.NewSocket(); }
  std::shared_ptr<IpcPort> NewIpcPort() override;

  SimulatedLoop& loop() { return loop_; }
  SimulatedClock& clock() { return loop_.GetClock(); }
  SimulatedNetwork& network() { return network_; }

  void AdvanceBy(Duration duration) { loop_.AdvanceBy(duration); }

 private:
  SimulatedLoop loop_;
  SimulatedNetwork network_;
};

}  // namespace ravelon

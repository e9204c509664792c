#include "components/in_process_ipc_port.h"
#include "platform/asio_loop.h"
#include "platform/asio_tcp_socket.h"
#include "platform/platform.h"
#include "platform/system_clock.h"

namespace ravelon {
namespace {

class RealPlatform final : public Platform {
 public:
  RealPlatform() : loop_(clock_) {}

  EventLoop& Loop() override { return loop_; }
  const Clock& GetClock() const override { return clock_; }
  std::unique_ptr<TcpSocket> NewTcpSocket() override { return NewAsioTcpSocket(loop_.Context()); }
  std::shared_ptr<IpcPort> NewIpcPort() override {
    return std::make_shared<InProcessIpcPort>(loop_);
  }

 private:
  SystemClock clock_;
  AsioLoop loop_;
};

}  // namespace

std::shared_ptr<Platform> NewRealPlatform() { return std::make_shared<RealPlatform>(); }

}  // namespace ravelon

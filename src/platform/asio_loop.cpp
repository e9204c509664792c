#include "platform/asio_loop.h"

#include <asio/executor_work_guard.hpp>
#include <asio/post.hpp>
#include <asio/steady_timer.hpp>
#include <memory>

namespace ravelon {
namespace {

class AsioAlarm final : public Alarm {
 public:
  AsioAlarm(asio::io_context& context, EventLoop::Task on_fire)
      : timer_(context), shared_(std::make_shared<Shared>()) {
    shared_->on_fire = std::move(on_fire);
  }
  ~AsioAlarm() override { Disarm(); }

  void ArmAt(MonoTime deadline) override {
    Disarm();
    timer_.expires_at(deadline);
    // A completion may already be queued when the alarm is re-armed, disarmed
    // or destroyed; the generation tells such a stale completion to do nothing.
    timer_.async_wait([shared = shared_, generation = shared_->generation](std::error_code ec) {
      if (ec || shared->generation != generation) return;
      ++shared->generation;
      shared->on_fire();
    });
  }

  void Disarm() override {
    ++shared_->generation;
    timer_.cancel();
  }

 private:
  struct Shared {
    uint64_t generation = 0;
    EventLoop::Task on_fire;
  };
  asio::steady_timer timer_;
  std::shared_ptr<Shared> shared_;
};

}  // namespace

AsioLoop::AsioLoop(const Clock& clock) : clock_(clock) {}

void AsioLoop::Post(Task task) { asio::post(context_, std::move(task)); }

void AsioLoop::ProcessPendingEventsOnce() {
  // poll() leaves the context stopped once it runs out of work; outside Run
  // that is restarted here, inside Run a Stop request must stand.
  if (context_.stopped()) {
    if (running_) return;
    context_.restart();
  }
  context_.poll();
}

void AsioLoop::Run() {
  running_ = true;
  context_.restart();
  auto work = asio::make_work_guard(context_);
  context_.run();
  running_ = false;
}

void AsioLoop::Stop() { context_.stop(); }

std::unique_ptr<Alarm> AsioLoop::NewAlarm(Task on_fire) {
  return std::make_unique<AsioAlarm>(context_, std::move(on_fire));
}

std::unique_ptr<Timer> AsioLoop::NewTimer(Task on_tick) {
  return std::make_unique<PeriodicTimer>(
      clock_, [this](Task on_fire) { return NewAlarm(std::move(on_fire)); }, std::move(on_tick));
}

}  // namespace ravelon

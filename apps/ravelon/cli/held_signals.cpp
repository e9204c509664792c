#include "cli/held_signals.h"

#include <cerrno>
#include <chrono>
#include <ctime>

namespace ravelon::cli {

HeldSignals::HeldSignals() {
  sigemptyset(&m_signals);
  sigaddset(&m_signals, SIGINT);
  sigaddset(&m_signals, SIGTERM);
  pthread_sigmask(SIG_BLOCK, &m_signals, &m_previous);
}

HeldSignals::~HeldSignals() {
  timespec none{};
  while (sigtimedwait(&m_signals, nullptr, &none) > 0) {
  }
  pthread_sigmask(SIG_SETMASK, &m_previous, nullptr);
}

int HeldSignals::Wait(double seconds) {
  using Clock = std::chrono::steady_clock;
  const Clock::time_point end = Clock::now() + std::chrono::duration_cast<Clock::duration>(
                                                   std::chrono::duration<double>(seconds));
  for (;;) {
    const auto left = std::chrono::duration_cast<std::chrono::nanoseconds>(end - Clock::now());
    if (left.count() <= 0) return 0;
    const timespec wait{static_cast<time_t>(left.count() / 1'000'000'000),
                        static_cast<long>(left.count() % 1'000'000'000)};  // NOLINT(runtime/int)
    const int got = sigtimedwait(&m_signals, nullptr, &wait);
    if (got > 0) return got;
    if (errno != EINTR) return 0;  // EAGAIN: the time is up
  }
}

int HeldSignals::Wait() {
  int got = 0;
  while (sigwait(&m_signals, &got) != 0) {
  }
  return got;
}

}  // namespace ravelon::cli

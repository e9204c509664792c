// HeldSignals: how a long-running subcommand (`camera`, `record`, `demo`'s
// recording) learns of SIGINT and SIGTERM. It blocks both in the calling
// thread and so in every thread started afterwards (they inherit the mask);
// only Wait takes them, so no signal handler runs at an unknown point. Made
// on the main thread before any worker starts, used from that thread only.
#pragma once

#include <signal.h>

namespace ravelon::cli {

class HeldSignals {
 public:
  HeldSignals();
  // Drops a signal that came after the last Wait (it must not kill the
  // process once the mask is restored), then restores the previous mask.
  ~HeldSignals();
  HeldSignals(const HeldSignals&) = delete;
  HeldSignals& operator=(const HeldSignals&) = delete;

  // Waits up to `seconds` for SIGINT or SIGTERM: its number, or 0 when none
  // came in time.
  int Wait(double seconds);
  // Waits for SIGINT or SIGTERM, however long it takes: its number.
  int Wait();

 private:
  sigset_t m_signals;
  sigset_t m_previous;
};

}  // namespace ravelon::cli

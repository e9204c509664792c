// The levels of the engine's DebugEvent: the first argument of every log line.
#pragma once

#include <cstdint>

namespace ravelon {

enum DebugLevel : uint8_t {
  kDebugConnection = 2,     // connection progress
  kDebugLifecycle = 3,      // lifecycle and statistics
  kDebugStore = 4,          // store information
  kDebugHousekeeping = 5,   // timeouts, socket closes, buffer and file housekeeping
  kDebugSchedule = 6,       // schedule changes
  kDebugConfiguration = 9,  // configuration warning
  kDebugError = 10,         // errors
};

}  // namespace ravelon

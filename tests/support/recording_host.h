// A host for tests: records every DebugEvent and counts DataReady.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "ravelon/korvid.h"

namespace ravelon::testing {

struct LoggedEvent {
  uint8_t level;
  std::string text;
  bool operator==(const LoggedEvent&) const = default;
};

class RecordingHost final : public KorvidEvents {
 public:
  void DebugEvent(uint8_t DebugLevel, const std::string& Text) override {
    events.push_back({DebugLevel, Text});
  }
  void DataReady() override { ++data_ready; }

  std::vector<LoggedEvent> events;
  int data_ready = 0;
};

}  // namespace ravelon::testing

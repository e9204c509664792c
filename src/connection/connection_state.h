// The codes of an engine's connection state (`m_connectionState`).
//
//   Idle --connect--> Connecting --socket up--> AwaitingResponse --data--> ReadingHeader
//     ^                 |  ^                          |                        | boundary
//     |   error/timeout v  | reconnect                | single response        v
//   (release,       ReconnectWait                  PollWait <--------    ReadingParts
//    schedule)          (5 s / 50 s)               (poll interval)    (also virtual mode)
#pragma once

#include <cstdint>

namespace ravelon {

enum ConnectionState : int16_t {
  kIdle = 0,
  kConnecting = 1,
  kReconnectWait = 2,
  kAwaitingResponse = 100,
  kReadingHeader = 101,
  kReadingParts = 102,
  kPollWait = 1000,
};

}  // namespace ravelon

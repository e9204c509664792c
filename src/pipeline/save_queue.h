// SaveQueue: the frames waiting for the next save run, oldest first, and the
// count of frames lost on the way (dropped by a full queue, or taken by a save
// run whose writes failed). The queue is bounded in frames and in bytes, so
// that a stalled disk holds a bounded amount of memory whatever the frames'
// size.
//
// The frame pipeline offers frames; the store writer drains them. Owned by
// the engine; used on its thread.
#pragma once

#include <cstdint>
#include <deque>
#include <memory>
#include <utility>

#include "common/engine_limits.h"
#include "components/object_list.h"
#include "ravelon/media_frame.h"

namespace ravelon {

class SaveQueue {
 public:
  // Appends `frame`. A full queue (kSaveQueueCapacity frames, or the byte
  // limit) keeps the more valuable of its newest frame and the new one. An
  // event list wins over any other type, text over any type but an event
  // list; of two frames of the same other type the new one wins, and two
  // texts are joined so no text is lost, as long as the winner fits in the
  // byte limit and a joined text in kMaxTextJoinBytes; otherwise the newest
  // frame stays. An empty queue takes any
  // frame, so no bound stops saving altogether. `arrival` is the moment the
  // frame came (date and time of day; zero when unknown): a frame left
  // without a stamp of its own is saved at that moment.
  void Offer(const std::shared_ptr<MediaFrame>& frame, std::pair<double, double> arrival = {});

  // The most bytes of frame data the queue holds (kDefaultSaveQueueMegabytes
  // unless set).
  void SetByteLimit(int64_t bytes) { m_byteLimit = bytes; }
  int64_t Bytes() const { return m_bytes; }

  int32_t Count() const { return m_frames.Count(); }
  bool IsEmpty() const { return m_frames.IsEmpty(); }
  std::shared_ptr<MediaFrame> Front() const { return m_frames.Front(); }
  // The moment the front frame came, as offered.
  std::pair<double, double> FrontArrival() const {
    return m_entries.empty() ? std::pair<double, double>{} : m_entries.front().arrival;
  }
  void RemoveFront();
  void Clear();

  void CountLost(int32_t frames) { m_framesLost += frames; }
  int32_t FramesLost() const { return m_framesLost; }
  void ResetLost() { m_framesLost = 0; }
  // Empty, with nothing counted lost: a new connection or session.
  void Reset() {
    Clear();
    ResetLost();
  }

 private:
  // What the queue keeps of each frame as it was queued (a queued frame may
  // still change, so its size is taken once, and the count of bytes stays
  // exact).
  struct Entry {
    int64_t bytes;
    std::pair<double, double> arrival;
  };
  void Append(std::shared_ptr<MediaFrame> frame, Entry entry);

  ObjectList<MediaFrame> m_frames;
  std::deque<Entry> m_entries;
  int64_t m_bytes = 0;
  int64_t m_byteLimit = kDefaultSaveQueueMegabytes * kMegabyte;
  int32_t m_framesLost = 0;
};

}  // namespace ravelon

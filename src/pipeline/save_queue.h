// SaveQueue: the frames waiting for the next save run, oldest first, and the
// count of frames lost on the way (dropped by a full queue, or taken by a save
// run whose writes failed).
//
// The frame pipeline offers frames; the store writer drains them. Owned by
// the engine; used on its thread.
#pragma once

#include <cstdint>
#include <memory>

#include "components/object_list.h"
#include "ravelon/media_frame.h"

namespace ravelon {

class SaveQueue {
 public:
  // Appends `frame`. A full queue (kSaveQueueCapacity) never refuses: it
  // keeps the more valuable of its newest frame and the new one. An event
  // list wins over any other type, text over any type but an event list; of
  // two frames of the same other type the new one wins, and two texts are
  // joined so no text is lost.
  void Offer(const std::shared_ptr<MediaFrame>& frame);

  int32_t Count() const { return m_frames.Count(); }
  bool IsEmpty() const { return m_frames.IsEmpty(); }
  std::shared_ptr<MediaFrame> Front() const { return m_frames.Front(); }
  void RemoveFront() { m_frames.RemoveFront(); }
  void Clear() { m_frames.Clear(); }

  void CountLost(int32_t frames) { m_framesLost += frames; }
  int32_t FramesLost() const { return m_framesLost; }
  void ResetLost() { m_framesLost = 0; }
  // Empty, with nothing counted lost: a new connection or session.
  void Reset() {
    Clear();
    ResetLost();
  }

 private:
  ObjectList<MediaFrame> m_frames;
  int32_t m_framesLost = 0;
};

}  // namespace ravelon

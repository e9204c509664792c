// The current frame and the save queue: finishing a frame and offering it to
// the queue, and what a full queue keeps.
#include "components/media_frame.h"
#include "components/object_list.h"
#include "ravelon/korvid.h"

namespace ravelon {
namespace {

constexpr int32_t kSaveQueueCapacity = 300;
// Marks a filter may set on a frame; a frame with mark 1 but not mark 2 is
// not to be stored.
constexpr int32_t kMarkNoStore = 1;
constexpr int32_t kMarkStoreAnyway = 2;

}  // namespace

void Korvid::FinishCurrentFrame() {
  if (!m_currentFrame || m_currentFrame->hasFlag(kQueued)) return;
  m_currentFrame->addFlags(kComplete);
  QueueFrameForSaving(m_currentFrame);
}

void Korvid::QueueFrameForSaving(const std::shared_ptr<MediaFrame>& frame) {
  if (!m_doSave || m_scheduleAction == kScheduleNoStoring ||
      m_scheduleAction == kScheduleDisconnected) {
    return;
  }
  if (frame->hasMark(kMarkNoStore) && !frame->hasMark(kMarkStoreAnyway)) return;
  if (m_saveQueue->Count() < kSaveQueueCapacity) {
    m_saveQueue->Append(frame);
  } else {
    // A full queue never refuses: it keeps the more valuable of its newest
    // frame and the new one.
    std::shared_ptr<MediaFrame> taken = m_saveQueue->TakeLast();
    m_saveQueue->Append(ChooseQueuedFrame(taken, frame));
  }
  frame->addFlags(kQueued);
}

// An event list wins over any other type, text over any type but an event
// list; of two frames of the same other type the new one wins, and two text
// frames are joined so no text is lost.
std::shared_ptr<MediaFrame> Korvid::ChooseQueuedFrame(const std::shared_ptr<MediaFrame>& taken,
                                                      const std::shared_ptr<MediaFrame>& newFrame) {
  const uint8_t old_type = taken->getDataType();
  const uint8_t new_type = newFrame->getDataType();
  if (old_type == kEventList && new_type != kEventList) return taken;
  if (new_type == kEventList && old_type != kEventList) return newFrame;
  if (old_type == kText && new_type == kText) {
    auto joined = std::make_shared<MediaFrame>();
    joined->cloneFrom(*taken);
    joined->getDataBlock().AppendText(newFrame->getDataBlock().Text());
    joined->setFrameId(newFrame->getFrameId());
    return joined;
  }
  if (old_type == kText) return taken;
  return newFrame;
}

}  // namespace ravelon

// The current frame and the save queue: finishing a frame and offering it to
// the queue, and what a full queue keeps.
#include "common/number_encoding.h"
#include "components/object_list.h"
#include "ravelon/korvid.h"
#include "ravelon/media_frame.h"

namespace ravelon {
namespace {

constexpr int32_t kSaveQueueCapacity = 300;
// Marks a filter may set on a frame; a frame with mark 1 but not mark 2 is
// not to be stored.
constexpr int32_t kMarkNoStore = 1;
constexpr int32_t kMarkStoreAnyway = 2;

// An event list record: the length of the event form that follows, then the
// event's date, time and text.
constexpr int32_t kEventHeaderBytes = 16;

}  // namespace

// An open frame (printer text without its cut yet) is appended to the current
// frame while that is still open, so one receipt becomes one event list. An
// event is turned into a one-event list either way. True when the frame was
// absorbed and is not to become a frame of its own.
bool Korvid::MergeIntoCurrentFrame(std::shared_ptr<MediaFrame>& frame,
                                   const std::shared_ptr<MediaFrame>& current) {
  if (!frame || !frame->hasFlag(kOpen)) return false;
  if (frame->getDataType() == kEvent) {
    std::string text;
    if (!frame->getDataChunk().ToText(text)) {
      frame = nullptr;
      return false;
    }
    const bool has_text = !text.empty();
    std::string record = LongToBytes(static_cast<int32_t>(text.size()) + kEventHeaderBytes);
    record += DoubleToBytes(frame->getDate());
    record += DoubleToBytes(frame->getTime());
    record += text;
    frame->SetData(kEventList, std::move(record));
    if (!current || current->hasFlag(kComplete)) return false;
    if (has_text) current->getDataBlock().AppendText(frame->getDataBlock().Text());
  } else if (!current) {
    return false;
  }
  // The merged frame's number and flags pass on: a cut in the new event
  // completes the list it joined. The list keeps the stamp of its first event.
  current->setFrameId(frame->getFrameId());
  current->addFlags(frame->getFlags());
  return true;
}

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
    std::shared_ptr<MediaFrame> kept = ChooseQueuedFrame(taken, frame);
    if (kept == taken || kept == frame) ++m_framesLost;  // two texts joined lose nothing
    m_saveQueue->Append(std::move(kept));
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

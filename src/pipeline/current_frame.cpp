// The current frame: merging event text into the open event list,
// finishing a frame and offering it to the save queue.
#include "common/date_time.h"
#include "common/engine_limits.h"
#include "common/number_encoding.h"
#include "pipeline/frame_pipeline.h"

namespace ravelon {
namespace {

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
// event is turned into a one-event list either way. kMerged when the frame was
// absorbed and is not to become a frame of its own; kListFull when the open
// list cannot take it within kMaxEventListBytes.
FramePipeline::Merge FramePipeline::MergeIntoCurrentFrame(std::shared_ptr<MediaFrame>& frame) {
  const std::shared_ptr<MediaFrame>& current = m_currentFrame;
  if (!frame || !frame->hasFlag(kOpen)) return kNotMerged;
  if (frame->getDataType() == kEvent) {
    std::string text;
    if (!frame->getDataChunk().ToText(text)) {
      frame = nullptr;
      return kNotMerged;
    }
    const bool has_text = !text.empty();
    std::string record = LongToBytes(static_cast<int32_t>(text.size()) + kEventHeaderBytes);
    record += DoubleToBytes(frame->getDate());
    record += DoubleToBytes(frame->getTime());
    record += text;
    frame->SetData(kEventList, std::move(record));
    if (!current || current->hasFlag(kComplete)) return kNotMerged;
    if (has_text) {
      if (int64_t{current->getDataLength()} + frame->getDataLength() > kMaxEventListBytes) {
        return kListFull;
      }
      current->getDataBlock().AppendText(frame->getDataBlock().View());
    }
  } else if (!current) {
    return kNotMerged;
  }
  // The merged frame's number and flags pass on: a cut in the new event
  // completes the list it joined. The list keeps the stamp of its first event.
  current->setFrameId(frame->getFrameId());
  current->addFlags(frame->getFlags());
  return kMerged;
}

void FramePipeline::FinishCurrentFrame() {
  if (!m_currentFrame || m_currentFrame->hasFlag(kQueued)) return;
  m_currentFrame->addFlags(kComplete);
  OfferToQueue(m_currentFrame);
}

void FramePipeline::OfferToQueue(const std::shared_ptr<MediaFrame>& frame) {
  if (!m_owner.SavingAllowed()) return;
  if (frame->hasMark(kMarkNoStore) && !frame->hasMark(kMarkStoreAnyway)) return;
  double date = 0, time = 0;
  GetNowDateTime(m_clock, date, time);
  m_saveQueue.Offer(frame, {date, time});
  frame->addFlags(kQueued);
}

}  // namespace ravelon

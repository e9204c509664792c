#include "pipeline/save_queue.h"

#include "common/engine_limits.h"

namespace ravelon {
namespace {

std::shared_ptr<MediaFrame> ChooseQueuedFrame(const std::shared_ptr<MediaFrame>& taken,
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

}  // namespace

void SaveQueue::Offer(const std::shared_ptr<MediaFrame>& frame) {
  if (m_frames.Count() < kSaveQueueCapacity) {
    m_frames.Append(frame);
    return;
  }
  std::shared_ptr<MediaFrame> taken = m_frames.TakeLast();
  std::shared_ptr<MediaFrame> kept = ChooseQueuedFrame(taken, frame);
  if (kept == taken || kept == frame) ++m_framesLost;  // two texts joined lose nothing
  m_frames.Append(std::move(kept));
}

}  // namespace ravelon

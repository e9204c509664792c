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
  const int64_t bytes = frame->getDataLength();
  if (m_frames.IsEmpty() ||
      (m_frames.Count() < kSaveQueueCapacity && m_bytes + bytes <= m_byteLimit)) {
    Append(frame, bytes);
    return;
  }
  std::shared_ptr<MediaFrame> taken = m_frames.TakeLast();
  const int64_t taken_bytes = m_sizes.back();
  m_sizes.pop_back();
  m_bytes -= taken_bytes;
  std::shared_ptr<MediaFrame> kept = ChooseQueuedFrame(taken, frame);
  const int64_t kept_bytes = kept == taken ? taken_bytes : kept->getDataLength();
  if (kept != taken && m_bytes + kept_bytes > m_byteLimit && !m_frames.IsEmpty()) {
    kept = taken;  // the winner does not fit: the newest frame stays
  }
  if (kept == taken || kept == frame) ++m_framesLost;  // two texts joined lose nothing
  Append(std::move(kept), kept == taken ? taken_bytes : kept_bytes);
}

void SaveQueue::Append(std::shared_ptr<MediaFrame> frame, int64_t bytes) {
  m_frames.Append(std::move(frame));
  m_sizes.push_back(bytes);
  m_bytes += bytes;
}

void SaveQueue::RemoveFront() {
  if (m_frames.IsEmpty()) return;
  m_frames.RemoveFront();
  m_bytes -= m_sizes.front();
  m_sizes.pop_front();
}

void SaveQueue::Clear() {
  m_frames.Clear();
  m_sizes.clear();
  m_bytes = 0;
}

}  // namespace ravelon

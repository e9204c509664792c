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

void SaveQueue::Offer(const std::shared_ptr<MediaFrame>& frame, std::pair<double, double> arrival) {
  const Entry entry{frame->getDataLength(), arrival};
  if (m_frames.IsEmpty() ||
      (m_frames.Count() < kSaveQueueCapacity && m_bytes + entry.bytes <= m_byteLimit)) {
    Append(frame, entry);
    return;
  }
  std::shared_ptr<MediaFrame> taken = m_frames.TakeLast();
  const Entry taken_entry = m_entries.back();
  m_entries.pop_back();
  m_bytes -= taken_entry.bytes;
  std::shared_ptr<MediaFrame> kept = ChooseQueuedFrame(taken, frame);
  Entry kept_entry = kept == taken ? taken_entry : Entry{kept->getDataLength(), arrival};
  if (kept != taken && m_bytes + kept_entry.bytes > m_byteLimit && !m_frames.IsEmpty()) {
    kept = taken;  // the winner does not fit: the newest frame stays
    kept_entry = taken_entry;
  }
  if (kept == taken || kept == frame) ++m_framesLost;  // two texts joined lose nothing
  Append(std::move(kept), kept_entry);
}

void SaveQueue::Append(std::shared_ptr<MediaFrame> frame, Entry entry) {
  m_frames.Append(std::move(frame));
  m_bytes += entry.bytes;
  m_entries.push_back(entry);
}

void SaveQueue::RemoveFront() {
  if (m_frames.IsEmpty()) return;
  m_frames.RemoveFront();
  m_bytes -= m_entries.front().bytes;
  m_entries.pop_front();
}

void SaveQueue::Clear() {
  m_frames.Clear();
  m_entries.clear();
  m_bytes = 0;
}

}  // namespace ravelon

#include "pipeline/save_queue.h"

#include <cstdint>

#include "common/engine_limits.h"

namespace ravelon {
namespace {

enum class Choice { kTaken, kNew, kJoined };

// Which of the frame taken from a full queue and the new one goes back in:
// an event list wins over any other type, text over any type but an event
// list, of two frames of the same other type the new one; two texts are joined.
Choice ChooseQueuedFrame(const MediaFrame& taken, const MediaFrame& newFrame) {
  const uint8_t old_type = taken.getDataType();
  const uint8_t new_type = newFrame.getDataType();
  if (old_type == kEventList && new_type != kEventList) return Choice::kTaken;
  if (new_type == kEventList && old_type != kEventList) return Choice::kNew;
  if (old_type == kText && new_type == kText) return Choice::kJoined;
  if (old_type == kText) return Choice::kTaken;
  return Choice::kNew;
}

// The taken text with the new one appended, under the new one's number. The
// taken frame is copied once, while another holder (the current frame) may
// still see it; a copy the queue alone holds grows in place, so a run of
// joins costs what the texts weigh, not its square.
std::shared_ptr<MediaFrame> JoinTexts(std::shared_ptr<MediaFrame> taken,
                                      const MediaFrame& newFrame) {
  if (taken.use_count() > 1) {
    auto copy = std::make_shared<MediaFrame>();
    copy->cloneFrom(*taken);
    taken = std::move(copy);
  }
  taken->getDataBlock().AppendText(newFrame.getDataBlock().View());
  taken->setFrameId(newFrame.getFrameId());
  return taken;
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

  // The winner must fit in the byte limit (any frame fits an empty queue),
  // and a joined text in its own limit, or the newest frame stays.
  const int64_t room = m_frames.IsEmpty() ? INT64_MAX : m_byteLimit - m_bytes;
  Choice choice = ChooseQueuedFrame(*taken, *frame);
  const int64_t joined_bytes = int64_t{taken->getDataLength()} + entry.bytes;
  if ((choice == Choice::kJoined && (joined_bytes > room || joined_bytes > kMaxTextJoinBytes)) ||
      (choice == Choice::kNew && entry.bytes > room)) {
    choice = Choice::kTaken;
  }
  switch (choice) {
    case Choice::kTaken:
      ++m_framesLost;
      Append(std::move(taken), taken_entry);
      break;
    case Choice::kNew:
      ++m_framesLost;
      Append(frame, entry);
      break;
    case Choice::kJoined:  // two texts joined lose nothing
      Append(JoinTexts(std::move(taken), *frame), Entry{joined_bytes, arrival});
      break;
  }
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

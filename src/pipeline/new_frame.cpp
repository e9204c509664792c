// What happens to every new frame, whatever brought it (a stream part, a
// single response, event text from another process): it is numbered, given a
// strictly increasing stamp, classified, filtered, merged into or made the
// current frame, and queued for saving when complete.
#include <string_view>

#include "common/date_time.h"
#include "parsing/frequency_calculator.h"
#include "ravelon/date_time_stamp.h"
#include "ravelon/frame_filter_chain.h"
#include "ravelon/korvid.h"
#include "ravelon/media_frame.h"

namespace ravelon {
namespace {

constexpr int32_t kMaxFrameNumber = 999'999'999;
constexpr double kStampStepSeconds = 0.002;
constexpr double kSecondsPerDay = 86'400;

// The paper-cut commands of ESC/POS receipt printers: a cut ends the receipt.
constexpr std::string_view kCutEscI = "\x1b\x69";
constexpr std::string_view kCutGsV = "\x1d\x56";

}  // namespace

// A part that maps to no frame arrives here as nullptr: there is nothing to
// number or publish, and the stream goes on with the next part. Without a
// filter chain, frames go on unfiltered.
bool Korvid::HandleNewFrame(std::shared_ptr<MediaFrame>& frame) {
  if (!frame) return true;

  if (m_frameCounter < 0) m_frameCounter = 0;
  PacketRate().Tick();
  if (++m_frameCounter > kMaxFrameNumber) m_frameCounter = 1;
  frame->setFrameId(m_frameCounter);

  double date = 0, time = 0;
  GetNowDateTime(m_platform->GetClock(), date, time);
  time = TruncateToMilliseconds(time);
  AdvanceStamp(date, time, m_lastStamp->GetDate(), m_lastStamp->GetTime());
  frame->setDate(date);
  frame->setTime(time);
  m_lastStamp->CopyFrom(frame->getStamp());

  switch (frame->getDataType()) {
    case kEventList:
      if (!correctEventList(frame)) {
        frame->setDataType(kRejected);
        frame->getDataBlock().Clear();
        m_currentFrame = frame;  // the previous one is dropped unfinished
        return false;
      }
      frame->setFixedStamp(true);
      frame->addFlags(kComplete);
      break;
    case kEvent: {
      std::string text;
      if (!frame->getDataChunk().ToText(text)) return false;
      frame->addFlags(kOpen);
      if (text.find(kCutEscI) != std::string::npos || text.find(kCutGsV) != std::string::npos) {
        frame->addFlags(kComplete);
      }
      frame->setFixedStamp(true);
      break;
    }
    default:
      frame->addFlags(kComplete);
      break;
  }

  if (m_filterChain) {
    if (std::shared_ptr<FilterResult> result = m_filterChain->process(frame)) {
      if (const int32_t code = result->getErrorCode(); code != 0) {
        RaiseDebugEvent(kDebugError, "Filter chain returned an error: " + std::to_string(code));
      } else if (std::shared_ptr<MediaFrame> output = result->getOutputFrame()) {
        frame = output;
      }
    }
  }

  if (!MergeIntoCurrentFrame(frame, m_currentFrame)) {
    FinishCurrentFrame();
    m_currentFrame = frame;
  }
  if (m_currentFrame && m_currentFrame->hasFlag(kComplete)) QueueFrameForSaving(m_currentFrame);
  return true;
}

// Keeps stamps strictly increasing: a stamp not later than the last one
// becomes the last one plus 2 ms (two frames in one millisecond, or a clock
// that was set back).
void Korvid::AdvanceStamp(double& date, double& time, double lastDate, double lastTime) {
  if (CompareStamps(date, time, lastDate, lastTime) == kStampLater) return;
  date = lastDate;
  time = lastTime + kStampStepSeconds;
  if (time >= kSecondsPerDay) {
    time -= kSecondsPerDay;
    date += 1;
  }
}

}  // namespace ravelon

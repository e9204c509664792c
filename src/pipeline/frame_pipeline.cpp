#include "pipeline/frame_pipeline.h"

#include <string_view>

#include "common/date_time.h"
#include "common/engine_limits.h"
#include "ravelon/debug_levels.h"
#include "schedule/rate_statistics.h"

namespace ravelon {
namespace {

// The paper-cut commands of ESC/POS receipt printers: a cut ends the receipt.
constexpr std::string_view kCutEscI = "\x1b\x69";
constexpr std::string_view kCutGsV = "\x1d\x56";

}  // namespace

FramePipeline::FramePipeline(const Clock& clock, SaveQueue& queue, RateStatistics& rates,
                             FramePipelineOwner& owner)
    : m_clock(clock), m_saveQueue(queue), m_rates(rates), m_owner(owner) {}

FramePipeline::~FramePipeline() {
  if (m_filterChain) m_filterChain->release();
}

bool FramePipeline::HandleNewFrame(std::shared_ptr<MediaFrame>& frame) {
  if (!frame) return true;

  if (m_frameCounter < 0) m_frameCounter = 0;
  m_rates.PacketArrived();
  if (++m_frameCounter > kMaxFrameNumber) m_frameCounter = 1;
  frame->setFrameId(m_frameCounter);

  double date = 0, time = 0;
  GetNowDateTime(m_clock, date, time);
  time = TruncateToMilliseconds(time);
  AdvanceStamp(date, time, m_lastStamp.GetDate(), m_lastStamp.GetTime());
  frame->setDate(date);
  frame->setTime(time);
  m_lastStamp.CopyFrom(frame->getStamp());

  switch (frame->getDataType()) {
    case kEventList:
      if (!CorrectEventList(frame)) {
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
        m_owner.Debug(kDebugError, "Filter chain returned an error: " + std::to_string(code));
      } else if (std::shared_ptr<MediaFrame> output = result->getOutputFrame()) {
        frame = output;
      }
    }
  }

  const Merge merge = MergeIntoCurrentFrame(frame);
  if (merge != kMerged) {
    FinishCurrentFrame();
    m_currentFrame = frame;
  }
  if (m_currentFrame && m_currentFrame->hasFlag(kComplete)) OfferToQueue(m_currentFrame);
  if (merge == kListFull) {
    // A feed that never cuts its receipts: what came is saved, and the
    // source is taken as broken.
    m_owner.Debug(kDebugError, "Event list over " + std::to_string(kMaxEventListBytes) +
                                   " bytes. It is closed; the next event begins a new one.");
    return false;
  }
  return true;
}

void FramePipeline::HandleEventText(std::string text) {
  auto frame = std::make_shared<MediaFrame>();
  frame->SetData(kEvent, std::move(text));
  frame->getStamp().SetToNow(m_clock);
  // An arrival in another period than the current frame completes whatever
  // list it ends up in, so one open receipt cannot swallow the next hour's.
  if (m_currentFrame &&
      m_currentFrame->getStamp().GetPeriodKey() != frame->getStamp().GetPeriodKey()) {
    frame->addFlags(kComplete);
  }
  HandleNewFrame(frame);  // a failure here never reconnects anything
}

void FramePipeline::AdvanceStamp(double& date, double& time, double lastDate, double lastTime) {
  if (CompareStamps(date, time, lastDate, lastTime) == kStampLater) return;
  date = lastDate;
  time = lastTime + kStampStepSeconds;
  if (time >= kSecondsPerDay) {
    time -= kSecondsPerDay;
    date += 1;
  }
}

void FramePipeline::StartConnection() {
  // An empty placeholder, already "queued" so it is never saved. The counters
  // differ, so the next tick announces it.
  auto placeholder = std::make_shared<MediaFrame>();
  placeholder->SetData(kPlaceholder, std::string());
  placeholder->setFrameId(kPlaceholderFrameId);
  placeholder->addFlags(kQueued);
  m_currentFrame = placeholder;
  m_frameCounter = kPlaceholderFrameId;
  m_reportedFrame = -1;
  ResetFilterChain();
  m_saveQueue.Reset();
}

void FramePipeline::Prepare() {
  m_frameCounter = -1;
  m_reportedFrame = 0;
  m_currentFrame = nullptr;
}

void FramePipeline::ResetFilterChain() {
  if (m_filterChain) m_filterChain->reset();
}

bool FramePipeline::TakeNewFrameNotice() {
  if (m_frameCounter == m_reportedFrame) return false;
  m_reportedFrame = m_frameCounter;
  return true;
}

}  // namespace ravelon

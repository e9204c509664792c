// FramePipeline: what happens to every new frame, whatever brought it (a
// stream part, a single response, event text from another process). It is
// numbered, given a strictly increasing stamp, classified, passed through the
// host's filter chain, merged into or made the current frame, and offered to
// the save queue when complete. The host reads the current frame from here.
//
// Owned by the engine; every call on the engine's thread. The filter chain is
// the host's; the pipeline releases it once, when it is destroyed.
#pragma once

#include <cstdint>
#include <memory>
#include <string>

#include "pipeline/save_queue.h"
#include "ravelon/clock.h"
#include "ravelon/date_time_stamp.h"
#include "ravelon/frame_filter_chain.h"
#include "ravelon/media_frame.h"

namespace ravelon {

class RateStatistics;

class FramePipelineOwner {
 public:
  virtual ~FramePipelineOwner() = default;
  // Whether complete frames go to the save queue now (saving on, and the
  // schedule lets frames be stored).
  virtual bool SavingAllowed() const = 0;
  virtual void Debug(uint8_t level, const std::string& text) = 0;
};

class FramePipeline {
 public:
  FramePipeline(const Clock& clock, SaveQueue& queue, RateStatistics& rates,
                FramePipelineOwner& owner);
  ~FramePipeline();
  FramePipeline(const FramePipeline&) = delete;
  FramePipeline& operator=(const FramePipeline&) = delete;

  // Handles one new frame. nullptr (a part that carries no frame) is
  // accepted and changes nothing. False when the frame cannot be handled (an
  // event list that does not parse, event text that is not text) or an open
  // event list would grow past kMaxEventListBytes (that list is then closed
  // and queued, and the new event begins the next one): the stream it came
  // from is then taken as broken.
  bool HandleNewFrame(std::shared_ptr<MediaFrame>& frame);

  // Event text from another process: an event frame stamped now. An arrival
  // in another hour than the current frame completes the list it joins.
  void HandleEventText(std::string text);

  // Moves an event list's stamps onto this clock: the list is shifted as a
  // whole so that its last event falls on now. False for anything but a
  // parsable, non-empty event list.
  bool CorrectEventList(std::shared_ptr<MediaFrame>& frame) const;

  // Completes the current frame and offers it to the save queue (once).
  void FinishCurrentFrame();

  // A connection begins: an empty placeholder becomes the current frame
  // (announced at the next tick; the next real frame is number 1), the
  // filter chain starts afresh and the queue and loss count are emptied.
  void StartConnection();
  // The engine is prepared: no frame yet, and none announced.
  void Prepare();
  void DropCurrentFrame() { m_currentFrame = nullptr; }
  // Forgets what earlier frames taught the host's filters.
  void ResetFilterChain();
  void SetFilterChain(const std::shared_ptr<FrameFilterChain>& chain) { m_filterChain = chain; }

  // True, once, when frames arrived since the last call that answered true.
  bool TakeNewFrameNotice();
  // The number of the newest frame; negative before the first frame since
  // the engine was prepared or a connection began.
  int32_t FrameCounter() const { return m_frameCounter; }
  const std::shared_ptr<MediaFrame>& CurrentFrame() const { return m_currentFrame; }

  // Keeps stamps strictly increasing: a stamp not later than the last one
  // becomes the last one plus kStampStepSeconds.
  static void AdvanceStamp(double& date, double& time, double lastDate, double lastTime);

 private:
  enum Merge { kNotMerged, kMerged, kListFull };
  Merge MergeIntoCurrentFrame(std::shared_ptr<MediaFrame>& frame);
  void OfferToQueue(const std::shared_ptr<MediaFrame>& frame);

  const Clock& m_clock;
  SaveQueue& m_saveQueue;
  RateStatistics& m_rates;
  FramePipelineOwner& m_owner;
  std::shared_ptr<FrameFilterChain> m_filterChain;
  std::shared_ptr<MediaFrame> m_currentFrame;
  DateTimeStamp m_lastStamp;
  int32_t m_frameCounter = 0;
  int32_t m_reportedFrame = 0;
};

}  // namespace ravelon

// FrameTap: the filter chain `ravelon record` gives each engine. It changes
// no frame; it counts the frames and bytes the engine takes in and, when the
// web view is on, hands every JPEG frame to the source's LiveFrames.
//
// Owned by a SourceRunner (shared with its engine); called on the engine's
// thread only.
#pragma once

#include <cstdint>
#include <memory>

#include "ravelon/frame_filter_chain.h"
#include "web/live_frames.h"

namespace ravelon::cli {

class FrameTap final : public FrameFilterChain {
 public:
  // `live` may be null: nothing is published.
  explicit FrameTap(std::shared_ptr<LiveFrames> live) : live_(std::move(live)) {}

  std::shared_ptr<FilterResult> process(std::shared_ptr<MediaFrame>& frame) override;
  void release() override {}
  void reset() override {}

  int64_t Frames() const { return frames_; }
  int64_t Bytes() const { return bytes_; }

 private:
  const std::shared_ptr<LiveFrames> live_;
  int64_t frames_ = 0;
  int64_t bytes_ = 0;
};

}  // namespace ravelon::cli

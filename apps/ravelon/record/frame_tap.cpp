#include "record/frame_tap.h"

namespace ravelon::cli {

std::shared_ptr<FilterResult> FrameTap::process(std::shared_ptr<MediaFrame>& frame) {
  ++frames_;
  if (frame) {
    bytes_ += frame->getDataLength();
    if (live_ && frame->getDataType() == kJpeg) {
      const auto now = LiveFrames::Clock::now();
      if (live_->Due(now)) live_->Publish(frame->getDataBlock().View(), now);
    }
  }
  return std::make_shared<SimpleFilterResult>(0, frame);
}

}  // namespace ravelon::cli

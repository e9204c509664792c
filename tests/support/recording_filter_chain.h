// A filter chain for tests: counts its resets, and can run a hook inside process (to let the loop
// run there, or to change the frame) and answer with an error code.
#pragma once

#include <functional>
#include <memory>

#include "ravelon/frame_filter_chain.h"
#include "ravelon/media_frame.h"

namespace ravelon::testing {

class RecordingFilterChain final : public FrameFilterChain {
 public:
  void release() override {}
  void reset() override { ++resets; }
  std::shared_ptr<FilterResult> process(std::shared_ptr<MediaFrame>& frame) override {
    if (on_process) on_process(*frame);
    return result_code == 0 ? nullptr : std::make_shared<SimpleFilterResult>(result_code, nullptr);
  }

  std::function<void(MediaFrame&)> on_process;
  int32_t result_code = 0;
  int resets = 0;
};

}  // namespace ravelon::testing

// A filter chain for tests: records every frame it is given, and can run a hook inside process (to
// let the loop run there, or to fail).
#pragma once

#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "ravelon/frame_filter_chain.h"
#include "ravelon/media_frame.h"

namespace ravelon::testing {

class RecordingFilterChain final : public FrameFilterChain {
 public:
  struct Seen {
    uint8_t type;
    int32_t id;
    std::string data;
  };

  void release() override {}
  void reset() override { ++resets; }
  std::shared_ptr<FilterResult> process(std::shared_ptr<MediaFrame>& frame) override {
    seen.push_back({frame->getDataType(), frame->getFrameId(), frame->getDataBlock().Text()});
    if (on_process) on_process(*frame);
    return result_code == 0 ? nullptr : std::make_shared<SimpleFilterResult>(result_code, nullptr);
  }

  std::vector<Seen> seen;
  std::function<void(MediaFrame&)> on_process;
  int32_t result_code = 0;
  int resets = 0;
};

}  // namespace ravelon::testing

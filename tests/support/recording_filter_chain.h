// A filter chain for tests: records a copy of every frame it is given, and
// can run a hook inside process (to let the loop run there, or to fail).
#pragma once

#include <functional>
#include <memory>
#include <vector>

#include "ravelon/frame_filter_chain.h"
#include "ravelon/media_frame.h"

namespace ravelon::testing {

struct SeenFrame {
  uint8_t type;
  int32_t id;
  std::string data;
  double date;
  double time;
};

class RecordingFilterChain final : public FrameFilterChain {
 public:
  void release() override { ++releases; }
  void reset() override { ++resets; }
  std::shared_ptr<FilterResult> process(std::shared_ptr<MediaFrame>& frame) override {
    seen.push_back({frame->getDataType(), frame->getFrameId(), frame->getDataBlock().Text(),
                    frame->getDate(), frame->getTime()});
    if (on_process) on_process(*frame);
    return result_code == 0 ? nullptr : std::make_shared<SimpleFilterResult>(result_code, nullptr);
  }

  std::vector<std::string> Bodies() const {
    std::vector<std::string> bodies;
    for (const auto& f : seen) bodies.push_back(f.data);
    return bodies;
  }

  std::vector<SeenFrame> seen;
  std::function<void(MediaFrame&)> on_process;
  int32_t result_code = 0;
  int releases = 0;
  int resets = 0;
};

}  // namespace ravelon::testing

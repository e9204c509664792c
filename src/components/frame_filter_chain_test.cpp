#include "components/frame_filter_chain.h"

#include <gtest/gtest.h>

#include <memory>

namespace ravelon {
namespace {

TEST(PassThroughFilterChainTest, ReturnsSameFrameUntouchedAndCountsCalls) {
  PassThroughFilterChain chain;
  FrameFilterChain& as_chain = chain;
  auto frame = std::make_shared<MediaFrame>();
  frame->SetData(kJpeg, "jpeg");
  std::shared_ptr<MediaFrame> handed = frame;
  std::shared_ptr<FilterResult> result = as_chain.process(handed);
  ASSERT_NE(result, nullptr);
  EXPECT_EQ(result->getErrorCode(), 0);
  EXPECT_EQ(result->getOutputFrame(), frame);
  EXPECT_EQ(handed, frame);
  EXPECT_EQ(frame->getDataBlock().Text(), "jpeg");

  as_chain.reset();
  as_chain.release();
  EXPECT_EQ(chain.ProcessCount(), 1);
  EXPECT_EQ(chain.ResetCount(), 1);
  EXPECT_EQ(chain.ReleaseCount(), 1);
}

}  // namespace
}  // namespace ravelon

// The camera's frames are JPEGs of the asked size whose bytes change with
// every frame, at the smallest, odd and largest sizes.
#include "camera/frame_maker.h"

#include <gtest/gtest.h>

#include <string>

#include "camera/local_stamp.h"
#include "camera/part_writer.h"
#include "store/jpeg_codec.h"

namespace ravelon::cli {
namespace {

TEST(FrameMakerTest, MakesJpegsOfTheSizeThatChangeEveryFrame) {
  const std::pair<int, int> sizes[] = {{16, 16}, {17, 31}, {640, 480}, {4096, 24}, {24, 4096}};
  JpegCodec codec;
  for (const auto& [width, height] : sizes) {
    SCOPED_TRACE(std::to_string(width) + "x" + std::to_string(height));
    FrameMaker maker(width, height);
    std::string previous;
    for (uint64_t number : {1u, 2u, 3u, 1'000'000u}) {
      const std::string jpeg(maker.Make(number, FrameLabel(number, LocalStamp{})));
      EXPECT_TRUE(jpeg.starts_with("\xFF\xD8") && jpeg.ends_with("\xFF\xD9"));
      int w = 0, h = 0;
      std::string error;
      ASSERT_TRUE(codec.ReadSize(jpeg, w, h, error)) << error;
      EXPECT_EQ(std::make_pair(w, h), std::make_pair(width, height));
      EXPECT_NE(jpeg, previous) << "frame " << number;
      previous = jpeg;
    }
  }
}

}  // namespace
}  // namespace ravelon::cli

// The camera's frames are JPEGs of the asked size whose bytes change with
// every frame, at the smallest, odd and largest sizes.
#include "camera/frame_maker.h"

#include <gtest/gtest.h>
#include <turbojpeg.h>

#include <string>

#include "camera/local_stamp.h"
#include "camera/part_writer.h"

namespace ravelon::cli {
namespace {

TEST(FrameMakerTest, MakesJpegsOfTheSizeThatChangeEveryFrame) {
  const std::pair<int, int> sizes[] = {{16, 16}, {17, 31}, {640, 480}, {4096, 24}, {24, 4096}};
  tjhandle decoder = tjInitDecompress();
  ASSERT_NE(decoder, nullptr);
  for (const auto& [width, height] : sizes) {
    SCOPED_TRACE(std::to_string(width) + "x" + std::to_string(height));
    FrameMaker maker(width, height);
    std::string previous;
    for (uint64_t number : {1u, 2u, 3u, 1'000'000u}) {
      const std::string jpeg(maker.Make(number, FrameLabel(number, LocalStamp{})));
      ASSERT_GT(jpeg.size(), 4u);
      EXPECT_EQ(jpeg.substr(0, 2), "\xFF\xD8");
      EXPECT_EQ(jpeg.substr(jpeg.size() - 2), "\xFF\xD9");
      int w = 0, h = 0, subsampling = 0, colourspace = 0;
      ASSERT_EQ(tjDecompressHeader3(decoder, reinterpret_cast<const unsigned char*>(jpeg.data()),
                                    jpeg.size(), &w, &h, &subsampling, &colourspace),
                0);
      EXPECT_EQ(w, width);
      EXPECT_EQ(h, height);
      EXPECT_NE(jpeg, previous) << "frame " << number;
      previous = jpeg;
    }
  }
  tjDestroy(decoder);
}

}  // namespace
}  // namespace ravelon::cli

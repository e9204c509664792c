// Saving queued frames into file sets, on the simulated platform's in-memory
// files: thinning to the save interval, even spacing, limits and roll-over.
#include <gtest/gtest.h>

#include <algorithm>

#include "ravelon/korvid.h"
#include "ravelon/media_frame.h"
#include "ravelon/testing/memory_file_system.h"
#include "ravelon/testing/simulated_platform.h"
#include "store/record_formats.h"
#include "support/korvid_test_peer.h"
#include "support/recording_host.h"
#include "support/store_reader.h"

namespace ravelon {
namespace {

using std::chrono::seconds;
using testing::LoggedEvent;
using testing::ReadFileSet;
using testing::RecordingHost;

class SaveFrameTest : public ::testing::Test {
 protected:
  SaveFrameTest()
      : platform_(std::make_shared<SimulatedPlatform>()), engine_(platform_), peer_(engine_) {
    engine_.SetEventSink(&host_);
    engine_.DBPath("/store/");
    engine_.DoSave(true);
    engine_.SetSaveIterval(1000);
    engine_.SetFileSizeLimit(10);
    engine_.PrepareEngine();
    // The first tick takes up the schedule (normal all day), which begins a
    // segment; after it, segments change only where a test says.
    platform_->AdvanceBy(std::chrono::milliseconds(500));
  }

  void Arrive(uint8_t type, const std::string& data) {
    auto frame = std::make_shared<MediaFrame>();
    frame->SetData(type, data);
    peer_.HandleNewFrame(frame);
  }

  std::string Base() const { return "/store/" + engine_.FileName(); }
  bool Logged(const LoggedEvent& e) const {
    return std::find(host_.events.begin(), host_.events.end(), e) != host_.events.end();
  }

  std::shared_ptr<SimulatedPlatform> platform_;
  RecordingHost host_;
  Korvid engine_;
  KorvidTestPeer peer_;
};

TEST_F(SaveFrameTest, ImagesAreThinnedToTheSaveIntervalAndSpreadEvenly) {
  EXPECT_EQ(engine_.ForcedSave(), 0);  // nothing since the engine was prepared
  Arrive(kJpeg, "first");
  EXPECT_EQ(engine_.ForcedSave(), 1);
  platform_->AdvanceBy(seconds(2));
  for (int i = 1; i <= 10; ++i) Arrive(kJpeg, "image " + std::to_string(i));
  EXPECT_EQ(engine_.ForcedSave(), 2);  // one image per second: the fifth and the tenth
  EXPECT_EQ(engine_.FramesBuffered(), 0);

  const auto frames = ReadFileSet(platform_->files(), Base());
  ASSERT_EQ(frames.size(), 3u);
  EXPECT_EQ(frames[1].data, "image 5");
  EXPECT_EQ(frames[2].data, "image 10");
  EXPECT_EQ(frames[1].time - frames[0].time, 1000);  // last taken + 5 x 0.2 s
  EXPECT_EQ(frames[2].time - frames[0].time, 2000);

  // Texts are never thinned.
  platform_->AdvanceBy(seconds(2));
  for (int i = 1; i <= 10; ++i) Arrive(kText, "text " + std::to_string(i));
  EXPECT_EQ(engine_.ForcedSave(), 10);
}

TEST_F(SaveFrameTest, FramesOlderThanTwentySecondsKeepTheirStamps) {
  platform_->clock().SetLocalDateTime(46000, 86399.9995);
  Arrive(kText, "a");
  Arrive(kText, "b");  // 2 ms later: the next day
  platform_->AdvanceBy(seconds(30));
  EXPECT_EQ(engine_.ForcedSave(), 2);
  const auto frames = ReadFileSet(platform_->files(), Base());
  ASSERT_EQ(frames.size(), 2u);
  EXPECT_EQ(frames[0].time, 235959999);
  EXPECT_EQ(frames[1].date, DateToLong(46001));
  EXPECT_EQ(frames[1].time, 1);
}

TEST_F(SaveFrameTest, SizeLimitClosesTheSetBeforeTheFrameThatWouldPassIt) {
  engine_.SetFileSizeLimit(1);  // 1 MB
  const std::string image(400'000, 'j');
  for (int i = 0; i < 5; ++i) Arrive(kText, image + std::to_string(i));
  // One save goes on across the roll-overs: 2 + 2 + 1 frames in three sets.
  EXPECT_EQ(engine_.ForcedSave(), 5);
  EXPECT_EQ(engine_.FramesBuffered(), 0);
  EXPECT_EQ(std::count(host_.events.begin(), host_.events.end(),
                       LoggedEvent{4, "File size limit exceeded by size."}),
            2);

  // Begun within the same second, every set still has a name of its own.
  std::vector<DirectoryEntry> entries;
  std::string error;
  ASSERT_EQ(platform_->files().List("/store", entries, error), 0);
  std::vector<std::string> sets;
  for (const auto& e : entries) {
    if (e.name.size() > 4 && e.name.substr(e.name.size() - 4) == ".id2") {
      sets.push_back("/store/" + e.name.substr(0, e.name.size() - 4));
    }
  }
  std::sort(sets.begin(), sets.end());
  ASSERT_EQ(sets.size(), 3u);
  EXPECT_EQ(sets.back(), Base());
  const auto first = ReadFileSet(platform_->files(), sets[0]);
  ASSERT_EQ(first.size(), 2u);
  EXPECT_EQ(ReadFileSet(platform_->files(), sets[1]).size(), 2u);
  EXPECT_EQ(ReadFileSet(platform_->files(), sets[2])[0].data, image + "4");
  // The first set's segment ends after its last frame, not after the next
  // set's first (1 ms before the frame that did not fit, as stamped then).
  const std::string id2 = platform_->files().Contents(sets[0] + ".id2");
  ASSERT_EQ(id2.size(), 28u);
  const auto second = ReadFileSet(platform_->files(), sets[1]);
  EXPECT_GE(testing::LittleEndianAt(id2, 20), first[1].time);
  EXPECT_LE(testing::LittleEndianAt(id2, 20), second[0].time);
}

TEST_F(SaveFrameTest, AFrameLargerThanTheLimitGetsASetOfItsOwn) {
  engine_.SetFileSizeLimit(1);
  Arrive(kJpeg, std::string(1'200'000, 'x'));
  EXPECT_EQ(engine_.ForcedSave(), 1);
  EXPECT_EQ(ReadFileSet(platform_->files(), Base()).size(), 1u);
}

}  // namespace
}  // namespace ravelon

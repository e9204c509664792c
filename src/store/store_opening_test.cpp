// PrepareEngine's store check: continue a sound set, repair a set whose last
// save run was cut short, begin a new set for anything else.
#include <gtest/gtest.h>

#include <algorithm>

#include "ravelon/korvid.h"
#include "ravelon/media_frame.h"
#include "ravelon/testing/simulated_platform.h"
#include "store/record_formats.h"
#include "support/korvid_test_peer.h"
#include "support/recording_host.h"
#include "support/store_reader.h"

namespace ravelon {
namespace {

using testing::LittleEndianAt;
using testing::LoggedEvent;
using testing::RecordingHost;

constexpr char kSet[] = "260101120000";
const std::string kBase = std::string("/store/") + kSet;

class StoreOpeningTest : public ::testing::Test {
 protected:
  StoreOpeningTest()
      : platform_(std::make_shared<SimulatedPlatform>()), engine_(platform_), peer_(engine_) {
    engine_.SetEventSink(&host_);
    engine_.DBPath("/store/");
    engine_.DoSave(true);
    engine_.SetFileSizeLimit(10);
    std::string ignored;
    platform_->files().CreateDirectory("/store", ignored);
  }

  // A set whose segment runs from `start` to `end`, with index records 0 to
  // `written_to` written and the rest up to `end` left at 0. Frame 0 is
  // empty, every other frame 5,000 bytes: frame n starts at 5,000 n - 4,999.
  void WriteSet(int32_t start, int32_t end, int32_t written_to) {
    std::string idx;
    for (int32_t n = 0; n <= end; ++n) {
      IndexRecord record;
      if (n <= written_to) {
        record = {
            std::max(1, 5000 * n - 4999), n == 0 ? 0 : 5000, 120000000 + n, 20260101, 0, kJpeg};
      }
      idx += record.Encode();
    }
    Write(kBase + ".idx", idx);
    Write(kBase + ".id2",
          ID2Record{500, start, 120000000, 20260101, end, 120000041, 20260101}.Encode());
    Write(kBase + ".bin", std::string(5000 * written_to, 'b'));
    peer_.SetStoreFile(kSet, 46023.5);
  }

  void Write(const std::string& path, const std::string& bytes) {
    std::unique_ptr<RandomAccessFile> file;
    std::string error;
    ASSERT_EQ(platform_->files().Open(path, FileSystem::OpenMode::kCreateTruncate, file, error), 0);
    ASSERT_EQ(file->WriteAt(0, bytes, error), 0);
  }

  bool Logged(const std::string& prefix) const {
    return std::any_of(host_.events.begin(), host_.events.end(),
                       [&](const LoggedEvent& e) { return e.text.rfind(prefix, 0) == 0; });
  }

  std::shared_ptr<SimulatedPlatform> platform_;
  RecordingHost host_;
  Korvid engine_;
  KorvidTestPeer peer_;
};

TEST_F(StoreOpeningTest, SoundSetIsContinuedInANewSegment) {
  WriteSet(0, 41, 41);  // frame 41 at position 200,001, 5,000 bytes long
  engine_.PrepareEngine();
  EXPECT_EQ(engine_.FileName(), kSet);
  EXPECT_EQ(peer_.NextFrameIndex(), 42);
  EXPECT_EQ(peer_.NextBinPos(), 205'001);
  EXPECT_FALSE(Logged("Creating new database filename"));

  auto frame = std::make_shared<MediaFrame>();
  frame->SetData(kJpeg, "frame 42");
  peer_.HandleNewFrame(frame);
  EXPECT_EQ(engine_.ForcedSave(), 1);
  const std::string idx = platform_->files().Contents(kBase + ".idx");
  EXPECT_EQ(LittleEndianAt(idx, 42 * 18), 205'001);
  const std::string id2 = platform_->files().Contents(kBase + ".id2");
  ASSERT_EQ(id2.size(), 56u);
  EXPECT_EQ(LittleEndianAt(id2, 28 + 4), 42);  // the new segment starts at frame 42

  int32_t start_date, start_time, start_frame, end_date, end_time, end_frame, size;
  std::string name;
  engine_.GetCurrentID2Data(start_date, start_time, start_frame, end_date, end_time, end_frame,
                            name, size);
  EXPECT_EQ(start_frame, 42);
  EXPECT_EQ(end_frame, 42);
  EXPECT_EQ(name, kBase);
  EXPECT_EQ(size, static_cast<int32_t>(platform_->files().Contents(kBase + ".bin").size()));
}

TEST_F(StoreOpeningTest, CutShortRunIsRepairedAndANewSetBegins) {
  WriteSet(30, 41, 37);  // records 38 to 41 were never written
  engine_.PrepareEngine();
  EXPECT_TRUE(Logged("File " + kBase + " was corrupted. Data repaired. 4 frames lost."));
  EXPECT_EQ(host_.events.front().level, 10);
  const std::string id2 = platform_->files().Contents(kBase + ".id2");
  EXPECT_EQ(LittleEndianAt(id2, 16), 37);
  EXPECT_EQ(LittleEndianAt(id2, 20), 120000037);  // the time of frame 37
  EXPECT_NE(engine_.FileName(), kSet);
  bool ok = false;
  EXPECT_EQ(testing::ReadFileSet(platform_->files(), kBase, &ok).size(), 8u);
  EXPECT_TRUE(ok);
}

TEST_F(StoreOpeningTest, DamageWithoutAnythingToRepairBeginsANewSetSilently) {
  WriteSet(38, 41, 37);  // the whole last segment is lost: nothing to correct
  const std::string id2_before = platform_->files().Contents(kBase + ".id2");
  engine_.PrepareEngine();
  EXPECT_FALSE(Logged("File "));
  EXPECT_EQ(platform_->files().Contents(kBase + ".id2"), id2_before);
  EXPECT_NE(engine_.FileName(), kSet);

  for (const auto& damage : {std::string(30, '\0'), std::string()}) {
    host_.events.clear();
    WriteSet(0, 41, 41);
    Write(kBase + ".id2", damage);  // not a whole number of records
    engine_.PrepareEngine();
    EXPECT_NE(engine_.FileName(), kSet);
    EXPECT_FALSE(Logged("File "));
  }
  WriteSet(0, 41, 41);
  Write(kBase + ".idx", std::string(41 * 18, '\1'));  // shorter than the segment says
  engine_.PrepareEngine();
  EXPECT_NE(engine_.FileName(), kSet);
}

}  // namespace
}  // namespace ravelon

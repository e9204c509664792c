// Crash consistency of the frame store: a save run cut short after any of its
// writes, or in the middle of one, must leave a store that the next start
// continues or repairs, with every frame of the earlier runs intact.
#include <gtest/gtest.h>

#include "ravelon/korvid.h"
#include "ravelon/media_frame.h"
#include "ravelon/testing/fault_injecting_file_system.h"
#include "ravelon/testing/memory_file_system.h"
#include "ravelon/testing/simulated_platform.h"
#include "support/korvid_test_peer.h"
#include "support/recording_host.h"
#include "support/store_reader.h"

namespace ravelon {
namespace {

using std::chrono::milliseconds;
using std::chrono::seconds;
using testing::LoggedEvent;
using testing::ReadFileSet;
using testing::RecordingHost;

void Configure(Korvid& engine) {
  engine.DBPath("/store/");
  engine.DoSave(true);
  engine.SetFileSizeLimit(10);
  engine.SetPreAllocationSize(1);
}

void Arrive(Korvid& engine, uint8_t type, const std::string& data) {
  KorvidTestPeer peer(engine);
  auto frame = std::make_shared<MediaFrame>();
  frame->SetData(type, data);
  peer.HandleNewFrame(frame);
}

TEST(StoreCrashTest, EveryCutOfASaveRunLeavesEarlierFramesIntact) {
  SimulatedPlatform platform;
  Korvid engine(std::shared_ptr<Platform>(&platform, [](Platform*) {}));
  Configure(engine);
  engine.PrepareEngine();
  platform.AdvanceBy(milliseconds(500));
  std::vector<std::string> earlier;
  for (int i = 0; i < 5; ++i) {
    earlier.push_back("earlier frame " + std::to_string(i) + std::string(3000, 'a' + i));
    Arrive(engine, kText, earlier.back());
  }
  ASSERT_EQ(engine.ForcedSave(), 5);
  platform.AdvanceBy(seconds(1));
  ASSERT_EQ(engine.ForcedSave(), 0);  // a run that only moves the segment's end

  // The run to cut: its writes are recorded on top of a snapshot.
  const std::unique_ptr<MemoryFileSystem> before = platform.files().Clone();
  std::vector<FileMutation> writes;
  platform.files().SetObserver([&](const FileMutation& m) { writes.push_back(m); });
  for (int i = 0; i < 3; ++i) Arrive(engine, kText, "later frame " + std::to_string(i));
  Arrive(engine, kJpeg, std::string(1'100'000, 'j'));  // grows the data file a step
  ASSERT_EQ(engine.ForcedSave(), 4);
  platform.files().SetObserver(nullptr);
  ASSERT_GE(writes.size(), 3u);
  const std::string set = engine.FileName();
  const double set_time = KorvidTestPeer(engine).FileTime();

  int crash_points = 0;
  for (size_t kept = 0; kept <= writes.size(); ++kept) {
    for (bool torn : {false, true}) {
      if (torn && (kept == writes.size() || writes[kept].kind != FileMutation::Kind::kWrite ||
                   writes[kept].data.size() < 2)) {
        continue;
      }
      std::unique_ptr<MemoryFileSystem> disk = before->Clone();
      for (size_t i = 0; i < kept; ++i) ASSERT_EQ(disk->Apply(writes[i]), 0);
      if (torn) {
        FileMutation half = writes[kept];
        half.data.resize(half.data.size() / 2);
        ASSERT_EQ(disk->Apply(half), 0);
      }
      ++crash_points;

      SimulatedPlatform restarted;
      restarted.UseFileSystem(*disk);
      RecordingHost host;
      Korvid next(std::shared_ptr<Platform>(&restarted, [](Platform*) {}));
      next.SetEventSink(&host);
      Configure(next);
      KorvidTestPeer(next).SetStoreFile(set, set_time);
      next.PrepareEngine();

      const auto frames = ReadFileSet(*disk, "/store/" + set);
      ASSERT_GE(frames.size(), earlier.size()) << "cut after " << kept << (torn ? " + torn" : "");
      for (size_t i = 0; i < earlier.size(); ++i) EXPECT_EQ(frames[i].data, earlier[i]);
      // Recording goes on after the restart, into the set or a new one.
      Arrive(next, kText, "after the restart");
      restarted.AdvanceBy(seconds(30));
      EXPECT_EQ(next.ForcedSave(), 1);
    }
  }
  std::printf("store crash test: %d crash points tried over %zu writes\n", crash_points,
              writes.size());
  EXPECT_GE(crash_points, 4);
}

TEST(StoreFaultTest, FullDiskIsReportedAtMostEveryTwentySixSecondsAndSavingResumes) {
  SimulatedPlatform platform;
  FaultInjectingFileSystem disk(platform.files());
  platform.UseFileSystem(disk);
  RecordingHost host;
  Korvid engine(std::shared_ptr<Platform>(&platform, [](Platform*) {}));
  engine.SetEventSink(&host);
  Configure(engine);
  engine.PrepareEngine();
  platform.AdvanceBy(milliseconds(500));

  const auto reports = [&] {
    return std::count_if(host.events.begin(), host.events.end(), [](const LoggedEvent& e) {
      return e.level == 10 && e.text.rfind("DBWrite /store/", 0) == 0;
    });
  };
  disk.SetFreeSpace(0);
  Arrive(engine, kText, "lost to a full disk");
  EXPECT_EQ(engine.ForcedSave(), 0);
  EXPECT_EQ(reports(), 1);
  EXPECT_NE(host.events.back().text.find("1 frames lost."), std::string::npos);
  EXPECT_NE(host.events[host.events.size() - 2].text.find(".bin Error: Number=28, Description="),
            std::string::npos);

  platform.AdvanceBy(seconds(25));
  Arrive(engine, kText, "also lost");
  EXPECT_EQ(engine.ForcedSave(), 0);
  EXPECT_EQ(reports(), 1);  // within 25.92 s of the last report: silent
  platform.AdvanceBy(seconds(1));
  disk.RemoveSpaceLimit();
  disk.FailNthWrite(2, EIO);  // the second write of the next run
  Arrive(engine, kText, "lost to a failing write");
  EXPECT_EQ(engine.ForcedSave(), 0);
  EXPECT_EQ(reports(), 2);
  EXPECT_NE(host.events[host.events.size() - 2].text.find(" Error: Number=5, Description="),
            std::string::npos);

  Arrive(engine, kText, "saved again");
  platform.AdvanceBy(seconds(1));
  EXPECT_EQ(engine.ForcedSave(), 1);
  const auto frames = ReadFileSet(platform.files(), "/store/" + engine.FileName());
  ASSERT_FALSE(frames.empty());
  EXPECT_EQ(frames.back().data, "saved again");
}

}  // namespace
}  // namespace ravelon

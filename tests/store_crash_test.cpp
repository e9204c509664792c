// Crash consistency of the frame store: a save cut short after any file change, or halfway through
// a write, leaves every frame acknowledged before the cut readable exactly once, and a fresh
// writer continues the registered set or begins a new one.
#include <gtest/gtest.h>

#include <algorithm>
#include <tuple>

#include "common/engine_limits.h"
#include "pipeline/save_queue.h"
#include "ravelon/testing/memory_file_system.h"
#include "ravelon/testing/simulated_loop.h"
#include "schedule/rate_statistics.h"
#include "store/store_writer.h"
#include "support/store_reader.h"

namespace ravelon {
namespace {

// A writer on /store/ with a 2 MB size limit and 1 MB growth steps. As its owner it records
// each set begun: base name, start time and the number of file changes in `log` before it.
struct Writer final : StoreWriterOwner {
  Writer(MemoryFileSystem& files, const std::vector<FileMutation>& changes)
      : writer(files, loop.GetClock(), rates, *this), log(changes) {
    writer.Settings() = {"/store/", true, 0, 2, 0, 1, false};
  }
  void OnNewFileSet(const std::string& name, double time) override {
    sets.emplace_back("/store/" + name, time, log.size());
  }
  void OnSegmentRestart() override {}
  void Debug(uint8_t, const std::string&) override {}
  int32_t Save(const std::vector<std::string>& frames) {
    for (const std::string& data : frames) {
      auto frame = std::make_shared<MediaFrame>();
      frame->SetData(data.size() > size_t{kMegabyte} ? kJpeg : kText, data);
      queue.Offer(frame);
    }
    return writer.ForcedSave(queue, true);
  }
  SimulatedLoop loop;
  RateStatistics rates{loop.GetClock()};
  SaveQueue queue;
  StoreWriter writer;
  const std::vector<FileMutation>& log;
  std::vector<std::tuple<std::string, double, size_t>> sets;
};

TEST(StoreCrashTest, EveryCutKeepsAcknowledgedFramesExactlyOnce) {
  MemoryFileSystem memory;
  memory.Apply(FileMutation::CreateDirectory("/store"));
  std::vector<FileMutation> log;
  Writer first(memory, log);
  first.writer.Prepare();
  // The frames acknowledged as saved, each with the number of file changes made by then.
  std::vector<std::pair<std::string, size_t>> acknowledged;
  const auto save = [&](const std::vector<std::string>& frames) {
    first.loop.AdvanceBy(std::chrono::seconds(1));
    ASSERT_EQ(first.Save(frames), static_cast<int32_t>(frames.size()));
    for (const std::string& data : frames) acknowledged.emplace_back(data, log.size());
  };
  save({"earlier 0", "earlier 1", "earlier 2"});
  const std::unique_ptr<MemoryFileSystem> before = memory.Clone();
  memory.SetObserver([&](const FileMutation& m) { log.push_back(m); });
  save({"later 0", "later 1"});
  first.writer.BeginNewSegment();
  save({"jpeg 0" + std::string(kMegabyte, 'a')});  // grows the data file a step
  save({});                                        // moves the segment's end only
  save({"jpeg 1" + std::string(kMegabyte, 'b')});  // passes the limit: a new set
  memory.SetObserver(nullptr);
  ASSERT_GE(log.size(), 15u);
  for (size_t kept = 0; kept <= log.size(); ++kept) {
    for (bool torn : {false, true}) {
      if (torn && (kept == log.size() || log[kept].data.size() < 2)) continue;
      SCOPED_TRACE("cut after " + std::to_string(kept) + " changes" + (torn ? " and a half" : ""));
      std::unique_ptr<MemoryFileSystem> disk = before->Clone();
      for (size_t i = 0; i < kept; ++i) ASSERT_EQ(disk->Apply(log[i]), 0);
      if (torn) {
        FileMutation half = log[kept];
        half.data.resize(half.data.size() / 2);
        ASSERT_EQ(disk->Apply(half), 0);
      }
      auto sets = first.sets;  // the registered set: the last one begun before the cut
      std::erase_if(sets, [&](const auto& set) { return std::get<2>(set) > kept; });
      Writer next(*disk, log);
      next.loop.AdvanceBy(std::chrono::hours(1));
      next.writer.SetFileSet(std::get<0>(sets.back()).substr(7), std::get<1>(sets.back()));
      next.writer.Prepare();
      ASSERT_EQ(next.Save({"after the restart"}), 1);
      // Continued, or a new set holding only the new frame:
      const bool continued = next.sets.empty();
      if (!continued) sets.push_back(next.sets.back());
      const auto current = testing::ReadFileSet(*disk, std::get<0>(sets.back()));
      EXPECT_EQ(current.empty() ? "" : current.back().data, "after the restart");
      EXPECT_TRUE(continued || current.size() == 1);
      std::vector<std::string> stored;  // every set's frames, in the order the sets began
      for (const auto& [base, time, changes] : first.sets)
        for (const auto& frame : testing::ReadFileSet(*disk, base)) stored.push_back(frame.data);
      auto at = stored.begin();
      for (const auto& [data, changes] : acknowledged) {
        if (changes > kept) break;
        EXPECT_EQ(std::ranges::count(stored, data), 1) << data.substr(0, 9);
        at = std::find(at, stored.end(), data);  // and in the order saved
        EXPECT_NE(at, stored.end()) << data.substr(0, 9);
      }
    }
  }
}

}  // namespace
}  // namespace ravelon

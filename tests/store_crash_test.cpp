// Crash consistency of the frame store: a save cut short after any file change, or halfway through
// a write, leaves every frame acknowledged before the cut readable exactly once and in order, and
// a fresh writer continues the registered set or begins a new one.
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

// A writer on /store/ with a 2 MB size limit and 1 MB growth steps, saving a second after its last
// save. It records each set begun and each frame acknowledged as saved, with the number of file
// changes in `log` by then.
struct Writer final : StoreWriterOwner {
  Writer(MemoryFileSystem& files, const std::vector<FileMutation>& changes)
      : writer(files, loop.GetClock(), rates, *this), log(changes) {
    writer.Settings() = {"/store/", true, 0, 2, 0, 1, false};
  }
  void OnNewFileSet(const std::string& name, double time) override {
    sets.emplace_back(name, time, log.size());
  }
  void OnSegmentRestart() override {}
  void Debug(uint8_t, const std::string&) override {}
  int32_t Save(const std::vector<std::string>& frames) {
    loop.AdvanceBy(std::chrono::seconds(1));
    for (const std::string& data : frames) {
      auto frame = std::make_shared<MediaFrame>();
      frame->SetData(data.size() > size_t{kMegabyte} ? kJpeg : kText, data);
      queue.Offer(frame);
    }
    const int32_t saved = writer.ForcedSave(queue, true);
    for (const std::string& data : frames) acknowledged.emplace_back(data, log.size());
    return saved;
  }
  SimulatedLoop loop;
  RateStatistics rates{loop.GetClock()};
  SaveQueue queue;
  StoreWriter writer;
  const std::vector<FileMutation>& log;
  std::vector<std::tuple<std::string, double, size_t>> sets;  // name, start, changes
  std::vector<std::pair<std::string, size_t>> acknowledged;
};

TEST(StoreCrashTest, EveryCutKeepsAcknowledgedFramesExactlyOnce) {
  MemoryFileSystem memory;
  memory.Apply(FileMutation::CreateDirectory("/store"));
  std::vector<FileMutation> log;
  Writer first(memory, log);
  first.writer.Prepare();
  ASSERT_EQ(first.Save({"earlier 0", "earlier 1", "earlier 2"}), 3);
  const std::unique_ptr<MemoryFileSystem> before = memory.Clone();
  memory.SetObserver([&](const FileMutation& m) { log.push_back(m); });
  ASSERT_EQ(first.Save({"later 0", "later 1"}), 2);
  first.writer.BeginNewSegment();
  ASSERT_EQ(first.Save({"jpeg 0" + std::string(kMegabyte, 'a')}), 1);  // grows the data file
  ASSERT_EQ(first.Save({}), 0);                                        // moves the segment's end
  ASSERT_EQ(first.Save({"jpeg 1" + std::string(kMegabyte, 'b')}), 1);  // passes the limit
  ASSERT_GE(log.size(), 15u);
  // Cut after `kept` changes, and, where the next change writes bytes, halfway through it too.
  for (size_t cut = 0; cut < 2 * log.size() + 1; ++cut) {
    const size_t kept = cut / 2;
    const bool torn = cut % 2 == 1;
    if (torn && log[kept].data.size() < 2) continue;
    SCOPED_TRACE("cut after " + std::to_string(kept) + " changes" + (torn ? " and a half" : ""));
    const std::unique_ptr<MemoryFileSystem> disk = before->Clone();
    for (size_t i = 0; i < kept + torn; ++i) {
      FileMutation change = log[i];
      if (i == kept) change.data.resize(change.data.size() / 2);
      ASSERT_EQ(disk->Apply(change), 0);
    }
    auto sets = first.sets;  // the registered set: the last one begun before the cut
    std::erase_if(sets, [&](const auto& set) { return std::get<2>(set) > kept; });
    Writer next(*disk, log);
    next.loop.AdvanceBy(std::chrono::hours(1));
    next.writer.SetFileSet(std::get<0>(sets.back()), std::get<1>(sets.back()));
    next.writer.Prepare();
    ASSERT_EQ(next.Save({"after the restart"}), 1);
    // Every frame acknowledged before the cut and the one saved after it, once each and in order.
    std::vector<std::string> expected, stored;
    for (const auto& [data, changes] : first.acknowledged)
      if (changes <= kept) expected.push_back(data);
    expected.push_back("after the restart");
    for (const auto* begun : {&first.sets, &next.sets})
      for (const auto& [name, time, changes] : *begun)
        for (const auto& frame : testing::ReadFileSet(*disk, "/store/" + name))
          if (std::ranges::count(expected, frame.data) > 0) stored.push_back(frame.data);
    EXPECT_TRUE(stored == expected) << stored.size() << " of " << expected.size();
  }
}

}  // namespace
}  // namespace ravelon

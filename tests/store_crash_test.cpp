// Crash consistency of the frame store. A workload of save runs covers a new set, new segments,
// a roll-over by size, one by time and a recycled set, with and without fast preallocation and
// syncing. It is cut at every file change: by a power loss (only what was synced stays), by the
// death of the process (every change so far stays, the next one torn in half), and by a write or
// sync that fails, or a write that lands only in part, and then works again. After each cut a
// fresh writer continues from the registered set and saves one more frame, and the folder must
// read as consistent: every set passes `store verify`, no frame is there twice, the frames keep
// their order, and no frame counted as saved is lost, except, without syncing, under a power loss.
#include <gtest/gtest.h>

#include <algorithm>
#include <cerrno>
#include <set>

#include "pipeline/save_queue.h"
#include "ravelon/testing/fault_injecting_file_system.h"
#include "ravelon/testing/memory_file_system.h"
#include "ravelon/testing/simulated_loop.h"
#include "schedule/rate_statistics.h"
#include "store/store_folder.h"
#include "store/store_verify.h"
#include "store/store_writer.h"
#include "support/store_reader.h"

namespace ravelon {
namespace {

const std::string kFolder = "/store/";

// One save run of the workload.
struct Run {
  int frames = 0;
  int64_t bytes = 0;  // of each frame
  double advance_seconds = 1;
  bool new_segment = false;
  bool time_limit = false;  // from this run on: sets of one hour
  bool recycle = false;     // the next new set takes over the oldest set's files
};

// 60 runs: small frames, empty runs that move a segment's end, three large frames that pass the
// 1 MB size limit, a switch to a one-hour time limit with two roll-overs, and a recycle.
std::vector<Run> Workload() {
  std::vector<Run> runs;
  for (int i = 0; i < 60; ++i) {
    Run run{i % 3, 200 + 97 * (i % 11)};
    run.new_segment = i % 9 == 4;
    if (i == 10) run = {3, 400'000};
    run.time_limit = i >= 30;
    if (i == 38 || i == 52) run.advance_seconds = 3'600;
    run.recycle = i == 48;
    runs.push_back(run);
  }
  return runs;
}

// A store writer on /store/ as the engine drives it, with what it told its owner.
struct Writer final : StoreWriterOwner {
  Writer(FileSystem& files, bool sync, bool fast) : writer(files, loop.GetClock(), rates, *this) {
    writer.Settings() = {kFolder, true, 0, 1, 0, 1, fast};
    writer.Settings().syncWrites = sync;
  }
  void OnNewFileSet(const std::string& name, double time) override {
    registered = {name, time};
    names.push_back(name);
  }
  void OnSegmentRestart() override {}
  void Debug(uint8_t, const std::string&) override {}

  int32_t Save(const std::vector<std::string>& frames) {
    for (const std::string& data : frames) {
      auto frame = std::make_shared<MediaFrame>();
      frame->SetData(kText, data);
      queue.Offer(frame);
    }
    return writer.ForcedSave(queue, true);
  }

  SimulatedLoop loop;
  RateStatistics rates{loop.GetClock()};
  SaveQueue queue;
  StoreWriter writer;
  std::pair<std::string, double> registered;
  std::vector<std::string> names;  // every set begun, in order
};

// What a cut must leave: the frames counted as saved before it (in order), and those that may
// be there too (the run it interrupted).
struct Expected {
  std::vector<std::string> kept;
  std::set<std::string> maybe;
  std::pair<std::string, double> registered;  // the set a restarted engine is told to continue
  int failed_runs = 0;
};

// Checks the folder after a restart saved one frame: every set sound, every frame once, in order.
void CheckFolder(MemoryFileSystem& disk, const Expected& expected) {
  StoreReader reader(disk, kFolder);
  std::vector<FileSetInfo> sets;
  std::string error;
  ASSERT_TRUE(reader.ListFileSets(sets, error)) << error;
  std::vector<std::string> stored;
  for (const FileSetInfo& set : sets) {
    const cli::SetVerdict verdict =
        cli::VerifyFileSet(disk, cli::StoreFolder{kFolder, true, kFolder}, set);
    for (const cli::StoreProblem& problem : verdict.problems)
      ADD_FAILURE() << cli::FormatProblem(set.name, problem);
    FrameWalkCounts counts;
    reader.ForEachFrame(
        set.name, [&](const StoredFrame& f) { return stored.push_back(f.data), true; }, counts,
        error);
  }
  ASSERT_FALSE(stored.empty());
  EXPECT_EQ(stored.back(), "after the restart");
  stored.pop_back();
  std::vector<std::string> kept;  // the stored frames, without those of the interrupted run
  for (const std::string& data : stored) {
    if (expected.maybe.count(data) == 0) kept.push_back(data);
  }
  EXPECT_EQ(std::set<std::string>(stored.begin(), stored.end()).size(), stored.size())
      << "a frame is there twice";
  EXPECT_EQ(kept, expected.kept);
}

// Continues the store on `disk` from the registered set, saves one frame, and checks the folder;
// with syncing, also as a power loss right then would leave it (what the restart mended stays).
void CheckAfterRestart(MemoryFileSystem& disk, bool sync, const Expected& expected) {
  Writer next(disk, sync, false);
  next.loop.AdvanceBy(std::chrono::hours(3));
  next.writer.SetFileSet(expected.registered.first, expected.registered.second);
  next.writer.Prepare();
  ASSERT_EQ(next.Save({"after the restart"}), 1);
  CheckFolder(disk, expected);
  if (sync) CheckFolder(*disk.AfterPowerLoss(), expected);
}

// Runs the workload on `files` over `memory`, calling `cut(expected, change)` as each change of
// the files takes effect, and once more at the end with no change.
using CutPoint = std::function<void(const Expected&, const FileMutation* change)>;

void RunWorkload(MemoryFileSystem& memory, FileSystem& files, bool sync, bool fast,
                 const CutPoint& cut) {
  Writer w(files, sync, fast);
  Expected expected;
  memory.SetObserver([&](const FileMutation& change) {
    expected.registered = w.registered;
    cut(expected, &change);
  });
  w.writer.Prepare();
  int frame = 0;
  std::vector<std::string> pending;  // queued, in order
  for (const Run& run : Workload()) {
    w.loop.AdvanceBy(std::chrono::milliseconds(static_cast<int64_t>(run.advance_seconds * 1000)));
    if (run.new_segment) w.writer.BeginNewSegment();
    if (run.time_limit) w.writer.Settings().fileLimitType = 1;
    if (run.recycle) {
      // The host gives up the oldest set: its frames are gone once the next set takes its files.
      w.writer.SetRecycleFile(kFolder + w.names.front());
      for (const StoredFrame& f : testing::ReadFileSet(memory, kFolder + w.names.front())) {
        std::erase(expected.kept, f.data);
        expected.maybe.insert(f.data);
      }
    }
    std::vector<std::string> frames;
    for (int i = 0; i < run.frames; ++i) {
      std::string data = "frame " + std::to_string(frame++) + " ";
      data.resize(static_cast<size_t>(run.bytes), '.');
      frames.push_back(data);
    }
    expected.maybe.insert(frames.begin(), frames.end());
    pending.insert(pending.end(), frames.begin(), frames.end());
    // The frames saved come first, then those of a failed run (lost, and counted so; whatever
    // part of them reached the files may still be named there), then those still queued.
    const size_t saved = static_cast<size_t>(w.Save(frames));
    const size_t lost = pending.size() - saved - static_cast<size_t>(w.queue.Count());
    for (size_t i = 0; i < saved; ++i) expected.maybe.erase(pending[i]);
    expected.kept.insert(expected.kept.end(), pending.begin(), pending.begin() + saved);
    pending.erase(pending.begin(), pending.begin() + saved + lost);
    if (lost > 0) ++expected.failed_runs;
  }
  memory.SetObserver({});
  expected.registered = w.registered;
  cut(expected, nullptr);
}

TEST(StoreCrashTest, PowerLossAndProcessDeathAtEveryChange) {
  int cuts = 0;
  for (const auto& [sync, fast] :
       {std::pair{true, false}, {true, true}, {false, false}, {false, true}}) {
    MemoryFileSystem memory;  // empty: the writer makes the store folder
    std::unique_ptr<MemoryFileSystem> shadow = memory.Clone();  // the disk as the process left it
    size_t changes = 0;
    RunWorkload(
        memory, memory, sync, fast, [&](const Expected& expected, const FileMutation* change) {
          SCOPED_TRACE(std::string(sync ? "sync" : "no sync") + (fast ? ", fast" : "") +
                       ", cut at change " + std::to_string(changes++));
          // The process dies before the change, or halfway through a write.
          CheckAfterRestart(*shadow->Clone(), sync, expected);
          ++cuts;
          if (change && change->kind == FileMutation::Kind::kWrite && change->data.size() >= 2) {
            std::unique_ptr<MemoryFileSystem> torn = shadow->Clone();
            FileMutation half = *change;
            half.data.resize(half.data.size() / 2);
            torn->Apply(half);
            CheckAfterRestart(*torn, sync, expected);
            ++cuts;
          }
          if (change) shadow->Apply(*change);
          // The power goes after the change: with syncing, every frame counted as saved stays.
          if (sync) {
            CheckAfterRestart(*memory.AfterPowerLoss(), sync, expected);
            ++cuts;
          }
        });
  }
  std::printf("cut points tried: %d\n", cuts);
  EXPECT_GT(cuts, 1'500);
}

// A write or a sync fails (disk full, I/O error, or a write that lands only its first bytes, of a
// vectored write across its pieces) at each point of the workload in turn and then works again:
// only the run it hit fails, its frames are counted as lost, every other frame is saved once and
// in order, and the folder reads as consistent.
TEST(StoreCrashTest, AFailingWriteOrSyncLeavesTheStoreConsistent) {
  struct Fault {
    const char* name;
    bool syncs;  // counted in syncs, else in writes
    std::function<void(FaultInjectingFileSystem&, int64_t nth)> plan;
  };
  const Fault faults[] = {
      {"ENOSPC", false, [](auto& f, int64_t nth) { f.FailNthWrite(nth, ENOSPC); }},
      {"EIO", false, [](auto& f, int64_t nth) { f.FailNthWrite(nth, EIO); }},
      {"sync EIO", true, [](auto& f, int64_t nth) { f.FailNthSync(nth, EIO); }},
      // Within the first frame, across small frames, and into the second of three large ones.
      {"short 1", false, [](auto& f, int64_t nth) { f.ShortenNthWrite(nth, 1); }},
      {"short 700", false, [](auto& f, int64_t nth) { f.ShortenNthWrite(nth, 700); }},
      {"short 500000", false, [](auto& f, int64_t nth) { f.ShortenNthWrite(nth, 500'000); }},
  };
  int failures = 0;
  for (const bool sync : {true, false}) {
    for (const Fault& fault : faults) {
      if (fault.syncs && !sync) continue;
      for (int64_t nth = 1;; ++nth) {
        SCOPED_TRACE(std::string(sync ? "sync" : "no sync") + ", " + fault.name + " at " +
                     std::to_string(nth));
        MemoryFileSystem memory;
        FaultInjectingFileSystem faulty(memory);
        fault.plan(faulty, nth);
        Expected at_end;
        RunWorkload(memory, faulty, sync, false,
                    [&](const Expected& expected, const FileMutation* change) {
                      if (!change) at_end = expected;
                    });
        if ((fault.syncs ? faulty.SyncsSeen() : faulty.WritesSeen()) < nth) break;  // never hit
        ++failures;
        EXPECT_LE(at_end.failed_runs, 1);
        CheckAfterRestart(memory, sync, at_end);
      }
    }
  }
  std::printf("failures tried: %d\n", failures);
}

}  // namespace
}  // namespace ravelon

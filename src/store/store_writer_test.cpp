// StoreWriter on in-memory files and virtual time: thinning and stamping of
// queued frames, file-set limits and names, growth of the files, recycling,
// error reports, and what Prepare makes of a registered set.
#include "store/store_writer.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cerrno>
#include <functional>
#include <set>
#include <tuple>

#include "common/engine_limits.h"
#include "pipeline/save_queue.h"
#include "ravelon/store_reader.h"
#include "ravelon/testing/fault_injecting_file_system.h"
#include "ravelon/testing/memory_file_system.h"
#include "ravelon/testing/simulated_loop.h"
#include "schedule/rate_statistics.h"
#include "support/page_cache.h"
#include "support/store_reader.h"
#include "support/temp_folder.h"

namespace ravelon {
namespace {

using std::chrono::milliseconds;
using testing::LittleEndianAt;

const std::string kFirst = "/store/260105100000";  // the clock starts on 2026-01-05 at 10:00
const std::string kOldName = "260101120000";       // a set registered by an earlier run
const std::string kOld = "/store/" + kOldName;
const double kDay = DaysSince18991230(2026, 1, 5);

// HHMMSSmmm of `ms` milliseconds after 10:00 (less than an hour).
int32_t At(int ms) { return 100'000'000 + ms / 60'000 * 100'000 + ms % 60'000; }

// A writer on /store/ (by default with a 10 MB size limit); as its owner it
// records what it is told.
struct Store final : StoreWriterOwner {
  explicit Store(uint8_t type = 0, int16_t limit = 10, int16_t step = 0, bool fast = false) {
    memory.Apply(FileMutation::CreateDirectory("/store"));
    writer.Settings() = {"/store/", true, 0, limit, type, step, fast};
  }
  void OnNewFileSet(const std::string& name, double) override { sets.push_back("/store/" + name); }
  void OnSegmentRestart() override {}
  void Debug(uint8_t level, const std::string& text) override {
    lines.push_back(std::to_string(level) + " " + text);
  }

  // Queues a frame with the fixed stamp `time` of `date`, or unstamped (at
  // present, to be spread) when `time` < 0; returns it, not kept alive.
  std::weak_ptr<MediaFrame> Queue(uint8_t type, std::string data, double time = -1,
                                  double date = kDay) {
    auto frame = std::make_shared<MediaFrame>();
    frame->SetData(type, std::move(data));
    frame->setDate(time < 0 ? loop.GetClock().Today() : date);
    frame->setTime(time < 0 ? loop.GetClock().SecondsSinceMidnight() : time);
    frame->setFixedStamp(time >= 0);
    queue.Offer(frame);
    return frame;
  }
  int32_t Save() { return writer.ForcedSave(queue, true); }
  auto Frames(const std::string& base) { return testing::ReadFileSet(memory, base); }
  int Count(const std::string& part) const {
    return std::ranges::count_if(lines,
                                 [&](const std::string& l) { return l.find(part) != l.npos; });
  }
  // Set `base` with one segment of frames `start` to `end`, index records 0 to
  // `written` written and the rest 0. Frame 0 is empty, frame n > 0 is `step`
  // bytes at step (n - 1) + 1; at most a megabyte of data is written. Frame n
  // is stamped 12:00:00.n on 31 Dec 2025; the segment ends at 12:00:00.999.
  void WriteSet(const std::string& base, int32_t start, int32_t end, int32_t written,
                int32_t step = 5000) {
    std::string idx;
    for (int32_t n = 0; n <= end; ++n) {
      const int32_t position = n > written ? 0 : std::max(1, step * (n - 1) + 1);
      idx += IndexRecord{position, n ? step : 0, 120000000 + n, 20251231, 0, kJpeg}.Encode();
    }
    const ID2Record segment{500, start, 120000000, 20251231, end, 120000999, 20251231};
    memory.Apply(FileMutation::Write(base + ".idx", 0, idx));
    memory.Apply(FileMutation::Write(base + ".id2", 0, segment.Encode()));
    memory.Apply(FileMutation::Write(
        base + ".bin", 0, std::string(std::min<int64_t>(int64_t{step} * written, kMegabyte), 'b')));
  }

  MemoryFileSystem memory;
  FaultInjectingFileSystem faulty{memory};
  SimulatedLoop loop;
  RateStatistics rates{loop.GetClock()};
  StoreWriter writer{faulty, loop.GetClock(), rates, *this};
  SaveQueue queue;
  std::vector<std::string> sets, lines;
};

// Each row: the clock moves on, frames are queued and saved. Unfixed stamps
// are spread evenly up to now (the first frame may bring a fixed one), and
// image thinning carries its credit from run to run.
TEST(StoreWriterTest, ThinsImagesToTheSaveIntervalAndSpreadsStamps) {
  // advance (ms), save interval, frames, fixed stamp of the first (ms, or -1),
  // type, new segment, the frames saved
  const std::tuple<int, int, int, int, uint8_t, bool, std::vector<int>> rows[] = {
      {2000, 1000, 10, -1, kJpeg, false, {5, 10}},  // one image a second
      {600, 1000, 3, -1, kJpeg, false, {}},         // 600 ms of credit...
      {400, 1000, 2, -1, kJpeg, false, {2}},        // ...carried on to the next run
      {100, 1000, 1, -1, kJpeg, true, {1}},         // a segment begins with a saved frame
      {2000, 1000, 10, 50, kText, false, {1, 2, 3, 4, 5, 6, 7, 8, 9, 10}},  // texts: all
      {1000, kMinIntervalMs, 5, -1, kJpeg, false, {1, 2, 3, 4, 5}},  // the shortest interval: all
      {19000, 100, 1, -1, kJpeg, false, {1}},  // 19 s of credit, kept as ten intervals only...
      {200, 100, 20, -1, kJpeg, false, {1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 20}},
      // a burst 1 ms apart saves all and runs the credit 20 s short...
      {20, 1000, 20, -1, kJpeg, false, {1,  2,  3,  4,  5,  6,  7,  8,  9,  10,
                                        11, 12, 13, 14, 15, 16, 17, 18, 19, 20}},
      {12000, 1000, 12, -1, kJpeg, false, {12}},  // ...but owes ten intervals at most
      // the shortest interval thins nothing, even 2 ms apart
      {40, kMinIntervalMs, 20, -1, kJpeg, false, {1,  2,  3,  4,  5,  6,  7,  8,  9,  10,
                                                  11, 12, 13, 14, 15, 16, 17, 18, 19, 20}},
  };
  Store s;
  s.writer.Prepare();
  EXPECT_EQ(s.writer.ForcedSave(s.queue, false), 0);  // no frame since Prepare: nothing written
  EXPECT_FALSE(s.memory.FileExists(kFirst + ".id2"));
  s.Queue(kJpeg, "0");
  ASSERT_EQ(s.Save(), 1);
  int previous_ms = 0;
  std::string expected = "0@100000000 ", stored;
  for (const auto& [advance_ms, interval, count, fixed_ms, type, new_segment, saved] : rows) {
    const auto ms = [&](int n) {
      return n > 1 || fixed_ms < 0 ? advance_ms * n / count : fixed_ms;
    };
    s.writer.Settings().saveInterval = interval;
    if (new_segment) s.writer.BeginNewSegment();
    s.loop.AdvanceBy(milliseconds(advance_ms));
    for (int i = 1; i <= count; ++i) {
      const bool fixed = i == 1 && fixed_ms >= 0;
      s.Queue(type, std::to_string(i), fixed ? 36'000 + (previous_ms + ms(i)) / 1000.0 : -1);
    }
    EXPECT_EQ(s.Save(), static_cast<int32_t>(saved.size())) << previous_ms;
    for (int n : saved)
      expected += std::to_string(n) + "@" + std::to_string(At(previous_ms + ms(n))) + " ";
    previous_ms += advance_ms;
  }
  for (const auto& f : s.Frames(kFirst)) stored += f.data + "@" + std::to_string(f.time) + " ";
  EXPECT_EQ(stored, expected);
}

// Frames queued within 20 s of the last saved one are spread over that time;
// older ones keep their own stamps, moved on only to stay strictly
// increasing: 1 ms after the last, past midnight onto the next day.
TEST(StoreWriterTest, KeepsStampsStrictlyIncreasing) {
  const auto listed = [](Store& store) {
    std::string stored;
    for (const auto& f : store.Frames(kFirst))
      stored += std::to_string(f.date) + " " + std::to_string(f.time) + ", ";
    return stored;
  };
  Store s;
  s.writer.Prepare();
  s.Queue(kEvent, "at ten");
  s.Save();
  s.loop.AdvanceBy(std::chrono::seconds(20));
  s.Queue(kEvent, "spread");
  s.Queue(kEvent, "spread");
  s.Save();
  const std::pair<double, double> stamps[] = {
      {kDay, 86'399.9995}, {kDay, 86'399.9995}, {kDay, 100}, {kDay + 1, 0.0005}, {kDay + 1, 5}};
  for (const auto& [date, time] : stamps) s.Queue(kEvent, "event", time, date);
  ASSERT_EQ(s.Save(), 5);
  EXPECT_EQ(listed(s),
            "20260105 100000000, 20260105 100010000, 20260105 100020000, 20260105 235959999, "
            "20260106 0, 20260106 1, 20260106 2, 20260106 5000, ");

  // Frames spread back over midnight take the day before it.
  Store night;
  night.writer.Prepare();
  night.loop.AdvanceBy(milliseconds(((13 * 60 + 59) * 60 + 59) * 1000 + 200));  // 23:59:59.200
  night.Queue(kText, "before");
  night.Save();
  night.loop.AdvanceBy(milliseconds(1200));
  for (int i = 0; i < 3; ++i) night.Queue(kText, "spread");
  ASSERT_EQ(night.Save(), 3);
  EXPECT_EQ(listed(night), "20260105 235959200, 20260105 235959600, 20260106 0, 20260106 400, ");
}

// One save goes on across roll-overs: a frame that ends exactly at the 1 MB
// limit still fits, a set ends 1 ms before the frame that would pass it, a
// frame larger than the limit gets a set of its own, and sets begun within
// one second move their names on a second. Only the last set stays open.
TEST(StoreWriterTest, RollsOverAtTheSizeLimit) {
  Store s(0, 1);
  s.writer.Prepare();
  for (const int64_t bytes : {kMegabyte / 2, kMegabyte / 2, kMegabyte / 2, kMegabyte / 2 + 1, 1l})
    s.Queue(kText, std::string(bytes, 't'), 36'000 + s.queue.Count() / 10.0);
  s.Queue(kJpeg, std::string(kMegabyte + 1, 'j'), 36'000.5);
  EXPECT_EQ(s.Save(), 6);
  EXPECT_EQ(s.Count("4 File size limit exceeded by size."), 3);
  EXPECT_EQ(s.memory.OpenFileCount(), 3);
  // name, frames, segment end (1 ms before the next set's first frame, or now)
  std::string stored;
  for (const std::string& set : s.sets) {
    stored += set.substr(7) + " " + std::to_string(s.Frames(set).size()) + " " +
              std::to_string(LittleEndianAt(s.memory.Contents(set + ".id2"), 20)) + ", ";
  }
  EXPECT_EQ(stored,
            "260105100000 2 100000199, 260105100001 1 100000299, "
            "260105100002 2 100000499, 260105100003 1 100000000, ");
}

// Under a time limit sets follow a grid of periods from the registered start,
// however long the engine was stopped; a data file about to pass its cap ends
// the set early, and the next keeps the start time.
TEST(StoreWriterTest, TimeLimitRollsOverOnAGridOfPeriods) {
  // limit (hours), set begun (hours ago), new set begun (hours after the old),
  // frame size in the old set, message
  const std::tuple<int16_t, double, double, int32_t, const char*> rows[] = {
      {24, 84, 72, 5000, "4 File time limit exceeded by time."},
      {2, 5, 4, 5000, "4 File time limit exceeded by time."},
      {1, 0.5, 0, 5000, nullptr},
      {24, 1, 0, static_cast<int32_t>(kTimeLimitSizeCap / 2),
       "4 File size limit exceeded by size."},
      // The cap ends the set, and the new set, which keeps the old start, is
      // already a period old at its first frame: the start moves on the grid.
      {1, 1.5, 1, static_cast<int32_t>(kTimeLimitSizeCap / 2),
       "4 File size limit exceeded by size."}};
  for (const auto& [hours, hours_ago, new_start_hours, step, message] : rows) {
    Store s(1, hours);
    s.WriteSet(kOld, 0, 2, 2, step);
    const double start = kDay + 10.0 / 24 - hours_ago / 24;
    s.writer.SetFileSet(kOldName, start);
    s.writer.Prepare();
    s.Queue(kText, "next");
    EXPECT_EQ(s.Save(), 1);
    EXPECT_EQ(s.Count(message ? message : "limit exceeded"), message ? 1 : 0);
    EXPECT_EQ(s.Count("10 "), 0);
    EXPECT_EQ(s.writer.FileName() == kOldName, !message);
    EXPECT_EQ(s.Frames("/store/" + s.writer.FileName()).back().data, "next");
    EXPECT_NEAR(s.writer.FileTime(), start + new_start_hours / 24, 1e-9);
  }
}

// A new data file gets its space by preallocation steps (capped once at the
// limit), at once by fast preallocation (under a time limit: one step), or by
// taking over an old set's files, old content and length included (its segment
// file goes). The index grows by a megabyte. Each is reported.
TEST(StoreWriterTest, GivesNewDataFilesTheirSpace) {
  const std::string grown = "4 Preallocation completed. New file size=";
  const std::string idx = grown + "1048576 bytes. - 260105100000.idx";
  const std::string bin2 = grown + "2097152 bytes. - 260105100000.bin";
  const std::string bin3 = grown + "3145728 bytes. - 260105100000.bin";
  const std::string quick = "5 FastPreallocation done: ", in = "MB in 0ms. FileName:" + kFirst;
  const std::string recycled = "5 Recycling file: " + kOld + " -> " + kFirst;
  // limit type, limit, step (MB), fast, recycle, frame sizes, data file length, messages
  const std::tuple<uint8_t, int16_t, int16_t, bool, bool, std::vector<int64_t>, size_t,
                   std::vector<std::string>>
      rows[] = {
          {0, 3, 2, false, false, {1000, 2 * kMegabyte}, 3 * kMegabyte, {bin2, idx, bin3}},
          {0, 3, 0, false, false, {1000}, 1000, {idx}},
          {0, 3, 2, true, false, {1000}, 3 * kMegabyte, {quick + "3" + in, idx}},
          {1, 24, 2, true, false, {1000}, 2 * kMegabyte, {quick + "2" + in, idx}},
          {0, 3, 2, true, true, {1000}, 99 * 5000, {recycled}},
      };
  for (const auto& [type, limit, step, fast, recycle, frames, length, lines] : rows) {
    Store s(type, limit, step, fast);
    if (recycle) s.WriteSet(kOld, 0, 99, 99);
    if (recycle) s.writer.SetRecycleFile(kOld);
    s.writer.Prepare();
    for (int64_t bytes : frames) {
      s.Queue(kText, std::string(bytes, 'p'));
      EXPECT_EQ(s.Save(), 1);
    }
    const std::string bin = s.memory.Contents(kFirst + ".bin");
    EXPECT_EQ(bin.size(), length);
    EXPECT_EQ(bin.substr(0, 1001), std::string(1000, 'p') + (recycle ? "b" : bin.substr(1000, 1)));
    std::erase_if(s.lines, [](const std::string& l) { return l.find("Creating") != l.npos; });
    EXPECT_EQ(s.lines, lines);
    EXPECT_EQ(s.Frames(kFirst).size(), frames.size());  // none of the old set's frames
    EXPECT_FALSE(s.memory.FileExists(kOld + ".id2"));
    EXPECT_EQ(s.writer.RecycleFile(), "");
  }
}

// Faults under an open set, or a new one: each is reported at level 10 at most
// once per gap (not once per frame); a failed run's frames count as lost and
// the set reads as before it; files removed under the set end it, and the run
// goes into a new one. Saving resumes by itself at the next run once the
// fault is gone, and says so.
TEST(StoreWriterTest, SurvivesFullDisksFailingFilesAndRemovedFolders) {
  struct Row {
    const char* fault;
    bool on_new_set;  // the fault meets the set's first save
    std::function<void(Store&)> begin, end;
    std::string message;
    bool saves_through;  // the runs during the fault save their frames elsewhere
    const char* stored;  // what the store folder holds at the end
  };
  const Row rows[] = {
      {"full disk", false, [](Store& s) { s.faulty.SetFreeSpace(0); },
       [](Store& s) { s.faulty.RemoveSpaceLimit(); }, ".bin Error: Number=28, Description=", false,
       "before after "},
      {"index write", false, [](Store& s) { s.faulty.FailNthWrite(2, EIO); }, nullptr,
       ".idx Error: Number=5, Description=", false, "before after "},
      {"segment write", false, [](Store& s) { s.faulty.FailNthWrite(3, ENOSPC); }, nullptr,
       ".id2 Error: Number=28, Description=", false, "before after "},
      {"data write", false, [](Store& s) { s.faulty.FailNthWrite(1, EIO); }, nullptr,
       ".bin Error: Number=5, Description=", false, "before after "},
      {"short data write", false, [](Store& s) { s.faulty.ShortenNextWrite(3); }, nullptr,
       ".bin Error: Number=5, Description=", false, "before after "},
      {"data sync", false, [](Store& s) { s.faulty.FailNthSync(1, EIO); }, nullptr,
       "10 DBSync /store/260105100000.bin Error: Number=5", false, "before after "},
      {"set cannot open", true, [](Store& s) { s.faulty.FailOpen(kFirst + ".id2", EACCES); },
       [](Store& s) { s.faulty.ClearOpenFailures(); },
       "10 SaveFrame: OpendDBFiles failed. " + kFirst + " Error: Number=13", false, "after "},
      {"folder removed", false,
       [](Store& s) {
         std::string ignored;
         for (const char* extension : {".bin", ".idx", ".id2"})
           s.memory.Remove(kFirst + extension, ignored);
         s.memory.Rename("/store", "/gone", ignored);
       },
       nullptr, "10 Store files of " + kFirst + " were removed. Saving goes on in a new file set.",
       true, "during during after "},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.fault);
    Store s;
    s.writer.Prepare();
    if (!row.on_new_set) {
      s.Queue(kText, "before");
      ASSERT_EQ(s.Save(), 1);
    }
    row.begin(s);
    // A lasting fault meets two runs, the second within the report gap; a
    // one-time fault (no end) one.
    const int runs = row.end || row.saves_through ? 2 : 1;
    for (int run = 0; run < runs; ++run) {
      s.loop.AdvanceBy(kStoreNameCheckInterval);  // removed files are seen this late at most
      s.Queue(kText, "during");
      EXPECT_EQ(s.Save(), row.saves_through ? 1 : 0);
      EXPECT_EQ(s.lines.back() == "4 1 frames lost.", !row.saves_through);
    }
    EXPECT_EQ(s.Count(row.message), 1);
    EXPECT_EQ(s.Count("10 "), 1);
    if (row.end) row.end(s);
    s.Queue(kText, "after");
    EXPECT_EQ(s.Save(), 1);
    EXPECT_EQ(s.Count("Saving into"), row.saves_through ? 0 : 1);
    std::string stored;
    for (const std::string& set : s.sets) {
      bool sound = true;
      for (const auto& f : testing::ReadFileSet(s.memory, set, &sound)) stored += f.data + " ";
      EXPECT_TRUE(sound || !s.memory.FileExists(set + ".id2")) << set;
    }
    EXPECT_EQ(stored, row.stored);
    EXPECT_EQ(s.memory.OpenFileCount(), 3);
  }
}

// A run whose segment write landed but whose sync failed counts its frames as
// lost; the next run writes its frames where they were. The process dies right
// after those reach .bin: the set, continued on restart, shows only whole
// frames that were queued.
TEST(StoreWriterTest, AFailedSegmentSyncThenACutLeavesNoMixedFrames) {
  Store s;
  s.writer.Prepare();
  const std::set<std::string> queued = {"A", std::string(100, 'B'), std::string(100, 'C'),
                                        std::string(150, 'D')};
  s.Queue(kText, "A");
  ASSERT_EQ(s.Save(), 1);
  s.faulty.FailNthSync(3, EIO);  // after the data and the index
  for (const char c : {'B', 'C'}) s.Queue(kText, std::string(100, c));
  ASSERT_EQ(s.Save(), 0);
  std::unique_ptr<MemoryFileSystem> died;
  s.memory.SetObserver([&](const FileMutation& m) {
    if (!died && m.path == kFirst + ".bin") died = s.memory.Clone();
  });
  s.Queue(kText, std::string(150, 'D'));
  ASSERT_EQ(s.Save(), 1);
  ASSERT_TRUE(died);
  Store restarted;
  StoreWriter writer{*died, restarted.loop.GetClock(), restarted.rates, restarted};
  writer.Settings() = s.writer.Settings();
  writer.SetFileSet(s.writer.FileName(), s.writer.FileTime());
  writer.Prepare();
  for (const auto& f : testing::ReadFileSet(*died, kFirst))
    EXPECT_EQ(queued.count(f.data), 1u) << f.data;
}

// Each run with frames writes each file once (the frames in one vectored
// write), lets the frames go, and asks nothing of the file system but, once
// per check interval, whether the files still have their names. A run with nothing to save
// writes nothing: the segment's end moves to now in memory, and reaches the
// file with the next frame, once it waited the refresh interval, or at Close
// (also a second Prepare's, which reads the set afresh).
TEST(StoreWriterTest, WritesEachFileOnceARunAndNothingWhenIdle) {
  Store s;
  s.writer.Prepare();
  s.Queue(kText, "first");
  ASSERT_EQ(s.Save(), 1);
  // The three files and, for their new names, the store folder; the folders
  // above it are synced only when the writer had to make it.
  EXPECT_EQ(s.faulty.SyncsSeen(), 4);
  const auto end_in_file = [&] { return LittleEndianAt(s.memory.Contents(kFirst + ".id2"), 20); };
  const int refresh_ms = static_cast<int>(milliseconds(kSegmentEndRefreshInterval).count());
  const int check_ms = static_cast<int>(milliseconds(kStoreNameCheckInterval).count());
  // advance (ms), frames queued; writes, syncs and stat calls it makes
  const std::tuple<int, int, int, int, int> rows[] = {
      {100, 3, 3, 3, 0},         // one write per file, no stat call
      {100, 0, 0, 0, 0},         // nothing to save: nothing written
      {check_ms, 2, 3, 3, 3},    // the names are checked once per interval
      {refresh_ms, 0, 1, 1, 3},  // the segment end waited long enough
      {100, 0, 0, 0, 0},
  };
  int elapsed_ms = 0;
  for (const auto& [advance_ms, frames, writes, syncs, queries] : rows) {
    SCOPED_TRACE(elapsed_ms);
    s.loop.AdvanceBy(milliseconds(advance_ms));
    elapsed_ms += advance_ms;
    std::vector<std::weak_ptr<MediaFrame>> queued;
    for (int i = 0; i < frames; ++i) queued.push_back(s.Queue(kText, "frame"));
    const int64_t writes_before = s.faulty.WritesSeen(), syncs_before = s.faulty.SyncsSeen(),
                  queries_before = s.faulty.QueriesSeen();
    EXPECT_EQ(s.Save(), frames);
    EXPECT_EQ(s.faulty.WritesSeen() - writes_before, writes);
    EXPECT_EQ(s.faulty.SyncsSeen() - syncs_before, syncs);
    EXPECT_EQ(s.faulty.QueriesSeen() - queries_before, queries);
    // The run lets its frames go once their bytes are written.
    EXPECT_TRUE(std::ranges::all_of(queued, [](const auto& f) { return f.expired(); }));
    // (the clock's milliseconds are truncated: 0.1 s may read as 99 ms)
    EXPECT_NEAR(s.writer.CurrentSegment().EndTime, At(elapsed_ms), 1);
    EXPECT_NEAR(end_in_file(), writes > 0 ? At(elapsed_ms) : At(elapsed_ms - advance_ms), 1);
  }
  s.writer.Prepare();
  EXPECT_NEAR(end_in_file(), At(elapsed_ms), 1);
  EXPECT_EQ(s.Frames(kFirst).size(), 6u);
}

// On real files: with the sync setting on, a run's frames go to the disk past
// the page cache (a recording does not fill it); with it off the cache takes
// them, and the run does not wait for the disk.
TEST(StoreWriterTest, SyncedRunsSendTheirFramesPastThePageCache) {
  testing::TempFolder folder;
  if (!testing::WritesCanSkipTheCache(folder.Path())) GTEST_SKIP() << "tmpfs: " << folder.Path();
  struct : StoreWriterOwner {
    void OnNewFileSet(const std::string&, double) override {}
    void OnSegmentRestart() override {}
    void Debug(uint8_t, const std::string&) override {}
  } owner;
  const std::unique_ptr<FileSystem> files = NewPosixFileSystem();
  SimulatedLoop loop;
  RateStatistics rates{loop.GetClock()};
  for (const bool sync : {true, false}) {
    SCOPED_TRACE(sync);
    StoreWriter writer{*files, loop.GetClock(), rates, owner};
    const std::string store = folder.Path(sync ? "on/" : "off/");
    writer.Settings() = {store, true, 0, 10, 0, 0, false, sync};
    SaveQueue queue;
    for (int i = 0; i < 8; ++i) {  // 400,000 bytes: 98 pages
      auto frame = std::make_shared<MediaFrame>();
      frame->SetData(kJpeg, std::string(50'000, static_cast<char>('a' + i)));
      queue.Offer(frame);
    }
    ASSERT_EQ(writer.ForcedSave(queue, true), 8);
    writer.Close();
    // Synced: only the partial last block stays cached.
    EXPECT_EQ(testing::CachedPages(store + writer.FileName() + ".bin"), sync ? 1 : 98);
  }
}

// A sound registered set is continued after its last frame (41, 5,000 bytes at
// 200,001) in a new segment, also past a hole a failed run left in its index
// and after a torn segment record is cut off. A last run cut short (records
// `written` + 1 to 41 never written) is repaired so that the set reads as
// consistent: its last segment ends at its last written frame, searched only
// within the segment (old records of a recycled index beyond it do not
// count), or goes when none of its frames was written, or when it reaches back
// over frames an earlier segment names; then a new set begins.
TEST(StoreOpeningTest, ContinuesASoundSetAndRepairsADamagedOne) {
  // segment start, last record written, a hole at, stale records after 41,
  // .id2 cut to (bytes; 56: a record of zeros after the segment, whose length
  // reached the disk but not its bytes), .idx cut to (records); segment
  // records afterwards, the last one's end, frames lost (-1: no message), continued
  const std::tuple<int32_t, int32_t, int32_t, int, int, int, int, int32_t, int, bool> rows[] = {
      {0, 41, -1, 0, -1, -1, 1, 41, -1, true},  {0, 41, 20, 0, -1, -1, 1, 41, -1, true},
      {0, 41, -1, 0, 30, -1, 1, 41, -1, true},  {41, 41, -1, 0, -1, -1, 1, 41, -1, true},
      {30, 37, -1, 0, -1, -1, 1, 37, 4, false}, {0, 1, -1, 0, -1, -1, 1, 1, 40, false},
      {0, 0, -1, 0, -1, -1, 1, 0, 41, false},   {0, 20, -1, 9, -1, -1, 1, 20, 21, false},
      {38, 37, -1, 0, -1, -1, 0, -1, 4, false}, {0, 41, -1, 0, -1, 41, 1, 40, 1, false},
      {0, 41, -1, 0, 0, -1, 0, -1, -1, false},  {0, 41, -1, 0, 27, -1, 0, -1, -1, false},
      {0, 41, -1, 0, 56, -1, 1, 41, 0, false},
  };
  for (const auto& [start, written, hole, stale, id2_bytes, idx_records, segments, end, lost,
                    continued] : rows) {
    Store s;
    s.WriteSet(kOld, start, 41, written);
    for (int n = 42; n < 42 + stale; ++n)  // an older set's records, as a recycled index holds
      s.memory.Apply(FileMutation::Write(kOld + ".idx", n * kIndexRecordBytes,
                                         IndexRecord{n, 1, 0, 20250101, 0, kJpeg}.Encode()));
    if (hole >= 0)
      s.memory.Apply(FileMutation::Write(kOld + ".idx", hole * kIndexRecordBytes,
                                         std::string(kIndexRecordBytes, '\0')));
    if (id2_bytes >= 0) s.memory.Apply(FileMutation::SetSize(kOld + ".id2", id2_bytes));
    if (idx_records >= 0)
      s.memory.Apply(FileMutation::SetSize(kOld + ".idx", idx_records * kIndexRecordBytes));
    s.writer.SetFileSet(kOldName, kDay - 4);
    s.writer.Prepare();
    SCOPED_TRACE(std::to_string(start) + " " + std::to_string(written));
    EXPECT_EQ(s.memory.OpenFileCount(), 0);  // the repair closes what it opened
    std::string id2 = s.memory.Contents(kOld + ".id2");
    EXPECT_EQ(id2.size(), size_t{kID2RecordBytes} * segments);
    if (end >= 0) {
      EXPECT_EQ(LittleEndianAt(id2, 16), end);
      EXPECT_EQ(LittleEndianAt(id2, 20), end < 41 ? 120000000 + end : 120000999);
    }
    EXPECT_EQ(s.Count("10 File /store/260101120000 was corrupted. Data repaired. " +
                      std::to_string(lost) + " frames lost."),
              lost >= 0 ? 1 : 0);
    EXPECT_EQ(s.Count("corrupted"), lost >= 0 ? 1 : 0);
    std::string error;
    FrameWalkCounts counts;
    StoreReader(s.memory, "/store/")
        .ForEachFrame(
            kOldName, [](auto&) { return true; }, counts, error);
    EXPECT_EQ(counts.frames, segments ? end - start + 1 - (hole >= 0) : 0);
    EXPECT_EQ(counts.bad_records + counts.missing_records + counts.bad_segments, hole >= 0);
    EXPECT_EQ(s.writer.FileName() == kOldName, continued);
    if (!continued) continue;
    s.Queue(kJpeg, "frame 42");
    EXPECT_EQ(s.Save(), 1);
    EXPECT_EQ(LittleEndianAt(s.memory.Contents(kOld + ".idx"), 42 * kIndexRecordBytes), 205'001);
    // The new segment starts at frame 42, right after the last whole record.
    id2 = s.memory.Contents(kOld + ".id2");
    EXPECT_EQ(id2.size(), 2u * kID2RecordBytes);
    EXPECT_EQ(LittleEndianAt(id2, kID2RecordBytes + 4), 42);
    const ID2Data& segment = s.writer.CurrentSegment();
    EXPECT_EQ(
        std::tuple(segment.StartFrame, segment.EndFrame, segment.FileName, segment.FileSize),
        std::tuple(42, 42, kOld, static_cast<int32_t>(s.memory.Contents(kOld + ".bin").size())));
  }
}

}  // namespace
}  // namespace ravelon

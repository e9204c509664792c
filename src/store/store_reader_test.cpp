// The store reader over file sets written byte by byte: sound sets with
// preallocated tails, and every kind of damage a crash, a recycled set or a
// corrupt file leaves behind.
#include "ravelon/store_reader.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstring>
#include <initializer_list>
#include <memory>
#include <string>
#include <tuple>
#include <utility>
#include <vector>

#include "ravelon/testing/fault_injecting_file_system.h"
#include "ravelon/testing/memory_file_system.h"

namespace ravelon {
namespace {

std::string Le(int32_t v) {
  std::string bytes;
  for (int i = 0; i < 4; ++i) bytes += static_cast<char>(static_cast<uint32_t>(v) >> (8 * i));
  return bytes;
}

// Frame n holds n + 1 bytes 'a' + n, stamped 2026-12-04 13:45:0n, motion n.
const std::string kBin = "abbcccddddeeeee";
StoredFrame Expected(int32_t n) {
  return {.index = n,
          .data_type = static_cast<uint8_t>(1 + n % 2),
          .motion = static_cast<uint8_t>(n),
          .date = 20261204,
          .time = 134500000 + n * 1000,
          .data = std::string(n + 1, static_cast<char>('a' + n))};
}
std::string Record(int32_t position, int32_t length, int32_t n = 0) {
  const StoredFrame f = Expected(n);
  return Le(position) + Le(length) + Le(f.time) + Le(f.date) + static_cast<char>(f.motion) +
         static_cast<char>(f.data_type);
}
std::string Segment(int32_t start, int32_t end) {
  return Le(500) + Le(start) + Le(134500000) + Le(20261204) + Le(end) + Le(134509000) +
         Le(20261204);
}
// The index records of frames 0 to 4, with record n replaced where `patches` says.
std::string Idx(std::initializer_list<std::pair<int, std::string>> patches = {}) {
  std::string idx;
  for (int32_t n = 0, position = 1; n < 5; position += ++n) idx += Record(position, n + 1, n);
  for (const auto& [n, record] : patches) idx.replace(18 * n, 18, record);
  return idx;
}

class StoreReaderTest : public ::testing::Test {
 protected:
  StoreReaderTest() { fs_.CreateDirectory("/store", error_); }
  void Put(const std::string& path, const std::string& bytes) {
    std::unique_ptr<RandomAccessFile> file;
    ASSERT_EQ(fs_.Open(path, FileSystem::OpenMode::kCreateTruncate, file, error_), 0);
    ASSERT_EQ(file->WriteAt(0, bytes, error_), 0);
  }
  void PutSet(const std::string& name, const std::string& bin, const std::string& idx,
              const std::string& id2) {
    Put("/store/" + name + ".bin", bin);
    Put("/store/" + name + ".idx", idx);
    Put("/store/" + name + ".id2", id2);
  }

  MemoryFileSystem fs_;
  StoreReader reader_{fs_, "/store/"};
  std::string error_;
};

// Each walk is written "frame/segment ...; bad_records missing_records bad_segments".
// Every walk opens .bin holding frames 0 to 2 only; at frame 0 the rest is
// written, as by an engine saving while the walk runs.
TEST_F(StoreReaderTest, WalksNamedFramesAndCountsDamage) {
  // Frame 1 starts past .bin, 2 has a negative length, 3 one past the limit, 4 ends past .bin.
  const std::string outside = Idx({{1, Record(16, 1)},
                                   {2, Record(4, -1)},
                                   {3, Record(1, StoreReader::kMaxFrameBytes + 1)},
                                   {4, Record(11, 6)}});
  const struct {
    std::string idx, id2;
    const char* walk;
  } cases[] = {
      // Preallocated zero records (and a partial one) after the last frame.
      {Idx() + std::string(40, '\0'), Segment(0, 2) + Segment(3, 4), "0/0 1/0 2/0 3/1 4/1; 0 0 0"},
      {Idx({{2, Record(0, 3)}}), Segment(0, 4), "0/0 1/0 3/0 4/0; 1 0 0"},
      {outside, Segment(0, 4), "0/0; 4 0 0"},
      {Idx(), Segment(0, 3) + Segment(4, 5) + Segment(6, INT_MAX),
       "0/0 1/0 2/0 3/0 4/1; 0 2147483643 0"},
      {Idx().substr(0, 85), Segment(0, 4), "0/0 1/0 2/0 3/0; 0 1 0"},
      // Negative, backwards, reaching back, wholly repeated.
      {Idx(),
       Segment(0, 1) + Segment(-1, 3) + Segment(3, 2) + Segment(1, 3) + Segment(2, 2) +
           Segment(3, 4),
       "0/0 1/0 2/3 3/3 4/5; 0 0 5"},
      // A recycled set's old records after the last segment, and a partial .id2 record.
      {Idx(), Segment(0, 2) + Segment(3, 4).substr(0, 20), "0/0 1/0 2/0; 0 0 0"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.walk);
    PutSet("261204134507", kBin.substr(0, 6), c.idx, c.id2);
    std::string walk;
    FrameWalkCounts n;
    ASSERT_TRUE(reader_.ForEachFrame(
        "261204134507",
        [&](const StoredFrame& f) {
          if (f.index == 0) Put("/store/261204134507.bin", kBin);
          const StoredFrame e = Expected(f.index);
          EXPECT_EQ(std::tie(f.data, f.date, f.time, f.motion, f.data_type),
                    std::tie(e.data, e.date, e.time, e.motion, e.data_type));
          walk +=
              (walk.empty() ? "" : " ") + std::to_string(f.index) + "/" + std::to_string(f.segment);
          return true;
        },
        n, error_))
        << error_;
    EXPECT_EQ(walk + "; " + std::to_string(n.bad_records) + " " +
                  std::to_string(n.missing_records) + " " + std::to_string(n.bad_segments),
              c.walk);
  }
}

// Runs longer than one read of records, over 4,096 segments, empty frames,
// a visitor that stops.
TEST_F(StoreReaderTest, WalksAcrossReadChunks) {
  constexpr int32_t kFrames = 8'200, kFirstRun = 4'100;
  std::string bin, idx, id2 = Segment(0, kFirstRun - 1);
  for (int32_t n = 0; n < kFrames; ++n) {
    idx += Record(static_cast<int32_t>(bin.size()) + 1, n % 3, n);
    bin += std::string(n % 3, static_cast<char>(n));
    if (n >= kFirstRun) id2 += Segment(n, n);
  }
  PutSet("261204134507", bin, idx, id2);
  int32_t next = 0;
  FrameWalkCounts counts;
  ASSERT_TRUE(reader_.ForEachFrame(
      "261204134507",
      [&](const StoredFrame& f) {
        EXPECT_EQ(std::tie(f.index, f.segment, f.data),
                  std::make_tuple(next, std::max(0, next - kFirstRun + 1),
                                  std::string(next % 3, static_cast<char>(next))));
        return ++next < kFrames - 1;  // stops before the last
      },
      counts, error_))
      << error_;
  EXPECT_EQ(std::tie(counts.frames, counts.stopped), std::make_tuple(int64_t{kFrames - 1}, true));
}

TEST_F(StoreReaderTest, ReadFrameSaysWhyAFrameCannotBeRead) {
  PutSet("261204134507", kBin, Idx({{2, Record(0, 3)}, {3, Record(12, 9)}}),
         Segment(0, 3) + Segment(4, 4) + Segment(5, 6));
  Put("/store/261204134508.idx", Idx());
  Put("/store/261204134508.id2", Segment(0, 4));
  const struct {
    const char* name;
    int32_t index;
    const char* error;  // empty: the frame is read
  } cases[] = {
      {"261204134507", 1, ""},
      {"261204134507", 4, ""},
      {"261204134507", 2, "was never written"},
      {"261204134507", 3, "lies outside .bin (position 12, length 9, .bin has 15 bytes)"},
      {"261204134507", 5, "has no record in .idx"},
      {"261204134507", 7, "is not named by any segment"},
      {"26120413450", 0, "is not a file set name"},
      {"261204134508", 0, "/store/261204134508.bin does not exist"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(std::string(c.name) + " " + std::to_string(c.index));
    StoredFrame f;
    error_.clear();
    EXPECT_EQ(reader_.ReadFrame(c.name, c.index, f, error_), *c.error == '\0');
    EXPECT_NE(error_.find(c.error), std::string::npos) << error_;
    FrameWalkCounts counts;  // a set that cannot be opened cannot be walked either
    EXPECT_TRUE(c.index != 0 || !reader_.ForEachFrame(c.name, nullptr, counts, error_));
    const StoredFrame e = Expected(c.index);
    if (*c.error == '\0') {
      EXPECT_EQ(
          std::tie(f.data, f.date, f.time, f.motion, f.data_type, f.segment),
          std::make_tuple(e.data, e.date, e.time, e.motion, e.data_type, f.index == 4 ? 1 : 0));
    }
  }
}

TEST_F(StoreReaderTest, ListsFileSetsOldestFirstAndReadsSegments) {
  PutSet("261204134507", kBin, Idx(), Segment(0, 2) + Segment(3, 4));
  Put("/store/250101000000.bin", kBin);
  Put("/store/250101000000.idx", Idx());
  Put("/store/261204134508.bin", "");
  Put("/store/261204134508.id2", Segment(0, 4));
  PutSet("291231235959", kBin, Idx().substr(0, 20), Segment(0, 1) + "0123456789");
  for (const char* other : {"notes.txt", "26120413450.bin", "2612041345070.bin", "26120413450a.bin",
                            "261204134509.tmp", "cam_261204134512.bin"}) {
    Put(std::string("/store/") + other, "x");
  }
  fs_.CreateDirectory("/store/261204134510.bin", error_);
  fs_.CreateDirectory("/store/sub", error_);
  Put("/store/sub/261204134511.bin", "x");

  FaultInjectingFileSystem faulty(fs_);
  faulty.FailOpen("/store/261204134508.bin", EIO);
  std::vector<FileSetInfo> sets;
  ASSERT_TRUE(StoreReader(faulty, "/store/").ListFileSets(sets, error_)) << error_;
  std::string listed;
  for (const FileSetInfo& s : sets) {
    listed += s.name + " " + std::to_string(s.bin_bytes) + " " + std::to_string(s.idx_bytes) + " " +
              std::to_string(s.id2_bytes) + " " + std::to_string(s.segments) + " " +
              std::to_string(s.frames) + " " + s.note + "\n";
  }
  EXPECT_EQ(
      listed,
      "250101000000 15 90 -1 0 0 /store/250101000000.id2 does not exist\n"
      "261204134507 15 90 56 2 5 \n"
      "261204134508 -1 -1 28 1 0 cannot open /store/261204134508.bin: injected: " +
          std::string(std::strerror(EIO)) +
          "; /store/261204134508.idx does not exist\n"
          "291231235959 15 20 38 1 1 .id2 ends with a partial record of 10 bytes; 1 frame named "
          "by segments past the end of .idx\n");
  std::vector<SegmentInfo> segments;
  EXPECT_FALSE(reader_.ReadSegments("250101000000", segments, error_));
  EXPECT_FALSE(reader_.ReadSegments("25010100000", segments, error_));
  // The partial record is left out.
  ASSERT_TRUE(reader_.ReadSegments("291231235959", segments, error_)) << error_;
  ASSERT_EQ(segments.size(), 1u);
  const SegmentInfo& g = segments[0];
  EXPECT_EQ(std::tie(g.save_interval, g.start_frame, g.start_time, g.start_date, g.end_frame,
                     g.end_time, g.end_date),
            std::make_tuple(500, 0, 134500000, 20261204, 1, 134509000, 20261204));

  StoreReader prefixed(fs_, "/store/cam_");
  ASSERT_TRUE(prefixed.ListFileSets(sets, error_)) << error_;
  ASSERT_EQ(sets.size(), 1u);
  EXPECT_EQ(sets[0].name, "261204134512");
  EXPECT_FALSE(StoreReader(fs_, "/nowhere/").ListFileSets(sets, error_));
}

}  // namespace
}  // namespace ravelon

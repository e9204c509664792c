// The store's records, and the store reader over file sets written byte by
// byte: sound sets with preallocated tails, and every kind of damage a crash,
// a recycled set or a corrupt file leaves behind.
#include "ravelon/store_reader.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <climits>
#include <cmath>
#include <cstring>
#include <string>
#include <tuple>
#include <vector>

#include "common/hex_encoding.h"
#include "ravelon/testing/fault_injecting_file_system.h"
#include "ravelon/testing/memory_file_system.h"
#include "store/record_formats.h"

namespace ravelon {
namespace {

// Little-endian fields in a fixed order, decoded back field for field, and
// only from exactly one record's bytes. A packed time of 86,400 s or more, or
// below 0, is 0; 0.123 s is held as 0.12299... and still packs as 123.
TEST(RecordFormatsTest, RecordsDatesAndTimes) {
  const IndexRecord record{1, 5000, 134507123, 20261204, 12, 1};
  EXPECT_EQ(StringToHex(record.Encode()), "0100000088130000736A0408542935010C01");
  const ID2Record segment{500, 3, 1, 2, 9, 4, 5};
  EXPECT_EQ(segment.Encode().substr(kID2EndFieldsOffset), segment.EncodeEnd());
  IndexRecord record_back;
  ID2Record segment_back;
  EXPECT_FALSE(record_back.Decode(record.Encode() + "x") ||
               segment_back.Decode(segment.EncodeEnd()));
  ASSERT_TRUE(record_back.Decode(record.Encode()) && segment_back.Decode(segment.Encode()));
  EXPECT_EQ(record_back.Encode() + segment_back.Encode(), record.Encode() + segment.Encode());
  const std::pair<double, int32_t> times[] = {
      {49507.123, 134507123}, {86400, 0}, {-1, 0}, {86399.9996, 235959999}, {0.123, 123}};
  for (const auto& [seconds, packed] : times) EXPECT_EQ(TimeToLong(seconds), packed) << seconds;
  const double leap_day = DaysSince18991230(2000, 2, 29);
  EXPECT_EQ(std::tuple(DateToLong(leap_day), DateToLong(leap_day + 0.75), DateToLong(0)),
            std::tuple(20000229, 20000229, 18991230));
  // Hostile dates (an event list's) are held within years 1 to 9999.
  EXPECT_EQ(std::tuple(DateToLong(1e300), DateToLong(-1e300), DateToLong(std::nan(""))),
            std::tuple(99991231, 10101, 18991230));
}

const std::string kSet = "261204134507";
// Frame n is n + 1 bytes 'a' + n, of type 1 + n % 2 and motion n, stamped
// 2026-12-04 13:45:0n.
const std::string kBin = "abbcccddddeeeee";
std::string Record(int32_t position, int32_t length, int32_t n = 0) {
  const auto motion = static_cast<uint8_t>(n), type = static_cast<uint8_t>(1 + n % 2);
  return IndexRecord{position, length, 134500000 + n * 1000, 20261204, motion, type}.Encode();
}
std::string Segment(int32_t start, int32_t end) {
  return ID2Record{500, start, 134500000, 20261204, end, 134509000, 20261204}.Encode();
}
// The index records of frames 0 to 4, with record n replaced where `patches` says.
std::string Idx(std::initializer_list<std::pair<int, std::string>> patches = {}) {
  std::string idx;
  for (int32_t n = 0, position = 1; n < 5; position += ++n) idx += Record(position, n + 1, n);
  for (const auto& [n, record] : patches) idx.replace(18 * n, 18, record);
  return idx;
}
// "frame/segment ", with "bad " first unless the frame is all that frame n is.
std::string Seen(const StoredFrame& f) {
  const int32_t n = f.index;
  const bool whole = f.data == std::string(n + 1, static_cast<char>('a' + n)) &&
                     f.time == 134500000 + n * 1000 && f.date == 20261204 && f.motion == n &&
                     f.data_type == 1 + n % 2;
  return (whole ? "" : "bad ") + std::to_string(n) + "/" + std::to_string(f.segment) + " ";
}

class StoreReaderTest : public ::testing::Test {
 protected:
  StoreReaderTest() { fs_.Apply(FileMutation::CreateDirectory("/store")); }
  void Put(const std::string& file, const std::string& bytes) {
    fs_.Apply(FileMutation::SetSize("/store/" + file, 0));
    fs_.Apply(FileMutation::Write("/store/" + file, 0, bytes));
  }
  void PutSet(const std::string& name, const std::string& bin, const std::string& idx,
              const std::string& id2) {
    for (const auto& [ext, bytes] : {std::pair{".bin", bin}, {".idx", idx}, {".id2", id2}})
      Put(name + ext, bytes);
  }

  MemoryFileSystem fs_;
  StoreReader reader_{fs_, "/store/"};
  std::string error_;
};

// Each walk opens .bin holding frames 0 to 2 only; at frame 0 the rest is
// written, as by an engine saving while the walk runs.
TEST_F(StoreReaderTest, WalksNamedFramesAndCountsDamage) {
  // Frame 1 starts past .bin, 2 has a negative length, 3 one past the limit, 4 ends past .bin.
  const std::string outside = Idx({{1, Record(16, 1)},
                                   {2, Record(4, -1)},
                                   {4, Record(11, 6)},
                                   {3, Record(1, StoreReader::kMaxFrameBytes + 1)}});
  // .idx, .id2, "frame/segment ...|bad records|missing records|bad segments"
  const std::tuple<std::string, std::string, const char*> cases[] = {
      // Preallocated zero records (and a partial one) after the last frame.
      {Idx() + std::string(40, '\0'), Segment(0, 2) + Segment(3, 4), "0/0 1/0 2/0 3/1 4/1 |0|0|0"},
      {Idx({{2, Record(0, 3)}}), Segment(0, 4), "0/0 1/0 3/0 4/0 |1|0|0"},
      {outside, Segment(0, 4), "0/0 |4|0|0"},
      {Idx(), Segment(0, 3) + Segment(4, 5) + Segment(6, INT_MAX),
       "0/0 1/0 2/0 3/0 4/1 |0|2147483643|0"},
      {Idx().substr(0, 85), Segment(0, 4), "0/0 1/0 2/0 3/0 |0|1|0"},
      // Negative, backwards, reaching back, wholly repeated.
      {Idx(),
       Segment(0, 1) + Segment(-1, 3) + Segment(3, 2) + Segment(1, 3) + Segment(2, 2) +
           Segment(3, 4),
       "0/0 1/0 2/3 3/3 4/5 |0|0|5"},
      // A recycled set's old records after the last segment, and a partial .id2 record.
      {Idx(), Segment(0, 2) + Segment(3, 4).substr(0, 20), "0/0 1/0 2/0 |0|0|0"},
  };
  for (const auto& [idx, id2, expected] : cases) {
    PutSet(kSet, kBin.substr(0, 6), idx, id2);
    std::string walk;
    FrameWalkCounts n;
    const auto visit = [&](const StoredFrame& f) {
      if (f.index == 0) Put(kSet + ".bin", kBin);
      return !(walk += Seen(f)).empty();
    };
    EXPECT_TRUE(reader_.ForEachFrame(kSet, visit, n, error_)) << error_;
    for (const int64_t c : {n.bad_records, n.missing_records, n.bad_segments})
      walk += "|" + std::to_string(c);
    EXPECT_EQ(walk, expected);
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
  PutSet(kSet, bin, idx, id2);
  int32_t next = 0;
  FrameWalkCounts counts;
  const auto visit = [&](const StoredFrame& f) {
    EXPECT_EQ(std::tie(f.index, f.segment, f.data),
              std::tuple(next, std::max(0, next - kFirstRun + 1),
                         std::string(next % 3, static_cast<char>(next))));
    return ++next < kFrames - 1;  // stops before the last
  };
  ASSERT_TRUE(reader_.ForEachFrame(kSet, visit, counts, error_)) << error_;
  EXPECT_EQ(std::tie(counts.frames, counts.stopped), std::tuple(int64_t{kFrames - 1}, true));
}

// Four sets: one with damaged frames and bad segments past .idx, one without
// .bin, one whose .bin cannot be opened and without .id2, one ending in
// partial records; and files that are not a set's.
TEST_F(StoreReaderTest, ReadsFramesAndListsSetsSayingWhatIsWrong) {
  PutSet(kSet, kBin, Idx({{2, Record(0, 3)}, {3, Record(12, 9)}}),
         Segment(0, 3) + Segment(4, 4) + Segment(5, 6) + Segment(2, 2));
  PutSet("261204134508", kBin, Idx(), Segment(0, 4));
  fs_.Apply(FileMutation::Remove("/store/261204134508.bin"));
  PutSet("250101000000", kBin, Idx(), "");
  fs_.Apply(FileMutation::Remove("/store/250101000000.id2"));
  PutSet("291231235959", kBin, Idx().substr(0, 20), Segment(0, 1) + "0123456789");
  fs_.Apply(FileMutation::CreateDirectory("/store/261204134510.bin"));
  fs_.Apply(FileMutation::CreateDirectory("/store/sub"));
  for (const char* other : {"notes.txt", "26120413450.bin", "2612041345070.bin", "26120413450a.bin",
                            "261204134509.tmp", "cam_261204134512.bin", "sub/261204134511.bin"})
    Put(other, "x");
  // set, frame, the frame read (as Seen) or a part of the error
  const std::tuple<std::string, int32_t, const char*> cases[] = {
      {kSet, 1, "1/0 "},
      {kSet, 4, "4/1 "},
      {kSet, 2, "was never written"},
      {kSet, 3, "lies outside .bin (position 12, length 9, .bin has 15 bytes)"},
      {kSet, 5, "has no record in .idx"},
      {kSet, 7, "is not named by any segment"},
      {"26120413450", 0, "is not a file set name"},
      {"261204134508", 0, "/store/261204134508.bin does not exist"}};
  for (const auto& [name, index, expected] : cases) {
    StoredFrame f;
    const bool read = reader_.ReadFrame(name, index, f, error_);
    EXPECT_TRUE(read ? Seen(f) == expected : error_.find(expected) != std::string::npos)
        << name << " " << index << ": " << (read ? Seen(f) : error_);
    FrameWalkCounts counts;  // a set that cannot be opened cannot be walked either
    EXPECT_TRUE(index != 0 || !reader_.ForEachFrame(name, nullptr, counts, error_));
  }

  // A file that opens but cannot be read fails the call that needs it; its
  // bytes are not taken for an empty or short file.
  FaultInjectingFileSystem faulty(fs_);
  for (const char* extension : {".bin", ".idx", ".id2"}) {
    const std::string path = "/store/" + kSet + extension;
    faulty.FailReads(path, EIO);
    StoreReader reader(faulty, "/store/");
    StoredFrame f;
    FrameWalkCounts counts;
    std::vector<SegmentInfo> segments;
    EXPECT_FALSE(reader.ReadFrame(kSet, 1, f, error_)) << extension;
    EXPECT_EQ(error_, "cannot read " + path + ": injected: " + std::strerror(EIO));
    EXPECT_FALSE(reader.ForEachFrame(
        kSet, [](const StoredFrame&) { return true; }, counts, error_))
        << extension;
    EXPECT_EQ(reader.ReadSegments(kSet, segments, error_), extension != std::string(".id2"));
    faulty.ClearReadFailures();
  }
  faulty.FailOpen("/store/250101000000.bin", EIO);
  std::vector<FileSetInfo> sets;
  ASSERT_TRUE(StoreReader(faulty, "/store/").ListFileSets(sets, error_)) << error_;
  std::string listed;
  for (const FileSetInfo& s : sets) {
    listed += s.name;
    for (const int64_t n : {s.bin_bytes, s.idx_bytes, s.id2_bytes, s.segments, s.frames})
      listed += " " + std::to_string(n);
    listed += " " + s.note + "\n";
  }
  EXPECT_EQ(listed,
            "250101000000 -1 90 -1 0 0 cannot open /store/250101000000.bin: injected: " +
                std::string(std::strerror(EIO)) +
                "; /store/250101000000.id2 does not exist\n"
                "261204134507 15 90 112 4 5 1 bad segment; 2 frames named by segments past the "
                "end of .idx\n"
                "261204134508 -1 90 28 1 5 /store/261204134508.bin does not exist\n"
                "291231235959 15 20 38 1 1 .id2 ends with a partial record of 10 bytes; "
                "1 frame named by segments past the end of .idx\n");
  std::vector<SegmentInfo> segments;
  EXPECT_FALSE(reader_.ReadSegments("250101000000", segments, error_) ||
               reader_.ReadSegments("25010100000", segments, error_));
  ASSERT_TRUE(reader_.ReadSegments("291231235959", segments, error_)) << error_;
  ASSERT_EQ(segments.size(), 1u);  // the partial record is left out
  const SegmentInfo& g = segments[0];
  const ID2Record read{g.save_interval, g.start_frame, g.start_time, g.start_date,
                       g.end_frame,     g.end_time,    g.end_date};
  EXPECT_EQ(read.Encode(), Segment(0, 1));
  fs_.Apply(FileMutation::SetSize("/store/200101000000.id2",
                                  (StoreReader::kMaxSegments + 1) * kID2RecordBytes));
  EXPECT_FALSE(reader_.ReadSegments("200101000000", segments, error_));  // too many to list
  ASSERT_TRUE(StoreReader(fs_, "/store/cam_").ListFileSets(sets, error_)) << error_;
  ASSERT_EQ(sets.size(), 1u);
  EXPECT_EQ(sets[0].name, "261204134512");
  EXPECT_FALSE(StoreReader(fs_, "/nowhere/").ListFileSets(sets, error_));
}

}  // namespace
}  // namespace ravelon

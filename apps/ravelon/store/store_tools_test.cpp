// The store subcommands' work on a store that a real engine recorded into
// memory files: listing, verification against injected damage, export by
// time range and the contact sheet.
#include <gtest/gtest.h>

#include <algorithm>
#include <functional>
#include <map>
#include <utility>

#include "cli/command.h"
#include "ravelon/media_frame.h"
#include "ravelon/testing/fault_injecting_file_system.h"
#include "store/contact_sheet.h"
#include "store/even_sample.h"
#include "store/frame_export.h"
#include "store/store_listing.h"
#include "store/store_verify.h"
#include "tests/store_recording.h"

namespace ravelon::cli {
namespace {

using testing::kStoreFolder;

// Record fields, at the offsets the store reader's header documents.
constexpr int64_t kIdx = 18, kId2 = 28;
constexpr int64_t kPosition = 0, kLength = 4, kDate = 12;           // in an .idx record
constexpr int64_t kStartFrame = 4, kStartTime = 8, kEndFrame = 16;  // in an .id2 record

// Each test works on its own copy of the recorded store.
class StoreToolsTest : public ::testing::Test {
 protected:
  StoreFolder Folder() const { return ResolveStoreFolder(*files, kStoreFolder); }
  std::vector<FileSetInfo> Sets() const { return ListStoreSets(*files, Folder()); }
  std::string Path(int set, const std::string& extension) const {
    return kStoreFolder + Sets()[set].name + extension;
  }

  // The 32-bit number at `offset` of the file of set `set` that ends in `extension`.
  int32_t Get(const char* extension, int64_t offset, int set = 0) const {
    return ravelon::testing::LittleEndianAt(files->Contents(Path(set, extension)),
                                            static_cast<size_t>(offset));
  }
  void Change(const FileMutation& change) const { ASSERT_EQ(files->Apply(change), 0); }
  void Write(const char* extension, int64_t offset, std::string bytes) const {
    Change(FileMutation::Write(Path(0, extension), offset, std::move(bytes)));
  }
  // Writes `value` as a 32-bit number (little-endian, as the store) into set 0.
  void Poke(const char* extension, int64_t offset, int32_t value) const {
    Write(extension, offset, std::string(reinterpret_cast<const char*>(&value), 4));
  }

  std::unique_ptr<MemoryFileSystem> files = testing::Recorded().files().Clone();
};

TEST_F(StoreToolsTest, VerifyLocatesInjectedDamage) {
  struct Case {
    std::function<void()> damage;
    int set, segment, frame;  // where the problem is reported
    const char* text;         // what it says
  };
  const Case cases[] = {
      // a .bin cut inside frame 5
      {[&] {
         const int64_t end =
             Get(".idx", 5 * kIdx + kPosition) - 1 + Get(".idx", 5 * kIdx + kLength) / 2;
         Change(FileMutation::SetSize(Path(0, ".bin"), end));
       },
       0, 0, 5, "lies outside .bin"},
      // a record pointing past the end of .bin
      {[&] { Poke(".idx", 7 * kIdx + kPosition, 2'000'000'000); }, 0, 0, 7, "lies outside .bin"},
      // a record never written inside a segment
      {[&] { Poke(".idx", 9 * kIdx + kPosition, 0); }, 0, 0, 9, "was never written"},
      // a stamp going back a day
      {[&] { Poke(".idx", 12 * kIdx + kDate, 20261205); }, 0, 0, 12, "is earlier than frame 11's"},
      // overlapping segments
      {[&] { Poke(".id2", kId2 + kStartFrame, 20); }, 0, 1, -1, "names frames 20-23 again"},
      // a segment running backwards
      {[&] { Poke(".id2", kId2 + kEndFrame, 10); }, 0, 1, -1,
       "ends at frame 10, before it starts at frame 24"},
      // a segment reaching past the end of .idx
      {[&] { Change(FileMutation::SetSize(Path(1, ".idx"), 3 * kIdx)); }, 1, 0, -1,
       "frames 3-6 have no index record"},
      {[&] { Change(FileMutation::Remove(Path(1, ".idx"))); }, 1, -1, -1, ".idx is missing"},
      {[&] { Write(".id2", 2 * kId2, "12345"); }, 0, -1, -1, "partial segment record of 5 bytes"},
      // a picture's bytes lost
      {[&] { Write(".bin", Get(".idx", 2 * kIdx + kPosition) - 1, std::string(16, 0)); }, 0, 0, 2,
       "does not begin with the JPEG start marker FF D8 (but 00 00)"},
      // a segment start that is not its first frame's stamp
      {[&] { Poke(".id2", kStartTime, Get(".id2", kStartTime) + 1); }, 0, 0, 0,
       "the segment starts at"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.text);
    files = testing::Recorded().files().Clone();
    c.damage();
    const FileSetInfo set = Sets()[c.set];
    const SetVerdict verdict = VerifyFileSet(*files, Folder(), set);
    std::string found;
    for (const StoreProblem& p : verdict.problems) found += FormatProblem(set.name, p) + "\n";
    EXPECT_TRUE(!verdict.Sound() && std::ranges::any_of(verdict.problems, [&](const auto& p) {
      return p.segment == c.segment && p.frame == c.frame && p.text.find(c.text) != p.text.npos;
    })) << found;
  }
}

// An engine begins a segment while `store verify` checks the set: the walk over
// the frames meets a segment that was not there when the segments were read.
// Only the frames of the segments read are checked.
TEST_F(StoreToolsTest, VerifyOfALiveSetChecksTheSegmentsItRead) {
  struct Live : FaultInjectingFileSystem {
    using FaultInjectingFileSystem::FaultInjectingFileSystem;
    int32_t Open(const std::string& path, OpenMode mode, std::unique_ptr<RandomAccessFile>& file,
                 std::string& error) override {
      if (path.ends_with(".idx") && begin_segment) std::exchange(begin_segment, nullptr)();
      return FaultInjectingFileSystem::Open(path, mode, file, error);
    }
    std::function<void()> begin_segment;
  };
  const FileSetInfo set = Sets()[0];
  Live live(*files);
  // Frame n, a copy of the last frame's record, in a segment of its own.
  live.begin_segment = [&, n = Get(".id2", set.id2_bytes - kId2 + kEndFrame) + 1] {
    Write(".idx", n * kIdx, files->Contents(Path(0, ".idx")).substr((n - 1) * kIdx, kIdx));
    Write(".id2", set.id2_bytes, files->Contents(Path(0, ".id2")).substr(set.id2_bytes - kId2));
    Poke(".id2", set.id2_bytes + kStartFrame, n);
    Poke(".id2", set.id2_bytes + kEndFrame, n);
  };
  const SetVerdict verdict = VerifyFileSet(live, Folder(), set);
  EXPECT_EQ(std::tuple(verdict.problem_count, verdict.segments, verdict.frames),
            std::tuple(int64_t{0}, set.id2_bytes / kId2, set.frames));
}

TEST_F(StoreToolsTest, ExportWritesTheFramesOfARangeAsNumberedFilesOrAStream) {
  const std::vector<StoredFrame> all = testing::ReadAllFrames(*files, kStoreFolder);
  ASSERT_EQ(all.size(), 48u);
  const ExportCounts counts =
      ExportToFolder(*files, Folder(), Sets(), StampRange{}, *files, "/out");
  EXPECT_EQ(std::tuple(counts.pictures, counts.texts), std::tuple(44, 4));
  // How each data type is exported: file extension and content type (events are stored as lists).
  const std::map<uint8_t, std::pair<std::string, std::string>> as = {
      {kJpeg, {".jpg", "image/jpeg"}},
      {kText, {".txt", "text/plain"}},
      {kEventList, {".evl", "text/x-vesper-event-list"}}};
  std::string stream;
  ExportMultipart(*files, Folder(), Sets(), StampRange{}, true,
                  [&stream](std::string_view bytes) { stream += bytes; });
  const std::string boundary = "--" + std::string(kExportBoundary);
  std::string expected;
  for (size_t i = 0; i < all.size(); ++i) {
    const auto& [extension, type] = as.at(all[i].data_type);
    char name[32];
    std::snprintf(name, sizeof name, "/out/%06zu", i + 1);
    EXPECT_TRUE(files->Contents(name + extension) == all[i].data) << name;
    expected += boundary + "\r\nContent-Type: " + type +
                "\r\nContent-Length: " + std::to_string(all[i].data.size()) +
                "\r\nX-Stamp: " + FormatStamp(all[i].date, all[i].time) + "\r\n\r\n" + all[i].data +
                "\r\n";
  }
  // A stream with texts carries every frame with its content type.
  EXPECT_TRUE(stream == expected + boundary + "--\r\n");
  const std::string index = files->Contents("/out/index.tsv");
  EXPECT_EQ(std::count(index.begin(), index.end(), '\n'), 49);
  EXPECT_NE(index.find(FormatStamp(all[4].date, all[4].time) + "\t000005.txt\ttext\t0\t" +
                       Sets()[0].name + "\t4\n"),
            std::string::npos)
      << index;
  EXPECT_THROW(ExportToFolder(*files, Folder(), Sets(), StampRange{}, *files, "/out"), CommandError)
      << "an export into a folder that holds one already";

  // Both ends of a range are included, across sets, as typed.
  const StoredFrame &first = all[5], &last = all[44];
  const StampRange range{ParseStampArgument(FormatStamp(first.date, first.time), false, "--from"),
                         ParseStampArgument(FormatStamp(last.date, last.time), true, "--to")};
  EXPECT_EQ(ExportToFolder(*files, Folder(), Sets(), range, *files, "/part").Exported(), 40);
  EXPECT_TRUE(files->Contents("/part/000001.jpg") == first.data &&
              files->Contents("/part/000040.jpg") == last.data);
}

// True when the mean of the 5x5 pixels around (x, y) is within 30 of `want` in each colour.
bool ColourNear(const RgbImage& image, int x, int y, Rgb want) {
  int sum[3] = {0, 0, 0};
  for (int i = 0; i < 25; ++i) {
    for (int c = 0; c < 3; ++c) sum[c] += image.At(x + i % 5 - 2, y + i / 5 - 2)[c];
  }
  return std::abs(sum[0] / 25 - want.r) < 30 && std::abs(sum[1] / 25 - want.g) < 30 &&
         std::abs(sum[2] / 25 - want.b) < 30;
}

TEST_F(StoreToolsTest, ASheetShowsEvenlySpacedThumbnailsAndGreyForAnUndecodablePicture) {
  Write(".bin", Get(".idx", kPosition) - 1, std::string(64, 'x'));  // picture 0
  const SheetResult sheet = MakeContactSheet(*files, Folder(), Sets(), StampRange{},
                                             {.columns = 3, .count = 4, .width = 80});
  ASSERT_EQ(sheet.grey_tiles.size(), 1u);
  EXPECT_NE(sheet.grey_tiles[0].find("frame 0: "), std::string::npos) << sheet.grey_tiles[0];

  // Tiles of 80 x (60 + a label of 11), 4 pixels between and around them.
  RgbImage decoded;
  std::string error;
  ASSERT_TRUE(JpegCodec().DecodeScaled(sheet.jpeg, 1000, 1000, decoded, error)) << error;
  // Pictures 0, 14, 29 and 43 of 44; picture n is coloured by seed n + 1.
  EXPECT_TRUE(ColourNear(decoded, 4 + 40, 4 + 30, Rgb{128, 128, 128})) << "the grey tile";
  EXPECT_TRUE(ColourNear(decoded, 88 + 40, 4 + 30, testing::PictureColour(15))) << "picture 14";
  EXPECT_TRUE(ColourNear(decoded, 4 + 40, 79 + 30, testing::PictureColour(44))) << "picture 43";
}

TEST_F(StoreToolsTest, TypedMomentsAndFolders) {
  const std::tuple<const char*, bool, StampKey> cases[] = {
      // text, is an end, moment
      {"2026-12-06 22:50:01.250", false, 20261206'225001250},
      {"2026-12-06T22:50:01.25", false, 20261206'225001250},
      {"2026-12-06 22:50:01.2", true, 20261206'225001200},
      {"2026-12-06 22:50:01", true, 20261206'225001999},
      {"2026-12-06 22:50", true, 20261206'225059999},
      {"2026-12-06", true, 20261206'235959999},
      {"2026-12-06", false, 20261206'000000000},
      {"2024-02-29 00:00", false, 20240229'000000000},
  };
  for (const auto& [text, end, want] : cases)
    EXPECT_EQ(ParseStampArgument(text, end, "--from"), want) << text;
  for (const char* refused :
       {"2026-02-29", "2026-13-01", "2026-12-06 24:00", "2026-12-06 22:60",
        "2026-12-06 22:50:01.2500", "2026-12-06 22:50:01.", "2026-12-06x", "26-12-06", ""}) {
    EXPECT_THROW(ParseStampArgument(refused, false, "--from"), CommandError) << refused;
  }
  EXPECT_EQ(FormatStamp(20261399, 225001250), "(date 20261399, time 225001250)");

  MemoryFileSystem store;
  std::string error;
  ASSERT_EQ(store.CreateDirectory("/store", error), 0);
  for (const auto& [folder, prefix] :
       {std::pair{"/store", "/store/"}, {"/store/", "/store/"}, {"/store/cam1_", "/store/cam1_"}})
    EXPECT_EQ(ResolveStoreFolder(store, folder).prefix, prefix);
  EXPECT_TRUE(ListStoreSets(store, ResolveStoreFolder(store, "/store")).empty());
  // A prefix that names no set is most likely a mistyped folder.
  for (const char* missing : {"/store/cam1_", "/nowhere", "/nowhere/", "/nowhere/cam1_", ""})
    EXPECT_THROW(ListStoreSets(store, ResolveStoreFolder(store, missing)), CommandError) << missing;
}

TEST_F(StoreToolsTest, PicksAreEvenlySpacedWithTheFirstAndTheLast) {
  EXPECT_EQ(PickEvenly(44, 4), (std::vector<int64_t>{0, 14, 29, 43}));
  EXPECT_EQ(PickEvenly(3, 5), (std::vector<int64_t>{0, 1, 2}));
  EXPECT_EQ(PickEvenly(10, 1), (std::vector<int64_t>{0}));
  // Thinned to at most 16 (and the last), 1,000 frames keep every 64th.
  EvenSample sample(16);
  for (int32_t i = 0; i < 1000; ++i) sample.Add({.frame = i});
  std::vector<int32_t> kept;
  for (const SheetCandidate& c : sample.Kept()) kept.push_back(c.frame);
  EXPECT_EQ(kept, (std::vector<int32_t>{0, 64, 128, 192, 256, 320, 384, 448, 512, 576, 640, 704,
                                        768, 832, 896, 960, 999}));
}

}  // namespace
}  // namespace ravelon::cli

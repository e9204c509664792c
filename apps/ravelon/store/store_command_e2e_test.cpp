// The built `ravelon store` on a recorded store copied to disk: what it
// prints and its exit status for sound, damaged and missing stores and for
// bad options; exported pictures byte for byte; a stream that FFmpeg reads;
// a contact sheet that decodes.
#include <gtest/gtest.h>

#include <filesystem>
#include <functional>
#include <set>

#include "store/jpeg_codec.h"
#include "support/temp_folder.h"
#include "tests/command_process.h"
#include "tests/store_recording.h"

namespace ravelon::cli {
namespace {

namespace fs = std::filesystem;
using testing::Recorded;
using namespace std::chrono_literals;

// Cuts the .bin of set `name` to `keep` of its length.
void CutData(MemoryFileSystem& files, const std::string& name, double keep) {
  const std::string path = testing::kStoreFolder + name + ".bin";
  const auto size = static_cast<double>(files.Contents(path).size());
  ASSERT_EQ(files.Apply(FileMutation::SetSize(path, static_cast<int64_t>(size * keep))), 0);
}

// Each test works in a folder of its own, which holds the recorded store as
// "store".
class StoreCommandTest : public ::testing::Test {
 protected:
  void SetUp() override { CopyStore("store"); }

  // The recorded store written to `folder`, with `damage` done to it first.
  void CopyStore(const std::string& folder,
                 const std::function<void(MemoryFileSystem&)>& damage = nullptr) {
    const auto files = Recorded().files().Clone();
    if (damage) damage(*files);
    testing::WriteStoreToFolder(*files, folder_, folder);
  }

  // Runs `ravelon store ARGS` in the test's folder.
  testing::CommandResult Store(const std::string& args) const {
    return testing::RunCommand(testing::Words("store " + args), 120s, folder_.Path());
  }

  // The pictures of an exported folder, in the order of their names.
  std::vector<std::string> JpegFiles(const std::string& folder) const {
    std::set<std::string> names;
    for (const auto& entry : fs::directory_iterator(folder_.Path(folder)))
      if (entry.path().extension() == ".jpg") names.insert(entry.path().filename());
    std::vector<std::string> pictures;
    for (const std::string& name : names) pictures.push_back(folder_.Read(folder + "/" + name));
    return pictures;
  }

  ravelon::testing::TempFolder folder_;
};

TEST_F(StoreCommandTest, StatusAndMessages) {
  CopyStore("damaged", [](MemoryFileSystem& files) {
    CutData(files, "261206225000", 0.5);
    files.Apply(FileMutation::Remove(std::string(testing::kStoreFolder) + "261206225012.idx"));
  });
  CopyStore("emptied", [](MemoryFileSystem& files) {
    CutData(files, "261206225000", 0);
    CutData(files, "261206225012", 0);
  });
  // Arguments after "ravelon store", the exit status, and texts expected within standard output
  // and standard error (no text: an empty standard error).
  const std::tuple<std::string, int, std::string, std::string> cases[] = {
      {"ls store", 0,
       "Store store/: 2 file sets, 48 frames\n\n261206225000  41 frames in 2 segments  (.bin ", ""},
      {"ls damaged", 0, ".idx missing, .id2 28 B)\n  segment 0  2026-12-06 22:50:", ""},
      {"ls damaged", 0, "\n  note: damaged/261206225012.idx does not exist\n", ""},
      {"ls store/ --json", 0, "{\"store\": \"store/\", \"sets\": [\n  {\"name\": \"261206225000\"",
       ""},
      {"verify store", 0,
       "261206225012: sound (1 segment, 7 frames)\n2 file sets checked, all sound", ""},
      {"verify store 991231235959", 1, "", "ravelon: no file set 991231235959 in store\n"},
      {"verify damaged", 1, "lies outside .bin", ""},
      {"verify emptied 261206225012", 1,
       "261206225012: damaged, 1 problem\n  set 261206225012, segment 0, frame 0: frames 0-6 "
       "cannot be read (7 frames); the first: frame 0 of emptied/261206225012 lies outside .bin "
       "(position 1, length ",
       ""},
      {"verify emptied 261206225012", 1, "\n1 file set checked, 1 damaged\n", ""},
      {"export store --out out", 0, "exported 44 pictures and 4 texts to out\n", ""},
      {"sheet store --out sheet.jpg --columns 5 --count 10 --width 64", 0, "", ""},
      {"export damaged --out out1", 0, " and 2 texts to out1\n",
       " damaged index records in the file sets read; skipped a file set: "
       "damaged/261206225012.idx does not exist\n"},
      {"export emptied --out out2", 1, "",
       "ravelon: nothing exported: no readable frames in emptied\n"},
      {"export store --from 2027-01-01 --stdout", 1, "--ravelonframe--",
       "no readable frames in store from 2027-01-01 00:00:00.000 on"},
      {"ls nowhere", 1, "", "ravelon: the store folder nowhere does not exist"},
      {"ls store/261206225000.bin", 1, "",
       "ravelon: store/261206225000.bin is a file, not a store"},
      {"export nowhere/ --stdout", 1, "", "ravelon: the store folder nowhere/ does not exist\n"},
      {"export store --from 2026-13-01 --stdout", 1, "",
       "ravelon: --from \"2026-13-01\" is not a moment of the form YYYY-MM-DD[ HH:MM[:SS[.mmm]]]"},
      {"export store", 1, "", "ravelon: give --out DIR or --stdout\n"},
      {"sheet store --out s.jpg --width 5", 1, "", "ravelon: --width 5 is outside 16 to 1024\n"},
      {"sheet store --out s.jpg --to 2000-01-01", 1, "",
       "ravelon: no JPEG frames in store up to 2000-01-01 23:59:59.999\n"},
  };
  for (const auto& [args, status, out, err] : cases) {
    SCOPED_TRACE(args);
    const auto run = Store(args);
    EXPECT_EQ(run.status, status) << run.out << run.err;
    EXPECT_NE(run.out.find(out), std::string::npos) << run.out;
    EXPECT_TRUE(err.empty() ? run.err.empty() : run.err.find(err) != std::string::npos) << run.err;
    EXPECT_EQ(run.err.find("Sanitizer"), std::string::npos) << run.err;
  }
  EXPECT_TRUE(JpegFiles("out") == Recorded().pictures) << "the exported pictures";
  int width = 0, height = 0;
  std::string error;
  EXPECT_TRUE(JpegCodec().ReadSize(folder_.Read("sheet.jpg"), width, height, error)) << error;
  // 5 columns of 64, 2 rows of 48 (the pictures' 4:3) + a label of 7 + 2 x 2, 4 between and
  // around.
  EXPECT_EQ(std::pair(width, height), std::pair(5 * 68 + 4, 2 * 63 + 4));
}

TEST_F(StoreCommandTest, FfmpegReadsTheExportedStream) {
  const auto stream = Store("export store --stdout");
  ASSERT_EQ(stream.status, 0) << stream.err;
  folder_.Write("stream.mjpg", stream.out);
  fs::create_directory(folder_.Path("played"));
  testing::CommandProcess ffmpeg(
      testing::Words("-nostdin -v error -f mpjpeg -i stream.mjpg -c copy "
                     "-fps_mode passthrough -f image2 played/%06d.jpg"),
      folder_.Path(), "ffmpeg");
  if (!ffmpeg.Started()) GTEST_SKIP() << "ffmpeg is not installed";
  const auto played = ffmpeg.Wait(120s);
  ASSERT_EQ(played.status, 0) << played.err;
  EXPECT_TRUE(JpegFiles("played") == Recorded().pictures);
}

}  // namespace
}  // namespace ravelon::cli

// `ravelon record` as a user runs it: the built binary against test cameras
// in this process, configured through `ravelon config`, checked through the
// store reader and `ravelon store verify`.
#include <gtest/gtest.h>

#include <algorithm>
#include <fstream>
#include <iterator>
#include <regex>
#include <string>
#include <vector>

#include "camera/test_camera.h"
#include "ravelon/file_system.h"
#include "ravelon/media_frame.h"
#include "support/temp_folder.h"
#include "tests/command_process.h"
#include "tests/store_recording.h"

namespace ravelon::cli {
namespace {

using testing::RunCommand;
using namespace std::chrono_literals;

// Frames received and saved, from the last status line `record` prints for
// a source: "cam: released, ..., 74 received, 30 saved, ...".
std::pair<int, int> FinalCounts(const std::string& out, const std::string& source) {
  const std::regex line("(^|\n)" + source + ": [^\n]* ([0-9]+) received, ([0-9]+) saved");
  std::smatch match;
  if (!std::regex_search(out, match, line)) return {-1, -1};
  return {std::stoi(match[2]), std::stoi(match[3])};
}

class RecordE2eTest : public ::testing::Test {
 protected:
  std::string Path(const std::string& name) const { return folder_.Path(name); }
  std::string Registry() const { return Path("registry.db"); }

  // A camera of 160x120 at 25 frames a second playing `fault` after `after`
  // frames.
  TestCamera& AddCamera(FaultMode fault = FaultMode::kNone, uint64_t after = 0) {
    cameras_.push_back(std::make_unique<TestCamera>(CameraOptions{
        .port = 0, .fps = 25, .width = 160, .height = 120, .fault = fault, .fault_after = after}));
    cameras_.back()->Start();
    return *cameras_.back();
  }

  // Frames the store of `name` holds, through the public reader, once
  // `store verify` passes it; each must be a whole JPEG, whatever fault its
  // camera played.
  int64_t StoredFrames(const std::string& name) {
    const auto verified = RunCommand({"store", "verify", Path(name)});
    EXPECT_EQ(verified.status, 0) << name << ": " << verified.out << verified.err;
    const auto frames = testing::ReadAllFrames(*NewPosixFileSystem(), Path(name) + "/");
    const auto whole = [](const StoredFrame& f) {
      return f.data_type == kJpeg && f.data.starts_with("\xFF\xD8") && f.data.ends_with("\xFF\xD9");
    };
    EXPECT_TRUE(std::ranges::all_of(frames, whole)) << name << ": frames that are not whole JPEGs";
    return std::ssize(frames);
  }

  ravelon::testing::TempFolder folder_;
  std::vector<std::unique_ptr<TestCamera>> cameras_;
};

// Every fault the camera can play, all at once against one recorder: the
// engine must notice the fault the camera means, and each source must come
// back and go on recording. A stall (and garbage, which never brings a part)
// costs the engine's 15-second part timeout, so those two get only a second
// connection's frames within the run.
TEST_F(RecordE2eTest, KeepsRecordingThroughEveryFaultOfTheCamera) {
  const struct {
    const char* name;
    FaultMode fault;
    const char* engine_says;  // in the source's log lines
    bool reconnects;
    int frames_after_fault;
  } cases[] = {
      {"close", FaultMode::kClose, "WinSock.Close", true, 20},
      {"stall", FaultMode::kStall, "Process part timeout.", true, 10},
      {"garbage", FaultMode::kGarbage, "Input buffer exceeds limit", true, 10},
      {"oversized", FaultMode::kOversized, "Input buffer exceeds limit", false, 20},
      {"drip", FaultMode::kDrip, "", false, 1},
  };
  constexpr int kAfter = 20;
  for (const auto& c : cases) {
    ASSERT_EQ(testing::AddSource(Registry(), c.name, AddCamera(c.fault, kAfter).Port(), "/video",
                                 Path(c.name)),
              "");
  }
  const auto recorded = RunCommand({"record", "--registry", Registry(), "--for", "28", "-v",
                                    "--status", "lines", "--status-every", "5"},
                                   90s);
  ASSERT_EQ(recorded.status, 0) << recorded.err;
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    const auto [received, saved] = FinalCounts(recorded.out, c.name);
    EXPECT_GT(received, kAfter + c.frames_after_fault) << recorded.out;
    // The engine saves its queue by itself when a connection ends.
    EXPECT_GE(StoredFrames(c.name), std::max(saved, kAfter + c.frames_after_fault));
    const auto lines_saying = [&](const std::string& text) {  // log lines of this source
      const std::regex line("\\[" + std::string(c.name) + "\\][^\n]*" + text);
      return std::distance(std::sregex_iterator(recorded.out.begin(), recorded.out.end(), line),
                           {});
    };
    EXPECT_GE(lines_saying("Connecting to the source"), c.reconnects ? 2 : 1);
    EXPECT_GE(lines_saying(c.engine_says), 1);
  }
}

// A source carried over as a .reg file is what the engine records by. Its
// frames wait in the queue (no save until the end); SIGTERM must save every
// one of them before the command exits 0.
TEST_F(RecordE2eTest, SigtermSavesWhatIsQueued) {
  std::ofstream(Path("cam.reg"))
      << "Windows Registry Editor Version 5.00\r\n\r\n"
         "[HKEY_LOCAL_MACHINE\\Ravelon\\Src\\cam]\r\n\"Url\"=\"/video\"\r\n\"DoSave\"=\"1\"\r\n"
         "\"SaveInterval\"=\"10\"\r\n\"Address\"=\"127.0.0.1\"\r\n\"Port\"=\""
      << AddCamera().Port() << "\"\r\n\"DBPath\"=\"" << Path("cam") << "/\"\r\n";
  const auto imported = RunCommand({"config", "import", "--registry", Registry(), Path("cam.reg")});
  ASSERT_EQ(imported.status, 0) << imported.err;
  testing::CommandProcess recorder({"record", "cam", "--registry", Registry(), "--save-every", "60",
                                    "--status", "lines", "--status-every", "1"});
  ASSERT_TRUE(WaitForReceived(recorder, "cam", 11)) << recorder.Out();
  recorder.Signal(SIGTERM);
  const auto ended = recorder.Wait(30s);
  ASSERT_EQ(ended.status, 0) << ended.err;
  EXPECT_NE(ended.out.find("Stopping on SIGTERM"), std::string::npos);
  const auto [received, saved] = FinalCounts(ended.out, "cam");
  EXPECT_GT(received, 10) << ended.out;
  EXPECT_GE(saved, received - 1) << "frames queued before the signal were lost";
  EXPECT_EQ(StoredFrames("cam"), saved);
}

TEST_F(RecordE2eTest, RefusesWhatItCannotRecord) {
  ASSERT_EQ(testing::AddSource(Registry(), "cam", 9, "/video", Path("cam")), "");
  ASSERT_EQ(testing::AddSource(Registry(), "twin", 9, "/video", Path("cam")), "");
  ASSERT_EQ(testing::AddSource(Registry(), "locked", 9, "/video", "/proc/ravelon/store"), "");
  const std::pair<std::string, const char*> cases[] = {
      // arguments after `record`, message
      {"nosuch --registry " + Registry(), "unknown source nosuch (sources under"},
      {"--registry " + Path("missing.db"), "cannot open the registry file"},
      {"--registry " + Registry() + " --root Elsewhere", "no sources under"},
      {"--registry " + Registry() + " --save-every 0", "--save-every"},
      // --for ends a run that wrongly took the value.
      {"--registry " + Registry() + " --save-every nan --for 1", "--save-every"},
      {"--registry " + Registry() + " --http localhost:web",
       "\"localhost:web\" is not PORT or ADDRESS:PORT"},
      {"cam twin --registry " + Registry() + " --for 1",
       "sources cam and twin would both record into"},
      {"locked --registry " + Registry(),
       "source locked: cannot create its store folder /proc/ravelon"},
  };
  for (const auto& [args, message] : cases) {
    const auto run = RunCommand(testing::Words("record " + args), 20s);
    EXPECT_NE(run.status, 0) << message;
    EXPECT_NE(run.err.find(message), std::string::npos) << run.err;
  }
}

}  // namespace
}  // namespace ravelon::cli

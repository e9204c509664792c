// `ravelon record --http` as a user runs it: a recorder of a test camera
// serves its live stream, and a second recorder records that stream.
#include <gtest/gtest.h>
#include <httplib.h>

#include <algorithm>
#include <regex>
#include <set>

#include "camera/test_camera.h"
#include "ravelon/file_system.h"
#include "support/temp_folder.h"
#include "tests/command_process.h"
#include "tests/store_recording.h"

namespace ravelon::cli {
namespace {

using namespace std::chrono_literals;
using testing::CommandProcess;
using testing::RunCommand;

TEST(WebRecordE2eTest, LiveStreamRecordedByASecondRecorderHoldsTheCamerasFrames) {
  ravelon::testing::TempFolder folder;
  TestCamera camera(CameraOptions{.port = 0, .fps = 25, .width = 160, .height = 120});
  camera.Start();
  const auto add = [&](const std::string& registry, const std::string& source, int port,
                       const std::string& url, const std::string& style) {
    const auto added = RunCommand(
        {"config", "add-source", source, "--registry", folder.Path(registry), "--address",
         "127.0.0.1", "--port", std::to_string(port), "--url", url, "--request-style", style,
         "--store", folder.Path(source), "--save", "--save-interval", "10"});
    ASSERT_EQ(added.status, 0) << added.err;
  };
  add("first.db", "cam", camera.Port(), "/video", "0");
  CommandProcess first({"record", "--registry", folder.Path("first.db"), "--http", "127.0.0.1:0",
                        "--status", "lines"});
  ASSERT_TRUE(first.WaitForOutput("Web view on http://127.0.0.1:", 20s)) << first.Out();
  std::smatch port;
  const std::string out = first.Out();
  ASSERT_TRUE(std::regex_search(out, port, std::regex("Web view on http://127.0.0.1:([0-9]+)/")));
  // The web view speaks HTTP only: the relay asks with an HTTP/1.0 request.
  add("second.db", "relay", std::stoi(port[1]), "/sources/cam/live.mjpg", "1");
  CommandProcess second({"record", "--registry", folder.Path("second.db"), "--status", "lines",
                         "--status-every", "1"});
  ASSERT_TRUE(second.WaitForOutput("[relay]  3 receiving", 20s)) << second.Out();
  std::this_thread::sleep_for(2s);  // frames to record, at the camera's pace
  second.Signal(SIGTERM);
  ASSERT_EQ(second.Wait(30s).status, 0);
  first.Signal(SIGTERM);
  ASSERT_EQ(first.Wait(30s).status, 0);

  const std::unique_ptr<FileSystem> files = NewPosixFileSystem();
  std::set<std::string> camera_frames;
  for (const StoredFrame& f : testing::ReadAllFrames(*files, folder.Path("cam") + "/"))
    camera_frames.insert(f.data);
  const std::vector<StoredFrame> relayed =
      testing::ReadAllFrames(*files, folder.Path("relay") + "/");
  EXPECT_GE(relayed.size(), 25u) << "a second of the camera's frames at least";
  for (const StoredFrame& f : relayed)
    EXPECT_TRUE(camera_frames.contains(f.data))
        << "a relayed frame differs from every recorded one";
  // Each frame the camera sent once comes through once: no frame repeated.
  std::set<std::string> distinct;
  for (const StoredFrame& f : relayed) distinct.insert(f.data);
  EXPECT_EQ(distinct.size(), relayed.size());
}

// A login set with `config web-login` guards every path of the view.
TEST(WebRecordE2eTest, LoginSetInTheRegistryGuardsTheView) {
  ravelon::testing::TempFolder folder;
  const std::string registry = folder.Path("registry.db");
  ASSERT_EQ(RunCommand({"config", "add-source", "cam", "--registry", registry, "--address",
                        "127.0.0.1", "--port", "9"})
                .status,
            0);
  ASSERT_EQ(RunCommand({"config", "web-login", "admin", "--password", "open sesame", "--registry",
                        registry})
                .status,
            0);
  CommandProcess recorder(
      {"record", "--registry", registry, "--http", "127.0.0.1:0", "--status", "lines"});
  ASSERT_TRUE(recorder.WaitForOutput("Web view on", 20s)) << recorder.Out();
  std::smatch port;
  const std::string out = recorder.Out();
  ASSERT_TRUE(std::regex_search(out, port, std::regex("Web view on http://127.0.0.1:([0-9]+)/")));
  httplib::Client client("127.0.0.1", std::stoi(port[1]));
  EXPECT_EQ(client.Get("/api/status")->status, 401);
  client.set_basic_auth("admin", "open sesam");
  EXPECT_EQ(client.Get("/api/status")->status, 401);
  client.set_basic_auth("admin", "open sesame");
  EXPECT_EQ(client.Get("/api/status")->status, 200);
  EXPECT_EQ(client.Get("/sources/cam/timeline")->status, 200);
  EXPECT_EQ(out.find("open sesame"), std::string::npos);
}

}  // namespace
}  // namespace ravelon::cli

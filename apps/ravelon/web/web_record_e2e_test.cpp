// `ravelon record --http` as a user runs it: a recorder of a test camera
// serves its live stream behind a login, and a second recorder records that
// stream.
#include <gtest/gtest.h>
#include <httplib.h>

#include <set>

#include "camera/test_camera.h"
#include "ravelon/file_system.h"
#include "support/temp_folder.h"
#include "tests/command_process.h"
#include "tests/store_recording.h"

namespace ravelon::cli {
namespace {

using namespace std::chrono_literals;
using testing::AddSource;
using testing::CommandProcess;

// The login set with `config web-login` guards the view; the relay, given
// it, records each frame the camera sent once, and no other.
TEST(WebRecordE2eTest, LiveStreamBehindTheLoginIsRecordedByASecondRecorder) {
  ravelon::testing::TempFolder folder;
  TestCamera camera(CameraOptions{.port = 0, .fps = 25, .width = 160, .height = 120});
  camera.Start();
  const std::string first_db = folder.Path("first.db"), second_db = folder.Path("second.db");
  ASSERT_EQ(AddSource(first_db, "cam", camera.Port(), "/video", folder.Path("cam")), "");
  ASSERT_EQ(testing::RunCommand({"config", "web-login", "admin", "--password", "open sesame",
                                 "--registry", first_db})
                .status,
            0);
  CommandProcess first(
      {"record", "--registry", first_db, "--http", "127.0.0.1:0", "--status", "lines"});
  const int port = testing::WebViewPort(first);
  ASSERT_NE(port, 0) << first.Out();
  httplib::Client client("127.0.0.1", port);
  EXPECT_EQ(client.Get("/api/status")->status, 401);
  client.set_basic_auth("admin", "open sesame");
  EXPECT_EQ(client.Get("/api/status")->status, 200);
  // The web view speaks HTTP only: the relay asks with an HTTP/1.0 request.
  ASSERT_EQ(AddSource(second_db, "relay", port, "/sources/cam/live.mjpg", folder.Path("relay"),
                      {"--request-style", "1", "--user", "admin", "--password", "open sesame"}),
            "");
  CommandProcess second(
      {"record", "--registry", second_db, "--status", "lines", "--status-every", "1"});
  ASSERT_TRUE(testing::WaitForReceived(second, "relay", 30)) << second.Out();
  second.Signal(SIGTERM);
  ASSERT_EQ(second.Wait(30s).status, 0);
  first.Signal(SIGTERM);
  const auto ended = first.Wait(30s);
  ASSERT_EQ(ended.status, 0);
  EXPECT_EQ(ended.out.find("open sesame"), std::string::npos);

  const std::unique_ptr<FileSystem> files = NewPosixFileSystem();
  std::set<std::string> camera_frames, distinct;
  for (const StoredFrame& f : testing::ReadAllFrames(*files, folder.Path("cam") + "/"))
    camera_frames.insert(f.data);
  const std::vector<StoredFrame> relayed =
      testing::ReadAllFrames(*files, folder.Path("relay") + "/");
  EXPECT_GE(relayed.size(), 25u) << "a second of the camera's frames at least";
  for (const StoredFrame& f : relayed) {
    EXPECT_TRUE(camera_frames.contains(f.data))
        << "a relayed frame differs from every recorded one";
    distinct.insert(f.data);
  }
  EXPECT_EQ(distinct.size(), relayed.size()) << "a frame repeated";
}

}  // namespace
}  // namespace ravelon::cli

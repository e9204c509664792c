// The web view's server on loopback, in this process: what each path
// answers, the live picture and stream, playback and download of a
// recorded store, the login and the bounds on requests and open streams.
#include "web/web_server.h"

#include <gtest/gtest.h>
#include <httplib.h>

#include <cstdlib>
#include <future>
#include <regex>

#include "ravelon/registry_store.h"
#include "support/temp_folder.h"
#include "tests/command_process.h"  // PollUntil
#include "tests/store_recording.h"
#include "web/web_limits.h"

namespace ravelon::cli {
namespace {

using namespace std::chrono_literals;

struct Part {
  std::string stamp;
  std::string bytes;
};

// The parts of a multipart body as the server writes them; stops at the
// first part that is not whole yet.
std::vector<Part> SplitParts(const std::string& body) {
  static const std::regex head(
      "--ravelonframe\r\nContent-Type: image/jpeg\r\nContent-Length: ([0-9]+)\r\n"
      "(?:X-Stamp: ([^\r]*)\r\n)?\r\n");
  std::vector<Part> parts;
  std::smatch match;
  for (size_t at = 0; std::regex_search(body.begin() + static_cast<ptrdiff_t>(at), body.end(),
                                        match, head, std::regex_constants::match_continuous);) {
    const size_t start = at + static_cast<size_t>(match.length(0)), length = std::stoul(match[1]);
    if (start + length + 2 > body.size()) break;
    parts.push_back({match[2], body.substr(start, length)});
    EXPECT_EQ(body.substr(start + length, 2), "\r\n");
    at = start + length + 2;
  }
  return parts;
}

// Two sources: "cam", receiving, with a recorded store, and a second one
// with neither pictures nor a store.
class WebServerTest : public ::testing::Test {
 protected:
  void SetUp() override {
    testing::WriteStoreToFolder(testing::Recorded().files(), folder_, "cam");
    Start(nullptr);
  }

  void Start(std::function<bool(const std::string&)> allow,
             const std::string& second = "front door") {
    server_.reset();
    live_ = {std::make_shared<LiveFrames>(), std::make_shared<LiveFrames>()};
    std::vector<SourceStatus> statuses(2);
    statuses[0].name = "cam";
    statuses[0].state = "receiving";
    statuses[0].frames = 44;
    statuses[0].store_folder = folder_.Path("cam") + "/";
    statuses[1].name = second;
    server_ = std::make_unique<WebServer>(
        WebSources{{"cam", second}, live_, [statuses] { return statuses; }, std::move(allow)});
    port_ = server_->Start({"127.0.0.1", 0});
  }

  httplib::Client Client() const {
    httplib::Client client("127.0.0.1", port_);
    client.set_read_timeout(10s);
    return client;
  }

  ravelon::testing::TempFolder folder_;
  std::vector<std::shared_ptr<LiveFrames>> live_;
  std::unique_ptr<WebServer> server_;
  int port_ = 0;
};

TEST_F(WebServerTest, EveryPathAnswersWithItsStatusAndTypeAndNoFileOutsideAStore) {
  const std::string picture = testing::MakeJpeg(1);
  live_[0]->Publish(picture);
  const std::string day = "/sources/cam/playback.mjpg?from=2026-12-06&to=2026-12-06&speed=";
  // A range with nothing in it: played at once.
  const std::string none =
      "/sources/cam/playback.mjpg?from=2026-12-06%2001:00&to=2026-12-06%2001:01&speed=";
  const struct {
    std::string path;
    int status;
    const char* type;  // the start of the content type
    const char* body;  // a piece of the body
  } kCases[] = {
      {"/", 200, "text/html", "<title>Ravelon</title>"},
      {"/api/status", 200, "application/json", "\"name\": \"cam\", \"state\": \"receiving\""},
      {"/metrics", 200, "text/plain; version=0.0.4",
       "ravelon_frames_received_total{source=\"cam\"} 44"},
      {"/metrics", 200, "text/plain", "ravelon_store_bytes{source=\"cam\"} "},
      {"/sources/cam/latest.jpg", 200, "image/jpeg", "\xff\xd8"},
      {"/sources/front%20door/latest.jpg", 404, "text/plain", "no picture yet"},
      {"/sources/nobody/latest.jpg", 404, "text/plain", "no such source"},
      {"/sources/cam/timeline?day=2026-12-06", 200, "application/json",
       "{\"day\": \"2026-12-06\", \"spans\": [{\"from\": \"2026-12-06 22:50:00"},
      {"/sources/cam/timeline?day=2026-12-05", 200, "application/json", "\"spans\": []"},
      {"/sources/front%20door/timeline?day=2026-12-06", 200, "application/json", "\"spans\": []"},
      {"/sources/cam/timeline?day=yesterday", 400, "text/plain", "day \"yesterday\""},
      {"/sources/cam/playback.mjpg?from=2026-12-06", 400, "text/plain", "to \"\""},
      {day + "fast", 400, "text/plain", ""},
      // The speeds at the limits play; beyond, refused.
      {none + "0.1", 200, "multipart/x-mixed-replace", "--ravelonframe--"},
      {none + "64", 200, "multipart/x-mixed-replace", "--ravelonframe--"},
      {day + "0", 400, "text/plain", "speed"},
      {day + "0.09", 400, "text/plain", "speed"},
      {day + "64.5", 400, "text/plain", "speed"},
      // Nothing but these paths exists: no path names a file.
      {"/etc/passwd", 404, "text/plain", "not found"},
      {"/../../etc/passwd", 404, "text/plain", ""},
      {"/sources/../../../etc/passwd", 404, "text/plain", ""},
      {"/sources/cam/../../../../etc/passwd", 404, "text/plain", ""},
      {"/sources/..%2F..%2Fetc/latest.jpg", 404, "text/plain", ""},
      {"/sources/cam/..%2F..%2F..%2Fetc%2Fpasswd", 404, "text/plain", ""},
      {"/sources/%2e%2e/latest.jpg", 404, "text/plain", ""},
      {"/sources/cam/261206225000.bin", 404, "text/plain", ""},
      {"/sources/cam/timeline?day=..%2F..%2Fetc", 400, "text/plain", ""},
  };
  httplib::Client client = Client();
  for (const auto& c : kCases) {
    SCOPED_TRACE(c.path);
    const httplib::Result result = client.Get(c.path);
    ASSERT_TRUE(result) << httplib::to_string(result.error());
    EXPECT_EQ(result->status, c.status);
    EXPECT_TRUE(result->get_header_value("Content-Type").starts_with(c.type))
        << result->get_header_value("Content-Type");
    EXPECT_NE(result->body.find(c.body), std::string::npos) << result->body.substr(0, 300);
  }
  EXPECT_EQ(client.Get("/sources/cam/latest.jpg")->body, picture);
}

TEST_F(WebServerTest, LiveStreamSendsEachNewPictureAsItComes) {
  const std::string first = testing::MakeJpeg(1), second = testing::MakeJpeg(2);
  live_[0]->Publish(first);
  std::string body;
  std::vector<Part> parts;
  const httplib::Result result =
      Client().Get("/sources/cam/live.mjpg", [&](const char* data, size_t length) {
        parts = SplitParts(body.append(data, length));
        if (parts.size() == 1 && live_[0]->Newest().number == 1) live_[0]->Publish(second);
        return parts.size() < 2;
      });
  ASSERT_EQ(parts.size(), 2u);
  EXPECT_EQ(parts[0].bytes, first);
  EXPECT_EQ(parts[1].bytes, second);
}

TEST_F(WebServerTest, PlaybackAndDownloadGiveTheStoredPicturesInOrder) {
  const std::vector<std::string>& pictures = testing::Recorded().pictures;
  httplib::Client client = Client();
  const auto started = std::chrono::steady_clock::now();
  const httplib::Result played = client.Get(
      "/sources/cam/playback.mjpg?from=2026-12-06%2022:00&to=2026-12-06%2023:00&speed=16");
  const auto took = std::chrono::steady_clock::now() - started;
  const httplib::Result downloaded =
      client.Get("/sources/cam/export.mjpg?from=2026-12-06&to=2026-12-06");
  ASSERT_TRUE(played && downloaded);
  EXPECT_EQ(played->body, downloaded->body) << "the same parts, only paced";
  const std::vector<Part> parts = SplitParts(downloaded->body);
  ASSERT_EQ(parts.size(), pictures.size());
  for (size_t i = 0; i < parts.size(); ++i) {
    EXPECT_EQ(parts[i].bytes, pictures[i]) << "picture " << i;
    EXPECT_TRUE(i == 0 || parts[i - 1].stamp < parts[i].stamp) << "picture " << i;
  }
  EXPECT_TRUE(downloaded->body.ends_with("--ravelonframe--\r\n"));
  EXPECT_EQ(played->get_header_value("Cache-Control"), "no-store");
  EXPECT_EQ(downloaded->get_header_value("Content-Disposition"),
            "attachment; filename=\"cam-2026-12-06.mjpg\"");
  // Played at 16 times the recorded pace: the pictures span some seconds
  // (each pause capped), so the playback cannot be over at once.
  const auto seconds = [](const std::string& stamp) {
    return std::stod(stamp.substr(17));  // the recording stays within one minute
  };
  const double recorded = seconds(parts.back().stamp) - seconds(parts.front().stamp);
  EXPECT_GT(recorded, 4);
  EXPECT_GE(std::chrono::duration<double>(took).count(), (recorded - 2) / 16);
}

// The archive, unpacked by tar, holds what `store export --out` writes. A
// name's blank does not reach the header or a file name, and the longest
// name a source may have still gives a whole archive, its folder's name cut
// to fit a ustar header.
TEST_F(WebServerTest, ArchiveUnpacksToWhatStoreExportWrites) {
  const httplib::Result archive =
      Client().Get("/sources/cam/export.tar?from=2026-12-06&to=2026-12-06");
  ASSERT_TRUE(archive);
  ASSERT_EQ(archive->status, 200);
  EXPECT_EQ(archive->get_header_value("Content-Disposition"),
            "attachment; filename=\"cam-2026-12-06.tar\"");
  folder_.Write("cam.tar", archive->body);
  const std::string unpack_and_compare =
      "cd " + folder_.Path() +
      " && tar -xf cam.tar && " RAVELON_COMMAND
      " store export cam --from 2026-12-06 --to 2026-12-06 --out exported >/dev/null && "
      "diff -r cam-2026-12-06 exported";
  EXPECT_EQ(std::system(unpack_and_compare.c_str()), 0);
  EXPECT_EQ(Client()
                .Get("/sources/front%20door/export.tar?from=2026-12-06&to=2026-12-06")
                ->get_header_value("Content-Disposition"),
            "attachment; filename=\"front_door-2026-12-06.tar\"");

  const std::string name(kMaxKeyNameLength, 'n');
  Start(nullptr, name);
  const httplib::Result named =
      Client().Get("/sources/" + name + "/export.tar?from=2026-12-06&to=2026-12-06");
  ASSERT_TRUE(named);
  EXPECT_EQ(named->status, 200);
  EXPECT_NE(named->body.find("-2026-12-06/index.tsv"), std::string::npos);
  EXPECT_TRUE(named->body.ends_with(std::string(1024, '\0')));
}

TEST_F(WebServerTest, EveryPathAsksForTheLoginWhenOneIsSet) {
  Start([](const std::string& authorization) { return authorization == "Basic dXNlcjpwYXNz"; });
  httplib::Client client = Client();
  for (const char* path : {"/", "/api/status", "/metrics", "/sources/cam/latest.jpg",
                           "/sources/cam/live.mjpg", "/sources/cam/timeline", "/nothing/here"}) {
    SCOPED_TRACE(path);
    const httplib::Result anonymous = client.Get(path);
    ASSERT_TRUE(anonymous);
    EXPECT_EQ(anonymous->status, 401);
    EXPECT_EQ(anonymous->get_header_value("WWW-Authenticate"),
              "Basic realm=\"ravelon\", charset=\"UTF-8\"");
    EXPECT_EQ(client.Get(path, {{"Authorization", "Basic dXNlcjpvdGhlcg=="}})->status, 401);
  }
  EXPECT_EQ(client.Get("/api/status", {{"Authorization", "Basic dXNlcjpwYXNz"}})->status, 200);
}

// A client sending header lines without end is cut off at the limit (a
// refusal, or the connection closed), not read on while the server keeps
// every line.
TEST_F(WebServerTest, RequestHeadBeyondTheLimitIsRefused) {
  httplib::Headers padding;
  for (size_t bytes = 0; bytes < 16 * kMaxWebRequestBytes; bytes += 1000)
    padding.emplace("X-Pad-" + std::to_string(bytes), std::string(1000, 'a'));
  const httplib::Result result = Client().Get("/api/status", padding);
  EXPECT_FALSE(result && result->status == 200);
}

TEST_F(WebServerTest, StreamsBeyondTheLimitAreRefusedAndStopEndsTheRest) {
  live_[0]->Publish(testing::MakeJpeg(1));
  std::vector<std::future<void>> streams;
  std::atomic<int> receiving{0};
  for (int i = 0; i < kMaxWebStreams; ++i) {
    streams.push_back(std::async(std::launch::async, [this, &receiving] {
      bool counted = false;
      Client().Get("/sources/cam/live.mjpg", [&](const char*, size_t) {
        receiving += !std::exchange(counted, true);
        return true;
      });
    }));
  }
  ASSERT_TRUE(testing::PollUntil([&] { return receiving == kMaxWebStreams; }, 10s)) << receiving;
  EXPECT_EQ(Client().Get("/sources/cam/live.mjpg")->status, 503);
  EXPECT_EQ(Client().Get("/api/status")->status, 200) << "the page keeps threads of its own";
  server_->Stop();
  for (auto& stream : streams) stream.get();  // each ended by the stop
}

}  // namespace
}  // namespace ravelon::cli

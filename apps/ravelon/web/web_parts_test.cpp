// The web view's parts that need no server: the address, the live board,
// the status and metrics texts and the recorded spans of a day.
#include <gtest/gtest.h>

#include <cstdlib>
#include <thread>

#include "cli/command.h"
#include "support/temp_folder.h"
#include "tests/store_recording.h"
#include "web/live_frames.h"
#include "web/recorded_spans.h"
#include "web/status_report.h"
#include "web/web_server.h"

namespace ravelon::cli {
namespace {

using namespace std::chrono_literals;

TEST(WebAddressTest, ParsesPortsAndAddressesAndRefusesTheRest) {
  const std::tuple<const char*, const char*, int> kParsed[] = {
      {"8080", "127.0.0.1", 8080},
      {"0", "127.0.0.1", 0},
      {"0.0.0.0:80", "0.0.0.0", 80},
      {"[::1]:9000", "::1", 9000},
      {"cam.local:65535", "cam.local", 65535},
  };
  for (const auto& [text, host, port] : kParsed) {
    const WebAddress address = WebAddress::Parse(text);
    EXPECT_EQ(std::tie(address.host, address.port), std::tuple(host, port)) << text;
  }
  for (const char* text : {"65536", ":80", "host:", "host:http", "", "-1", "999999999999"})
    EXPECT_THROW(WebAddress::Parse(text), CommandError) << text;
}

TEST(LiveFramesTest, ReadersGetTheNewestFrameAndNeverWaitPastClose) {
  LiveFrames live;
  EXPECT_EQ(live.Newest().jpeg, nullptr);
  EXPECT_EQ(live.WaitNewer(0, 1ms).jpeg, nullptr) << "nothing published yet";
  live.Publish("one");
  live.Publish("two");
  // A reader that missed frames gets only the newest.
  const LiveFrame newest = live.WaitNewer(0, 1ms);
  ASSERT_NE(newest.jpeg, nullptr);
  EXPECT_EQ(*newest.jpeg, "two");
  EXPECT_EQ(newest.number, 2);
  EXPECT_EQ(live.WaitNewer(2, 1ms).jpeg, nullptr) << "nothing newer than what was sent";
  // A frame kept by a reader stays whole whatever comes after.
  live.Publish("three");
  EXPECT_EQ(*newest.jpeg, "two");
  // A waiter wakes for a new frame, and for good once the board closes.
  std::thread publisher([&] { live.Publish("four"); });
  EXPECT_EQ(*live.WaitNewer(3, 10s).jpeg, "four");
  publisher.join();
  std::thread closer([&] { live.Close(); });
  const auto start = std::chrono::steady_clock::now();
  EXPECT_EQ(live.WaitNewer(4, 10s).jpeg, nullptr);
  EXPECT_LT(std::chrono::steady_clock::now() - start, 5s);
  closer.join();
  live.Publish("five");
  EXPECT_EQ(live.WaitNewer(0, 10s).jpeg, nullptr) << "a closed board lets every reader go";
}

TEST(LiveFramesTest, UnwatchedBoardsTakeAPictureASecond) {
  LiveFrames live;
  const LiveFrames::Clock::time_point start(std::chrono::hours(1));
  EXPECT_TRUE(live.Due(start)) << "the first picture";
  live.Publish("one", start);
  EXPECT_FALSE(live.Due(start + 999ms));
  EXPECT_TRUE(live.Due(start + 1s));
  live.AddWatcher();
  EXPECT_TRUE(live.Due(start + 1ms)) << "a watched board takes every picture";
  live.RemoveWatcher();
  EXPECT_FALSE(live.Due(start + 1ms));
}

TEST(StatusReportTest, MetricsAndStatusAreWellFormedWhateverTheNames) {
  SourceStatus plain;
  plain.name = "door";
  plain.frames = 120;
  plain.saved = 100;
  plain.bytes = 5'000'000;
  plain.reconnects = 2;
  plain.queued = 3;
  plain.log_lines[10] = 4;
  plain.log_lines[3] = 1;
  SourceStatus odd;
  odd.name = "back \"yard\"\\\ncam";
  odd.last_error = "Source answered 404 \"Not Found\"\n";
  const std::string metrics = FormatMetrics({plain, odd}, {123456, -1});
  EXPECT_EQ(FormatMetrics({plain, odd}, {123456}), metrics) << "sizes not given are unknown";
  for (const char* line :
       {"ravelon_frames_received_total{source=\"door\"} 120",
        "ravelon_frames_saved_total{source=\"door\"} 100",
        "ravelon_bytes_received_total{source=\"door\"} 5000000",
        "ravelon_reconnects_total{source=\"door\"} 2", "ravelon_queued_frames{source=\"door\"} 3",
        "ravelon_log_lines_total{source=\"door\",level=\"10\"} 4",
        "ravelon_log_lines_total{source=\"door\",level=\"3\"} 1",
        "ravelon_store_bytes{source=\"door\"} 123456",
        "ravelon_frames_received_total{source=\"back \\\"yard\\\"\\\\\\ncam\"} 0"})
    EXPECT_NE(metrics.find(std::string(line) + "\n"), std::string::npos) << line;
  EXPECT_EQ(metrics.find("ravelon_store_bytes{source=\"back"), std::string::npos)
      << "an unknown store size is left out";
  // Prometheus' own parser and linter take it as it is: every line a sample
  // or a comment, labels escaped, no metric without its HELP.
  ravelon::testing::TempFolder folder;
  folder.Write("metrics.txt", metrics);
  EXPECT_EQ(std::system(("promtool check metrics < " + folder.Path("metrics.txt")).c_str()), 0)
      << metrics;

  const std::string json = FormatStatusJson({plain, odd}, "2026-12-07 10:00:00");
  EXPECT_NE(json.find("\"now\": \"2026-12-07 10:00:00\""), std::string::npos);
  EXPECT_NE(json.find("\"name\": \"back \\\"yard\\\"\\\\\\u000acam\""), std::string::npos) << json;
  EXPECT_NE(json.find("\"frames\": 120, \"saved\": 100, \"bytes\": 5000000, \"reconnects\": 2"),
            std::string::npos)
      << json;
}

TEST(RecordedSpansTest, SpansAreTheSegmentsClippedToTheDay) {
  // Two connections from 23:59:50 on 2026-12-06: the recording runs past
  // midnight, over more than one file set.
  const auto recorded = testing::RecordStore(22, 23 * 3600 + 59 * 60 + 50);
  MemoryFileSystem& files = recorded->files();
  std::string error;
  std::vector<RecordedSpan> spans[4];  // of 2026-12-05 to 2026-12-08
  for (int i = 0; i < 4; ++i)
    ASSERT_TRUE(RecordedSpansOfDay(files, testing::kStoreFolder, 20261205 + i, spans[i], error));
  auto& [before, first, second, after] = spans;
  EXPECT_TRUE(before.empty());
  EXPECT_TRUE(after.empty()) << "the last set of an earlier day ends before this one";
  ASSERT_FALSE(first.empty());
  ASSERT_FALSE(second.empty());
  EXPECT_GE(first.front().from, ToStampKey(20261206, 235950000));
  EXPECT_EQ(first.back().to, ToStampKey(20261206, 235959999)) << "clipped at midnight";
  EXPECT_EQ(second.front().from, ToStampKey(20261207, 0)) << "clipped at midnight";
  EXPECT_LE(second.back().to, ToStampKey(20261207, 100000));
  for (const auto* day : {&first, &second}) {
    for (size_t i = 0; i < day->size(); ++i) {
      EXPECT_LE((*day)[i].from, (*day)[i].to);
      EXPECT_GT((*day)[i].frames, 0);
      // A segment's end is the last save run before the next began, and
      // that run may stamp its first frames back to the moment the
      // connection began: spans may overlap, but start in order.
      EXPECT_TRUE(i == 0 || (*day)[i - 1].from <= (*day)[i].from) << "oldest first";
    }
  }
  EXPECT_EQ(FormatSpansJson(20261207, {{ToStampKey(20261207, 0), ToStampKey(20261207, 1500),
                                        "261206235950", 44}}),
            "{\"day\": \"2026-12-07\", \"spans\": [{\"from\": \"2026-12-07 00:00:00.000\", \"to\": "
            "\"2026-12-07 00:00:01.500\", \"set\": \"261206235950\", \"frames\": 44}]}\n");
  EXPECT_FALSE(RecordedSpansOfDay(files, "/nowhere/", 20261206, first, error));
  // What the vector held before is gone.
  ASSERT_TRUE(RecordedSpansOfDay(files, testing::kStoreFolder, 20261205, second, error));
  EXPECT_TRUE(second.empty());
}

}  // namespace
}  // namespace ravelon::cli

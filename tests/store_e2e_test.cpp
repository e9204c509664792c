// A recording end to end on the real platform: a source on the loopback
// interface streams real JPEG images while the host saves periodically, and
// releasing the engine saves the rest, more than one file set's worth. An
// independent reader then walks the store folder set by set: every saved
// image must be one the source sent, byte for byte and in the order sent,
// with strictly increasing stamps, spread over several file sets that each
// keep to the size limit, and the registry must name the last set.
#include <gtest/gtest.h>
#include <stdlib.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdint>
#include <filesystem>
#include <iostream>
#include <map>
#include <memory>
#include <set>
#include <string>
#include <system_error>
#include <unordered_map>
#include <utility>
#include <vector>

#include "common/hex_encoding.h"
#include "common/number_encoding.h"
#include "engine/reg_utils.h"
#include "ravelon/file_system.h"
#include "ravelon/korvid.h"
#include "ravelon/media_frame.h"
#include "ravelon/platform.h"
#include "store/record_formats.h"
#include "support/jpeg_maker.h"
#include "support/loopback_server.h"
#include "support/real_loop.h"
#include "support/recording_host.h"
#include "support/store_reader.h"
#include "support/temp_folder.h"

namespace ravelon {
namespace {

using testing::TempFolder;

using std::chrono::milliseconds;
using std::chrono::seconds;
using testing::LoopbackServer;
using testing::MakeJpeg;
using testing::ReadFileSet;
using testing::ReadWhole;
using testing::RecordingHost;
using testing::RunUntil;

constexpr int kFrames = 120;
constexpr milliseconds kFrameGap(25);  // 40 images a second, about 3 MB/s
// The host's save period. Each save run fills at most the current set (a
// full set ends the run), so a period of one second would keep up with no
// more than about 1 MB/s; a quarter of a second keeps the test short.
constexpr int32_t kSavePeriodMs = 250;
constexpr int64_t kSizeLimitBytes = 1'048'576;  // SetFileSizeLimit(1)
constexpr int64_t kSecondsPerDay = 86'400;

// The present moment as a day number with the time of day as its fraction.
double Now(const Platform& platform) {
  return platform.GetClock().Today() + platform.GetClock().SecondsSinceMidnight() / kSecondsPerDay;
}

bool IsSetName(const std::string& name) {
  return name.size() == 12 &&
         std::all_of(name.begin(), name.end(), [](char c) { return c >= '0' && c <= '9'; });
}

// Seconds since 1899-12-30 of the second a set name YYMMDDHHMMSS stands for.
int64_t SetNameSeconds(const std::string& name) {
  const auto two = [&name](size_t at) { return std::stoi(name.substr(at, 2)); };
  return int64_t{DaysSince18991230(2000 + two(0), static_cast<unsigned>(two(2)),
                                   static_cast<unsigned>(two(4)))} *
             kSecondsPerDay +
         two(6) * 3600 + two(8) * 60 + two(10);
}

std::string Part(const std::string& jpeg) {
  return "--myboundary\r\nContent-Type: image/jpeg\r\nContent-Length: " +
         std::to_string(jpeg.size()) + "\r\n\r\n" + jpeg + "\r\n";
}

TEST(StoreE2eTest, AStreamedRecordingIsSavedIntactAndInOrderAcrossFileSets) {
  const auto test_start = std::chrono::steady_clock::now();
  TempFolder temp;
  ASSERT_FALSE(temp.path().empty());
  const std::string store = temp.path() + "/store/";

  // Distinct images (each its own noise) of 20 to 150 KB.
  constexpr int kShapes[][3] = {{320, 240, 16}, {480, 360, 12}, {640, 480, 12},
                                {480, 360, 48}, {640, 480, 24}, {480, 360, 24}};
  std::vector<std::string> sent;
  std::unordered_map<std::string, int> sent_index;
  int64_t sent_bytes = 0;
  for (int i = 0; i < kFrames; ++i) {
    const int* shape = kShapes[i % 6];
    sent.push_back(MakeJpeg(shape[0], shape[1], shape[2], static_cast<uint32_t>(i + 1)));
    ASSERT_GE(sent.back().size(), 20'000u) << "image " << i;
    ASSERT_LE(sent.back().size(), 150'000u) << "image " << i;
    ASSERT_TRUE(sent_index.emplace(sent.back(), i).second) << "image " << i << " repeats";
    sent_bytes += static_cast<int64_t>(sent.back().size());
  }

  LoopbackServer server;
  const std::shared_ptr<Platform> platform = NewRealPlatform(temp.path() + "/registry.db");
  RecordingHost host;
  Korvid engine(platform);
  engine.SetEventSink(&host);
  engine.InitEngineFromReg("cam", "");  // File and FileTime go to the source's key
  engine.DBPath(store);
  engine.SetAddress("127.0.0.1");
  engine.SetPort(server.port());
  engine.SetUrl("video.mjpg");
  engine.SetStreaming(true);
  engine.DoSave(true);
  engine.SetSaveIterval(10);
  engine.SetFileSizeLimit(1);
  engine.SetPreAllocationSize(1);
  const double began = Now(*platform);
  int32_t first_date = 0, first_time = 0;
  GetNowDateTimeLongs(platform->GetClock(), first_date, first_time);
  engine.PrepareEngine();
  engine.Connect();
  ASSERT_TRUE(RunUntil(
      *platform, [&] { return server.received().find("\r\n\r\n") != std::string::npos; },
      seconds(5), [&] { server.Poll(); }));
  server.Queue(
      "HTTP/1.0 200 OK\r\nContent-Type: multipart/x-mixed-replace; boundary=myboundary\r\n\r\n");

  // The source sends one image every kFrameGap while the host saves every
  // kSavePeriodMs. The host stops saving before the last stretch of images,
  // more than one set's worth, which the release then has to save across a
  // roll-over.
  size_t tail_start = sent.size();
  for (int64_t tail_bytes = 0; tail_bytes <= kSizeLimitBytes && tail_start > 0;) {
    tail_bytes += static_cast<int64_t>(sent[--tail_start].size());
  }
  int save_runs = 0;
  auto saver = platform->Loop().NewTimer([&] {
    ++save_runs;
    engine.ForcedSave();
  });
  saver->SetInterval(kSavePeriodMs);
  saver->SetEnabled(true);
  const MonoTime stream_start = platform->GetClock().Monotonic();
  size_t queued = 0;
  const auto stream = [&] {
    const auto due = (platform->GetClock().Monotonic() - stream_start) / kFrameGap + 1;
    for (; queued < sent.size() && static_cast<int64_t>(queued) < due; ++queued) {
      if (queued == tail_start) saver->SetEnabled(false);
      server.Queue(Part(sent[queued]));
      if (queued + 1 == sent.size()) server.Queue("--myboundary\r\n");  // ends the last part
    }
    server.Poll();
  };
  uint8_t type = 0;
  std::string newest;
  ASSERT_TRUE(RunUntil(
      *platform, [&] { return engine.GetData(type, newest) == kFrames; }, seconds(10), stream))
      << engine.GetData(type, newest) << " of " << kFrames << " images taken";
  ASSERT_FALSE(saver->Enabled());
  const int32_t queued_at_release = engine.FramesBuffered();
  EXPECT_GE(queued_at_release, static_cast<int32_t>(sent.size() - tail_start));
  engine.ReleaseNGN();
  const int32_t left_in_queue = engine.FramesBuffered();
  EXPECT_EQ(left_in_queue, 0) << "images the release left unsaved";
  const double ended = Now(*platform);
  int32_t last_date = 0, last_time = 0;
  GetNowDateTimeLongs(platform->GetClock(), last_date, last_time);

  // The independent reader: every set of the folder, in name order.
  const std::unique_ptr<FileSystem> files = NewPosixFileSystem();
  std::vector<DirectoryEntry> entries;
  std::string error;
  ASSERT_EQ(files->List(store, entries, error), 0) << error;
  std::map<std::string, std::set<std::string>> sets;  // base name -> its extensions
  for (const DirectoryEntry& entry : entries) {
    if (entry.is_directory) continue;
    const size_t dot = entry.name.rfind('.');
    ASSERT_NE(dot, std::string::npos) << entry.name;
    sets[entry.name.substr(0, dot)].insert(entry.name.substr(dot));
  }
  int saved = 0, last_sent = -1;
  std::pair<int32_t, int32_t> last_stamp{first_date, first_time - 1};  // not before the start
  int64_t previous_used = -1;
  std::vector<int> missing;
  for (const auto& [name, extensions] : sets) {
    SCOPED_TRACE("set " + name);
    EXPECT_TRUE(IsSetName(name));
    EXPECT_EQ(extensions, (std::set<std::string>{".bin", ".id2", ".idx"}));
    bool ok = false;
    const std::vector<StoredFrame> frames = ReadFileSet(*files, store + name, &ok);
    EXPECT_TRUE(ok);
    ASSERT_FALSE(frames.empty());
    int64_t used = 0;
    for (const StoredFrame& frame : frames) {
      used += static_cast<int64_t>(frame.data.size());
      EXPECT_EQ(frame.data_type, kJpeg);
      const auto found = sent_index.find(frame.data);
      if (found == sent_index.end()) {
        ADD_FAILURE() << "a saved frame of " << frame.data.size() << " bytes was never sent";
        continue;
      }
      EXPECT_GT(found->second, last_sent)
          << "image " << found->second << " saved after image " << last_sent;
      for (int i = last_sent + 1; i < found->second; ++i) missing.push_back(i);
      last_sent = std::max(last_sent, found->second);
      ++saved;
      const std::pair<int32_t, int32_t> stamp{frame.date, frame.time};
      EXPECT_GT(stamp, last_stamp) << "image " << found->second;
      last_stamp = stamp;
    }
    // A set holds what fits under the limit (one larger image may fill an
    // empty set alone), and ends only when the next image does not fit.
    EXPECT_TRUE(used <= kSizeLimitBytes || frames.size() == 1) << used << " bytes of frames";
    EXPECT_LE(static_cast<int64_t>(ReadWhole(*files, store + name + ".bin").size()),
              std::max(used, kSizeLimitBytes));
    if (previous_used >= 0) {
      EXPECT_GT(previous_used + static_cast<int64_t>(frames.front().data.size()), kSizeLimitBytes)
          << "the previous set ended with room for this set's first image";
    }
    previous_used = used;
  }
  for (int i = last_sent + 1; i < kFrames; ++i) missing.push_back(i);
  EXPECT_LE(last_stamp, std::make_pair(last_date, last_time)) << "a stamp after the release";
  EXPECT_GE(saved * 10, kFrames * 9);
  EXPECT_GE(sets.size(), 3u);

  // The registry names the last set, and the moment it began.
  ASSERT_FALSE(sets.empty());
  const std::string last_set = sets.rbegin()->first;
  RegUtils registry(platform->Registry());
  const std::string key = "Src\\cam\\";
  EXPECT_EQ(registry.Registry_Get(key, "File", ""), last_set);
  const std::string file_time_hex = registry.Registry_Get(key, "FileTime", "");
  ASSERT_EQ(file_time_hex.size(), 16u) << file_time_hex;
  const double file_time = BytesToDouble(HexToString(file_time_hex));
  EXPECT_GE(file_time, began);
  EXPECT_LE(file_time, ended);
  // A set is named after the second it begins, moved on a second at a time
  // past names already taken.
  const auto file_second = static_cast<int64_t>(std::floor(file_time * kSecondsPerDay + 1e-6));
  EXPECT_LE(file_second, SetNameSeconds(last_set) + 1) << last_set;
  EXPECT_LE(SetNameSeconds(last_set), file_second + static_cast<int64_t>(sets.size())) << last_set;

  for (const auto& event : host.events) EXPECT_NE(event.level, kDebugError) << event.text;
  std::string missing_text;
  for (const int i : missing) missing_text += " " + std::to_string(i);
  const auto run_ms =
      std::chrono::duration_cast<milliseconds>(std::chrono::steady_clock::now() - test_start);
  std::cout << "[ store    ] sent " << kFrames << " images (" << sent_bytes << " bytes), saved "
            << saved << " in " << sets.size() << " sets; " << save_runs
            << " periodic save runs; the last " << sent.size() - tail_start
            << " images left to the release, " << queued_at_release << " queued at release, "
            << left_in_queue
            << " left after it; missing:" << (missing.empty() ? " none" : missing_text) << "; "
            << run_ms.count() << " ms\n";
}

}  // namespace
}  // namespace ravelon

// A recording end to end on the real platform: a loopback source streams real JPEG images while
// the host saves periodically, and releasing the engine saves the rest, more than one file set's
// worth. Reading the store folder back, every saved image must be one the source sent, byte for
// byte and in the order sent, with increasing stamps, spread over several file sets that each keep
// to the size limit, and the registry must name the last set.
#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <filesystem>
#include <map>
#include <set>
#include <string>
#include <vector>

#include "common/hex_encoding.h"
#include "common/number_encoding.h"
#include "engine/reg_utils.h"
#include "ravelon/korvid.h"
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

constexpr int kFrames = 120;
constexpr std::chrono::milliseconds kFrameGap(25);  // 40 images a second, about 3 MB/s
constexpr int64_t kLimit = 1'048'576;               // SetFileSizeLimit(1)
constexpr int64_t kDay = 86'400;                    // seconds

// The present moment as a day number with the time of day as its fraction.
double Now(const Clock& clock) { return clock.Today() + clock.SecondsSinceMidnight() / kDay; }

// Seconds since 1899-12-30 of the second a set name YYMMDDHHMMSS stands for.
int64_t NameSeconds(const std::string& name) {
  const auto two = [&name](size_t at) { return std::stoi(name.substr(at, 2)); };
  return int64_t{DaysSince18991230(2000 + two(0), two(2), two(4))} * kDay + two(6) * 3600 +
         two(8) * 60 + two(10);
}

TEST(StoreE2eTest, AStreamedRecordingIsSavedIntactAndInOrderAcrossFileSets) {
  testing::TempFolder temp;
  const std::string store = temp.path() + "/store/";
  std::vector<std::string> sent;  // distinct images (each its own noise) of 40 to 100 KB
  std::map<std::string, int> sent_index;
  for (int i = 0; i < kFrames; ++i) {
    sent.push_back(testing::MakeJpeg(480, 360, 12 + 12 * (i % 4), i + 1));
    ASSERT_TRUE(sent_index.emplace(sent.back(), i).second) << "image " << i << " repeats";
  }

  testing::LoopbackServer server;
  const std::shared_ptr<Platform> platform = NewRealPlatform(temp.path() + "/registry.db");
  testing::RecordingHost host;
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
  const double began = Now(platform->GetClock());
  int32_t first_date = 0, first_time = 0, last_date = 0, last_time = 0;
  GetNowDateTimeLongs(platform->GetClock(), first_date, first_time);
  engine.PrepareEngine();
  engine.Connect();
  ASSERT_TRUE(testing::RunUntil(
      *platform, [&] { return server.received().find("\r\n\r\n") != std::string::npos; },
      std::chrono::seconds(5), [&] { server.Poll(); }));
  server.Queue(
      "HTTP/1.0 200 OK\r\nContent-Type: multipart/x-mixed-replace; boundary=myboundary\r\n\r\n");

  // One image every kFrameGap while the host saves every 250 ms (a save run fills at most the
  // current set, so once a second would keep up with only about 1 MB/s), until the last stretch of
  // images, more than one set's worth, which the release then has to save across a roll-over.
  size_t tail = sent.size();
  for (int64_t bytes = 0; bytes <= kLimit;) bytes += std::ssize(sent[--tail]);
  auto saver = platform->Loop().NewTimer([&] { engine.ForcedSave(); });
  saver->SetInterval(250);
  saver->SetEnabled(true);
  const MonoTime start = platform->GetClock().Monotonic();
  size_t queued = 0;
  const auto stream = [&] {
    const auto due = static_cast<size_t>((platform->GetClock().Monotonic() - start) / kFrameGap);
    for (; queued < std::min(sent.size(), due + 1); ++queued) {
      if (queued == tail) saver->SetEnabled(false);
      server.Queue("--myboundary\r\nContent-Type: image/jpeg\r\nContent-Length: " +
                   std::to_string(sent[queued].size()) + "\r\n\r\n" + sent[queued] + "\r\n");
      if (queued + 1 == sent.size()) server.Queue("--myboundary\r\n");  // ends the last part
    }
    server.Poll();
  };
  uint8_t type = 0;
  std::string newest;
  ASSERT_TRUE(testing::RunUntil(
      *platform, [&] { return engine.GetData(type, newest) == kFrames; }, std::chrono::seconds(10),
      stream))
      << engine.GetData(type, newest) << " of " << kFrames << " images taken";
  EXPECT_GE(engine.FramesBuffered(), static_cast<int32_t>(sent.size() - tail));
  engine.ReleaseNGN();
  EXPECT_EQ(engine.FramesBuffered(), 0) << "images the release left unsaved";
  const double ended = Now(platform->GetClock());
  GetNowDateTimeLongs(platform->GetClock(), last_date, last_time);

  // Every set of the folder in name order, through the store's public reader.
  std::map<std::string, std::set<std::string>> sets;  // base name -> its extensions
  for (const auto& entry : std::filesystem::directory_iterator(store))
    sets[entry.path().stem().string()].insert(entry.path().extension().string());
  int saved = 0, last_sent = -1;
  std::pair<int32_t, int32_t> last_stamp{first_date, first_time - 1};  // not before the start
  int64_t previous_used = -1;
  for (const auto& [name, extensions] : sets) {
    SCOPED_TRACE("set " + name);
    EXPECT_TRUE(name.size() == 12 && name.find_first_not_of("0123456789") == std::string::npos);
    EXPECT_EQ(extensions, (std::set<std::string>{".bin", ".id2", ".idx"}));
    bool ok = false;
    const auto frames = testing::ReadFileSet(platform->Files(), store + name, &ok);
    ASSERT_TRUE(ok && !frames.empty());
    int64_t used = 0;
    for (const StoredFrame& frame : frames) {
      used += std::ssize(frame.data);
      const auto found = sent_index.find(frame.data);
      ASSERT_NE(found, sent_index.end()) << "a saved image of " << frame.data.size() << " bytes";
      EXPECT_GT(found->second, std::exchange(last_sent, found->second)) << "saved out of order";
      const std::pair stamp{frame.date, frame.time};
      EXPECT_GT(stamp, std::exchange(last_stamp, stamp)) << "image " << found->second;
      ++saved;
    }
    // A set holds what fits under the limit (one larger image may fill an empty set alone), and
    // ends only when the next image does not fit.
    EXPECT_TRUE(used <= kLimit || frames.size() == 1) << used << " bytes of frames";
    EXPECT_LE(static_cast<int64_t>(std::filesystem::file_size(store + name + ".bin")),
              std::max(used, kLimit));
    EXPECT_TRUE(previous_used < 0 || previous_used + std::ssize(frames.front().data) > kLimit)
        << "the previous set ended with room for this set's first image";
    previous_used = used;
  }
  EXPECT_LE(last_stamp, std::make_pair(last_date, last_time)) << "a stamp after the release";
  EXPECT_GE(saved * 10, kFrames * 9);
  ASSERT_GE(sets.size(), 3u);

  // The registry names the last set and the moment it began, which the set's name follows: the
  // second it began, moved on a second at a time past names already taken.
  const std::string last_set = sets.rbegin()->first;
  RegUtils registry(platform->Registry());
  EXPECT_EQ(registry.Registry_Get("Src\\cam\\", "File", ""), last_set);
  const std::string file_time_hex = registry.Registry_Get("Src\\cam\\", "FileTime", "");
  const double file_time = BytesToDouble(HexToString(file_time_hex));  // 0 unless 8 bytes
  EXPECT_TRUE(began <= file_time && file_time <= ended) << file_time_hex;
  const auto file_second = static_cast<int64_t>(file_time * kDay + 1e-6);
  EXPECT_LE(file_second, NameSeconds(last_set) + 1) << last_set;
  EXPECT_LE(NameSeconds(last_set), file_second + static_cast<int64_t>(sets.size())) << last_set;
  for (const auto& event : host.events) EXPECT_NE(event.level, kDebugError) << event.text;
}

}  // namespace
}  // namespace ravelon

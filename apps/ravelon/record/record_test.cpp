// The pieces of `ravelon record` that decide what a user reads: which log
// lines show, and the state a source's log lines put it in; how the saves of
// a loop's sources spread over the cadence; and a stop that comes early.
#include <gtest/gtest.h>

#include <cstdio>
#include <string>
#include <vector>

#include "ravelon/debug_levels.h"
#include "ravelon/korvid.h"
#include "record/log_sink.h"
#include "record/recorder.h"
#include "record/source_status.h"

namespace ravelon::cli {
namespace {

TEST(RecordStatusTest, StateFollowsTheEngineLogLines) {
  const struct {
    const char* line;
    const char* state;
  } cases[] = {
      {"Connecting to the source.", "connecting"},
      {"Scheduled disconnect.", "scheduled off"},
      {"Connect timeout: name lookup of cam.local did not finish.", "reconnecting"},
      {"Creating new database filename: x", ""},
      {"connecting to the source.", ""},  // the engine's own texts only
  };
  for (const auto& c : cases) EXPECT_EQ(StateAfterLogLine(c.line), c.state) << c.line;
}

TEST(RecordStatusTest, LogSinkDropsLinesBelowTheLevelAndKeepsThemUnderTheTable) {
  std::FILE* out = std::tmpfile();
  ASSERT_NE(out, nullptr);
  LogSink log(out, 4);
  log.Write("cam", 3, "hidden");
  log.Write("cam", 4, "shown");
  log.KeepForTable(true);
  for (size_t i = 0; i < LogSink::kRecentLines + 2; ++i) log.Write("cam", 10, std::to_string(i));
  ASSERT_EQ(log.Recent().size(), LogSink::kRecentLines);
  EXPECT_NE(log.Recent().front().find("[cam] 10 2"), std::string::npos);
  log.KeepForTable(false);  // what the table showed is kept in the log too
  EXPECT_TRUE(log.Recent().empty());
  std::rewind(out);
  std::string text(4096, '\0');
  text.resize(std::fread(text.data(), 1, text.size(), out));
  std::fclose(out);
  EXPECT_EQ(text.find("hidden"), std::string::npos);
  EXPECT_NE(text.find("[cam]  4 shown\n"), std::string::npos);
  EXPECT_NE(text.find("[cam] 10 13\n"), std::string::npos);
}

TEST(RecordStatusTest, LogLineHasTimeSourceAndLevel) {
  const std::string line = FormatLogLine(1'765'000'000'123, "cam1", 10, "Boom.");
  EXPECT_EQ(line.size(), std::string("2025-12-06 05:46:40.123 [cam1] 10 Boom.").size());
  EXPECT_EQ(line.substr(19), ".123 [cam1] 10 Boom.");
}

// Within one cadence, in order, the last at the cadence itself, none at 0 and
// no two further apart than an even share: a few sources, more sources than
// milliseconds, one source, and a cadence whose product with the count passes
// 32 bits.
TEST(RecordSaveSpreadTest, FirstSavesSpreadEvenlyOverOneCadence) {
  const std::pair<size_t, int32_t> cases[] = {{4, 1000}, {1500, 1000}, {1, 10}, {50'000, 60'000}};
  for (const auto& [count, cadence] : cases) {
    int32_t previous = 0;
    for (size_t i = 0; i < count; ++i) {
      const int32_t first = FirstSaveAfterMs(i, count, cadence);
      ASSERT_GE(first, std::max(previous, 1)) << count << " " << i;
      ASSERT_LE(first - previous, cadence / static_cast<int32_t>(count) + 1) << count << " " << i;
      previous = first;
    }
    EXPECT_EQ(previous, cadence) << count;
  }
}

// A stop that comes while the sources are still starting (a signal at once,
// a short --for) runs inside a source's start, which lets the loop run: it
// must still end the loop and release every source, not leave Stop waiting.
TEST(RecorderTest, StopRightAfterStartReleasesEverySource) {
  std::FILE* out = std::tmpfile();
  ASSERT_NE(out, nullptr);
  LogSink log(out, kDebugError);
  RecorderSettings settings;
  settings.loops = 1;
  Recorder recorder(settings, log);
  const auto refused = [](Korvid& engine) {
    engine.DoSave(false);
    engine.SetAddress("127.0.0.1");
    engine.SetPort(1);  // refused
  };
  recorder.Start({{"cam1", refused, nullptr}, {"cam2", refused, nullptr}});
  recorder.Stop();
  for (const SourceStatus& s : recorder.Statuses()) EXPECT_EQ(s.state, "released") << s.name;
  std::fclose(out);
}

}  // namespace
}  // namespace ravelon::cli

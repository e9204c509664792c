// The web view of `ravelon record --http` in a real browser: headless
// Chromium, driven over WebDriver, opens the page of a recorder that records
// a test camera in this process, and the test checks what a person would
// see there. A screenshot of the page is left in the build tree
// (RAVELON_TEST_OUTPUT) for people to look at.
#include <gtest/gtest.h>
#include <httplib.h>
#include <signal.h>

#include <algorithm>
#include <chrono>
#include <filesystem>
#include <fstream>
#include <functional>
#include <iostream>
#include <optional>
#include <sstream>
#include <string>
#include <vector>

#include "camera/test_camera.h"
#include "record/log_sink.h"
#include "support/temp_folder.h"
#include "tests/command_process.h"
#include "tests/web_driver.h"

namespace ravelon::cli {
namespace {

using testing::BrowserSession;
using testing::CommandProcess;
using testing::JsonField;
using namespace std::chrono_literals;

// The moment as the recorder stamps frames: local "YYYY-MM-DD HH:MM:SS.mmm",
// so that stamps compare as text.
std::string LocalStampNow() {
  return FormatLocalTime(std::chrono::duration_cast<std::chrono::milliseconds>(
                             std::chrono::system_clock::now().time_since_epoch())
                             .count());
}

// Asks the browser every 100 ms until `done` holds (true) or `limit` passes.
bool Poll(const std::function<bool()>& done, std::chrono::milliseconds limit) {
  return testing::PollUntil(done, limit, 100ms);
}

// What `#live` shows: "WIDTHxHEIGHT HASH", the hash over its pixels drawn
// on a canvas; "" until it has loaded.
constexpr const char* kPicture = R"js(
  const img = document.getElementById("live");
  if (!img || !img.naturalWidth) return "";
  const canvas = document.createElement("canvas");
  canvas.width = img.naturalWidth;
  canvas.height = img.naturalHeight;
  const context = canvas.getContext("2d");
  context.drawImage(img, 0, 0);
  const pixels = context.getImageData(0, 0, canvas.width, canvas.height).data;
  let hash = 2166136261;
  for (let i = 0; i < pixels.length; i++) hash = Math.imul(hash ^ pixels[i], 16777619) >>> 0;
  return canvas.width + "x" + canvas.height + " " + hash;
)js";

// The server's time as the page last showed it.
constexpr const char* kShownTime = R"js(return document.getElementById("now").textContent;)js";

// The source cards: how many, and the first one's state, thumbnail and
// choice.
constexpr const char* kCards = R"js(
  const cards = document.querySelectorAll("#sources .source");
  const card = document.querySelector('#sources .source[data-name="cam"]');
  if (!card) return cards.length + " cards, none for cam";
  return cards.length + " card: " + card.querySelector(".state").textContent + ", " +
         (card.querySelector(".thumb").naturalWidth > 0 ? "with" : "without") + " picture, " +
         (card.classList.contains("selected") ? "chosen" : "not chosen");
)js";

// The timeline's spans, one "FROM/TO" line each.
constexpr const char* kSpans = R"js(
  return [...document.querySelectorAll("#timeline .span")]
      .map((s) => s.dataset.from + "/" + s.dataset.to).join("\n");
)js";

// Clicks the timeline just left of the first span, as a person aiming at a
// span a pixel or two wide would: the page plays from the span's start.
constexpr const char* kClickFirstSpan = R"js(
  const span = document.querySelector("#timeline .span");
  if (!span) return "no span";
  const box = span.getBoundingClientRect();
  document.getElementById("timeline").dispatchEvent(new MouseEvent("click",
      {clientX: box.left - 1, clientY: box.top + 1, bubbles: true}));
  return "clicked";
)js";

// What the viewer plays after the click: the first span from its start
// (whole seconds); whether the timeline marks where, and whether the
// download link offers the same range.
constexpr const char* kPlayback = R"js(
  const span = document.querySelector("#timeline .span");
  const img = document.getElementById("live"), download = document.getElementById("download");
  const from = "?from=" + encodeURIComponent(span.dataset.from.slice(0, 19)) + "&to=";
  const playing = img.currentSrc.includes("/sources/cam/playback.mjpg" + from);
  return (playing && img.naturalWidth ? "playing " + img.naturalWidth + "x" + img.naturalHeight
                                      : "not playing") + ", " +
         (document.querySelector("#timeline .chosen") ? "marked" : "not marked") + ", " +
         (!download.hidden && download.href.includes("/sources/cam/export.mjpg" + from)
              ? "download offered" : "no download");
)js";

// Goes back to the live picture with the page's Live button.
constexpr const char* kGoLive = R"js(document.getElementById("go-live").click(); return "";)js";

// The stream `#live` shows, once a picture of it has loaded.
constexpr const char* kShowing = R"js(
  const img = document.getElementById("live");
  return img.naturalWidth ? img.currentSrc.replace(/^.*\/sources\//, "") : "";
)js";

// The spans of the "FROM/TO" lines of `text`.
std::vector<std::pair<std::string, std::string>> Spans(const std::string& text) {
  std::vector<std::pair<std::string, std::string>> spans;
  std::istringstream lines(text);
  for (std::string line; std::getline(lines, line);)
    if (const size_t slash = line.find('/'); slash != line.npos)
      spans.emplace_back(line.substr(0, slash), line.substr(slash + 1));
  return spans;
}

// The latest end of the spans of `text`; "" when there are none.
std::string LatestEnd(const std::string& text) {
  std::string latest;
  for (const auto& span : Spans(text)) latest = std::max(latest, span.second);
  return latest;
}

// A recorder with its web view on, recording a test camera of 320x240 at
// 25 frames a second that saves every frame.
class WebBrowserE2eTest : public ::testing::Test {
 protected:
  static constexpr double kFps = 25;

  void SetUp() override {
    camera_.Start();
    const std::string registry = folder_.Path("registry.db");
    ASSERT_EQ(testing::AddSource(registry, "cam", camera_.Port(), "/video", folder_.Path("cam")),
              "");
    started_ = LocalStampNow();
    recorder_.emplace(std::vector<std::string>{"record", "--registry", registry, "--http",
                                               "127.0.0.1:0", "--status", "lines"});
    port_ = testing::WebViewPort(*recorder_);
    ASSERT_NE(port_, 0) << recorder_->Out();
  }

  ravelon::testing::TempFolder folder_;
  TestCamera camera_{CameraOptions{.port = 0, .fps = kFps, .width = 320, .height = 240}};
  std::string started_;  // before the recorder started
  int port_ = 0;
  std::optional<CommandProcess> recorder_;
};

TEST_F(WebBrowserE2eTest, PageShowsTheLivePictureTheSourceAndPlaysWhatWasRecorded) {
  // Made after the recorder, so that the browser ends first.
  BrowserSession browser(1280, 900);
  if (!browser.Installed()) GTEST_SKIP() << "skipped: chromedriver not installed";
  ASSERT_TRUE(browser.Ready()) << browser.Failure();
  // Frames saved before the page opens, so that the timeline it loads at
  // once has a span to show.
  httplib::Client api("127.0.0.1", port_);
  std::string status;
  ASSERT_TRUE(Poll(
      [&] {
        const auto answer = api.Get("/api/status");
        status = answer ? answer->body : "no answer";
        return std::stoll(JsonField(status, "saved").value_or("0")) > 0;
      },
      20s))
      << status;
  const std::string saved_by = LocalStampNow();
  ASSERT_EQ(browser.Open("http://127.0.0.1:" + std::to_string(port_) + "/"), "");

  std::string first, later;
  EXPECT_TRUE(Poll([&] { return !(first = browser.Run(kPicture)).empty(); }, 15s))
      << "the live picture never loaded";
  EXPECT_TRUE(first.starts_with("320x240 ")) << first;
  // The camera draws each frame's number and time, so a moving stream moves
  // the pixels too.
  EXPECT_TRUE(Poll([&] { return (later = browser.Run(kPicture)) != first; }, 15s))
      << "the live picture stands still: " << later;

  // The page asks for the status every second; once it has twice, a second
  // card for the same source would show.
  std::string shown;
  EXPECT_TRUE(Poll([&] { return !(shown = browser.Run(kShownTime)).empty(); }, 15s));
  EXPECT_TRUE(Poll([&] { return browser.Run(kShownTime) != shown; }, 15s))
      << "the page stopped asking for the status at " << shown;
  std::string cards;
  EXPECT_TRUE(Poll(
      [&] { return (cards = browser.Run(kCards)) == "1 card: receiving, with picture, chosen"; },
      20s))
      << cards;

  // A span that starts after the recorder did, by the time a frame was
  // saved, and ends by now.
  std::string spans;
  const auto recorded = [&](const std::pair<std::string, std::string>& span) {
    const auto& [from, to] = span;
    return from >= started_ && from <= saved_by && to >= from && to <= LocalStampNow();
  };
  EXPECT_TRUE(
      Poll([&] { return std::ranges::any_of(Spans(spans = browser.Run(kSpans)), recorded); }, 15s))
      << "recording since " << started_ << ", a frame saved by " << saved_by << "; spans:\n"
      << spans;

  const std::filesystem::path shot = std::filesystem::path(RAVELON_TEST_OUTPUT) / "web_view.png";
  std::filesystem::create_directories(shot.parent_path());
  const std::string png = browser.ScreenshotPng();
  EXPECT_TRUE(png.starts_with("\x89PNG")) << "no screenshot";
  std::ofstream(shot, std::ios::binary) << png;
  std::cout << "Screenshot of the web view: " << shot.string() << "\n";

  EXPECT_EQ(browser.Run(kClickFirstSpan), "clicked");
  std::string playback;
  EXPECT_TRUE(Poll(
      [&] {
        return (playback = browser.Run(kPlayback)) == "playing 320x240, marked, download offered";
      },
      20s))
      << playback;
  const std::string played = browser.Run(kPicture);
  EXPECT_TRUE(Poll([&] { return browser.Run(kPicture) != played; }, 15s))
      << "the recorded frames do not play";

  // The page loads the timeline again every 10 s: the span grows. The
  // viewer stays with what was chosen meanwhile.
  EXPECT_TRUE(Poll([&] { return LatestEnd(browser.Run(kSpans)) > LatestEnd(spans); }, 25s))
      << "the timeline still ends at " << LatestEnd(spans);
  EXPECT_EQ(browser.Run(kPlayback), playback);

  // A browser still reading the live stream must not hold the recorder up.
  browser.Run(kGoLive);
  std::string showing;
  EXPECT_TRUE(Poll([&] { return (showing = browser.Run(kShowing)) == "cam/live.mjpg"; }, 15s))
      << showing;
  recorder_->Signal(SIGTERM);
  const auto ended = recorder_->Wait(15s);
  EXPECT_EQ(ended.status, 0) << ended.err;
}

}  // namespace
}  // namespace ravelon::cli

// The web view of `ravelon record --http` end to end, as a user runs it,
// against a test camera in this process. In a real browser: headless
// Chromium, driven over WebDriver, opens the page, and the test checks what a
// person would see there; a screenshot of the page is left in the build tree
// (RAVELON_TEST_OUTPUT) for people to look at. And behind a login, as the
// source of a second recorder.
#include <gtest/gtest.h>
#include <httplib.h>
#include <signal.h>

#include <algorithm>
#include <chrono>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <regex>
#include <string>
#include <utility>
#include <vector>

#include "camera/test_camera.h"
#include "ravelon/file_system.h"
#include "record/log_sink.h"
#include "support/temp_folder.h"
#include "tests/command_process.h"
#include "tests/store_recording.h"
#include "tests/web_driver.h"

namespace ravelon::cli {
namespace {

using namespace std::chrono_literals;

// The moment as the recorder stamps frames: local "YYYY-MM-DD HH:MM:SS.mmm",
// so that stamps compare as text.
std::string LocalStampNow() {
  return FormatLocalTime(std::chrono::duration_cast<std::chrono::milliseconds>(
                             std::chrono::system_clock::now().time_since_epoch())
                             .count());
}

// What a script is to return, or what it is to return something else than.
std::function<bool(const std::string&)> Is(const std::string& wanted) {
  return [wanted](const std::string& answer) { return answer == wanted; };
}
std::function<bool(const std::string&)> Other(const std::string& old) {
  return [old](const std::string& answer) { return answer != old; };
}

// What `#live` shows: "WIDTHxHEIGHT HASH", the hash over its pixels drawn
// on a canvas; "" until it has loaded.
constexpr const char* kPicture = R"js(
  const img = document.getElementById("live");
  if (!img || !img.naturalWidth) return "";
  const canvas = Object.assign(document.createElement("canvas"),
                               {width: img.naturalWidth, height: img.naturalHeight});
  const context = canvas.getContext("2d");
  context.drawImage(img, 0, 0);
  const pixels = context.getImageData(0, 0, canvas.width, canvas.height).data;
  return canvas.width + "x" + canvas.height + " " +
         pixels.reduce((hash, p) => Math.imul(hash ^ p, 16777619) >>> 0, 2166136261);
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

// The timeline's spans, "FROM/TO;FROM/TO...", and the latest end of them.
constexpr const char* kSpans = R"js(
  return [...document.querySelectorAll("#timeline .span")]
      .map((s) => s.dataset.from + "/" + s.dataset.to).join(";");
)js";
constexpr const char* kLatestEnd = R"js(
  return [...document.querySelectorAll("#timeline .span")].map((s) => s.dataset.to).sort().pop() ?? "";
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

// The stream `#live` shows, once a picture of it has loaded.
constexpr const char* kShowing = R"js(
  const img = document.getElementById("live");
  return img.naturalWidth ? img.currentSrc.replace(/^.*\/sources\//, "") : "";
)js";

// The "FROM/TO" spans of what kSpans returned.
std::vector<std::pair<std::string, std::string>> Spans(const std::string& text) {
  std::vector<std::pair<std::string, std::string>> spans;
  const std::regex span("([^/;]+)/([^;]+)");
  for (std::sregex_iterator s(text.begin(), text.end(), span), end; s != end; ++s)
    spans.emplace_back((*s)[1], (*s)[2]);
  return spans;
}

// A recorder with its web view on, recording a test camera of 320x240 at 25
// frames a second that saves every frame.
TEST(WebBrowserE2eTest, PageShowsTheLivePictureTheSourceAndPlaysWhatWasRecorded) {
  const ravelon::testing::TempFolder folder;
  TestCamera camera(CameraOptions{.port = 0, .fps = 25, .width = 320, .height = 240});
  camera.Start();
  const std::string registry = folder.Path("registry.db");
  ASSERT_EQ(testing::AddSource(registry, "cam", camera.Port(), "/video", folder.Path("cam")), "");
  const std::string started = LocalStampNow();  // before the recorder started
  testing::CommandProcess recorder({"record", "--registry", registry, "--http", "127.0.0.1:0",
                                    "--status", "lines", "--status-every", "1"});
  const int port = testing::WebViewPort(recorder);
  ASSERT_NE(port, 0) << recorder.Out();
  // Made after the recorder, so that the browser ends first.
  testing::BrowserSession browser(1280, 900);
  if (!browser.Installed()) GTEST_SKIP() << "skipped: chromedriver not installed";
  ASSERT_TRUE(browser.Ready()) << browser.Failure();
  // Frames saved before the page opens, so that the timeline it loads at
  // once has a span to show.
  const auto saved = [&] {
    return std::regex_search(recorder.Out(), std::regex(" [1-9][0-9]* saved"));
  };
  ASSERT_TRUE(testing::PollUntil(saved, 20s)) << recorder.Out();
  const std::string saved_by = LocalStampNow();
  ASSERT_EQ(browser.Open("http://127.0.0.1:" + std::to_string(port) + "/"), "");

  // The camera draws each frame's number and time, so a moving stream moves
  // the pixels too.
  const std::string first = browser.RunUntil(kPicture, Other(""), 15s);
  EXPECT_TRUE(first.starts_with("320x240 ")) << "the live picture did not load: " << first;
  EXPECT_NE(browser.RunUntil(kPicture, Other(first), 15s), first)
      << "the live picture stands still";

  // The page asks for the status every second; once it has twice, a second
  // card for the same source would show.
  const std::string shown = browser.RunUntil(kShownTime, Other(""), 15s);
  EXPECT_NE(browser.RunUntil(kShownTime, Other(shown), 15s), shown)
      << "the page stopped asking for the status";
  const std::string card = "1 card: receiving, with picture, chosen";
  EXPECT_EQ(browser.RunUntil(kCards, Is(card), 20s), card);

  // A span that starts after the recorder did, by the time a frame was
  // saved, and ends by now.
  const auto recorded = [&](const std::string& spans) {
    return std::ranges::any_of(Spans(spans), [&](const auto& span) {
      const auto& [from, to] = span;
      return from >= started && from <= saved_by && to >= from && to <= LocalStampNow();
    });
  };
  const std::string spans = browser.RunUntil(kSpans, recorded, 15s);
  EXPECT_TRUE(recorded(spans)) << "recording since " << started << ", a frame saved by " << saved_by
                               << "; spans: " << spans;

  const std::string png = browser.ScreenshotPng();
  EXPECT_TRUE(png.starts_with("\x89PNG")) << "no screenshot";
  std::filesystem::create_directories(RAVELON_TEST_OUTPUT);
  std::ofstream(RAVELON_TEST_OUTPUT "/web_view.png", std::ios::binary) << png;
  std::cout << "Screenshot of the web view: " RAVELON_TEST_OUTPUT "/web_view.png\n";

  EXPECT_EQ(browser.Run(kClickFirstSpan), "clicked");
  const std::string playing = "playing 320x240, marked, download offered";
  EXPECT_EQ(browser.RunUntil(kPlayback, Is(playing), 20s), playing);
  const std::string played = browser.Run(kPicture);
  EXPECT_NE(browser.RunUntil(kPicture, Other(played), 15s), played)
      << "the recorded frames do not play";

  // The page loads the timeline again every 10 s: the span grows. The
  // viewer stays with what was chosen meanwhile.
  const std::string end = browser.Run(kLatestEnd);
  const auto grown = [&](const std::string& now) { return now > end; };
  EXPECT_GT(browser.RunUntil(kLatestEnd, grown, 25s), end) << "the timeline does not grow";
  EXPECT_EQ(browser.Run(kPlayback), playing);

  // A browser still reading the live stream must not hold the recorder up.
  browser.Run(R"js(document.getElementById("go-live").click();)js");  // the Live button
  EXPECT_EQ(browser.RunUntil(kShowing, Is("cam/live.mjpg"), 15s), "cam/live.mjpg");
  recorder.Signal(SIGTERM);
  const auto ended = recorder.Wait(15s);
  EXPECT_EQ(ended.status, 0) << ended.err;
}

// The login set with `config web-login` guards the view; the relay, given
// it, records each frame the camera sent once, and no other.
TEST(WebRecordE2eTest, LiveStreamBehindTheLoginIsRecordedByASecondRecorder) {
  ravelon::testing::TempFolder folder;
  TestCamera camera(CameraOptions{.port = 0, .fps = 25, .width = 160, .height = 120});
  camera.Start();
  const std::string first_db = folder.Path("first.db"), second_db = folder.Path("second.db");
  ASSERT_EQ(testing::AddSource(first_db, "cam", camera.Port(), "/video", folder.Path("cam")), "");
  ASSERT_EQ(testing::RunCommand({"config", "web-login", "admin", "--password", "open sesame",
                                 "--registry", first_db})
                .status,
            0);
  testing::CommandProcess first(
      {"record", "--registry", first_db, "--http", "127.0.0.1:0", "--status", "lines"});
  const int port = testing::WebViewPort(first);
  ASSERT_NE(port, 0) << first.Out();
  httplib::Client client("127.0.0.1", port);
  EXPECT_EQ(client.Get("/api/status")->status, 401);
  // The web view speaks HTTP only: the relay asks with an HTTP/1.0 request.
  ASSERT_EQ(
      testing::AddSource(second_db, "relay", port, "/sources/cam/live.mjpg", folder.Path("relay"),
                         {"--request-style", "1", "--user", "admin", "--password", "open sesame"}),
      "");
  testing::CommandProcess second(
      {"record", "--registry", second_db, "--status", "lines", "--status-every", "1"});
  ASSERT_TRUE(testing::WaitForReceived(second, "relay", 30)) << second.Out();
  second.Signal(SIGTERM);
  ASSERT_EQ(second.Wait(30s).status, 0);
  first.Signal(SIGTERM);
  const auto ended = first.Wait(30s);
  ASSERT_EQ(ended.status, 0);
  EXPECT_EQ(ended.out.find("open sesame"), std::string::npos);

  // The pictures each store holds, sorted.
  const auto pictures = [&](const std::string& name) {
    std::vector<std::string> data;
    for (const StoredFrame& f :
         testing::ReadAllFrames(*NewPosixFileSystem(), folder.Path(name) + "/"))
      data.push_back(f.data);
    std::ranges::sort(data);
    return data;
  };
  const std::vector<std::string> recorded = pictures("cam"), relayed = pictures("relay");
  EXPECT_GE(relayed.size(), 25u) << "a second of the camera's frames at least";
  EXPECT_TRUE(std::ranges::includes(recorded, relayed)) << "a relayed frame the camera never sent";
  EXPECT_TRUE(std::ranges::adjacent_find(relayed) == relayed.end()) << "a frame repeated";
}

}  // namespace
}  // namespace ravelon::cli

// The test camera recorded by a real engine over loopback: frames arrive in
// every serving mode, whole, and a host reads them with GetData. All rows
// run side by side on one platform's loop. The fault modes are played to
// `ravelon record` in record/record_e2e_test.cpp.
#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <map>
#include <memory>
#include <ranges>
#include <string>
#include <vector>

#include "camera/test_camera.h"
#include "ravelon/frame_filter_chain.h"
#include "ravelon/korvid.h"
#include "ravelon/platform.h"
#include "support/real_loop.h"
#include "support/temp_folder.h"
#include "tests/store_recording.h"

namespace ravelon::cli {
namespace {

using O = CameraOptions;

// Distinct frames each source must see: in single mode, one connection each.
constexpr int kFrames = 5;

// One camera (a small one, changed by `set`) and the engine that records it
// into `store`, set up as a host would for that camera. As the engine's
// filter chain and host, it sees every frame the engine makes, every log
// line, and what a host reads with GetData on DataReady.
struct Source final : FrameFilterChain, KorvidEvents {
  // `save`: with a save interval of 100 ms, and a save every second.
  Source(const std::shared_ptr<Platform>& platform, void (*set)(O&), bool saved,
         const std::string& store)
      : options(Small(set)), camera(options), save(saved), engine(platform) {
    camera.Start();
    engine.SetEventSink(this);
    engine.setFilterChain(std::shared_ptr<FrameFilterChain>(this, [](FrameFilterChain*) {}));
    engine.SetAddress("127.0.0.1");
    engine.SetPort(camera.Port());
    engine.SetUrl("/video");
    engine.SetStreaming(!options.single);
    engine.SetCredentials(options.user, options.password);
    engine.SetRequestStyle(options.chunked     ? RequestStyle::kHttp11
                           : options.http_only ? RequestStyle::kHttp10
                                               : RequestStyle::kBare);
    engine.SetBoundaryDiscovery(options.header != HeaderStyle::kMultipart);
    engine.DoSave(save);
    engine.SetSaveIterval(100);
    engine.SetViewIterval(save ? 100 : 20);
    engine.DBPath(store);
    engine.PrepareEngine();
    engine.Connect();
  }
  static O Small(void (*set)(O&)) {
    O options{.port = 0, .fps = 20, .width = 32, .height = 24};
    set(options);
    return options;
  }

  // Enough distinct frames, read by the host, on enough connections, with each
  // optional part.
  bool Done() const {
    // Polling takes a connection per frame; the saving row polls past its first save.
    const uint64_t connections = !options.single ? 1 : save ? 12 : kFrames;
    const auto seen = [this](int every, uint8_t type) {
      return every == 0 || frames_by_type.contains(type);
    };
    return distinct_jpegs >= kFrames && jpegs_read > 0 && camera.ClientsAccepted() >= connections &&
           seen(options.text_every, kText) && seen(options.event_every, kEvent) &&
           seen(options.event_list_every, kEventList);
  }

  void release() override {}
  void reset() override {}
  std::shared_ptr<FilterResult> process(std::shared_ptr<MediaFrame>& frame) override {
    ++frames_by_type[frame->getDataType()];
    if (frame->getDataType() == kJpeg && frame->getDataBlock().View() != last_jpeg) {
      ++distinct_jpegs;
      last_jpeg = frame->getDataBlock().View();
      if (!camera.Made(last_jpeg)) ++foreign_jpegs;
    }
    return std::make_shared<SimpleFilterResult>(0, frame);
  }
  void DebugEvent(uint8_t level, const std::string& text) override {
    log += std::to_string(level) + " " + text + "\n";
  }
  void DataReady() override {
    uint8_t type = kDataTypeNone;
    std::string data;
    engine.GetData(type, data);
    if (type != kJpeg) return;
    ++jpegs_read;
    broken_jpegs_read +=
        !data.starts_with("\xFF\xD8") || !data.ends_with("\xFF\xD9") || data.size() < 4;
  }

  const O options;
  TestCamera camera;
  const bool save;
  std::map<uint8_t, int> frames_by_type;
  std::string last_jpeg;
  // JPEGs not byte for byte as the camera made them.
  int distinct_jpegs = 0, foreign_jpegs = 0, jpegs_read = 0, broken_jpegs_read = 0;
  std::string log;
  Korvid engine;  // last, so that it goes first
};

TEST(CameraEngineTest, EngineRecordsEveryMode) {
  const std::tuple<const char*, void (*)(O&), bool> cases[] = {
      // name, the camera's options, saved
      {"stream", [](O&) {}, false},
      {"single", [](O& o) { o.single = true; }, false},
      {"credentials", [](O& o) { o.user = "operator", o.password = "s3cret:x"; }, false},
      {"optional parts",
       [](O& o) {
         o.text_every = 2, o.event_every = 3, o.event_list_every = 4, o.keep_alive_every = 1;
       },
       false},
      // The ways of real-world servers; chunk sizes cycle so that chunk edges fall
      // everywhere.
      {"HTTP/1.0 where the bare line is refused", [](O& o) { o.http_only = true; }, false},
      {"chunked", [](O& o) { o.chunked = o.http_only = true; }, false},
      {"chunked single", [](O& o) { o.chunked = o.single = true; }, false},
      {"octet-stream", [](O& o) { o.header = HeaderStyle::kOctetStream; }, false},
      {"no header", [](O& o) { o.header = HeaderStyle::kNone, o.blank_before_boundary = true; },
       false},
      {"odd header case", [](O& o) { o.odd_header_case = true; }, false},
      {"Digest MD5",
       [](O& o) { o.user = "op", o.password = "pw", o.auth = AuthScheme::kDigestMd5; }, false},
      {"Digest SHA-256 polled, nonces going stale",
       [](O& o) {
         o.user = "op", o.password = "pw", o.auth = AuthScheme::kDigestSha256;
         o.single = true, o.nonce_uses = 2;
       },
       false},
      // A host saving every second while the engine polls: the re-requests between
      // saves keep the save queue, so every polled image is saved.
      {"polled, saved every second", [](O& o) { o.single = true; }, true},
  };
  const ravelon::testing::TempFolder folder;
  const std::shared_ptr<Platform> platform = NewRealPlatform(folder.Path("registry.db"));
  std::vector<std::unique_ptr<Source>> sources;
  for (const auto& [name, set, save] : cases)
    sources.push_back(std::make_unique<Source>(platform, set, save, folder.Path(name) + "/"));
  int ticks = 0;  // of a millisecond
  ravelon::testing::RunUntil(
      *platform, [&] { return std::ranges::all_of(sources, &Source::Done); },
      std::chrono::seconds(45),
      [&] {
        for (const auto& s : sources)
          if (ticks % 1000 == 999 && s->save) s->engine.ForcedSave();
        ++ticks;
      });
  const std::unique_ptr<FileSystem> disk = NewPosixFileSystem();
  for (size_t i = 0; i < sources.size(); ++i) {
    Source& s = *sources[i];
    SCOPED_TRACE(std::get<0>(cases[i]));
    EXPECT_TRUE(s.Done()) << "distinct JPEGs " << s.distinct_jpegs << ", read " << s.jpegs_read
                          << ", connections " << s.camera.ClientsAccepted() << s.log;
    // JPEGs read broken, JPEGs not the camera's, frames the engine rejected.
    EXPECT_EQ(std::tuple(s.broken_jpegs_read, s.foreign_jpegs, s.frames_by_type.count(kRejected)),
              std::tuple(0, 0, 0u));
    EXPECT_EQ(s.camera.StaleChallenges() > 0, s.options.nonce_uses > 0);
    if (s.save) {
      s.engine.ForcedSave();
      EXPECT_EQ(std::ssize(testing::ReadAllFrames(*disk, folder.Path(std::get<0>(cases[i])) + "/")),
                s.frames_by_type.at(kJpeg));
    }
    s.engine.ReleaseNGN();
  }
}

}  // namespace
}  // namespace ravelon::cli

// The test camera recorded by a real engine over loopback: frames arrive in
// every serving mode, whole, and a host reads them with GetData. All rows
// run side by side on one platform's loop. The fault modes are played to
// `ravelon record` in record/record_e2e_test.cpp.
#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "camera/test_camera.h"
#include "ravelon/frame_filter_chain.h"
#include "ravelon/korvid.h"
#include "ravelon/platform.h"
#include "support/temp_folder.h"
#include "tests/store_recording.h"

namespace ravelon::cli {
namespace {

// Sees every frame the engine makes (as its filter chain), every log line,
// and what a host reads with GetData on DataReady.
class Recorder final : public FrameFilterChain, public KorvidEvents {
 public:
  void release() override {}
  void reset() override {}
  std::shared_ptr<FilterResult> process(std::shared_ptr<MediaFrame>& frame) override {
    ++frames_by_type[frame->getDataType()];
    if (frame->getDataType() == kJpeg && frame->getDataBlock().View() != last_jpeg) {
      ++distinct_jpegs;
      last_jpeg = frame->getDataBlock().View();
      if (!camera->Made(last_jpeg)) ++foreign_jpegs;
    }
    return std::make_shared<SimpleFilterResult>(0, frame);
  }
  void DebugEvent(uint8_t level, const std::string& text) override {
    log += std::to_string(level) + " " + text + "\n";
  }
  void DataReady() override {
    uint8_t type = kDataTypeNone;
    std::string data;
    engine->GetData(type, data);
    if (type != kJpeg) return;
    ++jpegs_read;
    broken_jpegs_read +=
        !data.starts_with("\xFF\xD8") || !data.ends_with("\xFF\xD9") || data.size() < 4;
  }

  Korvid* engine = nullptr;
  const TestCamera* camera = nullptr;
  std::map<uint8_t, int> frames_by_type;
  std::string last_jpeg;
  // JPEGs not byte for byte as the camera made them.
  int distinct_jpegs = 0, foreign_jpegs = 0, jpegs_read = 0, broken_jpegs_read = 0;
  std::string log;
};

struct Case {
  const char* name;
  CameraOptions options;
  std::vector<uint8_t> also_seen = {};  // frame types beyond JPEG
  uint64_t connections = 1;             // at least
  RequestStyle style = RequestStyle::kBare;
  bool discover = false;
  bool save = false;  // with a save interval of 100 ms, and a save every second
};

// One camera and the engine that records it into its own store folder.
struct Source {
  Source(const std::shared_ptr<Platform>& platform, const Case& c, const std::string& store)
      : camera(c.options), recorder(std::make_shared<Recorder>()), engine(platform) {
    camera.Start();
    recorder->engine = &engine;
    recorder->camera = &camera;
    engine.SetEventSink(recorder.get());
    engine.setFilterChain(recorder);
    engine.SetAddress("127.0.0.1");
    engine.SetPort(camera.Port());
    engine.SetUrl("/video");
    engine.SetStreaming(!c.options.single);
    engine.SetCredentials(c.options.user, c.options.password);  // the camera's own
    engine.SetRequestStyle(c.style);
    engine.SetBoundaryDiscovery(c.discover);
    engine.DoSave(c.save);
    engine.SetSaveIterval(100);
    engine.SetViewIterval(c.save ? 100 : 20);
    engine.DBPath(store);
    engine.PrepareEngine();
    engine.Connect();
  }

  TestCamera camera;
  std::shared_ptr<Recorder> recorder;
  Korvid engine;
};

// Distinct frames each row must see: in single mode, one connection each.
constexpr int kFrames = 5;

// A small camera, changed by `change`.
CameraOptions Small(void (*change)(CameraOptions&) = [](CameraOptions&) {}) {
  CameraOptions options{.port = 0, .fps = 20, .width = 32, .height = 24};
  change(options);
  return options;
}

TEST(CameraEngineTest, EngineRecordsEveryMode) {
  CameraOptions single = Small(), guarded = Small(), parts = Small();
  single.single = true, guarded.user = "operator", guarded.password = "s3cret:x";
  parts.text_every = 2, parts.event_every = 3, parts.event_list_every = 4;
  parts.keep_alive_every = 1;
  const Case cases[] = {
      {.name = "stream", .options = Small()},
      {.name = "single", .options = single, .connections = kFrames},
      {.name = "credentials", .options = guarded},
      {.name = "optional parts", .options = parts, .also_seen = {kText, kEvent, kEventList}},
      // The ways of real-world servers; chunk sizes cycle so that chunk edges fall everywhere.
      {.name = "HTTP/1.0 where the bare line is refused",
       .options = Small([](CameraOptions& o) { o.http_only = true; }),
       .style = RequestStyle::kHttp10},
      {.name = "chunked",
       .options = Small([](CameraOptions& o) { o.chunked = o.http_only = true; }),
       .style = RequestStyle::kHttp11},
      {.name = "chunked single",
       .options = Small([](CameraOptions& o) { o.chunked = o.single = true; }),
       .connections = kFrames,
       .style = RequestStyle::kHttp11},
      {.name = "octet-stream",
       .options = Small([](CameraOptions& o) { o.header = HeaderStyle::kOctetStream; }),
       .discover = true},
      {.name = "no header",
       .options = Small([](CameraOptions& o) {
         o.header = HeaderStyle::kNone;
         o.blank_before_boundary = true;
       }),
       .discover = true},
      {.name = "odd header case",
       .options = Small([](CameraOptions& o) { o.odd_header_case = true; })},
      {.name = "Digest MD5", .options = Small([](CameraOptions& o) {
                               o.user = "op", o.password = "pw", o.auth = AuthScheme::kDigestMd5;
                             })},
      {.name = "Digest SHA-256 polled, nonces going stale",
       .options = Small([](CameraOptions& o) {
         o.user = "op", o.password = "pw";
         o.auth = AuthScheme::kDigestSha256;
         o.single = true;
         o.nonce_uses = 2;
       }),
       .connections = kFrames},
      // A host saving every second while the engine polls: the re-requests between saves keep
      // the save queue, so every polled image is saved.
      {.name = "polled, saved every second", .options = single, .connections = 12, .save = true},
  };
  const ravelon::testing::TempFolder folder;
  const std::shared_ptr<Platform> platform = NewRealPlatform(folder.Path("registry.db"));
  std::vector<std::unique_ptr<Source>> sources;
  for (const Case& c : cases)
    sources.push_back(std::make_unique<Source>(platform, c, folder.Path(c.name) + "/"));
  const auto row_done = [&](size_t i) {
    const Recorder& r = *sources[i]->recorder;
    return r.distinct_jpegs >= kFrames && r.jpegs_read > 0 &&
           sources[i]->camera.ClientsAccepted() >= cases[i].connections &&
           std::ranges::all_of(cases[i].also_seen,
                               [&r](uint8_t t) { return r.frames_by_type.count(t) > 0; });
  };
  const auto give_up = std::chrono::steady_clock::now() + std::chrono::seconds(45);
  int ticks = 0;
  auto check = platform->Loop().NewTimer([&] {
    const bool save_now = ++ticks % 50 == 0;  // every second
    for (size_t i = 0; save_now && i < sources.size(); ++i)
      if (cases[i].save) sources[i]->engine.ForcedSave();
    size_t done = 0;
    while (done < sources.size() && row_done(done)) ++done;
    if (done == sources.size() || std::chrono::steady_clock::now() > give_up)
      platform->Loop().Stop();
  });
  check->SetInterval(20);
  check->SetEnabled(true);
  platform->Loop().Run();
  const std::unique_ptr<FileSystem> disk = NewPosixFileSystem();
  for (size_t i = 0; i < sources.size(); ++i) {
    SCOPED_TRACE(cases[i].name);
    const Recorder& r = *sources[i]->recorder;
    EXPECT_TRUE(row_done(i)) << "distinct JPEGs " << r.distinct_jpegs << ", read " << r.jpegs_read
                             << ", connections " << sources[i]->camera.ClientsAccepted() << r.log;
    // JPEGs read broken, JPEGs not the camera's, frames the engine rejected.
    EXPECT_EQ(std::tuple(r.broken_jpegs_read, r.foreign_jpegs, r.frames_by_type.count(kRejected)),
              std::tuple(0, 0, 0u));
    EXPECT_EQ(sources[i]->camera.StaleChallenges() > 0, cases[i].options.nonce_uses > 0);
    if (cases[i].save) {
      sources[i]->engine.ForcedSave();
      EXPECT_EQ(std::ssize(testing::ReadAllFrames(*disk, folder.Path(cases[i].name) + "/")),
                r.frames_by_type.at(kJpeg));
    }
    sources[i]->engine.ReleaseNGN();
  }
}

}  // namespace
}  // namespace ravelon::cli

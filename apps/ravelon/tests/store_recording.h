// Stores to test the `store` subcommands with, made the way a host makes
// them: a Korvid engine on the simulated platform records a scripted camera's
// multipart stream of real JPEG pictures, texts and events into memory files.
// Included by the tests of this folder only.
#pragma once

#include <chrono>
#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include "ravelon/korvid.h"
#include "ravelon/store_reader.h"
#include "ravelon/testing/simulated_platform.h"
#include "store/jpeg_codec.h"
#include "support/store_reader.h"
#include "support/temp_folder.h"

namespace ravelon::cli::testing {

inline constexpr char kStoreFolder[] = "/store/";

// The colour of the pictures MakeJpeg makes from `seed`.
inline Rgb PictureColour(uint32_t seed) {
  return {static_cast<uint8_t>(seed * 67 % 200 + 28), static_cast<uint8_t>(seed * 131 % 200 + 28),
          static_cast<uint8_t>(seed * 29 % 200 + 28)};
}

// A 320x240 picture of one colour (picked by `seed`) with noise, so that each
// seed gives other bytes and a thumbnail shows the colour.
inline std::string MakeJpeg(uint32_t seed) {
  uint32_t state = seed * 2654435761u + 1;  // xorshift32
  RgbImage picture(320, 240, PictureColour(seed));
  for (uint8_t& byte : picture.pixels) {
    state ^= state << 13, state ^= state >> 17, state ^= state << 5;
    byte = static_cast<uint8_t>(byte + static_cast<int>(state % 41) - 20);
  }
  std::string jpeg, error;
  JpegCodec().Encode(picture, 90, jpeg, error);
  return jpeg;
}

struct RecordedStore {
  std::shared_ptr<SimulatedPlatform> platform = std::make_shared<SimulatedPlatform>();
  std::vector<std::string> pictures;  // as the camera sent them, in order
  MemoryFileSystem& files() { return platform->files(); }
};

// Two connections of `per_connection` pictures each, with a text and an event
// among them; the camera closes each connection and the engine reconnects,
// which starts a new segment. A 1 MB size limit spreads the pictures of
// about 28 KB over more than one file set.
// The recording starts on 2026-12-06 at `start_seconds` past midnight.
inline std::unique_ptr<RecordedStore> RecordStore(int per_connection = 22,
                                                  int start_seconds = 22 * 3600 + 50 * 60) {
  using std::chrono::milliseconds;
  auto store = std::make_unique<RecordedStore>();
  SimulatedPlatform& platform = *store->platform;
  platform.clock().SetLocalDateTime(DaysSince18991230(2026, 12, 6), start_seconds);
  std::vector<std::vector<std::string>> streams(2);
  for (int c = 0; c < 2; ++c) {
    const auto part = [](const std::string& type, const std::string& body) {
      return "--frame\r\nContent-Type: " + type +
             "\r\nContent-Length: " + std::to_string(body.size()) + "\r\n\r\n" + body + "\r\n";
    };
    for (int i = 0; i < per_connection; ++i) {
      store->pictures.push_back(MakeJpeg(static_cast<uint32_t>(store->pictures.size() + 1)));
      streams[c].push_back(part("image/jpeg", store->pictures.back()));
      if (i == 3) streams[c].push_back(part("text/plain", "door " + std::to_string(c) + " open"));
      if (i == 6) streams[c].push_back(part("text/x-vesper-event", "TOTAL 9.99\x1b\x69"));
    }
    streams[c].push_back("--frame\r\n");  // ends the last part
  }
  ScriptedServer& camera = platform.network().Listen("cam", 80);
  camera.OnAccept([&camera, streams](ScriptedConnection& c) {
    const size_t n = camera.Connections().size() - 1;
    c.Send("HTTP/1.0 200 OK\r\nContent-Type: multipart/x-mixed-replace; boundary=frame\r\n\r\n",
           milliseconds(1));
    if (n >= streams.size()) return;  // later connections stay silent
    int at = 2;
    for (const std::string& chunk : streams[n]) c.Send(chunk, milliseconds(at += 150));
    c.Close(milliseconds(at + 50));
  });

  Korvid engine(store->platform);
  engine.DBPath(kStoreFolder);
  engine.SetAddress("cam");
  engine.SetPort(80);
  engine.SetUrl("video.mjpg");
  engine.SetStreaming(true);
  engine.DoSave(true);
  engine.SetFileSizeLimit(1);
  engine.PrepareEngine();
  engine.Connect();
  auto saver = platform.Loop().NewTimer([&engine] { engine.ForcedSave(); });
  saver->SetInterval(1000);
  saver->SetEnabled(true);
  platform.AdvanceBy(std::chrono::seconds(15));
  saver.reset();
  engine.ReleaseNGN();
  return store;
}

// One recording for all tests; a test that damages it works on a clone.
inline RecordedStore& Recorded() {
  static const std::unique_ptr<RecordedStore> store = RecordStore();
  return *store;
}

// The files of the recorded store `files` holds, written into `out`'s
// folder `name`, as an engine on disk would have left them.
inline void WriteStoreToFolder(MemoryFileSystem& files, const ravelon::testing::TempFolder& out,
                               const std::string& name) {
  std::filesystem::create_directories(out.Path(name));
  std::vector<DirectoryEntry> entries;
  std::string error;
  files.List(kStoreFolder, entries, error);
  for (const DirectoryEntry& entry : entries)
    if (!entry.is_directory)
      out.Write(name + "/" + entry.name, files.Contents(kStoreFolder + entry.name));
}

// Every frame of every set of `folder`, oldest first, through the reader.
inline std::vector<StoredFrame> ReadAllFrames(FileSystem& files, const std::string& folder) {
  std::vector<FileSetInfo> sets;
  std::string error;
  StoreReader(files, folder).ListFileSets(sets, error);
  std::vector<StoredFrame> frames;
  for (const FileSetInfo& set : sets) {
    for (StoredFrame& frame : ravelon::testing::ReadFileSet(files, folder + set.name))
      frames.push_back(std::move(frame));
  }
  return frames;
}

}  // namespace ravelon::cli::testing

// `ravelon demo`: the whole recorder in one process, with nothing to set up.
// A test camera serves on a free loopback port; one engine, configured
// through its setters, records it into a fresh folder for a few seconds;
// then the store is listed and verified and a contact sheet is made, and the
// command says where everything is.
#include <sys/stat.h>

#include <cerrno>
#include <chrono>
#include <cstdio>
#include <ctime>
#include <optional>
#include <system_error>

#include "camera/test_camera.h"
#include "cli/command.h"
#include "cli/held_signals.h"
#include "ravelon/file_system.h"
#include "record/record_run.h"
#include "store/contact_sheet.h"
#include "store/store_folder.h"
#include "store/store_listing.h"
#include "store/store_verify.h"

namespace ravelon::cli {
namespace {

struct DemoOptions {
  std::string folder;  // "" : ./ravelon-demo-YYYYMMDD-HHMMSS
  double seconds = 10;
  double fps = 10;
  std::string size = "640x480";
};

std::string NewFolderName() {
  const std::time_t now = std::time(nullptr);
  std::tm local{};
  ::localtime_r(&now, &local);
  char name[64];
  std::strftime(name, sizeof name, "ravelon-demo-%Y%m%d-%H%M%S", &local);
  return name;
}

// Makes `folder`; one that exists must be empty, so that the demo's store
// holds only what this run recorded.
void MakeFreshFolder(const std::string& folder) {
  if (::mkdir(folder.c_str(), 0755) == 0) return;
  const std::string why = std::error_code(errno, std::generic_category()).message();
  throw CommandError("cannot make the folder " + folder + ": " + why +
                     " (give a new one with --folder)");
}

SourcePlan CameraPlan(int port, const std::string& store) {
  return {"demo",
          [port, store](Korvid& engine) {
            engine.SetAddress("127.0.0.1");
            engine.SetPort(port);
            engine.SetUrl("/video");
            engine.SetStreaming(true);
            engine.SetViewIterval(200);
            engine.DBPath(store);
            engine.DoSave(true);
            engine.SetSaveIterval(10);  // every frame of the camera
            engine.SetFileSizeLimit(10);
            engine.SetPreAllocationSize(1);
          },
          nullptr};
}

// Lists, verifies and makes a sheet of what was recorded; false on damage.
bool ShowStore(const std::string& store_folder, const std::string& sheet_file) {
  const std::unique_ptr<FileSystem> files = NewPosixFileSystem();
  const StoreFolder store = ResolveStoreFolder(*files, store_folder);
  std::printf("\n$ ravelon store ls %s\n%s", store_folder.c_str(),
              FormatListing(store, ReadListing(*files, store)).c_str());
  const std::vector<FileSetInfo> sets = ListStoreSets(*files, store);
  std::printf("\n$ ravelon store verify %s\n", store_folder.c_str());
  bool sound = true;
  for (const FileSetInfo& set : sets) {
    const SetVerdict verdict = VerifyFileSet(*files, store, set);
    for (const StoreProblem& problem : verdict.problems)
      std::printf("%s\n", FormatProblem(verdict.set, problem).c_str());
    std::printf("set %s: %s, %lld frames\n", verdict.set.c_str(),
                verdict.Sound() ? "sound" : "DAMAGED", static_cast<long long>(verdict.frames));
    sound = sound && verdict.Sound();
  }
  const SheetResult sheet = MakeContactSheet(*files, store, sets, StampRange{}, SheetOptions{});
  std::unique_ptr<RandomAccessFile> file;
  std::string error;
  if (files->Open(sheet_file, FileSystem::OpenMode::kCreateTruncate, file, error) != 0 ||
      file->WriteAt(0, sheet.jpeg, error) != 0) {
    throw CommandError("cannot write " + sheet_file + ": " + error);
  }
  std::printf("\nContact sheet of %d frames: %s\n", sheet.tiles, sheet_file.c_str());
  return sound;
}

int RunDemo(const DemoOptions& o) {
  CameraOptions camera_options;
  camera_options.port = 0;
  camera_options.fps = o.fps;
  if (!ParseFrameSize(o.size, camera_options.width, camera_options.height))
    throw CommandError("--size takes WxH, e.g. 640x480, not " + o.size);
  camera_options.text_every = 25;
  CheckCameraOptions(camera_options);

  const std::string folder = o.folder.empty() ? NewFolderName() : o.folder;
  MakeFreshFolder(folder);
  const std::string store = folder + "/store/";
  // Held from before the camera's thread starts (it inherits the mask) to
  // the end of the recording, so that SIGINT ends the recording, not the
  // process.
  std::optional<HeldSignals> signals(std::in_place);
  TestCamera camera(camera_options);
  camera.Start();
  std::printf("Recording the test camera at %s for %g s into %s\n\n", camera.Endpoint().c_str(),
              o.seconds, store.c_str());
  std::fflush(stdout);

  RunOptions run;
  run.for_seconds = o.seconds;
  run.display = StatusDisplay::kLines;
  run.status_every_seconds = 2;
  run.min_level = kDebugStore;
  RecorderSettings settings;
  settings.registry_file = folder + "/registry.db";  // never opened: setters only
  RunRecorder({CameraPlan(camera.Port(), store)}, settings, run);
  camera.Stop();
  signals.reset();

  const bool sound = ShowStore(store, folder + "/sheet.jpg");
  std::printf(
      "\nNext: export the frames with `ravelon store export %s --out %s/frames`, or record a "
      "real camera (see README).\n",
      store.c_str(), folder.c_str());
  return sound ? kExitOk : kExitFailure;
}

}  // namespace

void AddDemoCommand(CLI::App& app, Action& action) {
  auto o = std::make_shared<DemoOptions>();
  CLI::App* command = app.add_subcommand(
      "demo",
      "Records a built-in test camera for a few seconds, then lists, verifies and shows what "
      "was recorded; needs no camera, network or configuration");
  command->add_option("--folder", o->folder,
                      "a new folder for the store and the sheet (default: "
                      "./ravelon-demo-DATE-TIME)");
  command->add_option("--seconds", o->seconds, "how long to record")
      ->check(RealRange(1, 3600))
      ->capture_default_str();
  command->add_option("--fps", o->fps, "the camera's frames per second")
      ->check(RealRange(0.1, 100))
      ->capture_default_str();
  command->add_option("--size", o->size, "the camera's frame size, WxH")->capture_default_str();
  command->callback([&action, o] { action = [o] { return RunDemo(*o); }; });
}

}  // namespace ravelon::cli

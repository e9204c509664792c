// The parts of one engine and their wiring: the object behind the Korvid
// facade. Each part holds its own state and is handed, in its constructor,
// the other parts or the owner interface it needs; this struct implements
// those owner interfaces by forwarding between parts, and holds nothing of
// its own beyond the source's identity in the registry store.
//
// Owned by Korvid; everything on the engine's thread.
#pragma once

#include <memory>
#include <string>

#include "connection/connection.h"
#include "engine/reg_utils.h"
#include "parsing/stream_reader.h"
#include "pipeline/frame_pipeline.h"
#include "pipeline/ipc_link.h"
#include "pipeline/save_queue.h"
#include "ravelon/korvid.h"
#include "schedule/rate_statistics.h"
#include "schedule/viewer_tick.h"
#include "store/store_writer.h"

namespace ravelon {

struct Korvid::Parts final : ConnectionOwner,
                             FramePipelineOwner,
                             StoreWriterOwner,
                             ViewerTickOwner {
  explicit Parts(std::shared_ptr<Platform> platform_in);

  // Finishes the current frame and saves the queue: before a restart that
  // follows a broken connection, and on release.
  void FlushToStore();
  int32_t ForcedSave();
  void ApplySettings(const std::string& key);
  RegUtils& Registry();

  // ConnectionOwner
  void OnConnectionStarting() override;
  void OnSessionStarted() override;
  bool OnNewFrame(std::shared_ptr<MediaFrame>& frame) override;
  void OnConnectionLost() override { FlushToStore(); }
  bool ScheduledDisconnect() const override { return viewer.ScheduledDisconnect(); }
  void Debug(uint8_t level, const std::string& text) override;
  // FramePipelineOwner
  bool SavingAllowed() const override;
  // StoreWriterOwner
  void OnNewFileSet(const std::string& name, double startTime) override;
  void OnSegmentRestart() override { pipeline.ResetFilterChain(); }
  // ViewerTickOwner
  void OnScheduleActionChanged() override { store.BeginNewSegment(); }
  void OnScheduledDisconnect(bool disconnect) override;
  void OnViewTick() override;

  std::shared_ptr<Platform> platform;
  KorvidEvents* events = nullptr;
  RateStatistics rates;
  SaveQueue saveQueue;
  StreamReader reader;
  FramePipeline pipeline;
  StoreWriter store;
  ViewerTick viewer;
  Connection connection;
  IpcLink ipc;

  // The source's identity. `sourceKey` is set by InitEngineFromReg only, so
  // an engine configured through setters writes nothing to the registry store.
  std::string sourceName;
  std::string registryRoot;
  std::string sourceKey;
  int16_t srcID = 0;
  std::unique_ptr<RegUtils> regUtils;  // made on first use
  bool isFree = true;
};

}  // namespace ravelon

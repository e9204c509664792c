#include "engine/korvid_parts.h"

#include "common/engine_limits.h"
#include "common/hex_encoding.h"
#include "common/number_encoding.h"
#include "engine/source_settings.h"

namespace ravelon {

Korvid::Parts::Parts(std::shared_ptr<Platform> platform_in)
    : platform(std::move(platform_in)),
      rates(platform->GetClock()),
      pipeline(platform->GetClock(), saveQueue, rates, *this),
      store(platform->Files(), platform->GetClock(), rates, *this),
      viewer(platform->Loop(), platform->GetClock(), *this),
      connection(platform->Loop(), platform->NewTcpSocket(), reader, rates, *this),
      ipc(platform->NewIpcPort(), pipeline) {}

void Korvid::Parts::FlushToStore() {
  pipeline.FinishCurrentFrame();
  ForcedSave();
}

int32_t Korvid::Parts::ForcedSave() {
  return store.ForcedSave(saveQueue, pipeline.FrameCounter() >= 0);
}

RegUtils& Korvid::Parts::Registry() {
  if (!regUtils) regUtils = std::make_unique<RegUtils>(platform->Registry());
  return *regUtils;
}

// Every setting of the source at once; the host's choice of fast
// preallocation is not a registry value and stays.
void Korvid::Parts::ApplySettings(const std::string& key) {
  const SourceSettings s = ReadSourceSettings(Registry(), key);
  connection.Settings() = s.connection;
  const bool fast_preallocation = store.Settings().useFastPreallocation;
  store.Settings() = s.store;
  store.Settings().useFastPreallocation = fast_preallocation;
  store.SetFileSet(s.fileName, s.fileTime);
  viewer.SetInterval(s.viewInterval);
  viewer.SetSchedule(s.schedule);  // evaluated from scratch at the next tick
  srcID = s.srcID;
  saveQueue.SetByteLimit(s.saveQueueMegabytes * kMegabyte);
}

void Korvid::Parts::OnConnectionStarting() {
  pipeline.StartConnection();
  store.BeginNewSegment();  // a new connection begins a new recording segment
}

void Korvid::Parts::OnSessionStarted() {
  saveQueue.Reset();
  rates.Reset();
}

bool Korvid::Parts::OnNewFrame(std::shared_ptr<MediaFrame>& frame) {
  return pipeline.HandleNewFrame(frame);
}

void Korvid::Parts::Debug(uint8_t level, const std::string& text) {
  if (events) events->DebugEvent(level, text);
}

bool Korvid::Parts::SavingAllowed() const {
  const uint8_t action = viewer.Action();
  return store.Settings().doSave && action != kScheduleNoStoring && action != kScheduleDisconnected;
}

// Both values in one write, so they cost one sync and a crash cannot leave
// the name of one set with the start of another. A failed write only means
// that a restarted engine continues the previous set.
void Korvid::Parts::OnNewFileSet(const std::string& name, double startTime) {
  if (sourceKey.empty()) return;
  Registry().Registry_SetAll(sourceKey,
                             {{"File", name}, {"FileTime", StringToHex(DoubleToBytes(startTime))}});
}

void Korvid::Parts::OnScheduledDisconnect(bool disconnect) {
  Debug(kDebugSchedule, disconnect ? "Scheduled disconnect." : "Scheduled reconnect.");
  connection.ConnectToSource();  // stays idle while the schedule holds the source disconnected
}

void Korvid::Parts::OnViewTick() {
  if (!pipeline.TakeNewFrameNotice()) return;
  if (const std::string report = rates.TakeReportIfDue(); !report.empty()) {
    Debug(kDebugLifecycle, report);
  }
  if (events) events->DataReady();
}

}  // namespace ravelon

// The facade: the members of the dispatch interface, each handed to the part
// that owns what it reads or changes. Setters only store (within their
// bounds); a value takes effect where the part reads it.
#include "ravelon/korvid.h"

#include "common/engine_limits.h"
#include "engine/korvid_parts.h"
#include "engine/source_settings.h"

namespace ravelon {
namespace {

bool IsInterval(int32_t value) { return value >= kMinIntervalMs && value <= kMaxIntervalMs; }

}  // namespace

Korvid::Korvid(std::shared_ptr<Platform> platform)
    : m_parts(std::make_unique<Parts>(std::move(platform))) {}

Korvid::~Korvid() = default;

void Korvid::SetEventSink(KorvidEvents* events) { m_parts->events = events; }

void Korvid::SetCredentials(const std::string& UserName, const std::string& Password) {
  m_parts->connection.Settings().userName = UserName;
  m_parts->connection.Settings().password = Password;
}

std::string Korvid::GetRecycleFile() const { return m_parts->store.RecycleFile(); }
void Korvid::SetRecycleFile(const std::string& RecycleFile) {
  m_parts->store.SetRecycleFile(RecycleFile);
}
void Korvid::UseFastPreallocation(const bool& value) {
  m_parts->store.Settings().useFastPreallocation = value;
}
int32_t Korvid::GetViewInterval() const { return m_parts->viewer.Interval(); }
int32_t Korvid::GetSaveInterval() const { return m_parts->store.Settings().saveInterval; }
int16_t Korvid::GetFileSizeLimit() const { return m_parts->store.Settings().fileSizeLimit; }
int16_t Korvid::GetPreAllocationSize() const { return m_parts->store.Settings().preAllocationSize; }
uint8_t Korvid::GetFileLimitType() const { return m_parts->store.Settings().fileLimitType; }
int32_t Korvid::GetPort() const { return m_parts->connection.Settings().port; }
int16_t Korvid::GetSrcID() const { return m_parts->srcID; }
std::string Korvid::DBPath() const { return m_parts->store.Settings().dbPath; }
void Korvid::DBPath(const std::string& value) { m_parts->store.Settings().dbPath = value; }
std::string Korvid::FileName() const { return m_parts->store.FileName(); }
bool Korvid::DoSave() const { return m_parts->store.Settings().doSave; }
void Korvid::DoSave(const bool& value) { m_parts->store.Settings().doSave = value; }

// Motion is only measured on images; whatever a filter set on another kind of
// frame is not motion.
uint8_t Korvid::GetMotionPerc() const {
  const std::shared_ptr<MediaFrame>& frame = m_parts->pipeline.CurrentFrame();
  if (!frame || frame->getDataType() != kJpeg) return 0;
  return frame->getMotionPercent();
}

std::string Korvid::GetAddress() const { return m_parts->connection.Settings().address; }
std::string Korvid::GetUrl() const { return m_parts->connection.Settings().url; }
// The words, not a Boolean: hosts show and store this text as it is.
std::string Korvid::GetStreaming() const {
  return m_parts->connection.Settings().streaming ? "True" : "False";
}

// None of the consumer members fails when there is no current frame: they
// give empty answers.
int32_t Korvid::GetData(uint8_t& dataType, std::string& Data) const {
  const std::shared_ptr<MediaFrame>& frame = m_parts->pipeline.CurrentFrame();
  if (!frame) {
    dataType = kDataTypeNone;
    Data.clear();
    return 0;
  }
  dataType = frame->getDataType();
  Data.assign(frame->getDataBlock().View());
  return frame->getFrameId();
}

std::string Korvid::SourceName() const { return m_parts->sourceName; }
void Korvid::SourceName(const std::string& value) { m_parts->sourceName = value; }

void Korvid::PrepareEngine() {
  Parts& p = *m_parts;
  p.isFree = false;
  p.pipeline.Prepare();
  // Single responses are polled at the view interval, or at the save interval
  // when saving wants frames more often.
  int32_t poll = p.viewer.Interval();
  if (p.store.Settings().doSave) {
    poll = std::min(poll, p.store.Settings().saveInterval);
    poll = std::clamp(poll, kMinIntervalMs, kMaxIntervalMs);
  }
  p.connection.SetPollInterval(poll);
  p.store.Prepare();
  p.viewer.Start();
}

void Korvid::InitEngineFromReg(const std::string& SrcName, const std::string& RegistryRoot) {
  m_parts->registryRoot = RegistryRoot;
  m_parts->sourceName = SrcName;
  m_parts->sourceKey = SourceKey(RegistryRoot, SrcName);
  m_parts->ApplySettings(m_parts->sourceKey);
}

bool Korvid::IsFree() const { return m_parts->isFree; }

// Stops the engine and frees it for reuse. The queue is saved first, then
// the timers and the socket stop; events that were already queued get one
// chance to run (and find the engine idle) before it is marked free.
void Korvid::ReleaseNGN() {
  Parts& p = *m_parts;
  p.rates.StopPeriod();
  p.FlushToStore();
  p.Debug(kDebugLifecycle, "Released.");
  p.connection.Stop();
  p.viewer.Stop();
  p.reader.Clear();
  p.pipeline.DropCurrentFrame();
  p.platform->Loop().ProcessPendingEventsOnce();
  p.isFree = true;
  p.store.Close();
}

void Korvid::Connect() { m_parts->connection.ConnectToSource(); }
int32_t Korvid::FramesBuffered() const { return m_parts->saveQueue.Count(); }

void Korvid::GetCurrentID2Data(int32_t& StartDate, int32_t& starttime, int32_t& StartFrame,
                               int32_t& EndDate, int32_t& EndTime, int32_t& EndFrame,
                               std::string& FileName, int32_t& FileSize) const {
  const ID2Data& segment = m_parts->store.CurrentSegment();
  StartDate = segment.StartDate;
  starttime = segment.StartTime;
  StartFrame = segment.StartFrame;
  EndDate = segment.EndDate;
  EndTime = segment.EndTime;
  EndFrame = segment.EndFrame;
  FileName = segment.FileName;
  FileSize = segment.FileSize;
}

int32_t Korvid::ForcedSave() { return m_parts->ForcedSave(); }
int32_t Korvid::GetBufferedFrameCount() const { return m_parts->saveQueue.Count(); }

bool Korvid::GetPartialFrame(uint8_t& dataType, std::string& FrameData, double& frameDate,
                             double& frameTime) const {
  const std::shared_ptr<MediaFrame>& frame = m_parts->pipeline.CurrentFrame();
  if (!frame || frame->hasFlag(kComplete)) return false;
  dataType = frame->getDataType();
  FrameData.assign(frame->getDataBlock().View());
  frameDate = frame->getDate();
  frameTime = frame->getTime();
  return true;
}

bool Korvid::correctEventList(std::shared_ptr<MediaFrame>& newFrame) {
  return m_parts->pipeline.CorrectEventList(newFrame);
}

void Korvid::SetPort(const int32_t& value) { m_parts->connection.Settings().port = value; }

// The one setter that acts on a running part: the tick's interval changes at
// once, so GetViewInterval and the tick always agree.
void Korvid::SetViewIterval(const int32_t& value) {
  if (IsInterval(value)) m_parts->viewer.SetInterval(value);
}

void Korvid::SetSaveIterval(const int32_t& value) {
  if (IsInterval(value)) m_parts->store.Settings().saveInterval = value;
}

void Korvid::SetFileSizeLimit(const int16_t& value) {
  if (value >= 1 && value <= kMaxLimitSetting) m_parts->store.Settings().fileSizeLimit = value;
}

void Korvid::SetPreAllocationSize(const int16_t& value) {
  if (value >= 0 && value <= kMaxLimitSetting) {
    m_parts->store.Settings().preAllocationSize = value;
  }
}

void Korvid::SetSrcID(const int16_t& value) { m_parts->srcID = value; }

void Korvid::SetFileLimitType(const uint8_t& value) {
  if (value == 0 || value == 1) m_parts->store.Settings().fileLimitType = value;
}

void Korvid::SetAddress(const std::string& value) {
  m_parts->connection.Settings().address = value;
}
void Korvid::SetUrl(const std::string& value) { m_parts->connection.Settings().url = value; }
void Korvid::SetStreaming(const bool& value) { m_parts->connection.Settings().streaming = value; }

void Korvid::SetRequestStyle(const RequestStyle& value) {
  m_parts->connection.Settings().requestStyle = value;
}
RequestStyle Korvid::GetRequestStyle() const { return m_parts->connection.Settings().requestStyle; }
void Korvid::SetSyncWrites(const bool& value) { m_parts->store.Settings().syncWrites = value; }
bool Korvid::GetSyncWrites() const { return m_parts->store.Settings().syncWrites; }

void Korvid::SetSaveQueueMegabytes(const int32_t& value) {
  if (value >= 1 && value <= kMaxSaveQueueMegabytes) {
    m_parts->saveQueue.SetByteLimit(value * kMegabyte);
  }
}

void Korvid::SetBoundaryDiscovery(const bool& value) {
  m_parts->connection.Settings().boundaryDiscovery = value;
}
bool Korvid::GetBoundaryDiscovery() const {
  return m_parts->connection.Settings().boundaryDiscovery;
}

void Korvid::setFilterChain(const std::shared_ptr<FrameFilterChain>& filterChain) {
  m_parts->pipeline.SetFilterChain(filterChain);
}

int32_t Korvid::ipcConnect(std::shared_ptr<IpcPort>& toPort) {
  return m_parts->ipc.Connect(toPort);
}

}  // namespace ravelon

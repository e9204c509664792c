// The store's entry points: preparing the engine, saving on request, the
// position query and closing the store files.
#include "components/media_frame.h"
#include "components/object_list.h"
#include "ravelon/korvid.h"

namespace ravelon {
namespace {

constexpr int32_t kMinPollIntervalMs = 10;
constexpr int32_t kMaxPollIntervalMs = 60'000;

}  // namespace

void Korvid::PrepareEngine() {
  m_isFree = false;
  m_frameCounter = -1;
  m_reportedFrame = 0;
  m_currentFrame = nullptr;
  m_nextFrameIndex = 0;
  m_nextBinPos = 1;
  // Single responses are polled at the view interval, or at the save interval
  // when saving wants frames more often.
  m_pollInterval = Viewer->Interval();
  if (m_doSave) {
    if (m_saveInterval < m_pollInterval) m_pollInterval = m_saveInterval;
    if (m_pollInterval < kMinPollIntervalMs) m_pollInterval = kMinPollIntervalMs;
    if (m_pollInterval > kMaxPollIntervalMs) m_pollInterval = kMaxPollIntervalMs;
  }
  if (m_fileTime == 0) {
    CreateNewDatabaseFile(-1.0);
  } else {
    CheckStoreFiles();
  }
  Viewer->SetEnabled(true);
}

int32_t Korvid::ForcedSave() {
  if (!m_doSave) return -1;
  const int32_t saved = SaveFrame();
  if (m_framesLost > 0) {
    RaiseDebugEvent(kDebugStore, std::to_string(m_framesLost) + " frames lost.");
    m_framesLost = 0;
  }
  return saved;
}

void Korvid::GetCurrentID2Data(int32_t& StartDate, int32_t& starttime, int32_t& StartFrame,
                               int32_t& EndDate, int32_t& EndTime, int32_t& EndFrame,
                               std::string& FileName, int32_t& FileSize) const {
  StartDate = m_id2Data.StartDate;
  starttime = m_id2Data.StartTime;
  StartFrame = m_id2Data.StartFrame;
  EndDate = m_id2Data.EndDate;
  EndTime = m_id2Data.EndTime;
  EndFrame = m_id2Data.EndFrame;
  FileName = m_id2Data.FileName;
  FileSize = m_id2Data.FileSize;
}

int32_t Korvid::SaveFrame() {
  // Writing the queue into the store's file sets arrives with the store.
  return 0;
}

void Korvid::CreateNewDatabaseFile(double /*fileTime*/) {
  // Naming and registering a new file set arrives with the store.
}

void Korvid::CheckStoreFiles() {
  // Continuing or repairing the registered file set arrives with the store.
}

void Korvid::CloseStoreFiles() {
  // No store file is opened until the store arrives; the handles stay closed.
  m_binHandle = m_idxHandle = m_id2Handle = -1;
  m_openFileName.clear();
}

}  // namespace ravelon

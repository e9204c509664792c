// Preparing the engine: the store decides whether the file set named in the
// configuration can be continued, repairs the last segment of a set whose
// last save run was cut short, and otherwise begins a new set. Frame data and
// index records are never rewritten here; only the last segment record may
// be corrected.
#include <climits>
#include <cmath>

#include "components/object_list.h"
#include "ravelon/file_system.h"
#include "ravelon/korvid.h"
#include "store/qv_fs_tools.h"

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
  if (m_fileTime == 0 || std::isnan(m_fileTime)) {
    CreateNewDatabaseFile(-1.0);
  } else {
    CheckStoreFiles();
  }
  Viewer->SetEnabled(true);
}

int64_t Korvid::StoreFileLength(const std::string& path) const {
  std::unique_ptr<RandomAccessFile> file;
  std::string error;
  int64_t size = -1;
  if (m_platform->Files().Open(path, FileSystem::OpenMode::kOpenOrCreate, file, error) != 0 ||
      file->Size(size, error) != 0) {
    return -1;
  }
  return size;
}

// Continues the registered set after its last saved frame when its files
// agree; any damage or failure ends in a new set, so recording goes on.
void Korvid::CheckStoreFiles() {
  const std::string base = m_dbPath + m_fileName;
  FileSystem& files = m_platform->Files();
  if (!files.FileExists(base + ".idx") || !files.FileExists(base + ".id2")) {
    CreateNewDatabaseFile(-1.0);
    return;
  }
  const int64_t id2_length = StoreFileLength(base + ".id2");
  std::string bytes, error;
  ID2Record segment;
  if (id2_length < kID2RecordBytes || id2_length % kID2RecordBytes != 0 || id2_length > INT32_MAX ||
      m_fsTools->ReadFileBlock(base + ".id2",
                               static_cast<int32_t>(id2_length - kID2RecordBytes + 1),
                               kID2RecordBytes, bytes, error) != 0 ||
      !segment.Decode(bytes)) {
    CreateNewDatabaseFile(-1.0);
    return;
  }
  m_id2Index = static_cast<int32_t>(id2_length / kID2RecordBytes) - 1;
  m_nextFrameIndex = segment.endFrame;

  // The index must reach the record the segment names as its last.
  const int64_t idx_length = StoreFileLength(base + ".idx");
  IndexRecord last_saved;
  const int64_t record_offset = int64_t{segment.endFrame} * kIndexRecordBytes;
  if (segment.endFrame < 0 || idx_length < record_offset + kIndexRecordBytes ||
      record_offset + 1 > INT32_MAX ||
      m_fsTools->ReadFileBlock(base + ".idx", static_cast<int32_t>(record_offset + 1),
                               kIndexRecordBytes, bytes, error) != 0 ||
      !last_saved.Decode(bytes)) {
    CreateNewDatabaseFile(-1.0);
    return;
  }
  const int64_t next_position = int64_t{last_saved.position} + last_saved.length;
  if (last_saved.position >= 1 && last_saved.length >= 0 && next_position <= INT32_MAX) {
    m_nextFrameIndex = segment.endFrame + 1;
    m_nextBinPos = static_cast<int32_t>(next_position);
    ResetFilterChain();  // the next saved frame opens a new segment
    return;
  }

  // The last save run was cut short: its index records were never written.
  IndexRecord found;
  const int32_t last = FindLastValidIndexRecord(base + ".idx", found);
  if (last >= 0 && last > segment.startFrame) {
    RaiseDebugEvent(kDebugError, "File " + base + " was corrupted. Data repaired. " +
                                     std::to_string(int64_t{segment.endFrame} - last) +
                                     " frames lost.");
    segment.endFrame = last;
    segment.endTime = found.time;
    segment.endDate = found.date;
    int32_t code = 0;
    const int16_t id2 = m_fsTools->OpenFile(base + ".id2", 0, code, error);
    if (id2 > 0) {
      m_fsTools->WriteToOpenedFile(id2, segment.Encode(),
                                   static_cast<int32_t>(id2_length - kID2RecordBytes + 1), error);
      m_fsTools->CloseFile(id2);
    }
  }
  CreateNewDatabaseFile(-1.0);  // a damaged set is never continued
}

// The last record of the unbroken run of written index records from record
// 0, by binary search (about log2 n reads); -1 when record 0 is not written.
// `record` holds the last record read.
int32_t Korvid::FindLastValidIndexRecord(const std::string& indexFileName, IndexRecord& record) {
  const int64_t records = StoreFileLength(indexFileName) / kIndexRecordBytes;
  if (records < 1) return -1;
  int64_t lo = 0, hi = std::min<int64_t>(records - 1, INT32_MAX / kIndexRecordBytes);
  std::string bytes, error;
  for (;;) {
    const int64_t mid = lo + (hi - lo + 1) / 2;  // rounded up, so the loop ends at mid == lo
    const bool written =
        m_fsTools->ReadFileBlock(indexFileName, static_cast<int32_t>(mid * kIndexRecordBytes + 1),
                                 kIndexRecordBytes, bytes, error) == 0 &&
        record.Decode(bytes) && record.position >= 1;
    if (written) {
      if (mid == lo) return static_cast<int32_t>(mid);
      lo = mid;
    } else {
      if (mid == lo) return -1;
      hi = mid - 1;
    }
  }
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

}  // namespace ravelon

// Preparing the engine: the store decides whether the file set named in the
// configuration can be continued, repairs the last segment of a set whose
// last save run was cut short, and otherwise begins a new set. Frame data and
// index records are never rewritten here; only the last segment record may
// be corrected.
#include <climits>
#include <cmath>

#include "ravelon/debug_levels.h"
#include "store/store_writer.h"

namespace ravelon {

StoreWriter::StoreWriter(FileSystem& files, const Clock& clock, RateStatistics& rates,
                         StoreWriterOwner& owner)
    : m_files(files), m_clock(clock), m_rates(rates), m_owner(owner), m_fsTools(files) {}

StoreWriter::~StoreWriter() { Close(); }

void StoreWriter::Prepare() {
  m_nextFrameIndex = 0;
  m_nextBinPos = 1;
  if (m_fileTime == 0 || std::isnan(m_fileTime)) {
    CreateNewDatabaseFile(-1.0);
  } else {
    CheckStoreFiles();
  }
}

int64_t StoreWriter::StoreFileLength(const std::string& path) const {
  std::unique_ptr<RandomAccessFile> file;
  std::string error;
  int64_t size = -1;
  if (m_files.Open(path, FileSystem::OpenMode::kOpenOrCreate, file, error) != 0 ||
      file->Size(size, error) != 0) {
    return -1;
  }
  return size;
}

// Continues the registered set after its last saved frame when its files
// agree; any damage or failure ends in a new set, so recording goes on.
void StoreWriter::CheckStoreFiles() {
  const std::string base = m_settings.dbPath + m_fileName;
  FileSystem& files = m_files;
  if (!files.FileExists(base + ".idx") || !files.FileExists(base + ".id2")) {
    CreateNewDatabaseFile(-1.0);
    return;
  }
  const int64_t id2_length = StoreFileLength(base + ".id2");
  std::string bytes, error;
  ID2Record segment;
  if (id2_length < kID2RecordBytes || id2_length % kID2RecordBytes != 0 || id2_length > INT32_MAX ||
      m_fsTools.ReadFileBlock(base + ".id2", static_cast<int32_t>(id2_length - kID2RecordBytes + 1),
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
      m_fsTools.ReadFileBlock(base + ".idx", static_cast<int32_t>(record_offset + 1),
                              kIndexRecordBytes, bytes, error) != 0 ||
      !last_saved.Decode(bytes)) {
    CreateNewDatabaseFile(-1.0);
    return;
  }
  const int64_t next_position = int64_t{last_saved.position} + last_saved.length;
  if (last_saved.position >= 1 && last_saved.length >= 0 && next_position <= INT32_MAX) {
    m_nextFrameIndex = segment.endFrame + 1;
    m_nextBinPos = static_cast<int32_t>(next_position);
    RestartSegment();  // the next saved frame opens a new segment
    return;
  }

  // The last save run was cut short: its index records were never written.
  IndexRecord found;
  const int32_t last = FindLastValidIndexRecord(base + ".idx", found);
  if (last >= 0 && last > segment.startFrame) {
    m_owner.Debug(kDebugError, "File " + base + " was corrupted. Data repaired. " +
                                   std::to_string(int64_t{segment.endFrame} - last) +
                                   " frames lost.");
    segment.endFrame = last;
    segment.endTime = found.time;
    segment.endDate = found.date;
    int32_t code = 0;
    const int16_t id2 = m_fsTools.OpenFile(base + ".id2", 0, code, error);
    if (id2 > 0) {
      m_fsTools.WriteToOpenedFile(id2, segment.Encode(),
                                  static_cast<int32_t>(id2_length - kID2RecordBytes + 1), error);
      m_fsTools.CloseFile(id2);
    }
  }
  CreateNewDatabaseFile(-1.0);  // a damaged set is never continued
}

// The last record of the unbroken run of written index records from record
// 0, by binary search (about log2 n reads); -1 when record 0 is not written.
// `record` holds the last record read.
int32_t StoreWriter::FindLastValidIndexRecord(const std::string& indexFileName,
                                              IndexRecord& record) {
  const int64_t records = StoreFileLength(indexFileName) / kIndexRecordBytes;
  if (records < 1) return -1;
  int64_t lo = 0, hi = std::min<int64_t>(records - 1, INT32_MAX / kIndexRecordBytes);
  std::string bytes, error;
  for (;;) {
    const int64_t mid = lo + (hi - lo + 1) / 2;  // rounded up, so the loop ends at mid == lo
    const bool written =
        m_fsTools.ReadFileBlock(indexFileName, static_cast<int32_t>(mid * kIndexRecordBytes + 1),
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

}  // namespace ravelon

// Preparing the engine: the store decides whether the file set named in the
// configuration can be continued, repairs the last segment of a set whose
// last save run was cut short, and otherwise begins a new set. Frame data and
// index records are never rewritten here; only the last segment record may
// be corrected.
#include <algorithm>
#include <climits>
#include <cmath>
#include <string_view>

#include "ravelon/debug_levels.h"
#include "store/store_writer.h"

namespace ravelon {
namespace {

// Whether a packed date YYYYMMDD and time HHMMSSmmm can be a moment at all.
bool PlausibleStamp(int32_t date, int32_t time) {
  const int32_t month = date / 100 % 100, day = date % 100;
  return date > 0 && month >= 1 && month <= 12 && day >= 1 && day <= 31 && time >= 0 &&
         time / 10'000'000 < 24 && time / 100'000 % 100 < 60 && time / 1'000 % 100 < 60;
}

}  // namespace

StoreWriter::StoreWriter(FileSystem& files, const Clock& clock, RateStatistics& rates,
                         StoreWriterOwner& owner)
    : m_files(files), m_clock(clock), m_rates(rates), m_owner(owner), m_fsTools(files) {}

StoreWriter::~StoreWriter() { Close(); }

void StoreWriter::Prepare() {
  Close();  // a set left open by an earlier start is written out and read afresh
  m_nextFrameIndex = 0;
  m_nextBinPos = 1;
  m_segmentFileAhead = false;
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
// agree; any damage or failure ends in a new set, so recording goes on. A
// set that a cut-short save run left behind is repaired first so that it
// reads as consistent: a torn segment record at the end of .id2 is cut off,
// and the last segment ends at its last frame that really reached the disk
// (or goes, when none did).
void StoreWriter::CheckStoreFiles() {
  const std::string base = m_settings.dbPath + m_fileName;
  FileSystem& files = m_files;
  if (!files.FileExists(base + ".idx") || !files.FileExists(base + ".id2")) {
    // A set is made with all three files before its first save run, so this
    // one never saved a frame: what was made of it goes.
    std::string ignored;
    for (const char* extension : {".bin", ".idx", ".id2"}) files.Remove(base + extension, ignored);
    CreateNewDatabaseFile(-1.0);
    return;
  }
  int64_t id2_length = StoreFileLength(base + ".id2");
  if (id2_length % kID2RecordBytes != 0 && id2_length > 0) {
    id2_length -= id2_length % kID2RecordBytes;
    if (!CutFile(base + ".id2", id2_length)) id2_length = -1;
  }
  // The last segment record, and the one before it when there is one.
  const int64_t read_length = std::min<int64_t>(id2_length, 2 * kID2RecordBytes);
  std::string bytes, error;
  ID2Record segment, previous;
  if (id2_length < kID2RecordBytes || id2_length % kID2RecordBytes != 0 || id2_length > INT32_MAX ||
      m_fsTools.ReadFileBlock(base + ".id2", static_cast<int32_t>(id2_length - read_length + 1),
                              static_cast<int32_t>(read_length), bytes, error) != 0 ||
      bytes.size() != static_cast<size_t>(read_length) ||
      !segment.Decode(std::string_view(bytes).substr(bytes.size() - kID2RecordBytes))) {
    CreateNewDatabaseFile(-1.0);
    return;
  }
  m_id2Index = static_cast<int32_t>(id2_length / kID2RecordBytes) - 1;
  // Each segment begins after the frames of the one before it. A last record
  // that reaches back over them (a record of zeros, whose length reached the
  // disk but not its bytes) names no frame of its own, and continuing after
  // it would write over frames that earlier segments name.
  const bool reaches_back = m_id2Index > 0 &&
                            previous.Decode(std::string_view(bytes).substr(0, kID2RecordBytes)) &&
                            segment.startFrame <= previous.endFrame;

  const int64_t idx_records = StoreFileLength(base + ".idx") / kIndexRecordBytes;
  const bool well_formed =
      segment.startFrame >= 0 && segment.endFrame >= segment.startFrame && !reaches_back;
  IndexRecord last_saved;
  const int32_t last =
      well_formed ? FindLastValidIndexRecord(base + ".idx", segment.startFrame,
                                             std::min<int64_t>(segment.endFrame, idx_records - 1),
                                             last_saved)
                  : -1;
  const int64_t next_position = int64_t{last_saved.position} + last_saved.length;
  if (well_formed && last == segment.endFrame && next_position <= INT32_MAX) {
    // A save run cut short while it moved the segment's end may leave an end
    // that is no moment, or one before the start: the last frame's stamp
    // takes its place.
    if (!PlausibleStamp(segment.endDate, segment.endTime) ||
        std::pair(segment.endDate, segment.endTime) <
            std::pair(segment.startDate, segment.startTime)) {
      segment.endDate = last_saved.date;
      segment.endTime = last_saved.time;
      RewriteLastSegment(base, segment, id2_length);
    }
    m_nextFrameIndex = segment.endFrame + 1;
    m_nextBinPos = static_cast<int32_t>(next_position);
    RestartSegment();  // the next saved frame opens a new segment
    return;
  }

  // The last save run was cut short: the segment names frames whose records
  // never reached the disk.
  const int64_t lost =
      well_formed ? int64_t{segment.endFrame} - (last >= 0 ? last : segment.startFrame - 1) : 0;
  m_owner.Debug(kDebugError, "File " + base + " was corrupted. Data repaired. " +
                                 std::to_string(lost) + " frames lost.");
  if (last >= 0) {
    segment.endFrame = last;
    segment.endTime = last_saved.time;
    segment.endDate = last_saved.date;
    RewriteLastSegment(base, segment, id2_length);
  } else {
    CutFile(base + ".id2", id2_length - kID2RecordBytes);  // not one frame of it was saved
  }
  CreateNewDatabaseFile(-1.0);  // a damaged set is never continued
}

void StoreWriter::RewriteLastSegment(const std::string& base, const ID2Record& segment,
                                     int64_t id2Length) {
  std::string error;
  int32_t code = 0;
  const int16_t id2 = m_fsTools.OpenFile(base + ".id2", 0, code, error);
  if (id2 <= 0) return;
  m_fsTools.WriteToOpenedFile(id2, segment.Encode(),
                              static_cast<int32_t>(id2Length - kID2RecordBytes + 1), error);
  if (m_settings.syncWrites) m_fsTools.SyncOpenedFile(id2, error);
  m_fsTools.CloseFile(id2);
}

bool StoreWriter::CutFile(const std::string& path, int64_t length) {
  std::unique_ptr<RandomAccessFile> file;
  std::string error;
  return m_files.Open(path, FileSystem::OpenMode::kOpenOrCreate, file, error) == 0 &&
         file->SetSize(length, error) == 0 && (!m_settings.syncWrites || file->Sync(error) == 0);
}

// The last frame from `first` to `last` whose record was written, read
// backwards in blocks; -1 when none was. Bounded by the segment, so old
// records of a recycled index beyond it are never taken, and a hole left by a
// failed run does not hide the frames after it. `record` holds the frame
// found.
int32_t StoreWriter::FindLastValidIndexRecord(const std::string& indexFileName, int32_t first,
                                              int64_t last, IndexRecord& record) {
  constexpr int64_t kRecordsPerRead = 4'096;  // 72 KiB: a long segment is read in pieces
  std::string bytes, error;
  while (last >= first) {
    const int64_t from = std::max<int64_t>(first, last - kRecordsPerRead + 1);
    if (from * kIndexRecordBytes + 1 > INT32_MAX ||
        m_fsTools.ReadFileBlock(indexFileName, static_cast<int32_t>(from * kIndexRecordBytes + 1),
                                static_cast<int32_t>((last - from + 1) * kIndexRecordBytes), bytes,
                                error) != 0) {
      return -1;
    }
    for (int64_t n = last; n >= from; --n) {
      const size_t offset = static_cast<size_t>((n - from) * kIndexRecordBytes);
      if (offset + kIndexRecordBytes > bytes.size() ||
          !record.Decode(bytes.substr(offset, kIndexRecordBytes))) {
        continue;
      }
      if (record.position >= 1 && record.length >= 0) return static_cast<int32_t>(n);
    }
    last = from - 1;
  }
  return -1;
}

}  // namespace ravelon

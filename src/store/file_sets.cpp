// File sets of the frame store: when a new set begins and what it is called,
// the size and time limits, and opening the three files of a set (taking
// over an old set's files, or preallocating a new data file at once).
#include <cmath>

#include "common/date_time.h"
#include "common/engine_limits.h"
#include "ravelon/debug_levels.h"
#include "store/store_writer.h"

namespace ravelon {
namespace {

std::string TwoDigits(int64_t value) {
  std::string text = std::to_string(value);
  if (text.size() == 1) text.insert(0, 1, '0');
  return text.size() > 2 ? text.substr(text.size() - 2) : text;
}

}  // namespace

double StoreWriter::PresentDateTime() const {
  const Clock& clock = m_clock;
  return clock.Today() + clock.SecondsSinceMidnight() / kSecondsPerDay;
}

// YYMMDDHHMMSS of the present moment. A set is named after the second it
// begins; when a set of that name exists already (two sets begun in one
// second), the name moves on a second at a time until it is free, so a new
// set never writes over an earlier one.
std::string StoreWriter::NewFileSetName() const {
  const Clock& clock = m_clock;
  int64_t day = static_cast<int64_t>(std::floor(clock.Today()));
  int64_t second = static_cast<int64_t>(std::floor(clock.SecondsSinceMidnight()));
  FileSystem& files = m_files;
  for (;;) {
    int year = 0;
    unsigned month = 0, day_of_month = 0;
    CivilFromDays(day, year, month, day_of_month);
    const std::string name = TwoDigits(year) + TwoDigits(month) + TwoDigits(day_of_month) +
                             TwoDigits(second / 3600) + TwoDigits(second / 60 % 60) +
                             TwoDigits(second % 60);
    const std::string base = m_settings.dbPath + name;
    if (name != m_fileName && !files.FileExists(base + ".bin") &&
        !files.FileExists(base + ".idx") && !files.FileExists(base + ".id2")) {
      return name;
    }
    if (++second == static_cast<int64_t>(kSecondsPerDay)) second = 0, ++day;
  }
}

void StoreWriter::CreateNewDatabaseFile(double startTime) {
  Close();
  RestartSegment();
  m_segmentFileAhead = false;
  m_id2Index = -1;
  m_nextBinPos = 1;
  m_nextFrameIndex = 0;
  m_fileName = NewFileSetName();
  m_owner.Debug(kDebugHousekeeping, "Creating new database filename: " + m_fileName);
  m_fileTime = startTime == -1.0 ? PresentDateTime() : startTime;
  m_owner.OnNewFileSet(m_fileName, m_fileTime);
}

// -1 when the frame of m_frameLength bytes may still go into the current set,
// 0 when the size limit is reached, 1 when the time limit is.
int32_t StoreWriter::CheckFileLimit() {
  const int64_t end = int64_t{m_nextBinPos} + m_frameLength - 1;
  if (m_settings.fileLimitType == 0) {
    if (end > m_settings.fileSizeLimit * kMegabyte) {
      m_fileTime = -1.0;  // the next set starts now
      return 0;
    }
    return -1;
  }
  if (end > kTimeLimitSizeCap) return 0;  // the next set keeps the start time
  // Sets follow a fixed grid of periods from the first start, however long
  // the engine was stopped in between.
  const double elapsed = PresentDateTime() - m_fileTime;
  const double period = m_settings.fileSizeLimit / 24.0;
  if (period <= elapsed) {
    const double periods = std::max(1.0, std::floor(elapsed * 24 / m_settings.fileSizeLimit));
    m_fileTime += period * periods;
    return 1;
  }
  return -1;
}

void StoreWriter::OpenStoreFiles(const std::string& baseName, std::string& errorText,
                                 int32_t& status) {
  if (baseName == m_openFileName) {
    status = 0;
    return;
  }
  Close();
  EnsureDBPath();
  // A file made or renamed here has its name on the disk only once its
  // folder is synced; until a sync of it works, every opening tries again.
  for (const char* extension : {".bin", ".idx", ".id2"}) {
    if (!m_files.FileExists(baseName + extension)) m_namesUnsynced = true;
  }
  if (!m_files.FileExists(baseName + ".bin")) {
    if (m_recycleFile.size() >= 2) {
      // The old set's files keep their length and content; the new set writes
      // over them from the start, and its fresh segment file says how far.
      // The old segment file goes first: without it no frame of the old set
      // is named, so a stop halfway leaves no set that names missing frames.
      m_owner.Debug(kDebugHousekeeping, "Recycling file: " + m_recycleFile + " -> " + baseName);
      std::string ignored;
      m_files.Remove(m_recycleFile + ".id2", ignored);
      m_fsTools.RenameFile(m_recycleFile + ".bin", baseName + ".bin");
      m_fsTools.RenameFile(m_recycleFile + ".idx", baseName + ".idx");
      m_recycleFile.clear();
    } else if (m_settings.useFastPreallocation) {
      const int32_t megabytes =
          m_settings.fileLimitType == 0 ? m_settings.fileSizeLimit : m_settings.preAllocationSize;
      const MonoTime started = m_clock.Monotonic();
      std::string ignored;
      m_fsTools.FastFilePreallocateXP(baseName + ".bin",
                                      static_cast<int32_t>(megabytes * kMegabyte), ignored);
      const auto ms =
          std::chrono::duration_cast<std::chrono::milliseconds>(m_clock.Monotonic() - started);
      m_owner.Debug(kDebugHousekeeping, "FastPreallocation done: " + std::to_string(megabytes) +
                                            "MB in " + std::to_string(ms.count()) +
                                            "ms. FileName:" + baseName);
    }
  }
  int32_t code = 0;
  std::string description;
  m_binHandle = m_fsTools.OpenFile(baseName + ".bin", 0, code, description);
  if (m_binHandle > 0) m_idxHandle = m_fsTools.OpenFile(baseName + ".idx", 0, code, description);
  if (m_idxHandle > 0) m_id2Handle = m_fsTools.OpenFile(baseName + ".id2", 0, code, description);
  if (m_id2Handle > 0) code = SyncNewNames(m_fsTools.ExtractFilePath(baseName), description);
  if (m_id2Handle > 0 && code == 0) {
    m_openFileName = baseName;
    m_namesCheckedAt = m_clock.Monotonic();  // just opened by these names
    status = 0;
    return;
  }
  status = code;
  errorText = description;
  Close();
}

// What follows is a new recording segment, and the host's filters start afresh.
void StoreWriter::RestartSegment() {
  m_segmentPending = true;
  m_owner.OnSegmentRestart();
}

void StoreWriter::Close() {
  WriteUnwrittenSegmentEnd();
  m_openFileName.clear();
  for (int16_t* handle : {&m_binHandle, &m_idxHandle, &m_id2Handle}) {
    if (*handle > 0) m_fsTools.CloseFile(*handle);
    *handle = -1;
  }
}

void StoreWriter::EnsureDBPath() {
  if (!m_settings.dbPath.empty() && !m_files.DirectoryExists(m_settings.dbPath)) {
    m_fsTools.createPath(m_settings.dbPath);
    m_folderUnsynced = true;
  }
}

// Makes the names made since the last sync durable: a store folder made by
// EnsureDBPath in each folder above it, up to the top (rare: only when the
// store folder was missing), and new or renamed files in `folder`. 0 or the
// failure of the first sync that failed, which the next opening tries again.
int32_t StoreWriter::SyncNewNames(const std::string& folder, std::string& error) {
  if (!m_settings.syncWrites) return 0;
  for (std::string above = m_settings.dbPath; m_folderUnsynced;) {
    while (!above.empty() && above.back() == '/') above.pop_back();
    if (above.empty()) {
      m_folderUnsynced = false;
      break;
    }
    above = m_fsTools.ExtractFilePath(above);
    if (const int32_t status = m_files.SyncDirectory(above.empty() ? "." : above, error)) {
      return status;
    }
  }
  if (m_namesUnsynced) {
    if (const int32_t status = m_files.SyncDirectory(folder, error)) return status;
    m_namesUnsynced = false;
  }
  return 0;
}

}  // namespace ravelon

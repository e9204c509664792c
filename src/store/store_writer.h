// StoreWriter: the writing side of the frame store. It drains the save queue
// into the current file set (".bin" frame data, ".idx" one record per frame,
// ".id2" one record per recording segment), begins a new set at the size or
// time limit (taking over an old set's files, or preallocating), and when the
// engine is prepared continues the registered set or repairs and replaces a
// damaged one.
//
// Owned by the engine; every call on the engine's thread. Its files are
// opened by the first save run of a set and stay open until the set changes
// or Close.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "ravelon/clock.h"
#include "ravelon/file_system.h"
#include "store/id2_data.h"
#include "store/qv_fs_tools.h"
#include "store/record_formats.h"

namespace ravelon {

class DataBlock;
class MediaFrame;
class RateStatistics;
class SaveQueue;

// What a host or the registry store sets; read where it is used.
struct StoreSettings {
  std::string dbPath;  // the store folder, ending in "/" (or "" for the current folder)
  bool doSave = false;
  int32_t saveInterval = 0;       // ms between saved images
  int16_t fileSizeLimit = 0;      // MB, or hours under a time limit
  uint8_t fileLimitType = 0;      // 0 size, 1 time
  int16_t preAllocationSize = 0;  // MB the data file grows by
  bool useFastPreallocation = false;
  // Each save run makes its frames durable (fdatasync of data and index)
  // before writing the segment record that names them, and the record after;
  // the folder is synced after a file is created or renamed in it; a long
  // run's frames go to the disk past the system's cache.
  bool syncWrites = true;
};

class StoreWriterOwner {
 public:
  virtual ~StoreWriterOwner() = default;
  // A new file set began: its base name and start time, to be remembered
  // for the next start.
  virtual void OnNewFileSet(const std::string& name, double startTime) = 0;
  // A new recording segment begins in a new or continued set: the host's
  // filters start afresh.
  virtual void OnSegmentRestart() = 0;
  virtual void Debug(uint8_t level, const std::string& text) = 0;
};

class StoreWriter {
 public:
  StoreWriter(FileSystem& files, const Clock& clock, RateStatistics& rates,
              StoreWriterOwner& owner);
  ~StoreWriter();
  StoreWriter(const StoreWriter&) = delete;
  StoreWriter& operator=(const StoreWriter&) = delete;

  StoreSettings& Settings() { return m_settings; }
  const StoreSettings& Settings() const { return m_settings; }

  // The registered file set: its base name and start time (0: none).
  void SetFileSet(const std::string& name, double time) {
    m_fileName = name;
    m_fileTime = time;
  }
  const std::string& FileName() const { return m_fileName; }
  double FileTime() const { return m_fileTime; }
  // The base path of an old set whose files the next new set takes over.
  void SetRecycleFile(const std::string& path) { m_recycleFile = path; }
  const std::string& RecycleFile() const { return m_recycleFile; }

  // Continues the registered set after its last saved frame when its files
  // agree; otherwise repairs what can be repaired and begins a new set.
  void Prepare();

  // Saves the queue: runs until it is drained or a run ends for another
  // reason than a file-set limit. Returns the frames saved, -1 when saving
  // is off. `anyFrame` is false before the first frame since the engine was
  // prepared: then nothing is written. Reports the frames lost meanwhile.
  // An empty queue moves the current segment's end to now; the segment file
  // gets that end with the next saved frame, at Close, or once it waited
  // kSegmentEndRefreshInterval, so a run with nothing to save writes nothing.
  int32_t ForcedSave(SaveQueue& queue, bool anyFrame);

  // The next saved frame begins a new recording segment.
  void BeginNewSegment() { m_segmentPending = true; }

  // Writes a segment end that empty runs left in memory, then closes the
  // set's files.
  void Close();

  // The current segment as the last save run left it.
  const ID2Data& CurrentSegment() const { return m_id2Data; }

 private:
  // What a save run may change in the set, so that a failed run can leave
  // the set exactly as it was.
  struct RunStart {
    int32_t nextBinPos;
    int32_t nextFrameIndex;
    int32_t id2Index;
    bool segmentPending;
    ID2Data id2Data;
  };
  RunStart TakeRunStart() const;
  void RollBack(const RunStart& start);
  // False when a file of the open set lost its name (removed, replaced).
  // Asked at most once per kStoreNameCheckInterval, and after a failed run.
  bool OpenFilesStillNamed();
  bool NamesCheckDue() const;
  // Seconds from the last frame taken to (`date`, `time`).
  double SecondsSinceLastTaken(double date, double time) const;
  // A run with nothing to save and no segment end due: its effects in memory.
  void IdleRun();
  void WriteUnwrittenSegmentEnd();
  // Writes `segment`'s end into record `index` of the open .id2, synced when
  // the sync setting is on.
  int32_t WriteSegmentEnd(const ID2Data& segment, int32_t index, std::string& error);
  int32_t PutSegmentFileBack(const RunStart& before, std::string& error);

  int32_t SaveFrame(SaveQueue& queue);
  void ReportStoreError(const std::string& text);
  void CreateNewDatabaseFile(double startTime);
  void RestartSegment();
  int32_t CheckFileLimit();
  void OpenStoreFiles(const std::string& baseName, std::string& errorText, int32_t& status);
  void EnsureDBPath();
  int32_t SyncNewNames(const std::string& folder, std::string& error);
  std::string NewFileSetName() const;
  void CheckStoreFiles();
  int32_t FindLastValidIndexRecord(const std::string& indexFileName, int32_t first, int64_t last,
                                   IndexRecord& record);
  // Writes `segment` over the last record of the set's .id2 (`id2Length` bytes).
  void RewriteLastSegment(const std::string& base, const ID2Record& segment, int64_t id2Length);
  // Cuts the file to `length` bytes (synced when writes are); false on failure.
  bool CutFile(const std::string& path, int64_t length);
  int64_t StoreFileLength(const std::string& path) const;
  double PresentDateTime() const;

  FileSystem& m_files;
  const Clock& m_clock;
  RateStatistics& m_rates;
  StoreWriterOwner& m_owner;
  QvFsTools m_fsTools;
  StoreSettings m_settings;

  std::string m_fileName;
  double m_fileTime = 0;
  std::string m_recycleFile;

  int16_t m_binHandle = -1;
  int16_t m_idxHandle = -1;
  int16_t m_id2Handle = -1;
  std::string m_openFileName;
  // The frames of the run being written and their bytes, for one vectored
  // write (kept as members so that a run allocates nothing once warm).
  std::vector<std::shared_ptr<MediaFrame>> m_runFrames;
  std::vector<std::string_view> m_runPieces;
  MonoTime m_namesCheckedAt{};
  MonoTime m_segmentEndWrittenAt{};
  // The current segment's end in the file may differ from m_id2Data's: empty
  // runs moved it, or a failed run wrote part of one.
  bool m_segmentEndUnwritten = false;
  bool m_segmentPending = false;
  // A failed run's segment write may have reached the .id2: it may name frames
  // that the next run writes over, so that run puts the file back first.
  bool m_segmentFileAhead = false;
  int32_t m_nextBinPos = 1;
  int32_t m_nextFrameIndex = 0;
  int32_t m_id2Index = 0;
  int32_t m_frameLength = 0;
  double m_lastTakenDate = 0;
  double m_lastTakenTime = 0;
  double m_saveCredit = 0;
  double m_lastErrorReport = 0;
  bool m_runReachedLimit = false;  // the last save run ended at a file-set limit
  bool m_storeFailing = false;     // the last save run failed; said again once it works
  bool m_namesUnsynced = false;    // files were made or renamed since the folder's last sync
  bool m_folderUnsynced = false;   // the store folder was made since its parent's last sync
  ID2Data m_id2Data;
};

}  // namespace ravelon

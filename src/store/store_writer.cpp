// Saving: one run drains the save queue into the current file set. Images
// are thinned out to the save interval; frames without a final stamp are
// spread evenly between the last frame taken and now; stamps are kept
// strictly increasing; the data, index and segment files are written once
// each per run, in that order, each with one vectored write straight from the
// frames, so a run cut short leaves at worst index records or a segment end
// that the next start repairs.
#include "store/store_writer.h"

#include <cmath>
#include <utility>

#include "common/date_time.h"
#include "common/engine_limits.h"
#include "pipeline/save_queue.h"
#include "ravelon/debug_levels.h"
#include "ravelon/media_frame.h"
#include "schedule/rate_statistics.h"

namespace ravelon {
namespace {

// Adds seconds to a stamp, carrying whole days (counted toward zero) into the date. The sum is
// taken to the microsecond: added spacings drift just below whole seconds (86399.6 + 0.4 gives
// 86399.99999999), which would stay on the day and encode as 23:59:60.000.
void AddSecondsToStamp(double& date, double& time, double seconds) {
  time = std::round((time + seconds) * 1e6) / 1e6;
  const double days = std::trunc(time / kSecondsPerDay);
  time -= kSecondsPerDay * days;
  date += days;
}

// The end fields of a segment record (last frame, end time and date).
std::string EncodedEnd(const ID2Data& segment) {
  ID2Record end;
  end.endFrame = segment.EndFrame;
  end.endTime = segment.EndTime;
  end.endDate = segment.EndDate;
  return end.EncodeEnd();
}

// The 1-based file position of the end fields of the `index`-th segment record.
int32_t EndFieldsPosition(int32_t index) {
  return index * kID2RecordBytes + kID2EndFieldsOffset + 1;
}

}  // namespace

// Frames lost, as reported by ForcedSave: frames dropped from a full save
// queue and frames taken by a save run whose writes failed.
//
// A run ends where a file set reaches its limit, leaving the rest of the
// queue for the new set. ForcedSave goes on with further runs until the
// queue is drained or a run ends for another reason, so a host's save (and
// the flush at release) never leaves frames behind because of a roll-over.
int32_t StoreWriter::ForcedSave(SaveQueue& queue, bool anyFrame) {
  if (!m_settings.doSave) return -1;
  int32_t saved = 0;
  // Before the first frame since the engine was prepared there is nothing
  // to save, and no segment to move on.
  for (int32_t runs = queue.Count() + 1; anyFrame && runs > 0; --runs) {
    m_runReachedLimit = false;
    saved += SaveFrame(queue);
    if (!m_runReachedLimit || queue.IsEmpty()) break;
  }
  if (queue.FramesLost() > 0) {
    m_owner.Debug(kDebugStore, std::to_string(queue.FramesLost()) + " frames lost.");
    queue.ResetLost();
  }
  return saved;
}

// A failing disk must not flood the host: one report per 25.92 s at most.
void StoreWriter::ReportStoreError(const std::string& text) {
  m_storeFailing = true;
  const double now = PresentDateTime();
  if (now - m_lastErrorReport <= kErrorReportGapDays) return;
  m_lastErrorReport = now;
  m_owner.Debug(kDebugError, text);
}

StoreWriter::RunStart StoreWriter::TakeRunStart() const {
  return {m_nextBinPos, m_nextFrameIndex, m_id2Index, m_segmentPending, m_id2Data};
}

void StoreWriter::RollBack(const RunStart& start) {
  m_nextBinPos = start.nextBinPos;
  m_nextFrameIndex = start.nextFrameIndex;
  m_id2Index = start.id2Index;
  m_segmentPending = start.segmentPending;
  m_id2Data = start.id2Data;
}

bool StoreWriter::OpenFilesStillNamed() {
  m_namesCheckedAt = m_clock.Monotonic();
  for (const int16_t handle : {m_binHandle, m_idxHandle, m_id2Handle}) {
    if (!m_fsTools.OpenedFileIsNamed(handle)) return false;
  }
  return true;
}

bool StoreWriter::NamesCheckDue() const {
  return m_storeFailing || m_clock.Monotonic() - m_namesCheckedAt >= kStoreNameCheckInterval;
}

double StoreWriter::SecondsSinceLastTaken(double date, double time) const {
  return std::floor(date - m_lastTakenDate) * kSecondsPerDay + time - m_lastTakenTime;
}

// What a run with an empty queue changes, without touching a file: the
// credit lapses after a pause, and the segment ends now.
void StoreWriter::IdleRun() {
  double d = 0, t = 0;
  GetNowDateTime(m_clock, d, t);
  if (SecondsSinceLastTaken(d, t) > kRecentSeconds) m_saveCredit = 0;
  GetNowDateTimeLongs(m_clock, m_id2Data.EndDate, m_id2Data.EndTime);
  m_id2Data.EndFrame = m_nextFrameIndex - 1;
  m_segmentEndUnwritten = true;
}

// Best effort: the set is being left, and a failure here loses no frame,
// only the latest move of the segment's end.
void StoreWriter::WriteUnwrittenSegmentEnd() {
  const bool unwritten = std::exchange(m_segmentEndUnwritten, false);
  if (!unwritten || m_openFileName.empty() || m_id2Index < 0) return;
  std::string error;
  WriteSegmentEnd(m_id2Data, m_id2Index, error);
}

int32_t StoreWriter::WriteSegmentEnd(const ID2Data& segment, int32_t index, std::string& error) {
  int32_t status = m_fsTools.WriteToOpenedFile(m_id2Handle, EncodedEnd(segment),
                                               EndFieldsPosition(index), error);
  if (status == 0 && m_settings.syncWrites) status = m_fsTools.SyncOpenedFile(m_id2Handle, error);
  return status;
}

// Before a run's frames go where a failed run's frames were, the segment file
// stops naming those: a record the failed run added goes, and the current
// segment gets back its end.
int32_t StoreWriter::PutSegmentFileBack(const RunStart& before, std::string& error) {
  int32_t status = m_fsTools.SetSizeOpenedFile(
      m_id2Handle, int64_t{before.id2Index + 1} * kID2RecordBytes, error);
  if (status != 0) return status;
  if (!before.segmentPending) return WriteSegmentEnd(before.id2Data, before.id2Index, error);
  return m_settings.syncWrites ? m_fsTools.SyncOpenedFile(m_id2Handle, error) : 0;
}

int32_t StoreWriter::SaveFrame(SaveQueue& queue) {
  // With a segment in progress an empty queue moves its end to now, in
  // memory until the refresh is due.
  if (queue.IsEmpty() && m_segmentPending) return 0;
  if (queue.IsEmpty() && m_clock.Monotonic() - m_segmentEndWrittenAt < kSegmentEndRefreshInterval) {
    IdleRun();
    return 0;
  }

  // Files removed under an open set (the folder deleted, a file replaced):
  // writing on would go into nothing, so the set ends here and the run goes
  // into a new one, in a folder made again where needed.
  if (!m_openFileName.empty() && NamesCheckDue() && !OpenFilesStillNamed()) {
    m_owner.Debug(kDebugError, "Store files of " + m_openFileName +
                                   " were removed. Saving goes on in a new file set.");
    CreateNewDatabaseFile(-1.0);
    if (queue.IsEmpty()) return 0;
  }
  const RunStart before = TakeRunStart();

  int32_t limit = -1;
  std::string index_bytes, segment_bytes;
  // The run's frames stay alive until their bytes are written.
  struct RunFrames {
    StoreWriter& writer;
    ~RunFrames() {
      writer.m_runPieces.clear();
      writer.m_runFrames.clear();
    }
  } run_frames{*this};
  bool recent = true;
  int32_t saved = 0;

  double d = 0, t = 0;
  GetNowDateTime(m_clock, d, t);
  const double now_date = d, now_time = t;
  const double elapsed = SecondsSinceLastTaken(d, t);
  double spacing = 0;
  if (elapsed <= kRecentSeconds) {
    const int32_t queued = queue.Count();
    spacing = queued > 0 ? elapsed / queued : 0;
  } else {
    m_saveCredit = 0;
    recent = false;
  }
  if (spacing <= kMinSpacingSeconds) spacing = kMinSpacingSeconds;

  d = m_lastTakenDate;
  t = m_lastTakenTime;
  const int32_t data_pos = m_nextBinPos;
  const int32_t index_pos = m_nextFrameIndex * kIndexRecordBytes + 1;
  const int32_t append_pos = (m_id2Index + 1) * kID2RecordBytes + 1;
  int32_t date_long = 0, time_long = 0;
  std::shared_ptr<MediaFrame> frame;

  while (!queue.IsEmpty()) {
    frame = queue.Front();
    bool skip = false;
    if (recent) {
      AddSecondsToStamp(d, t, spacing);
      if (!frame->getFixedStamp()) {
        frame->setDate(d);
        frame->setTime(t);
      }
      // The credit carries the time since the last saved image from frame to
      // frame and from run to run; an image is saved when a whole save
      // interval has accumulated.
      const double credit = spacing * 1000 + m_saveCredit;
      m_saveCredit = credit;
      if (credit < m_settings.saveInterval && spacing > kMinSpacingSeconds &&
          m_settings.saveInterval > 10) {
        skip = frame->getDataType() == kJpeg;
        m_saveCredit = std::max(m_saveCredit, -10.0 * m_settings.saveInterval);
      } else {
        m_saveCredit =
            std::min(std::floor(credit) - m_settings.saveInterval, 10.0 * m_settings.saveInterval);
      }
    }
    if (m_segmentPending) skip = false;  // a segment always begins with a saved frame
    // Never stamped (the zero date would hide it from every query): the
    // moment it came, or else now.
    if (frame->getDate() == 0) {
      const auto [arrival_date, arrival_time] = queue.FrontArrival();
      frame->setDate(arrival_date != 0 ? arrival_date : now_date);
      frame->setTime(arrival_date != 0 ? arrival_time : now_time);
    }

    if (!skip) {
      if (CompareStamps(m_lastTakenDate, m_lastTakenTime, frame->getDate(), frame->getTime()) !=
          kStampEarlier) {
        frame->setDate(m_lastTakenDate);
        frame->setTime(m_lastTakenTime + 0.001);
        if (frame->getTime() >= kSecondsPerDay) {
          frame->setDate(m_lastTakenDate + 1);
          frame->setTime(0);
        }
      }
      m_frameLength = frame->getDataLength();
      date_long = DateToLong(frame->getDate());
      time_long = TimeToLong(frame->getTime());
      limit = CheckFileLimit();
      // A set without a frame cannot end: a frame larger than the whole size
      // limit goes alone into a set of its own, and a time limit met by a
      // new set moves its start onto the grid.
      if (limit != -1 && m_nextFrameIndex == 0) {
        if (limit == 1) m_owner.OnNewFileSet(m_fileName, m_fileTime);
        limit = -1;
      }
      if (limit != -1) break;  // the frame stays first in the queue, for the next set

      m_runPieces.push_back(frame->getDataBlock().View());
      m_runFrames.push_back(frame);
      index_bytes +=
          IndexRecord{
              m_nextBinPos,        m_frameLength, time_long, date_long, frame->getMotionPercent(),
              frame->getDataType()}
              .Encode();
      if (m_segmentPending) {
        m_id2Data.StartDate = m_id2Data.EndDate = date_long;
        m_id2Data.StartFrame = m_id2Data.EndFrame = m_nextFrameIndex;
        m_id2Data.StartTime = m_id2Data.EndTime = time_long;
        m_id2Data.FileName = m_settings.dbPath + m_fileName;
        ++m_id2Index;
        m_segmentPending = false;
        segment_bytes = ID2Record{m_settings.saveInterval, m_nextFrameIndex, time_long, date_long,
                                  m_nextFrameIndex,        time_long,        date_long}
                            .Encode();
      }
      ++m_nextFrameIndex;
      m_nextBinPos += m_frameLength;
      ++saved;
    }
    m_lastTakenTime = frame->getTime();
    m_lastTakenDate = frame->getDate();
    m_rates.FrameSaved();
    queue.RemoveFront();
  }

  // The segment ends now, or one millisecond before the frame that reached a limit.
  if (limit == -1) {
    GetNowDateTimeLongs(m_clock, date_long, time_long);
  } else {
    double end_date = frame->getDate();
    double end_time = frame->getTime() - 0.001;
    if (end_time < 0) {
      end_time += kSecondsPerDay;
      end_date -= 1;
    }
    date_long = DateToLong(end_date);
    time_long = TimeToLong(end_time);
  }
  m_id2Data.EndDate = date_long;
  m_id2Data.EndTime = time_long;
  m_id2Data.EndFrame = m_nextFrameIndex - 1;
  int32_t segment_pos = 0;
  if (segment_bytes.empty()) {
    segment_bytes = EncodedEnd(m_id2Data);
    segment_pos = EndFieldsPosition(m_id2Index);
  } else {
    segment_bytes.replace(kID2EndFieldsOffset, segment_bytes.size() - kID2EndFieldsOffset,
                          EncodedEnd(m_id2Data));
    segment_pos = append_pos;
    // Empty runs, or a failed run that wrote part of its end, may have left
    // the previous segment's end in the file apart from the one in memory: it
    // goes in the same write, just before the new record.
    if (m_segmentEndUnwritten && before.id2Index >= 0) {
      segment_bytes.insert(0, EncodedEnd(before.id2Data));
      segment_pos = EndFieldsPosition(before.id2Index);
    }
  }

  const std::string base = m_settings.dbPath + m_fileName;
  std::string error;
  int32_t status = 0;
  bool segment_written = false;
  OpenStoreFiles(base, error, status);
  // A failed run leaves the set as it was before it: the next run writes
  // over whatever part of this one reached the files.
  const auto failed = [&](const std::string& what) {
    RollBack(before);
    // A segment in progress may have had its end written ahead of what the
    // run now takes back.
    if (!before.segmentPending) m_segmentEndUnwritten = true;
    if (segment_written) m_segmentFileAhead = true;
    queue.CountLost(saved);
    ReportStoreError(what + " Error: Number=" + std::to_string(status) + ", Description=" + error);
    return 0;
  };
  if (status != 0) return failed("SaveFrame: OpendDBFiles failed. " + base);
  if (m_segmentFileAhead && !index_bytes.empty()) {
    status = PutSegmentFileBack(before, error);
    if (status != 0) return failed("DBWrite " + base + ".id2");
    m_segmentFileAhead = false;
  }

  if (!index_bytes.empty()) {
    // A run that waits for its frames to reach the disk may as well send them
    // there straight, past the system's cache; without the wait, the cache
    // takes them and the run does not wait for the disk at all.
    m_fsTools.SetWriteThroughOpenedFile(m_binHandle, m_settings.syncWrites);
    int32_t new_size = -1, scratch = 0;
    status = m_fsTools.WritePreAllocOpenedFile(
        m_binHandle, m_runPieces, data_pos,
        static_cast<int32_t>(m_settings.preAllocationSize * kMegabyte),
        static_cast<int32_t>(m_settings.fileSizeLimit * kMegabyte), error, new_size,
        m_id2Data.FileSize);
    if (status != 0) return failed("DBWrite " + base + ".bin");
    // Without a growth step the write itself may lengthen the file.
    m_id2Data.FileSize =
        static_cast<int32_t>(std::max<int64_t>(m_id2Data.FileSize, int64_t{m_nextBinPos} - 1));
    if (new_size >= 0) {
      m_owner.Debug(kDebugStore, "Preallocation completed. New file size=" +
                                     std::to_string(new_size) + " bytes. - " + m_fileName + ".bin");
    }
    new_size = -1;
    status =
        m_fsTools.WritePreAllocOpenedFile(m_idxHandle, index_bytes, index_pos, kIndexGrowthStep,
                                          kIndexMaxSize, error, new_size, scratch);
    if (status != 0) return failed("DBWrite " + base + ".idx");
    if (new_size >= 0) {
      m_owner.Debug(kDebugStore, "Preallocation completed. New file size=" +
                                     std::to_string(new_size) + " bytes. - " + m_fileName + ".idx");
    }
    // Group commit: the frames and their records are on the disk before the
    // segment record that names them is written.
    if (m_settings.syncWrites) {
      // Both files' writes go to the disk together; each Sync then waits.
      m_fsTools.StartSyncOpenedFile(m_binHandle);
      m_fsTools.StartSyncOpenedFile(m_idxHandle);
      status = m_fsTools.SyncOpenedFile(m_binHandle, error);
      if (status != 0) return failed("DBSync " + base + ".bin");
      status = m_fsTools.SyncOpenedFile(m_idxHandle, error);
      if (status != 0) return failed("DBSync " + base + ".idx");
    }
  }
  segment_written = true;
  status = m_fsTools.WriteToOpenedFile(m_id2Handle, segment_bytes, segment_pos, error);
  if (status != 0) return failed("DBWrite " + base + ".id2");
  if (m_settings.syncWrites) {
    status = m_fsTools.SyncOpenedFile(m_id2Handle, error);
    if (status != 0) return failed("DBSync " + base + ".id2");
  }
  m_segmentEndUnwritten = false;
  m_segmentFileAhead = false;
  m_segmentEndWrittenAt = m_clock.Monotonic();
  if (m_storeFailing) {
    m_storeFailing = false;
    m_owner.Debug(kDebugStore, "Saving into " + base + " works again.");
  }

  if (limit != -1) {
    m_runReachedLimit = true;
    CreateNewDatabaseFile(m_fileTime);
    m_owner.Debug(kDebugStore, limit == 1 ? "File time limit exceeded by time."
                                          : "File size limit exceeded by size.");
  }
  return saved;
}

}  // namespace ravelon

// Saving: one run drains the save queue into the current file set. Images
// are thinned out to the save interval; frames without a final stamp are
// spread evenly between the last frame taken and now; stamps are kept
// strictly increasing; the data, index and segment files are written once
// each per run, in that order, so a run cut short leaves at worst index
// records or a segment end that the next start repairs.
#include <cmath>

#include "common/date_time.h"
#include "common/number_encoding.h"
#include "components/object_list.h"
#include "parsing/frequency_calculator.h"
#include "ravelon/data_block.h"
#include "ravelon/korvid.h"
#include "ravelon/media_frame.h"
#include "store/qv_fs_tools.h"

namespace ravelon {
namespace {

constexpr int64_t kMegabyte = 1'048'576;
constexpr int32_t kIndexGrowthStep = 1'048'576;
constexpr int32_t kIndexMaxSize = 104'857'600;
constexpr double kRecentSeconds = 20;  // frames older than this keep their stamps
constexpr double kMinSpacingSeconds = 0.001;
constexpr double kErrorReportGapDays = 0.0003;  // 25.92 s between store error reports
constexpr double kSecondsPerDay = 86'400;

// Adds seconds to a stamp, carrying whole days (counted toward zero) into the date.
void AddSecondsToStamp(double& date, double& time, double seconds) {
  time += seconds;
  const double days = std::trunc(time / kSecondsPerDay);
  time -= kSecondsPerDay * days;
  date += days;
}

}  // namespace

// Frames lost, as reported by ForcedSave: frames dropped from a full save
// queue and frames taken by a save run whose writes failed.
//
// A run ends where a file set reaches its limit, leaving the rest of the
// queue for the new set. ForcedSave goes on with further runs until the
// queue is drained or a run ends for another reason, so a host's save (and
// the flush at release) never leaves frames behind because of a roll-over.
int32_t Korvid::ForcedSave() {
  if (!m_doSave) return -1;
  int32_t saved = 0;
  for (int32_t runs = m_saveQueue->Count() + 1; runs > 0; --runs) {
    m_runReachedLimit = false;
    saved += SaveFrame();
    if (!m_runReachedLimit || m_saveQueue->IsEmpty()) break;
  }
  if (m_framesLost > 0) {
    RaiseDebugEvent(kDebugStore, std::to_string(m_framesLost) + " frames lost.");
    m_framesLost = 0;
  }
  return saved;
}

// A failing disk must not flood the host: one report per 25.92 s at most.
void Korvid::ReportStoreError(const std::string& text) {
  const double now = PresentDateTime();
  if (now - m_lastErrorReport <= kErrorReportGapDays) return;
  m_lastErrorReport = now;
  RaiseDebugEvent(kDebugError, text);
}

int32_t Korvid::SaveFrame() {
  if (m_frameCounter < 0) return 0;  // no frame since the engine was prepared
  // An empty queue with a segment in progress still runs, to move the
  // segment's end to now.
  if (m_saveQueue->IsEmpty() && m_segmentPending) return 0;

  int32_t limit = -1;
  std::string index_bytes, segment_bytes;
  m_saveBuffer->Clear();
  bool recent = true;
  int32_t saved = 0;

  double d = 0, t = 0;
  GetNowDateTime(m_platform->GetClock(), d, t);
  const double elapsed = std::floor(d - m_lastTakenDate) * kSecondsPerDay + t - m_lastTakenTime;
  double spacing = 0;
  if (elapsed <= kRecentSeconds) {
    const int32_t queued = m_saveQueue->Count();
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

  while (!m_saveQueue->IsEmpty()) {
    m_saveQueue->MoveFirst();
    frame = m_saveQueue->Front();
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
      if (credit < m_saveInterval && spacing > kMinSpacingSeconds && m_saveInterval > 10) {
        skip = frame->getDataType() == kJpeg;
        m_saveCredit = std::max(m_saveCredit, -10.0 * m_saveInterval);
      } else {
        m_saveCredit = std::min(std::floor(credit) - m_saveInterval, 10.0 * m_saveInterval);
      }
    }
    if (m_segmentPending) skip = false;  // a segment always begins with a saved frame

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
      // A frame larger than the whole size limit goes alone into a set of
      // its own rather than blocking the queue for ever.
      if (limit == 0 && m_nextFrameIndex == 0) limit = -1;
      if (limit != -1) break;  // the frame stays first in the queue, for the next set

      m_saveBuffer->AppendText(frame->getDataBlock().Text());
      index_bytes +=
          IndexRecord{
              m_nextBinPos,        m_frameLength, time_long, date_long, frame->getMotionPercent(),
              frame->getDataType()}
              .Encode();
      if (m_segmentPending) {
        m_id2Data.StartDate = m_id2Data.EndDate = date_long;
        m_id2Data.StartFrame = m_id2Data.EndFrame = m_nextFrameIndex;
        m_id2Data.StartTime = m_id2Data.EndTime = time_long;
        m_id2Data.FileName = m_dbPath + m_fileName;
        ++m_id2Index;
        m_segmentPending = false;
        segment_bytes = ID2Record{m_saveInterval,   m_nextFrameIndex, time_long, date_long,
                                  m_nextFrameIndex, time_long,        date_long}
                            .Encode();
      }
      ++m_nextFrameIndex;
      m_nextBinPos += m_frameLength;
      ++saved;
    }
    m_lastTakenTime = frame->getTime();
    m_lastTakenDate = frame->getDate();
    SaveRate().Tick();
    m_saveQueue->RemoveFront();
  }

  // The segment ends now, or one millisecond before the frame that reached a limit.
  if (limit == -1) {
    GetNowDateTimeLongs(m_platform->GetClock(), date_long, time_long);
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
  ID2Record end;
  end.endFrame = m_nextFrameIndex - 1;
  end.endTime = time_long;
  end.endDate = date_long;
  m_id2Data.EndDate = date_long;
  m_id2Data.EndTime = time_long;
  m_id2Data.EndFrame = end.endFrame;
  int32_t segment_pos = 0;
  if (segment_bytes.empty()) {
    segment_bytes = end.EncodeEnd();
    segment_pos = m_id2Index * kID2RecordBytes + kID2EndFieldsOffset + 1;
  } else {
    segment_bytes.replace(kID2EndFieldsOffset, segment_bytes.size() - kID2EndFieldsOffset,
                          end.EncodeEnd());
    segment_pos = append_pos;
  }

  const std::string base = m_dbPath + m_fileName;
  std::string error;
  int32_t status = 0;
  OpenStoreFiles(base, error, status);
  const auto failed = [&](const std::string& what) {
    m_framesLost += saved;
    ReportStoreError(what + " Error: Number=" + std::to_string(status) + ", Description=" + error);
    return 0;
  };
  if (status != 0) return failed("SaveFrame: OpendDBFiles failed. " + base);

  if (!index_bytes.empty()) {
    int32_t new_size = -1, scratch = 0;
    status = m_fsTools->WritePreAllocOpenedFile(
        m_binHandle, m_saveBuffer->Text(), data_pos,
        static_cast<int32_t>(m_preAllocationSize * kMegabyte),
        static_cast<int32_t>(m_fileSizeLimit * kMegabyte), error, new_size, m_id2Data.FileSize);
    if (status != 0) return failed("DBWrite " + base + ".bin");
    // Without a growth step the write itself may lengthen the file.
    m_id2Data.FileSize = static_cast<int32_t>(
        std::max<int64_t>(m_id2Data.FileSize, int64_t{data_pos} - 1 + m_saveBuffer->Size()));
    if (new_size >= 0) {
      RaiseDebugEvent(kDebugStore,
                      "Preallocation completed. New file size=" + std::to_string(new_size) +
                          " bytes. - " + m_fileName + ".bin");
    }
    new_size = -1;
    status =
        m_fsTools->WritePreAllocOpenedFile(m_idxHandle, index_bytes, index_pos, kIndexGrowthStep,
                                           kIndexMaxSize, error, new_size, scratch);
    if (status != 0) return failed("DBWrite " + base + ".idx");
    if (new_size >= 0) {
      RaiseDebugEvent(kDebugStore,
                      "Preallocation completed. New file size=" + std::to_string(new_size) +
                          " bytes. - " + m_fileName + ".idx");
    }
  }
  status = m_fsTools->WriteToOpenedFile(m_id2Handle, segment_bytes, segment_pos, error);
  if (status != 0) return failed("DBWrite " + base + ".id2");

  if (limit != -1) {
    m_runReachedLimit = true;
    CreateNewDatabaseFile(m_fileTime);
    RaiseDebugEvent(kDebugStore, limit == 1 ? "File time limit exceeded by time."
                                            : "File size limit exceeded by size.");
  }
  return saved;
}

}  // namespace ravelon

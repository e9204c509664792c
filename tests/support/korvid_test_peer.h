// White-box access to an engine's private state for the engine's unit tests:
// the child components and the members the public interface does not show.
#pragma once

#include <memory>
#include <string>

#include "ravelon/korvid.h"

namespace ravelon {

class KorvidTestPeer {
 public:
  explicit KorvidTestPeer(Korvid& engine) : k_(engine) {}

  Timer& TimeoutTimer() { return *k_.TimeoutTimer; }
  Timer& Viewer() { return *k_.Viewer; }
  TcpSocket& Socket() { return *k_.Winsock1; }

  int16_t ConnectionState() const { return k_.m_connectionState; }
  void SetConnectionState(int16_t state) { k_.m_connectionState = state; }
  const std::string& InputBuffer() const { return k_.m_inputBuffer; }
  int32_t InputLength() const { return k_.m_inputLength; }
  int32_t PollInterval() const { return k_.m_pollInterval; }
  int32_t FrameCounter() const { return k_.m_frameCounter; }
  int32_t ReportedFrame() const { return k_.m_reportedFrame; }
  bool SegmentPending() const { return k_.m_segmentPending; }
  int16_t BinHandle() const { return k_.m_binHandle; }
  int16_t IdxHandle() const { return k_.m_idxHandle; }
  int16_t Id2Handle() const { return k_.m_id2Handle; }
  uint8_t ScheduleAction() const { return k_.m_scheduleAction; }
  void SetScheduleAction(uint8_t action) { k_.m_scheduleAction = action; }
  void SetScheduledDisconnect(bool value) { k_.m_scheduledDisconnect = value; }
  void SetSchedule(const WeeklySchedule& schedule) {
    k_.m_schedule = schedule;
    k_.m_scheduleDay = -1;
  }
  void ClearSegmentPending() { k_.m_segmentPending = false; }
  void ArmTimeoutTimer(int32_t milliseconds) { k_.ArmTimeoutTimer(milliseconds); }
  void ScheduleReconnect(int32_t delay) { k_.ScheduleReconnect(delay); }
  // Credentials come from the source's configuration; tests set them here.
  void SetCredentials(const std::string& user, const std::string& password) {
    k_.m_userName = user;
    k_.m_password = password;
  }
  void SetStoreFile(const std::string& name, double time) {
    k_.m_fileName = name;
    k_.m_fileTime = time;
  }
  const WeeklySchedule& Schedule() const { return k_.m_schedule; }
  double FileTime() const { return k_.m_fileTime; }
  std::string Credentials() const { return k_.m_userName + ":" + k_.m_password; }
  int32_t NextBinPos() const { return k_.m_nextBinPos; }
  int32_t NextFrameIndex() const { return k_.m_nextFrameIndex; }
  int32_t Id2Index() const { return k_.m_id2Index; }
  int32_t FramesLost() const { return k_.m_framesLost; }

  std::shared_ptr<MediaFrame>& CurrentFrame() { return k_.m_currentFrame; }
  void QueueFrameForSaving(const std::shared_ptr<MediaFrame>& frame) {
    k_.QueueFrameForSaving(frame);
  }
  ObjectList<MediaFrame>& SaveQueue() { return *k_.m_saveQueue; }
  bool HandleNewFrame(std::shared_ptr<MediaFrame>& frame) { return k_.HandleNewFrame(frame); }
  void SetFrameCounter(int32_t value) { k_.m_frameCounter = value; }
  void SetIdleParts(int32_t value) { k_.m_bufferIdleParts = value; }
  int32_t IdleParts() const { return k_.m_bufferIdleParts; }
  const std::string& Boundary() const { return k_.m_boundary; }
  uint8_t InDataArrival() const { return k_.m_inDataArrival; }

 private:
  Korvid& k_;
};

}  // namespace ravelon

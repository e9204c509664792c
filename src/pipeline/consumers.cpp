// The host's reads of the current frame and of the save queue's length.
// None of them fails when there is no current frame: they give empty answers.
#include "components/object_list.h"
#include "ravelon/korvid.h"
#include "ravelon/media_frame.h"

namespace ravelon {

int32_t Korvid::GetData(uint8_t& dataType, std::string& Data) const {
  if (!m_currentFrame) {
    dataType = kDataTypeNone;
    Data.clear();
    return 0;
  }
  dataType = m_currentFrame->getDataType();
  Data = m_currentFrame->getDataBlock().Text();
  return m_currentFrame->getFrameId();
}

bool Korvid::GetPartialFrame(uint8_t& dataType, std::string& FrameData, double& frameDate,
                             double& frameTime) const {
  if (!m_currentFrame || m_currentFrame->hasFlag(kComplete)) return false;
  dataType = m_currentFrame->getDataType();
  FrameData = m_currentFrame->getDataBlock().Text();
  frameDate = m_currentFrame->getDate();
  frameTime = m_currentFrame->getTime();
  return true;
}

// Motion is only measured on images; whatever a filter set on another kind of
// frame is not motion.
uint8_t Korvid::GetMotionPerc() const {
  if (!m_currentFrame || m_currentFrame->getDataType() != kJpeg) return 0;
  return m_currentFrame->getMotionPercent();
}

int32_t Korvid::FramesBuffered() const { return m_saveQueue->Count(); }
int32_t Korvid::GetBufferedFrameCount() const { return m_saveQueue->Count(); }

}  // namespace ravelon

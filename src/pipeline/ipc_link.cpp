// Event text from other processes, through the engine's inter-process port:
// each block becomes an event frame that takes the same road as an event part
// of the stream (stamped, merged into the open event list, completed by a
// printer cut, queued).
#include "ravelon/date_time_stamp.h"
#include "ravelon/ipc_port.h"
#include "ravelon/korvid.h"
#include "ravelon/media_frame.h"

namespace ravelon {

// The result is the port's own, passed on to the host unchanged.
int32_t Korvid::ipcConnect(std::shared_ptr<IpcPort>& toPort) { return m_ipcPort->connect(toPort); }

void Korvid::m_ipcPortObserver_onData(MemoryChunk& dataPtr) {
  std::string text;
  if (!dataPtr.ToText(text)) return;  // ignored silently
  auto frame = std::make_shared<MediaFrame>();
  frame->SetData(kEvent, std::move(text));
  frame->getStamp().SetToNow(m_platform->GetClock());
  // An arrival in another period than the current frame completes whatever
  // list it ends up in, so one open receipt cannot swallow the next hour's.
  if (m_currentFrame &&
      m_currentFrame->getStamp().GetPeriodKey() != frame->getStamp().GetPeriodKey()) {
    frame->addFlags(kComplete);
  }
  HandleNewFrame(frame);  // a failure here never reconnects anything
}

}  // namespace ravelon

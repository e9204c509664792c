// Creation and destruction of the engine, and the raising of its events.
#include "ravelon/korvid.h"

#include "components/object_list.h"
#include "parsing/input_buffer.h"
#include "ravelon/data_block.h"
#include "ravelon/date_time_stamp.h"
#include "ravelon/frame_filter_chain.h"
#include "ravelon/ipc_port.h"
#include "ravelon/media_frame.h"
#include "store/qv_fs_tools.h"

namespace ravelon {
namespace {

constexpr int32_t kViewIntervalMs = 500;

}  // namespace

Korvid::Korvid(std::shared_ptr<Platform> platform) : m_platform(std::move(platform)) {
  // The child components exist before the engine's own initialisation runs.
  Winsock1 = m_platform->NewTcpSocket();
  Winsock1->SetObserver(this);
  TimeoutTimer = m_platform->Loop().NewTimer([this] { TimeoutTimer_Timer(); });
  Viewer = m_platform->Loop().NewTimer([this] { Viewer_Timer(); });
  Viewer->SetInterval(kViewIntervalMs);

  m_fsTools = std::make_shared<QvFsTools>(m_platform->Files());
  m_saveQueue = std::make_shared<ObjectList<MediaFrame>>();
  m_saveBuffer = std::make_shared<DataBlock>();
  m_ipcPort = m_platform->NewIpcPort();

  m_ipcPortObserver = std::make_shared<IpcPortObserver>();
  m_ipcPortObserver->SetOnData([this](MemoryChunk& dataPtr) { m_ipcPortObserver_onData(dataPtr); });
  m_lastStamp = std::make_shared<DateTimeStamp>();
  m_ipcPort->addObserver(m_ipcPortObserver);

  m_filterChain = nullptr;
  m_currentFrame = nullptr;
  m_useFastPreallocation = false;
  m_recycleFile.clear();
  ClearSaveQueue();
  m_binHandle = m_idxHandle = m_id2Handle = -1;
  m_openFileName.clear();
  m_isFree = true;
  m_inputBuffer.assign(kInitialInputCapacity, ' ');
  ClearInputBuffer();
  m_inDataArrival = 0;
}

Korvid::~Korvid() {
  Winsock1->Close();
  if (m_filterChain) m_filterChain->release();
  m_filterChain = nullptr;
  m_saveBuffer = nullptr;
  m_saveQueue = nullptr;
  m_fsTools = nullptr;
  m_currentFrame = nullptr;
  m_ipcPort->removeObserver(m_ipcPortObserver);
  m_ipcPort->close();
  m_ipcPortObserver = nullptr;
  m_ipcPort = nullptr;
  m_lastStamp = nullptr;
  CloseStoreFiles();
  // No event of the socket or the timers may reach a half-destroyed engine.
  Winsock1->SetObserver(nullptr);
}

void Korvid::RaiseDebugEvent(uint8_t level, const std::string& text) {
  if (m_events) m_events->DebugEvent(level, text);
}

void Korvid::RaiseDataReady() {
  if (m_events) m_events->DataReady();
}

}  // namespace ravelon

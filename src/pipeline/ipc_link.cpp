#include "pipeline/ipc_link.h"

#include <string>

#include "pipeline/frame_pipeline.h"

namespace ravelon {

IpcLink::IpcLink(std::shared_ptr<IpcPort> port, FramePipeline& pipeline)
    : m_ipcPort(std::move(port)), m_ipcPortObserver(std::make_shared<IpcPortObserver>()) {
  m_ipcPortObserver->SetOnData([&pipeline](MemoryChunk& dataPtr) {
    std::string text;
    if (dataPtr.ToText(text)) pipeline.HandleEventText(std::move(text));
  });
  m_ipcPort->addObserver(m_ipcPortObserver);
}

IpcLink::~IpcLink() {
  m_ipcPort->removeObserver(m_ipcPortObserver);
  m_ipcPort->close();
}

}  // namespace ravelon

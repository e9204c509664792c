// Starting, releasing and configuring the engine as a whole.
#include "connection/timeout_checker.h"
#include "ravelon/korvid.h"
#include "ravelon/media_frame.h"

namespace ravelon {

void Korvid::Connect() { ConnectToSource(); }

void Korvid::InitEngineFromReg(const std::string& SrcName, const std::string& RegistryRoot) {
  m_registryRoot = RegistryRoot;
  m_sourceName = SrcName;
  ReadSourceConfiguration();
}

// Stops the engine and frees it for reuse. The queue is saved first, then
// the timers and the socket stop; events that were already queued get one
// chance to run (and find the engine idle) before it is marked free.
void Korvid::ReleaseNGN() {
  StatsPeriod().StopTimeout();
  FlushToStore();
  RaiseDebugEvent(kDebugLifecycle, "Released.");
  TimeoutTimer->SetEnabled(false);
  Viewer->SetEnabled(false);
  m_connectionState = kIdle;
  Winsock1->Close();
  ClearInputBuffer();
  m_currentFrame = nullptr;
  m_platform->Loop().ProcessPendingEventsOnce();
  m_isFree = true;
  CloseStoreFiles();
}

}  // namespace ravelon

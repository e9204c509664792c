// Korvid: the engine of one live network video source. A host makes one
// engine per source and keeps it for the life of that source.
//
// The engine connects to the source over TCP, reads its stream of images,
// texts and events, numbers and stamps every frame, passes it through the
// host's filter chain, keeps the newest frame for the host and saves queued
// frames to its store. It reports everything through KorvidEvents.
//
// Threading: one engine, one thread. Every member call, socket event, timer
// tick and inter-process arrival runs on the thread that runs the platform's
// loop; there are no locks. The engine lets that loop run at three points
// only (ReleaseNGN, the wait for the socket to close before a connect, and
// the connect event before the request goes out); handlers that run there
// may call back into the engine.
//
// The members of slots 0 to 44 are those of the engine's dispatch interface,
// in its slot order, with its argument names. Every argument is passed by
// reference: inputs by const reference, outputs by reference. What a host
// needs beyond them is kept apart, as extensions.
#pragma once

#include <cstdint>
#include <memory>
#include <string>

#include "ravelon/debug_levels.h"
#include "ravelon/platform.h"
#include "ravelon/request_style.h"

namespace ravelon {

class FrameFilterChain;
class IpcPort;
class MediaFrame;

// The engine's two events. Both are raised synchronously on the engine's
// thread, so the host's handler runs before the engine goes on; a handler may
// call the engine's members.
class KorvidEvents {
 public:
  virtual ~KorvidEvents() = default;
  // A log line: a level (see debug_levels.h) and an English sentence.
  virtual void DebugEvent(uint8_t DebugLevel, const std::string& Text) = 0;
  // New frames arrived since the last announcement; read them with GetData.
  virtual void DataReady() = 0;
};

class Korvid final {
 public:
  // The engine's socket, timers, files and port come from `platform`, which
  // must outlive the engine's use of its loop.
  explicit Korvid(std::shared_ptr<Platform> platform);
  ~Korvid();

  Korvid(const Korvid&) = delete;
  Korvid& operator=(const Korvid&) = delete;

  // --- The dispatch interface, slots 0 to 44 ---
  std::string GetRecycleFile() const;                                                   // 0
  void SetRecycleFile(const std::string& RecycleFile);                                  // 1
  void UseFastPreallocation(const bool& value);                                         // 2
  int32_t GetViewInterval() const;                                                      // 3
  int32_t GetSaveInterval() const;                                                      // 4
  int16_t GetFileSizeLimit() const;                                                     // 5
  int16_t GetPreAllocationSize() const;                                                 // 6
  uint8_t GetFileLimitType() const;                                                     // 7
  int32_t GetPort() const;                                                              // 8
  int16_t GetSrcID() const;                                                             // 9
  std::string DBPath() const;                                                           // 10
  void DBPath(const std::string& value);                                                // 11
  std::string FileName() const;                                                         // 12
  bool DoSave() const;                                                                  // 13
  void DoSave(const bool& value);                                                       // 14
  uint8_t GetMotionPerc() const;                                                        // 15
  std::string GetAddress() const;                                                       // 16
  std::string GetUrl() const;                                                           // 17
  std::string GetStreaming() const;                                                     // 18
  int32_t GetData(uint8_t& dataType, std::string& Data) const;                          // 19
  std::string SourceName() const;                                                       // 20
  void SourceName(const std::string& value);                                            // 21
  void PrepareEngine();                                                                 // 22
  void InitEngineFromReg(const std::string& SrcName, const std::string& RegistryRoot);  // 23
  bool IsFree() const;                                                                  // 24
  void ReleaseNGN();                                                                    // 25
  void Connect();                                                                       // 26
  int32_t FramesBuffered() const;                                                       // 27
  void GetCurrentID2Data(int32_t& StartDate, int32_t& starttime, int32_t& StartFrame,
                         int32_t& EndDate, int32_t& EndTime, int32_t& EndFrame,
                         std::string& FileName, int32_t& FileSize) const;  // 28
  int32_t ForcedSave();                                                    // 29
  int32_t GetBufferedFrameCount() const;                                   // 30
  bool GetPartialFrame(uint8_t& dataType, std::string& FrameData, double& frameDate,
                       double& frameTime) const;                              // 31
  bool correctEventList(std::shared_ptr<MediaFrame>& newFrame);               // 32
  void SetPort(const int32_t& value);                                         // 33
  void SetViewIterval(const int32_t& value);                                  // 34
  void SetSaveIterval(const int32_t& value);                                  // 35
  void SetFileSizeLimit(const int16_t& value);                                // 36
  void SetPreAllocationSize(const int16_t& value);                            // 37
  void SetSrcID(const int16_t& value);                                        // 38
  void SetFileLimitType(const uint8_t& value);                                // 39
  void SetAddress(const std::string& value);                                  // 40
  void SetUrl(const std::string& value);                                      // 41
  void SetStreaming(const bool& value);                                       // 42
  void setFilterChain(const std::shared_ptr<FrameFilterChain>& filterChain);  // 43
  int32_t ipcConnect(std::shared_ptr<IpcPort>& toPort);                       // 44

  // --- Extensions beyond the dispatch interface ---

  // Where the events go; not owned. nullptr (the initial value) drops them.
  void SetEventSink(KorvidEvents* events);

  // The credentials of the source's Basic authorization, for hosts that
  // configure engines without a registry store (InitEngineFromReg reads them
  // from the source's key). Both empty: no authorization line.
  void SetCredentials(const std::string& UserName, const std::string& Password);

  // The request's style ("RequestStyle" in the source's key: 0, 1 or 2);
  // kBare by default.
  void SetRequestStyle(const RequestStyle& value);
  RequestStyle GetRequestStyle() const;

  // When on ("BoundaryDiscovery" = "1"), a response whose content type is
  // missing or names no multipart boundary, or a source that sends no
  // response header at all, is read with the boundary taken from the first
  // body line that begins with "--". Off by default: the response header must
  // then name the boundary.
  void SetBoundaryDiscovery(const bool& value);
  bool GetBoundaryDiscovery() const;

  // When on (the default; "SyncWrites" = "0" turns it off), each save run
  // makes its frames and their index records durable before it writes the
  // segment record that names them, and that record after: a frame counted
  // as saved survives a power loss. Off, a power loss may take the frames
  // of the last seconds (whatever the system had not yet written back), and
  // the set still reads as consistent after a restart.
  void SetSyncWrites(const bool& value);
  bool GetSyncWrites() const;

  // The most megabytes of frames that wait for the next save
  // ("SaveQueueMB", 1 to 1024; 64 by default); frames beyond it are dropped
  // and reported as lost.
  void SetSaveQueueMegabytes(const int32_t& value);

 private:
  struct Parts;  // the engine's parts and their wiring (src/engine/korvid_parts.h)
  std::unique_ptr<Parts> m_parts;
};

}  // namespace ravelon

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
// Members are those of the engine's dispatch interface, in its slot order,
// with its argument names. Every argument is passed by reference: inputs by
// const reference, outputs by reference. Private procedures are defined in
// the source folder of their subsystem (engine, connection, parsing,
// pipeline, store).
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <string_view>

#include "common/schedule.h"
#include "connection/connection_state.h"
#include "ravelon/debug_levels.h"
#include "ravelon/platform.h"
#include "ravelon/tcp_socket.h"
#include "store/id2_data.h"
#include "store/record_formats.h"

namespace ravelon {

class DataBlock;
class DateTimeStamp;
class FrameFilterChain;
class FrequencyCalculator;
class IpcPort;
class IpcPortObserver;
class MediaFrame;
class MemoryChunk;
class ParameterList;
class QvFsTools;
class RegUtils;
class TimeoutChecker;
template <typename T>
class ObjectList;

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

class Korvid final : private TcpSocketObserver {
 public:
  // The engine's socket, timers and port come from `platform`, which must
  // outlive the engine's use of its loop.
  explicit Korvid(std::shared_ptr<Platform> platform);
  ~Korvid() override;

  Korvid(const Korvid&) = delete;
  Korvid& operator=(const Korvid&) = delete;

  // Where the events go; not owned. nullptr (the initial value) drops them.
  void SetEventSink(KorvidEvents* events) { m_events = events; }

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

 private:
  friend class KorvidTestPeer;  // white-box access for the engine's unit tests

  // --- engine/: events and lifecycle ---
  void RaiseDebugEvent(uint8_t level, const std::string& text);
  void RaiseDataReady();
  void ReadSourceConfiguration();
  RegUtils& RegistryUtils();

  // --- connection/: state machine, request, watchdog ---
  void ConnectToSource();
  void ReconnectForNextRequest();
  void ScheduleReconnect(const int32_t& delay);
  void ConnectSocketWhenClosed();
  void FlushToStore();
  void ClearSaveQueue();
  void ResetFilterChain();
  void ResetRates();
  std::string BuildAuthorizationHeader() const;
  void ArmTimeoutTimer(int32_t milliseconds);
  void TimeoutTimer_Timer();
  TimeoutChecker& StatsPeriod();
  // The socket's events.
  void OnConnect() override;
  void OnDataArrival(int32_t bytes_total) override;
  void OnClose() override;
  void OnError(int16_t number, const std::string& description) override;

  // --- parsing/: input buffer, response and parts, schedule tick ---
  enum CompareMode { kBinaryCompare, kTextCompare };
  enum InputOutcome : int16_t {
    kInputOk = 0,
    kInputCleared = 1,
    kInputGrown = 2,
    kInputReduced = 3
  };
  // A stretch of the input buffer known to hold no part end of one kind, so
  // that a search does not examine the same bytes twice.
  struct SearchMemo {
    int32_t from = 0;  // positions of boundary occurrences, [from, to)
    int32_t to = 0;
  };
  int16_t AppendToInputBuffer(const std::string& bytes);
  void ClearInputBuffer();
  int32_t FindInInputBuffer(int32_t start, std::string_view text, CompareMode mode) const;
  void KeepInputBufferTail(int32_t n);
  void DiscardInputBufferHead(int32_t n);
  void ReduceInputBuffer();
  void CompactInputBuffer();
  const char* InputData() const { return m_inputBuffer.data() + m_inputHead; }
  void ProcessResponseHeader();
  void TakeSingleResponse(int32_t contentTypePos, std::string_view lineEnd);
  void ProcessPart();
  bool TakeNextPart();
  int32_t FindPartEnd(int32_t from, int32_t& lineEndLength);
  std::string ParsePartHeaders(std::string_view headerBlock, std::string_view lineEnd);
  bool DispatchPart(const std::string& contentType, int32_t bodyStart, int32_t bodyLength,
                    int32_t consumed);
  std::shared_ptr<MediaFrame> CreateFrame(uint8_t dataType, std::string body);
  void Viewer_Timer();
  FrequencyCalculator& PacketRate();
  FrequencyCalculator& SaveRate();

  // --- pipeline/: new frames, current frame, save queue, inter-process input ---
  bool HandleNewFrame(std::shared_ptr<MediaFrame>& frame);
  static void AdvanceStamp(double& date, double& time, double lastDate, double lastTime);
  bool MergeIntoCurrentFrame(std::shared_ptr<MediaFrame>& frame,
                             const std::shared_ptr<MediaFrame>& current);
  void FinishCurrentFrame();
  void QueueFrameForSaving(const std::shared_ptr<MediaFrame>& frame);
  std::shared_ptr<MediaFrame> ChooseQueuedFrame(const std::shared_ptr<MediaFrame>& taken,
                                                const std::shared_ptr<MediaFrame>& newFrame);
  void m_ipcPortObserver_onData(MemoryChunk& dataPtr);

  // --- store/: saving, opening, file sets ---
  int32_t SaveFrame();
  void ReportStoreError(const std::string& text);
  void CreateNewDatabaseFile(double startTime);
  int32_t CheckFileLimit();
  void OpenStoreFiles(const std::string& baseName, std::string& errorText, int32_t& status);
  void CloseStoreFiles();
  void EnsureDBPath();
  std::string NewFileSetName() const;
  void CheckStoreFiles();
  int32_t FindLastValidIndexRecord(const std::string& indexFileName, IndexRecord& record);
  int64_t StoreFileLength(const std::string& path) const;
  double PresentDateTime() const;

  // --- Platform and host ---
  std::shared_ptr<Platform> m_platform;
  KorvidEvents* m_events = nullptr;

  // --- Child components ---
  std::unique_ptr<TcpSocket> Winsock1;
  std::unique_ptr<Timer> TimeoutTimer;
  std::unique_ptr<Timer> Viewer;

  // --- Source settings ---
  std::string m_address;
  int32_t m_port = 0;
  std::string m_url;
  bool m_streaming = false;
  std::string m_userName;
  std::string m_password;
  std::string m_sourceName;
  std::string m_registryRoot;
  int32_t m_saveInterval = 0;
  int16_t m_srcID = 0;

  // --- Store settings ---
  std::string m_dbPath;
  bool m_doSave = false;
  std::string m_fileName;
  double m_fileTime = 0;
  int16_t m_fileSizeLimit = 0;
  uint8_t m_fileLimitType = 0;
  int16_t m_preAllocationSize = 0;
  std::string m_recycleFile;
  bool m_useFastPreallocation = false;

  // --- Schedule ---
  WeeklySchedule m_schedule;
  uint8_t m_scheduleAction = 0;
  bool m_dayHasDisconnect = false;
  int16_t m_scheduleDay = 0;
  bool m_scheduledDisconnect = false;

  // --- Connection and input buffer ---
  int16_t m_connectionState = kIdle;
  std::string m_inputBuffer;
  int32_t m_inputLength = 0;
  int32_t m_bufferIdleParts = 0;
  int32_t m_boundaryPos = 0;
  int32_t m_partEndSearchPos = 0;
  uint8_t m_inDataArrival = 0;
  // Offset of the first data byte in m_inputBuffer: consumed bytes are
  // dropped by moving this offset, and the rest is moved to the front only
  // when an arrival needs the room, once per arrival rather than per part.
  int32_t m_inputHead = 0;
  SearchMemo m_crlfEndMemo;  // no CR LF + boundary part end here
  SearchMemo m_lfEndMemo;    // no LF + boundary part end here
  std::string m_arrival;     // the socket's bytes, reused between arrivals
  std::string m_boundary;
  std::shared_ptr<ParameterList> m_partHeaders;  // made on first use
  int32_t m_pollInterval = 0;

  // --- Frames ---
  int32_t m_frameCounter = 0;
  int32_t m_reportedFrame = 0;
  std::shared_ptr<MediaFrame> m_currentFrame;
  std::shared_ptr<DateTimeStamp> m_lastStamp;
  std::shared_ptr<FrameFilterChain> m_filterChain;
  std::shared_ptr<ObjectList<MediaFrame>> m_saveQueue;
  int32_t m_framesLost = 0;
  std::shared_ptr<FrequencyCalculator> m_packetRate;  // made on first use
  std::shared_ptr<FrequencyCalculator> m_saveRate;    // made on first use
  std::shared_ptr<TimeoutChecker> m_statsPeriod;      // made on first use

  // --- Inter-process input ---
  std::shared_ptr<IpcPort> m_ipcPort;
  std::shared_ptr<IpcPortObserver> m_ipcPortObserver;

  // --- Frame store ---
  int16_t m_binHandle = -1;
  int16_t m_idxHandle = -1;
  int16_t m_id2Handle = -1;
  std::string m_openFileName;
  std::shared_ptr<QvFsTools> m_fsTools;
  std::shared_ptr<DataBlock> m_saveBuffer;
  bool m_segmentPending = false;
  int32_t m_nextBinPos = 0;
  int32_t m_nextFrameIndex = 0;
  int32_t m_id2Index = 0;
  int32_t m_frameLength = 0;
  double m_lastTakenDate = 0;
  double m_lastTakenTime = 0;
  double m_saveCredit = 0;
  double m_lastErrorReport = 0;
  bool m_runReachedLimit = false;  // the last save run ended at a file-set limit
  ID2Data m_id2Data;

  // --- Configuration ---
  std::shared_ptr<RegUtils> m_regUtils;  // made on first use
  bool m_isFree = true;
};

}  // namespace ravelon

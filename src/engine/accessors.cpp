// The plain members of the dispatch interface: getters, and setters that
// only store (within their bounds) and take effect where the value is read.
#include "ravelon/korvid.h"

namespace ravelon {
namespace {

constexpr int32_t kMinIntervalMs = 10;
constexpr int32_t kMaxIntervalMs = 60'000;
constexpr int16_t kMaxLimitSetting = 999;

bool IsInterval(int32_t value) { return value >= kMinIntervalMs && value <= kMaxIntervalMs; }

}  // namespace

std::string Korvid::GetRecycleFile() const { return m_recycleFile; }
void Korvid::SetRecycleFile(const std::string& RecycleFile) { m_recycleFile = RecycleFile; }
void Korvid::UseFastPreallocation(const bool& value) { m_useFastPreallocation = value; }
int32_t Korvid::GetViewInterval() const { return Viewer->Interval(); }
int32_t Korvid::GetSaveInterval() const { return m_saveInterval; }
int16_t Korvid::GetFileSizeLimit() const { return m_fileSizeLimit; }
int16_t Korvid::GetPreAllocationSize() const { return m_preAllocationSize; }
uint8_t Korvid::GetFileLimitType() const { return m_fileLimitType; }
int32_t Korvid::GetPort() const { return m_port; }
int16_t Korvid::GetSrcID() const { return m_srcID; }
std::string Korvid::DBPath() const { return m_dbPath; }
void Korvid::DBPath(const std::string& value) { m_dbPath = value; }
std::string Korvid::FileName() const { return m_fileName; }
bool Korvid::DoSave() const { return m_doSave; }
void Korvid::DoSave(const bool& value) { m_doSave = value; }
std::string Korvid::GetAddress() const { return m_address; }
std::string Korvid::GetUrl() const { return m_url; }
// The words, not a Boolean: hosts show and store this text as it is.
std::string Korvid::GetStreaming() const { return m_streaming ? "True" : "False"; }
std::string Korvid::SourceName() const { return m_sourceName; }
void Korvid::SourceName(const std::string& value) { m_sourceName = value; }
bool Korvid::IsFree() const { return m_isFree; }

void Korvid::SetPort(const int32_t& value) { m_port = value; }

// The one setter that acts on a child component: Viewer's interval changes at
// once, so GetViewInterval and the tick always agree.
void Korvid::SetViewIterval(const int32_t& value) {
  if (IsInterval(value)) Viewer->SetInterval(value);
}

void Korvid::SetSaveIterval(const int32_t& value) {
  if (IsInterval(value)) m_saveInterval = value;
}

void Korvid::SetFileSizeLimit(const int16_t& value) {
  if (value >= 1 && value <= kMaxLimitSetting) m_fileSizeLimit = value;
}

void Korvid::SetPreAllocationSize(const int16_t& value) {
  if (value >= 0 && value <= kMaxLimitSetting) m_preAllocationSize = value;
}

void Korvid::SetSrcID(const int16_t& value) { m_srcID = value; }

void Korvid::SetFileLimitType(const uint8_t& value) {
  if (value == 0 || value == 1) m_fileLimitType = value;
}

void Korvid::SetAddress(const std::string& value) { m_address = value; }
void Korvid::SetUrl(const std::string& value) { m_url = value; }
void Korvid::SetStreaming(const bool& value) { m_streaming = value; }

}  // namespace ravelon

#include "store/qv_fs_tools.h"

#include <fnmatch.h>

#include <algorithm>
#include <cerrno>
#include <limits>
#include <system_error>

#include "common/number_encoding.h"

namespace ravelon {
namespace {

using OpenMode = FileSystem::OpenMode;

constexpr char kInvalidOffset[] = "Invalid offset.";

static_assert(sizeof(QvFsTools::kLogHeaderText) - 1 + 8 == QvFsTools::kLogDataStart,
              "the header row is six spaces, the text and CR LF");

// The checks every positioned write makes first: an offset below 1 is
// refused (-1), and nothing to write is done (0). True when the write is to
// go ahead.
bool WriteGoesAhead(int32_t offset, size_t size, std::string& error, int32_t& status) {
  if (offset < 1) {
    error = kInvalidOffset;
    status = -1;
    return false;
  }
  error.clear();
  status = 0;
  return size > 0;
}

size_t TotalSize(std::span<const std::string_view> pieces) {
  size_t total = 0;
  for (const std::string_view piece : pieces) total += piece.size();
  return total;
}

// Lengths beyond 32 bits are reported as the largest 32-bit value.
int32_t To32(int64_t value) {
  return static_cast<int32_t>(std::min<int64_t>(value, std::numeric_limits<int32_t>::max()));
}

std::string LowerAscii(char c) {
  return std::string(1, c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c);
}

}  // namespace

QvFsTools::QvFsTools(FileSystem& fileSystem) : m_fileSystem(fileSystem) {}

QvFsTools::~QvFsTools() = default;

bool QvFsTools::FastFilePreallocateXP(const std::string& FileName, int32_t FileSize,
                                      std::string& ErrorText) {
  ErrorText.clear();
  std::string error;
  std::unique_ptr<RandomAccessFile> file;
  if (const int32_t status = m_fileSystem.Open(FileName, OpenMode::kCreateTruncate, file, error);
      status != 0) {
    ErrorText = "CreateFile error: " + std::to_string(status);
    return false;
  }
  if (FileSize < 0) {
    ErrorText = "SetFilePointer error: " + std::to_string(EINVAL);
    return false;
  }
  // Reserving the space sets the length too; where the file system cannot
  // reserve, the length alone is set and the file fills in as it is written.
  const int32_t allocation = file->Allocate(FileSize, error);
  if (allocation == 0) return true;
  if (const int32_t status = file->SetSize(FileSize, error); status != 0) {
    ErrorText = "SetEndOfFile error: " + std::to_string(status);
    return false;
  }
  ErrorText = "SetFileValidData Error=" + std::to_string(allocation);
  return false;
}

std::string QvFsTools::GetFileVolume(const std::string& FileName) const {
  if (FileName.size() >= 2 && FileName[1] == ':') return LowerAscii(FileName[0]);
  if (FileName.empty() || FileName[0] != '/') return "";
  const size_t first = FileName.find_first_not_of('/');
  return first == std::string::npos ? "" : LowerAscii(FileName[first]);
}

int32_t QvFsTools::ReadAll(const std::string& FileName, std::string& Data, std::string& ErrorText) {
  Data.clear();
  ErrorText.clear();
  if (!m_fileSystem.FileExists(FileName)) {
    ErrorText = "File not found.";
    return -1;
  }
  std::unique_ptr<RandomAccessFile> file;
  int64_t length = 0;
  int32_t status = m_fileSystem.Open(FileName, OpenMode::kOpenOrCreate, file, ErrorText);
  if (status == 0) status = file->Size(length, ErrorText);
  if (status == 0) status = file->ReadAt(0, static_cast<size_t>(length), Data, ErrorText);
  return status;
}

int32_t QvFsTools::ReadFile(const std::string& FileName, std::vector<uint8_t>& Data,
                            std::string& ErrorText) {
  Data.assign(1, 0);
  std::string bytes;
  const int32_t status = ReadAll(FileName, bytes, ErrorText);
  if (status != 0) return status;
  // An array of bytes 0 to length - 1 cannot describe an empty file.
  if (bytes.empty()) {
    ErrorText = "File is empty.";
    return -1;
  }
  Data.assign(bytes.begin(), bytes.end());
  return 0;
}

int32_t QvFsTools::ReadFileStr(const std::string& FileName, std::string& Data,
                               std::string& ErrorText) {
  return ReadAll(FileName, Data, ErrorText);
}

int32_t QvFsTools::ReadBlock(const std::string& FileName, int32_t offset, int32_t ReadLength,
                             std::string& ReadData, std::string& ErrorDescription) {
  ReadData.clear();
  ErrorDescription.clear();
  if (!m_fileSystem.FileExists(FileName)) {
    ErrorDescription = "File not found";
    return -1;
  }
  if (ReadLength == 0) return 0;
  std::unique_ptr<RandomAccessFile> file;
  int64_t length = 0;
  int32_t status = m_fileSystem.Open(FileName, OpenMode::kOpenOrCreate, file, ErrorDescription);
  if (status == 0) status = file->Size(length, ErrorDescription);
  if (status != 0) return status;
  const int64_t from = std::max<int64_t>(offset, 1);
  if (from > length) return 0;
  const int64_t rest = length - from + 1;
  const int64_t count = ReadLength < 0 ? rest : std::min<int64_t>(ReadLength, rest);
  return file->ReadAt(from - 1, static_cast<size_t>(count), ReadData, ErrorDescription);
}

int32_t QvFsTools::ReadFileBlock(const std::string& FileName, int32_t offset, int32_t ReadLength,
                                 std::string& ReadData, std::string& ErrorDescription) {
  return ReadBlock(FileName, offset, ReadLength, ReadData, ErrorDescription);
}

int32_t QvFsTools::ReadFileBlockBytes(const std::string& FileName, int32_t offset,
                                      int32_t ReadLength, std::vector<uint8_t>& ReadData,
                                      std::string& ErrorDescription) {
  ReadData.assign(1, 0);
  std::string bytes;
  const int32_t status = ReadBlock(FileName, offset, ReadLength, bytes, ErrorDescription);
  if (!bytes.empty()) ReadData.assign(bytes.begin(), bytes.end());
  return status;
}

int32_t QvFsTools::RenameFile(const std::string& FileFrom, const std::string& FileTo) {
  std::string error;
  // A failed removal is not reported: the move then fails.
  if (m_fileSystem.FileExists(FileTo)) m_fileSystem.Remove(FileTo, error);
  return m_fileSystem.Rename(FileFrom, FileTo, error) == 0 ? 1 : 0;
}

int32_t QvFsTools::Search(const std::string& mask, bool foldersOnly,
                          std::vector<std::string>& result) {
  result.assign(1, "");
  const size_t slash = mask.rfind('/');
  const std::string folder =
      slash == std::string::npos ? "." : (slash == 0 ? "/" : mask.substr(0, slash));
  const std::string pattern = slash == std::string::npos ? mask : mask.substr(slash + 1);
  std::vector<DirectoryEntry> entries;
  std::string error;
  if (m_fileSystem.List(folder, entries, error) != 0) return 0;
  for (const DirectoryEntry& entry : entries) {
    if (foldersOnly && !entry.is_directory) continue;
    if (fnmatch(pattern.c_str(), entry.name.c_str(), 0) == 0) result.push_back(entry.name);
  }
  return static_cast<int32_t>(result.size() - 1);
}

int32_t QvFsTools::FileSearch(const std::string& mask, std::vector<std::string>& ResultFiles) {
  return Search(mask, false, ResultFiles);
}

int32_t QvFsTools::DirectorySearch(const std::string& mask, std::vector<std::string>& ResultDirs) {
  return Search(mask, true, ResultDirs);
}

int32_t QvFsTools::WriteToFile(const std::string& FileName, const std::string& Data, int32_t offset,
                               std::string& ErrorText) {
  if (int32_t status = 0; !WriteGoesAhead(offset, Data.size(), ErrorText, status)) return status;
  std::unique_ptr<RandomAccessFile> file;
  const int32_t status = m_fileSystem.Open(FileName, OpenMode::kOpenOrCreate, file, ErrorText);
  return status != 0 ? status : file->WriteAt(int64_t{offset} - 1, Data, ErrorText);
}

void QvFsTools::CloseFile(int16_t FileNumber) {
  if (FileNumber > 0 && FileNumber <= kMaxFileNumber) m_openFiles[FileNumber].reset();
}

std::string QvFsTools::ExtractFileName(const std::string& FileNameWithPath,
                                       bool RemoveExtension) const {
  const size_t slash = FileNameWithPath.rfind('/');
  std::string name =
      slash == std::string::npos ? FileNameWithPath : FileNameWithPath.substr(slash + 1);
  if (RemoveExtension) name = name.substr(0, name.rfind('.'));
  return name;
}

std::string QvFsTools::ExtractFileExtension(const std::string& FileNameWithPath) const {
  const size_t dot = FileNameWithPath.rfind('.');
  return dot == std::string::npos ? "" : FileNameWithPath.substr(dot + 1);
}

std::string QvFsTools::ExtractFilePath(const std::string& FileNameWithPath) const {
  const size_t slash = FileNameWithPath.rfind('/');
  return slash == std::string::npos ? "" : FileNameWithPath.substr(0, slash + 1);
}

int16_t QvFsTools::OpenFile(const std::string& FileName, [[maybe_unused]] int32_t AccessType,
                            int32_t& ErrorCode, std::string& ErrorDescription) {
  ErrorCode = 0;
  ErrorDescription.clear();
  int16_t number = 1;
  while (number <= kMaxFileNumber && m_openFiles[number]) ++number;
  if (number > kMaxFileNumber) {
    ErrorCode = EMFILE;
    ErrorDescription =
        FileName + ": all " + std::to_string(kMaxFileNumber) + " file numbers in use";
    return 0;
  }
  m_knownLengths[number] = -1;
  ErrorCode =
      m_fileSystem.Open(FileName, OpenMode::kOpenOrCreate, m_openFiles[number], ErrorDescription);
  if (ErrorCode != 0) {
    m_openFiles[number].reset();
    return 0;
  }
  return number;
}

RandomAccessFile* QvFsTools::OpenedFile(int16_t FileNumber, int32_t& status,
                                        std::string& ErrorText) {
  if (FileNumber > 0 && FileNumber <= kMaxFileNumber && m_openFiles[FileNumber]) {
    return m_openFiles[FileNumber].get();
  }
  status = EBADF;
  ErrorText = "Bad file number " + std::to_string(FileNumber);
  return nullptr;
}

int32_t QvFsTools::WriteToOpenedFile(int16_t FileNumber, const std::string& Data, int32_t offset,
                                     std::string& ErrorText) {
  if (int32_t status = 0; !WriteGoesAhead(offset, Data.size(), ErrorText, status)) return status;
  int32_t status = 0;
  RandomAccessFile* file = OpenedFile(FileNumber, status, ErrorText);
  if (file == nullptr) return status;
  status = file->WriteAt(int64_t{offset} - 1, Data, ErrorText);
  int64_t& length = m_knownLengths[FileNumber];
  if (status != 0) length = -1;
  if (status == 0 && length >= 0)
    length = std::max<int64_t>(length, int64_t{offset} - 1 + Data.size());
  return status;
}

int32_t QvFsTools::SetSizeOpenedFile(int16_t FileNumber, int64_t Length, std::string& ErrorText) {
  int32_t status = 0;
  RandomAccessFile* file = OpenedFile(FileNumber, status, ErrorText);
  if (file == nullptr) return status;
  status = file->SetSize(Length, ErrorText);
  m_knownLengths[FileNumber] = status == 0 ? Length : -1;
  return status;
}

int32_t QvFsTools::SyncOpenedFile(int16_t FileNumber, std::string& ErrorText) {
  int32_t status = 0;
  RandomAccessFile* file = OpenedFile(FileNumber, status, ErrorText);
  return file == nullptr ? status : file->Sync(ErrorText);
}

void QvFsTools::StartSyncOpenedFile(int16_t FileNumber) {
  int32_t status = 0;
  std::string error;
  if (RandomAccessFile* file = OpenedFile(FileNumber, status, error)) file->StartSync();
}

void QvFsTools::SetWriteThroughOpenedFile(int16_t FileNumber, bool on) {
  int32_t status = 0;
  std::string error;
  if (RandomAccessFile* file = OpenedFile(FileNumber, status, error)) file->SetWriteThrough(on);
}

bool QvFsTools::OpenedFileIsNamed(int16_t FileNumber) {
  int32_t status = 0;
  std::string error;
  bool linked = false;
  RandomAccessFile* file = OpenedFile(FileNumber, status, error);
  return file != nullptr && file->IsLinked(linked, error) == 0 && linked;
}

int32_t QvFsTools::AppendFilePreAlloc(const std::string& FileName, const std::string& Data,
                                      int32_t PreAlloc, int32_t MaxSize, std::string& ErrorText,
                                      int32_t& TotalDataSize) {
  TotalDataSize = -1;
  ErrorText.clear();
  if (Data.empty()) return 0;
  std::unique_ptr<RandomAccessFile> file;
  int64_t length = 0;
  int32_t status = m_fileSystem.Open(FileName, OpenMode::kOpenOrCreate, file, ErrorText);
  if (status == 0) status = file->Size(length, ErrorText);
  if (status != 0) return status;

  int64_t position = 0;  // 1-based position of the next record
  if (length < 4) {
    // The position field overwrites the first four of the six spaces below.
    const std::string header = std::string(6, ' ') + kLogHeaderText + "\r\n";
    if ((status = file->WriteAt(0, header, ErrorText)) != 0) return status;
    // Growth counts from the end of the header row, so that its space byte
    // never lands inside the header.
    length = kLogDataStart;
    position = kLogDataStart + 1;
  } else {
    std::string field;
    if ((status = file->ReadAt(0, 4, field, ErrorText)) != 0) return status;
    position = BytesToLong(field);
    if (position > length + 1 || position < 5) position = length + 1;
  }

  const int64_t size = static_cast<int64_t>(Data.size());
  if (position + size > length + 1 && PreAlloc >= 1) {
    const int64_t target = length + PreAlloc < MaxSize ? length + PreAlloc : MaxSize;
    if (target > length && (status = file->WriteAt(target - 1, " ", ErrorText)) != 0) {
      return status;
    }
  }
  if ((status = file->WriteAt(position - 1, Data, ErrorText)) != 0) return status;
  position += size;
  const std::string field = LongToBytes(static_cast<int32_t>(position));
  if ((status = file->WriteAt(0, field, ErrorText)) != 0) return status;
  TotalDataSize = static_cast<int32_t>(position - 5);
  return 0;
}

int32_t QvFsTools::WriteWithGrowth(RandomAccessFile& file, std::span<const std::string_view> Pieces,
                                   int32_t offset, int32_t PreAlloc, int32_t MaxSize,
                                   std::string& ErrorText, int32_t& NewFileSize,
                                   int32_t& CurrentFileSize, int64_t& knownLength) {
  int64_t length = knownLength;
  knownLength = -1;  // until this write is known to have worked
  if (length < 0) {
    if (const int32_t status = file.Size(length, ErrorText); status != 0) return status;
  }
  CurrentFileSize = To32(length);
  const int64_t size = static_cast<int64_t>(TotalSize(Pieces));
  if (offset + size > length + 1 && PreAlloc > 0) {
    // MaxSize caps a step only while the file is still below it.
    int64_t target = length + PreAlloc;
    if (MaxSize > length + 1 && target > MaxSize) target = MaxSize;
    if (const int32_t status = file.WriteAt(target - 1, " ", ErrorText); status != 0) {
      return status;
    }
    length = std::max(length, target);
    NewFileSize = CurrentFileSize = To32(target);
  }
  const int32_t status = file.WriteVectorAt(int64_t{offset} - 1, Pieces, ErrorText);
  if (status == 0) knownLength = std::max(length, int64_t{offset} - 1 + size);
  return status;
}

int32_t QvFsTools::WritePreAlloc(const std::string& FileName, const std::string& Data,
                                 int32_t offset, int32_t PreAlloc, int32_t MaxSize,
                                 std::string& ErrorText, int32_t& NewFileSize) {
  NewFileSize = -1;
  if (int32_t status = 0; !WriteGoesAhead(offset, Data.size(), ErrorText, status)) return status;
  std::unique_ptr<RandomAccessFile> file;
  const int32_t status = m_fileSystem.Open(FileName, OpenMode::kOpenOrCreate, file, ErrorText);
  if (status != 0) return status;
  int32_t current_size = 0;
  int64_t unknown_length = -1;
  const std::string_view piece = Data;
  return WriteWithGrowth(*file, std::span(&piece, 1), offset, PreAlloc, MaxSize, ErrorText,
                         NewFileSize, current_size, unknown_length);
}

int32_t QvFsTools::WritePreAllocOpenedFile(int16_t FileNumber, const std::string& Data,
                                           int32_t offset, int32_t PreAlloc, int32_t MaxSize,
                                           std::string& ErrorText, int32_t& NewFileSize,
                                           int32_t& CurrentFileSize) {
  const std::string_view piece = Data;
  return WritePreAllocOpenedFile(FileNumber, std::span(&piece, 1), offset, PreAlloc, MaxSize,
                                 ErrorText, NewFileSize, CurrentFileSize);
}

int32_t QvFsTools::WritePreAllocOpenedFile(int16_t FileNumber,
                                           std::span<const std::string_view> Pieces, int32_t offset,
                                           int32_t PreAlloc, int32_t MaxSize,
                                           std::string& ErrorText, int32_t& NewFileSize,
                                           int32_t& CurrentFileSize) {
  NewFileSize = -1;
  if (int32_t status = 0; !WriteGoesAhead(offset, TotalSize(Pieces), ErrorText, status)) {
    return status;
  }
  int32_t status = 0;
  RandomAccessFile* file = OpenedFile(FileNumber, status, ErrorText);
  if (file == nullptr) return status;
  return WriteWithGrowth(*file, Pieces, offset, PreAlloc, MaxSize, ErrorText, NewFileSize,
                         CurrentFileSize, m_knownLengths[FileNumber]);
}

bool QvFsTools::createPath(const std::string& strDirName) {
  std::string error;
  size_t slash = strDirName.find('/');
  while (true) {
    const std::string prefix =
        slash == std::string::npos ? strDirName : strDirName.substr(0, slash);
    if (!prefix.empty() && !m_fileSystem.FileExists(prefix) &&
        !m_fileSystem.DirectoryExists(prefix) && m_fileSystem.CreateDirectory(prefix, error) != 0) {
      return false;
    }
    if (slash == std::string::npos) return true;
    slash = strDirName.find('/', slash + 1);
  }
}

}  // namespace ravelon

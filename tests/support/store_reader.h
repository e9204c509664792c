// An independent reader of the frame store for tests: walks a file set's
// segments (.id2), their index records (.idx) and the frames' bytes (.bin)
// with nothing but the file formats, as any outside tool could.
#pragma once

#include <cstdint>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "ravelon/file_system.h"

namespace ravelon::testing {

struct StoredFrame {
  std::string data;
  int32_t date = 0;  // YYYYMMDD
  int32_t time = 0;  // HHMMSSmmm
  uint8_t type = 0;
  uint8_t motion = 0;
};

inline std::string ReadWhole(FileSystem& files, const std::string& path) {
  std::unique_ptr<RandomAccessFile> file;
  std::string error, data;
  int64_t size = 0;
  if (!files.FileExists(path) ||
      files.Open(path, FileSystem::OpenMode::kOpenOrCreate, file, error) != 0 ||
      file->Size(size, error) != 0 ||
      file->ReadAt(0, static_cast<size_t>(size), data, error) != 0) {
    return "";
  }
  return data;
}

inline int32_t LittleEndianAt(const std::string& bytes, size_t offset) {
  uint32_t v = 0;
  for (int i = 3; i >= 0; --i) v = v << 8 | static_cast<unsigned char>(bytes[offset + i]);
  return static_cast<int32_t>(v);
}

// Every frame of every segment of the set `base`, in order. Sets `ok` false
// when a record points outside its file.
inline std::vector<StoredFrame> ReadFileSet(FileSystem& files, const std::string& base,
                                            bool* ok = nullptr) {
  const std::string id2 = ReadWhole(files, base + ".id2");
  const std::string idx = ReadWhole(files, base + ".idx");
  const std::string bin = ReadWhole(files, base + ".bin");
  std::vector<StoredFrame> frames;
  if (ok) *ok = id2.size() % 28 == 0;
  for (size_t s = 0; s + 28 <= id2.size(); s += 28) {
    const int32_t start = LittleEndianAt(id2, s + 4), end = LittleEndianAt(id2, s + 16);
    for (int64_t n = start; n <= end; ++n) {
      const size_t at = static_cast<size_t>(n) * 18;
      if (n < 0 || at + 18 > idx.size()) {
        if (ok) *ok = false;
        break;
      }
      const int64_t position = LittleEndianAt(idx, at), length = LittleEndianAt(idx, at + 4);
      if (position < 1 || length < 0 || position - 1 + length > static_cast<int64_t>(bin.size())) {
        if (ok) *ok = false;
        continue;
      }
      frames.push_back({bin.substr(position - 1, length), LittleEndianAt(idx, at + 12),
                        LittleEndianAt(idx, at + 8), static_cast<uint8_t>(idx[at + 17]),
                        static_cast<uint8_t>(idx[at + 16])});
    }
  }
  return frames;
}

}  // namespace ravelon::testing

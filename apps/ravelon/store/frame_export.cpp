#include "store/frame_export.h"

#include <cstdio>
#include <memory>

#include "cli/command.h"
#include "ravelon/media_frame.h"

namespace ravelon::cli {
namespace {

// How each exported data type is written; nullptr for the types that are not.
struct ExportKind {
  const char* extension;
  const char* content_type;  // as the engine reads it from a stream
  const char* name;          // in the index
};

const ExportKind* ExportKindOf(uint8_t data_type) {
  static constexpr ExportKind kPicture{".jpg", "image/jpeg", "jpeg"};
  static constexpr ExportKind kPlainText{".txt", "text/plain", "text"};
  static constexpr ExportKind kEventText{".txt", "text/x-vesper-event", "event"};
  static constexpr ExportKind kEventListBytes{".evl", "text/x-vesper-event-list", "event-list"};
  switch (data_type) {
    case kJpeg:
      return &kPicture;
    case kText:
      return &kPlainText;
    case kEvent:
      return &kEventText;
    case kEventList:
      return &kEventListBytes;
    default:
      return nullptr;
  }
}

std::unique_ptr<RandomAccessFile> CreateFile(FileSystem& files, const std::string& path) {
  std::unique_ptr<RandomAccessFile> file;
  std::string error;
  if (files.Open(path, FileSystem::OpenMode::kCreateTruncate, file, error) != 0) {
    throw CommandError("cannot create " + path + ": " + error);
  }
  return file;
}

void WriteAt(RandomAccessFile& file, int64_t offset, std::string_view bytes,
             const std::string& path) {
  std::string error;
  if (file.WriteAt(offset, bytes, error) != 0) {
    throw CommandError("cannot write " + path + ": " + error);
  }
}

// Makes `folder` when missing; refuses one that holds entries already.
void PrepareOutputFolder(FileSystem& files, const std::string& folder) {
  std::string error;
  if (files.DirectoryExists(folder)) {
    std::vector<DirectoryEntry> entries;
    if (files.List(folder, entries, error) != 0) {
      throw CommandError("cannot list " + folder + ": " + error);
    }
    for (const DirectoryEntry& entry : entries) {
      if (entry.name != "." && entry.name != "..") {
        throw CommandError(folder + " is not empty: export into a new or empty folder");
      }
    }
    return;
  }
  if (files.FileExists(folder)) throw CommandError(folder + " is a file, not a folder");
  if (files.CreateDirectory(folder, error) != 0) {
    throw CommandError("cannot create the folder " + folder + ": " + error);
  }
}

void CountWritten(uint8_t data_type, ExportCounts& counts) {
  ++(data_type == kJpeg ? counts.pictures : counts.texts);
}

}  // namespace

ExportCounts ExportFiles(FileSystem& files, const StoreFolder& store,
                         const std::vector<FileSetInfo>& sets, const StampRange& range,
                         const FileSink& write_file, const ByteSink& write_index) {
  write_index("stamp\tfile\ttype\tmotion\tset\tframe\n");
  ExportCounts counts;
  counts.walk =
      ForEachFrameInRange(files, store, sets, range, [&](int32_t set, const StoredFrame& frame) {
        const ExportKind* kind = ExportKindOf(frame.data_type);
        if (kind == nullptr) {
          ++counts.left_out;
          return true;
        }
        char name[32];
        std::snprintf(name, sizeof name, "%06lld%s",
                      static_cast<long long>(counts.Exported() + 1),  // NOLINT(runtime/int)
                      kind->extension);
        write_file(name, frame.data);
        write_index(FormatStamp(frame.date, frame.time) + "\t" + name + "\t" + kind->name + "\t" +
                    std::to_string(frame.motion) + "\t" + sets[set].name + "\t" +
                    std::to_string(frame.index) + "\n");
        CountWritten(frame.data_type, counts);
        return true;
      });
  return counts;
}

ExportCounts ExportToFolder(FileSystem& files, const StoreFolder& store,
                            const std::vector<FileSetInfo>& sets, const StampRange& range,
                            FileSystem& out_files, const std::string& out_dir) {
  if (out_dir.empty()) throw CommandError("give the folder to export into");
  PrepareOutputFolder(out_files, out_dir);
  const std::string folder = out_dir.back() == '/' ? out_dir : out_dir + "/";
  const std::string index_path = folder + std::string(kExportIndexFile);
  const std::unique_ptr<RandomAccessFile> index = CreateFile(out_files, index_path);
  int64_t index_bytes = 0;
  return ExportFiles(
      files, store, sets, range,
      [&](const std::string& name, std::string_view bytes) {
        const std::string path = folder + name;
        WriteAt(*CreateFile(out_files, path), 0, bytes, path);
      },
      [&](std::string_view line) {
        WriteAt(*index, index_bytes, line, index_path);
        index_bytes += std::ssize(line);
      });
}

std::string MultipartPartHead(std::string_view content_type, size_t length,
                              const std::string& stamp) {
  std::string head = "--" + std::string(kExportBoundary) +
                     "\r\nContent-Type: " + std::string(content_type) +
                     "\r\nContent-Length: " + std::to_string(length) + "\r\n";
  if (!stamp.empty()) head += "X-Stamp: " + stamp + "\r\n";
  return head + "\r\n";
}

std::string MultipartEnd() { return "--" + std::string(kExportBoundary) + "--\r\n"; }

ExportCounts ExportMultipart(FileSystem& files, const StoreFolder& store,
                             const std::vector<FileSetInfo>& sets, const StampRange& range,
                             bool with_texts, const ByteSink& out) {
  ExportCounts counts;
  counts.walk =
      ForEachFrameInRange(files, store, sets, range, [&](int32_t, const StoredFrame& frame) {
        const ExportKind* kind = ExportKindOf(frame.data_type);
        if (kind == nullptr || (frame.data_type != kJpeg && !with_texts)) {
          ++counts.left_out;
          return true;
        }
        out(MultipartPartHead(kind->content_type, frame.data.size(),
                              FormatStamp(frame.date, frame.time)));
        out(frame.data);
        out("\r\n");
        CountWritten(frame.data_type, counts);
        return true;
      });
  out(MultipartEnd());
  return counts;
}

}  // namespace ravelon::cli

// `store export`: the frames of a range written out as numbered files with an
// index, or as one multipart stream (the multipart/x-mixed-replace form that
// cameras send and players read). Reads through the public StoreReader;
// writes the folder through a FileSystem and the stream through a sink. The
// caller's thread.
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <string_view>
#include <vector>

#include "ravelon/file_system.h"
#include "ravelon/store_reader.h"
#include "store/frame_range.h"
#include "store/stamp_text.h"
#include "store/store_folder.h"

namespace ravelon::cli {

// The boundary between the parts of an exported stream.
inline constexpr std::string_view kExportBoundary = "ravelonframe";
// The index of an exported folder: a header line, then one line per file,
// tab-separated: stamp, file, type, motion, set, frame.
inline constexpr std::string_view kExportIndexFile = "index.tsv";

struct ExportCounts {
  int64_t pictures = 0;  // JPEG frames written
  int64_t texts = 0;     // text, event and event-list frames written
  // Frames of the range not written: other data types, or texts left out
  // of a stream.
  int64_t left_out = 0;
  RangeWalkCounts walk;

  int64_t Exported() const { return pictures + texts; }
};

// Receives the stream's bytes in order; throws CommandError when it cannot
// take them.
using ByteSink = std::function<void(std::string_view bytes)>;
// Receives one exported file: its name (no folder) and its bytes.
using FileSink = std::function<void(const std::string& name, std::string_view bytes)>;

// The frames of `range` as files: each JPEG frame as NNNNNN.jpg, each text
// or event text as NNNNNN.txt and each event list (the engine's binary form)
// as NNNNNN.evl, numbered from 000001 in stored order, handed to
// `write_file`; and the lines of their index (kExportIndexFile: a header
// line, then one tab-separated line per file) handed to `write_index` as
// they come.
ExportCounts ExportFiles(FileSystem& files, const StoreFolder& store,
                         const std::vector<FileSetInfo>& sets, const StampRange& range,
                         const FileSink& write_file, const ByteSink& write_index);

// Writes each JPEG frame of `range` to out_dir as NNNNNN.jpg, each text or
// event text as NNNNNN.txt and each event list (the engine's binary form) as
// NNNNNN.evl, numbered from 000001 in stored order, plus kExportIndexFile.
// out_dir is made when missing. Throws CommandError when out_dir holds files
// already (an export never mixes with an earlier one) or a write fails.
ExportCounts ExportToFolder(FileSystem& files, const StoreFolder& store,
                            const std::vector<FileSetInfo>& sets, const StampRange& range,
                            FileSystem& out_files, const std::string& out_dir);

// The head of one part of an exported stream: the boundary line,
// Content-Type, Content-Length and, unless `stamp` is empty, X-Stamp.
std::string MultipartPartHead(std::string_view content_type, size_t length,
                              const std::string& stamp);
// The line that ends an exported stream.
std::string MultipartEnd();

// Writes the JPEG frames of `range` (and with `with_texts` the texts and
// events, with the content types the engine reads) as parts
//   --ravelonframe\r\nContent-Type: image/jpeg\r\nContent-Length: N\r\n
//   X-Stamp: 2026-12-06 22:50:01.250\r\n\r\n<bytes>\r\n
// and a closing "--ravelonframe--\r\n".
ExportCounts ExportMultipart(FileSystem& files, const StoreFolder& store,
                             const std::vector<FileSetInfo>& sets, const StampRange& range,
                             bool with_texts, const ByteSink& out);

}  // namespace ravelon::cli

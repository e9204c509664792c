#include "camera/chunk_writer.h"

#include <algorithm>
#include <cstdio>

namespace ravelon::cli {
namespace {

// One chunk in five carries an extension, the three forms in turn.
const char* Extension(uint64_t chunk) {
  static const char* const kForms[] = {";ravelon=1", ";ravelon=\"a; b\"", ";ravelon"};
  return chunk % 5 == 4 ? kForms[chunk / 5 % 3] : "";
}

}  // namespace

void ChunkWriter::Append(std::string& out, std::string_view body) {
  while (!body.empty()) {
    const uint64_t wanted = m_size > 0 ? static_cast<uint64_t>(m_size)
                                       : m_chunks % static_cast<uint64_t>(kMaxCycledChunk) + 1;
    const size_t size = static_cast<size_t>(std::min<uint64_t>(wanted, body.size()));
    char line[48];
    // Hex digits may be of either case; every third size is in upper case.
    std::snprintf(line, sizeof line, m_chunks % 3 == 2 ? "%zX%s\r\n" : "%zx%s\r\n", size,
                  Extension(m_chunks));
    out.append(line);
    out.append(body.substr(0, size));
    out.append("\r\n");
    body.remove_prefix(size);
    ++m_chunks;
  }
}

void ChunkWriter::AppendLast(std::string& out) { out.append("0\r\nX-Ravelon-End: 1\r\n\r\n"); }

}  // namespace ravelon::cli

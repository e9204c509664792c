#include "web/tar_stream.h"

#include <cstdio>
#include <cstring>
#include <ctime>

#include "cli/command.h"

namespace ravelon::cli {
namespace {

constexpr size_t kBlock = 512;

// A ustar number field: octal digits, zero-padded, ending in NUL.
void Octal(char* field, size_t width, int64_t value) {
  std::snprintf(field, width, "%0*llo", static_cast<int>(width - 1),
                static_cast<unsigned long long>(value));  // NOLINT(runtime/int)
}

}  // namespace

void TarStream::Header(const std::string& name, int64_t size) {
  if (name.empty() || name.size() > kMaxNameBytes)
    throw CommandError("cannot archive the name \"" + name + "\"");
  char block[kBlock] = {};
  std::memcpy(block, name.data(), name.size());
  Octal(block + 100, 8, 0644);                                       // mode
  Octal(block + 108, 8, 0);                                          // uid
  Octal(block + 116, 8, 0);                                          // gid
  Octal(block + 124, 12, size);                                      // size
  Octal(block + 136, 12, static_cast<int64_t>(std::time(nullptr)));  // mtime
  block[156] = '0';                                                  // a regular file
  std::memcpy(block + 257, "ustar", 6);
  std::memcpy(block + 263, "00", 2);
  // The checksum is the sum of the header's bytes with its own field read
  // as blanks.
  std::memset(block + 148, ' ', 8);
  unsigned sum = 0;
  for (const char c : block) sum += static_cast<unsigned char>(c);
  std::snprintf(block + 148, 8, "%06o", sum);
  out_(std::string_view(block, kBlock));
}

void TarStream::Pad(int64_t size) {
  static const char kZeros[kBlock] = {};
  const size_t rest = static_cast<size_t>(size % kBlock);
  if (rest != 0) out_(std::string_view(kZeros, kBlock - rest));
}

void TarStream::Add(const std::string& name, std::string_view bytes) {
  Header(name, static_cast<int64_t>(bytes.size()));
  out_(bytes);
  Pad(static_cast<int64_t>(bytes.size()));
}

void TarStream::Add(const std::string& name, int64_t size,
                    const std::function<void(const ByteSink&)>& write) {
  Header(name, size);
  int64_t written = 0;
  write([&](std::string_view bytes) {
    written += static_cast<int64_t>(bytes.size());
    out_(bytes);
  });
  if (written != size) throw CommandError("archived " + name + " changed its size");
  Pad(size);
}

void TarStream::Finish() {
  static const char kZeros[2 * kBlock] = {};
  out_(std::string_view(kZeros, sizeof kZeros));
}

}  // namespace ravelon::cli

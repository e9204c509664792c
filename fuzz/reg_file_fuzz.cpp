// Reading any bytes as a .reg file never fails hard, and a file read without
// errors, written back out, reads back to the same operations.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string_view>

#include "config/reg_file.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  using namespace ravelon::cli;
  const RegParseResult parsed =
      ParseRegFile(std::string_view(reinterpret_cast<const char*>(data), size));
  if (parsed.errors.size() > kMaxReportedRegErrors) std::abort();
  if (!parsed.errors.empty()) return 0;
  for (const RegOperation& op : parsed.operations) {
    if (!IsWritableRegName(op.key) || !IsWritableRegName(op.name)) return 0;
  }
  const RegParseResult again = ParseRegFile(FormatRegFile(parsed.operations));
  if (!again.errors.empty() || again.operations.size() != parsed.operations.size()) std::abort();
  for (size_t i = 0; i < again.operations.size(); ++i) {
    if (!again.operations[i].SameAs(parsed.operations[i])) std::abort();
  }
  return 0;
}

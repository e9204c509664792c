// Reading any bytes as a .reg file never fails hard, and a file read without
// errors, written back out, reads back to the same operations.
#include "config/reg_file.h"
#include "harness.h"

void ravelon::fuzz::FuzzOne(FuzzInput& input) {
  using namespace ravelon::cli;
  const RegParseResult parsed = ParseRegFile(input.Rest());
  Require(parsed.errors.size() <= kMaxReportedRegErrors, "errors reported are capped");
  if (!parsed.errors.empty()) return;
  for (const RegOperation& op : parsed.operations) {
    if (!IsWritableRegName(op.key) || !IsWritableRegName(op.name)) return;
  }
  const RegParseResult again = ParseRegFile(FormatRegFile(parsed.operations));
  Require(again.errors.empty() && again.operations.size() == parsed.operations.size(),
          "a file written reads back");
  for (size_t i = 0; i < again.operations.size(); ++i) {
    Require(again.operations[i].SameAs(parsed.operations[i]), "to the same operations");
  }
}

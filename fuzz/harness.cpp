// The entry point that libFuzzer and the corpus replay call: each input goes
// to the target's FuzzOne.
#include "harness.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  ravelon::fuzz::FuzzInput input(data, size);
  ravelon::fuzz::FuzzOne(input);
  return 0;
}

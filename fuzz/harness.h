// The harness every fuzz target shares. A target defines FuzzOne, which takes
// the values it needs from the front of one input (FuzzInput) and states its
// oracle with Require; harness.cpp hands it each input that libFuzzer or the
// corpus replay brings. A property that does not hold is a finding: it is
// named on stderr and the run aborts, which libFuzzer and the corpus replay
// both report with the input.
#pragma once

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <string_view>
#include <vector>

#if defined(__has_feature)
#if __has_feature(address_sanitizer)
#define RAVELON_FUZZ_ALLOCATION_HOOKS 1
#endif
#endif
#if defined(__SANITIZE_ADDRESS__)
#define RAVELON_FUZZ_ALLOCATION_HOOKS 1
#endif

#ifdef RAVELON_FUZZ_ALLOCATION_HOOKS
extern "C" int __sanitizer_install_malloc_and_free_hooks(void (*malloc_hook)(const volatile void*,
                                                                             size_t),
                                                         void (*free_hook)(const volatile void*));
#endif

namespace ravelon::fuzz {

inline void Require(bool holds, const char* property) {
  if (holds) return;
  std::fprintf(stderr, "finding: %s\n", property);
  std::abort();
}

// Past the end of the input every number reads as 0 and every byte string as
// empty, so any input is a valid one. (libFuzzer's own data provider is a
// clang header; the corpus replay builds with gcc too.)
class FuzzInput {
 public:
  FuzzInput(const uint8_t* data, size_t size) : rest_(reinterpret_cast<const char*>(data), size) {}

  bool empty() const { return rest_.empty(); }

  uint8_t Byte() {
    const std::string_view byte = Bytes(1);
    return byte.empty() ? 0 : static_cast<uint8_t>(byte[0]);
  }

  // Two bytes, little-endian.
  uint16_t Short() {
    const uint16_t low = Byte();
    return static_cast<uint16_t>(low | Byte() << 8);
  }

  // Up to `n` bytes.
  std::string_view Bytes(size_t n) {
    const std::string_view taken = rest_.substr(0, n);
    rest_.remove_prefix(taken.size());
    return taken;
  }

  // A byte string with its one-byte length first.
  std::string_view Sized() { return Bytes(Byte()); }

  std::string_view Rest() { return Bytes(rest_.size()); }

  // The rest as a stream and the offsets where it is cut into arrivals,
  // ascending: a cut count byte (low four bits), two bytes per cut (its
  // offset, modulo the stream's length plus one), then the stream.
  std::string_view CutStream(std::vector<size_t>& cuts) {
    cuts.resize(Byte() % 16);
    for (size_t& cut : cuts) cut = Short();
    const std::string_view stream = Rest();
    for (size_t& cut : cuts) cut %= stream.size() + 1;
    std::sort(cuts.begin(), cuts.end());
    return stream;
  }

 private:
  std::string_view rest_;
};

// The size of the largest single heap allocation made while one lives, for
// targets whose oracle bounds memory. It needs the sanitizer runtime's
// allocation hooks (the ASan builds: the libFuzzer build and the replay under
// ASan); elsewhere nothing is measured and Bytes() stays 0.
class LargestAllocation {
 public:
  LargestAllocation() {
    largest_ = 0;
    measuring_ = true;
#ifdef RAVELON_FUZZ_ALLOCATION_HOOKS
    [[maybe_unused]] static const int installed = __sanitizer_install_malloc_and_free_hooks(
        [](const volatile void*, size_t size) {
          if (measuring_) largest_ = std::max(largest_, size);
        },
        [](const volatile void*) {});
#endif
  }
  ~LargestAllocation() { measuring_ = false; }
  LargestAllocation(const LargestAllocation&) = delete;
  LargestAllocation& operator=(const LargestAllocation&) = delete;

  size_t Bytes() const { return largest_; }

 private:
  // The hooks are plain functions: the state they update is global.
  static inline size_t largest_ = 0;
  static inline bool measuring_ = false;
};

// Defined by each target: checks one input.
void FuzzOne(FuzzInput& input);

}  // namespace ravelon::fuzz

// LargestAllocation: the size of the largest single heap allocation made
// while one lives, for targets whose oracle bounds memory. It needs the
// sanitizer runtime's allocation hooks (the ASan builds: the libFuzzer build
// and the replay under ASan); elsewhere Known() is false and nothing is
// measured.
#pragma once

#include <algorithm>
#include <cstddef>

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

  static bool Known() {
#ifdef RAVELON_FUZZ_ALLOCATION_HOOKS
    return true;
#else
    return false;
#endif
  }
  size_t Bytes() const { return largest_; }

 private:
  // The hooks are plain functions: the state they update is global.
  static inline size_t largest_ = 0;
  static inline bool measuring_ = false;
};

}  // namespace ravelon::fuzz

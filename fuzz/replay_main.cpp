// Replays fuzz inputs through a target's LLVMFuzzerTestOneInput without
// libFuzzer, so that the ordinary builds (gcc, with or without the sanitizers)
// run every corpus file as a test. Arguments are files or folders (every
// regular file in them, in name order). A target's oracle aborts on a finding;
// a folder without inputs fails, so a target cannot lose its seeds unnoticed.
#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size);

int main(int argc, char** argv) {
  namespace fs = std::filesystem;
  std::vector<fs::path> inputs;
  for (int i = 1; i < argc; ++i) {
    const size_t before = inputs.size();
    if (fs::is_directory(argv[i])) {
      for (const fs::directory_entry& entry : fs::directory_iterator(argv[i]))
        if (entry.is_regular_file()) inputs.push_back(entry.path());
      std::sort(inputs.begin() + static_cast<std::ptrdiff_t>(before), inputs.end());
    } else if (fs::is_regular_file(argv[i])) {
      inputs.emplace_back(argv[i]);
    }
    if (inputs.size() == before) {
      std::fprintf(stderr, "no inputs in %s\n", argv[i]);
      return 1;
    }
  }
  for (const fs::path& path : inputs) {
    std::ifstream file(path, std::ios::binary);
    const std::string bytes{std::istreambuf_iterator<char>(file), {}};
    std::fprintf(stderr, "%s (%zu bytes)\n", path.c_str(), bytes.size());
    LLVMFuzzerTestOneInput(reinterpret_cast<const uint8_t*>(bytes.data()), bytes.size());
  }
  std::fprintf(stderr, "%zu inputs replayed\n", inputs.size());
  return 0;
}

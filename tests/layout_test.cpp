// Holds the line of the platform seam: only src/platform/ may use Asio or
// read a real clock, so every engine behaviour stays testable on virtual time.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

namespace {

namespace fs = std::filesystem;

TEST(LayoutTest, OnlyThePlatformReachesAsioAndTheRealClock) {
  const std::vector<std::string> forbidden = {
      "#include <asio", "#include \"asio", "system_clock::now", "steady_clock::now",
      "std::time(",     "localtime",       "gettimeofday",      "clock_gettime",
      "sleep_for",      "usleep(",         "sqlite3.h",
  };
  std::vector<std::string> offenders;
  for (const char* root : {"src", "include"}) {
    for (const auto& entry :
         fs::recursive_directory_iterator(fs::path(RAVELON_SOURCE_DIR) / root)) {
      const fs::path& path = entry.path();
      if (!entry.is_regular_file()) continue;
      if (path.extension() != ".cpp" && path.extension() != ".h") continue;
      if (path.string().find("/src/platform/") != std::string::npos) continue;
      std::ifstream in(path);
      std::stringstream text;
      text << in.rdbuf();
      for (const auto& word : forbidden) {
        if (text.str().find(word) != std::string::npos) {
          offenders.push_back(path.string() + ": " + word);
        }
      }
    }
  }
  EXPECT_TRUE(offenders.empty()) << ::testing::PrintToString(offenders);
}

}  // namespace

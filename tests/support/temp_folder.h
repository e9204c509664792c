// A fresh folder under /tmp for a test, removed with all it holds when the
// test ends, so no test writes into the user's home or the working folder.
#pragma once

#include <stdlib.h>

#include <filesystem>
#include <string>
#include <system_error>

namespace ravelon::testing {

class TempFolder {
 public:
  TempFolder() {
    char name[] = "/tmp/ravelon-test-XXXXXX";
    if (mkdtemp(name) != nullptr) path_ = name;
  }
  ~TempFolder() {
    std::error_code ignored;
    if (!path_.empty()) std::filesystem::remove_all(path_, ignored);
  }
  TempFolder(const TempFolder&) = delete;
  TempFolder& operator=(const TempFolder&) = delete;
  const std::string& path() const { return path_; }

 private:
  std::string path_;
};

}  // namespace ravelon::testing

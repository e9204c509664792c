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
  TempFolder() : path_(mkdtemp(name_) != nullptr ? name_ : "") {}
  ~TempFolder() { std::filesystem::remove_all(path_, ignored_); }  // "" removes nothing
  TempFolder(const TempFolder&) = delete;
  TempFolder& operator=(const TempFolder&) = delete;
  const std::string& path() const { return path_; }

 private:
  char name_[25] = "/tmp/ravelon-test-XXXXXX";
  std::string path_;
  std::error_code ignored_;
};

}  // namespace ravelon::testing

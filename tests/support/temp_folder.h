// A fresh folder for a test, removed with all it holds when the test ends, so no test writes into
// the user's home or the working folder.
#pragma once

#include <stdlib.h>

#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <system_error>

namespace ravelon::testing {

class TempFolder {
 public:
  // Made in /tmp, or in `parent` (another file system than /tmp's); Path() is "" when it failed.
  explicit TempFolder(const std::string& parent = "/tmp") : path_(parent + "/ravelon-test-XXXXXX") {
    if (mkdtemp(path_.data()) == nullptr) path_.clear();
  }
  ~TempFolder() {
    std::error_code ignored;
    std::filesystem::remove_all(path_, ignored);  // "" removes nothing
  }
  TempFolder(const TempFolder&) = delete;
  TempFolder& operator=(const TempFolder&) = delete;
  const std::string& Path() const { return path_; }
  std::string Path(const std::string& name) const { return path_ + "/" + name; }

  // The bytes of the file `name` in the folder; "" when it cannot be read.
  std::string Read(const std::string& name) const {
    std::ifstream file(Path(name), std::ios::binary);
    return {std::istreambuf_iterator<char>(file), {}};
  }
  void Write(const std::string& name, const std::string& bytes) const {
    std::ofstream(Path(name), std::ios::binary) << bytes;
  }

 private:
  std::string path_;
};

}  // namespace ravelon::testing

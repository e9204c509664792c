// A fresh folder under /tmp for a test, removed with all it holds when the
// test ends, so no test writes into the user's home or the working folder.
#pragma once

#include <stdlib.h>

#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <system_error>

namespace ravelon::testing {

class TempFolder {
 public:
  TempFolder() : path_(mkdtemp(name_) != nullptr ? name_ : "") {}
  // A fresh folder in `parent` instead (another file system than /tmp's).
  explicit TempFolder(const std::string& parent)
      : path_(mkdtemp((parent_name_ = parent + "/ravelon-test-XXXXXX").data()) != nullptr
                  ? parent_name_
                  : "") {}
  ~TempFolder() { std::filesystem::remove_all(path_, ignored_); }  // "" removes nothing
  TempFolder(const TempFolder&) = delete;
  TempFolder& operator=(const TempFolder&) = delete;
  const std::string& Path() const { return path_; }
  std::string Path(const std::string& name) const { return path_ + "/" + name; }

  // The bytes of the file `name` in the folder; "" when it cannot be read.
  std::string Read(const std::string& name) const {
    std::ostringstream bytes;
    bytes << std::ifstream(Path(name), std::ios::binary).rdbuf();
    return bytes.str();
  }
  void Write(const std::string& name, const std::string& bytes) const {
    std::ofstream(Path(name), std::ios::binary) << bytes;
  }

 private:
  char name_[25] = "/tmp/ravelon-test-XXXXXX";
  std::string parent_name_;
  std::string path_;
  std::error_code ignored_;
};

}  // namespace ravelon::testing

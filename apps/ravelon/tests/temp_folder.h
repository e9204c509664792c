// A folder of its own under /tmp for one test: made with mkdtemp when the
// folder object is made, removed with all it holds when it is destroyed.
// Owned by the test that made it; one thread.
#pragma once

#include <stdlib.h>

#include <cerrno>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <stdexcept>
#include <string>

namespace ravelon::cli::testing {

class TempFolder {
 public:
  TempFolder() {
    char pattern[] = "/tmp/ravelon-test-XXXXXX";
    if (::mkdtemp(pattern) == nullptr) {
      throw std::runtime_error(std::string("cannot make a temporary folder: ") +
                               std::strerror(errno));
    }
    path_ = pattern;
  }
  ~TempFolder() {
    std::error_code ignored;
    std::filesystem::remove_all(path_, ignored);
  }
  TempFolder(const TempFolder&) = delete;
  TempFolder& operator=(const TempFolder&) = delete;

  const std::string& Path() const { return path_; }
  std::string Path(const std::string& name) const { return path_ + "/" + name; }

  // The bytes of the file `name` in the folder; "" when it cannot be read.
  std::string Read(const std::string& name) const {
    std::ifstream in(Path(name), std::ios::binary);
    std::ostringstream bytes;
    bytes << in.rdbuf();
    return bytes.str();
  }
  void Write(const std::string& name, const std::string& bytes) const {
    std::ofstream(Path(name), std::ios::binary) << bytes;
  }

 private:
  std::string path_;
};

}  // namespace ravelon::cli::testing

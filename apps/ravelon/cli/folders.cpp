#include "cli/folders.h"

#include <sys/stat.h>

#include <cerrno>
#include <system_error>

namespace ravelon::cli {

std::string MakeParentFolders(const std::string& path, mode_t mode) {
  for (size_t slash = path.find('/', 1); slash != std::string::npos;
       slash = path.find('/', slash + 1)) {
    const std::string folder = path.substr(0, slash);
    if (::mkdir(folder.c_str(), mode) != 0 && errno != EEXIST)
      return folder + ": " + std::error_code(errno, std::generic_category()).message();
  }
  return "";
}

}  // namespace ravelon::cli

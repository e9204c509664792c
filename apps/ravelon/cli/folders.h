// Making the folders a file or a store prefix goes into, for the commands
// that write the registry file or a store. The caller's thread.
#pragma once

#include <sys/types.h>

#include <string>

namespace ravelon::cli {

// Makes every missing folder of `path` up to its last "/" (a file's folders,
// or those of a store's DBPath, which is a folder and a name prefix), each
// with `mode`. "" when they all exist; otherwise "FOLDER: reason" for the
// first that cannot be made.
std::string MakeParentFolders(const std::string& path, mode_t mode);

}  // namespace ravelon::cli

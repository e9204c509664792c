// The FOLDER argument of the `store` subcommands, turned into what the store
// reader takes. The engine's DBPath is a prefix: a file set's base name is
// DBPath followed directly by twelve digits. A user names a store by its
// folder, with or without the trailing "/", or by folder and name prefix
// ("/var/store/cam1_") when the engine was given one. Plain functions over a
// FileSystem; the caller's thread.
#pragma once

#include <string>
#include <vector>

#include "ravelon/file_system.h"
#include "ravelon/store_reader.h"

namespace ravelon::cli {

struct StoreFolder {
  std::string prefix;  // what StoreReader takes: a folder ending in "/", or folder + name prefix
  bool is_folder = false;
  std::string argument;  // as the user gave it, for messages
};

// Throws CommandError when `argument` is empty, a file, or neither a folder
// nor a name prefix inside an existing folder.
StoreFolder ResolveStoreFolder(FileSystem& files, const std::string& argument);

// The file sets of the store, oldest first. Throws CommandError when the
// folder cannot be listed, or when a name prefix (not a folder) matches no
// file set: that is most likely a mistyped folder.
std::vector<FileSetInfo> ListStoreSets(FileSystem& files, const StoreFolder& store);

}  // namespace ravelon::cli

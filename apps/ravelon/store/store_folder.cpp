#include "store/store_folder.h"

#include "cli/command.h"

namespace ravelon::cli {

StoreFolder ResolveStoreFolder(FileSystem& files, const std::string& argument) {
  if (argument.empty()) throw CommandError("give the store's folder");
  StoreFolder store{.prefix = argument, .is_folder = false, .argument = argument};
  if (files.DirectoryExists(argument)) {
    if (argument.back() != '/') store.prefix += '/';
    store.is_folder = true;
    return store;
  }
  if (files.FileExists(argument)) throw CommandError(argument + " is a file, not a store folder");
  const size_t slash = argument.rfind('/');
  const std::string parent = slash == std::string::npos ? "." : argument.substr(0, slash + 1);
  if (argument.back() == '/' || !files.DirectoryExists(parent)) {
    throw CommandError("the store folder " + argument + " does not exist");
  }
  return store;
}

std::vector<FileSetInfo> ListStoreSets(FileSystem& files, const StoreFolder& store) {
  StoreReader reader(files, store.prefix);
  std::vector<FileSetInfo> sets;
  std::string error;
  if (!reader.ListFileSets(sets, error)) throw CommandError(error);
  if (sets.empty() && !store.is_folder) {
    throw CommandError("the store folder " + store.argument +
                       " does not exist, and no file set's name begins with it");
  }
  return sets;
}

}  // namespace ravelon::cli

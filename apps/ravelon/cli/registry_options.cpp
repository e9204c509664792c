#include "cli/registry_options.h"

#include <sys/stat.h>

#include <cerrno>
#include <system_error>

#include "cli/command.h"
#include "cli/folders.h"
#include "ravelon/platform.h"

namespace ravelon::cli {

std::string RegistryOptions::File() const {
  if (!file.empty()) return file;
  std::string found = DefaultRegistryFile();
  if (found.empty())
    throw CommandError(
        "no registry file: give --registry (neither $XDG_CONFIG_HOME nor $HOME is set)");
  return found;
}

std::string RegistryOptions::Root() const {
  if (root.empty() || root.back() == '\\') return root;
  return root + "\\";
}

void AddRegistryOptions(CLI::App& command, RegistryOptions& options) {
  command.add_option("--registry", options.file,
                     "the registry store's file (default: " + DefaultRegistryFile() + ")");
  command
      .add_option("--root", options.root,
                  "the registry root; sources are the keys under ROOT\\Src\\")
      ->capture_default_str();
}

std::unique_ptr<RegistryStore> OpenRegistry(const RegistryOptions& options, bool create) {
  const std::string path = options.File();
  struct stat info {};
  if (!create && ::stat(path.c_str(), &info) != 0) {
    throw CommandError("cannot open the registry file " + path + ": " +
                       std::error_code(errno, std::generic_category()).message());
  }
  if (create) {
    // The file's folder is private to its owner: the store holds passwords.
    if (const std::string failed = MakeParentFolders(path, 0700); !failed.empty())
      throw CommandError("cannot create the folder " + failed);
  }
  std::string error;
  std::unique_ptr<RegistryStore> store = NewSqliteRegistryStore(path, error);
  if (store == nullptr) throw CommandError(error);  // the error names the file
  return store;
}

std::vector<std::string> ListSources(RegistryStore& store, const RegistryOptions& options) {
  std::vector<std::string> names;
  RegistryKey key = 0;
  if (store.OpenKey(kHkeyLocalMachine, options.SourcesKey(), key) != kRegSuccess) return names;
  std::string name;
  for (uint32_t i = 0; store.EnumKey(key, i, name) == kRegSuccess; ++i) names.push_back(name);
  store.CloseKey(key);
  return names;
}

}  // namespace ravelon::cli

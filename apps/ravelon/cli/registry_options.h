// Where the commands that read or write source settings find them: the
// registry store's file and the registry root whose "Src\" key holds one key
// per source. Shared by `record`, `config` and `demo`.
#pragma once

#include <CLI/CLI.hpp>
#include <memory>
#include <string>
#include <vector>

#include "ravelon/registry_store.h"

namespace ravelon::cli {

struct RegistryOptions {
  std::string file;                // "" means DefaultRegistryFile()
  std::string root = "Ravelon\\";  // under HKEY_LOCAL_MACHINE; ends with "\"

  // The file actually used.
  std::string File() const;
  // The root with its trailing "\" (added when the user left it out).
  std::string Root() const;
  // The key of every source: Root() + "Src\".
  std::string SourcesKey() const { return Root() + "Src\\"; }
};

// Adds --registry and --root to `command`.
void AddRegistryOptions(CLI::App& command, RegistryOptions& options);

// Opens the store; throws CommandError with the reason when it cannot.
// With `create` false, a missing file is an error rather than a new store.
std::unique_ptr<RegistryStore> OpenRegistry(const RegistryOptions& options, bool create);

// The names of the sources under the root, in the store's order.
std::vector<std::string> ListSources(RegistryStore& store, const RegistryOptions& options);

}  // namespace ravelon::cli

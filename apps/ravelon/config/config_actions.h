// The work of each `ravelon config` subcommand, apart from its command line
// (config_command.cpp): each opens the registry store, does one thing and
// returns the exit status, or throws CommandError. Run on main's thread.
#pragma once

#include <map>
#include <optional>
#include <string>

#include "cli/registry_options.h"

namespace ravelon::cli {

struct ConfigOptions {
  RegistryOptions registry;
  std::string source;      // list, get, set, add-source, delete
  std::string name;        // get, set, delete: the value's name
  std::string value;       // set
  std::string file = "-";  // import, export: a .reg file, "-" for standard input or output
  std::string key;         // export: the key to write; "" for the registry root
  // add-source: the values given on its command line, by value name.
  std::map<std::string, std::string, std::less<>> given;
  // web-login: the user, and the password of --password (nullopt: read a
  // line of standard input); --off removes the login instead.
  std::string user;
  std::optional<std::string> password;
  bool off = false;
};

int ListConfig(const ConfigOptions& options);
int GetValue(const ConfigOptions& options);
int SetValue(const ConfigOptions& options);
int AddSource(const ConfigOptions& options);
int DeleteConfig(const ConfigOptions& options);
int ImportRegFile(const ConfigOptions& options);
int ExportRegFile(const ConfigOptions& options);
int SetWebLogin(const ConfigOptions& options);

}  // namespace ravelon::cli

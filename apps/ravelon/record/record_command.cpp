// `ravelon record`: records every named source, or every source under the
// registry root, until SIGINT or SIGTERM (or --for seconds), then releases
// every engine so that its queued frames are saved, and exits 0.
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <map>
#include <optional>

#include "cli/command.h"
#include "cli/folders.h"
#include "cli/registry_options.h"
#include "cli/text.h"
#include "config/registry_tree.h"
#include "record/record_run.h"
#include "web/login_check.h"
#include "web/web_login.h"
#include "web/web_login_store.h"
#include "web/web_server.h"

namespace ravelon::cli {
namespace {

struct RecordOptions {
  RegistryOptions registry;
  std::vector<std::string> sources;
  RunOptions run;
  int verbose = 0;
  int quiet = 0;
  int log_level = -1;
};

// Makes the folders a saving source's store goes into, so that a folder that
// cannot exist stops the command with its reason rather than failing every
// save. The engine saves unless "DoSave" is missing or exactly "0". Returns
// the store's path as the engine joins file names onto it, absolute and
// normalized; nullopt when the source does not save.
std::optional<std::string> MakeStoreFolder(RegistryStore& store, const std::string& key_path,
                                           const std::string& source) {
  const std::optional<OpenedKey> key = OpenExistingKey(store, RegHive::kLocalMachine, key_path);
  if (!key) return std::nullopt;
  const std::string key_text = KeyText(RegHive::kLocalMachine, key_path);
  const auto text = [&](const std::string& name) -> std::optional<std::string> {
    std::optional<RegValue> value = ReadValue(store, *key, key_text, name);
    if (!value) return std::nullopt;
    return value->data.substr(0, value->data.find('\0'));
  };
  const std::optional<std::string> saving = text("DoSave");
  if (!saving || *saving == "0") return std::nullopt;
  const std::string path = text("DBPath").value_or("");
  if (const std::string failed = MakeParentFolders(path, 0755); !failed.empty())
    throw CommandError("source " + source + ": cannot create its store folder " + failed);
  std::error_code error;
  const std::filesystem::path absolute = std::filesystem::absolute(path, error);
  return (error ? std::filesystem::path(path) : absolute).lexically_normal().string();
}

std::vector<SourcePlan> PlansFromRegistry(const RecordOptions& o) {
  std::unique_ptr<RegistryStore> store = OpenRegistry(o.registry, /*create=*/false);
  const std::vector<std::string> known = ListSources(*store, o.registry);
  std::vector<std::string> names = o.sources.empty() ? known : o.sources;
  if (names.empty()) {
    throw CommandError("no sources under " + o.registry.SourcesKey() + " in " + o.registry.File() +
                       " (add one with `ravelon config add-source`)");
  }
  std::vector<SourcePlan> plans;
  // Two engines saving into one store write over each other's frames.
  std::map<std::string, std::string> saving_into;  // store path -> source
  for (const std::string& name : names) {
    const bool found = std::any_of(known.begin(), known.end(),
                                   [&](const std::string& k) { return EqualsNoCase(k, name); });
    if (!found) {
      std::string list;
      for (const std::string& k : known) list += (list.empty() ? "" : ", ") + k;
      throw CommandError("unknown source " + name + " (sources under " + o.registry.SourcesKey() +
                         ": " + (list.empty() ? "none" : list) + ")");
    }
    if (const auto path = MakeStoreFolder(*store, o.registry.SourcesKey() + name, name)) {
      const auto [other, first] = saving_into.try_emplace(*path, name);
      if (!first) {
        throw CommandError("sources " + other->second + " and " + name +
                           " would both record into " + *path +
                           ": give each source a store folder of its own (DBPath)");
      }
    }
    const std::string root = o.registry.Root();
    plans.push_back(
        {name, [name, root](Korvid& engine) { engine.InitEngineFromReg(name, root); }, nullptr});
  }
  return plans;
}

int Record(RecordOptions& o) {
  std::vector<SourcePlan> plans = PlansFromRegistry(o);
  if (o.log_level >= 0) {
    o.run.min_level = static_cast<uint8_t>(o.log_level);
  } else if (o.quiet > 0) {
    o.run.min_level = o.quiet == 1 ? kDebugConfiguration : kDebugError;
  } else if (o.verbose > 0) {
    o.run.min_level = kDebugConnection;
  }
  if (!o.run.http.empty()) {
    const WebLogin login = ReadWebLogin(*OpenRegistry(o.registry, /*create=*/false), o.registry);
    if (login.Required()) {
      auto check = std::make_shared<LoginCheck>(login);
      o.run.http_allow = [check](const std::string& authorization) {
        return check->Allows(authorization);
      };
    }
  }
  RecorderSettings settings;
  settings.registry_file = o.registry.File();
  return RunRecorder(std::move(plans), settings, o.run);
}

}  // namespace

void AddRecordCommand(CLI::App& app, Action& action) {
  auto o = std::make_shared<RecordOptions>();
  CLI::App* command = app.add_subcommand(
      "record", "Records sources until SIGINT or SIGTERM, then saves what is queued and exits");
  command->add_option("sources", o->sources,
                      "the sources to record (default: every source under the root)");
  AddRegistryOptions(*command, o->registry);
  AddRunOptions(*command, o->run);
  command->add_flag("-v,--verbose", o->verbose, "show more log lines (repeat for all)");
  command->add_flag("-q,--quiet", o->quiet, "show only warnings and errors (twice: errors)");
  command
      ->add_option("--log-level", o->log_level,
                   "the lowest level of log line shown: 2 connection, 3 lifecycle (default), 4 "
                   "store, 5 housekeeping, 6 schedule, 9 warnings, 10 errors")
      ->check(CLI::Range(0, 10));
  command
      ->add_option("--http", o->run.http,
                   "serve the web view on PORT (loopback) or ADDRESS:PORT; port 0 picks one")
      ->check([](const std::string& text) {
        try {
          WebAddress::Parse(text);
          return std::string();
        } catch (const CommandError& e) {
          return std::string(e.what());
        }
      });
  command->callback([&action, o] { action = [o] { return Record(*o); }; });
}

}  // namespace ravelon::cli

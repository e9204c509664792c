// `ravelon record`: records every named source, or every source under the
// registry root, until SIGINT or SIGTERM (or --for seconds), then releases
// every engine so that its queued frames are saved, and exits 0.
#include <sys/stat.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <optional>
#include <system_error>

#include "cli/command.h"
#include "cli/registry_options.h"
#include "cli/text.h"
#include "record/record_run.h"

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

// A text value of a source's key, up to its terminating zero; nullopt when
// it is missing.
std::optional<std::string> ReadText(RegistryStore& store, const std::string& key_path,
                                    const std::string& name) {
  RegistryKey key = 0;
  if (store.OpenKey(kHkeyLocalMachine, key_path, key) != kRegSuccess) return std::nullopt;
  uint32_t type = 0, size = 0;
  std::optional<std::string> text;
  if (store.QueryValue(key, name, type, nullptr, size) == kRegSuccess) {
    text.emplace(size, '\0');
    if (store.QueryValue(key, name, type, text->data(), size) != kRegSuccess) text.reset();
  }
  store.CloseKey(key);
  if (text) text->resize(std::min(text->find('\0'), text->size()));
  return text;
}

// Makes the folder a saving source's store goes into (DBPath is a folder
// followed by an optional name prefix), so that a folder that cannot exist
// stops the command with its reason rather than failing every save.
void MakeStoreFolder(const std::string& source, const std::string& db_path) {
  const std::string folder = db_path.substr(0, db_path.rfind('/') + 1);
  for (size_t slash = folder.find('/', 1); slash != std::string::npos;
       slash = folder.find('/', slash + 1)) {
    const std::string part = folder.substr(0, slash);
    if (::mkdir(part.c_str(), 0755) != 0 && errno != EEXIST) {
      throw CommandError("source " + source + ": cannot create its store folder " + part + ": " +
                         std::error_code(errno, std::generic_category()).message());
    }
  }
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
  for (const std::string& name : names) {
    const bool found = std::any_of(known.begin(), known.end(),
                                   [&](const std::string& k) { return EqualsNoCase(k, name); });
    if (!found) {
      std::string list;
      for (const std::string& k : known) list += (list.empty() ? "" : ", ") + k;
      throw CommandError("unknown source " + name + " (sources under " + o.registry.SourcesKey() +
                         ": " + (list.empty() ? "none" : list) + ")");
    }
    const std::string key = o.registry.SourcesKey() + name;
    // The engine saves unless "DoSave" is missing or exactly "0".
    const std::optional<std::string> saving = ReadText(*store, key, "DoSave");
    if (saving && *saving != "0")
      MakeStoreFolder(name, ReadText(*store, key, "DBPath").value_or(""));
    const std::string root = o.registry.Root();
    plans.push_back({name, [name, root](Korvid& engine) { engine.InitEngineFromReg(name, root); }});
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
  command->callback([&action, o] { action = [o] { return Record(*o); }; });
}

}  // namespace ravelon::cli

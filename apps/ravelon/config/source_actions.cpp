// `config list`, `get`, `set` and `add-source`: the values of the sources
// under ROOT\Src\ in HKEY_LOCAL_MACHINE, each a text value.
#include <cstdio>
#include <optional>

#include "cli/command.h"
#include "config/config_actions.h"
#include "config/registry_tree.h"
#include "config/source_values.h"

namespace ravelon::cli {
namespace {

std::string SourcePath(const ConfigOptions& o) { return o.registry.SourcesKey() + o.source; }

std::string SourceText(const ConfigOptions& o) {
  return KeyText(RegHive::kLocalMachine, NormalKeyPath(SourcePath(o)));
}

OpenedKey OpenSource(RegistryStore& store, const ConfigOptions& o) {
  std::optional<OpenedKey> key = OpenExistingKey(store, RegHive::kLocalMachine, SourcePath(o));
  if (!key) {
    throw CommandError("no source " + o.source + " (no key " + SourceText(o) +
                       "); `ravelon config list` shows the sources");
  }
  return std::move(*key);
}

// A text value as it reads; anything else as a .reg file writes it.
std::string Display(const RegValue& value) {
  const std::string_view data = value.data;
  if (value.type == kRegSz && data.ends_with('\0') && data.find('\0') == data.size() - 1)
    return value.data.substr(0, data.size() - 1);
  return FormatRegData(value.type, data);
}

void WriteText(RegistryStore& store, const ConfigOptions& o, const OpenedKey& key,
               std::string_view name, const std::string& text) {
  WriteValue(store, key, SourceText(o), {std::string(name), kRegSz, text + '\0'});
}

void Flush(RegistryStore& store, const ConfigOptions& o, const OpenedKey& key) {
  if (store.FlushKey(key.Get()) != kRegSuccess)
    throw CommandError("cannot save the values of " + SourceText(o));
}

}  // namespace

int ListConfig(const ConfigOptions& o) {
  const auto store = OpenRegistry(o.registry, false);
  if (o.source.empty()) {
    const auto sources = OpenExistingKey(*store, RegHive::kLocalMachine, o.registry.SourcesKey());
    if (!sources) return kExitOk;  // no source yet
    for (const std::string& name :
         ReadSubkeys(*store, *sources, KeyText(RegHive::kLocalMachine, o.registry.SourcesKey())))
      std::printf("%s\n", name.c_str());
    return kExitOk;
  }
  const OpenedKey key = OpenSource(*store, o);
  for (const RegValue& value : ReadValues(*store, key, SourceText(o)))
    std::printf("%s = %s\n", value.name.c_str(), Display(value).c_str());
  return kExitOk;
}

int GetValue(const ConfigOptions& o) {
  const auto store = OpenRegistry(o.registry, false);
  const OpenedKey key = OpenSource(*store, o);
  const std::optional<RegValue> value = ReadValue(*store, key, SourceText(o), o.name);
  if (!value) {
    const SourceValueInfo* info = FindSourceValue(o.name);
    std::string message = "source " + o.source + " has no value " + o.name;
    if (info != nullptr && info->has_default)
      message += "; the engine uses its default, '" + std::string(info->fallback) + "'";
    throw CommandError(message);
  }
  std::printf("%s\n", Display(*value).c_str());
  return kExitOk;
}

int SetValue(const ConfigOptions& o) {
  const SourceValueInfo* info = FindSourceValue(o.name);
  if (info == nullptr)
    throw CommandError("a source has no value called " + o.name + "; its values are " +
                       SourceValueNames());
  const std::string text = CheckSourceValue(*info, o.value, std::string(info->name));
  const auto store = OpenRegistry(o.registry, false);
  OpenSource(*store, o);  // it must exist: a misspelt source is not made anew
  const OpenedKey key = CreateKeyForWriting(*store, RegHive::kLocalMachine, SourcePath(o));
  WriteText(*store, o, key, info->name, text);
  Flush(*store, o, key);
  return kExitOk;
}

int DeleteConfig(const ConfigOptions& o) {
  const auto store = OpenRegistry(o.registry, false);
  const OpenedKey key = OpenSource(*store, o);
  if (o.name.empty()) {
    DeleteKeyTree(*store, RegHive::kLocalMachine, SourcePath(o));
    return kExitOk;
  }
  const int32_t result = store->DeleteValue(key.Get(), o.name);
  if (result == kRegFileNotFound)
    throw CommandError("source " + o.source + " has no value " + o.name);
  if (result != kRegSuccess) throw CommandError("cannot delete " + o.name + " of " + SourceText(o));
  Flush(*store, o, key);
  return kExitOk;
}

int AddSource(const ConfigOptions& o) {
  CheckSourceName(o.source);
  std::vector<std::pair<std::string_view, std::string>> values;
  for (const SourceValueInfo& info : SourceValues()) {
    const auto given = o.given.find(info.name);
    if (given != o.given.end()) {
      values.emplace_back(info.name,
                          CheckSourceValue(info, given->second, "--" + std::string(info.flag)));
    } else if (info.has_default) {
      values.emplace_back(info.name, std::string(info.fallback));
    }
  }
  const auto store = OpenRegistry(o.registry, true);
  if (OpenExistingKey(*store, RegHive::kLocalMachine, SourcePath(o))) {
    throw CommandError("source " + o.source +
                       " exists already; change its values with `ravelon config set`");
  }
  const OpenedKey key = CreateKeyForWriting(*store, RegHive::kLocalMachine, SourcePath(o));
  for (const auto& [name, text] : values) WriteText(*store, o, key, name, text);
  Flush(*store, o, key);
  return kExitOk;
}

}  // namespace ravelon::cli

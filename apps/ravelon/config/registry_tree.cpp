#include "config/registry_tree.h"

#include "cli/command.h"

namespace ravelon::cli {
namespace {

// The largest value read from the store: one larger than a whole .reg file
// could never be imported back, and a damaged store must not make the
// command allocate without end.
constexpr uint32_t kMaxValueBytes = kMaxRegFileBytes;

// Reads of a value that keeps growing between learning its size and reading
// it (another process writing) give up after this many tries.
constexpr int kReadTries = 3;

std::string ResultText(int32_t result) {
  switch (result) {
    case kRegFileNotFound:
      return "it does not exist";
    case kRegAccessDenied:
      return "the registry file cannot be written (access denied)";
    case kRegInvalidParameter:
      return "a key name is longer than " + std::to_string(kMaxKeyNameLength) + " bytes";
    case kRegBusy:
      return "another process kept the registry file locked too long; try again";
    case kRegStoreFailure:
      return "the registry file cannot be read or written (damaged, or an I/O error)";
    default:
      return "registry error " + std::to_string(result);
  }
}

[[noreturn]] void Fail(const std::string& what, const std::string& key_text, int32_t result) {
  throw CommandError("cannot " + what + " " + key_text + ": " + ResultText(result));
}

// Reads one value with `read` (EnumValue or QueryValue): learns its size,
// then reads it. Returns the store's result.
template <typename Read>
int32_t ReadSized(Read read, RegValue& value, const std::string& key_text) {
  int32_t result = kRegMoreData;
  for (int tries = 0; tries < kReadTries && result == kRegMoreData; ++tries) {
    uint32_t size = 0;
    result = read(nullptr, size);
    if (result != kRegSuccess) return result;
    if (size > kMaxValueBytes)
      throw CommandError("a value of " + key_text + " is larger than " +
                         std::to_string(kMaxValueBytes >> 20) + " MiB");
    value.data.assign(size, '\0');
    result = read(value.data.data(), size);
    value.data.resize(size);
  }
  return result;
}

}  // namespace

RegistryKey HiveKey(RegHive hive) {
  return hive == RegHive::kCurrentUser ? kHkeyCurrentUser : kHkeyLocalMachine;
}

std::string KeyText(RegHive hive, const std::string& path) {
  std::string text(HiveName(hive));
  if (!path.empty() && path.front() != '\\') text += '\\';
  return text + path;
}

std::optional<OpenedKey> OpenExistingKey(RegistryStore& store, RegHive hive,
                                         const std::string& path) {
  RegistryKey key = 0;
  const int32_t result = store.OpenKey(HiveKey(hive), path, key);
  if (result == kRegFileNotFound) return std::nullopt;
  if (result != kRegSuccess) Fail("open", KeyText(hive, path), result);
  return std::optional<OpenedKey>(std::in_place, store, key);
}

OpenedKey CreateKeyForWriting(RegistryStore& store, RegHive hive, const std::string& path) {
  RegistryKey key = 0;
  const int32_t result = store.CreateKey(HiveKey(hive), path, key);
  if (result != kRegSuccess) Fail("create", KeyText(hive, path), result);
  return OpenedKey(store, key);
}

std::vector<RegValue> ReadValues(RegistryStore& store, const OpenedKey& key,
                                 const std::string& key_text) {
  std::vector<RegValue> values;
  for (uint32_t index = 0;; ++index) {
    RegValue value;
    const int32_t result = ReadSized(
        [&](char* data, uint32_t& size) {
          return store.EnumValue(key.Get(), index, value.name, value.type, data, size);
        },
        value, key_text);
    if (result == kRegNoMoreItems) return values;
    if (result != kRegSuccess) Fail("read the values of", key_text, result);
    values.push_back(std::move(value));
  }
}

std::optional<RegValue> ReadValue(RegistryStore& store, const OpenedKey& key,
                                  const std::string& key_text, const std::string& name) {
  RegValue value;
  value.name = name;
  const int32_t result = ReadSized(
      [&](char* data, uint32_t& size) {
        return store.QueryValue(key.Get(), name, value.type, data, size);
      },
      value, key_text);
  if (result == kRegFileNotFound) return std::nullopt;
  if (result != kRegSuccess) Fail("read " + name + " of", key_text, result);
  return value;
}

std::vector<std::string> ReadSubkeys(RegistryStore& store, const OpenedKey& key,
                                     const std::string& key_text) {
  std::vector<std::string> names;
  std::string name;
  for (uint32_t index = 0;; ++index) {
    const int32_t result = store.EnumKey(key.Get(), index, name);
    if (result == kRegNoMoreItems) return names;
    if (result != kRegSuccess) Fail("list the keys of", key_text, result);
    names.push_back(name);
  }
}

void WriteValue(RegistryStore& store, const OpenedKey& key, const std::string& key_text,
                const RegValue& value) {
  const int32_t result = store.SetValue(key.Get(), value.name, value.type, value.data);
  if (result != kRegSuccess) Fail("write " + value.name + " of", key_text, result);
}

std::string NormalKeyPath(std::string_view path) {
  std::string normal;
  for (size_t start = 0; start <= path.size();) {
    size_t end = path.find('\\', start);
    if (end == std::string_view::npos) end = path.size();
    if (end > start)
      normal.append(normal.empty() ? "" : "\\").append(path.substr(start, end - start));
    start = end + 1;
  }
  return normal;
}

std::vector<RegOperation> ExportTree(RegistryStore& store, RegHive hive, const std::string& path) {
  std::vector<RegOperation> operations;
  // Depth first without recursion: a deep tree in a damaged store must not
  // use up the stack. Children go on in reverse so that they come off in
  // the store's order.
  std::vector<std::string> pending{NormalKeyPath(path)};
  while (!pending.empty()) {
    const std::string key_path = std::move(pending.back());
    pending.pop_back();
    const std::string key_text = KeyText(hive, key_path);
    const std::optional<OpenedKey> key = OpenExistingKey(store, hive, key_path);
    if (!key) throw CommandError("nothing to export: there is no key " + key_text);
    operations.push_back({.kind = RegOperation::kCreateKey, .hive = hive, .key = key_path});
    for (RegValue& value : ReadValues(store, *key, key_text)) {
      operations.push_back({.kind = RegOperation::kSetValue,
                            .hive = hive,
                            .key = key_path,
                            .name = std::move(value.name),
                            .type = value.type,
                            .data = std::move(value.data)});
    }
    const std::vector<std::string> children = ReadSubkeys(store, *key, key_text);
    for (auto child = children.rbegin(); child != children.rend(); ++child)
      pending.push_back(key_path.empty() ? *child : key_path + "\\" + *child);
  }
  return operations;
}

void DeleteKeyTree(RegistryStore& store, RegHive hive, const std::string& path) {
  const int32_t result = store.DeleteKey(HiveKey(hive), NormalKeyPath(path));
  if (result != kRegSuccess && result != kRegFileNotFound)
    Fail("delete", KeyText(hive, NormalKeyPath(path)), result);
}

void ImportOperations(RegistryStore& store, const std::vector<RegOperation>& operations,
                      const std::string& /*file_name*/) {
  // As regedit does: removing what is not there is no error.
  for (const RegOperation& op : operations) {
    const std::string key_text = KeyText(op.hive, op.key);
    if (op.kind == RegOperation::kDeleteKey) {
      DeleteKeyTree(store, op.hive, op.key);
      continue;
    }
    const OpenedKey key = CreateKeyForWriting(store, op.hive, op.key);
    if (op.kind == RegOperation::kSetValue) {
      WriteValue(store, key, key_text, {op.name, op.type, op.data});
    } else if (op.kind == RegOperation::kDeleteValue) {
      const int32_t result = store.DeleteValue(key.Get(), op.name);
      if (result != kRegSuccess && result != kRegFileNotFound)
        Fail("delete a value of", key_text, result);
    }
  }
  for (const RegHive hive : {RegHive::kLocalMachine, RegHive::kCurrentUser}) {
    const int32_t result = store.FlushKey(HiveKey(hive));
    if (result != kRegSuccess) Fail("save", std::string(HiveName(hive)), result);
  }
}

}  // namespace ravelon::cli

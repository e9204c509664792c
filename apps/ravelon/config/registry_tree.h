// Whole keys of a RegistryStore for the config command: reading a key's
// values, the operations that rebuild a subtree (export), and writing the
// operations of a .reg file (import). Every store failure becomes a
// CommandError that names the key. Used on the command's thread.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "config/reg_file.h"
#include "ravelon/registry_store.h"

namespace ravelon::cli {

// An open key, closed when it goes.
class OpenedKey {
 public:
  OpenedKey(RegistryStore& store, RegistryKey key) : m_store(store), m_key(key) {}
  OpenedKey(OpenedKey&& other) noexcept : m_store(other.m_store), m_key(other.m_key) {
    other.m_open = false;
  }
  OpenedKey& operator=(OpenedKey&&) = delete;
  ~OpenedKey() {
    if (m_open) m_store.CloseKey(m_key);
  }
  RegistryKey Get() const { return m_key; }

 private:
  RegistryStore& m_store;
  RegistryKey m_key;
  bool m_open = true;
};

struct RegValue {
  std::string name;
  uint32_t type = kRegNone;
  std::string data;  // a text value ends with its zero byte
};

RegistryKey HiveKey(RegHive hive);

// `path` with one "\" between names and none at either end, as the store
// reads it (it skips empty names).
std::string NormalKeyPath(std::string_view path);

// `path` below `hive`, for messages: "HKEY_LOCAL_MACHINE\Ravelon\Src\cam".
std::string KeyText(RegHive hive, const std::string& path);

// Opens an existing key: nullopt when there is none; throws for any other
// failure (an unreadable store).
std::optional<OpenedKey> OpenExistingKey(RegistryStore& store, RegHive hive,
                                         const std::string& path);

// Opens a key for writing, creating it and its parents.
OpenedKey CreateKeyForWriting(RegistryStore& store, RegHive hive, const std::string& path);

// Every value of `key`, in the store's order; nullopt from ReadValue when
// the key has no value called `name`.
std::vector<RegValue> ReadValues(RegistryStore& store, const OpenedKey& key,
                                 const std::string& key_text);
std::optional<RegValue> ReadValue(RegistryStore& store, const OpenedKey& key,
                                  const std::string& key_text, const std::string& name);

// The names of the subkeys of `key`, in the store's order.
std::vector<std::string> ReadSubkeys(RegistryStore& store, const OpenedKey& key,
                                     const std::string& key_text);

void WriteValue(RegistryStore& store, const OpenedKey& key, const std::string& key_text,
                const RegValue& value);

// The operations that rebuild the key `path` and everything below it: for
// each key (parents before children) its kCreateKey, then its values. Throws
// when the key does not exist.
std::vector<RegOperation> ExportTree(RegistryStore& store, RegHive hive, const std::string& path);

// Removes the key `path` with everything below it; nothing when it is not
// there.
void DeleteKeyTree(RegistryStore& store, RegHive hive, const std::string& path);

// Writes the operations of a .reg file in order and makes them durable.
// Removing a key or value that is not there is no error, as in regedit.
void ImportOperations(RegistryStore& store, const std::vector<RegOperation>& operations,
                      const std::string& file_name);

}  // namespace ravelon::cli

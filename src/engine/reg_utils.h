// Text values of the registry store, read and written the way the engine's
// configuration needs them. The engine makes one on first use, reads a
// source's settings with Registry_GetAll and writes with Registry_SetAll when
// the frame store begins a new file set; the other members are general
// helpers.
//
// Every member but PutRegString and GetRegString works under
// kHkeyLocalMachine. Key paths go to the store as they are ("\" between
// names). No member fails to the caller: store errors come back as the
// store's codes, a default value, false or an empty list, and every key a
// member opens is closed before it returns.
//
// Used on the engine's thread; the store must outlive it.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "components/string_pair_list.h"
#include "ravelon/registry_store.h"

namespace ravelon {

class RegUtils {
 public:
  explicit RegUtils(RegistryStore& store) : m_store(store) {}

  // Makes `values` a new list holding the text (kRegSz) values of the key
  // `section`, in the store's order, each without its terminating zero; other
  // types are skipped. False when the key cannot be opened or a pair cannot
  // be added; true otherwise (also when an enumeration fails part way).
  bool RegEnumerateStringValues(const std::string& section,
                                std::shared_ptr<StringPairList>& values);

  // True when the key `strKey` can be opened for reading.
  bool keyExists(const std::string& strKey);

  // `keys` becomes {"", subkey 1, ..., subkey n} in the store's order; just
  // {""} when the key is missing or has no subkeys.
  void RegEnumerateKey(const std::string& section, std::vector<std::string>& keys);

  // The text of value `Name` of key `key`; DefaultValue when the key or the
  // value is missing or cannot be read.
  std::string Registry_Get(const std::string& key, const std::string& Name,
                           const std::string& DefaultValue);

  // Writes `value` as text, creating the key and its parents; 0 on success,
  // else the store's code.
  int32_t Registry_Set(const std::string& key, const std::string& Name, const std::string& value);

  // Every value of `key`, read at once, as Registry_Get reads each: its name
  // as stored and its bytes up to the first zero. A value with no bytes is
  // left out (Registry_Get gives the default for it). Empty when the key is
  // missing or cannot be read.
  using TextValues = std::vector<std::pair<std::string, std::string>>;
  TextValues Registry_GetAll(const std::string& key);

  // Registry_Set for several values at once: the store writes them together
  // (one transaction and one sync in the SQLite store), then `key` is
  // flushed. 0 on success, else the store's code.
  int32_t Registry_SetAll(const std::string& key, const TextValues& values);

  // Creates `SubKey` under `hKey` if needed, writes `value` as kRegSz with its
  // terminating zero and flushes `hKey`. Returns 0 when all three succeeded,
  // else the code of the first step that failed.
  int32_t PutRegString(RegistryKey hKey, const std::string& SubKey, const std::string& Name,
                       const std::string& value);

  // Reads value `Name` of `hKey`\`SubKey`. Returns the store's code in decimal
  // ("0" on success). `ResultValue` is the value's bytes up to the first zero
  // byte, or DefaultValue when the key or value is missing, the read fails or
  // the value has no bytes at all. `ResultDataType` gets the value's type when
  // the value exists.
  std::string GetRegString(RegistryKey hKey, const std::string& SubKey, const std::string& Name,
                           const std::string& DefaultValue, std::string& ResultValue,
                           int32_t& ResultDataType);

 private:
  // PutRegString for several values, written together by the store.
  int32_t PutRegStrings(RegistryKey hKey, const std::string& SubKey, const TextValues& values);
  RegistryStore& m_store;
};

}  // namespace ravelon

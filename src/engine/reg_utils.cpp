#include "engine/reg_utils.h"

namespace ravelon {
namespace {

// The registry functions take names as zero-terminated strings, so a name
// ends at its first zero byte.
std::string CString(const std::string& text) { return text.substr(0, text.find('\0')); }

}  // namespace

bool RegUtils::RegEnumerateStringValues(const std::string& section,
                                        std::shared_ptr<StringPairList>& values) {
  values = std::make_shared<StringPairList>();
  values->Clear();
  RegistryKey key = 0;
  if (m_store.OpenKey(kHkeyLocalMachine, CString(section), key) != kRegSuccess) return false;
  std::string data(1, '\0');
  bool added = true;
  for (uint32_t i = 0; added; ++i) {
    // First the size of the data, then the value into a buffer that holds it.
    std::string name;
    uint32_t type = kRegNone;
    uint32_t size = 0;
    int32_t result = m_store.EnumValue(key, i, name, type, nullptr, size);
    if (result == kRegSuccess) {
      if (data.size() < size) data.assign(size + 1, '\0');
      size = static_cast<uint32_t>(data.size());
      result = m_store.EnumValue(key, i, name, type, data.data(), size);
    }
    if (result != kRegSuccess) break;
    if (type != kRegSz) continue;
    // The data ends with the text's terminating zero.
    added = values->Add({name, data.substr(0, size > 0 ? size - 1 : 0)});
  }
  m_store.CloseKey(key);
  return added;
}

bool RegUtils::keyExists(const std::string& strKey) {
  RegistryKey key = 0;
  if (m_store.OpenKey(kHkeyLocalMachine, CString(strKey), key) != kRegSuccess) return false;
  m_store.CloseKey(key);
  return true;
}

void RegUtils::RegEnumerateKey(const std::string& section, std::vector<std::string>& keys) {
  keys.assign(1, "");
  RegistryKey key = 0;
  if (m_store.OpenKey(kHkeyLocalMachine, CString(section), key) != kRegSuccess) return;
  std::string name;
  // The store keeps key names within kMaxKeyNameLength, the buffer size the
  // names are read into.
  for (uint32_t i = 0; m_store.EnumKey(key, i, name) == kRegSuccess; ++i) keys.push_back(name);
  m_store.CloseKey(key);
}

std::string RegUtils::Registry_Get(const std::string& key, const std::string& Name,
                                   const std::string& DefaultValue) {
  std::string result;
  int32_t type = 0;
  GetRegString(kHkeyLocalMachine, key, Name, DefaultValue, result, type);
  return result;
}

int32_t RegUtils::Registry_Set(const std::string& key, const std::string& Name,
                               const std::string& value) {
  return PutRegString(kHkeyLocalMachine, key, Name, value);
}

RegUtils::TextValues RegUtils::Registry_GetAll(const std::string& key) {
  TextValues texts;
  RegistryKey handle = 0;
  if (m_store.OpenKey(kHkeyLocalMachine, CString(key), handle) != kRegSuccess) return texts;
  std::vector<RegistryValue> values;
  if (m_store.ReadValues(handle, values) == kRegSuccess) {
    for (RegistryValue& value : values) {
      if (!value.data.empty()) texts.emplace_back(std::move(value.name), CString(value.data));
    }
  }
  m_store.CloseKey(handle);
  return texts;
}

int32_t RegUtils::Registry_SetAll(const std::string& key, const TextValues& values) {
  return PutRegStrings(kHkeyLocalMachine, key, values);
}

int32_t RegUtils::PutRegString(RegistryKey hKey, const std::string& SubKey, const std::string& Name,
                               const std::string& value) {
  return PutRegStrings(hKey, SubKey, {{Name, value}});
}

int32_t RegUtils::PutRegStrings(RegistryKey hKey, const std::string& SubKey,
                                const TextValues& values) {
  RegistryKey key = 0;
  int32_t result = m_store.CreateKey(hKey, CString(SubKey), key);
  if (result != kRegSuccess) return result;
  std::vector<RegistryValue> written;
  for (const auto& [name, text] : values) written.push_back({CString(name), kRegSz, text + '\0'});
  result = m_store.SetValues(key, written);
  if (result == kRegSuccess) result = m_store.FlushKey(hKey);
  m_store.CloseKey(key);
  return result;
}

std::string RegUtils::GetRegString(RegistryKey hKey, const std::string& SubKey,
                                   const std::string& Name, const std::string& DefaultValue,
                                   std::string& ResultValue, int32_t& ResultDataType) {
  ResultValue = DefaultValue;
  RegistryKey key = 0;
  int32_t result = m_store.OpenKey(hKey, CString(SubKey), key);
  if (result != kRegSuccess) return std::to_string(result);
  const std::string name = CString(Name);
  uint32_t type = kRegNone;
  uint32_t size = 0;
  result = m_store.QueryValue(key, name, type, nullptr, size);
  if (result == kRegSuccess || result == kRegMoreData) {
    ResultDataType = static_cast<int32_t>(type);
    result = kRegSuccess;
    if (size > 0) {
      std::string buffer(size, '\0');
      result = m_store.QueryValue(key, name, type, buffer.data(), size);
      // The value may have grown meanwhile; then the default stands.
      if (result == kRegSuccess) ResultValue = CString(buffer);
    }
  }
  m_store.CloseKey(key);
  return std::to_string(result);
}

}  // namespace ravelon

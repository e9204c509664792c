#include "parsing/parameter_list.h"

#include <stdexcept>
#include <string_view>

namespace ravelon {
namespace {

std::string FoldAsciiCase(std::string_view text) {
  std::string folded(text);
  for (char& c : folded) {
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
  }
  return folded;
}

// Removes leading and trailing space characters (0x20) only.
std::string_view TrimSpaces(std::string_view text) {
  const size_t first = text.find_first_not_of(' ');
  if (first == std::string_view::npos) return {};
  const size_t last = text.find_last_not_of(' ');
  return text.substr(first, last - first + 1);
}

}  // namespace

ParameterList::ParameterList() { Clear(); }

void ParameterList::Clear() {
  // resize keeps the vector's capacity, so the next part's headers reuse it.
  m_entries.resize(1);
  m_entries[0] = Entry();
}

int32_t ParameterList::getParameterCount() const {
  return static_cast<int32_t>(m_entries.size()) - 1;
}

bool ParameterList::parameterExists(const std::string& ParameterName) const {
  return getParameterIndex(ParameterName) >= 1;
}

const ParameterList::Entry& ParameterList::EntryAt(int32_t index) const {
  if (index < 0 || index > getParameterCount()) {
    throw std::out_of_range("ParameterList index " + std::to_string(index) + " outside 0.." +
                            std::to_string(getParameterCount()));
  }
  return m_entries[static_cast<size_t>(index)];
}

const std::string& ParameterList::getParameterValueByIndex(int32_t index) const {
  return EntryAt(index).value;
}

void ParameterList::getParameter(int32_t index, std::string& ParameterName,
                                 std::string& ParameterValue) const {
  const Entry& entry = EntryAt(index);
  ParameterName = entry.name;
  ParameterValue = entry.value;
}

std::string ParameterList::ParameterToString(int32_t index,
                                             const std::string& FieldSplitter) const {
  const Entry& entry = EntryAt(index);
  std::string text;
  text.reserve(entry.name.size() + FieldSplitter.size() + entry.value.size());
  text.append(entry.name).append(FieldSplitter).append(entry.value);
  return text;
}

bool ParameterList::getParameterByName(const std::string& ParameterName,
                                       std::string& ResultValue) const {
  const int32_t index = getParameterIndex(ParameterName);
  if (index < 1) return false;
  ResultValue = m_entries[static_cast<size_t>(index)].value;
  return true;
}

int32_t ParameterList::getParameterIndex(const std::string& ParameterName) const {
  const std::string key = FoldAsciiCase(ParameterName);
  for (size_t i = 1; i < m_entries.size(); ++i) {
    if (m_entries[i].key == key) return static_cast<int32_t>(i);
  }
  return -1;
}

void ParameterList::SetParameter(const std::string& ParameterName,
                                 const std::string& ParameterValue) {
  const int32_t index = getParameterIndex(ParameterName);
  if (index >= 1) {
    m_entries[static_cast<size_t>(index)].value = ParameterValue;
  } else {
    Append(ParameterName, ParameterValue);
  }
}

bool ParameterList::AddParameter(const std::string& ParameterName,
                                 const std::string& ParameterValue) {
  if (parameterExists(ParameterName)) return false;
  Append(ParameterName, ParameterValue);
  return true;
}

bool ParameterList::AddParameterFromString(const std::string& dataString,
                                           const std::string& FieldSplitter) {
  const size_t split = dataString.find(FieldSplitter);
  if (split == std::string::npos) return false;
  const std::string_view text(dataString);
  Append(std::string(TrimSpaces(text.substr(0, split))),
         std::string(TrimSpaces(text.substr(split + FieldSplitter.size()))));
  return true;
}

void ParameterList::Append(const std::string& name, const std::string& value) {
  m_entries.push_back(Entry{name, value, FoldAsciiCase(name)});
}

}  // namespace ravelon

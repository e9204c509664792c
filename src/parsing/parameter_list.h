// An ordered list of name/value pairs with case-insensitive lookup by name.
// The engine keeps one for the header fields of the stream part it is parsing:
// the part stage fills it from the part's header lines and looks up
// "content-type" in it, once per part.
//
// Owned by one engine; used on its thread.
//
// Entries sit at indices 1 ... count in the order they were added; index 0
// always exists and holds empty strings. Entries are only removed all at once,
// by Clear. Names may repeat (AddParameterFromString does not look for an
// existing entry); every lookup by name finds the entry with the lowest index.
//
// Names compare case-insensitively by folding the ASCII letters A-Z to a-z;
// every other byte, including the bytes of non-ASCII letters, compares as it
// is. The folded key is kept with each entry, so a lookup folds only the name
// it looks for and then scans the keys.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace ravelon {

class ParameterList {
 public:
  // A new list is empty.
  ParameterList();

  // Empties the list: count becomes 0 and the next entry takes index 1.
  void Clear();

  int32_t getParameterCount() const;

  // True when an entry of that name (case-insensitive) exists.
  bool parameterExists(const std::string& ParameterName) const;

  // The accessors by index accept 0 ... count; index 0 yields empty strings.
  // Any other index is a caller error: they throw std::out_of_range (the only
  // exception this library throws) and change nothing.

  // The value at `index`; the reference is valid until the list changes.
  const std::string& getParameterValueByIndex(int32_t index) const;
  void getParameter(int32_t index, std::string& ParameterName, std::string& ParameterValue) const;
  // Name, splitter and value joined with nothing added between them.
  std::string ParameterToString(int32_t index, const std::string& FieldSplitter) const;

  // Sets `ResultValue` to the value of the first entry of that name and
  // returns true; returns false and leaves `ResultValue` alone if none exists.
  bool getParameterByName(const std::string& ParameterName, std::string& ResultValue) const;

  // Index of the first entry of that name, or -1 when there is none.
  int32_t getParameterIndex(const std::string& ParameterName) const;

  // Replaces the value of the first entry of that name (its stored name keeps
  // its case), or appends a new entry when the name is not there yet.
  void SetParameter(const std::string& ParameterName, const std::string& ParameterValue);

  // Appends a new entry and returns true; returns false and changes nothing
  // when the name already exists.
  bool AddParameter(const std::string& ParameterName, const std::string& ParameterValue);

  // Splits `dataString` at the first occurrence of `FieldSplitter` (compared
  // byte for byte) and appends the part before it as the name and the part
  // after it as the value, each with leading and trailing spaces removed (only
  // the space character; tabs stay). Later splitters stay in the value. No
  // check for an existing entry is made, so this can add a second entry of a
  // name. Returns false and adds nothing when the splitter does not occur. An
  // empty splitter occurs at the start, giving an empty name.
  bool AddParameterFromString(const std::string& dataString, const std::string& FieldSplitter);

 private:
  struct Entry {
    std::string name;  // as given, or trimmed for AddParameterFromString
    std::string value;
    std::string key;  // `name` with A-Z folded to a-z
  };

  // The entry at `index` in 0 ... count; throws std::out_of_range otherwise.
  const Entry& EntryAt(int32_t index) const;
  void Append(const std::string& name, const std::string& value);

  // m_entries[0] is the empty slot 0; the count is size() - 1.
  std::vector<Entry> m_entries;
};

}  // namespace ravelon

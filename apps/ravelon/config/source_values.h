// The values a source's key holds (all text values), what the engine makes of
// each, and the checks `config set` and `config add-source` apply before
// writing one. The engine falls back to a default on a bad value without a
// word, so the command refuses it with the reason instead. Pure; any thread.
#pragma once

#include <cstdint>
#include <span>
#include <string>
#include <string_view>

namespace ravelon::cli {

enum class SourceValueKind {
  kText,         // any text
  kSwitch,       // "1" on, "0" off
  kNumber,       // a whole number from min to max
  kFolder,       // a folder, stored absolute with a trailing "/"
  kSchedule,     // hex text of the binary weekly schedule
  kEngineState,  // written by the engine itself; any text
};

struct SourceValueInfo {
  std::string_view name;  // as stored
  std::string_view flag;  // add-source's option without "--"; "" for none
  SourceValueKind kind;
  int64_t min = 0, max = 0;  // kNumber
  bool has_default = false;  // add-source writes `fallback` when not given
  std::string_view fallback;
  std::string_view help;
};

// Every value, in the order add-source writes them.
std::span<const SourceValueInfo> SourceValues();

// The value called `name` (letter case ignored, as the store does); nullptr
// when a source has no such value.
const SourceValueInfo* FindSourceValue(std::string_view name);

// "Url, Streaming, ..." for messages.
std::string SourceValueNames();

// Checks `text` as a value of `info` and returns what to store: numbers
// without leading zeros, a folder made absolute with its trailing "/", hex in
// upper case. Throws CommandError that says what is wrong, naming the value
// as `label` (the value's name, or the option that gave it).
std::string CheckSourceValue(const SourceValueInfo& info, const std::string& text,
                             const std::string& label);

// Throws CommandError unless `name` can name a source's key.
void CheckSourceName(const std::string& name);

}  // namespace ravelon::cli

// Windows registry text files (.reg), translated to and from a list of
// registry operations. Pure functions: no store, no command line and no files
// behind them, so that `config import` / `config export`, the tests and the
// fuzz target all drive the same code. Any thread.
//
// Read: a "REGEDIT4" or "Windows Registry Editor Version 5.00" header; the
// text as UTF-16LE with a byte-order mark (as Windows writes it) or as
// UTF-8/ASCII (a UTF-8 byte-order mark is skipped); [HKEY_LOCAL_MACHINE\...]
// and [HKEY_CURRENT_USER\...] key lines and [-KEY] deletions; value lines
// "name"="text" (escapes \\ and \"), @= for the default value,
// "name"=dword:0000abcd, "name"=hex:aa,bb and hex(N):aa,bb (N the value type
// in hex, the bytes kept as written), "name"=- deletions; ';' comments; a hex
// list continued on the next line after a trailing backslash.
//
// Written: the "Windows Registry Editor Version 5.00" header in UTF-8 with
// "\n" line ends. Text values that a quoted string cannot carry (a line
// break, a zero byte inside, no terminating zero) are written as hex(1):
// bytes, so that reading the file back gives the same bytes.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace ravelon::cli {

// The largest .reg file read: a registry export of every source of a host is a
// few kilobytes; 16 MiB keeps the whole file and its parsed copy in memory
// without a second thought and still takes any real export.
inline constexpr size_t kMaxRegFileBytes = size_t{16} << 20;

// The deepest key read: Windows itself refuses registry trees deeper than 512
// levels, so no file it wrote goes further.
inline constexpr size_t kMaxRegKeyDepth = 512;

// The most errors reported for one file: a file that is not a .reg file at
// all (a JPEG given by mistake) would otherwise give one message per line.
inline constexpr size_t kMaxReportedRegErrors = 20;

enum class RegHive { kLocalMachine, kCurrentUser };

struct RegOperation {
  enum Kind { kCreateKey, kDeleteKey, kSetValue, kDeleteValue };

  Kind kind = kCreateKey;
  RegHive hive = RegHive::kLocalMachine;
  std::string key{};   // below the hive, names joined by one "\", none empty
  std::string name{};  // kSetValue, kDeleteValue: the value's name, "" for the default
  uint32_t type = 0;   // kSetValue: a RegistryType, or any type a hex(N) gave
  std::string data{};  // kSetValue: the bytes as the store keeps them
  int line = 0;        // the line it was read from; 0 when not read from a file

  // Equal in everything but the line.
  bool SameAs(const RegOperation& other) const;
};

struct RegParseError {
  int line = 0;  // 0: the file as a whole
  std::string message;
};

struct RegParseResult {
  std::vector<RegOperation> operations;  // in file order; incomplete when errors is not empty
  std::vector<RegParseError> errors;     // at most kMaxReportedRegErrors
};

// Reads a whole .reg file.
RegParseResult ParseRegFile(std::string_view bytes);

// True when `name`, a key or value name, can be written into a .reg file and
// read back the same: it holds no line break and no zero byte.
bool IsWritableRegName(std::string_view name);

// Writes `operations` as a .reg file that ParseRegFile reads back to the same
// operations, each kSetValue and kDeleteValue following the kCreateKey of its
// key. Requires every name to be writable (IsWritableRegName) and no
// kDeleteKey of a whole hive.
std::string FormatRegFile(const std::vector<RegOperation>& operations);

// "HKEY_LOCAL_MACHINE" or "HKEY_CURRENT_USER".
std::string_view HiveName(RegHive hive);

// A value's data as a .reg file writes it after "=": "text" (with escapes),
// dword:0000abcd, hex:aa,bb or hex(N):aa,bb, on one line.
std::string FormatRegData(uint32_t type, std::string_view data);

}  // namespace ravelon::cli

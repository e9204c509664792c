// Writes operations as a .reg file, in the layout regedit itself exports:
// a blank line before each [KEY], hex lists broken after a comma near column
// 76 and continued with two spaces.
#include <cstdio>

#include "config/reg_file.h"
#include "ravelon/registry_store.h"

namespace ravelon::cli {
namespace {

// Where regedit breaks a long hex list; kept for files that people compare.
constexpr size_t kHexLineWidth = 76;

std::string Quote(std::string_view text) {
  std::string quoted = "\"";
  for (const char c : text) {
    if (c == '\\' || c == '"') quoted += '\\';
    quoted += c;
  }
  return quoted + "\"";
}

// A text value that a quoted string carries unchanged: exactly one zero byte,
// at the end, and no line break.
bool IsQuotableText(std::string_view data) {
  if (data.empty() || data.back() != '\0') return false;
  data.remove_suffix(1);
  return data.find_first_of(std::string_view("\0\r\n", 3)) == std::string_view::npos;
}

std::string Hex(uint32_t value, const char* format) {
  char digits[16];
  std::snprintf(digits, sizeof digits, format, value);
  return digits;
}

// Breaks `line` after the commas of its hex list (which begins at
// `data_start`) so that no line runs far past kHexLineWidth.
std::string WrapHexList(const std::string& line, size_t data_start) {
  std::string wrapped;
  size_t column = 0;
  for (size_t i = 0; i < line.size(); ++i) {
    wrapped += line[i];
    ++column;
    if (line[i] == ',' && i >= data_start && column >= kHexLineWidth && i + 1 < line.size()) {
      wrapped += "\\\n  ";
      column = 2;
    }
  }
  return wrapped;
}

std::string KeyHeader(const RegOperation& op) {
  std::string header(HiveName(op.hive));
  if (!op.key.empty()) header += "\\" + op.key;
  return header;
}

}  // namespace

std::string_view HiveName(RegHive hive) {
  return hive == RegHive::kCurrentUser ? "HKEY_CURRENT_USER" : "HKEY_LOCAL_MACHINE";
}

bool IsWritableRegName(std::string_view name) {
  return name.find_first_of(std::string_view("\0\r\n", 3)) == std::string_view::npos;
}

std::string FormatRegData(uint32_t type, std::string_view data) {
  if (type == kRegSz && IsQuotableText(data)) return Quote(data.substr(0, data.size() - 1));
  if (type == kRegDword && data.size() == 4) {
    uint32_t value = 0;
    for (int i = 3; i >= 0; --i) value = value << 8 | static_cast<uint8_t>(data[i]);
    return "dword:" + Hex(value, "%08x");
  }
  std::string text = type == kRegBinary ? "hex:" : "hex(" + Hex(type, "%x") + "):";
  for (size_t i = 0; i < data.size(); ++i) {
    if (i > 0) text += ',';
    text += Hex(static_cast<uint8_t>(data[i]), "%02x");
  }
  return text;
}

std::string FormatRegFile(const std::vector<RegOperation>& operations) {
  std::string out = "Windows Registry Editor Version 5.00\n";
  std::string section;  // the [KEY] that value lines go under; "" after a deletion
  for (const RegOperation& op : operations) {
    const std::string header = KeyHeader(op);
    if (op.kind == RegOperation::kDeleteKey) {
      out += "\n[-" + header + "]\n";
      section.clear();
      continue;
    }
    if (op.kind == RegOperation::kCreateKey || header != section) {
      out += "\n[" + header + "]\n";
      section = header;
    }
    if (op.kind == RegOperation::kCreateKey) continue;
    std::string line = op.name.empty() ? "@=" : Quote(op.name) + "=";
    const size_t data_start = line.size();
    line += op.kind == RegOperation::kDeleteValue ? "-" : FormatRegData(op.type, op.data);
    out += (line.compare(data_start, 3, "hex") == 0 ? WrapHexList(line, data_start) : line) + "\n";
  }
  return out;
}

}  // namespace ravelon::cli

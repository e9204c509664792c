// Reads a .reg file line by line into operations. A broken line is reported
// with its number and reading goes on, so that one run shows every mistake
// (up to kMaxReportedRegErrors); the values under a broken [KEY] line are
// checked but not kept.
#include <cctype>
#include <cstdint>

#include "cli/text.h"
#include "config/reg_file.h"
#include "config/utf16_text.h"
#include "ravelon/registry_store.h"

namespace ravelon::cli {
namespace {

constexpr std::string_view kHeaders[] = {"REGEDIT4", "Windows Registry Editor Version 5.00"};
constexpr std::string_view kBlanks = " \t";

std::string_view TrimLeft(std::string_view text) {
  const size_t first = text.find_first_not_of(kBlanks);
  return first == std::string_view::npos ? std::string_view{} : text.substr(first);
}

std::string_view TrimRight(std::string_view text) {
  const size_t last = text.find_last_not_of(kBlanks);
  return last == std::string_view::npos ? std::string_view{} : text.substr(0, last + 1);
}

std::string_view Trim(std::string_view text) { return TrimRight(TrimLeft(text)); }

// The value of 1..max_digits hex digits, or -1.
int64_t HexNumber(std::string_view digits, size_t max_digits) {
  if (digits.empty() || digits.size() > max_digits) return -1;
  int64_t value = 0;
  for (const char c : digits) {
    if (!std::isxdigit(static_cast<unsigned char>(c))) return -1;
    value = value * 16 +
            (std::isdigit(static_cast<unsigned char>(c)) ? c - '0' : (c | 0x20) - 'a' + 10);
  }
  return value;
}

// Thrown inside the parser for one broken line; never leaves it.
struct BadLine {
  std::string message;
};

class Parser {
 public:
  explicit Parser(std::string_view text) {
    for (size_t start = 0; start <= text.size();) {
      size_t end = text.find('\n', start);
      if (end == std::string_view::npos) end = text.size();
      std::string_view line = text.substr(start, end - start);
      if (line.ends_with('\r')) line.remove_suffix(1);
      m_lines.push_back(line);
      start = end + 1;
    }
  }

  RegParseResult Run() {
    if (!FindHeader()) return std::move(m_result);
    for (++m_index; m_index < m_lines.size(); ++m_index) {
      const std::string_view line = Trim(m_lines[m_index]);
      if (line.empty() || line.front() == ';') continue;
      const size_t first_line = m_index;
      try {
        if (line.front() == '[') {
          ParseKeyLine(line);
        } else if (line.front() == '"' || line.front() == '@') {
          ParseValueLine(line, static_cast<int>(first_line + 1));
        } else {
          throw BadLine{"expected a [KEY] line, a \"name\"=value line or a ; comment"};
        }
      } catch (const BadLine& bad) {
        m_result.errors.push_back({static_cast<int>(m_index + 1), bad.message});
        if (m_result.errors.size() >= kMaxReportedRegErrors) break;
      }
    }
    return std::move(m_result);
  }

 private:
  enum class Section { kNone, kKey, kDeletedKey, kBrokenKey };

  bool FindHeader() {
    while (m_index < m_lines.size() && Trim(m_lines[m_index]).empty()) ++m_index;
    if (m_index == m_lines.size()) {
      m_result.errors.push_back({1, "the file is empty; a .reg file begins with REGEDIT4"});
      return false;
    }
    const std::string_view first = Trim(m_lines[m_index]);
    for (const std::string_view header : kHeaders) {
      if (EqualsNoCase(first, header)) return true;
    }
    std::string message =
        "a .reg file begins with REGEDIT4 or Windows Registry Editor Version 5.00";
    if (first.find('\0') != std::string_view::npos)
      message += " (this looks like UTF-16 without its byte-order mark)";
    m_result.errors.push_back({static_cast<int>(m_index + 1), message});
    return false;
  }

  void ParseKeyLine(std::string_view line) {
    m_section = Section::kBrokenKey;
    if (line.back() != ']') throw BadLine{"a key line needs a closing ']'"};
    std::string_view inner = line.substr(1, line.size() - 2);
    RegOperation op;
    op.line = static_cast<int>(m_index + 1);
    op.kind = RegOperation::kCreateKey;
    if (inner.starts_with('-')) {
      op.kind = RegOperation::kDeleteKey;
      inner.remove_prefix(1);
    }
    std::vector<std::string_view> names;
    for (size_t start = 0; start <= inner.size();) {
      size_t end = inner.find('\\', start);
      if (end == std::string_view::npos) end = inner.size();
      if (end > start) names.push_back(inner.substr(start, end - start));
      start = end + 1;
    }
    if (names.empty()) throw BadLine{"a key line needs a root, as in [HKEY_LOCAL_MACHINE\\...]"};
    if (EqualsNoCase(names[0], "HKEY_LOCAL_MACHINE")) {
      op.hive = RegHive::kLocalMachine;
    } else if (EqualsNoCase(names[0], "HKEY_CURRENT_USER")) {
      op.hive = RegHive::kCurrentUser;
    } else {
      throw BadLine{"unknown root '" + std::string(names[0]) +
                    "': the store holds HKEY_LOCAL_MACHINE and HKEY_CURRENT_USER"};
    }
    if (names.size() - 1 > kMaxRegKeyDepth)
      throw BadLine{"the key is more than " + std::to_string(kMaxRegKeyDepth) + " levels deep"};
    for (size_t i = 1; i < names.size(); ++i) {
      if (names[i].size() > kMaxKeyNameLength)
        throw BadLine{"a key name is longer than " + std::to_string(kMaxKeyNameLength) + " bytes"};
      if (i > 1) op.key += '\\';
      op.key += names[i];
    }
    if (op.kind == RegOperation::kDeleteKey && op.key.empty())
      throw BadLine{"a whole root cannot be deleted"};
    m_hive = op.hive;
    m_key = op.key;
    m_section = op.kind == RegOperation::kDeleteKey ? Section::kDeletedKey : Section::kKey;
    m_result.operations.push_back(std::move(op));
  }

  void ParseValueLine(std::string_view line, int line_number) {
    if (m_section == Section::kNone) throw BadLine{"a value line needs a [KEY] line above it"};
    if (m_section == Section::kDeletedKey)
      throw BadLine{"a value line cannot follow a [-KEY] deletion"};
    RegOperation op;
    op.kind = RegOperation::kSetValue;
    op.hive = m_hive;
    op.key = m_key;
    op.line = line_number;
    size_t pos = 1;  // past the @
    if (line.front() == '"') {
      pos = 0;
      op.name = ParseQuoted(line, pos, "a value name");
    }
    while (pos < line.size() && kBlanks.find(line[pos]) != std::string_view::npos) ++pos;
    if (pos == line.size() || line[pos] != '=')
      throw BadLine{line.front() == '@' ? "a value line needs '=' after @"
                                        : "a value line needs '=' after the quoted name"};
    const std::string_view data = Trim(line.substr(pos + 1));
    if (data == "-") {
      op.kind = RegOperation::kDeleteValue;
    } else if (data.starts_with('"')) {
      size_t end = 0;
      op.type = kRegSz;
      op.data = ParseQuoted(data, end, "a text value");
      op.data += '\0';
      if (end != data.size()) throw BadLine{"unexpected text after the closing quote"};
    } else if (StartsWithNoCase(data, "dword:")) {
      const int64_t value = HexNumber(data.substr(6), 8);
      if (value < 0) throw BadLine{"dword: needs 1 to 8 hex digits, as in dword:0000001e"};
      op.type = kRegDword;
      for (int shift = 0; shift < 32; shift += 8) op.data += static_cast<char>(value >> shift);
    } else if (StartsWithNoCase(data, "hex:")) {
      op.type = kRegBinary;
      op.data = ParseHexList(data.substr(4));
    } else if (StartsWithNoCase(data, "hex(")) {
      const size_t close = data.find("):");
      const int64_t type =
          close == std::string_view::npos ? -1 : HexNumber(data.substr(4, close - 4), 8);
      if (type < 0) throw BadLine{"hex(N): needs the type N as 1 to 8 hex digits, as in hex(2):"};
      op.type = static_cast<uint32_t>(type);
      op.data = ParseHexList(data.substr(close + 2));
    } else if (data.empty()) {
      throw BadLine{"the value after '=' is missing"};
    } else {
      throw BadLine{"a value is \"text\", dword:, hex:, hex(N): or - (to delete it)"};
    }
    if (m_section == Section::kKey) m_result.operations.push_back(std::move(op));
  }

  // The text between the quote at `pos` and its closing quote; `pos` ends
  // just past the closing quote.
  static std::string ParseQuoted(std::string_view line, size_t& pos, const std::string& what) {
    std::string text;
    for (++pos; pos < line.size();) {
      const char c = line[pos++];
      if (c == '"') return text;
      if (c != '\\') {
        text += c;
        continue;
      }
      if (pos < line.size() && (line[pos] == '\\' || line[pos] == '"')) {
        text += line[pos++];
        continue;
      }
      const std::string escape = pos < line.size() ? std::string(1, line[pos]) : std::string();
      throw BadLine{"unknown escape \\" + escape + " in " + what +
                    ": write a backslash as \\\\ and a quote as \\\""};
    }
    throw BadLine{what + " needs its closing quote"};
  }

  // The bytes of "aa,bb,...", following a trailing backslash onto the next
  // lines. Leaves m_index on the last line read.
  std::string ParseHexList(std::string_view list) {
    std::string bytes;
    for (;;) {
      list = Trim(list);
      const bool continued = list.ends_with('\\');
      if (continued) list = TrimRight(list.substr(0, list.size() - 1));
      for (size_t start = 0; start < list.size();) {
        size_t comma = list.find(',', start);
        if (comma == std::string_view::npos) comma = list.size();
        const std::string_view token = Trim(list.substr(start, comma - start));
        start = comma + 1;
        if (token.empty()) throw BadLine{"an empty byte between commas in a hex list"};
        const int64_t byte = HexNumber(token, 2);
        if (byte < 0) throw BadLine{"'" + std::string(token) + "' is not a hex byte such as 0f"};
        bytes += static_cast<char>(byte);
      }
      if (!continued) return bytes;
      if (m_index + 1 == m_lines.size())
        throw BadLine{"the file ends inside a hex list continued with '\\'"};
      list = m_lines[++m_index];
    }
  }

  std::vector<std::string_view> m_lines;
  size_t m_index = 0;
  Section m_section = Section::kNone;
  RegHive m_hive = RegHive::kLocalMachine;
  std::string m_key;
  RegParseResult m_result;
};

}  // namespace

bool RegOperation::SameAs(const RegOperation& other) const {
  return kind == other.kind && hive == other.hive && key == other.key && name == other.name &&
         type == other.type && data == other.data;
}

RegParseResult ParseRegFile(std::string_view bytes) {
  if (bytes.size() > kMaxRegFileBytes) {
    return {{},
            {{0, "the file is larger than " + std::to_string(kMaxRegFileBytes >> 20) +
                     " MiB, more than any registry export of sources"}}};
  }
  std::string text;
  int line = 0;
  const std::string problem = DecodeTextFile(bytes, text, line);
  if (!problem.empty()) return {{}, {{line, problem}}};
  return Parser(text).Run();
}

}  // namespace ravelon::cli

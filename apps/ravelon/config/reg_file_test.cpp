#include "config/reg_file.h"

#include <gtest/gtest.h>

#include <ranges>

#include "config/registry_tree.h"
#include "ravelon/registry_store.h"

namespace ravelon::cli {
namespace {

// The operations, one after another with "; " between them, each as
// "set HKLM\A\B name 1 616200".
std::string Describe(const std::vector<RegOperation>& ops) {
  static const char* kKinds[] = {"create", "delete", "set", "unset"};
  std::string text;
  for (const RegOperation& op : ops) {
    text += (text.empty() ? "" : "; ") + std::string(kKinds[op.kind]) +
            (op.hive == RegHive::kLocalMachine ? " HKLM\\" : " HKCU\\") + op.key;
    if (op.kind == RegOperation::kSetValue || op.kind == RegOperation::kDeleteValue)
      text += " " + op.name;
    if (op.kind != RegOperation::kSetValue) continue;
    text += " " + std::to_string(op.type) + " ";
    for (const unsigned char c : op.data)
      text += {"0123456789abcdef"[c >> 4], "0123456789abcdef"[c & 15]};
  }
  return text;
}

// ASCII text as Windows saves a version 5 file: UTF-16LE after FF FE.
std::string Utf16Le(std::string_view ascii) {
  std::string bytes = "\xFF\xFE";
  for (const char c : ascii) bytes += {c, '\0'};
  return bytes;
}

const std::string kV5 = "Windows Registry Editor Version 5.00\r\n\r\n";

TEST(RegFileTest, ReadsEveryForm) {
  const std::pair<std::string, std::string> cases[] = {
      // a file, the operations it holds
      // REGEDIT4 header, text value
      {"REGEDIT4\n[HKEY_LOCAL_MACHINE\\A]\n\"n\"=\"ab\"\n",
       "create HKLM\\A; set HKLM\\A n 1 616200"},
      // version 5, CRLF, default value, case of the root
      {kV5 + "[hkey_current_user\\A\\\\B\\]\r\n@=\"x\"\r\n",
       "create HKCU\\A\\B; set HKCU\\A\\B  1 7800"},
      // UTF-16LE with BOM
      {Utf16Le(kV5 + "[HKEY_LOCAL_MACHINE\\A]\r\n\"n\"=dword:0000001e\r\n"),
       "create HKLM\\A; set HKLM\\A n 4 1e000000"},
      // UTF-16LE outside ASCII: e acute, U+1F600 as a surrogate pair
      {Utf16Le("REGEDIT4\n[HKEY_LOCAL_MACHINE\\A]\n\"n\"=\"") +
           std::string("\xE9\x00\x3D\xD8\x00\xDE", 6) + Utf16Le("\"\n").substr(2),
       "create HKLM\\A; set HKLM\\A n 1 c3a9f09f988000"},
      // UTF-8 BOM, escapes, blanks around =
      {"\xEF\xBB\xBFREGEDIT4\n[HKEY_LOCAL_MACHINE\\A]\n  \"a\\\"b\" = \"C:\\\\x\\\"\"  \n",
       "create HKLM\\A; set HKLM\\A a\"b 1 433a5c782200"},
      // hex, hex(N), continuation, comments
      {kV5 + "; c\n[HKEY_LOCAL_MACHINE\\A]\n\"b\"=hex:01,02,\\\n  03,FF\n;x\n"
             "\"q\"=hex(b):aa,\\\n  bb\n\"e\"=hex:\n",
       "create HKLM\\A; set HKLM\\A b 3 010203ff; set HKLM\\A q 11 aabb; set HKLM\\A e 3 "},
      // deletions
      {kV5 + "[-HKEY_LOCAL_MACHINE\\A\\B]\n[HKEY_LOCAL_MACHINE\\A]\n\"n\"=-\n@=-\n",
       "delete HKLM\\A\\B; create HKLM\\A; unset HKLM\\A n; unset HKLM\\A "},
      // a ']' inside a key name
      {kV5 + "[HKEY_LOCAL_MACHINE\\a]b]\n", "create HKLM\\a]b"},
  };
  for (const auto& [file, ops] : cases) {
    const RegParseResult result = ParseRegFile(file);
    ASSERT_TRUE(result.errors.empty()) << ops << ": " << result.errors[0].message;
    EXPECT_EQ(Describe(result.operations), ops);
  }
}

TEST(RegFileTest, ReportsEachErrorWithItsLine) {
  const std::string key = "[HKEY_LOCAL_MACHINE\\A]\n";
  std::string deep;
  for (size_t i = 0; i <= kMaxRegKeyDepth; ++i) deep += "\\k";
  const std::tuple<std::string, int, std::string> cases[] = {
      // file, line, message
      {"", 1, "the file is empty"},
      {"\n\nREGEDIT5\n", 3, "begins with REGEDIT4"},
      {std::string("R\0E\0G\0", 6), 1, "UTF-16 without its byte-order mark"},
      {"\xFE\xFFxx", 1, "big-endian"},
      {"\xFF\xFE\x41", 0, "odd number of bytes"},
      {Utf16Le("REGEDIT4\n\n") + std::string("\x00\xDC", 2), 3, "lone surrogate"},
      {kV5 + "\"n\"=\"x\"\n", 3, "needs a [KEY] line above it"},
      {kV5 + key + "\"n\" \"x\"\n", 4, "needs '=' after the quoted name"},
      {kV5 + key + "@\n", 4, "needs '=' after @"},
      {kV5 + key + "\"n=\"x\"\n", 4, "'=' after the quoted name"},
      {kV5 + key + "\"n\"=\"C:\\dir\"\n", 4, "unknown escape \\d"},
      {kV5 + key + "\"n\"=\"x\n", 4, "a text value needs its closing quote"},
      {kV5 + key + "\"n\"=\"x\" y\n", 4, "after the closing quote"},
      {kV5 + key + "\"n\"=dword:123456789\n", 4, "1 to 8 hex digits"},
      {kV5 + key + "\"n\"=hex(x):00\n", 4, "hex(N): needs the type"},
      {kV5 + key + "\"n\"=hex:00,\\\n  0g\n", 5, "'0g' is not a hex byte"},
      {kV5 + key + "\"n\"=hex:00,,01\n", 4, "an empty byte"},
      {kV5 + key + "\"n\"=hex:00,\\", 4, "ends inside a hex list"},
      {kV5 + key + "\"n\"=\n", 4, "value after '=' is missing"},
      {kV5 + key + "\"n\"=word:1\n", 4, "a value is \"text\""},
      {kV5 + key + "n=1\n", 4, "expected a [KEY] line"},
      {kV5 + "[HKEY_LOCAL_MACHINE\\A\n", 3, "closing ']'"},
      {kV5 + "[HKEY_USERS\\A]\n", 3, "unknown root 'HKEY_USERS'"},
      {kV5 + "[\\]\n", 3, "needs a root"},
      {kV5 + "[-HKEY_CURRENT_USER]\n", 3, "a whole root"},
      {kV5 + "[HKEY_LOCAL_MACHINE\\" + std::string(256, 'k') + "]\n", 3, "longer than 255"},
      {kV5 + "[HKEY_LOCAL_MACHINE" + deep + "]\n", 3, "levels deep"},
      {kV5 + "[-HKEY_LOCAL_MACHINE\\A]\n\"n\"=\"x\"\n", 4, "cannot follow a [-KEY]"},
      {std::string(kMaxRegFileBytes + 1, ' '), 0, "larger than 16 MiB"},
  };
  for (const auto& [file, line, message] : cases) {
    const RegParseResult result = ParseRegFile(file);
    ASSERT_EQ(result.errors.size(), 1u) << message;
    EXPECT_EQ(result.errors[0].line, line) << message;
    EXPECT_NE(result.errors[0].message.find(message), std::string::npos)
        << result.errors[0].message;
  }
}

TEST(RegFileTest, KeepsReadingAfterAnErrorButNotPastTheLimit) {
  // Values under a broken key line are checked, not kept.
  RegParseResult result = ParseRegFile(kV5 + "[HKEY_USERS\\A]\n\"n\"=\"x\"\n\"m\"=zz\n");
  ASSERT_EQ(result.errors.size(), 2u);
  EXPECT_EQ(result.errors[1].line, 5);
  EXPECT_TRUE(result.operations.empty());

  std::string garbage = kV5;
  for (int i = 0; i < 100; ++i) garbage += "garbage\n";
  EXPECT_EQ(ParseRegFile(garbage).errors.size(), kMaxReportedRegErrors);
}

TEST(RegFileTest, WritesWhatItReadsBack) {
  const std::string key = "Ravelon\\Src\\cam \"1\"";
  const auto set = [&key](std::string name, uint32_t type, std::string data) {
    return RegOperation{
        .kind = RegOperation::kSetValue, .key = key, .name = name, .type = type, .data = data};
  };
  const std::vector<RegOperation> ops = {
      {.kind = RegOperation::kCreateKey, .key = key},
      set("Url", kRegSz, std::string("/a\\b \"q\"\0", 10)),
      set("", kRegSz, std::string("", 1)),
      set("two lines", kRegSz, std::string("a\r\nb\0", 5)),
      set("no zero", kRegSz, "abc"),
      set("inner zero", kRegSz, std::string("a\0b\0", 4)),
      set("d", kRegDword, std::string("\x01\x02\x03\xF4", 4)),
      set("short dword", kRegDword, "\x01"),
      set("long", kRegBinary, std::string(300, '\xAB')),
      set("odd,type", 0x1234, "\x00\x01"),
      {.kind = RegOperation::kCreateKey, .hive = RegHive::kCurrentUser},
      {.kind = RegOperation::kDeleteValue, .hive = RegHive::kCurrentUser, .name = "gone"},
      {.kind = RegOperation::kDeleteKey, .hive = RegHive::kCurrentUser, .key = "X"},
  };
  const std::string text = FormatRegFile(ops);
  const RegParseResult back = ParseRegFile(text);
  ASSERT_TRUE(back.errors.empty()) << back.errors[0].line << ": " << back.errors[0].message;
  EXPECT_EQ(Describe(back.operations), Describe(ops)) << text;
  for (const auto line : std::views::split(text, '\n'))
    EXPECT_LE(std::ranges::distance(line), 80) << "long hex lists are continued on the next line";
}

// Sets a value of HKEY_LOCAL_MACHINE\`path`.
void Set(RegistryStore& store, const std::string& path, const std::string& name, uint32_t type,
         const std::string& data) {
  RegistryKey key = 0;
  ASSERT_EQ(store.CreateKey(kHkeyLocalMachine, path, key), kRegSuccess);
  ASSERT_EQ(store.SetValue(key, name, type, data), kRegSuccess);
  store.CloseKey(key);
}

std::string ExportText(RegistryStore& store, RegHive hive, const std::string& path) {
  return FormatRegFile(ExportTree(store, hive, path));
}

TEST(RegistryTreeTest, ExportThenImportRestoresTheSameStore) {
  const auto original = NewMemoryRegistryStore();
  Set(*original, "Ravelon\\Src\\cam1", "Url", kRegSz, std::string("/v\0", 3));
  Set(*original, "Ravelon\\Src\\cam1", "Port", kRegSz, std::string("80\0", 3));
  Set(*original, "Ravelon\\Src\\cam1", "", kRegSz, std::string("x\ny\0", 4));
  Set(*original, "Ravelon\\Src\\B cam", "raw", kRegBinary, std::string(200, '\0'));
  Set(*original, "Ravelon\\Src\\B cam\\deeper", "d", kRegDword, "\1\2\3\4");
  Set(*original, "Ravelon\\Empty\\", "", 7, "");
  Set(*original, "Other", "not exported", kRegSz, std::string("\0", 1));

  const std::string text = ExportText(*original, RegHive::kLocalMachine, "\\Ravelon\\");
  const RegParseResult parsed = ParseRegFile(text);
  ASSERT_TRUE(parsed.errors.empty()) << parsed.errors[0].message;
  const auto copy = NewMemoryRegistryStore();
  ImportOperations(*copy, parsed.operations, "export.reg");

  EXPECT_EQ(ExportText(*copy, RegHive::kLocalMachine, "Ravelon"), text);
  EXPECT_NE(text.find("[HKEY_LOCAL_MACHINE\\Ravelon\\Src\\B cam]\n\"raw\"=hex:00"),
            std::string::npos)
      << "parents come before children, with their values: " << text;
  EXPECT_EQ(text.find("Other"), std::string::npos);
  RegistryKey other = 0;
  EXPECT_EQ(copy->OpenKey(kHkeyLocalMachine, "Other", other), kRegFileNotFound);
}

TEST(RegistryTreeTest, ImportDeletesKeysAndValues) {
  const auto store = NewMemoryRegistryStore();
  const RegParseResult parsed = ParseRegFile(
      "REGEDIT4\n[HKEY_LOCAL_MACHINE\\A\\B]\n\"n\"=\"1\"\n\"m\"=\"2\"\n"
      "[HKEY_LOCAL_MACHINE\\A\\B]\n\"n\"=-\n\"never\"=-\n[-HKEY_LOCAL_MACHINE\\A\\C]\n"
      "[HKEY_LOCAL_MACHINE\\D\\E]\n[-HKEY_LOCAL_MACHINE\\D]\n");
  ASSERT_TRUE(parsed.errors.empty());
  ImportOperations(*store, parsed.operations, "x.reg");
  const std::vector<RegOperation> left = ExportTree(*store, RegHive::kLocalMachine, "");
  ASSERT_EQ(left.size(), 4u);  // the root, A, B and its value m
  EXPECT_EQ(left[3].name, "m");
  RegistryKey key = 0;
  EXPECT_EQ(store->OpenKey(kHkeyLocalMachine, "D", key), kRegFileNotFound);
}

}  // namespace
}  // namespace ravelon::cli

#include "config/registry_tree.h"

#include <gtest/gtest.h>

namespace ravelon::cli {
namespace {

void Set(RegistryStore& store, RegistryKey root, const std::string& path, const std::string& name,
         uint32_t type, const std::string& data) {
  RegistryKey key = 0;
  ASSERT_EQ(store.CreateKey(root, path, key), kRegSuccess);
  ASSERT_EQ(store.SetValue(key, name, type, data), kRegSuccess);
  store.CloseKey(key);
}

std::string ExportText(RegistryStore& store, RegHive hive, const std::string& path) {
  return FormatRegFile(ExportTree(store, hive, path));
}

TEST(RegistryTreeTest, ExportThenImportRestoresTheSameStore) {
  const auto original = NewMemoryRegistryStore();
  Set(*original, kHkeyLocalMachine, "Ravelon\\Src\\cam1", "Url", kRegSz, std::string("/v\0", 3));
  Set(*original, kHkeyLocalMachine, "Ravelon\\Src\\cam1", "Port", kRegSz, std::string("80\0", 3));
  Set(*original, kHkeyLocalMachine, "Ravelon\\Src\\cam1", "", kRegSz, std::string("x\ny\0", 4));
  Set(*original, kHkeyLocalMachine, "Ravelon\\Src\\B cam", "raw", kRegBinary,
      std::string(200, '\0'));
  Set(*original, kHkeyLocalMachine, "Ravelon\\Src\\B cam\\deeper", "d", kRegDword, "\1\2\3\4");
  Set(*original, kHkeyLocalMachine, "Ravelon\\Empty\\", "", 7, "");
  Set(*original, kHkeyLocalMachine, "Other", "not exported", kRegSz, std::string("\0", 1));

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

#include "config/source_values.h"

#include <gtest/gtest.h>

#include <bit>
#include <filesystem>

#include "cli/command.h"

namespace ravelon::cli {
namespace {

// Hex of one schedule day: `count`, then each entry's time and action
// (little-endian, as the host's byte order).
std::string Day(uint32_t count, std::initializer_list<std::pair<double, char>> entries) {
  std::string bytes(reinterpret_cast<const char*>(&count), 4);
  for (const auto& [time, action] : entries)
    bytes += std::string(reinterpret_cast<const char*>(&time), 8) + action;
  std::string hex;
  for (const unsigned char c : bytes)
    hex += {"0123456789abcdef"[c >> 4], "0123456789abcdef"[c & 15]};
  return hex;
}

std::string Week(const std::string& day) { return day + day + day + day + day + day + day; }

TEST(SourceValuesTest, ChecksAndNormalisesEachKind) {
  const std::string normal = Day(1, {{0, 1}});
  std::string upper = Week(normal);
  for (char& c : upper) c = static_cast<char>(std::toupper(c));
  // A value's name, a text for it, the text stored ("" when refused), what the refusal says.
  const std::tuple<std::string, std::string, std::string, std::string> cases[] = {
      {"port", "8080", "8080", ""},
      {"Port", "00080", "80", ""},
      {"Port", "65536", "", "Port must be a whole number from 0 to 65535, not '65536'"},
      {"Port", "99999999999999999999", "", "whole number"},
      {"FileLimitValue", "0", "", "from 1 to 1999"},
      {"Streaming", "yes", "", "1 (on) or 0 (off)"},
      {"DoSave", "1", "1", ""},
      {"DBPath", "/data/store", "/data/store/", ""},
      {"DBPath", "/data/store/", "/data/store/", ""},
      {"DBPath", "rel/../store", std::filesystem::current_path().string() + "/store/", ""},
      {"DBPath", "", "", "needs a folder"},
      {"Url", "any text at all", "any text at all", ""},
      {"Schedule", "", "", ""},
      {"Schedule", Week(normal), upper, ""},
      {"Schedule", Week(Day(2, {{0, 3}, {3600.5, 2}})).substr(0, 20), "",
       "inside the entries on Monday"},
      {"Schedule", Week(normal) + "00", "", "bytes after Sunday"},
      {"Schedule", Week(normal).substr(0, 6 * normal.size()), "",
       "before the count of entries on Sunday"},
      {"Schedule", Day(0, {}), "", "1 to 1000 entries, not 0 on Monday"},
      {"Schedule", Week(Day(1, {{0, 4}})), "", "action is 1 (normal)"},
      {"Schedule", Week(Day(1, {{-1, 1}})), "", "0 to 86400 seconds"},
      {"Schedule", "0g", "", "hex text"},
      {"Schedule", "abc", "", "two digits per byte"},
  };
  for (const auto& [name, text, stored, error] : cases) {
    SCOPED_TRACE(name + " " + text.substr(0, 40));
    const SourceValueInfo* info = FindSourceValue(name);
    ASSERT_NE(info, nullptr);
    try {
      EXPECT_EQ(CheckSourceValue(*info, text, std::string(info->name)), stored);
      EXPECT_EQ(error, "");
    } catch (const CommandError& e) {
      EXPECT_NE(error, "") << e.what();
      EXPECT_NE(std::string(e.what()).find(error), std::string::npos) << e.what();
    }
  }
}

TEST(SourceValuesTest, SourceNamesMustMakeOneKey) {
  EXPECT_NO_THROW(CheckSourceName("Front door (cam 1)"));
  for (const std::string& bad :
       std::vector<std::string>{"", "a\\b", "tab\there", std::string(256, 'x')})
    EXPECT_THROW(CheckSourceName(bad), CommandError) << bad;
}

}  // namespace
}  // namespace ravelon::cli

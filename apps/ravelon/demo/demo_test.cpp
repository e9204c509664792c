// `ravelon demo` as a newcomer runs it: it records, its store verifies, its
// sheet is a JPEG; a folder it cannot make is refused with the reason.
#include <gtest/gtest.h>

#include <string>

#include "support/temp_folder.h"
#include "tests/command_process.h"

namespace ravelon::cli {
namespace {

using testing::RunCommand;
using namespace std::chrono_literals;

TEST(DemoTest, RecordsAStoreThatVerifiesAndASheet) {
  const ravelon::testing::TempFolder parent;
  const std::string folder = parent.Path("demo");
  const auto demo = RunCommand({"demo", "--folder", folder, "--seconds", "2"}, 60s);
  EXPECT_EQ(demo.status, 0) << demo.out << demo.err;
  EXPECT_NE(demo.out.find(": sound, "), std::string::npos) << demo.out;
  EXPECT_EQ(parent.Read("demo/sheet.jpg").substr(0, 2), "\xFF\xD8");

  const auto again = RunCommand({"demo", "--folder", folder, "--seconds", "1"});
  EXPECT_EQ(again.status, 1);
  EXPECT_NE(again.err.find("cannot make the folder " + folder + ": File exists"), std::string::npos)
      << again.err;
}

}  // namespace
}  // namespace ravelon::cli

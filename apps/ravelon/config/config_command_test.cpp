// End to end: the built `ravelon config` against a registry file in a
// temporary folder.
#include <gtest/gtest.h>

#include <filesystem>

#include "support/temp_folder.h"
#include "tests/command_process.h"

namespace ravelon::cli {
namespace {

class ConfigCommandTest : public ::testing::Test {
 protected:
  // Runs `ravelon config ARGS` in the test's folder, on reg.db unless ARGS name a registry.
  testing::CommandResult Config(std::string args) const {
    if (args.find("--registry") == std::string::npos) args += " --registry reg.db";
    return testing::RunCommand(testing::Words("config " + args), std::chrono::seconds(60),
                               folder_.Path());
  }

  ravelon::testing::TempFolder folder_;
};

TEST_F(ConfigCommandTest, StepsAgainstOneRegistry) {
  folder_.Write("good.reg",
                "Windows Registry Editor Version 5.00\r\n\r\n"
                "[HKEY_LOCAL_MACHINE\\Ravelon\\Src\\door]\r\n\"Url\"=\"/door.mjpg\"\r\n"
                "\"Port\"=\"81\"\r\n");
  folder_.Write(
      "broken.reg",
      "REGEDIT4\n[HKEY_LOCAL_MACHINE\\Ravelon\\Src\\yard]\n\"Url\"=\"/y\"\n\"Port\" \"1\"\n");
  folder_.Write("garbage.db", std::string(8192, 'x'));
  // Arguments (split at blanks), the exit status, and a text that must appear in standard output
  // (on success) or standard error.
  const std::tuple<std::string, int, std::string> steps[] = {
      {"list", 1, "cannot open the registry file"},
      {"list --registry garbage.db", 1, "registry"},
      {"add-source cam1 --url /v.mjpg --address 10.0.0.5 --port 8080 --no-streaming --store rec "
       "--password p\"w\\d",
       0, ""},
      {"list", 0, "cam1\n"},
      {"list cam1", 0,
       "Url = /v.mjpg\nStreaming = 0\nDBPath = " + folder_.Path("rec") + "/\nSaveInterval = 500\n"},
      {"get CAM1 port", 0, "8080\n"},
      {"get cam1 SrcID", 1, "source cam1 has no value SrcID"},
      {"get cam2 Url", 1, "no source cam2"},
      {"add-source cam1", 1, "exists already"},
      {"add-source cam3 --port 70000", 1, "--port must be a whole number from 0 to 65535"},
      {"list cam3", 1, "no source cam3"},
      {"set cam1 SaveInterval 0250", 0, ""},
      {"get cam1 SaveInterval", 0, "250\n"},
      {"set cam1 Port 65536", 1, "Port must be a whole number"},
      {"set cam1 Colour red", 1, "a source has no value called Colour"},
      {"set nosuch Url /x", 1, "no source nosuch"},
      {"import broken.reg", 1, "broken.reg:4: a value line needs '=' after the quoted name"},
      {"get yard Url", 1, "no source yard"},
      {"import good.reg", 0, ""},
      {"get door Url", 0, "/door.mjpg\n"},
      {"list", 0, "cam1\ndoor\n"},
      {"export --key HKEY_LOCAL_MACHINE\\Ravelon\\Src\\door", 0,
       "[HKEY_LOCAL_MACHINE\\Ravelon\\Src\\door]\n\"Url\"=\"/door.mjpg\"\n"},
      {"export --key Nowhere", 1, "there is no key HKEY_LOCAL_MACHINE\\Nowhere"},
      {"delete door url", 0, ""},
      {"get door Url", 1, "source door has no value Url"},
      {"delete door Colour", 1, "source door has no value Colour"},
      {"delete door", 0, ""},
      {"list", 0, "cam1\n"},
      {"export all.reg", 0, ""},
  };
  for (const auto& [args, status, said] : steps) {
    const auto run = Config(args);
    EXPECT_EQ(run.status, status) << args << ": " << run.err;
    EXPECT_NE((status == 0 ? run.out : run.err).find(said), std::string::npos)
        << args << ": " << run.out << run.err;
  }
  // An export is for its owner's eyes (it may hold passwords).
  const auto permissions = std::filesystem::status(folder_.Path("all.reg")).permissions();
  EXPECT_EQ(permissions & std::filesystem::perms::group_all, std::filesystem::perms::none);
  EXPECT_NE(folder_.Read("all.reg").find("\"Password\"=\"p\\\"w\\\\d\""), std::string::npos);
}

}  // namespace
}  // namespace ravelon::cli

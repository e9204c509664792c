// End to end: the built `ravelon config` against a registry file in a
// temporary folder.
#include <gtest/gtest.h>
#include <stdlib.h>
#include <sys/wait.h>

#include <filesystem>
#include <fstream>
#include <sstream>

namespace {

namespace fs = std::filesystem;

struct Outcome {
  int status = -1;
  std::string out, err;
};

class ConfigCommandTest : public ::testing::Test {
 protected:
  void SetUp() override {
    std::string pattern = (fs::temp_directory_path() / "ravelon-config-XXXXXX").string();
    ASSERT_NE(::mkdtemp(pattern.data()), nullptr);
    m_folder = pattern;
  }
  void TearDown() override { fs::remove_all(m_folder); }

  std::string Path(const std::string& name) const { return (m_folder / name).string(); }

  static std::string ReadFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::ostringstream bytes;
    bytes << in.rdbuf();
    return bytes.str();
  }

  void WriteFile(const std::string& name, const std::string& bytes) const {
    std::ofstream(Path(name), std::ios::binary) << bytes;
  }

  // Runs `ravelon config ARGS --registry FILE`; `timeout` bounds a hang.
  Outcome Config(const std::string& args, const std::string& registry = "reg.db") const {
    const std::string command = "cd '" + m_folder.string() +
                                "' && timeout 60 " RAVELON_COMMAND " config " + args +
                                " --registry '" + Path(registry) + "' >out.txt 2>err.txt";
    Outcome run;
    const int status = std::system(command.c_str());
    run.status = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    run.out = ReadFile(Path("out.txt"));
    run.err = ReadFile(Path("err.txt"));
    return run;
  }

  fs::path m_folder;
};

TEST_F(ConfigCommandTest, StepsAgainstOneRegistry) {
  WriteFile("good.reg",
            "Windows Registry Editor Version 5.00\r\n\r\n"
            "[HKEY_LOCAL_MACHINE\\Ravelon\\Src\\door]\r\n\"Url\"=\"/door.mjpg\"\r\n"
            "\"Port\"=\"81\"\r\n");
  WriteFile("broken.reg",
            "REGEDIT4\n[HKEY_LOCAL_MACHINE\\Ravelon\\Src\\yard]\n\"Url\"=\"/y\"\n\"Port\" \"1\"\n");
  struct Step {
    std::string args;
    int status;
    std::string out, err;  // each must appear in its stream
  };
  const std::vector<Step> steps = {
      {"list", 1, "", "cannot open the registry file"},
      {"add-source cam1 --url /v.mjpg --address 10.0.0.5 --port 8080 --no-streaming --store rec "
       "--schedule ''",
       0, "", ""},
      {"list", 0, "cam1\n", ""},
      {"list cam1", 0,
       "Url = /v.mjpg\nStreaming = 0\nDBPath = " + Path("rec") + "/\nSaveInterval = 500\n", ""},
      {"get CAM1 port", 0, "8080\n", ""},
      {"get cam1 SrcID", 1, "", "source cam1 has no value SrcID"},
      {"get cam2 Url", 1, "", "no source cam2"},
      {"add-source cam1", 1, "", "exists already"},
      {"add-source cam3 --port 70000", 1, "", "--port must be a whole number from 0 to 65535"},
      {"list cam3", 1, "", "no source cam3"},
      {"set cam1 SaveInterval 0250", 0, "", ""},
      {"get cam1 SaveInterval", 0, "250\n", ""},
      {"set cam1 Port 65536", 1, "", "Port must be a whole number"},
      {"set cam1 Colour red", 1, "", "a source has no value called Colour"},
      {"set nosuch Url /x", 1, "", "no source nosuch"},
      {"import broken.reg", 1, "", "broken.reg:4: a value line needs '=' after the quoted name"},
      {"get yard Url", 1, "", "no source yard"},
      {"import good.reg", 0, "", ""},
      {"get door Url", 0, "/door.mjpg\n", ""},
      {"list", 0, "cam1\ndoor\n", ""},
      {"export --key 'HKEY_LOCAL_MACHINE\\Ravelon\\Src\\door'", 0,
       "[HKEY_LOCAL_MACHINE\\Ravelon\\Src\\door]\n\"Url\"=\"/door.mjpg\"\n", ""},
      {"export --key Nowhere", 1, "", "there is no key HKEY_LOCAL_MACHINE\\Nowhere"},
      {"delete door url", 0, "", ""},
      {"get door Url", 1, "", "source door has no value Url"},
      {"delete door Colour", 1, "", "source door has no value Colour"},
      {"delete door", 0, "", ""},
      {"list", 0, "cam1\n", ""},
  };
  for (const Step& step : steps) {
    SCOPED_TRACE(step.args);
    const Outcome run = Config(step.args);
    EXPECT_EQ(run.status, step.status) << run.err;
    EXPECT_NE(run.out.find(step.out), std::string::npos) << run.out;
    EXPECT_NE(run.err.find(step.err), std::string::npos) << run.err;
  }
}

TEST_F(ConfigCommandTest, ExportImportsIntoAnIdenticalRegistry) {
  ASSERT_EQ(Config("add-source a --url /a --password 'p\"w\\d' --save").status, 0);
  ASSERT_EQ(Config("add-source b --port 1").status, 0);
  ASSERT_EQ(Config("export first.reg").status, 0);
  EXPECT_EQ(fs::status(Path("first.reg")).permissions() & fs::perms::group_all, fs::perms::none);
  ASSERT_EQ(Config("import first.reg", "copy.db").status, 0);
  ASSERT_EQ(Config("export second.reg", "copy.db").status, 0);
  EXPECT_EQ(ReadFile(Path("second.reg")), ReadFile(Path("first.reg")));
  EXPECT_NE(ReadFile(Path("first.reg")).find("\"Password\"=\"p\\\"w\\\\d\""), std::string::npos);
}

TEST_F(ConfigCommandTest, AnUnreadableRegistryFileFailsClearly) {
  WriteFile("garbage.db", std::string(8192, 'x'));
  const Outcome run = Config("list", "garbage.db");
  EXPECT_EQ(run.status, 1);
  EXPECT_NE(run.err.find("registry"), std::string::npos) << run.err;
}

}  // namespace

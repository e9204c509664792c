// The engine on the real platform, through the public API, taking event text that the built
// `ravelon send-event`, a second process, sends to a named port.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>

#include "ravelon/ipc_port.h"
#include "ravelon/korvid.h"
#include "support/real_loop.h"
#include "support/store_reader.h"
#include "support/temp_folder.h"

namespace ravelon {
namespace {

using namespace std::string_literals;
using std::chrono::seconds;

class IpcE2eTest : public ::testing::Test {
 protected:
  IpcE2eTest() { engine_.DoSave(true); }
  // Runs `ravelon send-event` with the shell words `args` while the loop runs; its exit status.
  int Send(const std::string& args) {
    const std::string command = "timeout 20 " RAVELON_COMMAND " send-event --port till --folder ";
    FILE* child = popen((command + temp_.Path() + " " + args).c_str(), "r");  // output ends with it
    fcntl(fileno(child), F_SETFL, O_NONBLOCK);
    char byte;
    testing::RunUntil(
        *platform_, [&] { return read(fileno(child), &byte, 1) == 0; }, seconds(25));
    return WEXITSTATUS(pclose(child));
  }

  testing::TempFolder temp_;
  std::shared_ptr<Platform> platform_ = NewRealPlatform(temp_.Path("registry.db"));
  Korvid engine_{platform_};
};

// Text given as an argument, in a file or on standard input reaches the engine unchanged, each
// ending in a cut and so completing an event list of its own; with no port listening the command
// fails and says why.
TEST_F(IpcE2eTest, EachWayOfGivingTextCompletesAnEventListOfTheBytesUnchanged) {
  std::string error;
  std::shared_ptr<IpcPort> port = platform_->NewNamedIpcPort("till", temp_.Path(), error);
  ASSERT_EQ(engine_.ipcConnect(port), kIpcConnected) << error;
  const std::string receipt = "\x1b@\x1b!\x08SHOP 7\n\x1b!\x00 2 x Tea  3.00\n\x1dV\x00"s;
  temp_.Write("receipt", receipt);
  const std::pair<std::string, std::string> rows[] = {
      {R"x("$(printf 'plain text\t\035V')")x", "plain text\t\x1dV"},
      {"--file " + temp_.Path("receipt"), receipt},
      {"- <" + temp_.Path("receipt"), receipt},
  };
  for (int32_t i = 0; i < std::ssize(rows); ++i) {
    ASSERT_EQ(Send(rows[i].first), 0) << rows[i].first;
    ASSERT_TRUE(testing::RunUntil(
        *platform_, [&] { return engine_.FramesBuffered() == i + 1; }, seconds(10)));
    uint8_t type = 0;
    std::string data;
    double date = 0, time = 0;
    EXPECT_FALSE(engine_.GetPartialFrame(type, data, date, time));  // the cut completed the list
    engine_.GetData(type, data);
    // One record: its length (text + 16) little-endian, the date and time as doubles, the text.
    EXPECT_EQ(testing::LittleEndianAt(data, 0), std::ssize(rows[i].second) + 16);
    EXPECT_EQ(data.substr(20), rows[i].second);
  }
  port->close();
  EXPECT_EQ(Send("late 2>" + temp_.Path("errors")), 1);
  EXPECT_NE(temp_.Read("errors").find("no port listens"), std::string::npos);
}

}  // namespace
}  // namespace ravelon

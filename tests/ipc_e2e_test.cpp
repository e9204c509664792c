// Event text from another process: this test process runs an engine on the
// real platform with a named port linked to it, and the built
// ravelon-send-event, a second real process, delivers receipt printer text to
// that port.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <memory>
#include <string>
#include <vector>

#include "ravelon/ipc_port.h"
#include "ravelon/korvid.h"
#include "support/real_loop.h"

extern char** environ;

namespace ravelon {
namespace {

using namespace std::string_literals;

class IpcE2eTest : public ::testing::Test {
 protected:
  IpcE2eTest() {
    char pattern[] = "/tmp/ravelon-ipc-e2e-XXXXXX";
    if (::mkdtemp(pattern) != nullptr) folder_ = pattern;
    platform_ = NewRealPlatform(folder_ + "/registry.db");
    engine_ = std::make_unique<Korvid>(platform_);
    engine_->DoSave(true);
    std::string error;
    listener_ = platform_->NewNamedIpcPort("till", folder_, error);
    EXPECT_NE(listener_, nullptr) << error;
  }
  ~IpcE2eTest() override {
    engine_.reset();
    listener_.reset();
    std::filesystem::remove_all(folder_);
  }

  // Runs `ravelon send-event` with `input` as its standard input and the loop
  // running, to its end; its exit code, or -1. errors_ gets its standard error.
  int Send(std::vector<std::string> args, const std::string& input = "") {
    args.insert(args.begin(), {RAVELON_COMMAND, "send-event", "--port", "till", "--folder", folder_});
    std::vector<char*> argv;
    for (std::string& arg : args) argv.push_back(arg.data());
    argv.push_back(nullptr);
    const std::string in = folder_ + "/stdin", err = folder_ + "/stderr";
    std::ofstream(in, std::ios::binary) << input;
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, STDIN_FILENO, in.c_str(), O_RDONLY, 0);
    posix_spawn_file_actions_addopen(&actions, STDERR_FILENO, err.c_str(),
                                     O_WRONLY | O_CREAT | O_TRUNC, 0600);
    pid_t pid = -1;
    const int spawned =
        ::posix_spawn(&pid, RAVELON_COMMAND, &actions, nullptr, argv.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    if (spawned != 0) return -1;
    int status = 0;
    const bool ended = Run([&] { return ::waitpid(pid, &status, WNOHANG) == pid; });
    if (!ended && ::kill(pid, SIGKILL) == 0) ::waitpid(pid, &status, 0);
    std::ifstream stream(err);
    errors_.assign(std::istreambuf_iterator<char>(stream), {});
    return ended && WIFEXITED(status) ? WEXITSTATUS(status) : -1;
  }
  bool Run(const std::function<bool()>& done) {
    return testing::RunUntil(*platform_, done, std::chrono::seconds(20));
  }

  std::string folder_;
  std::shared_ptr<Platform> platform_;
  std::unique_ptr<Korvid> engine_;
  std::shared_ptr<IpcPort> listener_;
  std::string errors_;
};

TEST_F(IpcE2eTest, CommandSendsBytesUnchanged) {
  // A plain port in place of the engine shows the bytes as they arrive.
  std::shared_ptr<IpcPort> receiver = platform_->NewIpcPort();
  std::vector<std::string> blocks;
  auto observer = std::make_shared<IpcPortObserver>();
  observer->SetOnData([&](MemoryChunk& block) { blocks.push_back(block.Bytes()); });
  receiver->addObserver(observer);
  ASSERT_EQ(receiver->connect(listener_), kIpcConnected);

  const std::string receipt = "\x1b@\x1b!\x08SHOP 7\n\x1b!\x00 2 x Tea  3.00\n\x1dV\x00"s;
  const std::string file = folder_ + "/receipt.bin";
  std::ofstream(file, std::ios::binary) << receipt;
  EXPECT_EQ(Send({"plain text\t\x1d\x56"}), 0) << errors_;
  EXPECT_EQ(Send({"--file", file}), 0) << errors_;
  EXPECT_EQ(Send({"-"}, receipt + receipt), 0) << errors_;
  ASSERT_TRUE(Run([&] { return blocks.size() == 3; }));
  EXPECT_EQ(blocks, (std::vector<std::string>{"plain text\t\x1d\x56", receipt, receipt + receipt}));

  listener_->close();
  EXPECT_EQ(Send({"late"}), 1);
  EXPECT_NE(errors_.find("no port listens"), std::string::npos) << errors_;
}

TEST_F(IpcE2eTest, CutCompletesAndQueuesTheEventList) {
  ASSERT_EQ(engine_->ipcConnect(listener_), kIpcConnected);
  const std::string receipt = "\x1b@RECEIPT 0042\nTOTAL 12.50\n\x1dV\x00"s;
  ASSERT_EQ(Send({"-"}, receipt), 0) << errors_;
  ASSERT_TRUE(Run([&] { return engine_->FramesBuffered() == 1; }));
  uint8_t type = 0;
  std::string data;
  EXPECT_GT(engine_->GetData(type, data), 0);
  EXPECT_EQ(type, 7);  // an event list
  // One record: a 4-byte little-endian length (text + 16), the date and time
  // as doubles, then the text.
  EXPECT_EQ(data.substr(0, 4), std::string({static_cast<char>(receipt.size() + 16), 0, 0, 0}));
  EXPECT_EQ(data.substr(20), receipt);
  double date = 0, time = 0;
  EXPECT_FALSE(engine_->GetPartialFrame(type, data, date, time));
}

}  // namespace
}  // namespace ravelon

// Event text from another process: this test process runs an engine on the
// real platform with a named port linked to it, and the built
// ravelon-send-event, a second real process, delivers receipt printer text to
// that port. The rule that an arrival in a new hour closes an open event list
// needs a clock the test can move: the engine's own unit test checks it on
// the simulated platform.
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
#include <memory>
#include <string>
#include <vector>

#include "components/ipc_port.h"
#include "ravelon/korvid.h"
#include "support/real_loop.h"

extern char** environ;

namespace ravelon {
namespace {

constexpr uint8_t kEventListType = 7;

// The bytes of a literal that may hold zero bytes, without its terminator.
template <size_t N>
std::string Bytes(const char (&literal)[N]) {
  return std::string(literal, N - 1);
}

// The event texts of an event list: records of a 4-byte little-endian length
// (text + 16), the date and time as doubles, then the text.
std::vector<std::string> EventTexts(const std::string& list) {
  std::vector<std::string> texts;
  size_t at = 0;
  while (at + 20 <= list.size()) {
    const auto* p = reinterpret_cast<const unsigned char*>(list.data() + at);
    const uint32_t length = p[0] | p[1] << 8 | p[2] << 16 | static_cast<uint32_t>(p[3]) << 24;
    if (length < 16 || at + 4 + length > list.size()) break;
    texts.push_back(list.substr(at + 20, length - 16));
    at += 4 + length;
  }
  if (at != list.size()) texts.push_back("<malformed tail>");
  return texts;
}

// One run of ravelon-send-event, `input` on its standard input. Its exit
// code and standard error are read once it has ended.
class SendEventCommand {
 public:
  SendEventCommand(const std::vector<std::string>& args, const std::string& input) {
    int in[2], err[2];
    if (::pipe2(in, O_CLOEXEC) != 0 || ::pipe2(err, O_CLOEXEC) != 0) return;
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, in[0], STDIN_FILENO);
    posix_spawn_file_actions_adddup2(&actions, err[1], STDERR_FILENO);
    std::vector<std::string> argv_strings = {RAVELON_SEND_EVENT};
    argv_strings.insert(argv_strings.end(), args.begin(), args.end());
    std::vector<char*> argv;
    for (std::string& arg : argv_strings) argv.push_back(arg.data());
    argv.push_back(nullptr);
    if (::posix_spawn(&pid_, RAVELON_SEND_EVENT, &actions, nullptr, argv.data(), environ) != 0) {
      pid_ = -1;
    }
    posix_spawn_file_actions_destroy(&actions);
    ::close(in[0]);
    ::close(err[1]);
    // The command reads all of its input before it sends: a blocking write
    // cannot deadlock with the loop the test runs afterwards.
    if (pid_ > 0 && !input.empty()) {
      [[maybe_unused]] ssize_t written = ::write(in[1], input.data(), input.size());
    }
    ::close(in[1]);
    err_ = err[0];
  }
  ~SendEventCommand() {
    if (pid_ > 0 && !ended_) {
      ::kill(pid_, SIGKILL);
      ::waitpid(pid_, &status_, 0);
    }
    if (err_ >= 0) ::close(err_);
  }

  // True once the command has ended; never waits.
  bool Ended() {
    if (!ended_ && pid_ > 0) ended_ = ::waitpid(pid_, &status_, WNOHANG) == pid_;
    return ended_;
  }
  int ExitCode() const { return ended_ && WIFEXITED(status_) ? WEXITSTATUS(status_) : -1; }
  std::string Errors() {
    std::string text;
    char buffer[4096];
    for (ssize_t got; (got = ::read(err_, buffer, sizeof buffer)) > 0;) text.append(buffer, got);
    return text;
  }

 private:
  pid_t pid_ = -1;
  int status_ = 0;
  bool ended_ = false;
  int err_ = -1;
};

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

  // Runs the command to its end with the loop running; its exit code.
  int Send(std::vector<std::string> args, const std::string& input = "") {
    args.insert(args.begin(), {"--port", "till", "--folder", folder_});
    SendEventCommand command(args, input);
    if (!Run([&] { return command.Ended(); })) return -1;
    errors_ = command.Errors();
    return command.ExitCode();
  }
  bool Run(const std::function<bool()>& done) {
    return testing::RunUntil(*platform_, done, std::chrono::seconds(20));
  }
  // The local hour the platform's clock reads, as a count since day 0.
  int64_t Hour() const {
    const Clock& clock = platform_->GetClock();
    return static_cast<int64_t>(clock.Today()) * 24 +
           static_cast<int64_t>(clock.SecondsSinceMidnight() / 3600);
  }

  std::string folder_;
  std::shared_ptr<Platform> platform_;
  std::unique_ptr<Korvid> engine_;
  std::shared_ptr<IpcPort> listener_;
  std::string errors_;
};

TEST_F(IpcE2eTest, CommandSendsBytesUnchangedOrExitsWithAMessage) {
  // A plain port in place of the engine shows the bytes as they arrive.
  std::shared_ptr<IpcPort> receiver = platform_->NewIpcPort();
  std::vector<std::string> blocks;
  auto observer = std::make_shared<IpcPortObserver>();
  observer->SetOnData([&](MemoryChunk& block) { blocks.push_back(block.Bytes()); });
  receiver->addObserver(observer);
  ASSERT_EQ(receiver->connect(listener_), kIpcConnected);

  const std::string receipt = Bytes("\x1b@\x1b!\x08SHOP 7\n\x1b!\x00 2 x Tea  3.00\n\x1dV\x00");
  const std::string file = folder_ + "/receipt.bin";
  std::ofstream(file, std::ios::binary) << receipt;
  EXPECT_EQ(Send({"plain text\t\x1d\x56"}), 0) << errors_;
  EXPECT_EQ(Send({"--file", file}), 0) << errors_;
  EXPECT_EQ(Send({"-"}, receipt + receipt), 0) << errors_;
  EXPECT_EQ(Send({"--", "-5.00 refund"}), 0) << errors_;
  ASSERT_TRUE(Run([&] { return blocks.size() == 4; }));
  EXPECT_EQ(blocks, (std::vector<std::string>{"plain text\t\x1d\x56", receipt, receipt + receipt,
                                              "-5.00 refund"}));

  EXPECT_EQ(Send({}), 1);
  EXPECT_NE(errors_.find("give the event text"), std::string::npos) << errors_;
  EXPECT_EQ(Send({"text", "--file", file}), 1);
  EXPECT_EQ(Send({"--file", folder_ + "/missing"}), 1);
  EXPECT_NE(errors_.find("cannot read"), std::string::npos) << errors_;
  listener_->close();
  EXPECT_EQ(Send({"late"}), 1);
  EXPECT_NE(errors_.find("no port listens"), std::string::npos) << errors_;
  EXPECT_EQ(blocks.size(), 4u);
}

TEST_F(IpcE2eTest, CutCompletesAndQueuesTheEventList) {
  ASSERT_EQ(engine_->ipcConnect(listener_), kIpcConnected);
  const std::string receipt = Bytes("\x1b@RECEIPT 0042\nTOTAL 12.50\n\x1dV\x00");
  const std::string file = folder_ + "/receipt.bin";
  std::ofstream(file, std::ios::binary) << receipt;
  ASSERT_EQ(Send({"--file", file}), 0) << errors_;
  ASSERT_TRUE(Run([&] { return engine_->FramesBuffered() == 1; }));

  uint8_t type = 0;
  std::string data;
  EXPECT_GT(engine_->GetData(type, data), 0);
  EXPECT_EQ(type, kEventListType);
  EXPECT_EQ(EventTexts(data), std::vector<std::string>{receipt});
  double date = 0, time = 0;
  EXPECT_FALSE(engine_->GetPartialFrame(type, data, date, time));
}

TEST_F(IpcE2eTest, TwoArrivalsWithoutCutAreMerged) {
  ASSERT_EQ(engine_->ipcConnect(listener_), kIpcConnected);
  const int64_t hour = Hour();
  ASSERT_EQ(Send({"line 1\n"}), 0) << errors_;
  uint8_t type = 0;
  std::string data;
  double date = 0, time = 0;
  ASSERT_TRUE(Run([&] { return engine_->GetPartialFrame(type, data, date, time); }));
  ASSERT_EQ(Send({"-"}, "line 2\n"), 0) << errors_;
  bool open = true;
  Run([&] {
    open = engine_->GetPartialFrame(type, data, date, time);
    return !open || EventTexts(data).size() == 2;
  });
  if (Hour() != hour) GTEST_SKIP() << "the hour changed between the arrivals";
  EXPECT_TRUE(open);
  EXPECT_EQ(type, kEventListType);
  EXPECT_EQ(EventTexts(data), (std::vector<std::string>{"line 1\n", "line 2\n"}));
  EXPECT_EQ(engine_->FramesBuffered(), 0);
}

}  // namespace
}  // namespace ravelon

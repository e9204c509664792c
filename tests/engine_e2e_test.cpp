// The engine on the real platform, through the public API: against a loopback TCP source, and
// taking event text that the built `ravelon send-event`, a second process, sends to a named port.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <random>
#include <set>

#include "engine/reg_utils.h"
#include "ravelon/ipc_port.h"
#include "ravelon/korvid.h"
#include "support/loopback_server.h"
#include "support/real_loop.h"
#include "support/recording_host.h"
#include "support/store_reader.h"
#include "support/temp_folder.h"

namespace ravelon {
namespace {

using namespace std::string_literals;
using std::chrono::milliseconds, std::chrono::seconds;

class EngineE2eTest : public ::testing::Test {
 protected:
  EngineE2eTest() {
    engine_.SetEventSink(&host_);
    engine_.InitEngineFromReg("cam", "");  // the current set is written back to the source's key
    engine_.SetAddress("127.0.0.1");
    engine_.SetPort(server_.port);
    engine_.SetUrl("video.mjpg");
    engine_.SetStreaming(true);
    engine_.DoSave(true);
  }
  bool Run(const std::function<bool()>& done, milliseconds limit = seconds(10)) {
    return testing::RunUntil(*platform_, done, limit, [&] { server_.Poll(); });
  }
  int64_t Count(const std::string& text) const {
    return std::ranges::count(host_.events, text, &testing::LoggedEvent::text);
  }
  // Runs `ravelon send-event` with the shell words `args` while the loop runs; its exit status.
  int Send(const std::string& args) {
    const std::string command = "timeout 20 " RAVELON_COMMAND " send-event --port till --folder ";
    FILE* child = popen((command + temp_.Path() + " " + args).c_str(), "r");  // output ends with it
    fcntl(fileno(child), F_SETFL, O_NONBLOCK);
    char byte;
    Run([&] { return read(fileno(child), &byte, 1) == 0; }, seconds(25));
    return WEXITSTATUS(pclose(child));
  }

  testing::TempFolder temp_;
  testing::LoopbackServer server_;
  std::shared_ptr<Platform> platform_ = NewRealPlatform(temp_.Path() + "/registry.db");
  testing::RecordingHost host_;
  Korvid engine_{platform_};
};
using ConnectionE2eTest = EngineE2eTest;
using StoreE2eTest = EngineE2eTest;
using IpcE2eTest = EngineE2eTest;

// After a close at once (often queued by the time the connect event lets the loop run under load),
// the next attempt follows the break delay, not the response timeout.
TEST_F(ConnectionE2eTest, ServerClosingAtOnceLeadsToANewAttemptFiveSecondsLater) {
  server_.close_on_accept = true;
  engine_.Connect();
  ASSERT_TRUE(Run([&] { return Count("WinSock.Close") > 0; }));
  const MonoTime closed = platform_->GetClock().Monotonic();
  ASSERT_TRUE(Run([&] { return Count("Connecting to the source.") > 1; }, seconds(8)));
  EXPECT_GE(platform_->GetClock().Monotonic() - closed, milliseconds(4'900));
}

// 100 distinct images of 3 to 393 KB in one multipart stream, saved every 250 ms and by the
// release, fill many 1 MB file sets: read back, the sets hold every image intact and in order,
// each set and its data file keep to the limit, and the registry names the last set.
TEST_F(StoreE2eTest, AStreamedRecordingIsSavedIntactAndInOrderAcrossFileSets) {
  constexpr uintmax_t kLimit = 1'048'576;  // SetFileSizeLimit(1)
  std::vector<std::string> sent;
  std::string stream =
      "HTTP/1.0 200 OK\r\nContent-Type: multipart/x-mixed-replace; boundary=bnd\r\n\r\n";
  for (uint32_t i = 0; i < 100; ++i) {
    std::independent_bits_engine<std::mt19937, 8, unsigned char> bytes(i);
    sent.emplace_back(3'000 + i % 4 * 130'000, '\0');
    std::ranges::generate(sent.back(), std::ref(bytes));
    stream += "--bnd\r\nContent-Type: image/jpeg\r\nContent-Length: " +
              std::to_string(sent.back().size()) + "\r\n\r\n" + sent.back() + "\r\n";
  }
  const std::string store = temp_.Path() + "/store/";
  engine_.DBPath(store);
  engine_.SetSaveIterval(10);
  engine_.SetFileSizeLimit(1);
  engine_.SetPreAllocationSize(1);
  engine_.PrepareEngine();
  engine_.Connect();
  ASSERT_TRUE(Run([&] { return server_.received == "GET /video.mjpg\r\n\r\n"; }))
      << server_.received;
  server_.Queue(stream + "--bnd\r\n");  // the last part ends where the next would begin
  auto saver = platform_->Loop().NewTimer([&] { engine_.ForcedSave(); });
  saver->SetInterval(250);
  saver->SetEnabled(true);
  uint8_t type = 0;
  std::string newest;
  ASSERT_TRUE(Run([&] { return engine_.GetData(type, newest) == std::ssize(sent); }))
      << engine_.GetData(type, newest) << " images taken";
  engine_.ReleaseNGN();

  std::set<std::string> sets;  // every set of the folder, in name order
  for (const auto& entry : std::filesystem::directory_iterator(store))
    sets.insert(entry.path().stem().string());
  std::vector<std::string> stored;
  for (const std::string& name : sets) {
    bool ok = false;
    const auto frames = testing::ReadFileSet(platform_->Files(), store + name, &ok);
    EXPECT_TRUE(ok) << name;
    for (const StoredFrame& frame : frames) stored.push_back(frame.data);
    // The data file, never cut, keeps to the limit too: no image here is larger than that.
    EXPECT_LE(std::filesystem::file_size(store + name + ".bin"), kLimit) << name;
  }
  EXPECT_TRUE(stored == sent) << stored.size() << " images stored, some lost, moved or changed";
  EXPECT_EQ(RegUtils(platform_->Registry()).Registry_Get("Src\\cam\\", "File", ""), *sets.rbegin());
  for (const auto& event : host_.events) EXPECT_NE(event.level, kDebugError) << event.text;
}

// Text given as an argument, in a file or on standard input reaches the engine unchanged, each
// ending in a cut and so completing an event list of its own; with no port listening the command
// fails and says why.
TEST_F(IpcE2eTest, EachWayOfGivingTextCompletesAnEventListOfTheBytesUnchanged) {
  std::string error;
  std::shared_ptr<IpcPort> port = platform_->NewNamedIpcPort("till", temp_.Path(), error);
  ASSERT_EQ(engine_.ipcConnect(port), kIpcConnected) << error;
  const std::string receipt = "\x1b@\x1b!\x08SHOP 7\n\x1b!\x00 2 x Tea  3.00\n\x1dV\x00"s;
  std::ofstream(temp_.Path() + "/receipt", std::ios::binary) << receipt;
  const std::pair<std::string, std::string> rows[] = {
      {R"x("$(printf 'plain text\t\035V')")x", "plain text\t\x1dV"},
      {"--file " + temp_.Path() + "/receipt", receipt},
      {"- <" + temp_.Path() + "/receipt", receipt},
  };
  for (int32_t i = 0; i < std::ssize(rows); ++i) {
    ASSERT_EQ(Send(rows[i].first), 0) << rows[i].first;
    ASSERT_TRUE(Run([&] { return engine_.FramesBuffered() == i + 1; }));
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
  EXPECT_EQ(Send("late 2>" + temp_.Path() + "/errors"), 1);
  EXPECT_EQ(std::system(("grep -q 'no port listens' " + temp_.Path() + "/errors").c_str()), 0);
}

}  // namespace
}  // namespace ravelon

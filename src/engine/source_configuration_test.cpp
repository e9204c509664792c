// Configuring an engine from its key in a SQLite registry file.
#include <gtest/gtest.h>
#include <stdlib.h>
#include <unistd.h>

#include <filesystem>

#include "common/hex_encoding.h"
#include "common/number_encoding.h"
#include "engine/reg_utils.h"
#include "ravelon/korvid.h"
#include "support/korvid_test_peer.h"

namespace ravelon {
namespace {

constexpr char kRoot[] = "Software\\Ravelon\\";
constexpr char kKey[] = "Software\\Ravelon\\Src\\till 3\\";

class SourceConfigurationTest : public ::testing::Test {
 protected:
  SourceConfigurationTest() {
    char pattern[] = "/tmp/ravelon-config-XXXXXX";
    folder_ = mkdtemp(pattern);
    platform_ = NewRealPlatform(folder_ + "/registry.db");
    engine_ = std::make_unique<Korvid>(platform_);
  }
  ~SourceConfigurationTest() override {
    engine_.reset();
    platform_.reset();
    std::filesystem::remove_all(folder_);
  }

  void Set(const std::string& name, const std::string& value) {
    ASSERT_EQ(RegUtils(platform_->Registry()).Registry_Set(kKey, name, value), 0);
  }
  void Read() { engine_->InitEngineFromReg("till 3", kRoot); }
  KorvidTestPeer Peer() { return KorvidTestPeer(*engine_); }

  std::string folder_;
  std::shared_ptr<Platform> platform_;
  std::unique_ptr<Korvid> engine_;
};

bool IsDefaultSchedule(const WeeklySchedule& schedule) {
  for (const auto& day : schedule) {
    if (day.size() != 1 || day[0].time != 0 || day[0].action != kScheduleNormal) return false;
  }
  return true;
}

TEST_F(SourceConfigurationTest, MissingKeyGivesEveryDefault) {
  engine_->SetPort(1);
  engine_->SetStreaming(false);
  Read();
  EXPECT_EQ(platform_->RegistryError(), "");
  EXPECT_EQ(engine_->SourceName(), "till 3");
  EXPECT_EQ(engine_->GetAddress(), "");
  EXPECT_EQ(engine_->GetPort(), 80);
  EXPECT_EQ(engine_->GetUrl(), "");
  EXPECT_EQ(engine_->GetStreaming(), "True");
  EXPECT_FALSE(engine_->DoSave());
  EXPECT_EQ(engine_->GetSaveInterval(), 500);
  EXPECT_EQ(engine_->GetViewInterval(), 500);
  EXPECT_EQ(engine_->GetPreAllocationSize(), 1);
  EXPECT_EQ(engine_->GetFileSizeLimit(), 10);
  EXPECT_EQ(engine_->GetFileLimitType(), 0);
  EXPECT_EQ(engine_->GetSrcID(), 0);
  EXPECT_EQ(Peer().Credentials(), ":");
  EXPECT_EQ(Peer().FileTime(), 0);
  EXPECT_TRUE(IsDefaultSchedule(Peer().Schedule()));
}

TEST_F(SourceConfigurationTest, BrokenValuesTakeTheirOwnFallbacks) {
  Set("Port", "70000");
  Set("SaveInterval", "5");        // below the range: the fallback, not the bound
  Set("FileLimitValue", "2000");   // stored but out of range: 600
  Set("ViewInterval", " 60000 ");
  Set("SrcID", "abc");
  Set("Streaming", "yes");
  Set("DoSave", "no");
  Set("Address", "cam.local");
  Set("UserName", "admin");
  Read();
  EXPECT_EQ(engine_->GetPort(), 80);
  EXPECT_EQ(engine_->GetSaveInterval(), 500);
  EXPECT_EQ(engine_->GetFileSizeLimit(), 600);
  EXPECT_EQ(engine_->GetViewInterval(), 60000);
  EXPECT_EQ(engine_->GetSrcID(), 0);
  EXPECT_EQ(engine_->GetStreaming(), "False");
  EXPECT_TRUE(engine_->DoSave());
  EXPECT_EQ(engine_->GetAddress(), "cam.local");
  EXPECT_EQ(Peer().Credentials(), "admin:");

  Set("Port", "8080");
  Set("FileLimitValue", "1999");
  Set("Streaming", "");  // empty texts: streaming off, saving on
  Set("DoSave", "");
  Read();
  EXPECT_EQ(engine_->GetPort(), 8080);
  EXPECT_EQ(engine_->GetFileSizeLimit(), 1999);
  EXPECT_EQ(engine_->GetStreaming(), "False");
  EXPECT_TRUE(engine_->DoSave());

  Set("FileLimitValue", "ten");
  Read();
  EXPECT_EQ(engine_->GetFileSizeLimit(), 600);
}

TEST_F(SourceConfigurationTest, NumbersOfAnotherTypeReadAsTheirBytes) {
  // A DWORD 8080 reads as the two bytes 0x90 0x1F: not a number, so 80.
  RegistryKey key = 0;
  ASSERT_EQ(platform_->Registry().CreateKey(kHkeyLocalMachine, kKey, key), 0);
  ASSERT_EQ(platform_->Registry().SetValue(key, "Port", kRegDword, LongToBytes(8080)), 0);
  platform_->Registry().CloseKey(key);
  Read();
  EXPECT_EQ(engine_->GetPort(), 80);
}

TEST_F(SourceConfigurationTest, FileTimeAndScheduleDecodeOnlyWhenWellFormed) {
  Set("FileTime", StringToHex(DoubleToBytes(45000.5)));
  std::string week;
  for (int day = 0; day < 7; ++day) {
    week += LongToBytes(2) + DoubleToBytes(0) + '\1' + DoubleToBytes(28800) + '\3';
  }
  Set("Schedule", StringToHex(week));
  Read();
  EXPECT_EQ(Peer().FileTime(), 45000.5);
  EXPECT_EQ(Peer().Schedule()[6][1].action, kScheduleDisconnected);

  for (const char* time : {"000000000010F9E54", "000000000010F9E5400", "00000010F9E540"}) {
    Set("FileTime", time);
    Read();
    EXPECT_EQ(Peer().FileTime(), 0) << time;
  }
  Set("Schedule", StringToHex(week.substr(0, week.size() - 1)));  // Sunday one byte short
  Read();
  EXPECT_TRUE(IsDefaultSchedule(Peer().Schedule()));
}

}  // namespace
}  // namespace ravelon

// The web view's login: Basic headers, the stored hash, the registry values
// (shut when half written) and `ravelon config web-login` end to end.
#include "web/web_login.h"

#include <gtest/gtest.h>

#include "camera/request_head.h"
#include "support/temp_folder.h"
#include "tests/command_process.h"
#include "web/login_check.h"
#include "web/web_login_store.h"

namespace ravelon::cli {
namespace {

// "open:sesame" with 1,000 iterations and the salt 00 01 .. 0f, made by
// another PBKDF2 (Python's hashlib), so the format cannot drift unseen.
std::string Stored(
    const std::string& iterations, const std::string& salt = "000102030405060708090a0b0c0d0e0f",
    const std::string& hash = "dc8155d842a2922cc4ca2316b79c305976de868c327eb4f543f583d450f440fa") {
  return "pbkdf2-sha256$" + iterations + "$" + salt + "$" + hash;
}
const std::string kKnownHash = Stored("1000");

// The test camera's encoder, checked against RFC 4648 in camera_wire_test.cpp.
std::string Basic(std::string_view credentials) { return "Basic " + Base64(credentials); }

TEST(WebLoginTest, AuthorizationAllowsOnlyTheRightBasicCredentials) {
  const std::string right = Basic("admin:open:sesame");  // one '=' of padding
  const std::tuple<std::string, std::string, bool> cases[] = {
      {"admin", right, true},
      {"a", Basic("a:open:sesame"), true},      // two '='
      {"adm", Basic("adm:open:sesame"), true},  // none
      {"admin", " basic \t" + right.substr(6) + " ", true},
      {"admin", Basic("admin:open"), false},
      {"admin", Basic("Admin:open:sesame"), false},
      {"admin", Basic("admin"), false},
      {"admin", "Bearer" + right.substr(5), false},
      {"admin", "Basic YW=taW46b3Blbjpz", false},
      {"admin", "", false},
      {"admin", right + "x", false},
      {"admin", right + std::string(1100, ' '), false},
      {"", Basic(":open:sesame"), false},
  };
  // The server's check remembers headers that passed (asked twice here);
  // nothing else passes because of them.
  LoginCheck check({"admin", kKnownHash});
  for (const auto& [user, header, allows] : cases) {
    EXPECT_EQ(AuthorizationAllows({user, kKnownHash}, header), allows) << header;
    for (int twice = 0; user == "admin" && twice < 2; ++twice)
      EXPECT_EQ(check.Allows(header), allows) << header;
  }
}

TEST(WebLoginTest, PasswordMatchesOnlyAWellFormedHashOfIt) {
  const std::string hash = HashPassword("open:sesame");
  const std::pair<std::string, bool> cases[] = {
      {kKnownHash, true},
      {hash, true},
      {Stored("1001"), false},
      {Stored("0"), false},
      {Stored("2000000000"), false},  // minutes of work if it were tried
      {Stored("1000", "00102030405060708090a0b0c0d0e0f"), false},
      {kKnownHash + "$", false},
  };
  for (const auto& [stored, matches] : cases)
    EXPECT_EQ(PasswordMatches("open:sesame", stored), matches) << stored;
  EXPECT_NE(hash, HashPassword("open:sesame"));  // a new salt each time
}

TEST(WebLoginTest, ReadsWritesAndDeletesThroughTheStoreAndFailsClosed) {
  const ravelon::testing::TempFolder folder;
  std::string error;
  const auto store = NewSqliteRegistryStore(folder.Path("reg.db"), error);
  ASSERT_NE(store, nullptr) << error;
  // Whether the login read is asked for and lets the right credentials in;
  // none lets an empty user in.
  const auto login_is = [&](bool required, bool right_passes, const RegistryOptions& options = {}) {
    const WebLogin login = ReadWebLogin(*store, options);
    return login.Required() == required &&
           AuthorizationAllows(login, Basic("admin:open:sesame")) == right_passes &&
           !AuthorizationAllows(login, Basic(":open:sesame"));
  };
  // Values written straight into the key, and whether the right credentials
  // pass: names in any case; a half-written login is asked and lets no one in.
  const std::pair<std::vector<RegistryValue>, bool> cases[] = {
      {{{"user", kRegSz, "admin"}, {"passwordhash", kRegSz, kKnownHash}}, true},
      {{{"User", kRegSz, "admin"}}, false},
      {{{"PasswordHash", kRegSz, kKnownHash}}, false},
  };
  for (const auto& [values, right_passes] : cases) {
    store->DeleteKey(kHkeyLocalMachine, "Ravelon\\Web");
    RegistryKey key = 0;
    ASSERT_EQ(store->CreateKey(kHkeyLocalMachine, "Ravelon\\Web", key), kRegSuccess);
    ASSERT_EQ(store->SetValues(key, values), kRegSuccess);
    store->CloseKey(key);
    EXPECT_TRUE(login_is(true, right_passes)) << values[0].name;
  }
  WriteWebLogin(*store, {}, {"admin", kKnownHash});
  EXPECT_TRUE(login_is(true, true));
  EXPECT_TRUE(login_is(false, false, {.file = "", .root = "Other"}));
  DeleteWebLogin(*store, {});
  EXPECT_TRUE(login_is(false, false));
  DeleteWebLogin(*store, {});  // nothing left to remove: no error
}

TEST(WebLoginTest, ConfigCommandSetsAndRemovesTheLogin) {
  const ravelon::testing::TempFolder folder;
  folder.Write("typed", "n3w pass\r\n");
  folder.Write("long", std::string(257, 'x') + "\n");
  // Arguments, standard input, exit status, text of standard error, and the
  // credentials that then pass ("" when no login is asked).
  const std::tuple<std::string, std::string, int, std::string, std::string> steps[] = {
      {"admin --password open:sesame", "/dev/null", 0, "", "admin:open:sesame"},
      {"admin", folder.Path("typed"), 0, "", "admin:n3w pass"},
      {"admin", "/dev/null", 1, "no password", "admin:n3w pass"},
      {"admin", folder.Path("long"), 1, "longer than 256", "admin:n3w pass"},
      {"--off", "/dev/null", 0, "", ""},
  };
  for (const auto& [args, input, status, err, passes] : steps) {
    const auto run = testing::RunCommand(testing::Words("config web-login --registry r.db " + args),
                                         std::chrono::seconds(60), folder.Path(), input);
    EXPECT_EQ(run.status, status) << args << run.err;
    EXPECT_NE(run.err.find(err), std::string::npos) << run.err;
    EXPECT_EQ((run.out + run.err).find("sesame"), std::string::npos);
    std::string error;
    const WebLogin login = ReadWebLogin(*NewSqliteRegistryStore(folder.Path("r.db"), error), {});
    EXPECT_TRUE(passes.empty() ? !login.Required() : AuthorizationAllows(login, Basic(passes)))
        << args;
  }
}

}  // namespace
}  // namespace ravelon::cli

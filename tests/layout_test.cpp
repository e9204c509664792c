// Only src/platform/ may use Asio, SQLite or a real clock, so every engine behaviour stays testable
// on virtual time.
#include <gtest/gtest.h>
#include <sys/wait.h>

#include <cstdlib>

TEST(LayoutTest, OnlyThePlatformReachesAsioAndTheRealClock) {
  // grep prints each offending line and leaves 1 when there is none.
  const int status = std::system(
      "cd '" RAVELON_SOURCE_DIR
      "' && grep -rnE --include='*.cpp' --include='*.h' "
      R"('#include [<"]asio|(system|steady)_clock::now|std::time\(|localtime|gettimeofday|)"
      R"(clock_gettime|sleep_for|usleep\(|sqlite3\.h' src include | grep -v ^src/platform/)");
  EXPECT_EQ(WEXITSTATUS(status), 1);
}

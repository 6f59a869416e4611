// The environment CTest gives every test: each entry of the build's list
// reaches the test, not only the first (the sanitizers' options come late in
// it, and only CTest sets them).
#include <gtest/gtest.h>

#include <cstdlib>
#include <sstream>
#include <string>

namespace {

TEST(TestEnvironment, EveryEntryOfTheListReachesTheTest) {
  if (!std::getenv("NURA_UNDER_CTEST")) GTEST_SKIP() << "run outside CTest, which sets the environment";
  std::istringstream entries(NURA_TEST_ENV_ENTRIES);
  int count = 0;
  for (std::string entry; std::getline(entries, entry, '|'); ++count) {
    const std::size_t equals = entry.find('=');
    ASSERT_NE(equals, std::string::npos) << entry;
    const char* value = std::getenv(entry.substr(0, equals).c_str());
    EXPECT_EQ(value ? value : "(not set)", entry.substr(equals + 1)) << entry.substr(0, equals);
  }
  EXPECT_GE(count, 5);
}

}  // namespace

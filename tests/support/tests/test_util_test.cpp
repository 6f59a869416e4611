// The helpers that run outside tools: a tool's standard error never mixes
// with its output or with a file the command writes, and a failing tool is
// reported with its command and its complaint. The long-mode switch.
#include "tests/support/test_util.h"

#include <gtest/gtest-spi.h>
#include <gtest/gtest.h>

#include <cstdlib>
#include <string>

namespace {

using nura::test::ReadFileBytes;
using nura::test::RunCommand;

TEST(TestUtilRunCommand, StandardErrorStaysApart) {
  nura::test::TempDir dir;
  const std::string file = dir / "out.txt";
  struct Case {
    std::string command;
    int status;
    const char* output;
    const char* errors;
  } cases[] = {
      {"echo out; echo complaint >&2", 0, "out\n", "complaint\n"},
      // A tool's complaint never lands in the file its output goes to.
      {"(echo data; echo complaint >&2) > '" + file + "'", 0, "", "complaint\n"},
      {"echo out; echo why >&2; exit 3", 3, "out\n", "why\n"},
      {"echo out # a comment ends the command", 0, "out\n", ""},
      {"kill -9 $$", -1, "", ""},
  };
  for (const Case& c : cases) {
    std::string output, errors;
    EXPECT_EQ(RunCommand(c.command, &output, &errors), c.status) << c.command;
    EXPECT_EQ(output, c.output) << c.command;
    EXPECT_EQ(errors, c.errors) << c.command;
  }
  const std::vector<std::uint8_t> written = ReadFileBytes(file);
  EXPECT_EQ(std::string(written.begin(), written.end()), "data\n");
}

TEST(TestUtilRunCommand, AFailingToolIsReportedWithItsCommandAndComplaint) {
  EXPECT_NONFATAL_FAILURE(nura::test::RunTool("echo the reason >&2; exit 4"), "exited with 4: echo the reason");
  EXPECT_NONFATAL_FAILURE(nura::test::RunTool("echo the reason >&2; exit 4"), "\nthe reason\n");
  std::string output;
  EXPECT_TRUE(nura::test::RunTool("echo fine; echo noise >&2", &output));
  EXPECT_EQ(output, "fine\n");
}

TEST(TestUtilLongMode, OnlyASetNonZeroValueAsksForIt) {
  const char* before = std::getenv("NURA_LONG");
  const std::string saved = before ? before : "";
  struct Case {
    const char* value;  // null: unset
    bool longMode;
  } cases[] = {{nullptr, false}, {"", false}, {"0", false}, {"1", true}, {"yes", true}};
  for (const Case& c : cases) {
    if (c.value)
      setenv("NURA_LONG", c.value, 1);
    else
      unsetenv("NURA_LONG");
    EXPECT_EQ(nura::test::LongMode(), c.longMode) << (c.value ? c.value : "unset");
    EXPECT_EQ(nura::test::LongOrShare(2000, 200), c.longMode ? 2000 : 200);
  }
  if (before)
    setenv("NURA_LONG", saved.c_str(), 1);
  else
    unsetenv("NURA_LONG");
}

}  // namespace

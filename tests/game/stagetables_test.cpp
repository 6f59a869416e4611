// The stage tables a player may damage or edit: a table that leaves a stage
// unplayable stops the start and names the file, the line and the cause; rows
// play passes over are said, and the game starts.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <filesystem>
#include <functional>
#include <sstream>
#include <string>
#include <vector>

#include "platform/testing.h"
#include "tests/game/failurepaths_fixture.h"

namespace nura::game_test {
namespace {

// A stage table whose rows do not give every stage it lists what play needs
// stops the start as a missing one does: the box names the file, the line and
// what is wrong (the log and stderr say the same), the program ends with 1
// and no score file is made.
TEST_F(GameFailurePaths, DamagedStageTablesNameTheLineAndWhatIsWrong) {
  // The generated tables: stage 1's rows come first in both.
  const struct {
    const char* what;
    const char* file;
    std::function<std::string(const std::string&)> damage;
    std::string entry;  // in the box
  } cases[] = {
      {"random bytes for the stage table", "StageData.dat",
       [](const std::string&) {
         std::string bytes(3519, '\0');
         std::uint32_t x = 12345;
         for (char& b : bytes) b = static_cast<char>((x = x * 1103515245u + 12345u) >> 16);
         return bytes;
       },
       "StageData.dat, line 1: value 1 is not a whole number"},
      {"a time limit of 0 s", "StageData.dat",
       [](const std::string& t) { return Replaced(t, "1,4,12,18,45", "1,4,12,18,0"); },
       "StageData.dat, line 4: the time limit of stage 1 is 0 s; it must be at least 1 s"},
      {"a floor table cut at a line end after stage 1", "Floor.dat",
       [](const std::string& t) { return t.substr(0, t.find("\r\n2,") + 2); }, "Floor.dat: stage 2 has no floors"},
      {"a stage table cut inside a line", "StageData.dat",
       [](const std::string& t) { return t.substr(0, t.find("1,1,1160,280") + 8); },
       "StageData.dat, line 2: it holds 3 values; a row of prefix 1 needs 6"},
      {"a value that is no number", "StageData.dat",
       [](const std::string& t) { return Replaced(t, "1,0,200,200", "1,0,2OO,200"); },
       "StageData.dat, line 1: value 3 is not a whole number"},
      {"a start below the field", "StageData.dat",
       [](const std::string& t) { return Replaced(t, "1,0,200,200", "1,0,200,1427"); },
       "StageData.dat, line 1: the start (200, 1427) of stage 1 puts the body outside the field (its point 13 px in "
       "must lie within 0 to 1439 across and down)"},
      {"a stage without its time row", "StageData.dat",
       [](const std::string& t) { return Replaced(t, "1,4,12,18,45\r\n", ""); },
       "StageData.dat: stage 1 has no time limit (no row of prefix 4)"},
      {"a stage without its start", "StageData.dat",
       [](const std::string& t) { return Replaced(t, "1,0,200,200\r\n", ""); },
       "StageData.dat: stage 1 has no start (no row of prefix 0)"},
      {"no stage of 1 to 99", "StageData.dat",
       [](const std::string&) { return std::string("0,0,5,5\r\n0,4,1,2,3\r\n"); },
       "StageData.dat: it lists no stage (no row of a stage 1 to 99)"},
      {"a floor of no area", "Floor.dat",
       [](const std::string& t) { return Replaced(t, "1,100,100,600,600", "1,100,100,100,600"); },
       "Floor.dat, line 1: the floor (100, 100) to (100, 600) of stage 1 has no area: its right and bottom must lie "
       "beyond its left and top"},
      {"a floor beyond the field", "Floor.dat",
       [](const std::string& t) { return Replaced(t, "1,100,100,600,600", "1,1440,100,1600,600"); },
       "Floor.dat, line 1: the floor (1440, 100) to (1600, 600) of stage 1 lies outside the field (0 to 1440 across "
       "and down)"},
      {"a value past 32 bits, which would wrap to an unknown prefix", "StageData.dat",
       [](const std::string& t) { return "1,2147483648,5,5\r\n" + t; },
       "StageData.dat, line 1: value 2 is a whole number too large for the table, which holds -2147483648 to "
       "2147483647"},
      // Stage 1's floors: (100, 100) to (600, 600), (600, 250) to (1000, 450)
      // and (1000, 100) to (1340, 600).
      {"a goal beyond the field", "StageData.dat",
       [](const std::string& t) { return Replaced(t, "1,1,1160,280,1280,420", "1,1,1500,280,1620,420"); },
       "StageData.dat, line 2: the goal (1500, 280) to (1620, 420) of stage 1 lies outside the field (0 to 1439 "
       "across and down)"},
      {"a goal on no floor", "StageData.dat",
       [](const std::string& t) { return Replaced(t, "1,1,1160,280,1280,420", "1,1,700,460,900,600"); },
       "StageData.dat, line 2: the goal (700, 460) to (900, 600) of stage 1 lies on none of its floors, so the "
       "stage cannot be cleared"},
      {"a goal whose corners are swapped", "StageData.dat",
       [](const std::string& t) { return Replaced(t, "1,1,1160,280,1280,420", "1,1,1280,420,1160,280"); },
       "StageData.dat, line 2: the goal (1280, 420) to (1160, 280) of stage 1 holds no point: its right and bottom "
       "must not lie before its left and top"},
      {"a stage without its goal", "StageData.dat",
       [](const std::string& t) { return Replaced(t, "1,1,1160,280,1280,420\r\n", ""); },
       "StageData.dat: stage 1 has no goal (no row of prefix 1)"},
      {"a start inside the field on no floor", "StageData.dat",
       [](const std::string& t) { return Replaced(t, "1,0,200,200", "1,0,700,700"); },
       "StageData.dat, line 1: the start (700, 700) of stage 1 puts the body on none of its floors (its point 13 px "
       "in must lie on one)"},
      {"a start whose point lies on a floor's left edge", "StageData.dat",
       [](const std::string& t) { return Replaced(t, "1,0,200,200", "1,0,87,200"); },
       "StageData.dat, line 1: the start (87, 200) of stage 1 puts the body on none of its floors (its point 13 px "
       "in must lie on one)"},
      // Its corner lies on the first floor, its point (608, 603) on none.
      {"a start whose corner, not its point, lies on a floor", "StageData.dat",
       [](const std::string& t) { return Replaced(t, "1,0,200,200", "1,0,595,590"); },
       "StageData.dat, line 1: the start (595, 590) of stage 1 puts the body on none of its floors (its point 13 px "
       "in must lie on one)"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    GameFolder folder;
    PrepareAnotherStart(folder);
    test::WriteFileText(c.file, c.damage(ReadText(c.file)));
    ExpectTheStartStopped(folder, {c.entry}, {c.entry});
  }
}

// Damage whose first symptom is not its cause is named by its cause, in one
// line for the file in the log as in the box: a value past 32 bits, a table
// saved with LF line ends (it reads as one row), one line of it ending so
// (whatever the row it runs into holds), and bytes after the last row,
// numbered as the box numbers them. The least and greatest 32-bit values are
// read.
TEST_F(GameFailurePaths, TableDamageIsNamedByItsCauseInOneLine) {
  const std::string range = " for the table, which holds -2147483648 to 2147483647";
  const std::string tooLarge = " is a whole number too large" + range;
  const std::string tooSmall = " is a whole number too small" + range;
  const std::string crlf = " without CR; the game's tables end each row with CR LF";
  const auto lfOnly = [](std::string t) {
    for (std::size_t at = 0; (at = t.find("\r\n", at)) != std::string::npos;) t.erase(at, 1);
    return t;
  };
  const struct {
    const char* what;
    const char* file;
    std::function<std::string(const std::string&)> damage;
    std::vector<std::string> logged;  // the whole error log; its last line is the box's entry
  } cases[] = {
      {"a start x past 32 bits", "StageData.dat",
       [](const std::string& t) { return Replaced(t, "1,0,200,200", "1,0,2147483648,200"); },
       {"StageData.dat, line 1: value 3" + tooLarge}},
      {"a start x of 32 bits is read, and lies outside the field", "StageData.dat",
       [](const std::string& t) { return Replaced(t, "1,0,200,200", "1,0,2147483647,200"); },
       {"StageData.dat, line 1: the start (2147483647, 200) of stage 1 puts the body outside the field (its point "
        "13 px in must lie within 0 to 1439 across and down)"}},
      {"a floor's right past 32 bits", "Floor.dat",
       [](const std::string& t) { return Replaced(t, "1,100,100,600,600", "1,100,100,99999999999,600"); },
       {"Floor.dat, line 1: value 4" + tooLarge}},
      {"a start x of the least 32-bit value is read, and lies outside the field", "StageData.dat",
       [](const std::string& t) { return Replaced(t, "1,0,200,200", "1,0,-2147483648,200"); },
       {"StageData.dat, line 1: the start (-2147483648, 200) of stage 1 puts the body outside the field (its point "
        "13 px in must lie within 0 to 1439 across and down)"}},
      {"a floor's top past 32 bits below 0", "Floor.dat",
       [](const std::string& t) { return Replaced(t, "1,100,100,600,600", "1,100,-2147483649,600,600"); },
       {"Floor.dat, line 1: value 3" + tooSmall}},
      {"a stage table saved with LF line ends", "StageData.dat", lfOnly,
       {"StageData.dat: its lines end" + crlf}},
      {"a floor table saved with LF line ends", "Floor.dat", lfOnly, {"Floor.dat: its lines end" + crlf}},
      {"a stage table whose first line ends with LF alone", "StageData.dat",
       [](const std::string& t) { return Replaced(t, "1,0,200,200\r\n", "1,0,200,200\n"); },
       {"StageData.dat, line 1: it ends" + crlf}},
      {"an LF table without a line end after its last row", "Floor.dat",
       [&](const std::string& t) {
         std::string lf = lfOnly(t);
         lf.pop_back();
         return lf;
       },
       {"Floor.dat: its lines end" + crlf}},
      // Each row below runs into the next, which holds what play needs.
      {"a floor row ending in a comma and LF alone", "Floor.dat",
       [](const std::string& t) { return Replaced(t, "1,100,100,600,600\r\n", "1,100,100,600,600,\n"); },
       {"Floor.dat, line 1: it ends" + crlf}},
      {"a floor row with a value past those read ending with LF alone", "Floor.dat",
       [](const std::string& t) { return Replaced(t, "1,100,100,600,600\r\n", "1,100,100,600,600,7\n"); },
       {"Floor.dat, line 1: it ends" + crlf}},
      {"a start row with a value past those read ending with LF alone", "StageData.dat",
       [](const std::string& t) { return Replaced(t, "1,0,200,200\r\n", "1,0,200,200,7\n"); },
       {"StageData.dat, line 1: it ends" + crlf}},
      {"a row of an unknown prefix ending with LF alone", "StageData.dat",
       [](const std::string& t) { return Replaced(t, "1,0,200,200\r\n", "1,0,200,200\r\n1,9,5\n"); },
       {"StageData.dat, line 2: it ends" + crlf}},
      {"bytes after the floor table's last row", "Floor.dat",
       [](const std::string& t) { return t + "\x01\x7fgarbage\xff"; },
       {"Floor.dat ends inside a line: it may have been cut short",
        "Floor.dat, line 195: it holds 1 value; a floor row needs 5"}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    GameFolder folder;
    PrepareAnotherStart(folder);
    test::WriteFileText(c.file, c.damage(ReadText(c.file)));
    ExpectTheStartStopped(folder, {c.logged.back()}, c.logged);
    EXPECT_EQ(ErrorLogTexts(), c.logged);
  }
}

// A start is on a floor by the body's point 13 px in, not by its corner:
// these corners lie on no floor, their points on the first.
TEST_F(GameFailurePaths, AStartWhosePointLiesOnAFloorStartsTheGame) {
  for (const char* start : {"1,0,90,200", "1,0,200,90"}) {
    SCOPED_TRACE(start);
    GameFolder folder;
    PrepareAnotherStart(folder);
    test::WriteFileText("StageData.dat", Replaced(ReadText("StageData.dat"), "1,0,200,200", start));
    Start();
    EXPECT_TRUE(platform::test::MessageBoxRecords().empty());
    EXPECT_TRUE(ErrorLogTexts().empty());
    Stop();
  }
}

// The generated tables without the rows of stage n.
std::string WithoutStage(const std::string& table, int n) {
  std::string kept;
  std::istringstream in(table);
  for (std::string line; std::getline(in, line);)
    if (line.rfind(std::to_string(n) + ",", 0) != 0) kept += line + "\n";
  return kept;
}

// Courses play stages 1 to 20 whatever the tables list, so each of them
// missing from either table stops the start as a damaged row does.
TEST_F(GameFailurePaths, StagesTheCoursesPlayMissingFromTheTablesStopTheStart) {
  const std::string course = " (courses play stages 1 to 20)";
  const struct {
    const char* what;
    std::function<void()> damage;
    std::vector<std::string> entries;  // in the box
    std::vector<std::string> logged;   // in the error log and on stderr
  } cases[] = {
      {"a stage table cut at a line end after stage 5",
       [] {
         const std::string t = ReadText("StageData.dat");
         test::WriteFileText("StageData.dat", t.substr(0, t.find("\r\n6,") + 2));
       },
       {"StageData.dat: stage 6 is missing" + course},
       {"StageData.dat: stage 6 is missing" + course}},
      {"a floor table without stage 12",
       [] { test::WriteFileText("Floor.dat", WithoutStage(ReadText("Floor.dat"), 12)); },
       {"Floor.dat: stage 12 has no floors"},
       {"Floor.dat: stage 12 has no floors"}},
      {"stage 12 taken out of both tables",
       [] {
         for (const char* file : {"Floor.dat", "StageData.dat"})
           test::WriteFileText(file, WithoutStage(ReadText(file), 12));
       },
       {"Floor.dat: stage 12 has no floors", "StageData.dat: stage 12 is missing" + course},
       {"Floor.dat: stage 12 has no floors", "StageData.dat: stage 12 is missing" + course}},
      {"stage 20, the last a course plays, taken out of both tables",
       [] {
         for (const char* file : {"Floor.dat", "StageData.dat"})
           test::WriteFileText(file, WithoutStage(ReadText(file), 20));
       },
       {"Floor.dat: stage 20 has no floors", "StageData.dat: stage 20 is missing" + course},
       {"Floor.dat: stage 20 has no floors", "StageData.dat: stage 20 is missing" + course}},
      {"a floor table without stage 12 beside no stage table",
       [] {
         test::WriteFileText("Floor.dat", WithoutStage(ReadText("Floor.dat"), 12));
         std::filesystem::remove("StageData.dat");
       },
       {"Floor.dat: stage 12 has no floors", "StageData.dat"},
       {"Floor.dat: stage 12 has no floors", "StageData.dat could not be opened: " + kNotFound}},
      // Every picture is there: a damaged data folder, not the wrong one.
      {"neither table beside every picture",
       [] {
         std::filesystem::remove("Floor.dat");
         std::filesystem::remove("StageData.dat");
       },
       {"Floor.dat", "StageData.dat"},
       {"Floor.dat could not be opened: " + kNotFound, "StageData.dat could not be opened: " + kNotFound}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    GameFolder folder;
    PrepareAnotherStart(folder);
    c.damage();
    ExpectTheStartStopped(folder, c.entries, c.logged);
  }
}

// Rows play passes over (a prefix the game does not know, a value beyond
// those read, an empty line, an enemy of a race the game does not know, a
// stage outside 1 to 99) leave the game playable, and each is said.
TEST_F(GameFailurePaths, RowsPlayPassesOverAreSaidAndTheGameStarts) {
  test::WriteFileText("StageData.dat", "1,7,5,5\r\n" + Replaced(ReadText("StageData.dat"), "1,0,200,200\r\n",
                                                                  "1,0,200,200,9\r\n\r\n1,2,99,300,300,0,0\r\n"));
  test::WriteFileText("Floor.dat", "0,1,1,2,2\r\n" + ReadText("Floor.dat"));
  testing::internal::CaptureStderr();
  Start();
  EXPECT_EQ(testing::internal::GetCapturedStderr(),
            "Floor.dat, line 1: stage 0 is not one of 1 to 99, so the row is never used\n"
            "StageData.dat, line 1: prefix 7 is not one the game knows, so the row is not read\n"
            "StageData.dat, line 2: it holds 5 values; those after value 4 are not read\n"
            "StageData.dat, line 3: it is empty and is passed over\n"
            "StageData.dat, line 4: race 99 is not one the game knows (1 to 5), so the enemy is left out\n");
  EXPECT_TRUE(App().IsPlayable());
  EXPECT_TRUE(platform::test::MessageBoxRecords().empty());
}

// A column appended to every row of both tables leaves the game playable and
// is said once per file, not once per row.
TEST_F(GameFailurePaths, ValuesPastThoseReadInEveryRowAreSaidOncePerFile) {
  for (const char* file : {"Floor.dat", "StageData.dat"}) {
    std::string table = ReadText(file);
    for (std::size_t at = 0; (at = table.find("\r\n", at)) != std::string::npos; at += 4) table.insert(at, ",7");
    test::WriteFileText(file, table);
  }
  testing::internal::CaptureStderr();
  Start();
  const std::vector<std::string> lines = {
      "Floor.dat: 194 rows hold values past those the game reads (first at line 1); they are not read",
      "StageData.dat: 210 rows hold values past those the game reads (first at line 1); they are not read"};
  EXPECT_EQ(testing::internal::GetCapturedStderr(), lines[0] + "\n" + lines[1] + "\n");
  EXPECT_EQ(ErrorLogTexts(), lines);
  EXPECT_TRUE(App().IsPlayable());
  EXPECT_TRUE(platform::test::MessageBoxRecords().empty());
}

}  // namespace
}  // namespace nura::game_test

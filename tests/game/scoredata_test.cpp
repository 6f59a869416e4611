// The score file: its creation image (checked against Python's struct
// module), the header flags, records written in queue order, files that are
// short, recreated empty or damaged, and saves that fail.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <cstring>
#include <filesystem>
#include <random>
#include <sstream>

#include "game/scoredata.h"
#include "tests/game/game_test_util.h"

namespace nura::game_test {
namespace {

using Bytes = std::vector<std::uint8_t>;

Bytes ScoreFile() { return test::ReadFileBytes("score.dat"); }

void PutSlot(Bytes& b, int slot, std::int32_t time, const char name[4]) {
  for (int i = 0; i < 4; ++i) b[8 * slot + i] = static_cast<std::uint8_t>(static_cast<std::uint32_t>(time) >> (8 * i));
  std::memcpy(&b[8 * slot + 4], name, 4);
}

TEST(ScoreData, AMissingFileIsCreatedWithTheDefaultImage) {
  GameFolder dir;
  C_ScoreData score;
  EXPECT_EQ(ScoreFile(), PythonScoreImage({}));
  for (int s = 0; s < 110; ++s) {
    EXPECT_EQ(score.GetScore(s), 3000000) << s;
    EXPECT_STREQ(score.GetName(s), "QZX") << s;
  }
  for (int i = 0; i < 3; ++i) EXPECT_FALSE(score.GetFlag(i));
  EXPECT_FALSE(score.HasPending());
  // An empty file is created over in the same way.
  test::WriteFileText("score.dat", "");
  C_ScoreData again;
  EXPECT_EQ(ScoreFile(), PythonScoreImage({}));
}

TEST(ScoreData, HeaderFlagsHoldTheDefaultNameLetters) {
  GameFolder dir;
  test::WriteFileBytes("score.dat", PythonScoreImage({}, "QZX"));
  {
    C_ScoreData score;
    for (int i = 0; i < 3; ++i) EXPECT_TRUE(score.GetFlag(i)) << i;
  }
  // Any other byte clears its flag: a letter at the wrong place, lower case, 1.
  test::WriteFileBytes("score.dat", PythonScoreImage({}, "ZzX"));
  {
    C_ScoreData score;
    EXPECT_FALSE(score.GetFlag(0));
    EXPECT_FALSE(score.GetFlag(1));
    EXPECT_TRUE(score.GetFlag(2));
    score.SetFlag(0, true);
    EXPECT_TRUE(score.GetFlag(0));
    score.SetFlag(2, false);
    score.SetFlag(3, true);   // no such flag
    score.SetFlag(-1, true);  // nor this
    EXPECT_EQ(ScoreFile(), PythonScoreImage({}, std::string("Qz\0", 3)));
  }
  C_ScoreData reread;
  EXPECT_TRUE(reread.GetFlag(0));
  EXPECT_FALSE(reread.GetFlag(1));
  EXPECT_FALSE(reread.GetFlag(2));
}

TEST(ScoreData, RecordsAreWrittenInTheOrderQueued) {
  GameFolder dir;
  C_ScoreData score;
  score.QueueScore(5, 61234);
  score.QueueScore(99, 999);
  score.QueueScore(5, 45000);  // the later entry for a slot wins
  score.QueueScore(0, 1);      // the header is no stage
  score.QueueScore(110, 1);    // beyond the table
  score.QueueScore(-3, 1);
  EXPECT_TRUE(score.HasPending());
  score.WriteRecords("ABCD");  // three letters are kept
  EXPECT_FALSE(score.HasPending());
  EXPECT_EQ(ScoreFile(), PythonScoreImage({{5, 45000, "ABC"}, {99, 999, "ABC"}}));
  EXPECT_EQ(score.GetScore(5), 45000);
  EXPECT_STREQ(score.GetName(99), "ABC");

  score.QueueScore(109, 7);  // the last reserved slot is still a slot
  score.QueueScore(6, 1000);
  score.WriteRecords("");
  score.QueueScore(7, 2000);
  score.WriteRecords(nullptr);
  score.QueueScore(8, 3000);
  score.WriteRecords("Z");
  EXPECT_EQ(ScoreFile(), PythonScoreImage({{5, 45000, "ABC"},
                                           {99, 999, "ABC"},
                                           {109, 7, ""},
                                           {6, 1000, ""},
                                           {7, 2000, ""},
                                           {8, 3000, "Z"}}));
  C_ScoreData reread;
  EXPECT_EQ(reread.GetScore(8), 3000);
  EXPECT_STREQ(reread.GetName(8), "Z");
  EXPECT_STREQ(reread.GetName(6), "");
  EXPECT_EQ(reread.GetScore(110), 3000000) << "outside the table";
}

TEST(ScoreData, AShortFileKeepsItsWholeSlotsAndIsCompletedBeforeWriting) {
  GameFolder dir;
  Bytes image = PythonScoreImage({{1, 11000, "AAA"}, {2, 22000, "BB"}, {9, 99000, "CCC"}, {10, 1, "DDD"}}, "Q");
  image.resize(8 * 10 + 5);  // slot 10 is cut inside its name
  test::WriteFileBytes("score.dat", image);
  C_ScoreData score;
  EXPECT_EQ(score.GetScore(1), 11000);
  EXPECT_STREQ(score.GetName(2), "BB");
  EXPECT_EQ(score.GetScore(9), 99000);
  EXPECT_EQ(score.GetScore(10), 3000000) << "a cut slot takes its creation value";
  EXPECT_STREQ(score.GetName(10), "QZX");
  EXPECT_EQ(score.GetScore(50), 3000000);
  EXPECT_TRUE(score.GetFlag(0));
  EXPECT_EQ(ScoreFile().size(), image.size()) << "reading repairs nothing";

  score.QueueScore(50, 5000);
  score.WriteRecords("XY");
  EXPECT_EQ(ScoreFile(),
            PythonScoreImage({{1, 11000, "AAA"}, {2, 22000, "BB"}, {9, 99000, "CCC"}, {50, 5000, "XY"}}, "Q"));
}

TEST(ScoreData, AFileRecreatedEmptyGetsTheWholeTableNotZeros) {
  GameFolder dir;
  C_ScoreData score;
  score.QueueScore(3, 30000);
  score.WriteRecords("AAA");
  test::WriteFileText("score.dat", "");  // emptied while the game runs
  score.QueueScore(4, 40000);
  score.WriteRecords("BBB");
  EXPECT_EQ(ScoreFile(), PythonScoreImage({{3, 30000, "AAA"}, {4, 40000, "BBB"}}));
  std::filesystem::remove("score.dat");  // or removed
  score.SetFlag(1, true);
  EXPECT_EQ(ScoreFile(), PythonScoreImage({{3, 30000, "AAA"}, {4, 40000, "BBB"}}, std::string("\0Z", 2)));
}

TEST(ScoreData, NamesAreAlwaysTerminatedAndNegativeTimesAreNoRecords) {
  GameFolder dir;
  Bytes image = PythonScoreImage({});
  PutSlot(image, 1, 12345, "ABCD");
  PutSlot(image, 2, -1, "EFG");
  PutSlot(image, 3, 0, "HI\0J");
  test::WriteFileBytes("score.dat", image);
  C_ScoreData score;
  EXPECT_EQ(score.GetScore(1), 12345);
  EXPECT_STREQ(score.GetName(1), "ABC");
  EXPECT_EQ(score.GetScore(2), 3000000);
  EXPECT_STREQ(score.GetName(2), "QZX");
  EXPECT_EQ(score.GetScore(3), 0);
  EXPECT_STREQ(score.GetName(3), "HI");
}

// Random damage: cut at any length, random bytes, some slots valid. Every whole
// slot with a time of 0 or more survives reading and a later write; nothing
// else is taken from the file.
TEST(ScoreData, DamagedFilesKeepEveryValidRecord) {
  GameFolder dir;
  std::mt19937 rng(20050322);
  for (int round = 0; round < 200; ++round) {
    Bytes bytes(std::uniform_int_distribution<int>(1, 1000)(rng));
    for (auto& b : bytes) b = static_cast<std::uint8_t>(rng());
    // Some slots hold plausible records.
    for (int s = 1; s < 110; ++s)
      if (8 * s + 8 <= static_cast<int>(bytes.size()) && rng() % 3 == 0) PutSlot(bytes, s, rng() % 1000000, "NUR");
    test::WriteFileBytes("score.dat", bytes);

    C_ScoreData score;
    for (int s = 1; s < 110; ++s) {
      const bool whole = 8 * s + 8 <= static_cast<int>(bytes.size());
      std::int32_t time = 0;
      if (whole) std::memcpy(&time, &bytes[8 * s], 4);
      const bool valid = whole && time >= 0;
      ASSERT_EQ(score.GetScore(s), valid ? time : 3000000) << "round " << round << " slot " << s;
      ASSERT_LE(std::strlen(score.GetName(s)), 3u);
      if (!valid) {
        ASSERT_STREQ(score.GetName(s), "QZX");
      }
    }
    const int slot = 1 + static_cast<int>(rng() % 109);
    score.QueueScore(slot, 4321);
    score.WriteRecords("NEW");
    C_ScoreData reread;
    ASSERT_GE(ScoreFile().size(), 880u);
    for (int s = 1; s < 110; ++s) {
      ASSERT_EQ(reread.GetScore(s), s == slot ? 4321 : score.GetScore(s)) << "round " << round << " slot " << s;
      ASSERT_STREQ(reread.GetName(s), score.GetName(s));
    }
  }
}

// Saves that fail keep the records in memory, and each one leaves one line in
// the error log naming the file and the system's error; when the error log
// cannot be written either, the line goes to standard error.
TEST(ScoreData, SavesThatFailKeepMemoryAndAreReportedInTheErrorLog) {
  const std::string denied = "score.dat could not be written: ERROR_ACCESS_DENIED (5) Access is denied.";
  const struct {
    const char* name;
    void (*prepare)();
    bool permissions;  // the case relies on file permissions
    std::vector<std::string> lines;
    const char* onStderr;  // the lines go to standard error with this reason
  } cases[] = {
      {"a folder of that name", [] { std::filesystem::create_directory("score.dat"); }, false,
       std::vector<std::string>(2, "score.dat could not be written: ERROR_DIRECTORY (267)"), nullptr},
      // The error log is there already and may be written.
      {"a read-only folder",
       [] {
         test::WriteFileText("ErrorLog.txt", "");
         chmod("ErrorLog.txt", 0666);
         chmod(".", 0555);
       },
       true, std::vector<std::string>(2, denied), nullptr},
      // The error log cannot be made there either.
      {"a read-only folder without an error log", [] { chmod(".", 0555); }, true, std::vector<std::string>(2, denied),
       "ERROR_ACCESS_DENIED"},
      // Creating the file is a save as well.
      {"a full disk", [] { std::filesystem::create_symlink("/dev/full", "score.dat"); }, false,
       std::vector<std::string>(3, "score.dat could not be written: ERROR_DISK_FULL (112)"), nullptr},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    GameFolder dir;
    c.prepare();
    testing::internal::CaptureStderr();
    {
      test::AsNobody nobody(c.permissions);
      C_ScoreData score;
      EXPECT_EQ(score.GetScore(1), 3000000);
      EXPECT_STREQ(score.GetName(1), "QZX");
      score.QueueScore(1, 100);
      score.WriteRecords("ABC");
      score.SetFlag(0, true);
      EXPECT_EQ(score.GetScore(1), 100) << "memory is updated even when the file cannot be";
      EXPECT_STREQ(score.GetName(1), "ABC");
      EXPECT_TRUE(score.GetFlag(0));
      EXPECT_FALSE(score.HasPending());
    }
    std::istringstream err(testing::internal::GetCapturedStderr());
    chmod(".", 0700);
    if (c.onStderr) {
      EXPECT_FALSE(std::filesystem::exists("ErrorLog.txt"));
      const std::string prefix = std::string("ErrorLog.txt could not be written (") + c.onStderr + "): ";
      EXPECT_EQ(err.str().find(prefix), 0u) << err.str();
      EXPECT_EQ(LogLineTexts(err), c.lines) << err.str();
    } else {
      EXPECT_EQ(err.str(), "");
      EXPECT_EQ(ErrorLogTexts(), c.lines);
    }
    EXPECT_FALSE(std::filesystem::is_regular_file("score.dat"));
  }
}

}  // namespace
}  // namespace nura::game_test

// The score file: its creation image (checked against Python's struct
// module), the header flags, records written in queue order, files that are
// short, recreated empty or damaged, and saves that fail.
#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <cstring>
#include <filesystem>
#include <random>
#include <sstream>

#include "game/scoredata.h"
#include "platform/testing.h"
#include "platform/win_user.h"
#include "tests/game/game_test_util.h"

namespace nura::game_test {
namespace {

using Bytes = std::vector<std::uint8_t>;

Bytes ScoreFile() { return test::ReadFileBytes("score.dat"); }

void PutSlot(Bytes& b, int slot, std::int32_t time, const char name[4]) {
  for (int i = 0; i < 4; ++i) b[8 * slot + i] = static_cast<std::uint8_t>(static_cast<std::uint32_t>(time) >> (8 * i));
  std::memcpy(&b[8 * slot + 4], name, 4);
}

TEST(ScoreData, AMissingOrEmptyFileIsCreatedOnlyWhenTheGameHasStarted) {
  GameFolder dir;
  for (const bool empty : {false, true}) {
    if (empty) test::WriteFileText("score.dat", "");
    C_ScoreData score;
    EXPECT_EQ(score.GetFileState(), C_ScoreData::FileState::kMissing);
    EXPECT_EQ(std::filesystem::exists("score.dat"), empty) << "reading creates nothing";
    for (int s = 0; s < 110; ++s) {
      EXPECT_EQ(score.GetScore(s), 3000000) << s;
      EXPECT_STREQ(score.GetName(s), "QZX") << s;
    }
    for (int i = 0; i < 3; ++i) EXPECT_FALSE(score.GetFlag(i));
    EXPECT_FALSE(score.HasPending());
    score.Prepare();
    EXPECT_EQ(ScoreFile(), PythonScoreImage({}));
    EXPECT_EQ(score.GetFileState(), C_ScoreData::FileState::kGood);
    std::filesystem::remove("score.dat");
  }
  EXPECT_FALSE(std::filesystem::exists("ErrorLog.txt"));
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

// What the game writes reads back; a slot or header no game writes makes the
// whole file damaged.
TEST(ScoreData, ASlotNoGameWritesMakesTheFileDamaged) {
  const struct {
    const char* what;
    int slot;  // -1: the header
    std::int32_t time;
    std::string bytes;  // the four name bytes
    const char* name;   // as read, for a good file; null: damaged
    bool zeroAfter = false;  // the next slot's first byte is 0
  } cases[] = {
      {"a time of 0 and garbage after the end of the name", 3, 0, std::string("HI\0J", 4), "HI"},
      {"an empty name", 7, 5000, std::string(4, '\0'), ""},
      {"the last reserved slot", 109, 7, std::string("A\0\0\0", 4), "A"},
      {"a negative time", 2, -1, std::string("EFG\0", 4), nullptr},
      {"a name without its end", 1, 12345, "ABCD", nullptr},
      {"a name without its end before a zero byte", 5, 12345, "ABCD", nullptr, true},
      {"a name without its end in the last slot", 109, 12345, "ABCD", nullptr},
      {"a control byte in the name", 50, 100, std::string("A\nB\0", 4), nullptr},
      {"a byte beyond ASCII in the name", 99, 100, std::string("\xE3\0\0\0", 4), nullptr},
      {"a wrong header time", -1, 2999999, std::string("QZX\0", 4), nullptr},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    GameFolder dir;
    Bytes image = PythonScoreImage({{1, 40000, "OLD"}});
    PutSlot(image, c.slot < 0 ? 0 : c.slot, c.time, c.bytes.data());
    if (c.zeroAfter) PutSlot(image, c.slot + 1, 0, "Z\0\0\0");
    if (c.slot < 0) image[4] = 1;
    test::WriteFileBytes("score.dat", image);
    C_ScoreData score;
    EXPECT_EQ(score.GetFileState(), c.name ? C_ScoreData::FileState::kGood : C_ScoreData::FileState::kDamaged);
    EXPECT_EQ(score.GetScore(1), c.name ? 40000 : 3000000) << "a damaged file gives a fresh table";
    if (!c.name) continue;
    EXPECT_EQ(score.GetScore(c.slot), c.time);
    EXPECT_STREQ(score.GetName(c.slot), c.name);
  }
}

// A damaged file is named with what is wrong, kept under the first free name
// (never over another file) and replaced by a fresh table; the records it
// held are gone from the game but not from the disk.
TEST(ScoreData, ADamagedFileIsKeptAsideUnderAFreeNameAndAFreshTableIsUsed) {
  GameFolder dir;
  const Bytes kept = {1, 2, 3};
  test::WriteFileBytes("score.dat.bad", kept);
  Bytes cut = PythonScoreImage({{1, 11000, "AAA"}});
  cut.resize(85);
  test::WriteFileBytes("score.dat", cut);
  testing::internal::CaptureStderr();
  C_ScoreData score;
  EXPECT_EQ(score.GetScore(1), 3000000);
  score.Prepare();
  const std::string line =
      "score.dat is damaged: it holds 85 bytes, not 880; it is kept as score.dat.bad.1 and a fresh table is used";
  EXPECT_EQ(testing::internal::GetCapturedStderr(), line + "\n");
  EXPECT_THAT(ErrorLogTexts(), testing::ElementsAre(line));
  EXPECT_EQ(test::ReadFileBytes("score.dat.bad"), kept) << "never overwritten";
  EXPECT_EQ(test::ReadFileBytes("score.dat.bad.1"), cut);
  EXPECT_EQ(ScoreFile(), PythonScoreImage({}));
  score.QueueScore(2, 900);
  score.WriteRecords("NEW");
  EXPECT_EQ(ScoreFile(), PythonScoreImage({{2, 900, "NEW"}}));
  EXPECT_TRUE(platform::test::MessageBoxRecords().empty()) << "the game goes on with its fresh table";
}

// Random bytes of any length are damaged, whole tables with random records
// are good; a damaged file survives byte for byte beside the fresh one.
TEST(ScoreData, RandomDamageIsFoundAndKeptWhole) {
  const Bytes fresh = PythonScoreImage({}, "QZX");
  std::mt19937 rng(20050322);
  for (int round = 0; round < 200; ++round) {
    GameFolder dir;
    const bool whole = round % 2 == 0;
    Bytes bytes;
    std::vector<SlotValue> records;
    if (whole) {
      bytes = fresh;
      for (int s = 1; s < 110; ++s) {
        if (rng() % 3) continue;
        std::string name(1 + rng() % 3, static_cast<char>('A' + rng() % 26));
        records.push_back({s, static_cast<int>(rng() % 1000000), name});
        name.resize(4, '\0');
        PutSlot(bytes, s, records.back().time, name.data());
      }
    } else {
      bytes.resize(std::uniform_int_distribution<int>(1, 2000)(rng));
      for (auto& b : bytes) b = static_cast<std::uint8_t>(rng());
    }
    test::WriteFileBytes("score.dat", bytes);
    C_ScoreData score;
    ASSERT_EQ(score.GetFileState(), whole ? C_ScoreData::FileState::kGood : C_ScoreData::FileState::kDamaged)
        << "round " << round;
    for (const SlotValue& r : records) {
      ASSERT_EQ(score.GetScore(r.slot), r.time);
      ASSERT_EQ(score.GetName(r.slot), r.name);
    }
    score.Prepare();
    ASSERT_EQ(std::filesystem::exists("score.dat.bad"), !whole);
    if (!whole) {
      ASSERT_EQ(test::ReadFileBytes("score.dat.bad"), bytes);
      Bytes cleared = fresh;
      cleared[5] = cleared[6] = cleared[7] = 0;
      ASSERT_EQ(ScoreFile(), cleared);
    } else {
      ASSERT_EQ(ScoreFile(), bytes) << "a good file is left as it is";
    }
  }
}

// Saves that fail keep the records in memory, and each one leaves one line in
// the error log and on standard error naming the file and the system's error
// (when the error log cannot be written either, its stand-in line on
// standard error carries it); the player sees one box for the session.
TEST(ScoreData, SavesThatFailKeepMemoryAndAreReportedOnceToThePlayer) {
  const std::string denied = "score.dat could not be written: ERROR_ACCESS_DENIED (5) Access is denied.";
  const std::string full = "score.dat could not be written: ERROR_DISK_FULL (112)";
  const struct {
    const char* name;
    void (*prepare)();
    bool permissions;  // the case relies on file permissions
    std::vector<std::string> lines;
    const char* onStderr;  // the error log's lines go to standard error with this reason
  } cases[] = {
      {"a folder of that name", [] { std::filesystem::create_directory("score.dat"); }, false,
       {"score.dat could not be opened: ERROR_DIRECTORY (267)", "score.dat could not be written: ERROR_DIRECTORY (267)",
        "score.dat could not be written: ERROR_DIRECTORY (267)"},
       nullptr},
      // The error log is there already and may be written. Creating the file
      // at the start is a save as well.
      {"a read-only folder",
       [] {
         test::WriteFileText("ErrorLog.txt", "");
         chmod("ErrorLog.txt", 0666);
         chmod(".", 0555);
       },
       true, std::vector<std::string>(3, denied), nullptr},
      // The error log cannot be made there either.
      {"a read-only folder without an error log", [] { chmod(".", 0555); }, true, std::vector<std::string>(3, denied),
       "ERROR_ACCESS_DENIED"},
      {"a full disk", [] { std::filesystem::create_symlink("/dev/full", "score.dat"); }, false,
       std::vector<std::string>(3, full), nullptr},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    GameFolder dir;
    c.prepare();
    const std::size_t boxes = platform::test::MessageBoxRecords().size();
    testing::internal::CaptureStderr();
    {
      test::AsNobody nobody(c.permissions);
      C_ScoreData score;
      EXPECT_EQ(score.GetScore(1), 3000000);
      EXPECT_STREQ(score.GetName(1), "QZX");
      score.Prepare();
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
      std::string said;
      for (const std::string& line : c.lines) said += line + "\n";
      EXPECT_EQ(err.str(), said);
      EXPECT_EQ(ErrorLogTexts(), c.lines);
    }
    EXPECT_FALSE(std::filesystem::is_regular_file("score.dat"));
    const auto& records = platform::test::MessageBoxRecords();
    ASSERT_EQ(records.size(), boxes + 1) << "one box for the session";
    EXPECT_EQ(records.back().caption, "ぬらもぺい");
    EXPECT_EQ(records.back().type, static_cast<UINT>(MB_OK | MB_ICONERROR));
    const std::string path = dir.path() + "/score.dat could not be written: ";
    EXPECT_NE(records.back().text.find(path), std::string::npos) << records.back().text;
  }
}

}  // namespace
}  // namespace nura::game_test

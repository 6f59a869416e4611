// The stage and floor tables: floors per stage in file order, stage records
// from interleaved rows, the best time from the score file, the preview path,
// and malformed rows (bad prefixes, short rows, stage numbers out of range)
// reported with their exact messages.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <limits>
#include <random>

#include "game/floordata.h"
#include "tests/game/game_test_util.h"

namespace nura::game_test {
namespace {

using testing::ElementsAre;

// A table that is not there is named once, with the system's reason.
const std::string kNoFloorTable =
    "Floor.dat could not be opened: ERROR_FILE_NOT_FOUND (2) The system cannot find the file specified.";
const std::string kNoStageTable =
    "StageData.dat could not be opened: ERROR_FILE_NOT_FOUND (2) The system cannot find the file specified.";

TEST(FloorData, FloorsOfEachStageInFileOrder) {
  GameFolder dir;
  test::WriteFileText("Floor.dat",
                      "2,10,20,30,40\r\n"
                      "1,0,0,100,50\r\n"
                      "2,50,60,70,80\r\n"
                      "4,1,2,3,4\r\n");
  C_FloorData data;
  EXPECT_EQ(data.nStage(), 0);
  EXPECT_EQ(data.FloorCount(), 0) << "stage 0 exists and has no floors";
  data.LoadStage(2);
  ASSERT_EQ(data.FloorCount(), 2);
  EXPECT_EQ(data.xLeft(0), 10);
  EXPECT_EQ(data.GetTop(0), 20);
  EXPECT_EQ(data.GetRight(1), 70);
  EXPECT_EQ(data.GetBottom(1), 80);
  data.LoadStage(3);
  EXPECT_EQ(data.FloorCount(), 0) << "a stage without rows has no floors";
  EXPECT_THAT(ErrorLogTexts(), ElementsAre(kNoStageTable));

  // Floor 2 of stage 2 does not exist; stage 5 lies beyond the floor table.
  data.LoadStage(2);
  EXPECT_EQ(data.xLeft(2), 0);
  EXPECT_EQ(data.GetBottom(-1), 0);
  data.LoadStage(5);
  EXPECT_EQ(data.FloorCount(), 0);
  EXPECT_EQ(data.GetTop(0), 0);
  EXPECT_THAT(ErrorLogTexts(), ElementsAre(kNoStageTable,
                                           "C_FloorData::xLeftにおいて、不正な床番号を検出。 number = 2",
                                           "C_FloorData::xLeftにおいて、不正な床番号を検出。 number = -1",
                                           "C_FloorData::xLeftにおいて、不正なステージ番号を検出。 nStage() = 5",
                                           "C_FloorData::xLeftにおいて、不正なステージ番号を検出。 nStage() = 5"));
}

TEST(FloorData, InterleavedStageRowsLoadEachStageInFileOrder) {
  GameFolder dir;
  test::WriteFileText("StageData.dat",
                      "1,0,100,200\r\n"
                      "2,2,4,0,0,30,40\r\n"
                      "1,2,1,100,25,300,400\r\n"
                      "2,0,7,8\r\n"
                      "1,3,2,5\r\n"
                      "1,2,3,0,0,500,600\r\n"
                      "2,4,5,6,7\r\n"
                      "1,1,10,20,30,40\r\n"
                      "1,3,3,2\r\n"
                      "1,4,12,18,45\r\n"
                      "1,2,2,80,5,700,800\r\n");
  C_FloorData data;
  data.LoadStage(1);
  EXPECT_EQ(data.nStage(), 1);
  EXPECT_EQ(data.GetStartX(), 100);
  EXPECT_EQ(data.GetStartY(), 200);
  EXPECT_EQ(data.GetGoalRect().left, 10);
  EXPECT_EQ(data.GetGoalRect().bottom, 40);
  EXPECT_EQ(data.GetThresholdA(), 12000);
  EXPECT_EQ(data.GetThresholdB(), 18000);
  EXPECT_EQ(data.GetTimeLimit(), 45000);
  ASSERT_EQ(data.GetEnemyCount(), 3);
  EXPECT_EQ(data.GetEnemy(0).race, 1);
  EXPECT_EQ(data.GetEnemy(0).b, 25);
  EXPECT_EQ(data.GetEnemy(1).race, 3);
  EXPECT_EQ(data.GetEnemy(2).race, 2);
  EXPECT_EQ(data.GetEnemy(2).d, 800);
  EXPECT_EQ(data.GetEnemy(3).race, 0) << "outside the list";
  ASSERT_EQ(data.GetPathSteps().size(), 2u);
  EXPECT_EQ(data.GetPathSteps()[0].direction, 2);
  EXPECT_EQ(data.GetPathSteps()[1].frames, 2);

  data.LoadStage(2);
  EXPECT_EQ(data.GetStartX(), 7);
  ASSERT_EQ(data.GetEnemyCount(), 1);
  EXPECT_EQ(data.GetEnemy(0).c, 30);
  EXPECT_TRUE(data.GetPathSteps().empty());
  // Loading a stage again does not add its rows twice.
  data.LoadStage(1);
  EXPECT_EQ(data.GetEnemyCount(), 3);
  EXPECT_EQ(data.GetPathSteps().size(), 2u);
  EXPECT_THAT(ErrorLogTexts(), ElementsAre(kNoFloorTable));
}

TEST(FloorData, BestTimeIsTheRecordOrTheTimeLimit) {
  GameFolder dir;
  test::WriteFileBytes("score.dat", PythonScoreImage({{2, 12345, "ABC"}, {3, 70000, "DEF"}}));
  test::WriteFileText("StageData.dat", "1,4,10,20,60\r\n2,4,10,20,60\r\n3,4,10,20,60\r\n");
  C_FloorData data;
  data.LoadStage(1);
  EXPECT_EQ(data.GetBestTime(), 60000) << "no record: the time limit is the time to beat";
  EXPECT_STREQ(data.GetBestName(), "QZX");
  data.LoadStage(2);
  EXPECT_EQ(data.GetBestTime(), 12345);
  EXPECT_STREQ(data.GetBestName(), "ABC");
  data.LoadStage(3);
  EXPECT_EQ(data.GetBestTime(), 60000) << "a record above the limit shows the limit";
}

TEST(FloorData, TheGoalPointLiesFarOutsideTheField) {
  GameFolder dir;
  test::WriteFileText("StageData.dat", "1,0,5,5\r\n");
  C_FloorData data;
  data.LoadStage(1);
  EXPECT_LT(data.GetGoalPointX(), -100000);
  EXPECT_LT(data.GetGoalPointY(), -100000);
}

TEST(FloorData, BadPrefixesAndShortRowsAreReportedAndSkipped) {
  GameFolder dir;
  test::WriteFileText("StageData.dat",
                      "1,0,10,20\r\n"
                      "1,7,1,2,3\r\n"
                      "1,2,1,100\r\n"
                      "1\r\n"
                      "1,-1\r\n"
                      "1,1,5,6,7\r\n"
                      "2,9\r\n"
                      "1,2,4,0,0,50,60\r\n");
  C_FloorData data;
  data.LoadStage(1);
  EXPECT_EQ(data.GetStartX(), 10);
  ASSERT_EQ(data.GetEnemyCount(), 1);
  EXPECT_EQ(data.GetEnemy(0).race, 4);
  EXPECT_EQ(data.GetGoalRect().right, 0) << "the short goal row is skipped whole";
  EXPECT_THAT(ErrorLogTexts(),
              ElementsAre(kNoFloorTable,
                          "StageData.dat内に異常なプレフィクスが見つかりました。line = 1, prefix = 7",
                          "StageData.dat内に列の足りない行が見つかりました。line = 2",
                          "StageData.dat内に列の足りない行が見つかりました。line = 3",
                          "StageData.dat内に異常なプレフィクスが見つかりました。line = 4, prefix = -1",
                          "StageData.dat内に列の足りない行が見つかりました。line = 5"));
}

TEST(FloorData, StageNumbersOutsideTheTableAreRefused) {
  GameFolder dir;
  test::WriteFileText("Floor.dat",
                      "-1,0,0,10,10\r\n"
                      "100,0,0,10,10\r\n"
                      "2147483647,0,0,10,10\r\n"
                      "99999999999999,0,0,10,10\r\n"
                      "99,1,2,3,4\r\n"
                      "3,1,2,3\r\n"
                      " +3,5,6,7,8\r\n");
  test::WriteFileText("StageData.dat", "-5,0,1,1\r\n100,0,1,1\r\n");
  C_FloorData data;
  // The rows skipped are said once, by the start's check, numbered as its box
  // numbers them; the first it cannot read stops it.
  EXPECT_THAT(ErrorLogTexts(), ElementsAre());
  const std::string never = " is not one of 1 to 99, so the row is never used";
  const std::string tooLarge =
      "Floor.dat, line 4: value 1 is a whole number too large for the table, which holds -2147483648 to 2147483647";
  EXPECT_THAT(data.UnusableTables(),
              ElementsAre(tooLarge, "StageData.dat: it lists no stage (no row of a stage 1 to 99)"));
  EXPECT_THAT(ErrorLogTexts(),
              ElementsAre("Floor.dat, line 1: stage -1" + never, "Floor.dat, line 2: stage 100" + never,
                          "Floor.dat, line 3: stage 2147483647" + never, tooLarge,
                          "StageData.dat, line 1: stage -5" + never, "StageData.dat, line 2: stage 100" + never,
                          "StageData.dat: it lists no stage (no row of a stage 1 to 99)"));
  data.LoadStage(99);
  ASSERT_EQ(data.FloorCount(), 1);
  EXPECT_EQ(data.GetRight(0), 3);
  data.LoadStage(3);
  ASSERT_EQ(data.FloorCount(), 1) << "atoi's leading blanks and sign";
  EXPECT_EQ(data.xLeft(0), 5);

  for (int stage : {-5, 100, 2147483647}) {
    data.LoadStage(stage);
    EXPECT_EQ(data.nStage(), 0) << stage;
    EXPECT_EQ(data.GetStartX(), 0) << stage;
    EXPECT_EQ(ErrorLogTexts().back(),
              "C_FloorData::LoadStageにおいて、不正なステージ番号を検出。 stage = " + std::to_string(stage));
  }
  // Slot 0 is no stage's record: a record of the fallback stage is refused.
  data.QueueStageRecord(1000);
  EXPECT_FALSE(data.HasPendingRecords());
}

TEST(FloorData, MissingTablesGiveEmptyStagesAndAreNamedOnce) {
  GameFolder dir;
  C_FloorData data;
  data.LoadStage(7);
  data.LoadStage(7);
  EXPECT_EQ(data.GetEnemyCount(), 0);
  EXPECT_TRUE(data.GetFloors().empty());
  EXPECT_THAT(data.UnusableTables(), ElementsAre("Floor.dat", "StageData.dat"));
  EXPECT_THAT(ErrorLogTexts(), ElementsAre(kNoFloorTable, kNoStageTable));
}

// (x, y) after each frame of the path, until StepPath returns false.
std::vector<std::pair<int, int>> Walk(C_FloorData& data, int* frames) {
  std::vector<std::pair<int, int>> points;
  int x = 1000, y = 1000;
  int f = 0;
  for (; data.StepPath(&x, &y, f); ++f) points.emplace_back(x, y);
  *frames = f;
  return points;
}

TEST(FloorData, StepPathOneStepRight) {
  GameFolder dir;
  test::WriteFileText("StageData.dat", "1,3,2,5\r\n");
  C_FloorData data;
  data.LoadStage(1);
  int frames = 0;
  auto p = Walk(data, &frames);
  EXPECT_EQ(frames, 45);
  for (int f = 0; f < 5; ++f) EXPECT_EQ(p[f], std::make_pair(1000 + 10 * (f + 1), 1000)) << f;
  EXPECT_EQ(p[44], std::make_pair(1001, 1000)) << "back left by 49 px: the truncation loses one";
  for (int f = 5; f < 45; ++f) EXPECT_LE(p[f].first, p[f - 1].first) << f;
}

TEST(FloorData, StepPathRightThenDown) {
  GameFolder dir;
  test::WriteFileText("StageData.dat", "1,3,2,2\r\n1,3,3,2\r\n1,3,0,0\r\n");
  C_FloorData data;
  data.LoadStage(1);
  int frames = 0;
  auto p = Walk(data, &frames);
  EXPECT_EQ(frames, 44) << "the return phase runs from frame 4 to frame 43";
  EXPECT_EQ(p[0], std::make_pair(1010, 1000));
  EXPECT_EQ(p[1], std::make_pair(1020, 1000));
  EXPECT_EQ(p[2], std::make_pair(1020, 1010));
  EXPECT_EQ(p[3], std::make_pair(1020, 1020));
  EXPECT_EQ(p[5], std::make_pair(1020, 1020)) << "(-20) / 40 - 0 and (4 x 20) / 40 - (5 x 20) / 40 move nothing yet";
  EXPECT_EQ(p[6], std::make_pair(1019, 1019));
  EXPECT_EQ(p[43], std::make_pair(1001, 1001)) << "each axis back by 19 px";
}

// Over random paths (every direction, zero-length steps included) the point
// returns to its start within one pixel on each axis, and forward frames move
// exactly 10 px.
TEST(FloorData, StepPathReturnsWithinOnePixel) {
  GameFolder dir;
  std::mt19937 rng(7);
  for (int round = 0; round < 300; ++round) {
    std::string rows;
    int total = 0;
    const int steps = 1 + static_cast<int>(rng() % 6);
    for (int i = 0; i < steps; ++i) {
      const int frames = static_cast<int>(rng() % 40);
      total += frames;
      rows += "1,3," + std::to_string(rng() % 4) + "," + std::to_string(frames) + "\r\n";
    }
    test::WriteFileText("StageData.dat", rows);
    C_FloorData data;
    data.LoadStage(1);
    int frames = 0;
    auto p = Walk(data, &frames);
    ASSERT_EQ(frames, total + 40);
    for (int f = 0; f < total; ++f) {
      auto prev = f == 0 ? std::make_pair(1000, 1000) : p[f - 1];
      ASSERT_EQ(std::abs(p[f].first - prev.first) + std::abs(p[f].second - prev.second), 10) << f;
    }
    ASSERT_LE(std::abs(p.back().first - 1000), 1) << rows;
    ASSERT_LE(std::abs(p.back().second - 1000), 1) << rows;
  }
}

// A table may put the start at the edge of the numbers (the fuzzer's find):
// the point stops there, and the return still moves it by what the path did.
TEST(FloorData, StepPathSaturatesAtTheEdgesOfTheNumbers) {
  GameFolder dir;
  test::WriteFileText("StageData.dat", "1,3,2,3\r\n1,3,1,2\r\n");
  C_FloorData data;
  data.LoadStage(1);
  constexpr int kMax = std::numeric_limits<int>::max(), kMin = std::numeric_limits<int>::min();
  int x = kMax - 15, y = kMin + 5;
  std::vector<std::pair<int, int>> p;
  for (int f = 0; data.StepPath(&x, &y, f); ++f) p.emplace_back(x, y);
  ASSERT_EQ(p.size(), 45u);
  EXPECT_THAT(std::vector(p.begin(), p.begin() + 5),
              ElementsAre(std::pair(kMax - 5, kMin + 5), std::pair(kMax, kMin + 5), std::pair(kMax, kMin + 5),
                          std::pair(kMax, kMin), std::pair(kMax, kMin)));
  EXPECT_EQ(p.back(), std::make_pair(kMax - 29, kMin + 19)) << "back by 29 px left and 19 px down";
}

}  // namespace
}  // namespace nura::game_test

// The stage tables. "Floor.dat" gives the floor rectangles of every stage (the
// area the body may move on); "StageData.dat" gives per stage the start point,
// the goal area, the enemies, the preview path and three times. C_FloorData
// owns both, the current stage number and the score table.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "game/scoredata.h"
#include "platform/win_types.h"
#include "qel/appbase/qelcsvtable.h"

struct C_PathStep {
  std::int32_t direction;  // 0 left, 1 up, 2 right, 3 down
  std::int32_t frames;
};

struct C_EnemyEntry {
  std::int32_t race;
  std::int32_t a, b, c, d;
};

struct C_StageRecord {
  // A goal point that no data row fills lies far outside the field, so the
  // goal rectangle alone ends a stage.
  static constexpr std::int32_t kNoGoalPoint = -1000000;

  std::vector<C_PathStep> path;
  std::vector<C_EnemyEntry> enemies;
  std::int32_t startX = 0, startY = 0;
  std::int32_t goalX = kNoGoalPoint, goalY = kNoGoalPoint;
  RECT goal{0, 0, 0, 0};
  std::int32_t thresholdA = 0, thresholdB = 0, timeLimit = 0;  // ms
  std::int32_t bestTime = 0;                                   // ms
  char bestName[100] = {};
};

class C_FloorData {
 public:
  // Stage numbers the tables may use; the score file has a slot for each.
  static constexpr std::int32_t kMaxStage = 99;
  static constexpr const char* kFloorFile = "Floor.dat";
  static constexpr const char* kStageFile = "StageData.dat";
  // The play field: positions from 0 to kFieldSize - 1 across and down.
  static constexpr std::int32_t kFieldSize = 1440;
  // The prefixes of "StageData.dat" rows.
  static constexpr std::int32_t kPrefixStart = 0;
  static constexpr std::int32_t kPrefixGoal = 1;
  static constexpr std::int32_t kPrefixEnemy = 2;
  static constexpr std::int32_t kPrefixPath = 3;
  static constexpr std::int32_t kPrefixTimes = 4;
  // Cells a row of the prefix needs (stage, prefix and the prefix's values);
  // 0 for a prefix the game does not know.
  static std::uint32_t CellsOfPrefix(std::int32_t prefix);

  // Reads the score file and "Floor.dat"; stage 0 starts as the current stage.
  C_FloorData();

  // The tables without which no stage can be played, one entry each: the
  // name of one that cannot be read or holds no row, or "name, line N: what"
  // for one that leaves a stage play can reach unplayable (tablecheck.h).
  // Each is reported in the error log and on stderr.
  std::vector<std::string> UnusableTables();
  // Once the game has started: the score file is made ready for saving.
  void PrepareScoreFile() { m_Score.Prepare(); }

  // Makes stage current and reads its rows of "StageData.dat". A stage
  // outside 0 to 99 is reported and stage 0 becomes current instead.
  void LoadStage(std::int32_t stage);
  std::int32_t nStage() const { return m_nStage; }

  // The current stage's record.
  std::int32_t GetStartX() const { return Current().startX; }
  std::int32_t GetStartY() const { return Current().startY; }
  std::int32_t GetGoalPointX() const { return Current().goalX; }
  std::int32_t GetGoalPointY() const { return Current().goalY; }
  const RECT& GetGoalRect() const { return Current().goal; }
  std::int32_t GetThresholdA() const { return Current().thresholdA; }
  std::int32_t GetThresholdB() const { return Current().thresholdB; }
  std::int32_t GetTimeLimit() const { return Current().timeLimit; }
  std::int32_t GetBestTime() const { return Current().bestTime; }
  const char* GetBestName() const { return Current().bestName; }
  std::int32_t GetEnemyCount() const { return static_cast<std::int32_t>(Current().enemies.size()); }
  // Entry i of the current stage; a zero entry (race 0) outside the list.
  C_EnemyEntry GetEnemy(std::int32_t i) const;
  const std::vector<C_PathStep>& GetPathSteps() const { return Current().path; }

  // Floors of the current stage. Each per-floor accessor returns 0 when
  // CheckFloor (n) fails.
  std::int32_t FloorCount();
  std::int32_t xLeft(std::int32_t n);
  std::int32_t GetTop(std::int32_t n);
  std::int32_t GetRight(std::int32_t n);
  std::int32_t GetBottom(std::int32_t n);
  // True when the current stage has a floor list and n indexes it; reports
  // the failure otherwise.
  bool CheckFloor(std::int32_t n);
  // The current stage's floors (empty when it has none).
  const std::vector<RECT>& GetFloors() const;

  // Moves (x, y) along the preview path at frame (from 0): 10 px per frame
  // through the steps, then back to the start within 40 frames. False once
  // the path is over.
  bool StepPath(std::int32_t* x, std::int32_t* y, std::int32_t frame);

  void QueueStageRecord(std::int32_t time) { m_Score.QueueScore(m_nStage, time); }
  void SetScoreFlag(std::int32_t i, bool on) { m_Score.SetFlag(i, on); }
  bool HasPendingRecords() const { return m_Score.HasPending(); }
  void StoreRecords(const char* name) { m_Score.WriteRecords(name); }
  const C_ScoreData& GetScoreData() const { return m_Score; }

 private:
  const C_StageRecord& Current() const { return m_Records[static_cast<std::size_t>(m_nStage)]; }
  void LoadFloors();
  void ReadStageRow(const C_CsvTable& table, std::uint32_t row, C_StageRecord& record);

  std::vector<std::vector<RECT>> m_Floors;
  bool m_bFloorTableRead = false;  // "Floor.dat" was read and held rows
  std::vector<C_StageRecord> m_Records;
  C_ScoreData m_Score;
  std::int32_t m_nStage = 0;

  // The preview path's totals, computed at its frame 0.
  std::int64_t m_nPathDx = 0;
  std::int64_t m_nPathDy = 0;
  std::int64_t m_nPathFrames = 0;
};

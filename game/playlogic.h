// The logic of single-stage and course play. It runs one stage at a time: the
// start sequence (a camera pan along the stage's preview path, the ready
// picture and a three-step count-down), the play itself (mouse steering,
// enemies, floor edges, time limit, goal, scrolling), the miss sequence with
// lives, the continue choice, and the clear sequence that grades the time,
// queues a new best time and advances a course. Every picture of the play
// scene is kept as a message item, so the scene draws only what this decided.
#pragma once

#include <cstdint>
#include <memory>
#include <vector>

#include "game/body.h"
#include "game/enemy.h"
#include "game/floordata.h"
#include "game/minimap.h"
#include "game/statelogic.h"
#include "platform/win_types.h"
#include "qel/appbase/qelkeyframe.h"
#include "qel/appbase/qelstopwatch.h"

class C_Mouse;

struct C_MessageItem {
  bool shown = false;
  std::int32_t x = 0;
  std::int32_t y = 0;
};

class C_PlayLogic : public C_StateLogic {
 public:
  // Phases.
  static constexpr std::int32_t kPhaseSetUp = 0;
  static constexpr std::int32_t kPhasePreview = 1;
  static constexpr std::int32_t kPhaseCountDown = 2;
  static constexpr std::int32_t kPhasePlaying = 10;
  static constexpr std::int32_t kPhaseHit = 20;       // touched by an enemy
  static constexpr std::int32_t kPhaseFell = 22;      // left the floor; the body falls
  static constexpr std::int32_t kPhaseTimeUp = 25;
  static constexpr std::int32_t kPhaseGoal = 30;      // the clear sequence
  static constexpr std::int32_t kPhaseDeclined = 40;  // continue declined; play ends
  static constexpr std::int32_t kPhaseContinue = 50;  // the continue choice

  // Message items and their pictures.
  static constexpr std::int32_t kItemCount = 60;
  static constexpr std::int32_t kItemReady = 0;
  static constexpr std::int32_t kItemCount3 = 1;  // 1 to 3: the count-down pictures 3, 2, 1
  static constexpr std::int32_t kItemClear = 20;
  static constexpr std::int32_t kItemOpening = 21;
  static constexpr std::int32_t kItemScoreScreen = 22;
  static constexpr std::int32_t kItemTimeLine = 23;  // 23 to 25: the three time lines
  static constexpr std::int32_t kItemBalloon = 26;
  static constexpr std::int32_t kItemGradeStamp = 27;
  static constexpr std::int32_t kItemMiss = 40;
  static constexpr std::int32_t kItemTimeUp = 45;
  static constexpr std::int32_t kItemYes = 50;  // 50 yes, 51 no, 52 yes selected, 53 no selected
  static constexpr std::int32_t kItemNo = 51;
  static constexpr std::int32_t kItemYesSelected = 52;
  static constexpr std::int32_t kItemNoSelected = 53;

  // The steering centre in client pixels, and the circle the cursor stays on.
  static constexpr std::int32_t kSteerX = 560;
  static constexpr std::int32_t kSteerY = 400;
  static constexpr float kSteerRadius = 50.0f;
  // The scroll keeps the body between these offsets from the view's corner.
  static constexpr std::int32_t kScrollMax = 959;

  C_PlayLogic();

  // Called when the title hands over: selection >= 0 is single-stage play of
  // that stage; -1, -2, -3 are courses 1, 2, 3 (stages 1, 9 and 17 on).
  void BeginPlay(std::int32_t selection);
  // One frame: 0 to stay, -1 when single-stage play ends, 2 when a course is
  // completed, 1 when course play is given up.
  std::int32_t Update() override;
  void DeleteEnemies() { m_Enemies.clear(); }
  // While the window is inactive the game does not run; the play timer stops
  // with it, so that returning to the window does not find the time up.
  void SetActive(bool active);

  // For the play scene.
  std::int32_t GetPhase() const { return m_nPhase; }
  std::int32_t GetStage() const { return m_nStage; }
  std::int32_t GetLives() const { return m_nLives; }
  DWORD GetElapsed() const { return m_nElapsed; }
  DWORD GetTotalTime() const { return m_nTotalTime; }
  std::int32_t GetGrade() const { return m_nGrade; }
  const RECT& GetGradeRect() const { return m_GradeRect; }
  std::int32_t GetScrollX() const { return m_nScrollX; }
  std::int32_t GetScrollY() const { return m_nScrollY; }
  // A hidden item outside 0 to 59.
  const C_MessageItem& GetMessageItem(std::int32_t i) const;
  const C_Body& GetBody() const { return m_Body; }
  const std::vector<std::unique_ptr<C_EnemyMove>>& GetEnemies() const { return m_Enemies; }
  C_FloorData& GetFloorData() { return m_FloorData; }
  const C_MiniMap& GetMiniMap() const { return m_MiniMap; }
  bool IsStarted() const { return m_bStarted; }
  bool IsFloorsBuilt() const { return m_bFloorsBuilt; }
  void SetFloorsBuilt() { m_bFloorsBuilt = true; }
  bool IsSingleStage() const { return m_bSingleStage; }
  bool IsContinueUsed() const { return m_bContinueUsed; }
  float GetMouseDistance() const { return m_fMouseDistance; }

 private:
  void ComputeMouseRange(float* xMouseRange, float* yMouseRange);
  void StartStage();
  void UpdateStartSequence();
  void HandleMiss();
  bool UpdateContinueChoice();
  bool UpdateClearSequence();
  // True when this clear ends play (single stage or the course's last stage).
  bool FinishClear();
  void LayOutClear(std::uint32_t key, std::int32_t dt);
  bool CheckFloorHit();
  bool IsGoalReached() const;
  std::int32_t RefX() const;
  std::int32_t RefY() const;
  void ResetPlayTimer();
  void ScrollToBody();
  void Show(std::int32_t item, std::int32_t x, std::int32_t y);
  void Hide(std::int32_t item) { m_aItems[item].shown = false; }

  C_CachedStopWatch m_PlayTimer;
  C_Body m_Body;
  C_MessageItem m_aItems[kItemCount];
  std::vector<std::unique_ptr<C_EnemyMove>> m_Enemies;
  C_KeyFrameTable m_StartTable;
  C_KeyFrameTable m_ClearTable;
  C_KeyFrameTable m_MissTable;
  C_MiniMap m_MiniMap;
  C_FloorData m_FloorData;
  std::int32_t m_nStage = 0;
  std::int32_t m_nLives = 0;
  bool m_bStarted = false;
  bool m_bFloorsBuilt = false;
  std::int32_t m_nPhase = kPhaseSetUp;
  std::int32_t m_nCounter = 0;
  std::int32_t m_nScrollX = 0;
  std::int32_t m_nScrollY = 0;
  DWORD m_nElapsed = 0;
  DWORD m_nTotalTime = 0;
  bool m_bSingleStage = false;
  bool m_bContinueUsed = false;
  float m_fMouseDistance = 0;
  std::int32_t m_nPrevX = 0;
  std::int32_t m_nPrevY = 0;
  std::int32_t m_nGrade = 0;
  RECT m_GradeRect{0, 0, 0, 0};
  bool m_bClearStarted = false;
  bool m_bMissStarted = false;
  bool m_bContinueStarted = false;
  bool m_bContinueYes = false;
  bool m_bTimerPaused = false;  // the window is inactive
};

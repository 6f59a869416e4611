// The title screen: the title picture scrolls in, a click opens the menu, and
// the menu leads to the course choice (courses open as their flags are won)
// or to the stage list (only stages with a record, 20 stages on two pages).
// The score table is read again at every visit, so what play changed shows;
// once a save has failed, the session's own table is shown instead, so that
// records that could not be saved last until the program ends.
#pragma once

#include <cstdint>
#include <memory>

#include "game/scoredata.h"
#include "game/statelogic.h"
#include "qel/appbase/qelkeyframe.h"

class C_TitleLogic : public C_StateLogic {
 public:
  // Sub-states.
  static constexpr std::int32_t kWaiting = 0;
  static constexpr std::int32_t kOpeningMenu = 1;
  static constexpr std::int32_t kMenu = 2;
  static constexpr std::int32_t kOpeningCourses = 3;
  static constexpr std::int32_t kCourses = 4;
  static constexpr std::int32_t kOpeningStages = 5;
  static constexpr std::int32_t kStages = 6;
  // Cursor values of the stage list's page buttons (rows are 1 to 10).
  static constexpr std::int32_t kCursorPrevPage = 11;
  static constexpr std::int32_t kCursorNextPage = 12;
  static constexpr std::int32_t kStagesPerPage = 10;
  static constexpr std::int32_t kStagePages = 2;

  C_TitleLogic();

  // The session's score table (the play's), shown once a save has failed.
  void UseSessionRecords(const C_ScoreData* session) { m_pSession = session; }

  void Init() override;
  // 2 when a course is chosen (the cursor is the course, 1 to 3), 1 when a
  // stage is chosen (stage 10 x page + cursor), else 0.
  std::int32_t Update() override;

  std::int32_t GetSubState() const { return m_nSubState; }
  std::int32_t GetCursor() const { return m_nCursor; }
  std::int32_t GetPage() const { return m_nPage; }
  std::int32_t GetCourseCount() const { return m_nCourseCount; }
  std::int32_t GetCounter() const { return m_nCounter; }
  bool GetCourseFlag(std::int32_t i) const;
  // The stored time of a stage that has a record, else 0.
  std::int32_t GetStageRecord(std::int32_t stage) const;
  // The stored name of a stage (up to three letters).
  const char* GetStageName(std::int32_t stage) const;
  float GetScroll() const { return m_fScroll; }
  std::int32_t GetStripX() const { return m_nStripX; }
  std::int32_t GetBob() const { return m_nBob; }
  bool IsBlinkOn() const { return m_bBlink; }

  // The menu box, which grows downward while a menu opens.
  std::int32_t GetBoxLeft() const { return 120; }
  std::int32_t GetBoxTop() const;
  std::int32_t GetBoxHeight() const;

 private:
  bool InStageList() const { return m_nSubState == kOpeningStages || m_nSubState == kStages; }
  void UpdateScroll();
  // The steps of the sub-states; each returns true when the frame ends there
  // with the result in *result.
  bool UpdateMenu(std::int32_t mx, std::int32_t my, std::int32_t* result);
  bool UpdateCourses(std::int32_t mx, std::int32_t my, std::int32_t* result);
  bool UpdateStages(std::int32_t mx, std::int32_t my, std::int32_t* result);

  std::unique_ptr<C_ScoreData> m_pScore;
  const C_ScoreData* m_pSession = nullptr;
  std::int32_t m_nFrame = 0;
  bool m_bBlink = false;
  float m_fScroll = 0;
  std::int32_t m_nStripX = 0;
  std::int32_t m_nBob = 0;
  std::int32_t m_nSubState = kWaiting;
  std::int32_t m_nCounter = 0;
  std::int32_t m_nCursor = 0;
  std::int32_t m_nPage = 0;
  std::int32_t m_nCourseCount = 1;
  C_KeyFrameTable m_ScrollTable;
};

#include "game/titlelogic.h"

#include "game/courses.h"
#include "game/gameaudio.h"
#include "game/gameinput.h"
#include "game/gamehelpers.h"

namespace {
constexpr const char* kSoundSelect = "SE/cursor08.wav";
// Frames the menu box takes to open.
constexpr std::int32_t kMenuOpenFrames = 20;
constexpr std::int32_t kStageListOpenFrames = 40;
// The list reaches only the stages the courses play, which the start check
// requires in both tables.
static_assert(C_TitleLogic::kStagesPerPage * C_TitleLogic::kStagePages == kLastCourseStage);
}  // namespace

C_TitleLogic::C_TitleLogic() {
  m_ScrollTable.AddKey(0, 1);
  m_ScrollTable.AddKey(15, 2);
  m_ScrollTable.AddKey(75, 3);
  m_ScrollTable.AddKey(155, 4);
}

void C_TitleLogic::Init() {
  m_nCounter = 0;
  m_nFrame = 0;
  m_nSubState = kWaiting;
  m_nPage = 0;
  m_fScroll = -256.0f;
  m_nBob = 20;
  m_bInitialized = true;
  m_pScore.reset();
  // The file would show the records from before a failed save.
  if (m_pSession && m_pSession->HoldsUnsaved())
    m_pScore = std::make_unique<C_ScoreData>(*m_pSession);
  else
    m_pScore = std::make_unique<C_ScoreData>();
}

bool C_TitleLogic::GetCourseFlag(std::int32_t i) const { return m_pScore && m_pScore->GetFlag(i); }

std::int32_t C_TitleLogic::GetStageRecord(std::int32_t stage) const {
  if (!m_pScore) return 0;
  const std::int32_t time = m_pScore->GetScore(stage);
  return time <= C_ScoreData::kRecordLimit ? time : 0;
}

const char* C_TitleLogic::GetStageName(std::int32_t stage) const { return m_pScore ? m_pScore->GetName(stage) : ""; }

std::int32_t C_TitleLogic::GetBoxTop() const { return InStageList() ? 40 : 140; }

std::int32_t C_TitleLogic::GetBoxHeight() const {
  return static_cast<std::int32_t>(Clamp(10.0 * m_nCounter, InStageList() ? 399 : 199, 0));
}

void C_TitleLogic::UpdateScroll() {
  std::uint32_t key = 0;
  std::int32_t dt = 0;
  m_ScrollTable.Lookup(m_nFrame, &key, &dt);
  // The title slides down, then eases to a stop.
  if (key == 2) m_fScroll = static_cast<float>(m_fScroll + (dt + 3) * 0.3);
  if (key == 3) m_fScroll = static_cast<float>(m_fScroll + (dt - 40) * 0.3);
}

std::int32_t C_TitleLogic::Update() {
  if (!m_bInitialized) Init();
  m_bBlink = (m_nFrame % 60) / 20 != 2;
  m_nStripX = 0;
  UpdateScroll();

  std::int32_t mx = 0;
  std::int32_t my = 0;
  GameCursor(&mx, &my);
  std::int32_t result = 0;
  // The steps run in turn, each on the sub-state as the previous one left it.
  if (m_nSubState == kWaiting && GameLeftPressed()) {
    g_SoundEffect.LoadAndPlay(kSoundSelect);
    m_nSubState = kOpeningMenu;
  }
  if (m_nSubState == kOpeningMenu && ++m_nCounter > kMenuOpenFrames) m_nSubState = kMenu;
  if (m_nSubState == kMenu && UpdateMenu(mx, my, &result)) return result;
  if (m_nSubState == kOpeningCourses && ++m_nCounter > kMenuOpenFrames) m_nSubState = kCourses;
  if (m_nSubState == kCourses && UpdateCourses(mx, my, &result)) return result;
  if (m_nSubState == kOpeningStages && ++m_nCounter > kStageListOpenFrames) m_nSubState = kStages;
  if (m_nSubState == kStages && UpdateStages(mx, my, &result)) return result;

  // Two swings of the opening picture every 120 frames.
  const std::int32_t t = m_nFrame % 120;
  if (t < 21) {
    m_nBob = t - 10;
  } else if (t < 42) {
    m_nBob = t - 31;
  }
  ++m_nFrame;
  return 0;
}

bool C_TitleLogic::UpdateMenu(std::int32_t mx, std::int32_t my, std::int32_t* result) {
  m_nCursor = 0;
  const bool click = GameLeftPressed();
  if (PointInRect(120, 140, 520, 240, mx, my)) {
    m_nCursor = 1;
    if (click) {
      g_SoundEffect.LoadAndPlay(kSoundSelect);
      m_nSubState = kOpeningCourses;
      m_nCounter = 0;
      *result = 0;
      return true;
    }
  }
  if (PointInRect(120, 240, 520, 340, mx, my)) {
    m_nCursor = 2;
    if (click) {
      g_SoundEffect.LoadAndPlay(kSoundSelect);
      m_nSubState = kOpeningStages;
      m_nCounter = 0;
      *result = 0;
      return true;
    }
  }
  if (GameRightPressed()) {
    m_nCounter = 0;
    m_nSubState = kWaiting;
  }
  return false;
}

bool C_TitleLogic::UpdateCourses(std::int32_t mx, std::int32_t my, std::int32_t* result) {
  m_nCursor = 0;
  // Course 2 opens with flag 0, course 3 with flag 1.
  m_nCourseCount = 1;
  if (GetCourseFlag(0)) m_nCourseCount = 2;
  if (GetCourseFlag(1)) m_nCourseCount = 3;
  for (std::int32_t i = 0; i < m_nCourseCount; ++i) {
    if (!PointInRect(120, 120 + 80 * i, 520, 199 + 80 * i, mx, my)) continue;
    m_nCursor = i + 1;
    if (GameLeftPressed()) {
      g_SoundEffect.LoadAndPlay(kSoundSelect);
      m_bInitialized = false;
      *result = 2;
      return true;
    }
  }
  if (GameRightPressed()) {
    m_nCounter = 0;
    m_nSubState = kOpeningMenu;
  }
  return false;
}

bool C_TitleLogic::UpdateStages(std::int32_t mx, std::int32_t my, std::int32_t* result) {
  m_nCursor = 0;
  const bool click = GameLeftPressed();
  for (std::int32_t i = 0; i < kStagesPerPage; ++i) {
    if (!PointInRect(120, 80 + 30 * i, 520, 110 + 30 * i, mx, my)) continue;
    if (GetStageRecord(kStagesPerPage * m_nPage + i + 1) == 0) continue;
    m_nCursor = i + 1;
    if (click) {
      m_bInitialized = false;
      g_SoundEffect.LoadAndPlay(kSoundSelect);
      *result = 1;
      return true;
    }
  }
  // The two page buttons share their middle edge; it belongs to the first,
  // so that one click turns at most one page.
  if (PointInRect(120, 400, 320, 430, mx, my)) {
    m_nCursor = kCursorPrevPage;
    if (click) m_nPage = static_cast<std::int32_t>(Clamp(m_nPage - 1, kStagePages - 1, 0));
  } else if (PointInRect(320, 400, 520, 430, mx, my)) {
    m_nCursor = kCursorNextPage;
    if (click) m_nPage = static_cast<std::int32_t>(Clamp(m_nPage + 1, kStagePages - 1, 0));
  }
  if (GameRightPressed()) {
    m_nCounter = 0;
    m_nSubState = kOpeningMenu;
  }
  return false;
}

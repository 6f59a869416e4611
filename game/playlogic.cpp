#include "game/playlogic.h"

#include <cmath>
#include <utility>

#include "game/courses.h"
#include "game/floorhit.h"
#include "game/gameaudio.h"
#include "game/gamehelpers.h"
#include "game/gameinput.h"
#include "game/settings.h"
#include "qel/appbase/qelerrorlog.h"
#include "qel/appbase/qelmouse.h"

namespace {

constexpr const char* kMusicFile = "Fjord.mp3";
constexpr const char* kSoundHit = "SE/bom25.wav";
constexpr const char* kSoundFall = "SE/don11.wav";
constexpr const char* kSoundClear = "SE/crash17.wav";
constexpr const char* kSoundTimeLine = "SE/chari08.wav";
constexpr const char* kSoundClearEnd = "SE/noise01.wav";

// The body's reference point lies this far inside its top-left corner.
constexpr float kBodyRef = 13.0f;
// The body within this distance of a goal point has reached it.
constexpr double kGoalPointRadius = 28.0;
// Clear-sequence keys: the final layout and the end.
constexpr std::uint32_t kClearFinalKey = 7;
constexpr std::uint32_t kClearEndKey = 8;

void CursorTo(std::int32_t x, std::int32_t y) {
  if (C_Mouse* mouse = GetGameMouse()) mouse->SetPosition(x, y);
}

void CursorAt(std::int32_t* x, std::int32_t* y) {
  *x = C_PlayLogic::kSteerX;
  *y = C_PlayLogic::kSteerY;
  if (C_Mouse* mouse = GetGameMouse()) mouse->GetPosition(x, y);
}

// Where the view starts: the body 240 px from its corner, within 0 to 10000.
std::int32_t StartScroll(float body) { return Trunc(Clamp(body - 240, 10000, 0)); }

}  // namespace

C_PlayLogic::C_PlayLogic() : m_MiniMap(&m_FloorData) {
  m_StartTable.AddKey(0, 1);
  m_StartTable.AddKey(60, 2);
  m_StartTable.AddKey(120, 3);
  m_StartTable.AddKey(180, 4);
  for (auto [time, key] : {std::pair{0, 1u}, {60, 2u}, {80, 3u}, {120, 4u}, {140, 5u}, {160, 6u}, {190, 7u},
                           {800, kClearEndKey}})
    m_ClearTable.AddKey(time, key);
  m_MissTable.AddKey(0, 1);
  m_MissTable.AddKey(60, 2);
}

void C_PlayLogic::BeginPlay(std::int32_t selection) {
  if (selection >= 0) {
    m_bSingleStage = true;
    m_nStage = selection;
    m_nLives = 0;
  } else {
    // Course 1, 2 or 3; anything beyond is taken as the nearest course.
    const std::int32_t course = selection < -3 ? 3 : -selection;
    m_bSingleStage = false;
    m_bContinueUsed = false;
    m_nStage = kCourseStages[course - 1].first;
    m_nLives = g_Settings.START_LIFE;
  }
  m_nTotalTime = 0;
  g_Music.Open(kMusicFile);
}

void C_PlayLogic::SetActive(bool active) {
  if (active != m_bTimerPaused) return;
  if (active) {
    m_PlayTimer.Resume();
  } else {
    m_PlayTimer.Pause();
  }
  m_bTimerPaused = !active;
}

void C_PlayLogic::ResetPlayTimer() {
  m_PlayTimer.Reset();
  if (m_bTimerPaused) m_PlayTimer.Pause();
}

const C_MessageItem& C_PlayLogic::GetMessageItem(std::int32_t i) const {
  static const C_MessageItem kHidden;
  return i >= 0 && i < kItemCount ? m_aItems[i] : kHidden;
}

void C_PlayLogic::Show(std::int32_t item, std::int32_t x, std::int32_t y) {
  m_aItems[item].shown = true;
  m_aItems[item].x = x;
  m_aItems[item].y = y;
}

std::int32_t C_PlayLogic::RefX() const { return Trunc(m_Body.GetX() + kBodyRef); }
std::int32_t C_PlayLogic::RefY() const { return Trunc(m_Body.GetY() + kBodyRef); }

std::int32_t C_PlayLogic::Update() {
  if (!g_Music.IsRunning()) g_Music.Play();
  float xMouseRange = 0;
  float yMouseRange = 0;
  if (m_nPhase != kPhaseContinue) ComputeMouseRange(&xMouseRange, &yMouseRange);

  switch (m_nPhase) {
    case kPhaseGoal:
      if (UpdateClearSequence()) return 0;
      g_Music.Stop();
      return m_bSingleStage ? -1 : 2;
    case kPhaseHit:
    case kPhaseFell:
    case kPhaseTimeUp:
      HandleMiss();
      return 0;
    case kPhaseContinue:
      if (!UpdateContinueChoice()) return 0;
      if (m_bContinueYes) return 0;
      g_Music.Stop();
      return m_bSingleStage ? -1 : 1;
    default:
      break;
  }

  if (!m_bStarted) StartStage();
  const std::int32_t bodyX = Trunc(m_Body.GetX());
  const std::int32_t bodyY = Trunc(m_Body.GetY());
  for (auto& enemy : m_Enemies) enemy->Move(bodyX, bodyY);
  if (m_nPhase < kPhasePlaying) {
    UpdateStartSequence();
    return 0;
  }

  m_PlayTimer.Update();
  m_nElapsed = m_PlayTimer.GetCached();
  m_MiniMap.Update();
  m_Body.Move(xMouseRange, yMouseRange, false);

  // The end tests; a later one overrides an earlier one, so reaching the goal
  // wins over everything in the same frame.
  const std::int32_t hitX = Trunc(m_Body.GetX());
  const std::int32_t hitY = Trunc(m_Body.GetY());
  for (auto& enemy : m_Enemies) {
    if (enemy->HitTest(hitX, hitY)) {
      m_nPhase = kPhaseHit;
      g_SoundEffect.LoadAndPlay(kSoundHit);
    }
  }
  if (CheckFloorHit()) {
    m_nPhase = kPhaseFell;
    g_SoundEffect.LoadAndPlay(kSoundFall);
  }
  if (static_cast<std::int64_t>(m_PlayTimer.GetCached()) > m_FloorData.GetTimeLimit()) m_nPhase = kPhaseTimeUp;
  if (IsGoalReached()) m_nPhase = kPhaseGoal;

  ScrollToBody();
  return 0;
}

void C_PlayLogic::ScrollToBody() {
  const float x = m_Body.GetX();
  const float y = m_Body.GetY();
  if (x - m_nScrollX < 200) m_nScrollX = Trunc(x - 200);
  if (x - m_nScrollX > 280) m_nScrollX = Trunc(x - 280);
  if (y - m_nScrollY < 200) m_nScrollY = Trunc(y - 200);
  if (y - m_nScrollY > 280) m_nScrollY = Trunc(y - 280);
  m_nScrollX = Trunc(Clamp(m_nScrollX, kScrollMax, 0));
  m_nScrollY = Trunc(Clamp(m_nScrollY, kScrollMax, 0));
}

void C_PlayLogic::ComputeMouseRange(float* xMouseRange, float* yMouseRange) {
  std::int32_t mx = 0;
  std::int32_t my = 0;
  CursorAt(&mx, &my);
  const float dx = static_cast<float>(mx - kSteerX);
  const float dy = static_cast<float>(my - kSteerY);
  m_fMouseDistance = std::sqrt(dx * dx + dy * dy);
  if (m_fMouseDistance > kSteerRadius) {
    // Back onto the circle; this frame still steers with the offset read.
    CursorTo(Trunc(static_cast<float>((mx - kSteerX) * 50) / m_fMouseDistance + kSteerX),
             Trunc(static_cast<float>((my - kSteerY) * 50) / m_fMouseDistance + kSteerY));
  }
  *xMouseRange = dx;
  *yMouseRange = dy;
}

void C_PlayLogic::StartStage() {
  m_bStarted = true;
  m_bFloorsBuilt = false;
  m_bClearStarted = false;
  m_bMissStarted = false;
  m_nPhase = kPhaseSetUp;
  CursorTo(kSteerX, kSteerY);
  DeleteEnemies();
  ResetPlayTimer();
  m_nElapsed = 0;

  m_FloorData.LoadStage(m_nStage);
  m_MiniMap.Setup(m_nStage, 0, m_nLives);
  m_Body.Reset(m_FloorData.GetStartX(), m_FloorData.GetStartY());
  m_nPrevX = RefX();
  m_nPrevY = RefY();
  m_nScrollX = StartScroll(m_Body.GetX());
  m_nScrollY = StartScroll(m_Body.GetY());

  for (std::int32_t i = 0; i < m_FloorData.GetEnemyCount(); ++i) {
    const C_EnemyEntry e = m_FloorData.GetEnemy(i);
    std::unique_ptr<C_EnemyMove> enemy = CreateEnemy(e.race, e.a, e.b, e.c, e.d);
    if (!enemy) {
      g_ErrorLog.Printf("不正な敵キャラ番号を検出しました。 race = %d", e.race);
      continue;
    }
    m_Enemies.push_back(std::move(enemy));
  }
}

void C_PlayLogic::UpdateStartSequence() {
  switch (m_nPhase) {
    case kPhaseSetUp:
      m_nCounter = 0;
      m_nPhase = kPhasePreview;
      return;
    case kPhasePreview:
      CursorTo(kSteerX, kSteerY);
      Show(kItemReady, 10 * m_nCounter - 100, 200);
      if (!m_FloorData.StepPath(&m_nScrollX, &m_nScrollY, m_nCounter)) {
        m_nCounter = 0;
        m_nPhase = kPhaseCountDown;
      }
      if (GameLeftPressed()) {
        // The preview is skipped.
        m_nCounter = 0;
        m_nScrollX = StartScroll(m_Body.GetX());
        m_nScrollY = StartScroll(m_Body.GetY());
        m_nPhase = kPhaseCountDown;
      }
      break;
    case kPhaseCountDown: {
      std::uint32_t key = 0;
      std::int32_t dt = 0;
      m_StartTable.Lookup(m_nCounter, &key, &dt);
      if (key >= 1 && key <= 3) {
        Hide(static_cast<std::int32_t>(key) - 1);
        Show(static_cast<std::int32_t>(key), 200, 200);
      } else if (key == 4) {
        Hide(3);
        ResetPlayTimer();
        m_nPhase = kPhasePlaying;
      }
      break;
    }
    default:
      return;
  }
  ++m_nCounter;
}

void C_PlayLogic::HandleMiss() {
  const std::int32_t item = m_nPhase == kPhaseTimeUp ? kItemTimeUp : kItemMiss;
  if (m_nPhase == kPhaseFell) m_Body.Move(0, 0, true);
  if (!m_bMissStarted) {
    m_bMissStarted = true;
    m_nCounter = 0;
    m_aItems[item].shown = true;
  }
  std::uint32_t key = 0;
  std::int32_t dt = 0;
  m_MissTable.Lookup(m_nCounter, &key, &dt);
  if (key == 1) {
    m_aItems[item].x = 15 * dt - 100;
    m_aItems[item].y = 200;
  } else if (key == 2) {
    Hide(item);
    if (!g_Settings.LIFE_INFINITY) --m_nLives;
    if (m_nLives >= 0) {
      m_bStarted = false;  // the stage restarts next frame
      m_nPhase = kPhaseSetUp;
    } else {
      m_nPhase = kPhaseContinue;
    }
  }
  ++m_nCounter;
}

bool C_PlayLogic::UpdateContinueChoice() {
  std::int32_t mx = 0;
  std::int32_t my = 0;
  CursorAt(&mx, &my);
  if (!m_bContinueStarted) {
    m_bContinueStarted = true;
    m_bContinueYes = true;
    Show(kItemYes, 220, 260);
    Show(kItemYesSelected, 220, 260);
    Show(kItemNo, 360, 260);
    Show(kItemNoSelected, 360, 260);
  }
  if (PointInRect(140, 180, 319, 320, mx, my)) m_bContinueYes = true;
  if (PointInRect(320, 180, 539, 320, mx, my)) m_bContinueYes = false;
  m_aItems[kItemYes].shown = !m_bContinueYes;
  m_aItems[kItemNo].shown = m_bContinueYes;
  m_aItems[kItemYesSelected].shown = m_bContinueYes;
  m_aItems[kItemNoSelected].shown = !m_bContinueYes;

  if (!GameLeftPressed() || !PointInRect(140, 180, 539, 320, mx, my)) return false;
  for (std::int32_t i = kItemYes; i <= kItemNoSelected; ++i) Hide(i);
  m_bContinueStarted = false;
  m_bStarted = false;
  if (m_bContinueYes) {
    m_bContinueUsed = true;
    m_nPhase = kPhaseSetUp;
    m_nLives = m_bSingleStage ? 0 : g_Settings.START_LIFE;
  } else {
    m_nPhase = kPhaseDeclined;
  }
  return true;
}

bool C_PlayLogic::UpdateClearSequence() {
  if (!m_bClearStarted) {
    m_nCounter = 0;
    m_aItems[kItemClear].shown = true;
    m_bClearStarted = true;
    g_SoundEffect.Load(kSoundClear);
    g_SoundEffect.Stop();
    g_SoundEffect.Play();
    const auto a = static_cast<DWORD>(m_FloorData.GetThresholdA());
    const auto b = static_cast<DWORD>(m_FloorData.GetThresholdB());
    m_nGrade = m_nElapsed <= a ? 0 : (m_nElapsed <= b ? 1 : 2);
  }
  std::uint32_t key = 0;
  std::int32_t dt = 0;
  m_ClearTable.Lookup(m_nCounter, &key, &dt);
  if (key == kClearEndKey && FinishClear()) return false;
  LayOutClear(key, dt);

  ++m_nCounter;
  if (key > 1 && key < kClearEndKey && GameLeftPressed()) {
    // A click jumps to the final layout, and from there to the end.
    const std::uint32_t target = key == kClearFinalKey ? kClearEndKey : kClearFinalKey;
    if (target == kClearFinalKey) g_SoundEffect.LoadAndPlay(kSoundTimeLine);
    m_ClearTable.GetKeyTime(target, &m_nCounter);
  }
  return true;
}

void C_PlayLogic::LayOutClear(std::uint32_t key, std::int32_t dt) {
  auto slide = [](double v, double upper, double lower) { return Trunc(Clamp(v, upper, lower)); };
  switch (key) {
    case 1:
      Show(kItemClear, 15 * dt - 100, 200);
      break;
    case 2:
      Hide(kItemClear);
      Show(kItemOpening, 0, slide(480 - 8 * dt, 480, 160));
      break;
    case 3:
      Show(kItemOpening, 0, slide(320 - 8 * dt, 480, 160));
      Show(kItemScoreScreen, slide(15 * dt - 300, 250, -300), 180);
      break;
    case 4:
      Show(kItemTimeLine, slide(640 - 20 * dt, 640, 300), 225);
      break;
    case 5:
      Show(kItemTimeLine, slide(640 - 20 * (dt + 20), 640, 300), 225);
      Show(kItemTimeLine + 1, slide(640 - 20 * dt, 640, 300), 305);
      break;
    case 6:
      Show(kItemTimeLine + 1, slide(640 - 20 * (dt + 20), 640, 300), 305);
      Show(kItemTimeLine + 2, slide(640 - 20 * dt, 640, 300), 385);
      Show(kItemBalloon, 120, slide(10 * dt - 100, 50, -100));
      break;
    case kClearFinalKey:
      Hide(kItemClear);
      Show(kItemOpening, 0, 160);
      Show(kItemScoreScreen, 250, 180);
      Show(kItemTimeLine, 300, 225);
      Show(kItemTimeLine + 1, 300, 305);
      Show(kItemTimeLine + 2, 300, 385);
      Show(kItemBalloon, 120, 50);
      Show(kItemGradeStamp, 190, 88);
      m_GradeRect = RECT{0, 28 * m_nGrade, slide(30 * dt, 255, 0), 28 * (m_nGrade + 1)};
      return;
    default:
      return;
  }
  // Each time line rolls in with a ring 17 frames after it starts.
  if (key >= 4 && dt == 17) g_SoundEffect.LoadAndPlay(kSoundTimeLine);
}

bool C_PlayLogic::FinishClear() {
  m_bStarted = false;
  m_nPhase = kPhaseSetUp;
  for (std::int32_t i = kItemClear; i <= kItemGradeStamp; ++i) Hide(i);
  g_SoundEffect.LoadAndPlay(kSoundClearEnd);
  // Lower is better; an equal time is no record.
  if (m_FloorData.GetBestTime() > static_cast<std::int64_t>(m_nElapsed))
    m_FloorData.QueueStageRecord(static_cast<std::int32_t>(m_nElapsed));
  m_nTotalTime += m_nElapsed;
  if (m_bSingleStage) return true;
  for (std::int32_t course = 0; course < 3; ++course) {
    if (m_nStage != kCourseStages[course].last) continue;
    if (!m_bContinueUsed) m_FloorData.SetScoreFlag(course, true);
    return true;
  }
  ++m_nStage;
  return false;
}

bool C_PlayLogic::CheckFloorHit() {
  const std::int32_t cx = RefX();
  const std::int32_t cy = RefY();
  const bool hit = CrossesFloorEdge(m_FloorData.GetFloors(), m_nPrevX, m_nPrevY, cx, cy);
  m_nPrevX = cx;
  m_nPrevY = cy;
  return hit;
}

bool C_PlayLogic::IsGoalReached() const {
  if (RectContains(m_FloorData.GetGoalRect(), RefX(), RefY())) return true;
  const double dx = static_cast<double>(m_Body.GetX()) - m_FloorData.GetGoalPointX();
  const double dy = static_cast<double>(m_Body.GetY()) - m_FloorData.GetGoalPointY();
  return std::sqrt(dx * dx + dy * dy) <= kGoalPointRadius;
}

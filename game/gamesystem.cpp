#include "game/gamesystem.h"

#include <type_traits>

// GetGameMouse reads the mouse at the game system's own address.
static_assert(!std::is_polymorphic_v<C_GameSystem>);

C_GameObjects g_GameObjects;

C_GameSystem::C_GameSystem() { m_TitleLogic.UseSessionRecords(&m_PlayLogic.GetFloorData().GetScoreData()); }

C_GameSystem::~C_GameSystem() {
  if (g_pGameSystem == this) g_pGameSystem = nullptr;
  if (g_GameObjects.system == this) g_GameObjects = C_GameObjects{};
}

void C_GameSystem::Init() { g_pGameSystem = this; }

bool C_GameSystem::UpdateFrame() {
  m_Mouse.Update();
  switch (m_nState) {
    case kStateLogo:
      m_nState += m_LogoLogic.Update();
      break;
    case kStateTitle:
      m_nState += m_TitleLogic.Update();
      if (m_nState == kStateCourse) m_PlayLogic.BeginPlay(-m_TitleLogic.GetCursor());
      if (m_nState == kStateSingleStage)
        m_PlayLogic.BeginPlay(C_TitleLogic::kStagesPerPage * m_TitleLogic.GetPage() + m_TitleLogic.GetCursor());
      break;
    case kStateSingleStage:
      m_nState += m_PlayLogic.Update();
      if (m_nState != kStateSingleStage && RecordsPending()) m_nState = kStateNameEntry;
      break;
    case kStateCourse:
      // Game over and the ending divert to name entry when they are left.
      m_nState += m_PlayLogic.Update();
      break;
    case kStateGameOver:
      m_nState += m_GameOverLogic.Update();
      if (m_nState == kStateTitle && RecordsPending()) m_nState = kStateNameEntry;
      break;
    case kStateEnding:
      m_nState += m_EndingLogic.Update();
      if (m_nState == kStateTitle && RecordsPending()) m_nState = kStateNameEntry;
      break;
    case kStateNameEntry:
      m_nState += m_NameEntryLogic.Update();
      if (m_nState == kStateTitle) m_PlayLogic.GetFloorData().StoreRecords(m_NameEntryLogic.GetName());
      break;
    default:
      break;
  }
  return true;
}

void PublishGameObjects(C_GameSystem* gameSystem) {
  g_GameObjects.system = gameSystem;
  g_GameObjects.logo = gameSystem->GetLogoLogic();
  g_GameObjects.title = gameSystem->GetTitleLogic();
  g_GameObjects.nameEntry = gameSystem->GetNameEntryLogic();
  g_GameObjects.play = gameSystem->GetPlayLogic();
  g_GameObjects.gameOver = gameSystem->GetGameOverLogic();
  g_GameObjects.ending = gameSystem->GetEndingLogic();
}

// The game's state machine: the mouse, one logic per game state and the state
// number. Each frame runs the current state's logic, adds its result to the
// state number and applies the hand-overs: the title starts play, a waiting
// best record diverts to name entry, and leaving name entry stores the
// records with the entered name.
#pragma once

#include <cstdint>

#include "game/endinglogic.h"
#include "game/gameoverlogic.h"
#include "game/logologic.h"
#include "game/nameentrylogic.h"
#include "game/playlogic.h"
#include "game/titlelogic.h"
#include "qel/appbase/qelmouse.h"

// Game states.
enum : std::int32_t {
  kStateLogo = 1,
  kStateTitle = 2,
  kStateSingleStage = 3,
  kStateCourse = 4,
  kStateGameOver = 5,
  kStateEnding = 6,
  kStateNameEntry = 7,
};

// The mouse must stay the first member and the class must keep no virtual
// table: the logics reach the mouse through the game system's own address.
class C_GameSystem {
 public:
  C_GameSystem();
  // Withdraws the published addresses that point into this object.
  ~C_GameSystem();
  C_GameSystem(const C_GameSystem&) = delete;
  C_GameSystem& operator=(const C_GameSystem&) = delete;

  // Publishes this object as the game system the logics read the mouse from.
  void Init();
  // One frame; true (always).
  bool UpdateFrame();
  std::int32_t GetState() const { return m_nState; }

  C_Mouse& GetMouse() { return m_Mouse; }
  C_LogoLogic* GetLogoLogic() { return &m_LogoLogic; }
  C_TitleLogic* GetTitleLogic() { return &m_TitleLogic; }
  C_NameEntryLogic* GetNameEntryLogic() { return &m_NameEntryLogic; }
  C_PlayLogic* GetPlayLogic() { return &m_PlayLogic; }
  C_GameOverLogic* GetGameOverLogic() { return &m_GameOverLogic; }
  C_EndingLogic* GetEndingLogic() { return &m_EndingLogic; }

 private:
  bool RecordsPending() { return m_PlayLogic.GetFloorData().HasPendingRecords(); }

  C_Mouse m_Mouse;
  C_LogoLogic m_LogoLogic;
  C_TitleLogic m_TitleLogic;
  C_NameEntryLogic m_NameEntryLogic;
  C_PlayLogic m_PlayLogic;
  C_GameOverLogic m_GameOverLogic;
  C_EndingLogic m_EndingLogic;
  std::int32_t m_nState = kStateLogo;
};

// What the scenes read: the game system and its logics, published once at
// start-up. The play scene also marks the stage's floors built, so it gets
// the play logic itself.
struct C_GameObjects {
  const C_GameSystem* system = nullptr;
  const C_LogoLogic* logo = nullptr;
  const C_TitleLogic* title = nullptr;
  const C_NameEntryLogic* nameEntry = nullptr;
  C_PlayLogic* play = nullptr;
  const C_GameOverLogic* gameOver = nullptr;
  const C_EndingLogic* ending = nullptr;
};

extern C_GameObjects g_GameObjects;

void PublishGameObjects(C_GameSystem* gameSystem);

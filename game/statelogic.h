// The base of the game's state logics: one object per game state runs once per
// frame and returns how the state number changes.
#pragma once

#include <cstdint>

class C_GameSystem;
class C_Mouse;

class C_StateLogic {
 public:
  C_StateLogic() = default;
  C_StateLogic(const C_StateLogic&) = delete;
  C_StateLogic& operator=(const C_StateLogic&) = delete;

  // Prepares the logic for a new visit.
  virtual void Init() {}
  virtual ~C_StateLogic() = default;
  // One frame; the change of the state number (0 to stay).
  virtual std::int32_t Update() = 0;

 protected:
  // Set when a visit begins, cleared when the logic hands the game to another
  // state, so that the next visit starts with Init.
  bool m_bInitialized = false;
};

// The game system, set once by C_GameSystem::Init. Its first member is the
// game's C_Mouse, so the logics read the mouse through it.
extern C_GameSystem* g_pGameSystem;

// The game's mouse: the game system's first member, so it lies at the game
// system's own address (the game system keeps no virtual table for that
// reason). Null while no game system is set.
C_Mouse* GetGameMouse();

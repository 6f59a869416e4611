#include "game/statelogic.h"

C_GameSystem* g_pGameSystem = nullptr;

C_Mouse* GetGameMouse() { return reinterpret_cast<C_Mouse*>(g_pGameSystem); }

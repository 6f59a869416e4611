#include "game/statelogic.h"

C_GameSystem* g_pGameSystem = nullptr;

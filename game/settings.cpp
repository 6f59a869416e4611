#include "game/settings.h"

C_Settings g_Settings;

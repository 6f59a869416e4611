// The game's one sound-effect buffer and its music player. An effect is
// loaded into the shared buffer when it plays, so a new effect cuts the
// previous one off.
#pragma once

#include "qel/appbase/qelmusic.h"
#include "qel/appbase/qelsound.h"

extern C_SoundBuffer g_SoundEffect;
extern C_Music g_Music;

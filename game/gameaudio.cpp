#include "game/gameaudio.h"

C_SoundBuffer g_SoundEffect;
C_Music g_Music;

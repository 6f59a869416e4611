// The game's mouse as the screen logics read it: the cursor in client pixels
// and the button edges of this frame. Without a game system the cursor reads
// as the origin and no button is pressed.
#pragma once

#include <cstdint>

bool GameLeftPressed();
bool GameRightPressed();
bool GameLeftDown();
void GameCursor(std::int32_t* x, std::int32_t* y);

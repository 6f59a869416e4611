#include "game/gameinput.h"

#include "game/statelogic.h"
#include "qel/appbase/qelmouse.h"

bool GameLeftPressed() {
  C_Mouse* mouse = GetGameMouse();
  return mouse && mouse->IsLeftPressed();
}

bool GameRightPressed() {
  C_Mouse* mouse = GetGameMouse();
  return mouse && mouse->IsRightPressed();
}

bool GameLeftDown() {
  C_Mouse* mouse = GetGameMouse();
  return mouse && mouse->IsLeftDown();
}

void GameCursor(std::int32_t* x, std::int32_t* y) {
  int mx = 0;
  int my = 0;
  if (C_Mouse* mouse = GetGameMouse()) mouse->GetPosition(&mx, &my);
  *x = mx;
  *y = my;
}

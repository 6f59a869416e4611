#include "game/gameoverscene.h"

#include "game/gamesystem.h"

C_GameOverScene::C_GameOverScene() { m_GameOver.SetFile("cg/gameover.png"); }

void C_GameOverScene::Draw() {
  const C_GameOverLogic* logic = g_GameObjects.gameOver;
  if (!logic) return;
  m_Fade.SetSize(640.0f, 480.0f, logic->GetFadeColour(), 0.0f);
  m_Fade.Draw(0.0f, 0.0f);
  m_GameOver.Draw(250.0f, 400.0f);
}

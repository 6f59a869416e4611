#include "game/logoscene.h"

#include <algorithm>

#include "game/gamesystem.h"

C_LogoScene::C_LogoScene() {
  m_Background.SetSize(640.0f, 480.0f, 0xFF000000, 0.0f);
  m_Logo.SetFile("cg/Logo.png");
}

void C_LogoScene::Draw() {
  m_Background.Draw(0.0f, 0.0f);
  if (const C_LogoLogic* logo = g_GameObjects.logo)
    m_Logo.Draw(192.0f, 112.0f, std::clamp(logo->GetAlpha(), 0, 255));
}

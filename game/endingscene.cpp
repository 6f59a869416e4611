#include "game/endingscene.h"

#include "game/gamesystem.h"

namespace {

struct PictureFile {
  std::int32_t index;
  const char* file;
};
constexpr PictureFile kPictureFiles[] = {
    {0, "cg/ending01.png"},     {1, "cg/ending02.png"},     {2, "cg/ending03.png"},     {3, "cg/ending04.png"},
    {4, "cg/ending05.png"},     {10, "cg/Ending_01a.png"},  {11, "cg/Ending_01b.png"},  {12, "cg/Ending_02a.png"},
    {13, "cg/Ending_02b.png"},  {14, "cg/Ending_03a.png"},  {15, "cg/Ending_03b.png"},  {16, "cg/Ending_04a.png"},
    {17, "cg/Ending_04b.png"},  {18, "cg/Ending_05.png"},
};

// White with the given alpha.
D3DCOLOR White(std::uint32_t alpha) { return alpha * 0x1000000u + 0xFFFFFFu; }

}  // namespace

C_EndingScene::C_EndingScene() {
  m_Character.SetFile("cg/nura_op.png");
  for (const PictureFile& p : kPictureFiles) m_aPictures[p.index].SetFile(p.file);
}

void C_EndingScene::Draw() {
  const C_EndingLogic* logic = g_GameObjects.ending;
  if (!logic) return;
  m_Background.SetSize(640.0f, 480.0f, 0xFF000000, 0.0f);
  m_Background.Draw(0.0f, 0.0f);
  m_Background.SetSize(640.0f, 480.0f, White(logic->GetBackgroundAlpha()), 0.0f);
  m_Background.Draw(0.0f, 0.0f);
  m_Character.Draw(400.0f, 200.0f, 128);
  m_Overlay.SetSize(640.0f, 480.0f, White(logic->GetOverlayAlpha()), 0.0f);
  m_Overlay.Draw(0.0f, 0.0f);
  for (std::int32_t i = C_EndingLogic::kFirstPicture; i < C_EndingLogic::kPictureCount; ++i) {
    if (!logic->IsShown(i)) continue;
    const float x = static_cast<float>(logic->GetX(i));
    const float y = static_cast<float>(logic->GetY(i));
    const float scale = logic->GetScale(i);
    if (scale == 1.0f) {
      m_aPictures[i].Draw(x, y, logic->GetAlpha(i));
    } else {
      m_aPictures[i].DrawScaled(x, y, scale, scale, 0.0f, 0.0f, logic->GetAlpha(i));
    }
  }
}

#include "game/nameentryscene.h"

#include "game/gamesystem.h"

C_NameEntryScene::C_NameEntryScene() {
  m_Background.SetSize(640.0f, 480.0f, 0xFF80FF80, 0.0f);
  m_Belt.SetSize(640.0f, 30.0f, 0xFFFFFFFF, 0.0f);
  m_Letters.SetFile("cg/NameEntry.png");
  m_EndButton.SetFile("cg/NameEntry2.png");
  m_BeltPicture.SetFile("cg/EntryBelt.png");
}

void C_NameEntryScene::Draw() {
  const C_NameEntryLogic* logic = g_GameObjects.nameEntry;
  if (!logic) return;
  m_Background.Draw(0.0f, 0.0f);
  m_Belt.Draw(0.0f, 430.0f);
  m_BeltPicture.Draw(static_cast<float>(logic->GetBeltX()), 430.0f);
  // The newest letter rises into its slot.
  for (std::int32_t k = 0; k < C_NameEntryLogic::kSlots; ++k) {
    if (!logic->HasLetter(k)) continue;
    const RECT r = logic->GetSlotRect(k);
    m_Letters.Draw(static_cast<float>(C_NameEntryLogic::GetSlotX(k)), static_cast<float>(C_NameEntryLogic::GetSlotY(k)),
                   255, &r);
  }
  for (std::int32_t i = 0; i < C_NameEntryLogic::kLetters; ++i) {
    const RECT r = C_NameEntryLogic::GetGlyphRect(i);
    m_Letters.Draw(static_cast<float>(C_NameEntryLogic::GetKeyX(i)), static_cast<float>(C_NameEntryLogic::GetKeyY(i)),
                   255, &r);
  }
  m_EndButton.Draw(static_cast<float>(C_NameEntryLogic::kEndButton.left),
                   static_cast<float>(C_NameEntryLogic::kEndButton.top));
}

// Name entry: 26 letter keys and an end button. Up to three letters are kept;
// a fourth shifts the first out. The newest letter rises into its slot.
#pragma once

#include <cstdint>

#include "game/statelogic.h"
#include "platform/win_types.h"

class C_NameEntryLogic : public C_StateLogic {
 public:
  static constexpr std::int32_t kLetters = 26;
  static constexpr std::int32_t kSlots = 3;
  // Frames the newest letter takes to rise into view.
  static constexpr std::int32_t kDropFrames = 8;
  // The end button.
  static constexpr RECT kEndButton{540, 360, 604, 424};

  void Init() override;
  // -5 (to the title, where the game system stores the waiting records with
  // the name) when the end button is clicked, else 0.
  std::int32_t Update() override;

  // Up to three letters, zero-terminated; empty before the first entry ends.
  const char* GetName() const { return m_szName; }
  std::int32_t GetLetterCount() const { return m_nCount; }
  // 0 to 25, or -1 for an empty slot.
  std::int32_t GetLetter(std::int32_t k) const { return k >= 0 && k < kSlots ? m_aLetters[k] : -1; }
  bool HasLetter(std::int32_t k) const { return GetLetter(k) >= 0; }

  // The keys, 10 to a row, each 50 x 96.
  static std::int32_t GetKeyX(std::int32_t i) { return (i % 10) * 50 + 60; }
  static std::int32_t GetKeyY(std::int32_t i) { return i < 10 ? 140 : (i < 20 ? 240 : 340); }
  // A letter's glyph in the letter strip.
  static RECT GetGlyphRect(std::int32_t letter) { return RECT{48 * letter, 0, 48 * (letter + 1) - 1, 95}; }
  static std::int32_t GetSlotX(std::int32_t k) { return 70 * k + 225; }
  static std::int32_t GetSlotY(std::int32_t) { return 20; }
  // The glyph of slot k's letter, the newest cut from the top while it
  // rises; empty for an empty slot.
  RECT GetSlotRect(std::int32_t k) const;
  std::int32_t GetBeltX() const { return 640 - (m_nFrame % 600) * 4; }

 private:
  void AddLetter(std::int32_t letter);

  std::int32_t m_nFrame = 0;
  std::int32_t m_nDrop = 0;
  std::int32_t m_nCount = 0;
  std::int32_t m_aLetters[kSlots] = {-1, -1, -1};
  char m_szName[4] = {};
};

#include "game/nameentrylogic.h"

#include "game/gameaudio.h"
#include "game/gameinput.h"
#include "game/gamehelpers.h"

namespace {
constexpr const char* kSoundLetter = "SE/cursor04.wav";
constexpr const char* kSoundEnd = "SE/cursor08.wav";
constexpr std::int32_t kKeyWidth = 50;
constexpr std::int32_t kKeyHeight = 96;
}  // namespace

void C_NameEntryLogic::Init() {
  m_nCount = 0;
  for (std::int32_t& letter : m_aLetters) letter = -1;
  m_nDrop = 0;
  m_nFrame = 0;
  m_bInitialized = true;
}

void C_NameEntryLogic::AddLetter(std::int32_t letter) {
  if (m_nCount < kSlots) {
    m_aLetters[m_nCount++] = letter;
  } else {
    m_aLetters[0] = m_aLetters[1];
    m_aLetters[1] = m_aLetters[2];
    m_aLetters[2] = letter;
  }
  m_nDrop = 0;
  g_SoundEffect.LoadAndPlay(kSoundLetter);
}

std::int32_t C_NameEntryLogic::Update() {
  std::int32_t mx = 0;
  std::int32_t my = 0;
  GameCursor(&mx, &my);
  if (!m_bInitialized) Init();
  const bool click = GameLeftPressed();

  if (click) {
    // Neighbouring keys share an edge; a click there takes the first key
    // only, so that one click enters one letter.
    for (std::int32_t i = 0; i < kLetters; ++i) {
      if (PointInRect(GetKeyX(i), GetKeyY(i), GetKeyX(i) + kKeyWidth, GetKeyY(i) + kKeyHeight, mx, my)) {
        AddLetter(i);
        break;
      }
    }
  }
  m_nDrop = static_cast<std::int32_t>(Clamp(m_nDrop + 1, kDropFrames, 0));
  ++m_nFrame;

  if (click && RectContains(kEndButton, mx, my)) {
    m_bInitialized = false;
    g_SoundEffect.LoadAndPlay(kSoundEnd);
    // An empty slot ends the name there.
    for (std::int32_t k = 0; k < kSlots; ++k)
      m_szName[k] = m_aLetters[k] < 0 ? '\0' : static_cast<char>('A' + m_aLetters[k]);
    m_szName[kSlots] = '\0';
    return -5;
  }
  return 0;
}

RECT C_NameEntryLogic::GetSlotRect(std::int32_t k) const {
  if (!HasLetter(k)) return RECT{0, 0, 0, 0};
  RECT rect = GetGlyphRect(m_aLetters[k]);
  if (m_nDrop < kDropFrames && k == m_nCount - 1)
    rect.top = static_cast<LONG>(Clamp(95 - 16 * m_nDrop, 95, 0));
  return rect;
}

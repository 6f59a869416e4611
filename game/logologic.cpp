#include "game/logologic.h"

#include "game/gameinput.h"
#include "game/gamehelpers.h"

namespace {
constexpr std::int32_t kFadeStep = 4;
// Frames after which the fade-in gives way to the hold, and the hold ends.
constexpr std::int32_t kFadeInFrames = 63;
constexpr std::int32_t kHoldFrames = 256;
}  // namespace

std::int32_t C_LogoLogic::Update() {
  m_bInitialized = true;
  switch (m_nPhase) {
    case kPhaseFadeIn:
      m_nAlpha = static_cast<std::int32_t>(Clamp(m_nAlpha + kFadeStep, 255, 0));
      if (GameLeftPressed()) m_nPhase = kPhaseFadeOut;
      // Checked after the click, so the hold wins in the same frame.
      if (m_nFrame > kFadeInFrames) m_nPhase = kPhaseHold;
      break;
    case kPhaseHold:
      m_nAlpha = 255;
      if (GameLeftPressed() || m_nFrame > kHoldFrames) m_nPhase = kPhaseFadeOut;
      break;
    case kPhaseFadeOut:
      m_nAlpha -= kFadeStep;
      if (m_nAlpha <= 0) return 1;
      break;
    default:
      break;
  }
  ++m_nFrame;
  return 0;
}

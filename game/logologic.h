// The logo screen: the logo fades in, holds and fades out, and a click cuts
// the wait short. It runs once per program run.
#pragma once

#include <cstdint>

#include "game/statelogic.h"

class C_LogoLogic : public C_StateLogic {
 public:
  static constexpr std::int32_t kPhaseFadeIn = 0;
  static constexpr std::int32_t kPhaseHold = 1;
  static constexpr std::int32_t kPhaseFadeOut = 2;

  // 1 (to the title) once the logo has faded out, else 0.
  std::int32_t Update() override;

  // 0 to 255; at or below 0 once faded out.
  std::int32_t GetAlpha() const { return m_nAlpha; }
  std::int32_t GetPhase() const { return m_nPhase; }

 private:
  std::int32_t m_nFrame = 0;
  std::int32_t m_nPhase = kPhaseFadeIn;
  std::int32_t m_nAlpha = 0;
};

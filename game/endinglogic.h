// The ending: four pairs of pictures glide in, rest and glide out, a white
// veil rises and the closing picture slides in; 900 frames in all, three
// times as fast while the left button is held.
#pragma once

#include <cstdint>

#include "game/statelogic.h"
#include "qel/appbase/qelkeyframe.h"

struct C_EndingPicture {
  bool shown = false;
  std::int32_t x = 0;
  std::int32_t y = 0;
  std::uint8_t alpha = 0;
  float scale = 1.0f;
};

class C_EndingLogic : public C_StateLogic {
 public:
  static constexpr std::int32_t kPictureCount = 30;
  // The pictures in use: four pairs (10, 11) to (16, 17), each an "a" and a
  // "b" picture of one scene, and the closing picture.
  static constexpr std::int32_t kFirstPicture = 10;
  static constexpr std::int32_t kClosingPicture = 18;

  C_EndingLogic();

  // -4 (to the title) once the sequence is over, else 0.
  std::int32_t Update() override;

  // A hidden picture outside 0 to 29.
  const C_EndingPicture& GetPicture(std::int32_t i) const;
  bool IsShown(std::int32_t i) const { return GetPicture(i).shown; }
  std::int32_t GetX(std::int32_t i) const { return GetPicture(i).x; }
  std::int32_t GetY(std::int32_t i) const { return GetPicture(i).y; }
  std::uint8_t GetAlpha(std::int32_t i) const { return GetPicture(i).alpha; }
  float GetScale(std::int32_t i) const { return GetPicture(i).scale; }
  std::uint8_t GetOverlayAlpha() const { return m_nOverlayAlpha; }
  std::uint8_t GetBackgroundAlpha() const { return 255; }
  std::int32_t GetCounter() const { return m_nCounter; }

 private:
  // A pair (p, q) = (b picture, a picture) over the 30 frames of a move.
  void Enter(std::int32_t p, std::int32_t q, std::int32_t dt);
  void Rest(std::int32_t p, std::int32_t q);
  void Leave(std::int32_t p, std::int32_t q, std::int32_t dt);
  void HidePair(std::int32_t p, std::int32_t q);

  C_KeyFrameTable m_Table;
  std::int32_t m_nCounter = 0;
  C_EndingPicture m_aPictures[kPictureCount];
  std::uint8_t m_nOverlayAlpha = 0;
};

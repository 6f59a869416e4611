#include "game/endinglogic.h"

#include "game/gameinput.h"
#include "game/gamehelpers.h"

namespace {

constexpr std::uint32_t kEndKey = 13;

std::uint8_t Alpha(std::int32_t value) { return static_cast<std::uint8_t>(Clamp(value, 255, 0)); }

}  // namespace

C_EndingLogic::C_EndingLogic() {
  const std::int32_t times[] = {0, 20, 50, 140, 170, 260, 290, 380, 410, 500, 530, 620, 900};
  for (std::uint32_t k = 1; k <= kEndKey; ++k) m_Table.AddKey(times[k - 1], k);
}

const C_EndingPicture& C_EndingLogic::GetPicture(std::int32_t i) const {
  static const C_EndingPicture kHidden;
  return i >= 0 && i < kPictureCount ? m_aPictures[i] : kHidden;
}

void C_EndingLogic::Enter(std::int32_t p, std::int32_t q, std::int32_t dt) {
  for (std::int32_t i : {p, q}) {
    C_EndingPicture& pic = m_aPictures[i];
    pic.shown = true;
    pic.x = 32 * dt / 30 + 160;
    pic.y = 480 - 360 * dt / 30;
    pic.scale = static_cast<float>(1.4 - 0.4 * dt / 30);
  }
  m_aPictures[q].alpha = Alpha(255 * (dt - 20) / 10);
  m_aPictures[p].alpha = Alpha(255 * (30 - dt) / 10);
}

void C_EndingLogic::Rest(std::int32_t p, std::int32_t q) {
  for (std::int32_t i : {p, q}) {
    m_aPictures[i].x = 192;
    m_aPictures[i].y = 120;
    m_aPictures[i].scale = 1.0f;
  }
  m_aPictures[q].alpha = 255;
  m_aPictures[p].alpha = 1;
}

void C_EndingLogic::Leave(std::int32_t p, std::int32_t q, std::int32_t dt) {
  for (std::int32_t i : {p, q}) {
    C_EndingPicture& pic = m_aPictures[i];
    pic.x = 192 - 32 * dt / 30;
    pic.y = 120 - 360 * dt / 30;
    pic.scale = static_cast<float>(1.0 + 0.4 * dt / 30);
  }
  m_aPictures[p].alpha = Alpha(255 * dt / 10);
  m_aPictures[q].alpha = Alpha(255 * (10 - dt) / 10);
}

void C_EndingLogic::HidePair(std::int32_t p, std::int32_t q) {
  m_aPictures[p].shown = false;
  m_aPictures[q].shown = false;
}

std::int32_t C_EndingLogic::Update() {
  if (!m_bInitialized) {
    m_bInitialized = true;
    m_nCounter = 0;
    // A visit starts from a clean stage: an earlier ending left its closing
    // picture and veil up.
    for (C_EndingPicture& pic : m_aPictures) pic = C_EndingPicture{};
    m_nOverlayAlpha = 0;
  }
  std::uint32_t key = 0;
  std::int32_t dt = 0;
  m_Table.Lookup(m_nCounter, &key, &dt);
  switch (key) {
    case 1:
      m_nOverlayAlpha = 0;
      break;
    case 2:
      Enter(11, 10, dt);
      break;
    case 3:
      Rest(11, 10);
      break;
    case 4:
      Leave(11, 10, dt);
      Enter(13, 12, dt);
      break;
    case 5:
      HidePair(10, 11);
      Rest(13, 12);
      break;
    case 6:
      Leave(13, 12, dt);
      Enter(15, 14, dt);
      break;
    case 7:
      HidePair(12, 13);
      Rest(15, 14);
      break;
    case 8:
      Leave(15, 14, dt);
      Enter(17, 16, dt);
      break;
    case 9:
      HidePair(14, 15);
      Rest(17, 16);
      break;
    case 10:
      Leave(17, 16, dt);
      break;
    case 11:
      HidePair(16, 17);
      m_nOverlayAlpha = Alpha(255 * dt / 30);
      break;
    case 12: {
      C_EndingPicture& closing = m_aPictures[kClosingPicture];
      closing.shown = true;
      closing.x = static_cast<std::int32_t>(Clamp(50 * dt / 20 + 450, 500, 450));
      closing.y = 420;
      closing.alpha = Alpha(255 * dt / 20);
      m_nOverlayAlpha = 255;
      break;
    }
    case kEndKey:
      m_bInitialized = false;
      return -4;
    default:
      break;
  }
  // Holding the left button runs the ending three times as fast.
  if (GameLeftDown()) m_nCounter += 2;
  ++m_nCounter;
  return 0;
}

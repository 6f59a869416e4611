#include "gxl/draw/gamma_ramp.h"

#include <cmath>
#include <cstring>

#include "gxl/tex/result_codes.h"

namespace {

constexpr ColorF kDefaultLow(0.0f, 0.0f, 0.0f, 1.0f);
constexpr ColorF kDefaultHigh(1.0f, 1.0f, 1.0f, 1.0f);

struct Channel {
  float low, high, gamma;
  bool operator==(const Channel& o) const { return low == o.low && high == o.high && gamma == o.gamma; }
};

void FillChannel(const Channel& c, WORD* out) {
  const float span = c.high - c.low;
  const float exponent = 1.0f / c.gamma;
  constexpr float kStep = 1.0f / 255.0f;
  for (int i = 0; i < 256; ++i) {
    double t = static_cast<double>(i) * kStep * span + c.low;
    if (t < 0.0) t = 0.0;
    if (t > 1.0) t = 1.0;
    const double value =
        std::pow(static_cast<double>(static_cast<float>(t)), static_cast<double>(exponent)) * 65535.0 + 0.5;
    // t lies in 0..1 and the power of it too, unless something was no number.
    out[i] = value >= 0.0 && value < 65536.0 ? static_cast<WORD>(value) : 0;
  }
}

}  // namespace

HRESULT GXLComputeGammaRamp(D3DGAMMARAMP* ramp, const ColorF* low, const ColorF* high, const ColorF* gamma) {
  if (!ramp) return D3DERR_INVALIDCALL;
  const ColorF& l = low ? *low : kDefaultLow;
  const ColorF& h = high ? *high : kDefaultHigh;
  const ColorF& g = gamma ? *gamma : kDefaultHigh;
  const Channel channels[3] = {{l.r, h.r, g.r}, {l.g, h.g, g.g}, {l.b, h.b, g.b}};
  WORD* out[3] = {ramp->red, ramp->green, ramp->blue};
  for (int k = 0; k < 3; ++k) {
    int same = 0;
    while (same < k && !(channels[same] == channels[k])) ++same;
    if (same < k) {
      std::memcpy(out[k], out[same], 256 * sizeof(WORD));
      continue;
    }
    if (channels[k].gamma <= 0.0f) return GXLERR_INVALIDDATA;
    FillChannel(channels[k], out[k]);
  }
  return S_OK;
}

// A display gamma ramp from a low colour, a high colour and a gamma per channel.
#pragma once

#include "gxl/math/records.h"
#include "platform/d3d9_api.h"

// Entry i of a channel is ((i / 255) x (high - low) + low, clamped to 0..1) to
// the power 1 / gamma, scaled to 0..65535. Null colours stand for low
// (0, 0, 0, 1) and high and gamma (1, 1, 1, 1); alpha is not used. A channel
// whose three values equal an earlier channel's is a copy of it.
// D3DERR_INVALIDCALL for a null ramp; GXLERR_INVALIDDATA for a gamma of 0 or
// below (the channels before it are written). An entry that comes out as no
// number (from a low, high or gamma that is none) is 0.
HRESULT GXLComputeGammaRamp(D3DGAMMARAMP* ramp, const ColorF* low, const ColorF* high, const ColorF* gamma);

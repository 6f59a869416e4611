// Colour and optics helpers (plain operations).
#pragma once

#include "gxl/math/records.h"

// Blends each colour channel with the luminance: 0 gives grey, 1 the colour.
ColorF* ColorAdjustSaturation(ColorF* out, const ColorF* c, float s);
// Blends each colour channel with 0.5: 0 gives mid grey, 1 the colour.
ColorF* ColorAdjustContrast(ColorF* out, const ColorF* c, float s);
// Reflectance of a dielectric for the cosine of the incidence angle and the
// refraction index, clamped to [0, 1].
float FresnelTerm(float cosine, float refractionIndex);

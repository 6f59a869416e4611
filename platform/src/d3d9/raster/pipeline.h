// The draw's pipeline from the device state (pipeline.cpp) and the primitive
// assembly that feeds it (draw.cpp).
#pragma once

#include "d3d9/raster/geometry.h"
#include "d3d9/raster/shade.h"

namespace platform::d3d9::raster {

// False when the draw can change no pixel (an unsupported target format, an
// empty viewport, an alpha test that never passes).
bool BuildConfig(const DrawRequest& request, const Kernels& kernels, DrawConfig* config);

// Assembles, clips, culls and rasterises the request's primitives.
void DrawPrimitives(const DrawRequest& request, const DrawConfig& config, Geometry& geometry);

}  // namespace platform::d3d9::raster

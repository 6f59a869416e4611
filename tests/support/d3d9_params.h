// The present parameters of the headless devices that tests and benchmarks
// create: the game's windowed 640 x 480 mode unless told otherwise.
#pragma once

#include "platform/d3d9_api.h"

namespace nura::test {

// Windowed, one discarded back buffer of `format`, presenting at once; with a
// D16 depth buffer unless `depth` is false.
inline D3DPRESENT_PARAMETERS WindowedParams(UINT width = 640, UINT height = 480, bool depth = true,
                                            D3DFORMAT format = D3DFMT_X8R8G8B8) {
  D3DPRESENT_PARAMETERS p{};
  p.BackBufferWidth = width;
  p.BackBufferHeight = height;
  p.BackBufferFormat = format;
  p.BackBufferCount = 1;
  p.SwapEffect = D3DSWAPEFFECT_DISCARD;
  p.Windowed = TRUE;
  p.EnableAutoDepthStencil = depth;
  p.AutoDepthStencilFormat = D3DFMT_D16;
  p.PresentationInterval = D3DPRESENT_INTERVAL_IMMEDIATE;
  return p;
}

}  // namespace nura::test

// Integer 2x2 box kernels of the common packed formats: each field of the four
// texels of a block averages as (a + b + c + d + 2) >> 2 within its own bits;
// bits the format leaves unused are written as 0. The kernels see raw texels:
// no colour key, sRGB, dither or error diffusion.
#pragma once

#include <atomic>
#include <cstdint>

#include "platform/d3d9_types.h"

// (destination, source, source width, source height, source row pitch,
// destination row pitch); both source sizes even and at least 2; the
// destination receives (width / 2) x (height / 2) texels. Returns 0.
using BoxHalveKernel = HRESULT (*)(void* destination, const void* source, std::uint32_t sourceWidth,
                                   std::uint32_t sourceHeight, std::uint32_t sourcePitch,
                                   std::uint32_t destinationPitch);

// The kernels of the 32-bit formats with four channels (A8R8G8B8, A8B8G8R8)
// and with an unused top byte (X8R8G8B8, X8B8G8R8). Both start at a stub that
// chooses, on the first call, the vector kernels when IsMmxAvailable says so
// and the plain ones otherwise. Every value they hold is valid for any caller,
// so concurrent first calls are harmless.
struct BoxHalveKernelPtrs {
  std::atomic<BoxHalveKernel> fourChannel;
  std::atomic<BoxHalveKernel> unusedTopByte;
};
extern BoxHalveKernelPtrs BoxHalveKernelPtr;

// The kernel of a format (through BoxHalveKernelPtr for the 32-bit ones), or
// null when the format takes the float path.
BoxHalveKernel FindBoxHalveKernel(D3DFORMAT format);

// The plain 32-bit kernels, and the vector kernels with the same results.
HRESULT BoxHalveArgb(void* destination, const void* source, std::uint32_t sourceWidth, std::uint32_t sourceHeight,
                     std::uint32_t sourcePitch, std::uint32_t destinationPitch);
HRESULT BoxHalveXrgb(void* destination, const void* source, std::uint32_t sourceWidth, std::uint32_t sourceHeight,
                     std::uint32_t sourcePitch, std::uint32_t destinationPitch);
HRESULT BoxHalveArgbVector(void* destination, const void* source, std::uint32_t sourceWidth,
                           std::uint32_t sourceHeight, std::uint32_t sourcePitch, std::uint32_t destinationPitch);
HRESULT BoxHalveXrgbVector(void* destination, const void* source, std::uint32_t sourceWidth,
                           std::uint32_t sourceHeight, std::uint32_t sourcePitch, std::uint32_t destinationPitch);

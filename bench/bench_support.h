// What the picture-loading benchmarks share: one headless Direct3D 9 device
// for a whole run, and the picture they load.
#pragma once

#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <vector>

#include "platform/d3d9_api.h"
#include "tests/support/d3d9_params.h"

namespace benchsupport {

inline IDirect3DDevice9* Device() {
  static IDirect3DDevice9* device = [] {
    setenv("PLATFORM_BACKEND", "headless", 0);
    IDirect3D9* d3d = Direct3DCreate9(D3D_SDK_VERSION);
    D3DPRESENT_PARAMETERS p = nura::test::WindowedParams(64, 64, false);
    IDirect3DDevice9* d = nullptr;
    if (!d3d || FAILED(d3d->CreateDevice(0, D3DDEVTYPE_HAL, nullptr, D3DCREATE_HARDWARE_VERTEXPROCESSING, &p, &d)))
      std::abort();
    return d;  // kept for the process
  }();
  return device;
}

// A picture of the kind the game loads, RGBA rows from the top: smooth
// shading, rings, fine noise and a soft-edged alpha disc.
inline std::vector<std::uint8_t> MakeRgbaPicture(std::uint32_t width, std::uint32_t height) {
  std::vector<std::uint8_t> rgba(std::size_t{width} * height * 4);
  std::uint32_t noise = 1;
  for (std::uint32_t y = 0; y < height; ++y)
    for (std::uint32_t x = 0; x < width; ++x) {
      noise = noise * 1664525u + 1013904223u;
      const double dx = x - width * 0.5, dy = y - height * 0.5, r = std::sqrt(dx * dx + dy * dy);
      std::uint8_t* p = &rgba[(std::size_t{y} * width + x) * 4];
      p[0] = static_cast<std::uint8_t>(x * 255 / width);
      p[1] = static_cast<std::uint8_t>(128 + 100 * std::sin(r / 23.0));
      p[2] = static_cast<std::uint8_t>((y * 255 / height) ^ ((noise >> 28) & 3));
      p[3] = static_cast<std::uint8_t>(r < height * 0.4 ? 255 : r < height * 0.45 ? (height * 0.45 - r) * 10 : 0);
    }
  return rgba;
}

}  // namespace benchsupport

// Shared pieces of the framework's drawing tests: a headless device whose back
// buffer can be read (A8R8G8B8, lockable), pictures written by Python's PIL,
// and scrambled twins.
#pragma once

#include <gtest/gtest.h>

#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

#include "platform/d3d9_api.h"
#include "platform/testing.h"
#include "qel/appbase/qeldeviceresource.h"
#include "tests/support/d3d9_params.h"
#include "tests/support/test_util.h"

namespace qeltest {

// ARGB pixels, row by row.
struct Picture {
  int width = 0;
  int height = 0;
  std::vector<std::uint32_t> argb;
  std::uint32_t At(int x, int y) const { return argb[static_cast<size_t>(y) * width + x]; }
};

// Opaque pixels of a fixed pseudo-random pattern.
inline Picture NoisePicture(int width, int height, std::uint32_t seed, bool opaque = true) {
  Picture p{width, height, {}};
  std::uint32_t s = seed * 2654435761u + 1;
  for (int i = 0; i < width * height; ++i) {
    s = s * 1664525u + 1013904223u;
    std::uint32_t v = s >> 8;
    if (opaque) v |= 0xFF000000u;
    else v |= (s & 0xFF000000u);
    p.argb.push_back(v);
  }
  return p;
}

// Four opaque quadrants: red top-left, green top-right, blue bottom-left, white bottom-right.
inline Picture QuadrantPicture(int size) {
  Picture p{size, size, {}};
  for (int y = 0; y < size; ++y)
    for (int x = 0; x < size; ++x) {
      const bool right = x >= size / 2, bottom = y >= size / 2;
      p.argb.push_back(!bottom ? (right ? 0xFF00FF00u : 0xFFFF0000u) : (right ? 0xFFFFFFFFu : 0xFF0000FFu));
    }
  return p;
}

// Writes an RGBA PNG with PIL (an encoder independent of ours).
inline void WritePng(const std::string& path, const Picture& p) {
  std::vector<std::uint8_t> rgba;
  for (std::uint32_t v : p.argb) {
    rgba.push_back(static_cast<std::uint8_t>(v >> 16));
    rgba.push_back(static_cast<std::uint8_t>(v >> 8));
    rgba.push_back(static_cast<std::uint8_t>(v));
    rgba.push_back(static_cast<std::uint8_t>(v >> 24));
  }
  const std::string raw = path + ".rgba";
  nura::test::WriteFileBytes(raw, rgba);
  const std::string command = "/usr/bin/python3 -c 'import sys\nfrom PIL import Image\n"
                              "Image.frombytes(\"RGBA\", (int(sys.argv[3]), int(sys.argv[4])), "
                              "open(sys.argv[1], \"rb\").read()).save(sys.argv[2])' '" +
                              raw + "' '" + path + "' " + std::to_string(p.width) + " " + std::to_string(p.height) +
                              " 2>&1";
  std::string output;
  ASSERT_EQ(nura::test::RunCommand(command, &output), 0) << output;
  std::remove(raw.c_str());
}

// Each of the first 256 bytes XORed with its offset.
inline std::vector<std::uint8_t> Scrambled(std::vector<std::uint8_t> bytes) {
  for (size_t i = 0; i < bytes.size() && i < 256; ++i) bytes[i] ^= static_cast<std::uint8_t>(i);
  return bytes;
}

// Writes the picture as the scrambled twin `path` (a .grp name).
inline void WriteTwin(const std::string& path, const Picture& p) {
  WritePng(path + ".png", p);
  nura::test::WriteFileBytes(path, Scrambled(nura::test::ReadFileBytes(path + ".png")));
  std::remove((path + ".png").c_str());
}

// The 32-bit pixels of a locked width x height rectangle.
inline Picture ReadLocked(const D3DLOCKED_RECT& locked, int width, int height) {
  Picture p{width, height, {}};
  for (int y = 0; y < height; ++y) {
    const auto* row = reinterpret_cast<const std::uint32_t*>(static_cast<const BYTE*>(locked.pBits) + y * locked.Pitch);
    p.argb.insert(p.argb.end(), row, row + width);
  }
  return p;
}

// Level 0 of a texture as ARGB (A8R8G8B8 or X8R8G8B8 textures).
inline Picture ReadTexture(IDirect3DTexture9* texture) {
  Picture p;
  D3DSURFACE_DESC desc{};
  if (!texture || FAILED(texture->GetLevelDesc(0, &desc))) return p;
  D3DLOCKED_RECT locked{};
  if (FAILED(texture->LockRect(0, &locked, nullptr, D3DLOCK_READONLY))) return p;
  p = ReadLocked(locked, static_cast<int>(desc.Width), static_cast<int>(desc.Height));
  texture->UnlockRect(0);
  return p;
}

// A 640 x 480 device with a lockable A8R8G8B8 back buffer and a D16 depth
// buffer, in a scratch working folder. The global device stays null until a
// test calls NotifyDeviceCreated; every Direct3D object must be gone at the end.
class DeviceTest : public testing::Test {
 protected:
  void SetUp() override {
    g_pDevice = nullptr;
    m_d3d = Direct3DCreate9(D3D_SDK_VERSION);
    ASSERT_NE(m_d3d, nullptr);
    D3DPRESENT_PARAMETERS p = nura::test::WindowedParams(640, 480, true, D3DFMT_A8R8G8B8);
    p.Flags = D3DPRESENTFLAG_LOCKABLE_BACKBUFFER;
    ASSERT_EQ(m_d3d->CreateDevice(0, D3DDEVTYPE_HAL, nullptr, D3DCREATE_HARDWARE_VERTEXPROCESSING, &p, &m_dev),
              D3D_OK);
  }
  void TearDown() override {
    g_pDevice = nullptr;
    if (m_dev) {
      EXPECT_EQ(m_dev->Release(), 0u) << platform::test::D3D9LiveObjectReport();
    }
    if (m_d3d) m_d3d->Release();
    EXPECT_TRUE(platform::test::D3D9LiveObjects().empty()) << platform::test::D3D9LiveObjectReport();
  }

  // Clears the back buffer to colour and opens a scene.
  void BeginFrame(D3DCOLOR color) {
    ASSERT_EQ(m_dev->Clear(0, nullptr, D3DCLEAR_TARGET | D3DCLEAR_ZBUFFER, color, 1.0f, 0), D3D_OK);
    ASSERT_EQ(m_dev->BeginScene(), D3D_OK);
  }
  void EndFrame() { ASSERT_EQ(m_dev->EndScene(), D3D_OK); }

  // The back buffer as ARGB.
  Picture Screen() {
    Picture p;
    IDirect3DSurface9* back = nullptr;
    if (FAILED(m_dev->GetBackBuffer(0, 0, D3DBACKBUFFER_TYPE_MONO, &back))) return p;
    D3DLOCKED_RECT locked{};
    if (SUCCEEDED(back->LockRect(&locked, nullptr, D3DLOCK_READONLY))) {
      p = ReadLocked(locked, 640, 480);
      back->UnlockRect();
    }
    back->Release();
    return p;
  }

  nura::test::TempDir m_dir;
  nura::test::ScopedChdir m_chdir{m_dir.path()};
  IDirect3D9* m_d3d = nullptr;
  IDirect3DDevice9* m_dev = nullptr;
};

// One 8-bit channel of an ARGB value: shift 0 blue, 8 green, 16 red, 24 alpha.
inline int Channel(std::uint32_t v, int shift) { return static_cast<int>((v >> shift) & 0xFF); }

// "0x80ff0000" for failure messages.
inline std::string Hex(std::uint32_t v) {
  char buf[16];
  std::snprintf(buf, sizeof buf, "0x%08x", v);
  return buf;
}

}  // namespace qeltest

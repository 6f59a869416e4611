// Shared by the drawing-object tests: a fixture with a headless 640 x 480
// device that checks no Direct3D object outlives a test, textures with known
// texels, read-back of what a batch wrote, and hooks for allocation failure,
// math calls and textures that cannot describe themselves.
#pragma once

#include <gtest/gtest.h>

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "gxl/tex/com_ref.h"
#include "gxl/draw/creators.h"
#include "gxl/draw/sprite_batcher.h"
#include "platform/testing.h"
#include "tests/support/com_ref.h"

namespace drawtest {

using gxl::ComRef;
using nura::test::RefCount;

// Calls of the d3d9 call log whose method is `method`, as "args" texts.
std::vector<std::string> LoggedArgs(const std::string& method);

class SpriteTest : public ::testing::Test {
 protected:
  void SetUp() override;
  void TearDown() override;

  // Replaces the fixture's device by one made with these behaviour flags.
  void RecreateDevice(DWORD behaviour);

  ComRef<SpriteBatcher> MakeBatcher();
  ComRef<SpriteBatcher> MakeBatcher(IDirect3DDevice9* device);
  // A one-level managed texture whose texel (x, y) is texel(x, y) (A8R8G8B8).
  ComRef<IDirect3DTexture9> MakeTexture(UINT width, UINT height,
                                        const std::function<std::uint32_t(UINT x, UINT y)>& texel);
  ComRef<IDirect3DTexture9> MakeTexture(UINT width, UINT height) {
    return MakeTexture(width, height, [](UINT x, UINT y) { return 0xFF000000u | (y << 8) | x; });
  }

  // count vertices from `first` of the vertex buffer bound at stream 0 (what
  // the last flush drew, when the batch saved no state).
  std::vector<SpriteVertex> BoundVertices(UINT first, UINT count);
  // The back buffer's pixels (0xAARRGGBB, rows top-down).
  std::vector<std::uint32_t> BackBufferPixels();
  // A 32-bit surface's pixels, read by a lock or, for a render target that
  // cannot be locked, through a system-memory copy.
  std::vector<std::uint32_t> SurfacePixels(IDirect3DSurface9* surface);

  IDirect3D9* d3d = nullptr;
  IDirect3DDevice9* dev = nullptr;
};

// --- Allocation failure --------------------------------------------------------
// Counts the nothrow allocations that the drawing objects make, and makes the
// nth one from now fail (1 = the next; 0 = none). Reset before every test.
void FailNothrowAllocation(int nth);
int NothrowAllocationCount();

// --- Math calls ---------------------------------------------------------------------
// While alive, records the vertex count of every Vec3TransformPointArray call
// (the body still runs).
class TransformArrayCalls {
 public:
  TransformArrayCalls();
  ~TransformArrayCalls();
  TransformArrayCalls(const TransformArrayCalls&) = delete;
  TransformArrayCalls& operator=(const TransformArrayCalls&) = delete;
  // The counts since construction or the last Take.
  std::vector<std::uint32_t> Take();
};

// --- A texture that is not the device's -----------------------------------------
// Describes itself as the given size, or fails GetLevelDesc with `failure`.
class FakeTexture final : public IDirect3DTexture9 {
 public:
  FakeTexture(UINT width, UINT height, HRESULT failure = S_OK) : m_width(width), m_height(height), m_failure(failure) {}
  HRESULT QueryInterface(REFIID, void** out) override {
    *out = nullptr;
    return E_NOINTERFACE;
  }
  ULONG AddRef() override { return ++m_refs; }
  ULONG Release() override { return --m_refs; }
  HRESULT GetDevice(IDirect3DDevice9**) override { return D3DERR_INVALIDCALL; }
  D3DRESOURCETYPE GetType() override { return D3DRTYPE_TEXTURE; }
  DWORD GetLevelCount() override { return 1; }
  HRESULT GetLevelDesc(UINT level, D3DSURFACE_DESC* desc) override;
  HRESULT GetSurfaceLevel(UINT, IDirect3DSurface9**) override { return D3DERR_INVALIDCALL; }
  HRESULT LockRect(UINT, D3DLOCKED_RECT*, const RECT*, DWORD) override { return D3DERR_INVALIDCALL; }
  HRESULT UnlockRect(UINT) override { return D3DERR_INVALIDCALL; }

  ULONG References() const { return m_refs; }
  int DescribeCalls() const { return m_describeCalls; }

 private:
  UINT m_width, m_height;
  HRESULT m_failure;
  ULONG m_refs = 1;
  int m_describeCalls = 0;
};

}  // namespace drawtest

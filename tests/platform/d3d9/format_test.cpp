// Storage rules of every format the texture library converts: pitches, block
// and pair rules for lock rectangles, mip sizes, and the pitch-padding mode.
#include "d3d9_fixture.h"

namespace {

using d3dtest::Ref;

class D3D9ResFormat : public d3dtest::DeviceTest {
 protected:
  // Pitch of level 0 of a one-level scratch texture.
  INT ScratchPitch(D3DFORMAT format, UINT width, UINT height = 4) {
    Ref<IDirect3DTexture9> t;
    EXPECT_EQ(dev->CreateTexture(width, height, 1, 0, format, D3DPOOL_SCRATCH, &t, nullptr), D3D_OK) << format;
    if (!t) return -1;
    D3DLOCKED_RECT lr{};
    EXPECT_EQ(t->LockRect(0, &lr, nullptr, 0), D3D_OK);
    EXPECT_EQ(t->UnlockRect(0), D3D_OK);
    return lr.Pitch;
  }
};

// Bits per texel of the plain formats, as the pixel-format table gives them.
struct PlainFormat {
  DWORD format;
  UINT bits;
};
const PlainFormat kPlain[] = {
    {20, 24},  {21, 32},  {22, 32},  {23, 16},  {24, 16},  {40, 16},  {41, 8},   {25, 16},  {26, 16},
    {27, 8},   {28, 8},   {29, 16},  {30, 16},  {31, 32},  {32, 32},  {33, 32},  {34, 32},  {35, 32},
    {36, 64},  {50, 8},   {51, 16},  {52, 8},   {81, 16},  {60, 16},  {61, 16},  {62, 32},  {63, 32},
    {64, 32},  {67, 32},  {110, 64}, {117, 16}, {70, 16},  {82, 32},  {71, 32},  {73, 16},  {75, 32},
    {80, 16},  {77, 32},  {79, 32},  {83, 32},  {111, 16}, {112, 32}, {113, 64}, {114, 32}, {115, 64},
    {116, 128}, {MAKEFOURCC('A', 'L', '1', '6'), 32}, {MAKEFOURCC(' ', 'R', '1', '6'), 48}};

TEST_F(D3D9ResFormat, PlainRowsAreTexelsRoundedUpToFourBytes) {
  for (const PlainFormat& f : kPlain)
    for (UINT width : {1u, 3u, 5u, 8u, 13u}) {
      const UINT expected = (width * f.bits / 8 + 3) / 4 * 4;
      EXPECT_EQ(ScratchPitch(static_cast<D3DFORMAT>(f.format), width), static_cast<INT>(expected))
          << "format " << f.format << " width " << width;
    }
}

TEST_F(D3D9ResFormat, BlockAndPairPitches) {
  for (UINT width : {4u, 8u, 12u, 20u}) {
    EXPECT_EQ(ScratchPitch(D3DFMT_DXT1, width), static_cast<INT>(width / 4 * 8));
    for (D3DFORMAT f : {D3DFMT_DXT2, D3DFMT_DXT3, D3DFMT_DXT4, D3DFMT_DXT5})
      EXPECT_EQ(ScratchPitch(f, width), static_cast<INT>(width / 4 * 16));
  }
  for (UINT width : {1u, 2u, 5u, 6u, 7u})
    for (D3DFORMAT f : {D3DFMT_YUY2, D3DFMT_UYVY, D3DFMT_R8G8_B8G8, D3DFMT_G8R8_G8B8})
      EXPECT_EQ(ScratchPitch(f, width, 2), static_cast<INT>((width + 1) / 2 * 4)) << width;
}

TEST_F(D3D9ResFormat, PaddingModeWidensEveryPitch) {
  platform::test::SetD3D9PitchPadding(true);
  EXPECT_EQ(ScratchPitch(D3DFMT_A8R8G8B8, 5), 20 + 16);
  EXPECT_EQ(ScratchPitch(D3DFMT_DXT1, 8), 16 + 16);
  EXPECT_EQ(ScratchPitch(D3DFMT_YUY2, 5), 12 + 16);
  Ref<IDirect3DVolumeTexture9> v;
  ASSERT_EQ(dev->CreateVolumeTexture(4, 3, 2, 1, 0, D3DFMT_L8, D3DPOOL_SCRATCH, &v, nullptr), D3D_OK);
  D3DLOCKED_BOX box{};
  ASSERT_EQ(v->LockBox(0, &box, nullptr, D3DLOCK_READONLY), D3D_OK);
  EXPECT_EQ(box.RowPitch, 4 + 16);
  EXPECT_EQ(box.SlicePitch, (4 + 16) * 3);
  EXPECT_EQ(v->UnlockBox(0), D3D_OK);
}

TEST_F(D3D9ResFormat, VolumeSlicePitchIsRowPitchTimesRows) {
  Ref<IDirect3DVolumeTexture9> v;
  ASSERT_EQ(dev->CreateVolumeTexture(5, 3, 4, 1, 0, D3DFMT_A8R8G8B8, D3DPOOL_SCRATCH, &v, nullptr), D3D_OK);
  D3DLOCKED_BOX box{};
  ASSERT_EQ(v->LockBox(0, &box, nullptr, 0), D3D_OK);
  EXPECT_EQ(box.RowPitch, 20);
  EXPECT_EQ(box.SlicePitch, 60);
  auto* base = static_cast<std::uint8_t*>(box.pBits);
  EXPECT_EQ(v->UnlockBox(0), D3D_OK);
  const D3DBOX inner{1, 2, 3, 3, 2, 4};
  ASSERT_EQ(v->LockBox(0, &box, &inner, 0), D3D_OK);
  EXPECT_EQ(static_cast<std::uint8_t*>(box.pBits), base + 2 * 60 + 2 * 20 + 1 * 4);
  EXPECT_EQ(v->UnlockBox(0), D3D_OK);
  Ref<IDirect3DVolumeTexture9> dxt;
  ASSERT_EQ(dev->CreateVolumeTexture(8, 8, 2, 1, 0, D3DFMT_DXT5, D3DPOOL_SCRATCH, &dxt, nullptr), D3D_OK);
  ASSERT_EQ(dxt->LockBox(0, &box, nullptr, 0), D3D_OK);
  EXPECT_EQ(box.RowPitch, 32);
  EXPECT_EQ(box.SlicePitch, 64);
  EXPECT_EQ(dxt->UnlockBox(0), D3D_OK);
  const D3DBOX unaligned{1, 0, 4, 4, 0, 1};
  EXPECT_EQ(dxt->LockBox(0, &box, &unaligned, 0), D3DERR_INVALIDCALL);
}

TEST_F(D3D9ResFormat, DxtRectanglesAreWholeBlocks) {
  Ref<IDirect3DTexture9> t;
  ASSERT_EQ(dev->CreateTexture(16, 16, 0, 0, D3DFMT_DXT1, D3DPOOL_MANAGED, &t, nullptr), D3D_OK);
  ASSERT_EQ(t->GetLevelCount(), 5u);
  D3DLOCKED_RECT whole{}, part{};
  ASSERT_EQ(t->LockRect(0, &whole, nullptr, 0), D3D_OK);
  ASSERT_EQ(t->UnlockRect(0), D3D_OK);
  const RECT block{4, 8, 8, 12};
  ASSERT_EQ(t->LockRect(0, &part, &block, 0), D3D_OK);
  EXPECT_EQ(static_cast<std::uint8_t*>(part.pBits), static_cast<std::uint8_t*>(whole.pBits) + 2 * 32 + 1 * 8);
  ASSERT_EQ(t->UnlockRect(0), D3D_OK);
  for (const RECT& bad : {RECT{1, 1, 3, 3}, RECT{0, 0, 6, 4}, RECT{2, 0, 4, 4}})
    EXPECT_EQ(t->LockRect(0, &part, &bad, 0), D3DERR_INVALIDCALL);
  // Levels smaller than a block: rectangles that reach the edge are whole blocks.
  D3DSURFACE_DESC desc;
  ASSERT_EQ(t->GetLevelDesc(3, &desc), D3D_OK);
  EXPECT_EQ(desc.Width, 2u);
  const RECT edge{0, 0, 2, 2};
  ASSERT_EQ(t->LockRect(3, &part, &edge, 0), D3D_OK);
  EXPECT_EQ(part.Pitch, 8);
  EXPECT_EQ(t->UnlockRect(3), D3D_OK);
  // A DXT level 0 is whole blocks.
  Ref<IDirect3DTexture9> odd;
  EXPECT_EQ(dev->CreateTexture(6, 8, 1, 0, D3DFMT_DXT1, D3DPOOL_SCRATCH, &odd, nullptr), D3DERR_INVALIDCALL);
}

TEST_F(D3D9ResFormat, YuvRectanglesStartOnPairs) {
  Ref<IDirect3DTexture9> t;
  ASSERT_EQ(dev->CreateTexture(5, 2, 1, 0, D3DFMT_YUY2, D3DPOOL_SCRATCH, &t, nullptr), D3D_OK);
  D3DLOCKED_RECT whole{}, part{};
  ASSERT_EQ(t->LockRect(0, &whole, nullptr, 0), D3D_OK);
  ASSERT_EQ(t->UnlockRect(0), D3D_OK);
  const RECT pair{2, 1, 4, 2};
  ASSERT_EQ(t->LockRect(0, &part, &pair, 0), D3D_OK);
  EXPECT_EQ(static_cast<std::uint8_t*>(part.pBits), static_cast<std::uint8_t*>(whole.pBits) + 12 + 4);
  ASSERT_EQ(t->UnlockRect(0), D3D_OK);
  const RECT toEdge{2, 0, 5, 1};
  ASSERT_EQ(t->LockRect(0, &part, &toEdge, 0), D3D_OK);
  ASSERT_EQ(t->UnlockRect(0), D3D_OK);
  for (const RECT& bad : {RECT{1, 0, 3, 1}, RECT{0, 0, 3, 1}})
    EXPECT_EQ(t->LockRect(0, &part, &bad, 0), D3DERR_INVALIDCALL);
}

TEST_F(D3D9ResFormat, SubRectangleLocksAddressTheSameTexels) {
  Ref<IDirect3DTexture9> t;
  ASSERT_EQ(dev->CreateTexture(7, 5, 1, 0, D3DFMT_R8G8B8, D3DPOOL_SYSTEMMEM, &t, nullptr), D3D_OK);
  const RECT r{2, 1, 6, 4};
  D3DLOCKED_RECT lr{};
  ASSERT_EQ(t->LockRect(0, &lr, &r, 0), D3D_OK);
  for (int y = 0; y < 3; ++y)
    for (int x = 0; x < 4 * 3; ++x)
      static_cast<std::uint8_t*>(lr.pBits)[y * lr.Pitch + x] = std::uint8_t(1 + y * 16 + x);
  ASSERT_EQ(t->UnlockRect(0), D3D_OK);
  ASSERT_EQ(t->LockRect(0, &lr, nullptr, D3DLOCK_READONLY), D3D_OK);
  EXPECT_EQ(lr.Pitch, 24);  // 21 bytes rounded up
  const auto* px = static_cast<const std::uint8_t*>(lr.pBits);
  for (int y = 0; y < 5; ++y)
    for (int x = 0; x < 21; ++x) {
      const bool inside = y >= 1 && y < 4 && x >= 6 && x < 18;
      EXPECT_EQ(px[y * lr.Pitch + x], inside ? std::uint8_t(1 + (y - 1) * 16 + (x - 6)) : 0) << x << "," << y;
    }
  EXPECT_EQ(t->UnlockRect(0), D3D_OK);
}

TEST_F(D3D9ResFormat, FullChainsAndLevelSizes) {
  Ref<IDirect3DTexture9> t;
  ASSERT_EQ(dev->CreateTexture(13, 5, 0, 0, D3DFMT_A8R8G8B8, D3DPOOL_SCRATCH, &t, nullptr), D3D_OK);
  ASSERT_EQ(t->GetLevelCount(), 4u);
  const UINT widths[] = {13, 6, 3, 1}, heights[] = {5, 2, 1, 1};
  for (UINT l = 0; l < 4; ++l) {
    D3DSURFACE_DESC d;
    ASSERT_EQ(t->GetLevelDesc(l, &d), D3D_OK);
    EXPECT_EQ(d.Width, widths[l]);
    EXPECT_EQ(d.Height, heights[l]);
    EXPECT_EQ(d.Format, D3DFMT_A8R8G8B8);
    EXPECT_EQ(d.Pool, D3DPOOL_SCRATCH);
    EXPECT_EQ(d.Type, D3DRTYPE_SURFACE);
    EXPECT_EQ(d.MultiSampleType, D3DMULTISAMPLE_NONE);
  }
  D3DSURFACE_DESC d;
  EXPECT_EQ(t->GetLevelDesc(4, &d), D3DERR_INVALIDCALL);
  Ref<IDirect3DTexture9> tooMany;
  EXPECT_EQ(dev->CreateTexture(13, 5, 5, 0, D3DFMT_A8R8G8B8, D3DPOOL_SCRATCH, &tooMany, nullptr), D3DERR_INVALIDCALL);
}

TEST_F(D3D9ResFormat, UnknownCodesAreNotStorable) {
  Ref<IDirect3DTexture9> t;
  EXPECT_EQ(dev->CreateTexture(4, 4, 1, 0, static_cast<D3DFORMAT>(12345), D3DPOOL_SCRATCH, &t, nullptr),
            D3DERR_INVALIDCALL);
  EXPECT_EQ(dev->CreateTexture(4, 4, 1, 0, D3DFMT_UNKNOWN, D3DPOOL_SCRATCH, &t, nullptr), D3DERR_INVALIDCALL);
  EXPECT_EQ(dev->CreateTexture(4, 4, 1, 0, D3DFMT_INDEX16, D3DPOOL_SYSTEMMEM, &t, nullptr), D3DERR_INVALIDCALL);
}

}  // namespace

// Copies between resources, checked texel by texel against closed forms.
#include "d3d9_fixture.h"

namespace {

using d3dtest::Ref;

class D3D9ResCopy : public d3dtest::DeviceTest {
 protected:
  // Fills a lockable 32-bit surface with f(x, y).
  template <class F>
  void Fill(IDirect3DSurface9* s, F f) {
    D3DSURFACE_DESC d;
    ASSERT_EQ(s->GetDesc(&d), D3D_OK);
    D3DLOCKED_RECT lr;
    ASSERT_EQ(s->LockRect(&lr, nullptr, 0), D3D_OK);
    for (UINT y = 0; y < d.Height; ++y)
      for (UINT x = 0; x < d.Width; ++x) {
        const std::uint32_t v = f(x, y);
        std::memcpy(static_cast<std::uint8_t*>(lr.pBits) + std::size_t(y) * lr.Pitch + x * 4, &v, 4);
      }
    ASSERT_EQ(s->UnlockRect(), D3D_OK);
  }
  Ref<IDirect3DSurface9> Target(UINT w, UINT h, D3DFORMAT f = D3DFMT_A8R8G8B8, BOOL lockable = TRUE) {
    Ref<IDirect3DSurface9> s;
    EXPECT_EQ(dev->CreateRenderTarget(w, h, f, D3DMULTISAMPLE_NONE, 0, lockable, &s, nullptr), D3D_OK);
    return s;
  }
};

std::uint32_t Pattern(UINT x, UINT y) { return 0x80000000u | (y << 12) | x; }

TEST_F(D3D9ResCopy, UpdateSurfaceCopiesARectangleToAPoint) {
  platform::test::SetD3D9PitchPadding(true);  // copies must follow each side's pitch
  Ref<IDirect3DTexture9> src, dst;
  ASSERT_EQ(dev->CreateTexture(16, 8, 1, 0, D3DFMT_A8R8G8B8, D3DPOOL_SYSTEMMEM, &src, nullptr), D3D_OK);
  ASSERT_EQ(dev->CreateTexture(32, 32, 1, D3DUSAGE_DYNAMIC, D3DFMT_A8R8G8B8, D3DPOOL_DEFAULT, &dst, nullptr), D3D_OK);
  Ref<IDirect3DSurface9> s(Level(src.get())), d(Level(dst.get()));
  Fill(s.get(), Pattern);
  const RECT r{2, 1, 10, 7};
  const POINT p{20, 25};
  ASSERT_EQ(dev->UpdateSurface(s.get(), &r, d.get(), &p), D3D_OK);
  const auto px = Read(d.get());
  for (UINT y = 0; y < 32; ++y)
    for (UINT x = 0; x < 32; ++x) {
      const bool inside = x >= 20 && x < 28 && y >= 25 && y < 31;
      ASSERT_EQ(px[y * 32 + x], inside ? Pattern(x - 18, y - 24) : 0u) << x << "," << y;
    }
  ASSERT_EQ(dev->UpdateSurface(s.get(), nullptr, d.get(), nullptr), D3D_OK);
  EXPECT_EQ(Read(d.get())[7 * 32 + 15], Pattern(15, 7));
  // Rules: system memory to default pool, same format, inside both surfaces
  // (past either edge alone is refused as well; flush with both is not).
  const auto before = Read(d.get());
  for (const POINT at : {POINT{30, 30}, POINT{20, 27}, POINT{25, 20}})
    EXPECT_EQ(dev->UpdateSurface(s.get(), &r, d.get(), &at), D3DERR_INVALIDCALL) << at.x << "," << at.y;
  EXPECT_EQ(Read(d.get()), before);
  const POINT flush{24, 26};
  EXPECT_EQ(dev->UpdateSurface(s.get(), &r, d.get(), &flush), D3D_OK);
  EXPECT_EQ(dev->UpdateSurface(d.get(), nullptr, s.get(), nullptr), D3DERR_INVALIDCALL);
  Ref<IDirect3DTexture9> other;
  ASSERT_EQ(dev->CreateTexture(16, 8, 1, 0, D3DFMT_X8R8G8B8, D3DPOOL_SYSTEMMEM, &other, nullptr), D3D_OK);
  Ref<IDirect3DSurface9> o(Level(other.get()));
  EXPECT_EQ(dev->UpdateSurface(o.get(), nullptr, d.get(), nullptr), D3DERR_INVALIDCALL);
  for (const RECT bad : {RECT{0, 0, 17, 8}, RECT{0, 0, 16, 9}})
    EXPECT_EQ(dev->UpdateSurface(s.get(), &bad, d.get(), nullptr), D3DERR_INVALIDCALL);
}

TEST_F(D3D9ResCopy, UpdateSurfaceKeepsDxtBlocksWhole) {
  Ref<IDirect3DTexture9> src, dst;
  ASSERT_EQ(dev->CreateTexture(16, 16, 1, 0, D3DFMT_DXT5, D3DPOOL_SYSTEMMEM, &src, nullptr), D3D_OK);
  ASSERT_EQ(dev->CreateTexture(16, 16, 1, D3DUSAGE_DYNAMIC, D3DFMT_DXT5, D3DPOOL_DEFAULT, &dst, nullptr), D3D_OK);
  Ref<IDirect3DSurface9> s(Level(src.get())), d(Level(dst.get()));
  D3DLOCKED_RECT lr;
  ASSERT_EQ(s->LockRect(&lr, nullptr, 0), D3D_OK);
  for (int i = 0; i < 4 * 64; ++i) static_cast<std::uint8_t*>(lr.pBits)[i] = std::uint8_t(i);
  ASSERT_EQ(s->UnlockRect(), D3D_OK);
  const RECT block{4, 0, 8, 4};
  const POINT to{12, 8};
  ASSERT_EQ(dev->UpdateSurface(s.get(), &block, d.get(), &to), D3D_OK);
  ASSERT_EQ(d->LockRect(&lr, nullptr, D3DLOCK_READONLY), D3D_OK);
  const auto* bytes = static_cast<const std::uint8_t*>(lr.pBits);
  for (int i = 0; i < 16; ++i) EXPECT_EQ(bytes[2 * 64 + 3 * 16 + i], std::uint8_t(16 + i));
  ASSERT_EQ(d->UnlockRect(), D3D_OK);
  const RECT unaligned{2, 0, 6, 4};
  EXPECT_EQ(dev->UpdateSurface(s.get(), &unaligned, d.get(), nullptr), D3DERR_INVALIDCALL);
  const POINT odd{2, 0};
  EXPECT_EQ(dev->UpdateSurface(s.get(), &block, d.get(), &odd), D3DERR_INVALIDCALL);
}

TEST_F(D3D9ResCopy, UpdateTextureCopiesAllLevels) {
  Ref<IDirect3DTexture9> src, dst, small;
  ASSERT_EQ(dev->CreateTexture(16, 16, 0, 0, D3DFMT_A8R8G8B8, D3DPOOL_SYSTEMMEM, &src, nullptr), D3D_OK);
  ASSERT_EQ(src->GetLevelCount(), 5u);
  for (UINT l = 0; l < 5; ++l) {
    Ref<IDirect3DSurface9> s(Level(src.get(), l));
    Fill(s.get(), [l](UINT x, UINT y) { return (l << 24) | Pattern(x, y); });
  }
  ASSERT_EQ(dev->CreateTexture(16, 16, 0, D3DUSAGE_DYNAMIC, D3DFMT_A8R8G8B8, D3DPOOL_DEFAULT, &dst, nullptr), D3D_OK);
  ASSERT_EQ(dev->UpdateTexture(src.get(), dst.get()), D3D_OK);
  for (UINT l = 0; l < 5; ++l) {
    Ref<IDirect3DSurface9> d(Level(dst.get(), l));
    const auto px = Read(d.get());
    const UINT size = 16 >> l;
    for (UINT i = 0; i < px.size(); ++i) ASSERT_EQ(px[i], (l << 24) | Pattern(i % size, i / size)) << "level " << l;
  }
  // A smaller destination takes the source levels that match its sizes.
  ASSERT_EQ(dev->CreateTexture(4, 4, 0, D3DUSAGE_DYNAMIC, D3DFMT_A8R8G8B8, D3DPOOL_DEFAULT, &small, nullptr), D3D_OK);
  ASSERT_EQ(dev->UpdateTexture(src.get(), small.get()), D3D_OK);
  Ref<IDirect3DSurface9> top(Level(small.get(), 0));
  EXPECT_EQ(Read(top.get())[5], (2u << 24) | Pattern(1, 1));
  // The destination may not need more levels than the source has from there on.
  EXPECT_EQ(dev->UpdateTexture(small.get(), src.get()), D3DERR_INVALIDCALL);
  Ref<IDirect3DTexture9> wide;
  ASSERT_EQ(dev->CreateTexture(32, 32, 0, D3DUSAGE_DYNAMIC, D3DFMT_A8R8G8B8, D3DPOOL_DEFAULT, &wide, nullptr), D3D_OK);
  EXPECT_EQ(dev->UpdateTexture(src.get(), wide.get()), D3DERR_INVALIDCALL);
  Ref<IDirect3DTexture9> otherFormat;
  ASSERT_EQ(dev->CreateTexture(16, 16, 0, D3DUSAGE_DYNAMIC, D3DFMT_X8R8G8B8, D3DPOOL_DEFAULT, &otherFormat, nullptr),
            D3D_OK);
  EXPECT_EQ(dev->UpdateTexture(src.get(), otherFormat.get()), D3DERR_INVALIDCALL);
  Ref<IDirect3DSurface9> locked(Level(src.get(), 3));
  D3DLOCKED_RECT lr;
  ASSERT_EQ(locked->LockRect(&lr, nullptr, 0), D3D_OK);
  EXPECT_EQ(dev->UpdateTexture(src.get(), dst.get()), D3DERR_INVALIDCALL);
  ASSERT_EQ(locked->UnlockRect(), D3D_OK);
}

TEST_F(D3D9ResCopy, UpdateTextureCubesAndVolumes) {
  Ref<IDirect3DCubeTexture9> src, dst;
  ASSERT_EQ(dev->CreateCubeTexture(8, 2, 0, D3DFMT_A8R8G8B8, D3DPOOL_SYSTEMMEM, &src, nullptr), D3D_OK);
  ASSERT_EQ(dev->CreateCubeTexture(8, 2, D3DUSAGE_DYNAMIC, D3DFMT_A8R8G8B8, D3DPOOL_DEFAULT, &dst, nullptr), D3D_OK);
  for (UINT face = 0; face < 6; ++face)
    for (UINT l = 0; l < 2; ++l) {
      D3DLOCKED_RECT lr;
      ASSERT_EQ(src->LockRect(static_cast<D3DCUBEMAP_FACES>(face), l, &lr, nullptr, 0), D3D_OK);
      *static_cast<std::uint32_t*>(lr.pBits) = 0x1000u * face + l;
      ASSERT_EQ(src->UnlockRect(static_cast<D3DCUBEMAP_FACES>(face), l), D3D_OK);
    }
  ASSERT_EQ(dev->UpdateTexture(src.get(), dst.get()), D3D_OK);
  // Faces are addressed +X, -X, +Y, -Y, +Z, -Z and stay apart.
  for (UINT face = 0; face < 6; ++face)
    for (UINT l = 0; l < 2; ++l) {
      Ref<IDirect3DSurface9> s;
      ASSERT_EQ(dst->GetCubeMapSurface(static_cast<D3DCUBEMAP_FACES>(face), l, &s), D3D_OK);
      EXPECT_EQ(Read(s.get())[0], 0x1000u * face + l);
    }
  Ref<IDirect3DSurface9> none;
  EXPECT_EQ(dst->GetCubeMapSurface(static_cast<D3DCUBEMAP_FACES>(6), 0, &none), D3DERR_INVALIDCALL);
  EXPECT_EQ(dst->GetCubeMapSurface(D3DCUBEMAP_FACE_POSITIVE_X, 2, &none), D3DERR_INVALIDCALL);

  Ref<IDirect3DVolumeTexture9> vsrc, vdst;
  ASSERT_EQ(dev->CreateVolumeTexture(4, 4, 4, 0, 0, D3DFMT_L8, D3DPOOL_SYSTEMMEM, &vsrc, nullptr), D3D_OK);
  ASSERT_EQ(dev->CreateVolumeTexture(4, 4, 4, 0, D3DUSAGE_DYNAMIC, D3DFMT_L8, D3DPOOL_DEFAULT, &vdst, nullptr), D3D_OK);
  D3DLOCKED_BOX box;
  ASSERT_EQ(vsrc->LockBox(1, &box, nullptr, 0), D3D_OK);
  static_cast<std::uint8_t*>(box.pBits)[box.SlicePitch + box.RowPitch + 1] = 0x77;
  ASSERT_EQ(vsrc->UnlockBox(1), D3D_OK);
  ASSERT_EQ(dev->UpdateTexture(vsrc.get(), vdst.get()), D3D_OK);
  ASSERT_EQ(vdst->LockBox(1, &box, nullptr, D3DLOCK_READONLY), D3D_OK);
  EXPECT_EQ(static_cast<std::uint8_t*>(box.pBits)[box.SlicePitch + box.RowPitch + 1], 0x77);
  ASSERT_EQ(vdst->UnlockBox(1), D3D_OK);
  EXPECT_EQ(dev->UpdateTexture(vsrc.get(), dst.get()), D3DERR_INVALIDCALL);  // different types
}

TEST_F(D3D9ResCopy, GetRenderTargetDataReadsATarget) {
  Ref<IDirect3DSurface9> rt = Target(8, 4, D3DFMT_X8R8G8B8, FALSE);
  ASSERT_EQ(dev->SetRenderTarget(0, rt.get()), D3D_OK);
  ASSERT_EQ(dev->Clear(0, nullptr, D3DCLEAR_TARGET, 0x00123456, 1.0f, 0), D3D_OK);
  for (std::uint32_t p : ReadBack(rt.get())) EXPECT_EQ(p, 0xFF123456u);
  Ref<IDirect3DTexture9> sys;
  ASSERT_EQ(dev->CreateTexture(8, 8, 1, 0, D3DFMT_X8R8G8B8, D3DPOOL_SYSTEMMEM, &sys, nullptr), D3D_OK);
  Ref<IDirect3DSurface9> s(Level(sys.get()));
  EXPECT_EQ(dev->GetRenderTargetData(rt.get(), s.get()), D3DERR_INVALIDCALL);  // sizes differ
  EXPECT_EQ(dev->GetRenderTargetData(s.get(), s.get()), D3DERR_INVALIDCALL);
}

TEST_F(D3D9ResCopy, StretchRectSameSizeAndPoint) {
  Ref<IDirect3DSurface9> src = Target(8, 8), dst = Target(16, 16);
  Fill(src.get(), Pattern);
  const RECT sr{1, 2, 5, 6}, dr{10, 11, 14, 15};
  ASSERT_EQ(dev->StretchRect(src.get(), &sr, dst.get(), &dr, D3DTEXF_NONE), D3D_OK);
  auto px = Read(dst.get());
  EXPECT_EQ(px[11 * 16 + 10], Pattern(1, 2));
  EXPECT_EQ(px[14 * 16 + 13], Pattern(4, 5));
  EXPECT_EQ(px[15 * 16 + 14], 0u);
  // Doubling with point sampling repeats every texel 2 x 2.
  ASSERT_EQ(dev->StretchRect(src.get(), nullptr, dst.get(), nullptr, D3DTEXF_POINT), D3D_OK);
  px = Read(dst.get());
  for (UINT y = 0; y < 16; ++y)
    for (UINT x = 0; x < 16; ++x) ASSERT_EQ(px[y * 16 + x], Pattern(x / 2, y / 2));
  // Halving picks the second texel of each pair (texel centres map to centres).
  ASSERT_EQ(dev->StretchRect(dst.get(), nullptr, src.get(), nullptr, D3DTEXF_POINT), D3D_OK);
  px = Read(src.get());
  for (UINT y = 0; y < 8; ++y)
    for (UINT x = 0; x < 8; ++x) ASSERT_EQ(px[y * 8 + x], Pattern(x, y));
}

TEST_F(D3D9ResCopy, StretchRectLinearTakesMeans) {
  Ref<IDirect3DSurface9> src = Target(4, 2), dst = Target(2, 1);
  // Two rows of four texels; halving both ways averages each 2 x 2 block.
  const std::uint32_t values[8] = {0x10203040, 0x30405060, 0x50607080, 0x70809000,
                                   0x30405060, 0x50607080, 0x90A0B0C0, 0xB0C0D0E0};
  Fill(src.get(), [&](UINT x, UINT y) { return values[y * 4 + x]; });
  ASSERT_EQ(dev->StretchRect(src.get(), nullptr, dst.get(), nullptr, D3DTEXF_LINEAR), D3D_OK);
  const auto px = Read(dst.get());
  EXPECT_EQ(px[0], 0x30405060u);  // mean of 0x10, 0x30, 0x30, 0x50 per channel
  EXPECT_EQ(px[1], 0x8090A088u);
  // Doubling: texel centres a quarter texel from the source's, clamped at the edges.
  Ref<IDirect3DSurface9> two = Target(2, 1), four = Target(4, 1);
  Fill(two.get(), [](UINT x, UINT) { return x ? 0xFF0000FFu : 0xFF000000u; });
  ASSERT_EQ(dev->StretchRect(two.get(), nullptr, four.get(), nullptr, D3DTEXF_LINEAR), D3D_OK);
  const auto up = Read(four.get());
  EXPECT_EQ(up[0], 0xFF000000u);
  EXPECT_EQ(up[1], 0xFF000040u);  // a quarter of 255, 8-bit weights
  EXPECT_EQ(up[2], 0xFF0000BFu);
  EXPECT_EQ(up[3], 0xFF0000FFu);
  // Linear at equal sizes is a copy.
  Ref<IDirect3DSurface9> same = Target(4, 2);
  ASSERT_EQ(dev->StretchRect(src.get(), nullptr, same.get(), nullptr, D3DTEXF_LINEAR), D3D_OK);
  const auto copy = Read(same.get());
  for (int i = 0; i < 8; ++i) EXPECT_EQ(copy[i], values[i]);
}

TEST_F(D3D9ResCopy, StretchRectBetweenArgbAndXrgb) {
  Ref<IDirect3DSurface9> src = Target(4, 4), xrgb = Target(4, 4, D3DFMT_X8R8G8B8), back = Target(4, 4);
  Fill(src.get(), [](UINT x, UINT y) { return (x + y) * 0x10101010u; });
  ASSERT_EQ(dev->StretchRect(src.get(), nullptr, xrgb.get(), nullptr, D3DTEXF_NONE), D3D_OK);
  for (std::uint32_t p : Read(xrgb.get())) EXPECT_EQ(p >> 24, 0xFFu);
  ASSERT_EQ(dev->StretchRect(xrgb.get(), nullptr, back.get(), nullptr, D3DTEXF_NONE), D3D_OK);
  EXPECT_EQ(Read(back.get())[5], 0xFF202020u);
}

TEST_F(D3D9ResCopy, StretchRectRefusals) {
  Ref<IDirect3DSurface9> rt = Target(16, 16);
  Ref<IDirect3DTexture9> managed, plainDefault;
  ASSERT_EQ(dev->CreateTexture(16, 16, 1, 0, D3DFMT_A8R8G8B8, D3DPOOL_MANAGED, &managed, nullptr), D3D_OK);
  ASSERT_EQ(dev->CreateTexture(16, 16, 1, D3DUSAGE_DYNAMIC, D3DFMT_A8R8G8B8, D3DPOOL_DEFAULT, &plainDefault, nullptr),
            D3D_OK);
  Ref<IDirect3DSurface9> m(Level(managed.get())), p(Level(plainDefault.get()));
  EXPECT_EQ(dev->StretchRect(m.get(), nullptr, rt.get(), nullptr, D3DTEXF_NONE), D3DERR_INVALIDCALL);
  EXPECT_EQ(dev->StretchRect(rt.get(), nullptr, p.get(), nullptr, D3DTEXF_NONE), D3DERR_INVALIDCALL);
  EXPECT_EQ(dev->StretchRect(p.get(), nullptr, rt.get(), nullptr, D3DTEXF_NONE), D3D_OK);  // default to target
  EXPECT_EQ(dev->StretchRect(p.get(), nullptr, rt.get(), nullptr, D3DTEXF_ANISOTROPIC), D3DERR_INVALIDCALL);
  const RECT a{0, 0, 8, 8}, b{4, 4, 12, 12}, c{8, 8, 16, 16};
  EXPECT_EQ(dev->StretchRect(rt.get(), &a, rt.get(), &b, D3DTEXF_NONE), D3DERR_INVALIDCALL);
  EXPECT_EQ(dev->StretchRect(rt.get(), &a, rt.get(), &c, D3DTEXF_NONE), D3D_OK);
  Ref<IDirect3DSurface9> depth;
  ASSERT_EQ(dev->CreateDepthStencilSurface(16, 16, D3DFMT_D16, D3DMULTISAMPLE_NONE, 0, TRUE, &depth, nullptr), D3D_OK);
  EXPECT_EQ(dev->StretchRect(depth.get(), nullptr, rt.get(), nullptr, D3DTEXF_NONE), D3DERR_INVALIDCALL);
  const RECT outside{0, 0, 17, 16};
  EXPECT_EQ(dev->StretchRect(p.get(), &outside, rt.get(), nullptr, D3DTEXF_NONE), D3DERR_INVALIDCALL);
  EXPECT_EQ(dev->StretchRect(nullptr, nullptr, rt.get(), nullptr, D3DTEXF_NONE), D3DERR_INVALIDCALL);
}

}  // namespace

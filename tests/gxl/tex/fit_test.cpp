// Fitting texture requests to devices: the rules as tables over several caps
// profiles, and the property that a fitted format is one the device accepts.
#include <gtest/gtest.h>

#include <random>
#include <string>
#include <vector>

#include "gxl/tex/fit.h"
#include "gxl/tex/pixel_format.h"
#include "tex_test_device.h"

namespace {

using textest::Ref;
constexpr UINT kDef = 0xFFFFFFFFu;  // "-1": the default

struct Fitted {
  HRESULT hr;
  UINT width, height, depth, levels;
  D3DFORMAT format;
  bool operator==(const Fitted&) const = default;
};

std::ostream& operator<<(std::ostream& os, const Fitted& f) {
  return os << "{hr " << std::hex << f.hr << std::dec << ", " << f.width << " x " << f.height << " x " << f.depth
            << ", levels " << f.levels << ", format " << f.format << "}";
}

struct Request {
  const char* what;
  D3DRESOURCETYPE type;
  UINT width, height, depth, levels;
  DWORD usage;
  D3DFORMAT format;
  D3DPOOL pool;
  // Expected on the "game" (POW2 and NONPOW2CONDITIONAL), "pow2-only" and "square-only" devices.
  Fitted game, pow2, square;
};

class GxlFit : public textest::DeviceTest {
 protected:
  Fitted Fit(const Request& r) {
    Fitted f{0, r.width, r.height, r.depth, r.levels, r.format};
    f.hr = FitResourceParameters(dev, &f.width, &f.height, &f.depth, &f.levels, r.usage, &f.format, r.pool, r.type);
    return f;
  }
};

constexpr HRESULT OK = S_OK;
constexpr D3DRESOURCETYPE TEX = D3DRTYPE_TEXTURE;
constexpr D3DRESOURCETYPE CUBE = D3DRTYPE_CUBETEXTURE;
constexpr D3DRESOURCETYPE VOL = D3DRTYPE_VOLUMETEXTURE;
constexpr D3DFORMAT ARGB = D3DFMT_A8R8G8B8;
constexpr D3DFORMAT XRGB = D3DFMT_X8R8G8B8;
constexpr D3DFORMAT DXT1 = D3DFMT_DXT1;
constexpr D3DPOOL MANAGED = D3DPOOL_MANAGED;
constexpr D3DPOOL SCRATCH = D3DPOOL_SCRATCH;

const Request kRequests[] = {
    {"defaults give 256 x 256", TEX, kDef, kDef, kDef, kDef, 0, ARGB, MANAGED,
     {OK, 256, 256, 1, 9, ARGB}, {OK, 256, 256, 1, 9, ARGB}, {OK, 256, 256, 1, 9, ARGB}},
    {"0 x 0 gives 1 x 1", TEX, 0, 0, kDef, 0, 0, ARGB, MANAGED,
     {OK, 1, 1, 1, 1, ARGB}, {OK, 1, 1, 1, 1, ARGB}, {OK, 1, 1, 1, 1, ARGB}},
    {"a missing size takes the other", TEX, kDef, 40, kDef, 1, 0, ARGB, MANAGED,
     {OK, 40, 40, 1, 1, ARGB}, {OK, 64, 64, 1, 1, ARGB}, {OK, 64, 64, 1, 1, ARGB}},
    {"format 0 is A8R8G8B8", TEX, 64, 64, kDef, 1, 0, D3DFMT_UNKNOWN, MANAGED,
     {OK, 64, 64, 1, 1, ARGB}, {OK, 64, 64, 1, 1, ARGB}, {OK, 64, 64, 1, 1, ARGB}},
    {"R8G8B8 is not offered", TEX, 64, 64, kDef, 1, 0, D3DFMT_R8G8B8, MANAGED,
     {OK, 64, 64, 1, 1, XRGB}, {OK, 64, 64, 1, 1, XRGB}, {OK, 64, 64, 1, 1, XRGB}},
    {"100 x 60, one level", TEX, 100, 60, kDef, 1, 0, ARGB, MANAGED,
     {OK, 100, 60, 1, 1, ARGB}, {OK, 128, 64, 1, 1, ARGB}, {OK, 64, 64, 1, 1, ARGB}},
    {"100 x 60 DXT1, one level", TEX, 100, 60, kDef, 1, 0, DXT1, MANAGED,
     {OK, 128, 64, 1, 1, DXT1}, {OK, 128, 64, 1, 1, DXT1}, {OK, 64, 64, 1, 1, DXT1}},
    {"100 x 60, three levels", TEX, 100, 60, kDef, 3, 0, ARGB, MANAGED,
     {OK, 128, 64, 1, 3, ARGB}, {OK, 128, 64, 1, 3, ARGB}, {OK, 64, 64, 1, 3, ARGB}},
    {"too many levels give the full chain", TEX, 100, 60, kDef, 20, 0, ARGB, MANAGED,
     {OK, 128, 64, 1, 8, ARGB}, {OK, 128, 64, 1, 8, ARGB}, {OK, 64, 64, 1, 7, ARGB}},
    {"scratch asks no device", TEX, 300, 200, kDef, kDef, 0, ARGB, SCRATCH,
     {OK, 300, 200, 1, 9, ARGB}, {OK, 300, 200, 1, 9, ARGB}, {OK, 300, 200, 1, 9, ARGB}},
    {"scratch keeps any format", TEX, 30, 20, kDef, 1, 0, D3DFMT_V8U8, SCRATCH,
     {OK, 30, 20, 1, 1, D3DFMT_V8U8}, {OK, 30, 20, 1, 1, D3DFMT_V8U8}, {OK, 30, 20, 1, 1, D3DFMT_V8U8}},
    {"scratch format 0 is A8R8G8B8", TEX, 10, 6, kDef, 0, 0, D3DFMT_UNKNOWN, SCRATCH,
     {OK, 10, 6, 1, 4, ARGB}, {OK, 10, 6, 1, 4, ARGB}, {OK, 10, 6, 1, 4, ARGB}},
    {"scratch DXT5 rounds to 4", TEX, 10, 6, kDef, 0, 0, D3DFMT_DXT5, SCRATCH,
     {OK, 12, 8, 1, 4, D3DFMT_DXT5}, {OK, 12, 8, 1, 4, D3DFMT_DXT5}, {OK, 12, 8, 1, 4, D3DFMT_DXT5}},
    {"auto-generated mipmaps give level count 0", TEX, 64, 64, kDef, 5, D3DUSAGE_AUTOGENMIPMAP, ARGB, MANAGED,
     {OK, 64, 64, 1, 0, ARGB}, {OK, 64, 64, 1, 0, ARGB}, {OK, 64, 64, 1, 0, ARGB}},
    {"auto-generated mipmaps of one level", TEX, 64, 64, kDef, 1, D3DUSAGE_AUTOGENMIPMAP, ARGB, MANAGED,
     {OK, 64, 64, 1, 1, ARGB}, {OK, 64, 64, 1, 1, ARGB}, {OK, 64, 64, 1, 1, ARGB}},
    {"limits clamp", TEX, 9000, 3, kDef, kDef, 0, ARGB, MANAGED,
     {OK, 4096, 4, 1, 13, ARGB}, {OK, 4096, 4, 1, 13, ARGB}, {OK, 4, 4, 1, 3, ARGB}},
    {"cube: the larger size", CUBE, 100, 20, kDef, kDef, 0, ARGB, MANAGED,
     {OK, 128, 128, 1, 8, ARGB}, {OK, 128, 128, 1, 8, ARGB}, {OK, 128, 128, 1, 8, ARGB}},
    {"volume: the extent limit and the depth", VOL, 300, 20, 5, kDef, 0, ARGB, MANAGED,
     {OK, 256, 32, 8, 9, ARGB}, {OK, 256, 32, 8, 9, ARGB}, {OK, 256, 32, 8, 9, ARGB}},
    {"volume depth 0 is 1", VOL, 16, 16, 0, kDef, 0, ARGB, MANAGED,
     {OK, 16, 16, 1, 5, ARGB}, {OK, 16, 16, 1, 5, ARGB}, {OK, 16, 16, 1, 5, ARGB}},
    {"depth formats are no textures", TEX, 16, 16, kDef, 1, 0, D3DFMT_D16, MANAGED,
     {D3DERR_NOTAVAILABLE, 16, 16, kDef, 1, D3DFMT_D16}, {D3DERR_NOTAVAILABLE, 16, 16, kDef, 1, D3DFMT_D16},
     {D3DERR_NOTAVAILABLE, 16, 16, kDef, 1, D3DFMT_D16}},
    {"usage outside the mask", TEX, 16, 16, kDef, 1, D3DUSAGE_WRITEONLY, ARGB, MANAGED,
     {D3DERR_INVALIDCALL, 16, 16, kDef, 1, ARGB}, {D3DERR_INVALIDCALL, 16, 16, kDef, 1, ARGB},
     {D3DERR_INVALIDCALL, 16, 16, kDef, 1, ARGB}},
    {"usage -1 counts as 0", TEX, 16, 16, kDef, 1, 0xFFFFFFFFu, ARGB, MANAGED,
     {OK, 16, 16, 1, 1, ARGB}, {OK, 16, 16, 1, 1, ARGB}, {OK, 16, 16, 1, 1, ARGB}},
    {"pool above 3", TEX, 16, 16, kDef, 1, 0, ARGB, static_cast<D3DPOOL>(4),
     {D3DERR_INVALIDCALL, 16, 16, kDef, 1, ARGB}, {D3DERR_INVALIDCALL, 16, 16, kDef, 1, ARGB},
     {D3DERR_INVALIDCALL, 16, 16, kDef, 1, ARGB}},
};

TEST_F(GxlFit, RulesOverThreeCapsProfiles) {
  const char* profiles[] = {"game", "pow2-only", "square-only"};
  for (int p = 0; p < 3; ++p) {
    ASSERT_TRUE(platform::test::SelectD3D9CapsProfile(profiles[p]));
    for (const Request& r : kRequests) {
      const Fitted& expected = p == 0 ? r.game : p == 1 ? r.pow2 : r.square;
      EXPECT_EQ(Fit(r), expected) << r.what << " on " << profiles[p];
    }
  }
}

TEST_F(GxlFit, NullPointersReadAsDefaultsAndReceiveNothing) {
  EXPECT_EQ(FitResourceParameters(dev, nullptr, nullptr, nullptr, nullptr, 0, nullptr, MANAGED, TEX), S_OK);
  UINT height = 48, levels = kDef;
  ASSERT_EQ(FitResourceParameters(dev, nullptr, &height, nullptr, &levels, 0, nullptr, MANAGED, TEX), S_OK);
  EXPECT_EQ(height, 64u);  // the width took the height; both rounded up
  EXPECT_EQ(levels, 7u);
  EXPECT_EQ(FitResourceParameters(nullptr, nullptr, &height, nullptr, &levels, 0, nullptr, MANAGED, TEX),
            D3DERR_INVALIDCALL);
}

TEST_F(GxlFit, DevicesWithoutMipmapsOrWithSmallLimits) {
  ASSERT_TRUE(platform::test::SelectD3D9CapsProfile("no-mip"));
  Request r{"", TEX, 64, 64, kDef, kDef, 0, ARGB, MANAGED, {}, {}, {}};
  EXPECT_EQ(Fit(r), (Fitted{OK, 64, 64, 1, 1, ARGB}));
  r.pool = SCRATCH;  // the scratch pool knows no device limits
  EXPECT_EQ(Fit(r), (Fitted{OK, 64, 64, 1, 7, ARGB}));

  ASSERT_TRUE(platform::test::SelectD3D9CapsProfile("small-max"));
  r = Request{"", TEX, 1000, 2, kDef, kDef, 0, ARGB, MANAGED, {}, {}, {}};
  EXPECT_EQ(Fit(r), (Fitted{OK, 256, 2, 1, 9, ARGB}));
  r.levels = 3;
  EXPECT_EQ(Fit(r), (Fitted{OK, 256, 2, 1, 3, ARGB}));
  r.levels = kDef;
  r.width = 300;
  r.height = 1;
  EXPECT_EQ(Fit(r), (Fitted{OK, 256, 1, 1, 9, ARGB}));  // the aspect limit 256
  r = Request{"", VOL, 100, 100, 100, kDef, 0, ARGB, MANAGED, {}, {}, {}};
  EXPECT_EQ(Fit(r), (Fitted{OK, 64, 64, 64, 7, ARGB}));
}

TEST_F(GxlFit, SizesThatCannotBeRoundedFailCleanly) {
  platform::test::EditD3D9Caps([](D3DCAPS9& c) {
    c.MaxTextureWidth = c.MaxTextureHeight = 0xFFFFFFFFu;
    c.MaxTextureAspectRatio = 0;
    c.TextureCaps &= ~D3DPTEXTURECAPS_NONPOW2CONDITIONAL;
  });
  Request r{"", TEX, 0x80000001u, 4, kDef, 1, 0, ARGB, MANAGED, {}, {}, {}};
  EXPECT_EQ(Fit(r), (Fitted{D3DERR_NOTAVAILABLE, 0x80000001u, 4, kDef, 1, ARGB}));
  r.width = 0x80000000u;  // a power of two already
  EXPECT_EQ(Fit(r), (Fitted{OK, 0x80000000u, 4, 1, 1, ARGB}));
  r.width = 0xFFFFFFFEu;
  r.format = DXT1;
  r.pool = SCRATCH;
  EXPECT_EQ(Fit(r).hr, D3DERR_NOTAVAILABLE);
  r.width = 0xFFFFFFFCu;
  EXPECT_EQ(Fit(r), (Fitted{OK, 0xFFFFFFFCu, 4, 1, 1, DXT1}));
}

TEST_F(GxlFit, CubeAndVolumeWrappers) {
  UINT size = 100, levels = 0;
  D3DFORMAT format = D3DFMT_R8G8B8;
  ASSERT_EQ(GXLFitCubeTextureParameters(dev, &size, &levels, 0, &format, MANAGED), S_OK);
  EXPECT_EQ(size, 128u);
  EXPECT_EQ(levels, 8u);
  EXPECT_EQ(format, XRGB);
  UINT w = 10, h = 20, d = 30;
  levels = 1;
  format = ARGB;
  ASSERT_EQ(GXLFitVolumeTextureParameters(dev, &w, &h, &d, &levels, 0, &format, MANAGED), S_OK);
  // The conditional exemption is for 2-D textures: volumes of one level are rounded too.
  EXPECT_EQ(w, 16u);
  EXPECT_EQ(h, 32u);
  EXPECT_EQ(d, 32u);
  EXPECT_EQ(levels, 1u);
  size = 100;
  levels = 1;
  ASSERT_EQ(GXLFitCubeTextureParameters(dev, &size, &levels, 0, &format, MANAGED), S_OK);
  EXPECT_EQ(size, 128u);
  w = h = 7;
  ASSERT_EQ(GXLFitTextureParameters(dev, &w, &h, &levels, 0, &format, MANAGED), S_OK);
  EXPECT_EQ(w, 7u);
}

TEST_F(GxlFit, CreatesFittedTextures) {
  Ref<IDirect3DTexture9> tex;
  ASSERT_EQ(GXLCreateFittedTexture(dev, 100, 60, 3, D3DUSAGE_QUERY_FILTER, D3DFMT_R8G8B8, MANAGED, &tex), S_OK);
  D3DSURFACE_DESC desc;
  ASSERT_EQ(tex->GetLevelDesc(0, &desc), D3D_OK);
  EXPECT_EQ(desc.Width, 128u);
  EXPECT_EQ(desc.Height, 64u);
  EXPECT_EQ(desc.Format, XRGB);
  EXPECT_EQ(desc.Usage, 0u);  // the query bits stay out of creation
  EXPECT_EQ(tex->GetLevelCount(), 3u);

  Ref<IDirect3DCubeTexture9> cube;
  ASSERT_EQ(GXLCreateFittedCubeTexture(dev, 20, 0, 0, ARGB, MANAGED, &cube), S_OK);
  EXPECT_EQ(cube->GetLevelCount(), 6u);
  Ref<IDirect3DVolumeTexture9> vol;
  ASSERT_EQ(GXLCreateFittedVolumeTexture(dev, 8, 4, 2, kDef, 0xFFFFFFFFu, ARGB, MANAGED, &vol), S_OK);
  D3DVOLUME_DESC vdesc;
  ASSERT_EQ(vol->GetLevelDesc(0, &vdesc), D3D_OK);
  EXPECT_EQ(vdesc.Depth, 2u);
  EXPECT_EQ(vol->GetLevelCount(), 4u);

  IDirect3DTexture9* none = nullptr;
  EXPECT_EQ(GXLCreateFittedTexture(nullptr, 8, 8, 1, 0, ARGB, MANAGED, &none), D3DERR_INVALIDCALL);
  EXPECT_EQ(GXLCreateFittedTexture(dev, 8, 8, 1, 0, ARGB, MANAGED, nullptr), D3DERR_INVALIDCALL);
  EXPECT_EQ(GXLCreateFittedTexture(dev, 8, 8, 1, 0, D3DFMT_D16, MANAGED, &none), D3DERR_NOTAVAILABLE);
  platform::test::FailCall("CreateTexture", E_OUTOFMEMORY);
  EXPECT_EQ(GXLCreateFittedTexture(dev, 8, 8, 1, 0, ARGB, MANAGED, &none), E_OUTOFMEMORY);
  EXPECT_EQ(none, nullptr);
}

// Property: whatever is asked, a fitted format passes the device's check, and a
// fitted texture can be created.
TEST_F(GxlFit, FittedFormatsAlwaysPassTheDeviceCheck) {
  std::mt19937 rng(42);
  std::vector<D3DFORMAT> formats = {D3DFMT_UNKNOWN, static_cast<D3DFORMAT>(0x4D4D4D4D)};
  for (const PixelFormatInfo* r = PixelFormatTable + 1; r != PixelFormatTableEnd; ++r) formats.push_back(r->format);
  const DWORD usages[] = {0, D3DUSAGE_DYNAMIC, D3DUSAGE_RENDERTARGET, D3DUSAGE_AUTOGENMIPMAP,
                          D3DUSAGE_QUERY_FILTER, D3DUSAGE_QUERY_VERTEXTEXTURE, D3DUSAGE_DEPTHSTENCIL};
  const D3DRESOURCETYPE types[] = {TEX, CUBE, VOL};
  int fitted = 0;
  for (const char* caps : {"game", "pow2-only", "square-only"}) {
    for (const char* formatProfile : {"game", "wide"}) {
      ASSERT_TRUE(platform::test::SelectD3D9CapsProfile(caps));
      ASSERT_TRUE(platform::test::SelectD3D9FormatProfile(formatProfile));
      for (int i = 0; i < 300; ++i) {
        const D3DFORMAT asked = formats[rng() % formats.size()];
        const DWORD usage = usages[rng() % std::size(usages)];
        const D3DRESOURCETYPE type = types[rng() % 3];
        const D3DPOOL pool = (usage & (D3DUSAGE_RENDERTARGET | D3DUSAGE_DYNAMIC)) ? D3DPOOL_DEFAULT : MANAGED;
        UINT w = rng() % 70, h = rng() % 70, d = rng() % 9, levels = rng() % 10;
        D3DFORMAT f = asked;
        const HRESULT hr = FitResourceParameters(dev, &w, &h, &d, &levels, usage, &f, pool, type);
        if (hr == D3DERR_NOTAVAILABLE) continue;
        ASSERT_EQ(hr, S_OK);
        ++fitted;
        EXPECT_TRUE(DeviceAccepts(usage, type, f)) << caps << "/" << formatProfile << ": " << asked << " -> " << f;
        const DWORD createUsage = usage & ~kUsageQueryBits;
        if (type == TEX) {
          Ref<IDirect3DTexture9> t;
          EXPECT_EQ(dev->CreateTexture(w, h, levels, createUsage, f, pool, &t, nullptr), D3D_OK)
              << caps << ": " << f << " " << w << " x " << h << " levels " << levels;
        } else if (type == CUBE) {
          Ref<IDirect3DCubeTexture9> t;
          EXPECT_EQ(dev->CreateCubeTexture(w, levels, createUsage, f, pool, &t, nullptr), D3D_OK)
              << caps << ": " << f << " " << w << " levels " << levels;
        } else {
          Ref<IDirect3DVolumeTexture9> t;
          EXPECT_EQ(dev->CreateVolumeTexture(w, h, d, levels, createUsage, f, pool, &t, nullptr), D3D_OK)
              << caps << ": " << f << " " << w << " x " << h << " x " << d << " levels " << levels;
        }
      }
    }
  }
  EXPECT_GT(fitted, 500);
}

}  // namespace

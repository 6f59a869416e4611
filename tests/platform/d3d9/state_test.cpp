// Device state: the defaults at creation, every setter and getter, the
// viewport rules, vertex input, shaders and constants, snapshots.
#include <cstring>

#include "d3d9/vertex_decl.h"
#include "d3d9_fixture.h"

namespace {

using d3dtest::Ref;

class D3D9ResState : public d3dtest::DeviceTest {
 protected:
  DWORD RS(DWORD state) {
    DWORD v = 0xDEADBEEF;
    EXPECT_EQ(dev->GetRenderState(static_cast<D3DRENDERSTATETYPE>(state), &v), D3D_OK) << state;
    return v;
  }
  DWORD TSS(DWORD stage, DWORD type) {
    DWORD v = 0xDEADBEEF;
    EXPECT_EQ(dev->GetTextureStageState(stage, static_cast<D3DTEXTURESTAGESTATETYPE>(type), &v), D3D_OK);
    return v;
  }
  DWORD SS(DWORD sampler, DWORD type) {
    DWORD v = 0xDEADBEEF;
    EXPECT_EQ(dev->GetSamplerState(sampler, static_cast<D3DSAMPLERSTATETYPE>(type), &v), D3D_OK);
    return v;
  }
};

DWORD Bits(float f) {
  DWORD d;
  std::memcpy(&d, &f, 4);
  return d;
}

TEST_F(D3D9ResState, RenderStateDefaults) {
  const std::pair<DWORD, DWORD> expected[] = {
      {7, 1},    {8, 3},     {9, 2},     {14, 1},    {15, 0},    {16, 1},    {19, 2},    {20, 1},
      {22, 3},   {23, 4},    {24, 0},    {25, 8},    {26, 0},    {27, 0},    {28, 0},    {29, 0},
      {48, 0},   {52, 0},    {60, 0xFFFFFFFF}, {128, 0}, {135, 0}, {136, 1},   {137, 1},   {141, 1},
      {145, 1},  {151, 0},   {152, 0},   {167, 0},   {168, 0xF}, {171, 1},   {174, 0},   {176, 0},
      {184, 0},  {185, 0},   {193, 0xFFFFFFFF}, {194, 0}, {206, 0}, {207, 2}, {208, 1},   {209, 1},
      // Documented defaults of the states the game leaves alone.
      {37, Bits(1.0f)}, {38, Bits(1.0f)}, {53, 1}, {56, 8}, {58, 0xFFFFFFFF}, {59, 0xFFFFFFFF},
      {142, 1}, {146, 2}, {154, Bits(1.0f)}, {161, 1}, {162, 0xFFFFFFFF}, {182, Bits(1.0f)}, {190, 0xF}};
  for (const auto& [state, value] : expected) EXPECT_EQ(RS(state), value) << "render state " << state;
}

TEST_F(D3D9ResState, ZEnableFollowsTheAutomaticDepthSurface) {
  EXPECT_EQ(RS(D3DRS_ZENABLE), DWORD(D3DZB_TRUE));
  D3DPRESENT_PARAMETERS p = d3dtest::WindowedParams(64, 64, false);
  Ref<IDirect3DDevice9> other;
  ASSERT_EQ(d3d->CreateDevice(0, D3DDEVTYPE_REF, nullptr, D3DCREATE_SOFTWARE_VERTEXPROCESSING, &p, &other), D3D_OK);
  DWORD z = 99;
  ASSERT_EQ(other->GetRenderState(D3DRS_ZENABLE, &z), D3D_OK);
  EXPECT_EQ(z, DWORD(D3DZB_FALSE));
  Ref<IDirect3DSurface9> depth;
  EXPECT_EQ(other->GetDepthStencilSurface(&depth), D3DERR_NOTFOUND);
  EXPECT_FALSE(depth);
}

TEST_F(D3D9ResState, StageAndSamplerDefaults) {
  for (DWORD stage = 0; stage < 8; ++stage) {
    const DWORD colorOp = stage == 0 ? D3DTOP_MODULATE : D3DTOP_DISABLE;
    const DWORD alphaOp = stage == 0 ? D3DTOP_SELECTARG1 : D3DTOP_DISABLE;
    const std::pair<DWORD, DWORD> expected[] = {
        {D3DTSS_COLOROP, colorOp},       {D3DTSS_COLORARG1, D3DTA_TEXTURE}, {D3DTSS_COLORARG2, D3DTA_CURRENT},
        {D3DTSS_ALPHAOP, alphaOp},       {D3DTSS_ALPHAARG1, D3DTA_TEXTURE}, {D3DTSS_ALPHAARG2, D3DTA_CURRENT},
        {D3DTSS_TEXCOORDINDEX, stage},   {D3DTSS_TEXTURETRANSFORMFLAGS, D3DTTFF_DISABLE},
        {D3DTSS_RESULTARG, D3DTA_CURRENT}};
    for (const auto& [type, value] : expected) EXPECT_EQ(TSS(stage, type), value) << stage << ": " << type;
  }
  const std::pair<DWORD, DWORD> expected[] = {
      {D3DSAMP_ADDRESSU, D3DTADDRESS_WRAP}, {D3DSAMP_ADDRESSV, D3DTADDRESS_WRAP}, {D3DSAMP_ADDRESSW, D3DTADDRESS_WRAP},
      {D3DSAMP_BORDERCOLOR, 0},             {D3DSAMP_MAGFILTER, D3DTEXF_POINT},   {D3DSAMP_MINFILTER, D3DTEXF_POINT},
      {D3DSAMP_MIPFILTER, D3DTEXF_NONE},    {D3DSAMP_MIPMAPLODBIAS, 0},           {D3DSAMP_MAXMIPLEVEL, 0},
      {D3DSAMP_MAXANISOTROPY, 1},           {D3DSAMP_SRGBTEXTURE, 0},             {D3DSAMP_ELEMENTINDEX, 0}};
  for (DWORD sampler : {0u, 7u, 15u, 256u, 260u})
    for (const auto& [type, value] : expected) EXPECT_EQ(SS(sampler, type), value) << sampler << ": " << type;
}

TEST_F(D3D9ResState, TheRestOfTheDefaults) {
  D3DMATRIX m;
  for (DWORD t : {DWORD(D3DTS_WORLD), DWORD(D3DTS_VIEW), DWORD(D3DTS_PROJECTION), DWORD(D3DTS_TEXTURE3), 511u}) {
    ASSERT_EQ(dev->GetTransform(static_cast<D3DTRANSFORMSTATETYPE>(t), &m), D3D_OK);
    for (int i = 0; i < 16; ++i) EXPECT_EQ(m.m[i / 4][i % 4], i % 5 == 0 ? 1.0f : 0.0f);
  }
  D3DVIEWPORT9 v{};
  ASSERT_EQ(dev->GetViewport(&v), D3D_OK);
  const D3DVIEWPORT9 whole{0, 0, 640, 480, 0.0f, 1.0f};
  EXPECT_EQ(std::memcmp(&v, &whole, sizeof v), 0);
  Ref<IDirect3DBaseTexture9> tex;
  ASSERT_EQ(dev->GetTexture(0, &tex), D3D_OK);
  EXPECT_FALSE(tex);
  Ref<IDirect3DVertexBuffer9> vb;
  UINT offset = 9, stride = 9;
  ASSERT_EQ(dev->GetStreamSource(0, &vb, &offset, &stride), D3D_OK);
  EXPECT_FALSE(vb);
  EXPECT_EQ(offset, 0u);
  EXPECT_EQ(stride, 0u);
  Ref<IDirect3DIndexBuffer9> ib;
  ASSERT_EQ(dev->GetIndices(&ib), D3D_OK);
  EXPECT_FALSE(ib);
  Ref<IDirect3DVertexDeclaration9> decl;
  ASSERT_EQ(dev->GetVertexDeclaration(&decl), D3D_OK);
  EXPECT_FALSE(decl);
  DWORD fvf = 9;
  ASSERT_EQ(dev->GetFVF(&fvf), D3D_OK);
  EXPECT_EQ(fvf, 0u);
  Ref<IDirect3DVertexShader9> vs;
  Ref<IDirect3DPixelShader9> ps;
  ASSERT_EQ(dev->GetVertexShader(&vs), D3D_OK);
  ASSERT_EQ(dev->GetPixelShader(&ps), D3D_OK);
  EXPECT_FALSE(vs);
  EXPECT_FALSE(ps);
  EXPECT_EQ(dev->GetNPatchMode(), 0.0f);
  Ref<IDirect3DSurface9> back, target, depth;
  ASSERT_EQ(dev->GetBackBuffer(0, 0, D3DBACKBUFFER_TYPE_MONO, &back), D3D_OK);
  ASSERT_EQ(dev->GetRenderTarget(0, &target), D3D_OK);
  EXPECT_EQ(back.get(), target.get());
  ASSERT_EQ(dev->GetDepthStencilSurface(&depth), D3D_OK);
}

TEST_F(D3D9ResState, EveryStateIsStoredAndReturned) {
  for (DWORD s = 0; s < 256; ++s) {
    const HRESULT hr = dev->SetRenderState(static_cast<D3DRENDERSTATETYPE>(s), s * 3 + 1);
    if (hr == D3D_OK) {
      EXPECT_EQ(RS(s), s * 3 + 1);
    }
  }
  EXPECT_EQ(dev->SetRenderState(static_cast<D3DRENDERSTATETYPE>(1), 0), D3DERR_INVALIDCALL);
  EXPECT_EQ(dev->SetRenderState(static_cast<D3DRENDERSTATETYPE>(210), 0), D3DERR_INVALIDCALL);
  EXPECT_EQ(dev->GetRenderState(D3DRS_ZENABLE, nullptr), D3DERR_INVALIDCALL);
  ASSERT_EQ(dev->SetTextureStageState(7, D3DTSS_CONSTANT, 0x12345678), D3D_OK);
  EXPECT_EQ(TSS(7, D3DTSS_CONSTANT), 0x12345678u);
  EXPECT_EQ(dev->SetTextureStageState(8, D3DTSS_COLOROP, 1), D3DERR_INVALIDCALL);
  EXPECT_EQ(dev->SetTextureStageState(0, static_cast<D3DTEXTURESTAGESTATETYPE>(12), 1), D3DERR_INVALIDCALL);
  ASSERT_EQ(dev->SetSamplerState(D3DVERTEXTEXTURESAMPLER2, D3DSAMP_DMAPOFFSET, 5), D3D_OK);
  EXPECT_EQ(SS(D3DVERTEXTEXTURESAMPLER2, D3DSAMP_DMAPOFFSET), 5u);
  EXPECT_EQ(dev->SetSamplerState(16, D3DSAMP_ADDRESSU, 1), D3DERR_INVALIDCALL);
  EXPECT_EQ(dev->SetSamplerState(0, static_cast<D3DSAMPLERSTATETYPE>(14), 1), D3DERR_INVALIDCALL);
  D3DMATRIX m{};
  m._41 = 7.5f;
  ASSERT_EQ(dev->SetTransform(D3DTS_WORLDMATRIX(5), &m), D3D_OK);
  D3DMATRIX back{};
  ASSERT_EQ(dev->GetTransform(D3DTS_WORLDMATRIX(5), &back), D3D_OK);
  EXPECT_EQ(back._41, 7.5f);
  EXPECT_EQ(dev->SetTransform(static_cast<D3DTRANSFORMSTATETYPE>(4), &m), D3DERR_INVALIDCALL);
  EXPECT_EQ(dev->SetTransform(D3DTS_VIEW, nullptr), D3DERR_INVALIDCALL);
  ASSERT_EQ(dev->SetNPatchMode(2.5f), D3D_OK);
  EXPECT_EQ(dev->GetNPatchMode(), 2.5f);
  EXPECT_EQ(dev->SetNPatchMode(-1.0f), D3DERR_INVALIDCALL);
}

TEST_F(D3D9ResState, ViewportRules) {
  D3DVIEWPORT9 v{10, 20, 630, 460, 0.25f, 0.75f};
  ASSERT_EQ(dev->SetViewport(&v), D3D_OK);
  D3DVIEWPORT9 got{};
  ASSERT_EQ(dev->GetViewport(&got), D3D_OK);
  EXPECT_EQ(std::memcmp(&got, &v, sizeof v), 0);
  for (D3DVIEWPORT9 bad : {D3DVIEWPORT9{11, 0, 630, 10, 0, 1}, D3DVIEWPORT9{0, 21, 10, 460, 0, 1},
                           D3DVIEWPORT9{0, 0, 10, 10, 0.6f, 0.5f}, D3DVIEWPORT9{0, 0, 10, 10, -0.1f, 1},
                           D3DVIEWPORT9{0, 0, 10, 10, 0, 1.5f}, D3DVIEWPORT9{0xFFFFFFFF, 0, 2, 2, 0, 1}})
    EXPECT_EQ(dev->SetViewport(&bad), D3DERR_INVALIDCALL);
  ASSERT_EQ(dev->GetViewport(&got), D3D_OK);
  EXPECT_EQ(got.X, 10u);
  EXPECT_EQ(dev->SetViewport(nullptr), D3DERR_INVALIDCALL);
}

TEST_F(D3D9ResState, SettingARenderTargetResetsTheViewport) {
  Ref<IDirect3DTexture9> t;
  ASSERT_EQ(dev->CreateTexture(512, 256, 1, D3DUSAGE_RENDERTARGET, D3DFMT_A8R8G8B8, D3DPOOL_DEFAULT, &t, nullptr),
            D3D_OK);
  Ref<IDirect3DSurface9> level(Level(t.get()));
  D3DVIEWPORT9 v{5, 5, 100, 100, 0.1f, 0.9f};
  ASSERT_EQ(dev->SetViewport(&v), D3D_OK);
  ASSERT_EQ(dev->SetRenderTarget(0, level.get()), D3D_OK);
  D3DVIEWPORT9 got{};
  ASSERT_EQ(dev->GetViewport(&got), D3D_OK);
  const D3DVIEWPORT9 whole{0, 0, 512, 256, 0.0f, 1.0f};
  EXPECT_EQ(std::memcmp(&got, &whole, sizeof got), 0);
  D3DVIEWPORT9 tooWide{0, 0, 640, 256, 0, 1};
  EXPECT_EQ(dev->SetViewport(&tooWide), D3DERR_INVALIDCALL);
  // Only render-target surfaces, only index 0, never null.
  Ref<IDirect3DTexture9> plain;
  ASSERT_EQ(dev->CreateTexture(8, 8, 1, 0, D3DFMT_A8R8G8B8, D3DPOOL_MANAGED, &plain, nullptr), D3D_OK);
  Ref<IDirect3DSurface9> plainLevel(Level(plain.get()));
  EXPECT_EQ(dev->SetRenderTarget(0, plainLevel.get()), D3DERR_INVALIDCALL);
  EXPECT_EQ(dev->SetRenderTarget(1, level.get()), D3DERR_INVALIDCALL);
  EXPECT_EQ(dev->SetRenderTarget(0, nullptr), D3DERR_INVALIDCALL);
  Ref<IDirect3DSurface9> current;
  ASSERT_EQ(dev->GetRenderTarget(0, &current), D3D_OK);
  EXPECT_EQ(current.get(), level.get());
  EXPECT_EQ(dev->GetRenderTarget(1, &current), D3DERR_INVALIDCALL);
}

TEST_F(D3D9ResState, DepthSurfaceBinding) {
  Ref<IDirect3DSurface9> depth, rt, got;
  ASSERT_EQ(dev->CreateDepthStencilSurface(512, 512, D3DFMT_D16, D3DMULTISAMPLE_NONE, 0, TRUE, &depth, nullptr),
            D3D_OK);
  ASSERT_EQ(dev->SetDepthStencilSurface(depth.get()), D3D_OK);
  ASSERT_EQ(dev->GetDepthStencilSurface(&got), D3D_OK);
  EXPECT_EQ(got.get(), depth.get());
  ASSERT_EQ(dev->CreateRenderTarget(8, 8, D3DFMT_A8R8G8B8, D3DMULTISAMPLE_NONE, 0, FALSE, &rt, nullptr), D3D_OK);
  EXPECT_EQ(dev->SetDepthStencilSurface(rt.get()), D3DERR_INVALIDCALL);
  ASSERT_EQ(dev->SetDepthStencilSurface(nullptr), D3D_OK);
  EXPECT_EQ(dev->GetDepthStencilSurface(&got), D3DERR_NOTFOUND);
  EXPECT_FALSE(got);
}

TEST_F(D3D9ResState, VertexFormatLastOneWins) {
  const D3DVERTEXELEMENT9 elements[] = {{0, 0, D3DDECLTYPE_FLOAT3, D3DDECLMETHOD_DEFAULT, D3DDECLUSAGE_POSITION, 0},
                                        {0, 12, D3DDECLTYPE_D3DCOLOR, D3DDECLMETHOD_DEFAULT, D3DDECLUSAGE_COLOR, 0},
                                        {0, 16, D3DDECLTYPE_FLOAT2, D3DDECLMETHOD_DEFAULT, D3DDECLUSAGE_TEXCOORD, 0},
                                        D3DDECL_END()};
  Ref<IDirect3DVertexDeclaration9> decl, got;
  ASSERT_EQ(dev->CreateVertexDeclaration(elements, &decl), D3D_OK);
  ASSERT_EQ(dev->SetFVF(0x144), D3D_OK);
  ASSERT_EQ(dev->SetVertexDeclaration(decl.get()), D3D_OK);
  DWORD fvf = 1;
  ASSERT_EQ(dev->GetFVF(&fvf), D3D_OK);
  EXPECT_EQ(fvf, 0u);
  ASSERT_EQ(dev->GetVertexDeclaration(&got), D3D_OK);
  EXPECT_EQ(got.get(), decl.get());
  ASSERT_EQ(dev->SetFVF(0x142), D3D_OK);
  ASSERT_EQ(dev->GetVertexDeclaration(&got), D3D_OK);
  EXPECT_FALSE(got);
  ASSERT_EQ(dev->GetFVF(&fvf), D3D_OK);
  EXPECT_EQ(fvf, 0x142u);
  EXPECT_EQ(dev->SetFVF(0x4004), D3DERR_INVALIDCALL);
  EXPECT_EQ(dev->SetFVF(0x142 | 0x900), D3DERR_INVALIDCALL);  // nine texture coordinates
  // Blend weights follow the position, a float each; the last may be an index.
  EXPECT_EQ(platform::d3d9::FvfVertexSize(D3DFVF_XYZB1), 16u);
  EXPECT_EQ(platform::d3d9::FvfVertexSize(D3DFVF_XYZB3 | D3DFVF_LASTBETA_UBYTE4), 24u);
  EXPECT_EQ(platform::d3d9::FvfVertexSize(D3DFVF_XYZB4 | D3DFVF_DIFFUSE), 32u);
  // Five plain weights fit no element; four and an index do.
  EXPECT_EQ(dev->SetFVF(D3DFVF_XYZB5), D3DERR_INVALIDCALL);
  EXPECT_EQ(platform::d3d9::FvfVertexSize(D3DFVF_XYZB5), 0u);
  EXPECT_EQ(platform::d3d9::FvfVertexSize(D3DFVF_XYZB5 | D3DFVF_LASTBETA_UBYTE4), 32u);
  // The formats in use and their vertex sizes.
  EXPECT_EQ(platform::d3d9::FvfVertexSize(0x144), 28u);
  EXPECT_EQ(platform::d3d9::FvfVertexSize(0x142), 24u);
  EXPECT_EQ(platform::d3d9::FvfVertexSize(0x112), 32u);
  EXPECT_EQ(platform::d3d9::FvfVertexSize(D3DFVF_XYZ | D3DFVF_TEX2 | D3DFVF_TEXCOORDSIZE3(1)), 12u + 8 + 12);
}

TEST_F(D3D9ResState, DeclarationsReturnTheirElements) {
  const D3DVERTEXELEMENT9 elements[] = {{0, 0, D3DDECLTYPE_FLOAT4, D3DDECLMETHOD_DEFAULT, D3DDECLUSAGE_POSITIONT, 0},
                                        {1, 0, D3DDECLTYPE_FLOAT2, D3DDECLMETHOD_DEFAULT, D3DDECLUSAGE_TEXCOORD, 1},
                                        D3DDECL_END()};
  Ref<IDirect3DVertexDeclaration9> decl;
  ASSERT_EQ(dev->CreateVertexDeclaration(elements, &decl), D3D_OK);
  UINT count = 0;
  ASSERT_EQ(decl->GetDeclaration(nullptr, &count), D3D_OK);
  EXPECT_EQ(count, 3u);
  D3DVERTEXELEMENT9 out[3];
  ASSERT_EQ(decl->GetDeclaration(out, &count), D3D_OK);
  EXPECT_EQ(std::memcmp(out, elements, sizeof elements), 0);
  EXPECT_EQ(decl->GetDeclaration(out, nullptr), D3DERR_INVALIDCALL);
  const D3DVERTEXELEMENT9 duplicate[] = {{0, 0, D3DDECLTYPE_FLOAT3, 0, D3DDECLUSAGE_POSITION, 0},
                                         {0, 12, D3DDECLTYPE_FLOAT3, 0, D3DDECLUSAGE_POSITION, 0},
                                         D3DDECL_END()};
  Ref<IDirect3DVertexDeclaration9> bad;
  EXPECT_EQ(dev->CreateVertexDeclaration(duplicate, &bad), D3DERR_INVALIDCALL);
  const D3DVERTEXELEMENT9 badType[] = {{0, 0, 18, 0, D3DDECLUSAGE_POSITION, 0}, D3DDECL_END()};
  EXPECT_EQ(dev->CreateVertexDeclaration(badType, &bad), D3DERR_INVALIDCALL);
  const D3DVERTEXELEMENT9 badStream[] = {{16, 0, D3DDECLTYPE_FLOAT3, 0, D3DDECLUSAGE_POSITION, 0}, D3DDECL_END()};
  EXPECT_EQ(dev->CreateVertexDeclaration(badStream, &bad), D3DERR_INVALIDCALL);
  EXPECT_EQ(dev->CreateVertexDeclaration(nullptr, &bad), D3DERR_INVALIDCALL);
}

TEST_F(D3D9ResState, StreamsAndIndices) {
  Ref<IDirect3DVertexBuffer9> vb, got;
  Ref<IDirect3DIndexBuffer9> ib, gotIb;
  ASSERT_EQ(dev->CreateVertexBuffer(1024, 0, 0, D3DPOOL_MANAGED, &vb, nullptr), D3D_OK);
  ASSERT_EQ(dev->CreateIndexBuffer(64, 0, D3DFMT_INDEX32, D3DPOOL_MANAGED, &ib, nullptr), D3D_OK);
  ASSERT_EQ(dev->SetStreamSource(15, vb.get(), 64, 508), D3D_OK);
  UINT offset = 0, stride = 0;
  ASSERT_EQ(dev->GetStreamSource(15, &got, &offset, &stride), D3D_OK);
  EXPECT_EQ(got.get(), vb.get());
  EXPECT_EQ(offset, 64u);
  EXPECT_EQ(stride, 508u);
  EXPECT_EQ(dev->SetStreamSource(16, vb.get(), 0, 16), D3DERR_INVALIDCALL);
  EXPECT_EQ(dev->SetStreamSource(0, vb.get(), 0, 512), D3DERR_INVALIDCALL);
  EXPECT_EQ(dev->SetStreamSource(0, vb.get(), 2, 16), D3DERR_INVALIDCALL);
  EXPECT_EQ(dev->GetStreamSource(0, &got, nullptr, &stride), D3DERR_INVALIDCALL);
  ASSERT_EQ(dev->SetIndices(ib.get()), D3D_OK);
  ASSERT_EQ(dev->GetIndices(&gotIb), D3D_OK);
  EXPECT_EQ(gotIb.get(), ib.get());
}

TEST_F(D3D9ResState, ShadersAreAlwaysNull) {
  EXPECT_EQ(dev->SetVertexShader(nullptr), D3D_OK);
  EXPECT_EQ(dev->SetPixelShader(nullptr), D3D_OK);
  EXPECT_EQ(dev->SetVertexShader(reinterpret_cast<IDirect3DVertexShader9*>(16)), D3DERR_INVALIDCALL);
  EXPECT_EQ(dev->SetPixelShader(reinterpret_cast<IDirect3DPixelShader9*>(16)), D3DERR_INVALIDCALL);
  EXPECT_EQ(dev->GetVertexShader(nullptr), D3DERR_INVALIDCALL);
}

TEST_F(D3D9ResState, ShaderConstantRegisters) {
  const float f[8] = {1, 2, 3, 4, 5, 6, 7, 8};
  ASSERT_EQ(dev->SetVertexShaderConstantF(8190, f, 2), D3D_OK);
  EXPECT_EQ(dev->SetVertexShaderConstantF(8191, f, 2), D3DERR_INVALIDCALL);
  EXPECT_EQ(dev->SetPixelShaderConstantF(223, f, 1), D3D_OK);
  EXPECT_EQ(dev->SetPixelShaderConstantF(224, f, 1), D3DERR_INVALIDCALL);
  float back[8] = {};
  ASSERT_EQ(dev->GetVertexShaderConstantF(8190, back, 2), D3D_OK);
  EXPECT_EQ(std::memcmp(back, f, sizeof f), 0);
  ASSERT_EQ(dev->GetVertexShaderConstantF(0, back, 1), D3D_OK);
  EXPECT_EQ(back[0], 0.0f);  // never set: zero
  const int i[4] = {5, 0, 1, 0};
  ASSERT_EQ(dev->SetPixelShaderConstantI(2047, i, 1), D3D_OK);
  EXPECT_EQ(dev->SetPixelShaderConstantI(2048, i, 1), D3DERR_INVALIDCALL);
  int ib[4] = {};
  ASSERT_EQ(dev->GetPixelShaderConstantI(2047, ib, 1), D3D_OK);
  EXPECT_EQ(std::memcmp(ib, i, sizeof i), 0);
  const BOOL b[3] = {1, 0, 7};
  ASSERT_EQ(dev->SetVertexShaderConstantB(10, b, 3), D3D_OK);
  BOOL bb[3] = {};
  ASSERT_EQ(dev->GetVertexShaderConstantB(10, bb, 3), D3D_OK);
  EXPECT_EQ(bb[2], 7);
  EXPECT_EQ(dev->SetVertexShaderConstantI(0, nullptr, 1), D3DERR_INVALIDCALL);
  ASSERT_EQ(dev->SetPixelShaderConstantB(0, b, 1), D3D_OK);
  ASSERT_EQ(dev->SetVertexShaderConstantI(3, i, 1), D3D_OK);
  ASSERT_EQ(dev->GetPixelShaderConstantB(0, bb, 1), D3D_OK);
  EXPECT_EQ(bb[0], 1);
  ASSERT_EQ(dev->GetPixelShaderConstantF(223, back, 1), D3D_OK);
  EXPECT_EQ(back[0], 1.0f);
  ASSERT_EQ(dev->GetVertexShaderConstantI(3, ib, 1), D3D_OK);
  EXPECT_EQ(ib[0], 5);
}

TEST_F(D3D9ResState, SnapshotsCompareAndName) {
  const auto before = platform::test::SnapshotState(dev);
  EXPECT_EQ(before, platform::test::SnapshotState(dev));
  ASSERT_EQ(dev->SetRenderState(D3DRS_ALPHABLENDENABLE, TRUE), D3D_OK);
  const float c[4] = {1, 0, 0, 0};
  ASSERT_EQ(dev->SetPixelShaderConstantF(3, c, 1), D3D_OK);
  const auto after = platform::test::SnapshotState(dev);
  EXPECT_NE(before, after);
  const auto diff = platform::test::DiffStates(before, after);
  ASSERT_EQ(diff.size(), 2u) << after.ToString();
  EXPECT_EQ(diff[0], "RS 27: 0x0 -> 0x1");
  EXPECT_EQ(diff[1], "PSF 3: (none) -> 0x3F800000 0x0 0x0 0x0");
  EXPECT_NE(after.ToString().find("RenderTarget = Surface#"), std::string::npos);
  ASSERT_EQ(dev->SetRenderState(D3DRS_ALPHABLENDENABLE, FALSE), D3D_OK);
  const float zero[4] = {};
  ASSERT_EQ(dev->SetPixelShaderConstantF(3, zero, 1), D3D_OK);
  EXPECT_EQ(before, platform::test::SnapshotState(dev));
}

}  // namespace

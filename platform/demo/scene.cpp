// The demo's Direct3D test scene: a Gouraud background, a perspective floor
// with a mip-mapped checker texture, a render target drawn into and shown, a
// turning textured quad, additive sprites, lines and points. Every frame
// goes through the software device and its Present.
#include "scene.h"

#include <cmath>
#include <cstring>
#include <vector>

namespace demo {
namespace {

struct TlVertex {  // pre-transformed, diffuse, one texture coordinate pair
  float x, y, z, rhw;
  DWORD color;
  float u, v;
};
constexpr DWORD kTlFvf = D3DFVF_XYZRHW | D3DFVF_DIFFUSE | D3DFVF_TEX1;

struct Vertex {  // untransformed, diffuse, one texture coordinate pair
  float x, y, z;
  DWORD color;
  float u, v;
};
constexpr DWORD kFvf = D3DFVF_XYZ | D3DFVF_DIFFUSE | D3DFVF_TEX1;

D3DMATRIX Identity() {
  D3DMATRIX m{};
  m._11 = m._22 = m._33 = m._44 = 1.0f;
  return m;
}

// Fills every level of `t` from `texel(x, y, level)`.
template <class F>
void FillLevels(IDirect3DTexture9* t, F texel) {
  for (UINT l = 0; l < t->GetLevelCount(); ++l) {
    D3DSURFACE_DESC desc;
    D3DLOCKED_RECT lr;
    t->GetLevelDesc(l, &desc);
    if (FAILED(t->LockRect(l, &lr, nullptr, 0))) return;
    for (UINT y = 0; y < desc.Height; ++y)
      for (UINT x = 0; x < desc.Width; ++x) {
        const std::uint32_t v = texel(int(x), int(y), int(l));
        std::memcpy(static_cast<std::uint8_t*>(lr.pBits) + y * lr.Pitch + x * 4, &v, 4);
      }
    t->UnlockRect(l);
  }
}

}  // namespace

Scene::~Scene() {
  for (IUnknown* p : {static_cast<IUnknown*>(m_checker), static_cast<IUnknown*>(m_disc),
                      static_cast<IUnknown*>(m_targetLevel), static_cast<IUnknown*>(m_target),
                      static_cast<IUnknown*>(m_back), static_cast<IUnknown*>(m_dev), static_cast<IUnknown*>(m_d3d)})
    if (p) p->Release();
}

bool Scene::Create(HWND window) {
  m_d3d = Direct3DCreate9(D3D_SDK_VERSION);
  if (!m_d3d) return false;
  D3DPRESENT_PARAMETERS p{};
  p.BackBufferWidth = 640;
  p.BackBufferHeight = 480;
  p.BackBufferFormat = D3DFMT_X8R8G8B8;
  p.BackBufferCount = 1;
  p.SwapEffect = D3DSWAPEFFECT_DISCARD;
  p.hDeviceWindow = window;
  p.Windowed = TRUE;
  p.EnableAutoDepthStencil = TRUE;
  p.AutoDepthStencilFormat = D3DFMT_D16;
  p.PresentationInterval = D3DPRESENT_INTERVAL_ONE;
  if (FAILED(m_d3d->CreateDevice(0, D3DDEVTYPE_HAL, window, D3DCREATE_HARDWARE_VERTEXPROCESSING, &p, &m_dev)))
    return false;
  // A checker whose levels stay checkers (so mip-mapping shows as softening).
  if (FAILED(m_dev->CreateTexture(128, 128, 0, 0, D3DFMT_A8R8G8B8, D3DPOOL_MANAGED, &m_checker, nullptr))) return false;
  FillLevels(m_checker, [](int x, int y, int level) {
    const int cell = 16 >> level;
    if (cell == 0) return 0xFF808080u;
    return ((x / cell + y / cell) & 1) ? 0xFFF0F0E0u : 0xFF3050A0u;
  });
  // A soft disc, opaque in the middle.
  if (FAILED(m_dev->CreateTexture(64, 64, 1, 0, D3DFMT_A8R8G8B8, D3DPOOL_MANAGED, &m_disc, nullptr))) return false;
  FillLevels(m_disc, [](int x, int y, int) {
    const double r = std::hypot(x - 31.5, y - 31.5);
    const double a = std::fmin(1.0, std::fmax(0.0, (31.0 - r) / 12.0));
    return std::uint32_t(a * 255) << 24 | 0xFFFFFF;
  });
  if (FAILED(m_dev->CreateTexture(128, 128, 1, D3DUSAGE_RENDERTARGET, D3DFMT_A8R8G8B8, D3DPOOL_DEFAULT, &m_target,
                                  nullptr)) ||
      FAILED(m_target->GetSurfaceLevel(0, &m_targetLevel)) || FAILED(m_dev->GetRenderTarget(0, &m_back)))
    return false;
  return true;
}

void Scene::Quad(IDirect3DBaseTexture9* texture, float x0, float y0, float x1, float y1, const DWORD colors[4]) {
  const TlVertex q[4] = {{x0, y0, 0.5f, 1, colors[0], 0, 0},
                         {x1, y0, 0.5f, 1, colors[1], 1, 0},
                         {x0, y1, 0.5f, 1, colors[2], 0, 1},
                         {x1, y1, 0.5f, 1, colors[3], 1, 1}};
  m_dev->SetTexture(0, texture);
  m_dev->SetFVF(kTlFvf);
  m_dev->DrawPrimitiveUP(D3DPT_TRIANGLESTRIP, 2, q, sizeof(TlVertex));
}

HRESULT Scene::Frame(int f) {
  IDirect3DDevice9* d = m_dev;
  const float time = f * 0.03f;
  // Into the render target: turning triangles over a dark clear.
  d->SetRenderTarget(0, m_targetLevel);
  d->Clear(0, nullptr, D3DCLEAR_TARGET, 0xFF101020, 1.0f, 0);
  d->BeginScene();
  d->SetRenderState(D3DRS_LIGHTING, FALSE);
  d->SetRenderState(D3DRS_CULLMODE, D3DCULL_NONE);
  d->SetRenderState(D3DRS_ZENABLE, FALSE);
  d->SetTextureStageState(0, D3DTSS_COLOROP, D3DTOP_MODULATE);
  d->SetTextureStageState(0, D3DTSS_ALPHAOP, D3DTOP_MODULATE);
  d->SetTextureStageState(0, D3DTSS_ALPHAARG2, D3DTA_DIFFUSE);
  for (int i = 0; i < 6; ++i) {
    const float a = time * 2 + i * 1.0472f;
    const TlVertex tri[3] = {{64, 64, 0, 1, 0xFFFFFFFF, 0, 0},
                             {64 + 60 * std::cos(a), 64 + 60 * std::sin(a), 0, 1, 0xFF000000u | (0x33u * i) << 16 | 0x80, 0, 0},
                             {64 + 60 * std::cos(a + 0.8f), 64 + 60 * std::sin(a + 0.8f), 0, 1, 0xFF00C0FF, 0, 0}};
    d->SetTexture(0, nullptr);
    d->SetFVF(kTlFvf);
    d->DrawPrimitiveUP(D3DPT_TRIANGLELIST, 1, tri, sizeof(TlVertex));
  }
  d->EndScene();

  // The screen.
  d->SetRenderTarget(0, m_back);
  d->Clear(0, nullptr, D3DCLEAR_TARGET, 0xFF000000, 1.0f, 0);
  d->BeginScene();
  const DWORD sky[4] = {0xFF203060, 0xFF402060, 0xFF80A0D0, 0xFFD0A080};
  Quad(nullptr, 0, 0, 640, 480, sky);

  // A perspective floor: trilinear filtering, wrapped coordinates.
  for (D3DSAMPLERSTATETYPE s : {D3DSAMP_MAGFILTER, D3DSAMP_MINFILTER, D3DSAMP_MIPFILTER}) d->SetSamplerState(0, s, D3DTEXF_LINEAR);
  D3DMATRIX view = Identity(), proj{};
  view._42 = -1.0f;  // eye one unit above the floor
  const float n = 0.5f, far = 60.0f;
  proj._11 = 1.0f;
  proj._22 = 640.0f / 480.0f;
  proj._33 = far / (far - n);
  proj._34 = 1.0f;
  proj._43 = -n * far / (far - n);
  d->SetTransform(D3DTS_VIEW, &view);
  d->SetTransform(D3DTS_PROJECTION, &proj);
  const D3DMATRIX world = Identity();
  d->SetTransform(D3DTS_WORLD, &world);
  const float scroll = time;
  const Vertex floor[4] = {{-30, 0, 0.6f, 0xFFFFFFFF, -15, scroll},
                           {30, 0, 0.6f, 0xFFFFFFFF, 15, scroll},
                           {-30, 0, 50, 0xFF404040, -15, scroll + 25},
                           {30, 0, 50, 0xFF404040, 15, scroll + 25}};
  d->SetTexture(0, m_checker);
  d->SetFVF(kFvf);
  d->DrawPrimitiveUP(D3DPT_TRIANGLESTRIP, 2, floor, sizeof(Vertex));

  // The render target, shown twice its size, and a turning checker quad.
  const DWORD white[4] = {0xFFFFFFFF, 0xFFFFFFFF, 0xFFFFFFFF, 0xFFFFFFFF};
  Quad(m_target, 24, 24, 280, 280, white);
  const float c = std::cos(time), s = std::sin(time);
  TlVertex turned[4];
  const float corners[4][2] = {{-70, -70}, {70, -70}, {-70, 70}, {70, 70}};
  for (int i = 0; i < 4; ++i)
    turned[i] = {460 + corners[i][0] * c - corners[i][1] * s, 150 + corners[i][0] * s + corners[i][1] * c, 0.5f, 1,
                 0xFFFFFFFF, float(i & 1), float(i >> 1)};
  d->SetTexture(0, m_checker);
  d->DrawPrimitiveUP(D3DPT_TRIANGLESTRIP, 2, turned, sizeof(TlVertex));

  // Additive discs circling.
  d->SetRenderState(D3DRS_ALPHABLENDENABLE, TRUE);
  d->SetRenderState(D3DRS_SRCBLEND, D3DBLEND_SRCALPHA);
  d->SetRenderState(D3DRS_DESTBLEND, D3DBLEND_ONE);
  const DWORD hues[3] = {0xC0FF4040, 0xC040FF40, 0xC04040FF};
  for (int i = 0; i < 3; ++i) {
    const float a = time * 1.5f + i * 2.0944f, x = 460 + 90 * std::cos(a), y = 360 + 60 * std::sin(a);
    const DWORD colors[4] = {hues[i], hues[i], hues[i], hues[i]};
    Quad(m_disc, x - 48, y - 48, x + 48, y + 48, colors);
  }
  d->SetRenderState(D3DRS_ALPHABLENDENABLE, FALSE);

  // A star of lines and a ring of points.
  std::vector<TlVertex> lines, points;
  for (int i = 0; i < 24; ++i) {
    const float a = i * 0.2618f + time * 0.5f;
    lines.push_back({150, 380, 0, 1, 0xFFFFFF00, 0, 0});
    lines.push_back({150 + 80 * std::cos(a), 380 + 80 * std::sin(a), 0, 1, 0xFFFF4000, 0, 0});
  }
  for (int i = 0; i < 90; ++i) {
    const float a = i * 0.0698f;
    points.push_back({150 + 90 * std::cos(a), 380 + 90 * std::sin(a), 0, 1, 0xFFFFFFFF, 0, 0});
  }
  d->SetTexture(0, nullptr);
  d->DrawPrimitiveUP(D3DPT_LINELIST, UINT(lines.size() / 2), lines.data(), sizeof(TlVertex));
  d->DrawPrimitiveUP(D3DPT_POINTLIST, UINT(points.size()), points.data(), sizeof(TlVertex));
  d->EndScene();
  return d->Present(nullptr, nullptr, nullptr, nullptr);
}

}  // namespace demo

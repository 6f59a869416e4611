// A play-scene-like frame drawn with raw device calls, for the rasteriser's
// benchmark and its instruction-set equivalence test. It follows the game's
// heaviest frame: the background picture and pattern (modes 1-5), 160
// scan-line quads, two 512 x 512 render-target passes with floors, the
// 2048 x 2048 wrapped tile written through colour mask 7 and the waves, the
// field composited to the screen, 200 alpha-blended 32 x 32 sprites (some
// turned or scaled, trails additive), the shade, the panel and map, and 120
// glyphs of an A4R4G4B4 font. Pictures are made procedurally.
#pragma once

#include <cmath>
#include <cstdint>
#include <cstring>
#include <vector>

#include "platform/d3d9_api.h"
#include "tests/support/com_ref.h"
#include "tests/support/d3d9_params.h"

namespace playframe {

using nura::test::Ref;

struct TlVertex {  // FVF 0x144
  float x, y, z, rhw;
  DWORD color;
  float u, v;
};
struct SpriteVertex {  // the batcher's declaration
  float x, y, z;
  DWORD color;
  float u, v;
};

class Scene {
 public:
  // False when a resource cannot be made.
  bool Build(IDirect3DDevice9* dev) {
    m_dev = dev;
    const D3DVERTEXELEMENT9 decl[] = {{0, 0, D3DDECLTYPE_FLOAT3, 0, D3DDECLUSAGE_POSITION, 0},
                                      {0, 12, D3DDECLTYPE_D3DCOLOR, 0, D3DDECLUSAGE_COLOR, 0},
                                      {0, 16, D3DDECLTYPE_FLOAT2, 0, D3DDECLUSAGE_TEXCOORD, 0},
                                      D3DDECL_END()};
    if (FAILED(dev->CreateVertexDeclaration(decl, &m_decl))) return false;
    m_background = Picture(640, 480, 1, [](int x, int y) {
      return 0xFF000000u | std::uint32_t((x * 255) / 640) << 16 | std::uint32_t((y * 255) / 480) << 8 | 0x40;
    });
    m_tile = Picture(32, 32, 1, [](int x, int y) {
      const bool edge = x == 0 || y == 0;
      return edge ? 0xFF303030u : ((x / 8 + y / 8) & 1 ? 0xFFB0B0B0u : 0xFF909090u);
    });
    m_ball = Picture(32, 0, 0, [](int x, int y) { return Disc(x, y, 32, 0x00FFC040u, 15.5); });
    m_enemy = Picture(32, 0, 0, [](int x, int y) { return Disc(x, y, 32, 0x0040C0FFu, 15.5); });
    m_square = Picture(256, 0, 0, [](int x, int y) {
      const bool border = x < 12 || y < 12 || x >= 244 || y >= 244;
      return border ? 0xFFE0E0FFu : 0x40303060u;
    });
    m_lineVer = Picture(8, 512, 1, [](int x, int) { return std::uint32_t(255 - 60 * std::abs(x - 4)) << 24 | 0x80FF80u; });
    m_lineHor = Picture(512, 8, 1, [](int, int y) { return std::uint32_t(255 - 60 * std::abs(y - 4)) << 24 | 0x80FF80u; });
    // Snow as the game's pictures come: a near layer as wide as the screen
    // (power-of-two sized), a far layer twice as tall as wide.
    m_snow1 = Picture(1024, 1024, 1, [](int x, int y) { return Speckle(x, y, 0x9E3779B9u); });
    m_snow2 = Picture(512, 1024, 0, [](int x, int y) { return Speckle(x, y, 0x7F4A7C15u); });
    m_wave = Picture(64, 0, 0, [](int x, int y) {
      const double r = std::hypot(x - 31.5, y - 31.5);
      const double ring = std::exp(-(r - 26) * (r - 26) / 8);
      return std::uint32_t(ring * 255) << 24 | 0x60A0FFu;
    });
    // The font: 16 x 16 cells of 16 pixels, A4R4G4B4, blobs of varying shape.
    if (FAILED(dev->CreateTexture(256, 256, 1, 0, D3DFMT_A4R4G4B4, D3DPOOL_MANAGED, &m_font, nullptr))) return false;
    D3DLOCKED_RECT lr;
    if (FAILED(m_font->LockRect(0, &lr, nullptr, 0))) return false;
    for (int y = 0; y < 256; ++y)
      for (int x = 0; x < 256; ++x) {
        const int cell = (y / 16) * 16 + x / 16, cx = x % 16, cy = y % 16;
        const bool ink = ((cx * 7 + cy * 3 + cell) % 11) < 4 && cx > 1 && cx < 13 && cy > 1 && cy < 15;
        const std::uint16_t v = ink ? 0xFFFF : std::uint16_t(((cx + cy) % 3) << 12 | 0x0FFF);
        std::memcpy(static_cast<std::uint8_t*>(lr.pBits) + y * lr.Pitch + x * 2, &v, 2);
      }
    m_font->UnlockRect(0);
    // The field and wave targets with their depth surfaces.
    for (int i = 0; i < 2; ++i) {
      if (FAILED(dev->CreateTexture(512, 512, 1, D3DUSAGE_RENDERTARGET, D3DFMT_A8R8G8B8, D3DPOOL_DEFAULT, &m_target[i],
                                    nullptr)) ||
          FAILED(m_target[i]->GetSurfaceLevel(0, &m_targetLevel[i])) ||
          FAILED(dev->CreateDepthStencilSurface(512, 512, D3DFMT_D16, D3DMULTISAMPLE_NONE, 0, TRUE, &m_depth[i],
                                                nullptr)))
        return false;
    }
    if (FAILED(dev->GetRenderTarget(0, &m_back)) || FAILED(dev->GetDepthStencilSurface(&m_backDepth))) return false;
    for (IDirect3DTexture9* t : {m_background.get(), m_tile.get(), m_ball.get(), m_enemy.get(), m_square.get(),
                                 m_lineVer.get(), m_lineHor.get(), m_snow1.get(), m_snow2.get(), m_wave.get()})
      if (!t) return false;
    return true;
  }

  // Drops every object the scene holds.
  void Release() { *this = Scene(); }

  // The back buffer and both targets' texels, read back through system memory.
  std::vector<std::uint32_t> Snapshot() {
    std::vector<std::uint32_t> out;
    for (IDirect3DSurface9* s : {m_back.get(), m_targetLevel[0].get(), m_targetLevel[1].get()}) {
      D3DSURFACE_DESC desc;
      s->GetDesc(&desc);
      Ref<IDirect3DTexture9> copy;
      Ref<IDirect3DSurface9> level;
      D3DLOCKED_RECT lr;
      if (FAILED(m_dev->CreateTexture(desc.Width, desc.Height, 1, 0, desc.Format, D3DPOOL_SYSTEMMEM, &copy, nullptr)))
        return {};
      copy->GetSurfaceLevel(0, &level);
      if (SUCCEEDED(m_dev->GetRenderTargetData(s, level.get())) &&
          SUCCEEDED(level->LockRect(&lr, nullptr, D3DLOCK_READONLY))) {
        for (UINT y = 0; y < desc.Height; ++y) {
          const auto* row = reinterpret_cast<const std::uint32_t*>(static_cast<const std::uint8_t*>(lr.pBits) + y * lr.Pitch);
          out.insert(out.end(), row, row + desc.Width);
        }
        level->UnlockRect();
      }
    }
    return out;
  }

  // One frame of background mode 1-5 at frame counter f (no Present).
  void Draw(int mode, int f) {
    IDirect3DDevice9* d = m_dev;
    d->Clear(0, nullptr, D3DCLEAR_TARGET | D3DCLEAR_ZBUFFER, 0xFF000000, 1.0f, 0);
    d->BeginScene();
    d->SetRenderState(D3DRS_ZENABLE, D3DZB_TRUE);
    d->SetRenderState(D3DRS_LIGHTING, FALSE);
    d->SetRenderState(D3DRS_CULLMODE, D3DCULL_CCW);

    // Background: the picture, the pattern, the scan lines.
    Quad(nullptr, 0, 0, 640, 480, 0xFF000000);
    Quad(m_background.get(), 0, 0, 640, 480, 0xFFFFFFFF);
    Pattern(mode, f);
    for (int i = 0; i < 80; ++i) {
      Quad(nullptr, 0, float(6 * i + f % 6), 480, 1, 0x40000000);
      Quad(nullptr, 0, float(6 * i + f % 6), 480, 1, 0x40000000);
    }

    // The field target: floors, then the tile through mask 7.
    Begin(0);
    for (int i = 0; i < 20; ++i)
      Quad(nullptr, float((i * 97 + f) % 400), float((i * 53) % 420), 130, 50, 0xFFC0C0C0);
    Tile(-(f % 16), -(f % 16));
    // The wave target: four waves and the tile, composited onto the floors.
    Begin(1);
    d->SetRenderState(D3DRS_COLORWRITEENABLE, 0xF);
    for (int i = 0; i < 4; ++i) {
      const int t = (15 * i + f) % 60;
      const float scale = t / 40.0f + 0.5f;
      Sprite(m_wave.get(), 200 - 50 * t / 60.0f, 180 - 50 * t / 60.0f, scale, scale, 0, (60 - t) * 255 / 60, false);
    }
    Tile(8, 8);
    Begin(0, false);
    d->SetRenderState(D3DRS_COLORWRITEENABLE, 7);
    Quad(m_target[1].get(), 0, 0, 512, 512, 0xFFFFFFFF);
    d->SetRenderState(D3DRS_COLORWRITEENABLE, 0xF);
    d->SetRenderTarget(0, m_back.get());
    d->SetDepthStencilSurface(m_backDepth.get());
    Quad(m_target[0].get(), 0, 0, 512, 512, 0xFFFFFFFF);

    // Body, trails, steering pointer, enemies: 200 sprites.
    Quad(nullptr, 300, 220, 60, 40, 0xFF80B080);
    int sprites = 0;
    for (int e = 0; sprites < 200; ++e) {
      const float ex = float((e * 131 + f * 3) % 600), ey = float((e * 71 + f * 2) % 440);
      const float angle = e % 5 == 0 ? 0.3f * e + 0.05f * f : 0.0f;
      const float scale = e % 7 == 0 ? 1.5f : 1.0f;
      Sprite(e == 0 ? m_ball.get() : m_enemy.get(), ex, ey, scale, scale, angle, 255, false);
      ++sprites;
      for (int j = 0; j < 6 && sprites < 200; ++j, ++sprites)
        Sprite(e == 0 ? m_ball.get() : m_enemy.get(), ex - 4.0f * j, ey - 3.0f * j, scale, scale, angle,
               (6 - j) * 255 / 24, e > 0);
    }

    // Shade, panel, map, text, cursor.
    Quad(nullptr, 0, 0, 640, 480, 0x60000000);
    Quad(nullptr, 480, 0, 160, 480, 0xFF404040);
    Quad(nullptr, 500, 200, 120, 120, 0xFF606060);
    for (int i = 0; i < 20; ++i)
      Quad(nullptr, float(500 + (i * 97) % 400 / 12), float(200 + (i * 53) % 420 / 12), 11, 4, 0xFFFFFFFF);
    Quad(nullptr, 520, 220, 40, 40, 0x3000FFFF);
    Text(120, f);
    Sprite(m_ball.get(), 320, 240, 0.6f, 0.6f, 0, 255, false);
    d->EndScene();
  }

 private:
  template <class F>
  Ref<IDirect3DTexture9> Picture(UINT w, UINT h, UINT levels, F texel) {
    if (h == 0) h = w;
    Ref<IDirect3DTexture9> t;
    if (FAILED(m_dev->CreateTexture(w, h, levels, 0, D3DFMT_A8R8G8B8, D3DPOOL_MANAGED, &t, nullptr))) return {};
    std::vector<std::uint32_t> img(std::size_t(w) * h);
    for (UINT y = 0; y < h; ++y)
      for (UINT x = 0; x < w; ++x) img[std::size_t(y) * w + x] = texel(int(x), int(y));
    for (UINT l = 0; l < t->GetLevelCount(); ++l) {
      D3DLOCKED_RECT lr;
      if (FAILED(t->LockRect(l, &lr, nullptr, 0))) break;
      for (UINT y = 0; y < h; ++y) std::memcpy(static_cast<std::uint8_t*>(lr.pBits) + y * lr.Pitch, &img[y * w], w * 4);
      t->UnlockRect(l);
      // The next level: 2 x 2 box filter.
      const UINT nw = w > 1 ? w / 2 : 1, nh = h > 1 ? h / 2 : 1;
      std::vector<std::uint32_t> next(std::size_t(nw) * nh);
      for (UINT y = 0; y < nh; ++y)
        for (UINT x = 0; x < nw; ++x) {
          std::uint32_t v = 0;
          for (int shift = 0; shift < 32; shift += 8) {
            unsigned sum = 0;
            for (UINT k = 0; k < 4; ++k) {
              const UINT sx = std::min(w - 1, 2 * x + (k & 1)), sy = std::min(h - 1, 2 * y + (k >> 1));
              sum += (img[std::size_t(sy) * w + sx] >> shift) & 0xFF;
            }
            v |= ((sum + 2) / 4) << shift;
          }
          next[std::size_t(y) * nw + x] = v;
        }
      img.swap(next);
      w = nw;
      h = nh;
    }
    return t;
  }
  static std::uint32_t Disc(int x, int y, int size, std::uint32_t rgb, double radius) {
    const double r = std::hypot(x - (size - 1) / 2.0, y - (size - 1) / 2.0);
    const double a = std::fmin(1.0, std::fmax(0.0, radius - r));
    const std::uint32_t shade = std::uint32_t(std::fmax(0.0, 1.0 - r / (2 * radius)) * 255);
    return std::uint32_t(a * 255) << 24 | (rgb & 0xFFFF00u) | shade;
  }
  static std::uint32_t Speckle(int x, int y, std::uint32_t seed) {
    std::uint32_t h = std::uint32_t(x) * 0x85EBCA6Bu ^ std::uint32_t(y) * 0xC2B2AE35u ^ seed;
    h ^= h >> 15;
    h *= 0x2C1B3C6Du;
    h ^= h >> 12;
    return (h & 0xFF) < 12 ? (0xC0FFFFFFu & (0xFF000000u | h)) | 0x00F0F0F0u : 0x00FFFFFFu;
  }

  // The framework's quad sprite: pre-transformed strip, SELECTARG1(TEXTURE),
  // SRCALPHA / INVSRCALPHA, WRAP, the previous batch's filters.
  void Quad(IDirect3DBaseTexture9* tex, float x, float y, float w, float h, DWORD color, float u1 = 1, float v1 = 1) {
    IDirect3DDevice9* d = m_dev;
    d->SetFVF(0x144);
    d->SetRenderState(D3DRS_ALPHABLENDENABLE, TRUE);
    d->SetRenderState(D3DRS_SRCBLEND, D3DBLEND_SRCALPHA);
    d->SetRenderState(D3DRS_DESTBLEND, D3DBLEND_INVSRCALPHA);
    d->SetTextureStageState(0, D3DTSS_COLOROP, D3DTOP_SELECTARG1);
    d->SetTextureStageState(0, D3DTSS_COLORARG1, D3DTA_TEXTURE);
    d->SetTextureStageState(0, D3DTSS_ALPHAOP, D3DTOP_SELECTARG1);
    d->SetTextureStageState(0, D3DTSS_ALPHAARG1, D3DTA_TEXTURE);
    d->SetSamplerState(0, D3DSAMP_ADDRESSU, D3DTADDRESS_WRAP);
    d->SetSamplerState(0, D3DSAMP_ADDRESSV, D3DTADDRESS_WRAP);
    d->SetTexture(0, tex);
    const TlVertex q[4] = {{x, y, 0, 1, color, 0, 0},
                           {x + w, y, 0, 1, color, u1, 0},
                           {x, y + h, 0, 1, color, 0, v1},
                           {x + w, y + h, 0, 1, color, u1, v1}};
    d->DrawPrimitiveUP(D3DPT_TRIANGLESTRIP, 2, q, sizeof(TlVertex));
  }

  // The sprite batcher: the declaration, an indexed list, MODULATE, CLAMP,
  // LINEAR / LINEAR / LINEAR, a screen projection half a pixel up and left.
  void Sprite(IDirect3DTexture9* tex, float x, float y, float sx, float sy, float angle, int alpha, bool additive) {
    IDirect3DDevice9* d = m_dev;
    D3DSURFACE_DESC desc;
    tex->GetLevelDesc(0, &desc);
    d->SetVertexDeclaration(m_decl.get());
    d->SetRenderState(D3DRS_ALPHABLENDENABLE, TRUE);
    d->SetRenderState(D3DRS_SRCBLEND, D3DBLEND_SRCALPHA);
    d->SetRenderState(D3DRS_DESTBLEND, additive ? D3DBLEND_ONE : D3DBLEND_INVSRCALPHA);
    d->SetTextureStageState(0, D3DTSS_COLOROP, D3DTOP_MODULATE);
    d->SetTextureStageState(0, D3DTSS_COLORARG1, D3DTA_TEXTURE);
    d->SetTextureStageState(0, D3DTSS_COLORARG2, D3DTA_DIFFUSE);
    d->SetTextureStageState(0, D3DTSS_ALPHAOP, D3DTOP_MODULATE);
    d->SetTextureStageState(0, D3DTSS_ALPHAARG1, D3DTA_TEXTURE);
    d->SetTextureStageState(0, D3DTSS_ALPHAARG2, D3DTA_DIFFUSE);
    d->SetSamplerState(0, D3DSAMP_ADDRESSU, D3DTADDRESS_CLAMP);
    d->SetSamplerState(0, D3DSAMP_ADDRESSV, D3DTADDRESS_CLAMP);
    for (D3DSAMPLERSTATETYPE s : {D3DSAMP_MAGFILTER, D3DSAMP_MINFILTER, D3DSAMP_MIPFILTER})
      d->SetSamplerState(0, s, D3DTEXF_LINEAR);
    D3DVIEWPORT9 vp;
    d->GetViewport(&vp);
    D3DMATRIX proj{};
    proj._11 = 2.0f / vp.Width;
    proj._22 = -2.0f / vp.Height;
    proj._33 = 1.0f;
    proj._41 = -1.0f - 1.0f / vp.Width;
    proj._42 = 1.0f + 1.0f / vp.Height;
    proj._44 = 1.0f;
    d->SetTransform(D3DTS_PROJECTION, &proj);
    const float c = std::cos(angle), s = std::sin(angle);
    D3DMATRIX world{};
    world._11 = sx * c;
    world._12 = sx * s;
    world._21 = -sy * s;
    world._22 = sy * c;
    world._33 = 1.0f;
    world._41 = x;
    world._42 = y;
    world._44 = 1.0f;
    d->SetTransform(D3DTS_WORLD, &world);
    d->SetTexture(0, tex);
    const float w = float(desc.Width), h = float(desc.Height);
    const DWORD color = DWORD(alpha) << 24 | 0xFFFFFF;
    const SpriteVertex v[4] = {{0, 0, 0, color, 0, 0}, {w, 0, 0, color, 1, 0}, {0, h, 0, color, 0, 1}, {w, h, 0, color, 1, 1}};
    const WORD index[6] = {0, 1, 2, 1, 3, 2};
    d->DrawIndexedPrimitiveUP(D3DPT_TRIANGLELIST, 0, 4, 2, index, D3DFMT_INDEX16, v, sizeof(SpriteVertex));
  }

  // The field's 2048 x 2048 tile: coordinates 0-64 over a 32-pixel picture.
  void Tile(int x, int y) {
    m_dev->SetRenderState(D3DRS_COLORWRITEENABLE, 7);
    Quad(m_tile.get(), float(x), float(y), 2048, 2048, 0xFFFFFFFF, 64, 64);
    m_dev->SetRenderState(D3DRS_COLORWRITEENABLE, 0xF);
  }

  void Begin(int target, bool clear = true) {
    m_dev->SetRenderTarget(0, m_targetLevel[target].get());
    m_dev->SetDepthStencilSurface(m_depth[target].get());
    if (clear) m_dev->Clear(0, nullptr, D3DCLEAR_TARGET | D3DCLEAR_ZBUFFER, 0, 1.0f, 0);
  }

  void Pattern(int mode, int f) {
    switch (mode) {
      case 1:
        for (int i = 0; i < 4; ++i) {
          const int t = (50 * i + f) % 200, s = 200 - t;
          const int fade = std::min(10, std::max(0, 100 - std::abs(t - 100)));
          const float scale = 2.0f * s / 512 + 0.21875f;
          Sprite(m_square.get(), float(t), float(t), scale, scale, 0, fade * 255 / 10, false);
        }
        break;
      case 2:
      case 3:
        for (int i = 0; i < 10; ++i) {
          const float spacing = 70.0f + 20.0f * std::sin(f * 0.05f);
          Quad(m_lineVer.get(), mode == 2 ? float((i * 61 + f) % 640) : (i - 5) * spacing + 252, 0, 8, 480, 0xFFFFFFFF);
          if (mode == 3) Quad(m_lineHor.get(), 0, (i - 5) * spacing + 252, 640, 8, 0xFFFFFFFF);
        }
        break;
      case 4:
        // Snow: the near layer 1:1, the far layers minified (trilinear).
        Sprite(m_snow1.get(), 0, float((f % 400) * 1024 / 300 - 512), 1, 1, 0, 255, false);
        Sprite(m_snow1.get(), 0, float(((f + 150) % 400) * 1024 / 300 - 512), 1, 1, 0, 255, false);
        for (int k : {0, 140, 280}) {
          const float y = float(((f + k) % 600) * 1152 / 600 - 768);
          Sprite(m_snow2.get(), -128, y, 0.75f, 0.75f, 0, 255, false);
          Sprite(m_snow2.get(), 256, y, 0.75f, 0.75f, 0, 255, false);
        }
        for (int k : {0, 270, 540}) {
          const float y = float(((f + k) % 810) * 768 / 810 - 256);
          Sprite(m_snow2.get(), 0, y, 0.5f, 0.5f, 0, 255, false);
          Sprite(m_snow2.get(), 256, y, 0.5f, 0.5f, 0, 255, false);
        }
        break;
      default:
        for (int i = 0; i < 3; ++i) {
          const float t = float((100 * i + f) % 300) / 300.0f, scale = 2 * t + 0.1f;
          const float a = 360.0f * t * 0.017453292f, c = std::cos(a), s = std::sin(a);
          // Moved by -120 (half the picture), scaled, turned, moved to (256, 256).
          const float ox = -128 * scale, oy = -128 * scale;
          Sprite(m_square.get(), 256 + ox * c - oy * s, 256 + ox * s + oy * c, scale, scale, a, int(255 * (1 - t)),
                 false);
        }
        break;
    }
  }

  void Text(int glyphs, int f) {
    IDirect3DDevice9* d = m_dev;
    d->SetFVF(0x144);
    d->SetTexture(0, m_font.get());
    d->SetRenderState(D3DRS_ALPHABLENDENABLE, TRUE);
    d->SetRenderState(D3DRS_SRCBLEND, D3DBLEND_SRCALPHA);
    d->SetRenderState(D3DRS_DESTBLEND, D3DBLEND_INVSRCALPHA);
    d->SetRenderState(D3DRS_ALPHATESTENABLE, TRUE);
    d->SetRenderState(D3DRS_ALPHAREF, 8);
    d->SetRenderState(D3DRS_ALPHAFUNC, D3DCMP_GREATEREQUAL);
    d->SetTextureStageState(0, D3DTSS_COLOROP, D3DTOP_MODULATE);
    d->SetTextureStageState(0, D3DTSS_ALPHAOP, D3DTOP_MODULATE);
    d->SetSamplerState(0, D3DSAMP_MINFILTER, D3DTEXF_POINT);
    d->SetSamplerState(0, D3DSAMP_MAGFILTER, D3DTEXF_POINT);
    d->SetSamplerState(0, D3DSAMP_MIPFILTER, D3DTEXF_NONE);
    std::vector<TlVertex> v;
    for (int g = 0; g < glyphs; ++g) {
      const int cell = (g * 37 + f) % 256;
      const float u = (cell % 16) / 16.0f, vv = (cell / 16) / 16.0f, du = 1 / 16.0f;
      const float x = 490.0f + (g % 12) * 12 - 0.5f, y = 10.0f + (g / 12) * 17 - 0.5f;
      const DWORD color = 0xFFFFFF80;
      // Clockwise triangles, as the font draws them.
      const TlVertex a{x, y, 0, 1, color, u, vv}, b{x + 16, y, 0, 1, color, u + du, vv};
      const TlVertex c{x, y + 16, 0, 1, color, u, vv + du}, e{x + 16, y + 16, 0, 1, color, u + du, vv + du};
      v.insert(v.end(), {a, b, c, b, e, c});
      if (v.size() == 6 * 50 || g + 1 == glyphs) {
        d->DrawPrimitiveUP(D3DPT_TRIANGLELIST, UINT(v.size() / 3), v.data(), sizeof(TlVertex));
        v.clear();
      }
    }
    d->SetRenderState(D3DRS_ALPHATESTENABLE, FALSE);
  }

  IDirect3DDevice9* m_dev = nullptr;
  Ref<IDirect3DVertexDeclaration9> m_decl;
  Ref<IDirect3DTexture9> m_background, m_tile, m_ball, m_enemy, m_square, m_lineVer, m_lineHor, m_snow1, m_snow2,
      m_wave, m_font;
  Ref<IDirect3DTexture9> m_target[2];
  Ref<IDirect3DSurface9> m_targetLevel[2];
  Ref<IDirect3DSurface9> m_depth[2];
  Ref<IDirect3DSurface9> m_back;
  Ref<IDirect3DSurface9> m_backDepth;
};

// A headless 640 x 480 device with a D16 depth surface.
inline IDirect3DDevice9* CreateDevice(IDirect3D9* d3d) {
  D3DPRESENT_PARAMETERS p = nura::test::WindowedParams();
  IDirect3DDevice9* dev = nullptr;
  if (FAILED(d3d->CreateDevice(0, D3DDEVTYPE_HAL, nullptr, D3DCREATE_HARDWARE_VERTEXPROCESSING, &p, &dev))) return nullptr;
  return dev;
}

}  // namespace playframe

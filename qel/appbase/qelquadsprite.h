// Quads of four pre-transformed vertices drawn as a triangle strip: a picture
// or a plain coloured rectangle (C_QuadSprite), and a quad whose texture is a
// render target the game draws into (C_RenderTargetSprite).
#pragma once

#include <string>

#include "gxl/math/records.h"
#include "platform/d3d9_api.h"
#include "qel/appbase/qeldeviceresource.h"

// A vertex with a screen position (FVF 0x144).
struct QuadVertex {
  float x, y, z, rhw;
  D3DCOLOR color;
  float u, v;
};
static_assert(sizeof(QuadVertex) == 28);

constexpr DWORD kQuadFvf = D3DFVF_XYZRHW | D3DFVF_DIFFUSE | D3DFVF_TEX1;

class C_QuadSprite : public C_DeviceResource {
 public:
  // Unsized (draws no pixels), no picture.
  C_QuadSprite();
  C_QuadSprite(float width, float height, D3DCOLOR color, float z);
  // A copy shares the texture with a reference of its own; it is not registered.
  C_QuadSprite(const C_QuadSprite& other);
  C_QuadSprite& operator=(const C_QuadSprite& other);
  ~C_QuadSprite() override;

  // Loads the picture when a name is set.
  void Restore() override;
  void Release() override;
  // Loads the picture by the framework's rule and takes the size of the
  // texture's level 0, opaque white, depth 0.
  virtual void LoadTexture();
  // Corners (0, 0) to (width, height) with texture coordinates 0 to 1.
  virtual void SetSize(float width, float height, D3DCOLOR color, float z);
  // Stores the name; loads at once when the device exists.
  virtual void SetFile(const char* name);

  // Offset by (x, y, z). Colour and alpha come from the texture alone, or from
  // the vertices when there is none; blended by source alpha. The device
  // state set here is left as it is.
  void Draw(float x, float y, float z = 0.0f);
  // The same with only red, green and blue written (the destination alpha stays).
  void DrawRgbOnly(float x, float y, float z = 0.0f);

  IDirect3DTexture9* GetTexture() const { return m_pTexture; }
  const std::string& GetFile() const { return m_strFile; }
  bool IsSized() const { return m_bSized != 0; }
  // Top-left, top-right, bottom-left, bottom-right.
  const QuadVertex* GetVertices() const { return m_aVertex; }

 protected:
  BYTE m_bSized = 0;
  std::string m_strFile;
  QuadVertex m_aVertex[4] = {};
  IDirect3DTexture9* m_pTexture = nullptr;

 private:
  void DrawQuad(float x, float y, float z, bool rgbOnly);
};

class C_RenderTargetSprite : public C_QuadSprite {
 public:
  C_RenderTargetSprite() = default;
  C_RenderTargetSprite(const C_RenderTargetSprite&) = delete;
  C_RenderTargetSprite& operator=(const C_RenderTargetSprite&) = delete;
  ~C_RenderTargetSprite() override;

  // Creates the target once sized.
  void Restore() override;
  // Releases the texture and every surface held.
  void Release() override;
  // A render-target texture of the size; stays null when it cannot be made.
  void LoadTexture() override;
  // Also creates the target at once when the device exists.
  void SetSize(float width, float height, D3DCOLOR color, float z) override;

  // Makes the texture the device's render target with a depth surface of its
  // own and a viewport of its size, optionally cleared to transparent white.
  // Fails quietly; when anything fails the device keeps its target.
  void BeginTarget(bool clear);
  // Gives the device its target, depth surface and viewport back.
  void EndTarget();

  bool IsTargetActive() const { return m_bTargetActive != 0; }
  int GetTargetWidth() const { return m_nTargetWidth; }
  int GetTargetHeight() const { return m_nTargetHeight; }

 private:
  // Puts back what BeginTarget saved and releases every surface it holds.
  void RestoreSavedTarget();

  IDirect3DSurface9* m_pSavedTarget = nullptr;
  IDirect3DSurface9* m_pSavedDepth = nullptr;
  IDirect3DSurface9* m_pTargetSurface = nullptr;
  IDirect3DSurface9* m_pDepthSurface = nullptr;
  Viewport m_SavedViewport = {};
  BYTE m_bTargetActive = 0;
  int m_nTargetWidth = 0;
  int m_nTargetHeight = 0;
};

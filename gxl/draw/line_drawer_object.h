// The line drawer's object: its properties, pattern texture, buffers and
// bracket (line_drawer.cpp) and its drawing and batching (line_drawing.cpp).
// Only those files see it.
#pragma once

#include <cstdint>

#include "gxl/draw/drawing_object.h"
#include "gxl/draw/line_drawer.h"

namespace gxl {

// A line vertex: position, colour and pattern coordinates (u along the line,
// v across it).
using LineVertex = DrawVertex;

// Slots of the vertex ring: quads in quad mode, vertices in strip mode.
constexpr std::uint32_t kLineSlots = 512;
constexpr std::uint32_t kQuadIndexCount = kLineSlots * 6;
constexpr DWORD kSolidPattern = 0xFFFFFFFF;

// Fills the 64 x 64 A8 pattern texture: u runs along the line (two texels a
// pattern bit), v across it (an alpha profile mirrored about the middle).
HRESULT BuildStippleTexture(IDirect3DTexture9* texture, DWORD pattern, bool smoothing, float width);

class LineDrawerObject final : public DrawingObject<LineDrawer> {
 public:
  HRESULT Init(IDirect3DDevice9* device);

  HRESULT QueryInterface(REFIID iid, void** out) override;
  HRESULT BeginLines() override;
  HRESULT DrawPolyline(const Vec2* points, UINT count, D3DCOLOR color) override;
  HRESULT DrawPolylineTransformed(const Vec3* points, UINT count, const Matrix4* matrix, D3DCOLOR color) override;
  HRESULT SetStipple(DWORD pattern) override;
  DWORD GetStipple() override { return m_pattern; }
  HRESULT SetStippleScale(float scale) override;
  float GetStippleScale() override { return m_patternScale; }
  HRESULT SetLineWidth(float width) override;
  float GetLineWidth() override { return m_width; }
  HRESULT SetSmoothing(BOOL smoothing) override;
  BOOL GetSmoothing() override { return m_smoothing; }
  HRESULT SetAltQuadMode(BOOL on) override;
  BOOL GetAltQuadMode() override { return m_altQuads; }
  HRESULT EndLines() override;
  HRESULT OnDeviceLost() override;
  HRESULT OnDeviceReset() override;

 private:
  ~LineDrawerObject() override;

  // line_drawer.cpp: what a bracket makes before it opens.
  HRESULT PreparePatternTexture();
  HRESULT PrepareIndexBuffer();
  HRESULT PrepareVertexBuffer();
  void RecordStateList(bool saved);

  // line_drawing.cpp
  template <class Point>
  HRESULT DrawPoints(const Point* points, UINT count, const Matrix4* matrix, D3DCOLOR color);
  template <class Point>
  HRESULT DrawBatches(const Point* points, UINT count, const Matrix4* matrix, D3DCOLOR color);
  UINT BuildQuads(const Vec3* points, UINT count, D3DCOLOR color, LineVertex* out) const;
  UINT BuildStrip(const Vec3* points, UINT count, bool transformed, D3DCOLOR color, LineVertex* out) const;

  ComRef<IDirect3DTexture9> m_patternTexture;
  DWORD m_builtPattern = 0;
  bool m_builtSmoothing = false;
  float m_builtWidth = 0.0f;  // 0: nothing built
  ComRef<IDirect3DIndexBuffer9> m_savedIndices;
  ComRef<IDirect3DStateBlock9> m_savedState;
  ComRef<IDirect3DStateBlock9> m_drawingState;
  ComRef<IDirect3DVertexBuffer9> m_vertexBuffer;
  std::uint32_t m_cursor = kLineSlots;  // next free slot; kLineSlots: full
  std::uint32_t m_capacity = 0;         // vertices
  std::uint32_t m_stride = 0;
  ComRef<IDirect3DIndexBuffer9> m_indexBuffer;
  std::uint32_t m_indexCount = 0;
  bool m_inBracket = false;

  bool m_blendCaps = false;
  DWORD m_lineAntialiasCaps = 0;
  DWORD m_pattern = kSolidPattern;
  float m_patternScale = 1.0f;
  float m_patternStep = 1.0f / 32.0f;  // texture u per pixel of line
  float m_width = 1.0f;
  bool m_targetBlends = true;
  bool m_smoothing = false;
  bool m_altQuads = false;
  bool m_stripMode = false;
};

}  // namespace gxl

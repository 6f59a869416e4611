// Draw calls and Present: the argument and state rules, then the hand-off to
// the rasteriser. Nothing is read outside a buffer or a caller's array: every
// vertex an index can reach is checked first.
#include <cstring>

#include "backend/backend.h"
#include "d3d9/buffers.h"
#include "d3d9/call_log.h"
#include "d3d9/config.h"
#include "d3d9/device.h"
#include "d3d9/surface.h"
#include "d3d9/texture.h"
#include "testing/failure.h"

namespace platform::d3d9 {

struct Device::DrawSource {
  bool user = false;  // vertices (and indices) from caller memory
  const void* userVertices = nullptr;
  UINT userStride = 0;
  UINT startVertex = 0;
  bool indexed = false;
  const void* userIndices = nullptr;
  D3DFORMAT userIndexFormat = D3DFMT_UNKNOWN;
  INT baseVertex = 0;
  UINT minVertexIndex = 0;
  UINT numVertices = 0;
  UINT startIndex = 0;
};

namespace {

// Vertices (or indices) a primitive list reads; 0 for an unknown type.
std::uint64_t VerticesFor(D3DPRIMITIVETYPE type, std::uint64_t primitives) {
  switch (type) {
    case D3DPT_POINTLIST: return primitives;
    case D3DPT_LINELIST: return primitives * 2;
    case D3DPT_LINESTRIP: return primitives + 1;
    case D3DPT_TRIANGLELIST: return primitives * 3;
    case D3DPT_TRIANGLESTRIP:
    case D3DPT_TRIANGLEFAN: return primitives + 2;
    default: return 0;
  }
}

HRESULT Refuse(const char* diagnostic) {
  platform::detail::CountDiagnostic(diagnostic);
  return D3DERR_INVALIDCALL;
}

template <class T>
void ScanIndices(const void* data, UINT count, UINT* lo, UINT* hi) {
  const auto* p = static_cast<const std::uint8_t*>(data);
  UINT mn = 0xFFFFFFFFu, mx = 0;
  for (UINT i = 0; i < count; ++i) {
    T v;
    std::memcpy(&v, p + std::size_t(i) * sizeof(T), sizeof(T));
    if (v < mn) mn = v;
    if (v > mx) mx = v;
  }
  *lo = mn;
  *hi = mx;
}

}  // namespace

const VertexLayout* Device::CurrentLayout() {
  if (m_state.declaration) return &m_state.declaration->Layout();
  if (m_state.fvf == 0) return nullptr;
  if (!m_layoutValid || m_layoutFvf != m_state.fvf) {
    if (!LayoutFromFvf(m_state.fvf, &m_fvfLayout)) return nullptr;
    m_layoutFvf = m_state.fvf;
    m_layoutValid = true;
  }
  return &m_fvfLayout;
}

HRESULT Device::Draw(const char* method, D3DPRIMITIVETYPE type, UINT primitiveCount, DrawSource& src) {
  if (m_recording) return Refuse("d3d9.draw-while-recording");
  if (!m_inScene) return Refuse("d3d9.draw-outside-scene");
  const std::uint64_t vertexCount = VerticesFor(type, primitiveCount);
  if (type < D3DPT_POINTLIST || type > D3DPT_TRIANGLEFAN) return D3DERR_INVALIDCALL;
  if (primitiveCount == 0) return D3D_OK;
  if (primitiveCount > Caps().MaxPrimitiveCount) return D3DERR_INVALIDCALL;
  const VertexLayout* layout = CurrentLayout();
  if (!layout) return D3DERR_INVALIDCALL;

  DrawRequest req{};
  req.type = type;
  req.primitiveCount = primitiveCount;
  req.vertexCount = static_cast<UINT>(vertexCount);
  req.layout = layout;
  req.state = &m_state;

  // Indices: where they come from and the range of vertices they reach.
  std::uint64_t lastVertex = 0;  // the last vertex any stream is read at
  if (src.indexed) {
    const void* indexData;
    std::uint64_t available;
    if (src.user) {
      if (!src.userIndices || (src.userIndexFormat != D3DFMT_INDEX16 && src.userIndexFormat != D3DFMT_INDEX32))
        return D3DERR_INVALIDCALL;
      req.indexSize = src.userIndexFormat == D3DFMT_INDEX32 ? 4 : 2;
      indexData = src.userIndices;
      available = vertexCount;
    } else {
      IndexBuffer* ib = m_state.indices;
      if (!ib) return D3DERR_INVALIDCALL;
      if (ib->Locked()) return Refuse("d3d9.draw-locked-resource");
      req.indexSize = ib->IndexSize();
      const std::uint64_t total = ib->Size() / req.indexSize;
      if (src.startIndex > total) return D3DERR_INVALIDCALL;
      available = total - src.startIndex;
      indexData = ib->Data() + std::size_t(src.startIndex) * req.indexSize;
    }
    if (vertexCount > available) return D3DERR_INVALIDCALL;
    if (req.indexSize == 4)
      ScanIndices<std::uint32_t>(indexData, req.vertexCount, &req.minIndex, &req.maxIndex);
    else
      ScanIndices<std::uint16_t>(indexData, req.vertexCount, &req.minIndex, &req.maxIndex);
    req.indices = indexData;
    req.baseVertex = src.user ? 0 : src.baseVertex;
    const std::int64_t lo = std::int64_t(req.minIndex) + req.baseVertex;
    const std::int64_t hi = std::int64_t(req.maxIndex) + req.baseVertex;
    if (lo < 0) return D3DERR_INVALIDCALL;
    // Caller arrays are only known to hold the vertices the hints name.
    if (src.user && (req.minIndex < src.minVertexIndex ||
                     std::uint64_t(req.maxIndex) >= std::uint64_t(src.minVertexIndex) + src.numVertices))
      return D3DERR_INVALIDCALL;
    lastVertex = static_cast<std::uint64_t>(hi);
  } else {
    req.firstVertex = src.startVertex;
    lastVertex = std::uint64_t(src.startVertex) + vertexCount - 1;
  }

  // Streams: every one the layout reads must hold every vertex reached.
  for (UINT i = 0; i < kStreamCount; ++i) {
    const UINT extent = layout->streamExtent[i];
    if (extent == 0) continue;
    StreamData& data = req.streams[i];
    if (src.user) {
      if (i != 0 || !src.userVertices || src.userStride == 0 || src.userStride < extent) return D3DERR_INVALIDCALL;
      const std::uint64_t count = src.indexed ? std::uint64_t(src.minVertexIndex) + src.numVertices : vertexCount;
      data.data = static_cast<const std::uint8_t*>(src.userVertices);
      data.size = static_cast<std::size_t>(count * src.userStride);
      data.stride = src.userStride;
    } else {
      const StreamBinding& b = m_state.streams[i];
      if (!b.buffer) return D3DERR_INVALIDCALL;
      if (b.buffer->Locked()) return Refuse("d3d9.draw-locked-resource");
      if (b.offset > b.buffer->Size()) return D3DERR_INVALIDCALL;
      data.data = b.buffer->Data() + b.offset;
      data.size = b.buffer->Size() - b.offset;
      data.stride = b.stride;
    }
    if (lastVertex * data.stride + extent > data.size) return D3DERR_INVALIDCALL;
  }

  // Targets and textures.
  Surface* target = m_renderTarget;
  if (target->Locked()) return Refuse("d3d9.draw-locked-resource");
  if (m_depthStencil) {
    if (m_depthStencil->Width() < target->Width() || m_depthStencil->Height() < target->Height())
      return Refuse("d3d9.depth-smaller-than-target");
    if (m_depthStencil->Locked()) return Refuse("d3d9.draw-locked-resource");
  }
  for (UINT stage = 0; stage < kStageCount; ++stage) {
    if (m_state.stageStates[stage][D3DTSS_COLOROP] == D3DTOP_DISABLE) break;
    const BaseTexture* t = m_state.textures[stage];
    if (!t) continue;
    if (t->AnyLevelLocked()) return Refuse("d3d9.draw-locked-resource");
    if (target->Container() == t) return Refuse("d3d9.sample-render-target");
  }
  HRESULT hr;
  if (platform::detail::ShouldFail(method, &hr)) return hr;

  req.target = target;
  req.depth = m_depthStencil;
  m_raster->Draw(req);
  target->MarkDirty();

  if (src.user) {
    // Drawing from caller memory leaves stream 0 (and the indices) unset.
    StreamBinding& s0 = m_state.streams[0];
    Rebind(s0.buffer, static_cast<VertexBuffer*>(nullptr));
    s0.offset = s0.stride = 0;
    if (src.indexed) Rebind(m_state.indices, static_cast<IndexBuffer*>(nullptr));
  }
  return D3D_OK;
}

HRESULT Device::DrawPrimitive(D3DPRIMITIVETYPE type, UINT startVertex, UINT primitiveCount) {
  DrawSource src;
  src.startVertex = startVertex;
  D3D9_RETURN("DrawPrimitive", Draw("DrawPrimitive", type, primitiveCount, src), type, startVertex, primitiveCount);
}

HRESULT Device::DrawIndexedPrimitive(D3DPRIMITIVETYPE type, INT baseVertexIndex, UINT minVertexIndex,
                                     UINT numVertices, UINT startIndex, UINT primitiveCount) {
  DrawSource src;
  src.indexed = true;
  src.baseVertex = baseVertexIndex;
  src.minVertexIndex = minVertexIndex;
  src.numVertices = numVertices;
  src.startIndex = startIndex;
  D3D9_RETURN("DrawIndexedPrimitive", Draw("DrawIndexedPrimitive", type, primitiveCount, src), type,
              baseVertexIndex, minVertexIndex, numVertices, startIndex, primitiveCount);
}

HRESULT Device::DrawPrimitiveUP(D3DPRIMITIVETYPE type, UINT primitiveCount, const void* vertices, UINT stride) {
  DrawSource src;
  src.user = true;
  src.userVertices = vertices;
  src.userStride = stride;
  D3D9_RETURN("DrawPrimitiveUP", Draw("DrawPrimitiveUP", type, primitiveCount, src), type, primitiveCount, vertices,
              stride);
}

HRESULT Device::DrawIndexedPrimitiveUP(D3DPRIMITIVETYPE type, UINT minVertexIndex, UINT numVertices,
                                       UINT primitiveCount, const void* indices, D3DFORMAT indexFormat,
                                       const void* vertices, UINT stride) {
  DrawSource src;
  src.user = true;
  src.indexed = true;
  src.userVertices = vertices;
  src.userStride = stride;
  src.userIndices = indices;
  src.userIndexFormat = indexFormat;
  src.minVertexIndex = minVertexIndex;
  src.numVertices = numVertices;
  D3D9_RETURN("DrawIndexedPrimitiveUP", Draw("DrawIndexedPrimitiveUP", type, primitiveCount, src), type,
              minVertexIndex, numVertices, primitiveCount, indices, indexFormat, vertices, stride);
}

HRESULT Device::Present(const RECT* sourceRect, const RECT* destRect, HWND destWindow, const void* dirtyRegion) {
  HRESULT hr = D3D_OK;
  Surface* back = m_backBuffers.front();
  if (sourceRect || destRect || destWindow || dirtyRegion || m_inScene || back->Locked()) {
    hr = D3DERR_INVALIDCALL;
  } else if (GetConfig().deviceLost) {
    hr = D3DERR_DEVICELOST;
  } else if (!platform::detail::ShouldFail("Present", &hr)) {
    m_raster->Present(*back);
    // The back buffer's memory is 0xAARRGGBB texels, what the backend shows.
    platform::backend::PresentFrame(reinterpret_cast<const std::uint32_t*>(back->Bits()),
                                    static_cast<int>(back->Width()), static_cast<int>(back->Height()),
                                    static_cast<int>(back->Pitch()));
    ++m_presents;
    if (GetConfig().backBufferPoison) {
      const std::uint8_t magenta[4] = {0xFF, 0x00, 0xFF, 0xFF};
      for (UINT y = 0; y < back->Height(); ++y)
        FillPattern(back->Bits() + std::size_t(y) * back->Pitch(), magenta, 4, back->Width());
    }
  }
  D3D9_RETURN("Present", hr, sourceRect, destRect, destWindow ? "window" : "null", dirtyRegion);
}

}  // namespace platform::d3d9

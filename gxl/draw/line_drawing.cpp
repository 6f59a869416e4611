// The line drawer's draws: poly-lines cut into batches that fit the vertex
// ring, each batch written with one lock and drawn with one call, as quads
// with pattern coordinates or as a device line strip.
#include <cmath>
#include <type_traits>

#include "gxl/draw/line_drawer_object.h"
#include "gxl/math/vector.h"

namespace gxl {

namespace {

// Pattern coordinates: u starts half a pattern bit in, v runs across the
// line from just inside one edge of the texture to the other.
constexpr float kFirstU = 0.015625f;
constexpr float kNearV = 0.0078125f;
constexpr float kFarV = 1.0078125f;
constexpr UINT kQuadVertices = 4;
// The ring starts over before a batch would have room for a single segment.
constexpr std::uint32_t kRestartSlot = kLineSlots - 1;

void ToPixels(const Vec2* points, UINT count, const Matrix4*, IDirect3DDevice9*, Vec3* out) {
  for (UINT i = 0; i < count; ++i) out[i] = Vec3(points[i].x, points[i].y, 0.0f);
}

// Through the matrix and the viewport, relative to the viewport's corner as
// the bracket's projection counts.
void ToPixels(const Vec3* points, UINT count, const Matrix4* matrix, IDirect3DDevice9* device, Vec3* out) {
  D3DVIEWPORT9 vp{};
  device->GetViewport(&vp);
  const float sx = static_cast<float>(vp.Width) * 0.5f, ox = sx;
  const float sy = static_cast<float>(vp.Height) * -0.5f, oy = static_cast<float>(vp.Height) + sy;
  const float sz = vp.MaxZ - vp.MinZ, oz = vp.MinZ;
  for (UINT i = 0; i < count; ++i) {
    Vec4 q(points[i].x, points[i].y, points[i].z, 1.0f);
    if (matrix) {
      Vec4Transform(&q, &q, matrix);
      const float r = 1.0f / q.w;
      q.x *= r;
      q.y *= r;
      q.z *= r;
    }
    out[i] = Vec3(sx * q.x + ox, sy * q.y + oy, sz * q.z + oz);
  }
}

LineVertex MakeVertex(float x, float y, float z, D3DCOLOR color, float u, float v) { return {x, y, z, color, u, v}; }

}  // namespace

UINT LineDrawerObject::BuildQuads(const Vec3* p, UINT count, D3DCOLOR color, LineVertex* out) const {
  const float h = m_smoothing ? 0.5f * (m_width + 1.0f) : 0.5f * m_width;
  const bool alternative = !m_smoothing && m_altQuads;
  float u = kFirstU;
  UINT n = 0;
  for (UINT i = 0; i + 1 < count; ++i) {
    const float dx = p[i + 1].x - p[i].x, dy = p[i + 1].y - p[i].y;
    if (dx == 0.0f && dy == 0.0f) continue;
    const bool yMajor = std::fabs(dx) < std::fabs(dy);
    // F is the end from which the major axis runs forward.
    const bool forward = (yMajor ? dy : dx) >= 0.0f;
    const Vec3& f = forward ? p[i] : p[i + 1];
    const Vec3& s = forward ? p[i + 1] : p[i];
    const float euclidean = std::sqrt(dx * dx + dy * dy);
    const float length = alternative ? std::fabs(yMajor ? dy : dx) : euclidean;
    const float ua = u, ub = u + length * m_patternStep;
    const float uf = forward ? ua : ub, us = forward ? ub : ua;

    float ox, oy;  // the offset of Q0 and Q1; Q2 and Q3 lie on the other side
    if (!alternative) {
      const float k = h / euclidean;
      ox = k * (s.y - f.y);
      oy = -k * (s.x - f.x);
    } else {
      ox = yMajor ? h : 0.0f;
      oy = yMajor ? 0.0f : -h;
    }
    out[n++] = MakeVertex(f.x + ox, f.y + oy, f.z, color, uf, kNearV);
    out[n++] = MakeVertex(s.x + ox, s.y + oy, s.z, color, us, kNearV);
    out[n++] = MakeVertex(f.x - ox, f.y - oy, f.z, color, uf, kFarV);
    out[n++] = MakeVertex(s.x - ox, s.y - oy, s.z, color, us, kFarV);
    u = ub - std::floor(ub);
  }
  return n;
}

// Screen points equal to their successor are dropped; transformed points are
// all kept.
UINT LineDrawerObject::BuildStrip(const Vec3* p, UINT count, bool transformed, D3DCOLOR color, LineVertex* out) const {
  UINT n = 0;
  for (UINT i = 0; i + 1 < count; ++i)
    if (transformed || p[i].x != p[i + 1].x || p[i].y != p[i + 1].y)
      out[n++] = MakeVertex(p[i].x, p[i].y, p[i].z, color, 0.0f, 0.0f);
  if (n > 0) out[n++] = MakeVertex(p[count - 1].x, p[count - 1].y, p[count - 1].z, color, 0.0f, 0.0f);
  return n;
}

template <class Point>
HRESULT LineDrawerObject::DrawBatches(const Point* points, UINT count, const Matrix4* matrix, D3DCOLOR color) {
  constexpr bool kTransformed = std::is_same_v<Point, Vec3>;
  const UINT slotBytes = (m_stripMode ? 1 : kQuadVertices) * sizeof(LineVertex);
  IDirect3DDevice9* d = m_device.Get();
  Vec3 pixels[kLineSlots];
  UINT remaining = count;
  while (remaining != 0) {
    // Appended without waiting for earlier draws; a full ring starts over.
    DWORD flags = D3DLOCK_NOOVERWRITE;
    if (m_cursor >= kRestartSlot) {
      m_cursor = 0;
      flags = D3DLOCK_DISCARD;
    }
    const UINT room = kLineSlots - m_cursor;
    UINT take = remaining;
    // A cut poly-line goes on from the batch's last point.
    if (remaining > room) {
      take = room;
      ++remaining;
    }
    void* data = nullptr;
    HRESULT hr = m_vertexBuffer->Lock(m_cursor * slotBytes, take * slotBytes, &data, flags);
    if (FAILED(hr)) return hr;
    ToPixels(points, take, matrix, d, pixels);
    auto* out = static_cast<LineVertex*>(data);
    const UINT n =
        m_stripMode ? BuildStrip(pixels, take, kTransformed, color, out) : BuildQuads(pixels, take, color, out);
    m_vertexBuffer->Unlock();
    if (m_stripMode) {
      if (n >= 2) hr = d->DrawPrimitive(D3DPT_LINESTRIP, m_cursor, n - 1);
    } else if (n >= kQuadVertices) {
      hr = d->DrawIndexedPrimitive(D3DPT_TRIANGLELIST, 0, m_cursor * kQuadVertices, n, m_cursor * 6, n / 2);
    }
    if (FAILED(hr)) return hr;
    m_cursor += take;
    points += take - 1;
    remaining -= take;
  }
  return S_OK;
}

template <class Point>
HRESULT LineDrawerObject::DrawPoints(const Point* points, UINT count, const Matrix4* matrix, D3DCOLOR color) {
  if (!points || count < 2) return D3DERR_INVALIDCALL;
  const bool ownBracket = !m_inBracket;
  if (ownBracket) {
    const HRESULT hr = BeginLines();
    if (FAILED(hr)) return hr;
  }
  // A device lost inside the caller's bracket left nothing to draw with.
  const HRESULT hr = m_vertexBuffer ? DrawBatches(points, count, matrix, color) : D3DERR_INVALIDCALL;
  if (ownBracket) EndLines();
  return hr;
}

HRESULT LineDrawerObject::DrawPolyline(const Vec2* points, UINT count, D3DCOLOR color) {
  return DrawPoints(points, count, nullptr, color);
}

HRESULT LineDrawerObject::DrawPolylineTransformed(const Vec3* points, UINT count, const Matrix4* matrix,
                                                  D3DCOLOR color) {
  return DrawPoints(points, count, matrix, color);
}

}  // namespace gxl

#include "d3d9/raster/geometry.h"

#include <cmath>
#include <cstring>

#include "d3d9/raster/raster.h"
#include "d3d9/vertex_decl.h"

namespace platform::d3d9::raster {
namespace {

// An element as four floats; absent components read (0, 0, 0, 1).
void ReadFloat4(const std::uint8_t* p, BYTE type, float out[4]) {
  out[0] = out[1] = out[2] = 0.0f;
  out[3] = 1.0f;
  switch (type) {
    case D3DDECLTYPE_FLOAT4: out[3] = Load<float>(p + 12); [[fallthrough]];
    case D3DDECLTYPE_FLOAT3: out[2] = Load<float>(p + 8); [[fallthrough]];
    case D3DDECLTYPE_FLOAT2: out[1] = Load<float>(p + 4); [[fallthrough]];
    case D3DDECLTYPE_FLOAT1: out[0] = Load<float>(p); break;
    case D3DDECLTYPE_D3DCOLOR: {
      const std::uint32_t c = Load<std::uint32_t>(p);
      out[0] = float(c >> 16 & 0xFF) / 255.0f;
      out[1] = float(c >> 8 & 0xFF) / 255.0f;
      out[2] = float(c & 0xFF) / 255.0f;
      out[3] = float(c >> 24) / 255.0f;
      break;
    }
    case D3DDECLTYPE_UBYTE4:
    case D3DDECLTYPE_UBYTE4N:
      for (int i = 0; i < 4; ++i) out[i] = type == D3DDECLTYPE_UBYTE4 ? float(p[i]) : float(p[i]) / 255.0f;
      break;
    case D3DDECLTYPE_SHORT2:
    case D3DDECLTYPE_SHORT4:
    case D3DDECLTYPE_SHORT2N:
    case D3DDECLTYPE_SHORT4N: {
      const int n = type == D3DDECLTYPE_SHORT2 || type == D3DDECLTYPE_SHORT2N ? 2 : 4;
      const bool norm = type == D3DDECLTYPE_SHORT2N || type == D3DDECLTYPE_SHORT4N;
      for (int i = 0; i < n; ++i) {
        const float v = Load<std::int16_t>(p + 2 * i);
        out[i] = norm ? std::fmax(v / 32767.0f, -1.0f) : v;
      }
      break;
    }
    case D3DDECLTYPE_USHORT2N:
    case D3DDECLTYPE_USHORT4N: {
      const int n = type == D3DDECLTYPE_USHORT2N ? 2 : 4;
      for (int i = 0; i < n; ++i) out[i] = Load<std::uint16_t>(p + 2 * i) / 65535.0f;
      break;
    }
    default: break;  // packed and half types are not used by any caller
  }
}

// A colour element as B, G, R, A in 0-255.
void ReadColour(const std::uint8_t* p, BYTE type, float out[4]) {
  if (type == D3DDECLTYPE_D3DCOLOR) {
    const std::uint32_t c = Load<std::uint32_t>(p);
    for (int i = 0; i < 4; ++i) out[i] = float(c >> (8 * i) & 0xFF);
    return;
  }
  float f[4];
  ReadFloat4(p, type, f);
  const float rgba[4] = {f[2], f[1], f[0], f[3]};
  for (int i = 0; i < 4; ++i) {
    const float v = rgba[i] * 255.0f;
    out[i] = v > 0.0f ? (v < 255.0f ? std::nearbyint(v) : 255.0f) : 0.0f;
  }
}

}  // namespace

void Geometry::Begin(const DrawRequest& r, int attrs) {
  m_request = &r;
  m_attrs = attrs;
  m_transformed = r.layout->transformed;
  m_position = m_diffuse = m_specular = Element{};
  for (Element& t : m_tex) t = Element{};
  for (const D3DVERTEXELEMENT9& e : r.layout->elements) {
    const StreamData& s = r.streams[e.Stream];
    const Element el{s.data + e.Offset, s.stride, e.Type};
    if ((e.Usage == D3DDECLUSAGE_POSITION || e.Usage == D3DDECLUSAGE_POSITIONT) && e.UsageIndex == 0)
      m_position = el;
    else if (e.Usage == D3DDECLUSAGE_COLOR && e.UsageIndex == 0)
      m_diffuse = el;
    else if (e.Usage == D3DDECLUSAGE_COLOR && e.UsageIndex == 1)
      m_specular = el;
    else if (e.Usage == D3DDECLUSAGE_TEXCOORD && e.UsageIndex < 8)
      m_tex[e.UsageIndex] = el;
  }

  const DeviceState& st = *r.state;
  const D3DVIEWPORT9& vp = st.viewport;
  m_viewport[0] = vp.X;
  m_viewport[1] = vp.Y;
  m_viewport[2] = vp.Width;
  m_viewport[3] = vp.Height;
  m_viewport[4] = vp.MinZ;
  m_viewport[5] = vp.MaxZ;
  std::memset(m_planes, 0, sizeof m_planes);
  if (m_transformed) {
    // Screen coordinates: x >= -G, x <= G, y >= -G, y <= G.
    const double planes[4][5] = {{1, 0, 0, 0, kGuardBand}, {-1, 0, 0, 0, kGuardBand}, {0, 1, 0, 0, kGuardBand},
                                 {0, -1, 0, 0, kGuardBand}};
    std::memcpy(m_planes, planes, sizeof planes);
    m_planeCount = 4;
  } else {
    // The guard band in clip space: x / w between xl and xr, y / w between yb and yt.
    const double W = vp.Width ? vp.Width : 1, H = vp.Height ? vp.Height : 1;
    const double xl = (-kGuardBand - vp.X) * 2 / W - 1, xr = (kGuardBand - vp.X) * 2 / W - 1;
    const double yb = 1 - (kGuardBand - vp.Y) * 2 / H, yt = 1 - (-kGuardBand - vp.Y) * 2 / H;
    const double planes[7][5] = {{1, 0, 0, -xl, 0}, {-1, 0, 0, xr, 0},  {0, 1, 0, -yb, 0}, {0, -1, 0, yt, 0},
                                 {0, 0, 0, 1, -1e-9}, {0, 0, 1, 0, 0}, {0, 0, -1, 1, 0}};
    std::memcpy(m_planes, planes, sizeof planes);
    m_clipDepth = st.renderStates[D3DRS_CLIPPING] != FALSE;
    m_planeCount = m_clipDepth ? 7 : 5;
    // World x View x Projection, row vectors.
    double a[4][4], b[4][4];
    const D3DMATRIX& world = st.transforms[kWorldSlot];
    const D3DMATRIX& view = st.transforms[kViewSlot];
    const D3DMATRIX& proj = st.transforms[kProjectionSlot];
    for (int i = 0; i < 4; ++i)
      for (int j = 0; j < 4; ++j) {
        double s = 0;
        for (int k = 0; k < 4; ++k) s += double(world.m[i][k]) * view.m[k][j];
        a[i][j] = s;
      }
    for (int i = 0; i < 4; ++i)
      for (int j = 0; j < 4; ++j) {
        double s = 0;
        for (int k = 0; k < 4; ++k) s += a[i][k] * double(proj.m[k][j]);
        b[i][j] = s;
      }
    std::memcpy(m_matrix, b, sizeof b);
  }

  // Transformed vertices are kept for the draw when its index range is compact.
  std::int64_t first, count;
  if (r.indices) {
    first = std::int64_t(r.minIndex) + r.baseVertex;
    count = std::int64_t(r.maxIndex) - r.minIndex + 1;
  } else {
    first = r.firstVertex;
    count = r.vertexCount;
  }
  m_cacheBase = first;
  if (count <= 2 * std::int64_t(r.vertexCount) + 64 && r.vertexCount > 3) {
    m_cache.resize(static_cast<std::size_t>(count));
    m_cacheOutside.resize(static_cast<std::size_t>(count));
    m_cached.assign(static_cast<std::size_t>(count), 0);
  } else {
    m_cached.clear();
  }
}

UINT Geometry::VertexIndex(UINT n) const {
  const DrawRequest& r = *m_request;
  if (!r.indices) return r.firstVertex + n;
  const auto* p = static_cast<const std::uint8_t*>(r.indices);
  const UINT index = r.indexSize == 4 ? Load<std::uint32_t>(p + std::size_t(n) * 4) : Load<std::uint16_t>(p + std::size_t(n) * 2);
  return static_cast<UINT>(std::int64_t(index) + r.baseVertex);
}

void Geometry::Fetch(UINT index, Vertex* v) const {
  float pos[4] = {0, 0, 0, 1};
  if (m_position.data) ReadFloat4(m_position.data + std::size_t(index) * m_position.stride, m_position.type, pos);
  if (m_diffuse.data) {
    ReadColour(m_diffuse.data + std::size_t(index) * m_diffuse.stride, m_diffuse.type, v->a + kDiffuse);
  } else {
    for (int i = 0; i < 4; ++i) v->a[kDiffuse + i] = 255.0f;  // missing diffuse reads white
  }
  if (m_specular.data) {
    ReadColour(m_specular.data + std::size_t(index) * m_specular.stride, m_specular.type, v->a + kSpecular);
  } else {
    for (int i = 0; i < 4; ++i) v->a[kSpecular + i] = 0.0f;
  }
  for (int set = 0; kTexCoord + 2 * set < m_attrs; ++set) {
    float uv[4] = {0, 0, 0, 1};
    if (m_tex[set].data) ReadFloat4(m_tex[set].data + std::size_t(index) * m_tex[set].stride, m_tex[set].type, uv);
    v->a[kTexCoord + 2 * set] = uv[0];
    v->a[kTexCoord + 2 * set + 1] = uv[1];
  }
  if (m_transformed) {
    // Screen x, y, z and reciprocal w; an unusable rhw counts as 1.
    v->x = pos[0];
    v->y = pos[1];
    v->z = pos[2];
    v->w = pos[3] > 0.0f && std::isfinite(pos[3]) ? 1.0 / double(pos[3]) : 1.0;
    return;
  }
  const double in[4] = {pos[0], pos[1], pos[2], m_position.type == D3DDECLTYPE_FLOAT4 ? pos[3] : 1.0};
  double out[4];
  for (int j = 0; j < 4; ++j)
    out[j] = in[0] * m_matrix[0][j] + in[1] * m_matrix[1][j] + in[2] * m_matrix[2][j] + in[3] * m_matrix[3][j];
  v->x = out[0];
  v->y = out[1];
  v->z = out[2];
  v->w = out[3];
}

double Geometry::PlaneDistance(const Vertex& v, int i) const {
  const double* p = m_planes[i];
  return p[0] * v.x + p[1] * v.y + p[2] * v.z + p[3] * v.w + p[4];
}

std::uint32_t Geometry::Outcode(const Vertex& v) const {
  if (!std::isfinite(v.x) || !std::isfinite(v.y) || !std::isfinite(v.z) || !std::isfinite(v.w)) return kInvalid;
  std::uint32_t code = 0;
  for (int i = 0; i < m_planeCount; ++i)
    if (PlaneDistance(v, i) < 0) code |= 1u << i;
  return code;
}

std::uint32_t Geometry::Get(UINT n, Vertex* out) {
  const UINT index = VertexIndex(n);
  if (!m_cached.empty()) {
    const std::size_t slot = static_cast<std::size_t>(std::int64_t(index) - m_cacheBase);
    if (!m_cached[slot]) {
      Fetch(index, &m_cache[slot]);
      m_cacheOutside[slot] = Outcode(m_cache[slot]);
      m_cached[slot] = 1;
    }
    std::memcpy(out, &m_cache[slot], sizeof(double) * 4 + sizeof(float) * m_attrs);
    return m_cacheOutside[slot];
  }
  Fetch(index, out);
  return Outcode(*out);
}

void Geometry::Lerp(const Vertex& a, const Vertex& b, double t, Vertex* out) const {
  out->x = a.x + (b.x - a.x) * t;
  out->y = a.y + (b.y - a.y) * t;
  out->z = a.z + (b.z - a.z) * t;
  if (!m_transformed) {
    // Attributes are linear in clip space.
    out->w = a.w + (b.w - a.w) * t;
    for (int i = 0; i < m_attrs; ++i) out->a[i] = static_cast<float>(a.a[i] + (double(b.a[i]) - a.a[i]) * t);
    return;
  }
  // Screen space: 1/w and attribute/w are linear.
  const double qa = 1.0 / a.w, qb = 1.0 / b.w, q = qa + (qb - qa) * t;
  out->w = 1.0 / q;
  for (int i = 0; i < m_attrs; ++i)
    out->a[i] = static_cast<float>((a.a[i] * qa + (b.a[i] * qb - a.a[i] * qa) * t) / q);
}

int Geometry::ClipTriangle(const Vertex* const tri[3], std::uint32_t outside, Vertex* polygon) const {
  Vertex buffers[2][kMaxPolygon];
  int count = 3;
  for (int i = 0; i < 3; ++i) buffers[0][i] = *tri[i];
  int cur = 0;
  for (int plane = 0; plane < m_planeCount && count > 0; ++plane) {
    if (!(outside & (1u << plane))) continue;
    const Vertex* in = buffers[cur];
    Vertex* out = buffers[cur ^ 1];
    int n = 0;
    for (int i = 0; i < count && n < kMaxPolygon - 1; ++i) {
      const Vertex& a = in[i];
      const Vertex& b = in[(i + 1) % count];
      const double da = PlaneDistance(a, plane), db = PlaneDistance(b, plane);
      if (da >= 0) out[n++] = a;
      if ((da >= 0) != (db >= 0)) {
        // Interpolate from the inside end, so that shared edges split alike.
        if (da >= 0)
          Lerp(a, b, da / (da - db), &out[n++]);
        else
          Lerp(b, a, db / (db - da), &out[n++]);
      }
    }
    count = n;
    cur ^= 1;
  }
  if (count < 3) return 0;
  for (int i = 0; i < count; ++i) polygon[i] = buffers[cur][i];
  return count;
}

bool Geometry::ClipLine(Vertex& a, Vertex& b, std::uint32_t outside) const {
  for (int plane = 0; plane < m_planeCount; ++plane) {
    if (!(outside & (1u << plane))) continue;
    const double da = PlaneDistance(a, plane), db = PlaneDistance(b, plane);
    if (da < 0 && db < 0) return false;
    if (da < 0) {
      Vertex v;
      Lerp(b, a, db / (db - da), &v);
      a = v;
    } else if (db < 0) {
      Vertex v;
      Lerp(a, b, da / (da - db), &v);
      b = v;
    }
  }
  return true;
}

void Geometry::Project(const Vertex& v, ScreenVertex* out) const {
  double sx, sy, sz;
  if (m_transformed) {
    sx = v.x;
    sy = v.y;
    sz = v.z < 0 ? 0 : v.z > 1 ? 1 : v.z;
  } else {
    const double iw = 1.0 / v.w;
    sx = m_viewport[0] + (1 + v.x * iw) * m_viewport[2] / 2;
    sy = m_viewport[1] + (1 - v.y * iw) * m_viewport[3] / 2;
    sz = m_viewport[4] + v.z * iw * (m_viewport[5] - m_viewport[4]);
  }
  out->X = static_cast<std::int64_t>(std::nearbyint(sx * 256.0));
  out->Y = static_cast<std::int64_t>(std::nearbyint(sy * 256.0));
  out->z = sz;
  out->q = 1.0 / v.w;
  std::memcpy(out->a, v.a, sizeof(float) * m_attrs);
}

}  // namespace platform::d3d9::raster

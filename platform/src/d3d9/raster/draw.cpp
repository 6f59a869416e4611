// Primitive assembly and rasterisation: triangles by exact 64-bit edge
// functions with the top-left rule (consecutive triangles forming an affine
// axis-aligned rectangle are merged into one), lines by the diamond-exit rule,
// points by the square that holds them.
#include <algorithm>
#include <cstdlib>
#include <cstring>

#include "d3d9/raster/pipeline.h"

namespace platform::d3d9::raster {
namespace {

std::int64_t FloorDiv(std::int64_t a, std::int64_t b) {  // b > 0
  return a >= 0 ? a / b : -((-a + b - 1) / b);
}
std::int64_t CeilDiv(std::int64_t a, std::int64_t b) { return -FloorDiv(-a, b); }

std::int64_t Area2(const ScreenVertex& a, const ScreenVertex& b, const ScreenVertex& c) {
  return (b.X - a.X) * (c.Y - a.Y) - (c.X - a.X) * (b.Y - a.Y);
}

// Clockwise on the screen (y down) when positive.
bool Culled(DWORD cull, std::int64_t area) {
  if (cull == D3DCULL_CW) return area > 0;
  if (cull == D3DCULL_CCW) return area < 0;
  return false;
}

struct Triangle {
  Vertex v[3];
  std::uint32_t outside[3];
  int flat = 0;          // index of the flat-shading vertex
  bool simple = false;   // inside every clip plane
  ScreenVertex s[3];     // valid when simple
  std::int64_t area = 0;
};

class Assembler {
 public:
  Assembler(const DrawRequest& r, const DrawConfig& dc, Geometry& g) : m_r(r), m_dc(dc), m_g(g) {}

  void Triangles();
  void Lines();
  void Points();

 private:
  void Load(UINT i, Triangle* t);
  bool TryRectangle(const Triangle& a, const Triangle& b);
  void Draw(const Triangle& t);
  void Raster(const ScreenVertex& a, const ScreenVertex& b, const ScreenVertex& c, const ScreenVertex& flat);
  void Line(const ScreenVertex& a, const ScreenVertex& b, bool lastPixel);
  void Pixel(int x, int y) {
    if (x >= m_dc.clipX0 && x < m_dc.clipX1 && y >= m_dc.clipY0 && y < m_dc.clipY1) ShadeSpan(m_dc, m_prim, y, x, x + 1);
  }

  const DrawRequest& m_r;
  const DrawConfig& m_dc;
  Geometry& m_g;
  Primitive m_prim;
};

void Assembler::Load(UINT i, Triangle* t) {
  UINT n[3];
  switch (m_r.type) {
    case D3DPT_TRIANGLESTRIP:
      // Odd triangles swap their last two vertices to keep the first one's winding.
      n[0] = i;
      n[1] = i & 1 ? i + 2 : i + 1;
      n[2] = i & 1 ? i + 1 : i + 2;
      break;
    case D3DPT_TRIANGLEFAN:
      n[0] = 0;
      n[1] = i + 1;
      n[2] = i + 2;
      break;
    default:
      n[0] = 3 * i;
      n[1] = 3 * i + 1;
      n[2] = 3 * i + 2;
      break;
  }
  std::uint32_t any = 0;
  for (int k = 0; k < 3; ++k) {
    t->outside[k] = m_g.Get(n[k], &t->v[k]);
    any |= t->outside[k];
  }
  t->flat = 0;
  t->simple = any == 0;
  if (t->simple) {
    for (int k = 0; k < 3; ++k) m_g.Project(t->v[k], &t->s[k]);
    t->area = Area2(t->s[0], t->s[1], t->s[2]);
  }
}

void Assembler::Triangles() {
  Triangle t[2];
  int cur = 0;
  bool haveNext = false;
  for (UINT i = 0; i < m_r.primitiveCount; ++i) {
    if (!haveNext) Load(i, &t[cur]);
    haveNext = false;
    if (t[cur].simple && i + 1 < m_r.primitiveCount) {
      Load(i + 1, &t[cur ^ 1]);
      haveNext = true;
      if (TryRectangle(t[cur], t[cur ^ 1])) {
        ++i;
        haveNext = false;
        continue;
      }
    }
    Draw(t[cur]);
    cur ^= 1;
  }
}

void Assembler::Draw(const Triangle& t) {
  if (t.simple) {
    if (t.area == 0 || Culled(m_dc.cull, t.area)) return;
    Raster(t.s[0], t.s[1], t.s[2], t.s[t.flat]);
    return;
  }
  std::uint32_t all = t.outside[0] | t.outside[1] | t.outside[2];
  if ((t.outside[0] & t.outside[1] & t.outside[2]) || (all & Geometry::kInvalid)) return;
  Vertex polygon[Geometry::kMaxPolygon];
  const Vertex* in[3] = {&t.v[0], &t.v[1], &t.v[2]};
  const int count = m_g.ClipTriangle(in, all, polygon);
  if (count < 3) return;
  ScreenVertex flat;  // its colours only
  std::memcpy(flat.a, t.v[t.flat].a, sizeof flat.a);
  ScreenVertex s[Geometry::kMaxPolygon];
  for (int k = 0; k < count; ++k) m_g.Project(polygon[k], &s[k]);
  // Culling follows the whole polygon's winding (a fan keeps it).
  std::int64_t area = 0;
  for (int k = 1; k + 1 < count; ++k) area += Area2(s[0], s[k], s[k + 1]);
  if (area == 0 || Culled(m_dc.cull, area)) return;
  for (int k = 1; k + 1 < count; ++k)
    if (Area2(s[0], s[k], s[k + 1]) != 0) Raster(s[0], s[k], s[k + 1], flat);
}

// Two triangles sharing a diagonal of an axis-aligned rectangle, whose
// attributes are affine over it, are drawn as the rectangle: the same pixels,
// with one set of planes.
bool Assembler::TryRectangle(const Triangle& a, const Triangle& b) {
  if (!a.simple || !b.simple || a.area == 0 || (a.area > 0) != (b.area > 0)) return false;
  const int attrs = m_g.Attrs();
  auto same = [&](const ScreenVertex& p, const ScreenVertex& q) {
    return p.X == q.X && p.Y == q.Y && p.z == q.z && p.q == q.q && std::memcmp(p.a, q.a, sizeof(float) * attrs) == 0;
  };
  int shared = 0, onlyA = -1, onlyB = -1;
  bool usedB[3] = {false, false, false};
  for (int i = 0; i < 3; ++i) {
    int match = -1;
    for (int j = 0; j < 3; ++j)
      if (!usedB[j] && same(a.s[i], b.s[j])) match = j;
    if (match >= 0) {
      usedB[match] = true;
      ++shared;
    } else {
      onlyA = i;
    }
  }
  if (shared != 2) return false;
  for (int j = 0; j < 3; ++j)
    if (!usedB[j]) onlyB = j;
  const ScreenVertex& r = a.s[onlyA];
  const ScreenVertex& s = b.s[onlyB];
  const ScreenVertex& p = a.s[(onlyA + 1) % 3];
  const ScreenVertex& q = a.s[(onlyA + 2) % 3];
  // p and q are opposite corners; r and s the other two.
  if (p.X == q.X || p.Y == q.Y) return false;
  const bool corners = (r.X == p.X && r.Y == q.Y && s.X == q.X && s.Y == p.Y) ||
                       (r.X == q.X && r.Y == p.Y && s.X == p.X && s.Y == q.Y);
  if (!corners) return false;
  auto affine = [&](double vp, double vq, double vr, double vs) { return vp + vq - vr == vs; };
  if (!affine(p.z, q.z, r.z, s.z) || !affine(p.q, q.q, r.q, s.q)) return false;
  for (int i = 0; i < attrs; ++i)
    if (!affine(p.a[i], q.a[i], r.a[i], s.a[i])) return false;
  if (m_dc.flat && std::memcmp(a.s[a.flat].a, b.s[b.flat].a, sizeof(float) * 8) != 0) return false;
  if (Culled(m_dc.cull, a.area)) return true;  // both go

  SetupTriangle(m_dc, a.s[0], a.s[1], a.s[2], a.s[a.flat], &m_prim, &s);
  const std::int64_t x0 = std::min(p.X, q.X), x1 = std::max(p.X, q.X);
  const std::int64_t y0 = std::min(p.Y, q.Y), y1 = std::max(p.Y, q.Y);
  // Centres with x0 <= 256 i < x1 and y0 <= 256 j < y1.
  const int left = static_cast<int>(std::max<std::int64_t>(CeilDiv(x0, 256), m_dc.clipX0));
  const int right = static_cast<int>(std::min<std::int64_t>(CeilDiv(x1, 256), m_dc.clipX1));
  const int top = static_cast<int>(std::max<std::int64_t>(CeilDiv(y0, 256), m_dc.clipY0));
  const int bottom = static_cast<int>(std::min<std::int64_t>(CeilDiv(y1, 256), m_dc.clipY1));
  if (left < right)
    for (int y = top; y < bottom; ++y) ShadeSpan(m_dc, m_prim, y, left, right);
  // A constant depth written over the whole surface is all it holds now.
  if (m_dc.depthBound && m_prim.depthMode == DepthMode::Fill && left == 0 && top == 0 &&
      right >= m_dc.depthWidth && bottom >= m_dc.depthHeight)
    *m_dc.depthBound = DepthBound{true, m_prim.depthFill, m_prim.depthFill};
  return true;
}

void Assembler::Raster(const ScreenVertex& a0, const ScreenVertex& b0, const ScreenVertex& c0,
                       const ScreenVertex& flat) {
  SetupTriangle(m_dc, a0, b0, c0, flat, &m_prim);
  // Edge functions need a positive area: order the vertices clockwise.
  const ScreenVertex* v[3] = {&a0, &b0, &c0};
  if (Area2(a0, b0, c0) < 0) std::swap(v[1], v[2]);
  struct Edge {
    std::int64_t px, py, dx, dy;
    std::int64_t bias;  // 0 for top and left edges, whose centres belong to the triangle
  } e[3];
  for (int k = 0; k < 3; ++k) {
    const ScreenVertex& p = *v[k];
    const ScreenVertex& q = *v[(k + 1) % 3];
    e[k].px = p.X;
    e[k].py = p.Y;
    e[k].dx = q.X - p.X;
    e[k].dy = q.Y - p.Y;
    const bool topLeft = e[k].dy < 0 || (e[k].dy == 0 && e[k].dx > 0);
    e[k].bias = topLeft ? 0 : 1;
  }
  const std::int64_t minY = std::min({a0.Y, b0.Y, c0.Y}), maxY = std::max({a0.Y, b0.Y, c0.Y});
  const int top = static_cast<int>(std::max<std::int64_t>(CeilDiv(minY, 256), m_dc.clipY0));
  const int bottom = static_cast<int>(std::min<std::int64_t>(FloorDiv(maxY, 256) + 1, m_dc.clipY1));
  for (int y = top; y < bottom; ++y) {
    std::int64_t lo = m_dc.clipX0, hi = m_dc.clipX1 - 1;
    for (const Edge& ed : e) {
      // E(i) = dx (256 y - py) - dy (256 i - px) must reach the bias.
      const std::int64_t c = ed.dx * (256 * std::int64_t(y) - ed.py) + ed.dy * ed.px;
      if (ed.dy < 0)
        lo = std::max(lo, CeilDiv(ed.bias - c, -256 * ed.dy));
      else if (ed.dy > 0)
        hi = std::min(hi, FloorDiv(c - ed.bias, 256 * ed.dy));
      else if (c < ed.bias)
        hi = lo - 1;
    }
    if (lo <= hi) ShadeSpan(m_dc, m_prim, y, static_cast<int>(lo), static_cast<int>(hi + 1));
  }
}

void Assembler::Lines() {
  const bool strip = m_r.type == D3DPT_LINESTRIP;
  for (UINT i = 0; i < m_r.primitiveCount; ++i) {
    Vertex a, b;
    const UINT first = strip ? i : 2 * i;
    const std::uint32_t oa = m_g.Get(first, &a), ob = m_g.Get(first + 1, &b);
    if ((oa & ob) || ((oa | ob) & Geometry::kInvalid)) continue;
    const bool clipped = (oa | ob) != 0;
    if (clipped && !m_g.ClipLine(a, b, oa | ob)) continue;
    ScreenVertex sa, sb;
    m_g.Project(a, &sa);
    m_g.Project(b, &sb);
    // The last pixel: of every segment of a list, of the last segment of a strip.
    const bool last = m_dc.lastPixel && !(ob && clipped) && (!strip || i + 1 == m_r.primitiveCount);
    Line(sa, sb, last);
  }
}

void Assembler::Line(const ScreenVertex& a, const ScreenVertex& b, bool lastPixel) {
  // Doubled sub-pixel grid, nudged half a sub-pixel up and left, so that a
  // line along a pixel boundary falls on one side of it.
  const std::int64_t sx = 2 * a.X - 1, sy = 2 * a.Y - 1, ex = 2 * b.X - 1, ey = 2 * b.Y - 1;
  const std::int64_t dx = ex - sx, dy = ey - sy;
  const bool xMajor = std::llabs(dx) >= std::llabs(dy);
  const int endX = static_cast<int>(FloorDiv(b.X + 128, 256)), endY = static_cast<int>(FloorDiv(b.Y + 128, 256));
  bool endLit = false;
  if (dx != 0 || dy != 0) {
    SetupLine(m_dc, a, b, xMajor, &m_prim);
    // Along the major axis; the one pixel of each column (row) whose diamond
    // the line can cross.
    const std::int64_t ms = xMajor ? sx : sy, me = xMajor ? ex : ey, ns = xMajor ? sy : sx;
    const std::int64_t dm = xMajor ? dx : dy, dn = xMajor ? dy : dx;
    const std::int64_t clipLo = xMajor ? m_dc.clipX0 : m_dc.clipY0, clipHi = xMajor ? m_dc.clipX1 : m_dc.clipY1;
    const std::int64_t from = std::max(FloorDiv(std::min(ms, me), 512) - 1, clipLo);
    const std::int64_t to = std::min(FloorDiv(std::max(ms, me), 512) + 1, clipHi - 1);
    for (std::int64_t i = from; i <= to; ++i) {
      // Minor coordinate at the column centre, rounded to the nearest pixel.
      std::int64_t num = ns * dm + (512 * i - ms) * dn, den = dm;
      if (den < 0) {
        num = -num;
        den = -den;
      }
      const std::int64_t j = FloorDiv(num + 256 * den, 512 * den);
      const std::int64_t cx = 512 * (xMajor ? i : j), cy = 512 * (xMajor ? j : i);
      const std::int64_t ax = sx - cx, ay = sy - cy;
      // The segment leaves the open diamond |x| + |y| < 256 at t_out in (0, 1].
      std::int64_t outN = 0, outD = 0, inN = 0, inD = 0;
      bool hasOut = false, hasIn = false, never = false;
      for (int f = 0; f < 4; ++f) {
        const std::int64_t nx = f & 1 ? -1 : 1, ny = f & 2 ? -1 : 1;
        const std::int64_t nd = nx * dx + ny * dy, na = nx * ax + ny * ay;
        std::int64_t tn = 256 - na, td = nd;  // t bound = tn / td
        if (nd == 0) {
          if (na >= 256) never = true;
          continue;
        }
        if (td < 0) {
          tn = -tn;
          td = -td;
        }
        if (nd > 0) {
          if (!hasOut || tn * outD < outN * td) outN = tn, outD = td, hasOut = true;
        } else if (!hasIn || tn * inD > inN * td) {
          inN = tn, inD = td, hasIn = true;
        }
      }
      if (never || !hasOut) continue;
      if (hasIn && inN * outD >= outN * inD) continue;  // never inside
      if (outN <= 0 || outN > outD) continue;           // leaves before the start or after the end
      const int px = static_cast<int>(cx / 512), py = static_cast<int>(cy / 512);
      if (px == endX && py == endY) endLit = true;
      Pixel(px, py);
    }
  }
  if (lastPixel && !endLit) {
    if (dx == 0 && dy == 0) SetupPoint(m_dc, a, &m_prim);
    Pixel(endX, endY);
  }
}

void Assembler::Points() {
  for (UINT i = 0; i < m_r.primitiveCount; ++i) {
    Vertex v;
    if (m_g.Get(i, &v)) continue;  // outside a clip plane
    ScreenVertex s;
    m_g.Project(v, &s);
    SetupPoint(m_dc, s, &m_prim);
    Pixel(static_cast<int>(FloorDiv(s.X + 128, 256)), static_cast<int>(FloorDiv(s.Y + 128, 256)));
  }
}

}  // namespace

void DrawPrimitives(const DrawRequest& r, const DrawConfig& dc, Geometry& g) {
  Assembler a(r, dc, g);
  switch (r.type) {
    case D3DPT_POINTLIST: a.Points(); break;
    case D3DPT_LINELIST:
    case D3DPT_LINESTRIP: a.Lines(); break;
    default: a.Triangles(); break;
  }
}

}  // namespace platform::d3d9::raster

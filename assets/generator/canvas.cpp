#include "assets/generator/canvas.h"

#include <algorithm>
#include <cmath>

namespace assetgen {

namespace {
float Clamp01(float v) { return v < 0 ? 0 : (v > 1 ? 1 : v); }

Rgba SampleStops(const std::vector<ColorStop>& stops, float t) {
  if (stops.empty()) return {};
  if (t <= stops.front().at) return stops.front().color;
  for (size_t i = 1; i < stops.size(); ++i) {
    if (t <= stops[i].at) {
      float span = stops[i].at - stops[i - 1].at;
      float u = span > 0 ? (t - stops[i - 1].at) / span : 1.0f;
      return Mix(stops[i - 1].color, stops[i].color, u);
    }
  }
  return stops.back().color;
}
}  // namespace

Rgba Hex(std::uint32_t rgb, float alpha) {
  return {((rgb >> 16) & 0xFF) / 255.0f, ((rgb >> 8) & 0xFF) / 255.0f, (rgb & 0xFF) / 255.0f, alpha};
}

Rgba Mix(const Rgba& a, const Rgba& b, float t) {
  return {a.r + (b.r - a.r) * t, a.g + (b.g - a.g) * t, a.b + (b.b - a.b) * t, a.a + (b.a - a.a) * t};
}

Rgba WithAlpha(Rgba c, float alpha) {
  c.a = alpha;
  return c;
}

// ---- Paint -------------------------------------------------------------------

Paint::Paint(Rgba solid) : m_f([solid](float, float) { return solid; }) {}

Paint Paint::Linear(float x0, float y0, float x1, float y1, std::vector<ColorStop> stops) {
  float dx = x1 - x0, dy = y1 - y0;
  float len2 = dx * dx + dy * dy;
  if (len2 <= 0) len2 = 1;
  return Paint([=](float x, float y) {
    float t = ((x - x0) * dx + (y - y0) * dy) / len2;
    return SampleStops(stops, t);
  });
}

Paint Paint::Radial(float cx, float cy, float radius, std::vector<ColorStop> stops) {
  return Paint([=](float x, float y) {
    float t = std::hypot(x - cx, y - cy) / radius;
    return SampleStops(stops, t);
  });
}

Paint Paint::Custom(std::function<Rgba(float, float)> f) { return Paint(std::move(f)); }

// ---- Signed distance functions ---------------------------------------------

namespace sdf {

Sdf Circle(float cx, float cy, float r) {
  return [=](float x, float y) { return std::hypot(x - cx, y - cy) - r; };
}

Sdf Ellipse(float cx, float cy, float rx, float ry) {
  // Scaled-circle estimate, corrected by the gradient length: good enough for
  // anti-aliasing edges of moderate eccentricity.
  return [=](float x, float y) {
    float px = (x - cx) / rx, py = (y - cy) / ry;
    float k0 = std::hypot(px, py);
    float k1 = std::hypot(px / rx, py / ry);
    if (k1 <= 0) return -std::min(rx, ry);
    return k0 * (k0 - 1.0f) / k1;
  };
}

Sdf Box(float x0, float y0, float x1, float y1, float radius) {
  float cx = (x0 + x1) / 2, cy = (y0 + y1) / 2;
  float hx = (x1 - x0) / 2 - radius, hy = (y1 - y0) / 2 - radius;
  return [=](float x, float y) {
    float qx = std::fabs(x - cx) - hx, qy = std::fabs(y - cy) - hy;
    float outside = std::hypot(std::max(qx, 0.0f), std::max(qy, 0.0f));
    float inside = std::min(std::max(qx, qy), 0.0f);
    return outside + inside - radius;
  };
}

Sdf Ring(float cx, float cy, float r, float thickness) {
  return [=](float x, float y) { return std::fabs(std::hypot(x - cx, y - cy) - r) - thickness / 2; };
}

Sdf Capsule(float ax, float ay, float bx, float by, float r) {
  return [=](float x, float y) {
    float pax = x - ax, pay = y - ay, bax = bx - ax, bay = by - ay;
    float len2 = bax * bax + bay * bay;
    float h = len2 > 0 ? std::clamp((pax * bax + pay * bay) / len2, 0.0f, 1.0f) : 0.0f;
    return std::hypot(pax - bax * h, pay - bay * h) - r;
  };
}

Sdf Polygon(std::vector<std::pair<float, float>> pts) {
  return [pts](float x, float y) {
    size_t n = pts.size();
    float d = 1e30f;
    bool inside = false;
    for (size_t i = 0, j = n - 1; i < n; j = i++) {
      float ex = pts[j].first - pts[i].first, ey = pts[j].second - pts[i].second;
      float wx = x - pts[i].first, wy = y - pts[i].second;
      float len2 = ex * ex + ey * ey;
      float h = len2 > 0 ? std::clamp((wx * ex + wy * ey) / len2, 0.0f, 1.0f) : 0.0f;
      d = std::min(d, std::hypot(wx - ex * h, wy - ey * h));
      bool c1 = y >= pts[i].second, c2 = y < pts[j].second, c3 = ex * wy > ey * wx;
      if ((c1 && c2 && c3) || (!c1 && !c2 && !c3)) inside = !inside;
    }
    return inside ? -d : d;
  };
}

Sdf Star(float cx, float cy, float outer, float inner, int points, float rotation) {
  std::vector<std::pair<float, float>> pts;
  for (int i = 0; i < points * 2; ++i) {
    float a = rotation + static_cast<float>(M_PI) * i / points - static_cast<float>(M_PI) / 2;
    float r = (i % 2 == 0) ? outer : inner;
    pts.emplace_back(cx + r * std::cos(a), cy + r * std::sin(a));
  }
  return Polygon(std::move(pts));
}

Sdf Union(Sdf a, Sdf b) {
  return [=](float x, float y) { return std::min(a(x, y), b(x, y)); };
}
Sdf Intersect(Sdf a, Sdf b) {
  return [=](float x, float y) { return std::max(a(x, y), b(x, y)); };
}
Sdf Subtract(Sdf a, Sdf b) {
  return [=](float x, float y) { return std::max(a(x, y), -b(x, y)); };
}
Sdf Grow(Sdf a, float by) {
  return [=](float x, float y) { return a(x, y) - by; };
}
Sdf Stroke(Sdf a, float width) {
  return [=](float x, float y) { return std::fabs(a(x, y)) - width / 2; };
}

}  // namespace sdf

Rect Around(float cx, float cy, float reach) {
  return {static_cast<int>(std::floor(cx - reach - 1)), static_cast<int>(std::floor(cy - reach - 1)),
          static_cast<int>(std::ceil(cx + reach + 1)), static_cast<int>(std::ceil(cy + reach + 1))};
}

// ---- Mask --------------------------------------------------------------------

Mask Mask::FromSdf(int w, int h, const Sdf& s) { return FromSdf(w, h, s, 0, 0, w, h); }

Mask Mask::FromSdf(int w, int h, const Sdf& s, int x0, int y0, int x1, int y1) {
  Mask m(w, h);
  x0 = std::max(x0, 0);
  y0 = std::max(y0, 0);
  x1 = std::min(x1, w);
  y1 = std::min(y1, h);
  for (int y = y0; y < y1; ++y)
    for (int x = x0; x < x1; ++x) m.ref(x, y) = Clamp01(0.5f - s(x + 0.5f, y + 0.5f));
  return m;
}

Mask Mask::Dilated(float radius) const {
  // Grey-scale dilation with a disc; the disc's rim is anti-aliased so that
  // outlines of fractional width stay smooth.
  Mask out(m_w, m_h);
  int r = static_cast<int>(std::ceil(radius + 0.5f));
  std::vector<std::pair<std::pair<int, int>, float>> disc;
  for (int dy = -r; dy <= r; ++dy)
    for (int dx = -r; dx <= r; ++dx) {
      float w = Clamp01(radius + 0.5f - std::hypot(static_cast<float>(dx), static_cast<float>(dy)));
      if (w > 0) disc.push_back({{dx, dy}, w});
    }
  for (int y = 0; y < m_h; ++y)
    for (int x = 0; x < m_w; ++x) {
      float best = 0;
      for (const auto& [d, w] : disc) {
        float v = at(x + d.first, y + d.second) * w;
        if (v > best) best = v;
      }
      out.ref(x, y) = best;
    }
  return out;
}

Mask Mask::Blurred(float radius) const {
  // Three box passes per axis approximate a Gaussian.
  int box = std::max(1, static_cast<int>(std::lround(radius)));
  Mask cur = *this;
  Mask tmp(m_w, m_h);
  for (int pass = 0; pass < 3; ++pass) {
    for (int y = 0; y < m_h; ++y)
      for (int x = 0; x < m_w; ++x) {
        float s = 0;
        for (int k = -box; k <= box; ++k) s += cur.at(x + k, y);
        tmp.ref(x, y) = s / (2 * box + 1);
      }
    for (int y = 0; y < m_h; ++y)
      for (int x = 0; x < m_w; ++x) {
        float s = 0;
        for (int k = -box; k <= box; ++k) s += tmp.at(x, y + k);
        cur.ref(x, y) = s / (2 * box + 1);
      }
  }
  return cur;
}

Mask Mask::Shifted(int dx, int dy) const {
  Mask out(m_w, m_h);
  for (int y = 0; y < m_h; ++y)
    for (int x = 0; x < m_w; ++x) out.ref(x, y) = at(x - dx, y - dy);
  return out;
}

// ---- Canvas ------------------------------------------------------------------

Canvas::Canvas(int w, int h) : m_w(w), m_h(h), m_px(static_cast<size_t>(w) * h * 4, 0.0f) {}

void Canvas::Blend(int x, int y, const Rgba& c, float coverage) {
  float a = Clamp01(c.a * coverage);
  if (a <= 0) return;
  float* p = &m_px[(static_cast<size_t>(y) * m_w + x) * 4];
  float k = 1.0f - a;
  p[0] = c.r * a + p[0] * k;
  p[1] = c.g * a + p[1] * k;
  p[2] = c.b * a + p[2] * k;
  p[3] = a + p[3] * k;
}

void Canvas::Fill(const Mask& mask, const Paint& paint, float opacity, int ox, int oy) {
  for (int y = 0; y < mask.height(); ++y)
    for (int x = 0; x < mask.width(); ++x) {
      float cov = mask.at(x, y) * opacity;
      if (cov <= 0) continue;
      int tx = x + ox, ty = y + oy;
      if (tx < 0 || ty < 0 || tx >= m_w || ty >= m_h) continue;
      Blend(tx, ty, paint.At(tx + 0.5f, ty + 0.5f), cov);
    }
}

void Canvas::Fill(const Sdf& shape, const Paint& paint, float opacity) { Fill(shape, paint, Rect{0, 0, m_w, m_h}, opacity); }

void Canvas::Fill(const Sdf& shape, const Paint& paint, Rect box, float opacity) {
  for (int y = std::max(box.y0, 0); y < std::min(box.y1, m_h); ++y)
    for (int x = std::max(box.x0, 0); x < std::min(box.x1, m_w); ++x) {
      float cov = Clamp01(0.5f - shape(x + 0.5f, y + 0.5f)) * opacity;
      if (cov > 0) Blend(x, y, paint.At(x + 0.5f, y + 0.5f), cov);
    }
}

void Canvas::FillGlow(const Sdf& shape, float radius, const Paint& paint, Rect box) {
  for (int y = std::max(box.y0, 0); y < std::min(box.y1, m_h); ++y)
    for (int x = std::max(box.x0, 0); x < std::min(box.x1, m_w); ++x) {
      float d = shape(x + 0.5f, y + 0.5f);
      float t = d <= 0 ? 1.0f : Clamp01(1.0f - d / radius);
      if (t > 0) Blend(x, y, paint.At(x + 0.5f, y + 0.5f), t * t);
    }
}

void Canvas::FillOutlined(const Sdf& shape, const Paint& fill, const Paint& outline, float outlineWidth) {
  Fill(sdf::Grow(shape, outlineWidth), outline);
  Fill(shape, fill);
}

void Canvas::Draw(const Canvas& src, int ox, int oy, float opacity) {
  for (int y = 0; y < src.m_h; ++y)
    for (int x = 0; x < src.m_w; ++x) {
      int tx = x + ox, ty = y + oy;
      if (tx < 0 || ty < 0 || tx >= m_w || ty >= m_h) continue;
      const float* s = &src.m_px[(static_cast<size_t>(y) * src.m_w + x) * 4];
      float a = s[3] * opacity;
      if (a <= 0) continue;
      float* d = &m_px[(static_cast<size_t>(ty) * m_w + tx) * 4];
      float k = 1.0f - a;
      for (int c = 0; c < 3; ++c) d[c] = s[c] * opacity + d[c] * k;
      d[3] = a + d[3] * k;
    }
}

void Canvas::ApplyMask(const Mask& m) {
  for (int y = 0; y < m_h; ++y)
    for (int x = 0; x < m_w; ++x) {
      float k = m.at(x, y);
      float* p = &m_px[(static_cast<size_t>(y) * m_w + x) * 4];
      for (int c = 0; c < 4; ++c) p[c] *= k;
    }
}

Canvas Canvas::MotionBlurred(int length) const {
  Canvas out(m_w, m_h);
  for (int y = 0; y < m_h; ++y)
    for (int x = 0; x < m_w; ++x) {
      float s[4] = {0, 0, 0, 0};
      for (int k = 0; k < length; ++k) {
        int sx = x - k;
        if (sx < 0) break;
        const float* p = &m_px[(static_cast<size_t>(y) * m_w + sx) * 4];
        for (int c = 0; c < 4; ++c) s[c] += p[c];
      }
      float* d = &out.m_px[(static_cast<size_t>(y) * m_w + x) * 4];
      for (int c = 0; c < 4; ++c) d[c] = s[c] / length;
    }
  return out;
}

void Canvas::Recolor(const std::function<Rgba(Rgba)>& f) {
  for (int y = 0; y < m_h; ++y)
    for (int x = 0; x < m_w; ++x) {
      Rgba c = Get(x, y);
      if (c.a <= 0) continue;
      Rgba n = f(c);
      float* p = &m_px[(static_cast<size_t>(y) * m_w + x) * 4];
      p[0] = n.r * n.a;
      p[1] = n.g * n.a;
      p[2] = n.b * n.a;
      p[3] = n.a;
    }
}

Rgba Canvas::Get(int x, int y) const {
  const float* p = &m_px[(static_cast<size_t>(y) * m_w + x) * 4];
  if (p[3] <= 0) return {};
  return {p[0] / p[3], p[1] / p[3], p[2] / p[3], p[3]};
}

namespace {
// Transparent texels take the colour of their visible neighbours, so that
// bilinear filtering at a sprite's rim does not pull in black or white.
void BleedColors(std::vector<std::uint8_t>& px, int w, int h) {
  std::vector<std::uint8_t> known(static_cast<size_t>(w) * h);
  for (size_t i = 0; i < known.size(); ++i) known[i] = px[i * 4 + 3] != 0;
  for (int pass = 0; pass < 4; ++pass) {
    std::vector<std::uint8_t> next = known;
    for (int y = 0; y < h; ++y)
      for (int x = 0; x < w; ++x) {
        size_t i = static_cast<size_t>(y) * w + x;
        if (known[i]) continue;
        int sum[3] = {0, 0, 0}, n = 0;
        for (int dy = -1; dy <= 1; ++dy)
          for (int dx = -1; dx <= 1; ++dx) {
            int nx = x + dx, ny = y + dy;
            if (nx < 0 || ny < 0 || nx >= w || ny >= h) continue;
            size_t j = static_cast<size_t>(ny) * w + nx;
            if (!known[j]) continue;
            for (int c = 0; c < 3; ++c) sum[c] += px[j * 4 + c];
            ++n;
          }
        if (n == 0) continue;
        for (int c = 0; c < 3; ++c) px[i * 4 + c] = static_cast<std::uint8_t>(sum[c] / n);
        next[i] = 1;
      }
    known.swap(next);
  }
}
}  // namespace

std::vector<std::uint8_t> Canvas::ToRgba8() const {
  std::vector<std::uint8_t> out(static_cast<size_t>(m_w) * m_h * 4);
  for (size_t i = 0; i < static_cast<size_t>(m_w) * m_h; ++i) {
    const float* p = &m_px[i * 4];
    float a = Clamp01(p[3]);
    std::uint8_t* o = &out[i * 4];
    if (a <= 0) {
      o[0] = o[1] = o[2] = o[3] = 0;
      continue;
    }
    for (int c = 0; c < 3; ++c) o[c] = static_cast<std::uint8_t>(std::lround(Clamp01(p[c] / a) * 255.0f));
    o[3] = static_cast<std::uint8_t>(std::lround(a * 255.0f));
  }
  BleedColors(out, m_w, m_h);
  return out;
}

}  // namespace assetgen

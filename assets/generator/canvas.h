// A small floating-point raster for building the game's pictures: coverage
// masks made from signed distance functions, paints (solid and gradients) and
// premultiplied-alpha compositing.
#pragma once

#include <cstdint>
#include <functional>
#include <initializer_list>
#include <vector>

namespace assetgen {

// Straight (not premultiplied) colour, each channel 0..1.
struct Rgba {
  float r = 0, g = 0, b = 0, a = 0;
};

// 0xRRGGBB with an alpha of 0..1.
Rgba Hex(std::uint32_t rgb, float alpha = 1.0f);
Rgba Mix(const Rgba& a, const Rgba& b, float t);
Rgba WithAlpha(Rgba c, float alpha);

struct ColorStop {
  float at;
  Rgba color;
};

// Colour as a function of the pixel position.
class Paint {
 public:
  Paint(Rgba solid);  // NOLINT: a colour is a paint
  static Paint Linear(float x0, float y0, float x1, float y1, std::vector<ColorStop> stops);
  static Paint Vertical(float top, float bottom, std::vector<ColorStop> stops) {
    return Linear(0, top, 0, bottom, std::move(stops));
  }
  static Paint Radial(float cx, float cy, float radius, std::vector<ColorStop> stops);
  static Paint Custom(std::function<Rgba(float, float)> f);
  Rgba At(float x, float y) const { return m_f(x, y); }

 private:
  explicit Paint(std::function<Rgba(float, float)> f) : m_f(std::move(f)) {}
  std::function<Rgba(float, float)> m_f;
};

// An integer pixel box, x0/y0 inclusive, x1/y1 exclusive.
struct Rect {
  int x0, y0, x1, y1;
};
// The box around (cx, cy) with the given reach in every direction.
Rect Around(float cx, float cy, float reach);

// Signed distance in pixels: negative inside, positive outside.
using Sdf = std::function<float(float x, float y)>;

namespace sdf {
Sdf Circle(float cx, float cy, float r);
Sdf Ellipse(float cx, float cy, float rx, float ry);
Sdf Box(float x0, float y0, float x1, float y1, float radius = 0);
Sdf Ring(float cx, float cy, float r, float thickness);
Sdf Capsule(float ax, float ay, float bx, float by, float r);
Sdf Polygon(std::vector<std::pair<float, float>> points);
Sdf Star(float cx, float cy, float outer, float inner, int points, float rotation = 0);
Sdf Union(Sdf a, Sdf b);
Sdf Intersect(Sdf a, Sdf b);
Sdf Subtract(Sdf a, Sdf b);
Sdf Grow(Sdf a, float by);  // positive grows, negative shrinks
Sdf Stroke(Sdf a, float width);  // a band of the given width along the outline
}  // namespace sdf

// Coverage 0..1 per pixel.
class Mask {
 public:
  Mask() = default;
  Mask(int w, int h) : m_w(w), m_h(h), m_v(static_cast<size_t>(w) * h, 0.0f) {}
  int width() const { return m_w; }
  int height() const { return m_h; }
  float at(int x, int y) const {
    return (x < 0 || y < 0 || x >= m_w || y >= m_h) ? 0.0f : m_v[static_cast<size_t>(y) * m_w + x];
  }
  float& ref(int x, int y) { return m_v[static_cast<size_t>(y) * m_w + x]; }

  // Anti-aliased coverage of the shape; evaluated only inside the bounding box
  // when one is given (x0, y0, x1, y1 in pixels).
  static Mask FromSdf(int w, int h, const Sdf& s);
  static Mask FromSdf(int w, int h, const Sdf& s, int x0, int y0, int x1, int y1);

  Mask Dilated(float radius) const;     // grows the covered area by radius
  Mask Blurred(float radius) const;     // approximately Gaussian
  Mask Shifted(int dx, int dy) const;

 private:
  int m_w = 0, m_h = 0;
  std::vector<float> m_v;
};

// Premultiplied RGBA, composited with "over".
class Canvas {
 public:
  Canvas(int w, int h);
  int width() const { return m_w; }
  int height() const { return m_h; }

  void Fill(const Mask& mask, const Paint& paint, float opacity = 1.0f, int ox = 0, int oy = 0);
  void Fill(const Sdf& shape, const Paint& paint, float opacity = 1.0f);
  // The same, evaluating the shape only inside the box.
  void Fill(const Sdf& shape, const Paint& paint, Rect box, float opacity = 1.0f);
  // A soft halo around the shape, falling to nothing `radius` outside it.
  void FillGlow(const Sdf& shape, float radius, const Paint& paint, Rect box);
  void FillGlow(const Sdf& shape, float radius, const Paint& paint) { FillGlow(shape, radius, paint, {0, 0, m_w, m_h}); }
  // Shape filled and outlined (the outline lies outside the fill).
  void FillOutlined(const Sdf& shape, const Paint& fill, const Paint& outline, float outlineWidth);
  void Draw(const Canvas& src, int ox, int oy, float opacity = 1.0f);
  // Multiplies every pixel's alpha (and premultiplied colour) by the mask.
  void ApplyMask(const Mask& m);
  // Horizontal motion blur of the given length.
  Canvas MotionBlurred(int length) const;
  // Colour transform of every pixel (straight colours in and out).
  void Recolor(const std::function<Rgba(Rgba)>& f);
  Rgba Get(int x, int y) const;

  // 8-bit straight RGBA rows, top first.
  std::vector<std::uint8_t> ToRgba8() const;

 private:
  void Blend(int x, int y, const Rgba& c, float coverage);
  int m_w, m_h;
  std::vector<float> m_px;
};

}  // namespace assetgen

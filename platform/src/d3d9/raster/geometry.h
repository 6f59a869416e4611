// Vertex processing: fetching vertices through the layout, the World x View x
// Projection transform, clipping (0 <= z <= w, w > 0 and a +-16,384 px guard
// band), the perspective divide, the viewport mapping and snapping to 1/256 px.
#pragma once

#include <cstdint>
#include <vector>

#include "d3d9/rasterizer.h"

namespace platform::d3d9::raster {

// Attributes carried by a vertex: diffuse B, G, R, A and specular B, G, R, A
// (0-255), then u, v of texture coordinate sets 0-7.
constexpr int kDiffuse = 0;
constexpr int kSpecular = 4;
constexpr int kTexCoord = 8;
constexpr int kAttrs = 24;

struct Vertex {
  double x, y, z, w;  // clip space; pre-transformed: screen x, y, z and w = 1 / rhw
  float a[kAttrs];
};

struct ScreenVertex {
  std::int64_t X, Y;  // 1/256 pixel
  double z;           // depth after the viewport mapping
  double q;           // 1 / w
  float a[kAttrs];
};

constexpr double kGuardBand = 16384.0;

class Geometry {
 public:
  // `attrs` is how many attributes the pipeline reads (8 + 2 x sets).
  void Begin(const DrawRequest& request, int attrs);

  // The vertex of the n-th index (or n-th vertex) of the draw, transformed;
  // the result has a bit per clip plane the vertex lies outside of (kInvalid
  // for a vertex with a non-finite coordinate).
  std::uint32_t Get(UINT n, Vertex* out);
  static constexpr std::uint32_t kInvalid = 0x80000000u;
  // The screen form of a vertex inside every plane.
  void Project(const Vertex& v, ScreenVertex* out) const;

  // Clips a triangle; returns the polygon's vertex count (0: nothing left).
  int ClipTriangle(const Vertex* const tri[3], std::uint32_t outside, Vertex* polygon) const;
  // Clips a segment; false when nothing is left.
  bool ClipLine(Vertex& a, Vertex& b, std::uint32_t outside) const;
  int Attrs() const { return m_attrs; }

  static constexpr int kMaxPolygon = 16;

 private:
  struct Element {
    const std::uint8_t* data = nullptr;  // stream data plus the element's offset
    UINT stride = 0;
    BYTE type = 0;
  };
  UINT VertexIndex(UINT n) const;
  void Fetch(UINT index, Vertex* out) const;
  std::uint32_t Outcode(const Vertex& v) const;
  double PlaneDistance(const Vertex& v, int plane) const;
  void Lerp(const Vertex& a, const Vertex& b, double t, Vertex* out) const;

  const DrawRequest* m_request = nullptr;
  bool m_transformed = false;
  bool m_clipDepth = true;
  int m_attrs = kAttrs;
  Element m_position, m_diffuse, m_specular, m_tex[8];
  double m_matrix[4][4];
  double m_viewport[6];  // X, Y, W, H, MinZ, MaxZ
  // a x + b y + c z + d w + e >= 0: the guard band (4), then w > 0, z >= 0 and z <= w.
  double m_planes[7][5];
  int m_planeCount = 0;
  // Transformed vertices of the draw's index range, when it is compact.
  std::vector<Vertex> m_cache;
  std::vector<std::uint32_t> m_cacheOutside;
  std::vector<std::uint8_t> m_cached;
  std::int64_t m_cacheBase = 0;
};

}  // namespace platform::d3d9::raster

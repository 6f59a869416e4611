// Resampling a finished cube face into the sphere, hemisphere or paraboloid
// maps: the meshes that carry each face into each map, and the draw with its
// recorded device state.
#include <cmath>

#include "gxl/draw/envmap_renderer_object.h"
#include "gxl/math/matrix.h"
#include "gxl/math/vector.h"

namespace gxl {

namespace {

// A cube face as seen from the map: its normal N and the midpoints A, B (the
// ends of the s axis) and C, D (of the t axis) of its edges. The map's z axis
// is the cube's negated, so the +Z face looks down -z here.
struct FaceFrame {
  Vec3 n, a, b, c, d;
};
// clang-format off
constexpr FaceFrame kFrames[6] = {
    {{1, 0, 0},  {1, 0, 1},   {1, 0, -1},  {1, -1, 0},   {1, 1, 0}},
    {{-1, 0, 0}, {-1, 0, -1}, {-1, 0, 1},  {-1, -1, 0},  {-1, 1, 0}},
    {{0, 1, 0},  {1, 1, 0},   {-1, 1, 0},  {0, 1, -1},   {0, 1, 1}},
    {{0, -1, 0}, {1, -1, 0},  {-1, -1, 0}, {0, -1, 1},   {0, -1, -1}},
    {{0, 0, -1}, {1, 0, -1},  {-1, 0, -1}, {0, -1, -1},  {0, 1, -1}},
    {{0, 0, 1},  {-1, 0, 1},  {1, 0, 1},   {0, -1, 1},   {0, 1, 1}},
};
// clang-format on

constexpr int kCells = 16;  // grid cells along each face edge
constexpr D3DCOLOR kWhite = 0xFFFFFFFF;
constexpr D3DCOLOR kTransparentWhite = 0x00FFFFFF;

// The point of face parameters (s, t) on the cube of edge 2.
Vec3 FacePoint(const FaceFrame& f, float s, float t) { return f.a + (f.b - f.a) * s + f.c + (f.d - f.c) * t - f.n; }

Vec3 UnitFacePoint(const FaceFrame& f, float s, float t) {
  const Vec3 p = FacePoint(f, s, t);
  Vec3 d;
  Vec3Normalize(&d, &p);
  return d;
}

// The position in map space that looks into direction d (a unit vector).
Vec3 MapDirection(CaptureKind kind, int output, const Vec3& d) {
  switch (kind) {
    case CaptureKind::Sphere: {
      const float m = std::sqrt(0.5f * d.z + 0.5f);
      return Vec3(0.5f / m * d.x, 0.5f / m * d.y, m);
    }
    case CaptureKind::Hemisphere:
      return Vec3(d.x, d.y, output == 0 ? d.z : -d.z);
    default: {
      const float k = output == 0 ? 0.5f / ((d.z + 1.0f) * 0.5f) : 0.5f / (0.5f - 0.5f * d.z);
      return Vec3(k * d.x, k * d.y, output == 0 ? d.z : -d.z);
    }
  }
}

// Writes vertices and indices when it has somewhere to write them, and counts.
class MeshWriter {
 public:
  MeshWriter(ResampleVertex* vertices, std::uint16_t* indices) : m_vertices(vertices), m_indices(indices) {}
  void Vertex(const Vec3& p, D3DCOLOR color, float u, float v) {
    if (m_vertices) m_vertices[m_vertexCount] = {p.x, p.y, p.z, color, u, v};
    ++m_vertexCount;
  }
  // The two triangles of a cell whose corners are base, base + 1 (along a
  // row) and base + stride, base + stride + 1 (the next row).
  void Cell(UINT base, UINT stride) {
    const UINT corner[6] = {base, base + stride, base + 1, base + 1, base + stride, base + stride + 1};
    for (const UINT i : corner) {
      if (m_indices) m_indices[m_indexCount] = static_cast<std::uint16_t>(i);
      ++m_indexCount;
    }
  }
  UINT VertexCount() const { return m_vertexCount; }
  UINT IndexCount() const { return m_indexCount; }

 private:
  ResampleVertex* m_vertices;
  std::uint16_t* m_indices;
  UINT m_vertexCount = 0, m_indexCount = 0;
};

// A regular face's grid lines j0..j1 (along s) and i0..i1 (along t), inclusive.
struct GridBounds {
  int j0, j1, i0, i1;
};

GridBounds BoundsOf(CaptureKind kind, int output, int face) {
  if (kind == CaptureKind::Sphere) return {0, kCells, 0, kCells};
  // The paraboloid's pair leaves the face opposite each map out altogether.
  if (kind == CaptureKind::Paraboloid && face == (output == 0 ? 4 : 5)) return {0, 0, 0, 0};
  const int lo = kind == CaptureKind::Hemisphere ? 7 : 4;
  const int hi = kind == CaptureKind::Hemisphere ? 9 : 12;
  const FaceFrame& f = kFrames[face];
  auto behind = [output](float z) { return output == 0 ? z < 0 : z > 0; };
  return {behind(f.a.z) ? lo : 0, behind(f.b.z) ? hi : kCells, behind(f.c.z) ? lo : 0, behind(f.d.z) ? hi : kCells};
}

void WriteRegularFace(CaptureKind kind, int output, int face, MeshWriter& w) {
  const GridBounds g = BoundsOf(kind, output, face);
  if (g.i0 == g.i1 || g.j0 == g.j1) return;
  const UINT first = w.VertexCount();
  for (int i = g.i0; i <= g.i1; ++i)
    for (int j = g.j0; j <= g.j1; ++j) {
      const float s = static_cast<float>(j) / kCells, t = static_cast<float>(i) / kCells;
      const Vec3 d = UnitFacePoint(kFrames[face], s, t);
      Vec3 p = MapDirection(kind, output, d);
      D3DCOLOR color = kWhite;
      if (output == 0 ? d.z < 0 : d.z > 0) {
        // Behind the map: a paraboloid fades out, a hemisphere is pushed
        // outside the drawn square.
        if (kind == CaptureKind::Paraboloid) color = kTransparentWhite;
        if (kind == CaptureKind::Hemisphere) p *= 2.0f;
      }
      w.Vertex(p, color, 1.0f - s, 1.0f - t);
    }
  const UINT stride = static_cast<UINT>(g.j1 - g.j0 + 1);
  for (int i = g.i0; i < g.i1; ++i)
    for (int j = g.j0; j < g.j1; ++j) w.Cell(first + stride * (i - g.i0) + (j - g.j0), stride);
}

// The sphere map's rim looks into the middle of the +Z face, where the
// mapping has no limit. The face is walked from each edge towards (not to) its
// middle, and a last vertex per row, at the face's edge point unmapped, fills
// the map's square outside the rim.
void WriteSphereRimFace(MeshWriter& w) {
  constexpr int kRows = kCells + 1, kColumns = 8, kRowVertices = kColumns + 1;
  constexpr float kEdges[4][2][2] = {{{0, 0}, {1, 0}}, {{1, 0}, {1, 1}}, {{1, 1}, {0, 1}}, {{0, 1}, {0, 0}}};
  const FaceFrame& f = kFrames[4];
  const UINT first = w.VertexCount();
  for (const auto& edge : kEdges)
    for (int r = 0; r < kRows; ++r) {
      const float k = static_cast<float>(r) / kCells;
      const float es = edge[0][0] + (edge[1][0] - edge[0][0]) * k;
      const float et = edge[0][1] + (edge[1][1] - edge[0][1]) * k;
      for (int c = 0; c < kColumns; ++c) {
        const float wgt = static_cast<float>(c) / (kColumns - 1);
        const float ps = es + (0.5f - es) * (0.99f * wgt), pt = et + (0.5f - et) * (0.99f * wgt);
        const float ts = es + (0.5f - es) * wgt, tt = et + (0.5f - et) * wgt;
        w.Vertex(MapDirection(CaptureKind::Sphere, 0, UnitFacePoint(f, ps, pt)), kWhite, 1.0f - ts, 1.0f - tt);
      }
      w.Vertex(FacePoint(f, es, et), kWhite, 0.5f, 0.5f);
    }
  for (int q = 0; q < 4; ++q)
    for (int r = 0; r < kCells; ++r)
      for (int c = 0; c < kColumns; ++c) w.Cell(first + (kRows * q + r) * kRowVertices + c, kRowVertices);
}

}  // namespace

void BuildResampleMesh(CaptureKind kind, int output, ResampleVertex* vertices, std::uint16_t* indices,
                       FaceRange faces[6]) {
  MeshWriter w(vertices, indices);
  for (int face = 0; face < 6; ++face) {
    faces[face].firstVertex = w.VertexCount();
    faces[face].firstIndex = w.IndexCount();
    if (kind == CaptureKind::Sphere && face == 4)
      WriteSphereRimFace(w);
    else
      WriteRegularFace(kind, output, face, w);
    faces[face].vertexCount = w.VertexCount() - faces[face].firstVertex;
    faces[face].indexCount = w.IndexCount() - faces[face].firstIndex;
  }
}

HRESULT EnvMapSceneRendererObject::BuildMeshes(CaptureKind kind) {
  const int outputs = kind == CaptureKind::Sphere ? 1 : 2;
  ResampleMesh* meshes = m_meshes[static_cast<std::uint32_t>(kind)];
  HRESULT hr = S_OK;
  for (int o = 0; o < outputs && SUCCEEDED(hr); ++o) {
    ResampleMesh& mesh = meshes[o];
    BuildResampleMesh(kind, o, nullptr, nullptr, mesh.faces);
    const UINT vertexCount = mesh.faces[5].firstVertex + mesh.faces[5].vertexCount;
    const UINT indexCount = mesh.faces[5].firstIndex + mesh.faces[5].indexCount;
    hr = m_device->CreateVertexBuffer(vertexCount * sizeof(ResampleVertex), D3DUSAGE_WRITEONLY, kDrawVertexFvf,
                                      D3DPOOL_MANAGED, mesh.vertices.Put(), nullptr);
    if (SUCCEEDED(hr))
      hr = m_device->CreateIndexBuffer(indexCount * sizeof(std::uint16_t), D3DUSAGE_WRITEONLY, D3DFMT_INDEX16,
                                       D3DPOOL_MANAGED, mesh.indices.Put(), nullptr);
    void* vertices = nullptr;
    void* indices = nullptr;
    if (SUCCEEDED(hr)) hr = mesh.vertices->Lock(0, 0, &vertices, 0);
    if (SUCCEEDED(hr)) {
      hr = mesh.indices->Lock(0, 0, &indices, 0);
      if (SUCCEEDED(hr)) {
        BuildResampleMesh(kind, o, static_cast<ResampleVertex*>(vertices), static_cast<std::uint16_t*>(indices),
                          mesh.faces);
        mesh.indices->Unlock();
      }
      mesh.vertices->Unlock();
    }
  }
  // A kind counts as built only with all its meshes: a failure drops them all.
  if (FAILED(hr))
    for (int o = 0; o < 2; ++o) {
      meshes[o].vertices.Reset();
      meshes[o].indices.Reset();
    }
  return hr;
}

// Both blocks hold the same states; the saved one also takes the texture and
// the stream back.
void EnvMapSceneRendererObject::RecordResampleState(bool saved) {
  IDirect3DDevice9* d = m_device.Get();
  d->SetFVF(kDrawVertexFvf);
  d->SetPixelShader(nullptr);
  d->SetViewport(&m_viewport);

  // The map's [-1, 1] square, moved by half a texel so that texel centres
  // fall on pixel centres.
  const float half = 1.0f / static_cast<float>(m_desc.size);
  Matrix4 projection, view, world;
  MatrixOrthoOffCenterRH(&projection, half - 1.0f, half + 1.0f, -1.0f - half, 1.0f - half, 0.0f, 2.0f);
  const Vec3 eye(0, 0, 1), at(0, 0, 0), up(0, 1, 0);
  MatrixLookAtRH(&view, &eye, &at, &up);
  MatrixIdentity(&world);
  d->SetTransform(D3DTS_PROJECTION, reinterpret_cast<const D3DMATRIX*>(&projection));
  d->SetTransform(D3DTS_VIEW, reinterpret_cast<const D3DMATRIX*>(&view));
  d->SetTransform(D3DTS_WORLD, reinterpret_cast<const D3DMATRIX*>(&world));

  d->SetRenderState(D3DRS_ZENABLE, 0);
  d->SetRenderState(D3DRS_FILLMODE, D3DFILL_SOLID);
  d->SetRenderState(D3DRS_CULLMODE, D3DCULL_NONE);
  d->SetRenderState(D3DRS_WRAP0, 0);
  d->SetRenderState(D3DRS_CLIPPING, TRUE);
  d->SetRenderState(D3DRS_VERTEXBLEND, 0);
  d->SetRenderState(D3DRS_CLIPPLANEENABLE, 0);
  d->SetNPatchMode(0.0f);
  d->SetRenderState(D3DRS_INDEXEDVERTEXBLENDENABLE, FALSE);
  d->SetRenderState(D3DRS_ALPHABLENDENABLE, FALSE);
  d->SetRenderState(D3DRS_ENABLEADAPTIVETESSELLATION, FALSE);
  d->SetRenderState(D3DRS_FOGENABLE, FALSE);
  d->SetRenderState(D3DRS_SPECULARENABLE, FALSE);
  d->SetRenderState(D3DRS_STENCILENABLE, FALSE);
  d->SetRenderState(D3DRS_LIGHTING, FALSE);
  d->SetRenderState(D3DRS_DIFFUSEMATERIALSOURCE, D3DMCS_COLOR1);

  d->SetTextureStageState(0, D3DTSS_COLOROP, D3DTOP_MODULATE);
  d->SetTextureStageState(0, D3DTSS_COLORARG1, D3DTA_TEXTURE);
  d->SetTextureStageState(0, D3DTSS_COLORARG2, D3DTA_DIFFUSE);
  d->SetTextureStageState(0, D3DTSS_ALPHAOP, D3DTOP_MODULATE);
  d->SetTextureStageState(0, D3DTSS_ALPHAARG1, D3DTA_TEXTURE);
  d->SetTextureStageState(0, D3DTSS_ALPHAARG2, D3DTA_DIFFUSE);
  d->SetTextureStageState(1, D3DTSS_COLOROP, D3DTOP_DISABLE);
  d->SetTextureStageState(1, D3DTSS_ALPHAOP, D3DTOP_DISABLE);
  d->SetTextureStageState(0, D3DTSS_TEXCOORDINDEX, 0);
  d->SetTextureStageState(0, D3DTSS_TEXTURETRANSFORMFLAGS, D3DTTFF_DISABLE);

  d->SetSamplerState(0, D3DSAMP_MAGFILTER, D3DTEXF_LINEAR);
  d->SetSamplerState(0, D3DSAMP_MINFILTER, D3DTEXF_LINEAR);
  d->SetSamplerState(0, D3DSAMP_MIPFILTER, D3DTEXF_LINEAR);
  d->SetSamplerState(0, D3DSAMP_ADDRESSU, D3DTADDRESS_CLAMP);
  d->SetSamplerState(0, D3DSAMP_ADDRESSV, D3DTADDRESS_CLAMP);
  d->SetSamplerState(0, D3DSAMP_MIPMAPLODBIAS, 0);
  d->SetSamplerState(0, D3DSAMP_MAXMIPLEVEL, 0);
  d->SetSamplerState(0, D3DSAMP_SRGBTEXTURE, 0);
  d->SetSamplerState(0, D3DSAMP_ELEMENTINDEX, 0);
  if (saved) {
    d->SetTexture(0, nullptr);
    d->SetStreamSource(0, nullptr, 0, 0);
  }
}

void EnvMapSceneRendererObject::RecordResampleBlocks() {
  if (m_resampleSaved && m_resampleDrawing) return;
  m_resampleSaved.Reset();
  m_resampleDrawing.Reset();
  for (const bool saved : {true, false}) {
    m_device->BeginStateBlock();
    RecordResampleState(saved);
    m_device->EndStateBlock(saved ? m_resampleSaved.Put() : m_resampleDrawing.Put());
  }
}

HRESULT EnvMapSceneRendererObject::DrawFaceInto(int output) {
  const ResampleMesh& mesh = m_meshes[static_cast<std::uint32_t>(m_kind)][output];
  const FaceRange& range = mesh.faces[m_face];
  if (!m_outputs[output] || range.indexCount == 0) return S_OK;
  IDirect3DDevice9* d = m_device.Get();
  HRESULT hr;
  if (m_outputDirect[output]) {
    ComRef<IDirect3DSurface9> level;
    hr = m_outputs[output]->GetSurfaceLevel(0, level.Put());
    if (SUCCEEDED(hr)) hr = d->SetRenderTarget(0, level.Get());
  } else {
    ComRef<IDirect3DSurface9>& target = m_outputTargets[output];
    hr = target ? S_OK
                : d->CreateRenderTarget(m_desc.size, m_desc.size, m_desc.format, D3DMULTISAMPLE_NONE, 0, TRUE,
                                        target.Put(), nullptr);
    if (SUCCEEDED(hr)) hr = d->SetRenderTarget(0, target.Get());
  }
  if (FAILED(hr)) return hr;
  // Each face covers only its part of the map; the six together fill it.
  d->SetDepthStencilSurface(nullptr);
  d->SetViewport(&m_viewport);
  d->SetStreamSource(0, mesh.vertices.Get(), 0, sizeof(ResampleVertex));
  d->SetIndices(mesh.indices.Get());
  d->SetTexture(0, m_faceTexture.Get());
  // A face that was not drawn leaves a hole in the map: that is reported.
  hr = d->BeginScene();
  if (FAILED(hr)) return hr;
  hr = d->DrawIndexedPrimitive(D3DPT_TRIANGLELIST, 0, range.firstVertex, range.vertexCount, range.firstIndex,
                               range.indexCount / 3);
  const HRESULT ended = d->EndScene();
  return FAILED(hr) ? hr : ended;
}

HRESULT EnvMapSceneRendererObject::ResampleFace() {
  if (!m_meshes[static_cast<std::uint32_t>(m_kind)][0].vertices) {
    const HRESULT hr = BuildMeshes(m_kind);
    if (FAILED(hr)) return hr;
  }
  {
    DebugMuteScope mute;
    m_device->GetIndices(m_savedIndices.Put());
    RecordResampleBlocks();
    if (m_resampleSaved) m_resampleSaved->Capture();
    if (m_resampleDrawing) m_resampleDrawing->Apply();
  }
  HRESULT hr = S_OK;
  for (int o = 0; o < 2 && SUCCEEDED(hr); ++o) hr = DrawFaceInto(o);
  DebugMuteScope mute;
  if (m_resampleSaved) m_resampleSaved->Apply();
  m_device->SetIndices(m_savedIndices.Get());
  return hr;
}

}  // namespace gxl

// Render to environment map: six flat-coloured faces land in the cube's faces
// and in the regions of the sphere, hemisphere and paraboloid maps that look
// into them; the device comes back as it was, also after failures.
#include <gtest/gtest.h>

#include <cmath>

#include "draw_test_support.h"
#include "gxl/draw/envmap_renderer_object.h"
#include "gxl/tex/filter_flags.h"

namespace drawtest {
namespace {

using gxl::CaptureKind;
using gxl::FaceRange;

constexpr UINT kSize = 64;
constexpr D3DCOLOR kFaceColours[6] = {0xFFFF0000, 0xFF00FF00, 0xFF0000FF, 0xFFFFFF00, 0xFF00FFFF, 0xFFFF00FF};

// The cube face whose colour a direction of map space sees: the map's z is
// the cube's negated. -1 near an edge between faces.
int FaceSeen(float x, float y, float z) {
  const float a[3] = {std::fabs(x), std::fabs(y), std::fabs(z)};
  const int m = a[0] >= a[1] && a[0] >= a[2] ? 0 : a[1] >= a[2] ? 1 : 2;
  if (a[m] < 1.25f * a[(m + 1) % 3] || a[m] < 1.25f * a[(m + 2) % 3]) return -1;
  const float v = m == 0 ? x : m == 1 ? y : -z;
  return 2 * m + (v > 0 ? 0 : 1);
}

// The face that output pixel (i, j) of a map shows, from the inverse of each
// projection; -1 where the map is not probed.
int FaceAtPixel(CaptureKind kind, int output, UINT i, UINT j) {
  const float px = (2.0f * i + 1) / kSize - 1, py = 1 - (2.0f * j + 1) / kSize, r2 = px * px + py * py;
  const float side = output == 0 ? 1.0f : -1.0f;
  switch (kind) {
    case CaptureKind::Sphere:
      if (r2 > 1.2f && std::fabs(px) < 0.9f && std::fabs(py) < 0.9f) return 4;  // outside the rim
      if (r2 > 0.8f) return -1;
      return FaceSeen(2 * px * std::sqrt(1 - r2), 2 * py * std::sqrt(1 - r2), 1 - 2 * r2);
    case CaptureKind::Hemisphere:
      return r2 < 0.9f ? FaceSeen(px, py, side * std::sqrt(1 - r2)) : -1;
    default:
      return r2 < 0.9f ? FaceSeen(2 * px, 2 * py, side * (1 - r2)) : -1;
  }
}

class EnvMapSceneRendererTest : public SpriteTest {
 protected:
  ComRef<EnvMapSceneRenderer> Make(UINT levels = 1) {
    EnvMapSceneRenderer* r = nullptr;
    EXPECT_EQ(GXLCreateEnvMapSceneRenderer(dev, kSize, levels, D3DFMT_A8R8G8B8, TRUE, D3DFMT_D16, &r), S_OK);
    return ComRef<EnvMapSceneRenderer>(r);
  }
  ComRef<IDirect3DTexture9> Output(bool renderTarget, UINT size = kSize, D3DFORMAT format = D3DFMT_A8R8G8B8) {
    ComRef<IDirect3DTexture9> t;
    EXPECT_EQ(dev->CreateTexture(size, size, 1, renderTarget ? D3DUSAGE_RENDERTARGET : 0, format,
                                 renderTarget ? D3DPOOL_DEFAULT : D3DPOOL_MANAGED, t.Put(), nullptr),
              D3D_OK);
    return t;
  }
  std::vector<std::uint32_t> Pixels(IDirect3DTexture9* t) {
    ComRef<IDirect3DSurface9> s;
    EXPECT_EQ(t->GetSurfaceLevel(0, s.Put()), D3D_OK);
    return SurfacePixels(s.Get());
  }
  // The caller's part: each face cleared to its colour.
  HRESULT CaptureFacesClearing(EnvMapSceneRenderer* r, DWORD filter) {
    for (UINT f = 0; f < 6; ++f) {
      const HRESULT hr = r->NextFace(static_cast<D3DCUBEMAP_FACES>(f), filter);
      if (FAILED(hr)) return hr;
      EXPECT_EQ(dev->Clear(0, nullptr, D3DCLEAR_TARGET, kFaceColours[f], 1.0f, 0), D3D_OK);
    }
    return r->FinishCapture(filter);
  }
  void ExpectMap(CaptureKind kind, int output, IDirect3DTexture9* map) {
    const auto px = Pixels(map);
    int probes[6] = {}, wrong = 0;
    for (UINT j = 0; j < kSize; ++j)
      for (UINT i = 0; i < kSize; ++i) {
        const int face = FaceAtPixel(kind, output, i, j);
        if (face < 0) continue;
        ++probes[face];
        if ((px[j * kSize + i] & 0xFFFFFF) != (kFaceColours[face] & 0xFFFFFF) && ++wrong <= 5)
          ADD_FAILURE() << "output " << output << " (" << i << ", " << j << ") " << std::hex << px[j * kSize + i]
                        << " expected face " << face;
      }
    // Every face the map looks into was probed.
    for (int f = 0; f < 6; ++f) {
      const bool hidden = kind != CaptureKind::Sphere && f == (output == 0 ? 4 : 5);
      EXPECT_EQ(probes[f] > 20, !hidden) << "face " << f << " output " << output;
    }
  }
};

TEST_F(EnvMapSceneRendererTest, CubeFacesTakeTheirSceneAndNothingBelow) {
  for (const bool renderTarget : {true, false}) {
    SCOPED_TRACE(renderTarget ? "render-target cube" : "managed cube");
    ComRef<IDirect3DCubeTexture9> cube;
    ASSERT_EQ(dev->CreateCubeTexture(kSize, 2, renderTarget ? D3DUSAGE_RENDERTARGET : 0, D3DFMT_A8R8G8B8,
                                     renderTarget ? D3DPOOL_DEFAULT : D3DPOOL_MANAGED, cube.Put(), nullptr),
              D3D_OK);
    auto r = Make();
    const auto before = platform::test::SnapshotState(dev);
    ASSERT_EQ(r->StartCubeCapture(cube.Get()), S_OK);
    ASSERT_EQ(CaptureFacesClearing(r.Get(), FilterFlags::Box), S_OK);
    EXPECT_EQ(platform::test::SnapshotState(dev), before);
    for (UINT f = 0; f < 6; ++f) {
      ComRef<IDirect3DSurface9> level0, level1;
      ASSERT_EQ(cube->GetCubeMapSurface(static_cast<D3DCUBEMAP_FACES>(f), 0, level0.Put()), D3D_OK);
      for (const std::uint32_t p : SurfacePixels(level0.Get())) ASSERT_EQ(p, kFaceColours[f]) << "face " << f;
      if (renderTarget) continue;
      ASSERT_EQ(cube->GetCubeMapSurface(static_cast<D3DCUBEMAP_FACES>(f), 1, level1.Put()), D3D_OK);
      EXPECT_NE(SurfacePixels(level1.Get())[0], kFaceColours[f]) << "level 1 of face " << f << " was filled";
    }
  }
}

TEST_F(EnvMapSceneRendererTest, EachFaceLandsWhereTheMapLooksIntoIt) {
  const struct {
    CaptureKind kind;
    bool renderTargets;
    UINT faceLevels;
    bool faceTarget;  // the face texture can be a render target
  } cases[] = {{CaptureKind::Sphere, true, 1, true},     {CaptureKind::Sphere, false, 3, true},
               {CaptureKind::Hemisphere, true, 1, true}, {CaptureKind::Hemisphere, false, 1, false},
               {CaptureKind::Paraboloid, true, 3, false}, {CaptureKind::Paraboloid, false, 1, true}};
  for (const auto& c : cases) {
    SCOPED_TRACE(testing::Message() << "kind " << int(c.kind) << (c.renderTargets ? " render targets" : " managed")
                                    << (c.faceTarget ? "" : ", face through the target surface"));
    auto r = Make(c.faceLevels);
    auto front = Output(c.renderTargets), back = Output(c.renderTargets);
    const int refusals = platform::test::InjectedFailureCount("CreateTexture");
    if (!c.faceTarget) platform::test::FailCall("CreateTexture", D3DERR_NOTAVAILABLE, {"usage=0x1 ", 1, 1});
    const auto before = platform::test::SnapshotState(dev);
    if (c.kind == CaptureKind::Sphere)
      ASSERT_EQ(r->StartSphereCapture(front.Get()), S_OK);
    else if (c.kind == CaptureKind::Hemisphere)
      ASSERT_EQ(r->StartHemisphereCapture(front.Get(), back.Get()), S_OK);
    else
      ASSERT_EQ(r->StartParaboloidCapture(front.Get(), back.Get()), S_OK);
    ASSERT_EQ(CaptureFacesClearing(r.Get(), FilterFlags::Box), S_OK);
    EXPECT_EQ(platform::test::InjectedFailureCount("CreateTexture") - refusals, c.faceTarget ? 0 : 1);
    EXPECT_EQ(platform::test::SnapshotState(dev), before)
        << testing::PrintToString(platform::test::DiffStates(before, platform::test::SnapshotState(dev)));
    ExpectMap(c.kind, 0, front.Get());
    if (c.kind != CaptureKind::Sphere) ExpectMap(c.kind, 1, back.Get());
  }
}

TEST_F(EnvMapSceneRendererTest, MeshSizes) {
  const struct {
    CaptureKind kind;
    int output, face;
    UINT vertices, indices;  // of the face; face -1: the whole mesh
  } cases[] = {{CaptureKind::Sphere, 0, -1, 5 * 289 + 612, 5 * 1536 + 3072},
               {CaptureKind::Sphere, 0, 4, 612, 3072},
               {CaptureKind::Hemisphere, 0, 0, 170, 864},
               {CaptureKind::Hemisphere, 0, 4, 9, 24},
               {CaptureKind::Hemisphere, 1, 5, 9, 24},
               {CaptureKind::Paraboloid, 0, 0, 221, 1152},
               {CaptureKind::Paraboloid, 0, 4, 0, 0},
               {CaptureKind::Paraboloid, 1, 5, 0, 0}};
  for (const auto& c : cases) {
    FaceRange faces[6];
    gxl::BuildResampleMesh(c.kind, c.output, nullptr, nullptr, faces);
    const FaceRange whole{0, faces[5].firstVertex + faces[5].vertexCount, 0, faces[5].firstIndex + faces[5].indexCount};
    const FaceRange& f = c.face < 0 ? whole : faces[c.face];
    EXPECT_EQ(f.vertexCount, c.vertices) << int(c.kind) << " " << c.output << " " << c.face;
    EXPECT_EQ(f.indexCount, c.indices) << int(c.kind) << " " << c.output << " " << c.face;
  }
  // The hemisphere's face behind the map is pushed outside the drawn square.
  FaceRange faces[6];
  gxl::BuildResampleMesh(CaptureKind::Hemisphere, 0, nullptr, nullptr, faces);
  std::vector<gxl::ResampleVertex> v(faces[5].firstVertex + faces[5].vertexCount);
  std::vector<std::uint16_t> i(faces[5].firstIndex + faces[5].indexCount);
  gxl::BuildResampleMesh(CaptureKind::Hemisphere, 0, v.data(), i.data(), faces);
  for (UINT k = 0; k < 9; ++k) EXPECT_LT(v[faces[4].firstVertex + k].z, -1.0f);
}

TEST_F(EnvMapSceneRendererTest, RefusalsAndCallOrder) {
  auto r = Make();
  auto good = Output(true), small = Output(true, 32), x8 = Output(true, kSize, D3DFMT_X8R8G8B8);
  const auto before = platform::test::SnapshotState(dev);
  EXPECT_EQ(r->StartSphereCapture(nullptr), D3DERR_INVALIDCALL);
  EXPECT_EQ(r->StartSphereCapture(small.Get()), D3DERR_INVALIDCALL);
  EXPECT_EQ(r->StartHemisphereCapture(good.Get(), x8.Get()), D3DERR_INVALIDCALL);
  EXPECT_EQ(r->StartParaboloidCapture(nullptr, nullptr), D3DERR_INVALIDCALL);
  EXPECT_EQ(r->StartCubeCapture(nullptr), D3DERR_INVALIDCALL);
  EXPECT_EQ(r->NextFace(D3DCUBEMAP_FACE_POSITIVE_X, 0), D3DERR_INVALIDCALL);  // no capture
  EXPECT_EQ(platform::test::SnapshotState(dev), before);

  ASSERT_EQ(r->StartSphereCapture(good.Get()), S_OK);
  EXPECT_EQ(r->StartSphereCapture(good.Get()), E_FAIL);
  ComRef<IDirect3DCubeTexture9> cube;
  ASSERT_EQ(
      dev->CreateCubeTexture(kSize, 1, D3DUSAGE_RENDERTARGET, D3DFMT_A8R8G8B8, D3DPOOL_DEFAULT, cube.Put(), nullptr),
      D3D_OK);
  EXPECT_EQ(r->StartCubeCapture(cube.Get()), D3DERR_INVALIDCALL);
  EXPECT_EQ(r->FinishCapture(0), D3DERR_INVALIDCALL);  // no face yet
  EXPECT_EQ(r->NextFace(static_cast<D3DCUBEMAP_FACES>(6), 0), D3DERR_INVALIDCALL);
  ASSERT_EQ(r->NextFace(D3DCUBEMAP_FACE_NEGATIVE_Y, 0), S_OK);
  // Losing the device ends the capture; the device's scene and target are the caller's.
  EXPECT_EQ(r->OnDeviceLost(), S_OK);
  EXPECT_EQ(r->FinishCapture(0), D3DERR_INVALIDCALL);
  EXPECT_EQ(dev->EndScene(), D3D_OK);
  ComRef<IDirect3DSurface9> back;
  ASSERT_EQ(dev->GetBackBuffer(0, 0, D3DBACKBUFFER_TYPE_MONO, back.Put()), D3D_OK);
  ASSERT_EQ(dev->SetRenderTarget(0, back.Get()), D3D_OK);
  ASSERT_EQ(r->StartCubeCapture(cube.Get()), S_OK);
  ASSERT_EQ(CaptureFacesClearing(r.Get(), 0), S_OK);
}

// A failure returns its code; a retry does not end the face's scene twice,
// and FinishCapture ends the capture whatever fails in it.
TEST_F(EnvMapSceneRendererTest, FailuresLeaveTheCaptureUsable) {
  const struct {
    const char* api;
    int face;  // the NextFace or (6) FinishCapture that meets the failure
  } cases[] = {{"EndScene", 2},
               {"CreateVertexBuffer", 1},
               {"CreateIndexBuffer", 1},
               {"DrawIndexedPrimitive", 3},
               {"LockRect", 6}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.api);
    auto r = Make();
    auto front = Output(false), back = Output(false);
    const auto before = platform::test::SnapshotState(dev);
    ASSERT_EQ(r->StartHemisphereCapture(front.Get(), back.Get()), S_OK);
    for (int f = 0; f < 6; ++f) {
      if (f == c.face) platform::test::FailCall(c.api, E_OUTOFMEMORY);
      HRESULT hr = r->NextFace(static_cast<D3DCUBEMAP_FACES>(f), 0);
      if (f == c.face) {
        EXPECT_EQ(hr, E_OUTOFMEMORY);
        hr = r->NextFace(static_cast<D3DCUBEMAP_FACES>(f), 0);
      }
      ASSERT_EQ(hr, S_OK) << f;
      ASSERT_EQ(dev->Clear(0, nullptr, D3DCLEAR_TARGET, kFaceColours[f], 1.0f, 0), D3D_OK);
    }
    if (c.face == 6) {
      platform::test::FailCall(c.api, E_OUTOFMEMORY, 1, -1);
      EXPECT_EQ(r->FinishCapture(0), E_OUTOFMEMORY);
      platform::test::ClearFailures();
      EXPECT_EQ(platform::test::SnapshotState(dev), before);
      EXPECT_EQ(r->StartHemisphereCapture(front.Get(), back.Get()), S_OK);
      ASSERT_EQ(CaptureFacesClearing(r.Get(), 0), S_OK);
    } else {
      ASSERT_EQ(r->FinishCapture(0), S_OK);
    }
    EXPECT_EQ(platform::test::SnapshotState(dev), before);
    ExpectMap(CaptureKind::Hemisphere, 0, front.Get());
    ExpectMap(CaptureKind::Hemisphere, 1, back.Get());
  }
}

}  // namespace
}  // namespace drawtest

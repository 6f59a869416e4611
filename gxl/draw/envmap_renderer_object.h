// The environment-map renderer's object: captures and faces
// (envmap_renderer.cpp) and the resampling of faces into sphere, hemisphere
// and paraboloid maps (envmap_resample.cpp). Only those files see it.
#pragma once

#include <cstdint>

#include "gxl/draw/drawing_object.h"
#include "gxl/draw/envmap_renderer.h"

namespace gxl {

// The capture kinds; the resample meshes are kept per kind and output.
enum class CaptureKind : std::uint32_t { None = 0, Cube = 1, Sphere = 2, Hemisphere = 3, Paraboloid = 4 };
constexpr std::uint32_t kCaptureKinds = 5;

// A vertex of the resample meshes: position in map space, colour, face
// texture coordinates.
using ResampleVertex = DrawVertex;

// Where one cube face's part of a mesh lies in its buffers.
struct FaceRange {
  UINT firstVertex, vertexCount, firstIndex, indexCount;
};

// The geometry that carries the six faces into one output map.
struct ResampleMesh {
  ComRef<IDirect3DVertexBuffer9> vertices;
  ComRef<IDirect3DIndexBuffer9> indices;
  FaceRange faces[6];
};

// Fills the ranges of one output's mesh of a kind and, when the pointers are
// not null, its vertices and (absolute) indices; counting passes give null.
void BuildResampleMesh(CaptureKind kind, int output, ResampleVertex* vertices, std::uint16_t* indices,
                       FaceRange faces[6]);

class EnvMapSceneRendererObject final : public DrawingObject<EnvMapSceneRenderer> {
 public:
  HRESULT Init(IDirect3DDevice9* device, UINT size, UINT mipLevels, D3DFORMAT format, BOOL depthEnable,
               D3DFORMAT depthFormat);

  HRESULT QueryInterface(REFIID iid, void** out) override;
  HRESULT QueryDescription(EnvMapSceneRendererDesc* desc) override;
  HRESULT StartCubeCapture(IDirect3DCubeTexture9* cube) override;
  HRESULT StartSphereCapture(IDirect3DTexture9* texture) override;
  HRESULT StartHemisphereCapture(IDirect3DTexture9* front, IDirect3DTexture9* back) override;
  HRESULT StartParaboloidCapture(IDirect3DTexture9* front, IDirect3DTexture9* back) override;
  HRESULT NextFace(D3DCUBEMAP_FACES face, DWORD mipFilter) override;
  HRESULT FinishCapture(DWORD mipFilter) override;
  HRESULT OnDeviceLost() override;
  HRESULT OnDeviceReset() override { return S_OK; }

 private:
  ~EnvMapSceneRendererObject() override { OnDeviceLost(); }

  // D3DERR_INVALIDCALL unless level 0 has the renderer's size and format.
  HRESULT CheckLevel(const D3DSURFACE_DESC& desc) const;
  HRESULT CheckTexture(IDirect3DTexture9* texture, bool* direct) const;
  HRESULT StartPair(IDirect3DTexture9* front, IDirect3DTexture9* back, CaptureKind kind);
  void SaveState();
  HRESULT OpenFace(D3DCUBEMAP_FACES face, DWORD mipFilter);
  HRESULT FinishFace();
  // Copies an output's target into it and rebuilds its levels; the first failure.
  HRESULT FillOutput(int output, DWORD mipFilter);

  // envmap_resample.cpp
  HRESULT BuildMeshes(CaptureKind kind);
  void RecordResampleBlocks();
  void RecordResampleState(bool saved);
  HRESULT ResampleFace();
  HRESULT DrawFaceInto(int output);

  EnvMapSceneRendererDesc m_desc{};
  ComRef<IDirect3DSurface9> m_target;  // for faces that cannot be rendered to
  ComRef<IDirect3DSurface9> m_depth;
  SavedTargets m_saved;
  ComRef<IDirect3DTexture9> m_faceTexture;  // the face last rendered (not for cubes)
  ComRef<IDirect3DCubeTexture9> m_cube;
  ComRef<IDirect3DTexture9> m_outputs[2];
  ComRef<IDirect3DSurface9> m_outputTargets[2];  // for outputs that cannot be rendered to
  bool m_outputDirect[2] = {false, false};
  ResampleMesh m_meshes[kCaptureKinds][2];

  CaptureKind m_kind = CaptureKind::None;
  D3DCUBEMAP_FACES m_face = D3DCUBEMAP_FACE_POSITIVE_X;
  DWORD m_mipFilter = 0;
  bool m_faceOpen = false;
  // The open face's scene has ended: finishing it again starts at the copy.
  bool m_faceSceneEnded = false;
  bool m_faceDirect = false;
  D3DVIEWPORT9 m_viewport{};

  ComRef<IDirect3DStateBlock9> m_captureBlock;  // viewport and depth test
  ComRef<IDirect3DIndexBuffer9> m_savedIndices;
  ComRef<IDirect3DStateBlock9> m_resampleSaved, m_resampleDrawing;
};

}  // namespace gxl

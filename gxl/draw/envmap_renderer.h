// Render to environment map: the caller draws a scene once per cube face
// (with its own view and projection) and the renderer turns the six pictures
// into a cube texture, or, by resampling each face on the device, into a
// sphere map, a pair of hemisphere maps or a pair of dual-paraboloid maps.
// The renderer provides the target, depth surface and viewport of each face
// and gives the device its render target, depth surface, viewport and depth
// test back at the end.
//
// Calling order: one Start; then, per face wanted, NextFace followed by the
// caller's drawing of that face (the renderer has begun the scene); then
// FinishCapture.
//
// Made only by GXLCreateEnvMapSceneRenderer; released with Release. Used on
// the thread that owns its device.
#pragma once

#include "platform/d3d9_api.h"

// Every face and every output map is size x size texels of this format.
struct EnvMapSceneRendererDesc {
  UINT size;
  UINT mipLevels;  // levels of the renderer's face texture
  D3DFORMAT format;
  BOOL depthEnable;  // the renderer supplies a depth buffer
  D3DFORMAT depthFormat;
};

struct EnvMapSceneRenderer : IUnknown {
  // QueryInterface clears the out-pointer, then answers
  // IidEnvMapSceneRenderer and IID_IUnknown.

  // The device, with a reference added.
  virtual HRESULT GetDeviceRef(IDirect3DDevice9** device) = 0;
  virtual HRESULT QueryDescription(EnvMapSceneRendererDesc* desc) = 0;
  // Each face lands in level 0 of its face of the cube texture. A second Start
  // while a capture runs: D3DERR_INVALIDCALL.
  virtual HRESULT StartCubeCapture(IDirect3DCubeTexture9* cube) = 0;
  // The other kinds: a second Start while a capture runs gives E_FAIL. For
  // the pairs either texture may be null, not both.
  virtual HRESULT StartSphereCapture(IDirect3DTexture9* texture) = 0;
  virtual HRESULT StartHemisphereCapture(IDirect3DTexture9* front, IDirect3DTexture9* back) = 0;
  virtual HRESULT StartParaboloidCapture(IDirect3DTexture9* front, IDirect3DTexture9* back) = 0;
  // Finishes the open face and opens `face` (D3DCUBEMAP_FACES, 0-5); the mip
  // filter rebuilds the face's levels before it is resampled.
  virtual HRESULT NextFace(D3DCUBEMAP_FACES face, DWORD mipFilter) = 0;
  // Finishes the last face, gives the device back, fills the output maps
  // (with a nonzero filter, their levels too) and ends the capture, also when
  // a step of it fails. D3DERR_INVALIDCALL when no face is open.
  virtual HRESULT FinishCapture(DWORD mipFilter) = 0;
  // Around a device reset: OnDeviceLost drops every device object and ends a
  // running capture.
  virtual HRESULT OnDeviceLost() = 0;
  virtual HRESULT OnDeviceReset() = 0;

 protected:
  ~EnvMapSceneRenderer() = default;
};

// D3DERR_INVALIDCALL for a null device or out-pointer; E_OUTOFMEMORY.
HRESULT GXLCreateEnvMapSceneRenderer(IDirect3DDevice9* device, UINT size, UINT mipLevels, D3DFORMAT format,
                                     BOOL depthEnable, D3DFORMAT depthFormat, EnvMapSceneRenderer** renderer);

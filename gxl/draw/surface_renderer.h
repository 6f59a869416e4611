// Render to surface: a scene drawn into a surface of the caller's choosing (a
// render target, or any surface such as a level of a texture) with an
// optional depth buffer of the renderer's own; the device's render target,
// depth surface and viewport are put back afterwards. A surface that cannot
// be a render target is drawn through an intermediate target and copied in
// at the end; a texture level can have the levels below it rebuilt.
//
// Made only by GXLCreateSurfaceSceneRenderer; released with Release. Used on
// the thread that owns its device.
#pragma once

#include "platform/d3d9_api.h"

// Every surface the renderer accepts has this size and format.
struct SurfaceSceneRendererDesc {
  UINT width;
  UINT height;
  D3DFORMAT format;
  BOOL depthEnable;  // the renderer supplies a depth buffer
  D3DFORMAT depthFormat;
};

struct SurfaceSceneRenderer : IUnknown {
  // QueryInterface clears the out-pointer, then answers
  // IidSurfaceSceneRenderer and IID_IUnknown.

  // The device, with a reference added.
  virtual HRESULT GetDeviceRef(IDirect3DDevice9** device) = 0;
  virtual HRESULT QueryDescription(SurfaceSceneRendererDesc* desc) = 0;
  // Opens a scene drawn into `surface` (of the renderer's size and format)
  // over `viewport` (null: the whole surface). A surface that is no render
  // target and lies in the default pool takes only the whole-surface viewport.
  virtual HRESULT BeginTargetScene(IDirect3DSurface9* surface, const D3DVIEWPORT9* viewport) = 0;
  // Closes the scene, copies an intermediate target into the surface, gives
  // the device its target, depth surface and viewport back and, with a
  // nonzero filter, rebuilds the levels below the surface's in its texture.
  virtual HRESULT EndTargetScene(DWORD mipFilter) = 0;
  // Around a device reset: OnDeviceLost drops every device object (and an open
  // scene); everything is made again by the next scene.
  virtual HRESULT OnDeviceLost() = 0;
  virtual HRESULT OnDeviceReset() = 0;

 protected:
  ~SurfaceSceneRenderer() = default;
};

// D3DERR_INVALIDCALL for a null device or out-pointer; E_OUTOFMEMORY.
HRESULT GXLCreateSurfaceSceneRenderer(IDirect3DDevice9* device, UINT width, UINT height, D3DFORMAT format,
                                      BOOL depthEnable, D3DFORMAT depthFormat, SurfaceSceneRenderer** renderer);

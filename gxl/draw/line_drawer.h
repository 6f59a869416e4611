// The line drawer: poly-lines of any width on a device, in screen pixels or as
// 3-D points through a matrix and the viewport. Lines that are wider or
// narrower than a pixel, stippled or smoothed are drawn as textured quads (two
// triangles a segment); a plain one-pixel line uses the device's line strips.
//
// Made only by GXLCreateLineDrawer; released with Release. Used on the thread
// that owns its device.
#pragma once

#include "gxl/math/records.h"
#include "platform/d3d9_api.h"

struct LineDrawer : IUnknown {
  // QueryInterface answers IidSpriteBatcher and IID_IUnknown; for any other id
  // it gives E_NOINTERFACE and leaves the out-pointer as it was.

  // The device, with a reference added.
  virtual HRESULT GetDeviceRef(IDirect3DDevice9** device) = 0;
  // Opens a bracket: the device state the drawing needs is saved and set once
  // for every draw until EndLines. The draws open a bracket of their own when
  // none is open.
  virtual HRESULT BeginLines() = 0;
  // Points in pixels of the viewport (y down); count >= 2.
  virtual HRESULT DrawPolyline(const Vec2* points, UINT count, D3DCOLOR color) = 0;
  // Points through the matrix (null: already projected) and the viewport.
  virtual HRESULT DrawPolylineTransformed(const Vec3* points, UINT count, const Matrix4* matrix, D3DCOLOR color) = 0;
  // The properties change only outside a bracket (else D3DERR_INVALIDCALL).
  // The stipple is 32 on/off bits, bit 0 first, each `scale` pixels long.
  virtual HRESULT SetStipple(DWORD pattern) = 0;
  virtual DWORD GetStipple() = 0;
  // The scale and the width must be finite and above 0.
  virtual HRESULT SetStippleScale(float scale) = 0;
  virtual float GetStippleScale() = 0;
  virtual HRESULT SetLineWidth(float width) = 0;
  virtual float GetLineWidth() = 0;
  virtual HRESULT SetSmoothing(BOOL smoothing) = 0;
  virtual BOOL GetSmoothing() = 0;
  // Axis-aligned ends for lines that are not smoothed.
  virtual HRESULT SetAltQuadMode(BOOL on) = 0;
  virtual BOOL GetAltQuadMode() = 0;
  // Gives the device the state it had at BeginLines.
  virtual HRESULT EndLines() = 0;
  // Around a device reset: OnDeviceLost drops every device object; the next
  // bracket makes them again.
  virtual HRESULT OnDeviceLost() = 0;
  virtual HRESULT OnDeviceReset() = 0;

 protected:
  ~LineDrawer() = default;
};

// D3DERR_INVALIDCALL for a null device or out-pointer, or a device that cannot
// filter textures linearly and by point or clamp and wrap them; E_OUTOFMEMORY.
HRESULT GXLCreateLineDrawer(IDirect3DDevice9* device, LineDrawer** drawer);

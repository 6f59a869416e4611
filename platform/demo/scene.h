// The demo's Direct3D test scene (scene.cpp).
#pragma once

#include "platform/d3d9_api.h"

namespace demo {

class Scene {
 public:
  Scene() = default;
  Scene(const Scene&) = delete;
  Scene& operator=(const Scene&) = delete;
  ~Scene();
  // A 640 x 480 device on the window (null: headless with that size).
  bool Create(HWND window);
  // Draws frame f and presents it.
  HRESULT Frame(int f);

 private:
  void Quad(IDirect3DBaseTexture9* texture, float x0, float y0, float x1, float y1, const DWORD colors[4]);

  IDirect3D9* m_d3d = nullptr;
  IDirect3DDevice9* m_dev = nullptr;
  IDirect3DTexture9* m_checker = nullptr;
  IDirect3DTexture9* m_disc = nullptr;
  IDirect3DTexture9* m_target = nullptr;
  IDirect3DSurface9* m_targetLevel = nullptr;
  IDirect3DSurface9* m_back = nullptr;
};

}  // namespace demo

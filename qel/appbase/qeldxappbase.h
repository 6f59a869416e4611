// The framework's application class. It owns the main window, the Direct3D
// object and device, the application font and the frame's sprite batch, runs
// the message loop and draws and presents a frame whenever no message waits.
// A program derives one class, sets the window size, title and full-screen
// choice in its constructor and supplies one-time initialisation, the
// per-frame update and the per-frame drawing; its entry point calls Create
// and, when that succeeds, Run, whose result is the exit code.
#pragma once

#include <memory>

#include "gxl/draw/sprite_batcher.h"
#include "platform/d3d9_api.h"
#include "platform/win_user.h"
#include "qel/appbase/qelbitmapfont.h"
#include "qel/appbase/qelspritetexture.h"

class C_DxAppBase {
 public:
  static constexpr const char* kWindowClass = "D3DFWSampleClass";

  C_DxAppBase();
  // Releases whatever Create made and Cleanup has not released.
  virtual ~C_DxAppBase();
  C_DxAppBase(const C_DxAppBase&) = delete;
  C_DxAppBase& operator=(const C_DxAppBase&) = delete;

  // Called once at the end of Create.
  virtual HRESULT OneTimeInit() = 0;
  // The logic step, on every pass of the loop that finds no message.
  virtual HRESULT UpdateFrame() = 0;
  // The drawing, inside the scene and inside the frame's sprite batch.
  virtual HRESULT DrawFrame() = 0;

  // Window, device and the framework's services; S_OK or E_FAIL.
  HRESULT Create(HINSTANCE hInstance, int nCmdShow);
  // The message loop: passes until the quit message, whose code it returns.
  int Run();
  // One pass of the loop: a message is taken and dispatched, or, when none
  // waits, one frame is updated, drawn and presented; then a 1 ms sleep.
  // False, with the quit message's code in *exitCode, when the quit message
  // ended the loop (no sleep follows then).
  bool RunPass(int* exitCode);
  // One frame: the rate in the title every 500 ms, the scene, the drawing,
  // the rate text and the presentation.
  void RenderFrame();
  // "FPS:nn" in yellow at the top-left corner.
  void DrawFps();
  HRESULT CreateDevice();
  // Releases the device resources, sound, music, COM, the font, the device
  // and the Direct3D object.
  void Cleanup();

  static LRESULT WndProc(HWND hWnd, UINT msg, WPARAM wParam, LPARAM lParam);
  static void SetGlobalSprite(SpriteBatcher* sprite);

  HWND GetWindow() const { return m_hWnd; }
  IDirect3DDevice9* GetDevice() const { return m_pDevice; }
  C_BitmapFont* GetFont() const { return m_pFont.get(); }
  SpriteBatcher* GetFrameSprite() const { return m_SpriteBatch.GetSprite(); }
  bool IsActive() const { return m_bActive != 0; }
  const D3DPRESENT_PARAMETERS& GetPresentParams() const { return m_PresentParams; }

 protected:
  std::unique_ptr<C_BitmapFont> m_pFont;
  C_SpriteBatch m_SpriteBatch;
  BYTE m_bActive = 1;
  BYTE m_bFullScreen = 0;
  int m_nWidth = 640;
  int m_nHeight = 480;
  const char* m_pszTitle = "Application";
  // The rate DrawFps shows; the derived class writes it.
  float m_fFps = 0.0f;
  IDirect3D9* m_pD3D = nullptr;
  IDirect3DDevice9* m_pDevice = nullptr;
  D3DPRESENT_PARAMETERS m_PresentParams = {};
  HINSTANCE m_hInstance = nullptr;
  HWND m_hWnd = nullptr;

 private:
  HRESULT CreateMainWindow(int nCmdShow);

  // The title's rate: time of the last update (taken at the first frame) and
  // the frames counted since.
  bool m_bTitleClockStarted = false;
  DWORD m_nTitleTime = 0;
  DWORD m_nTitleFrames = 0;
};

// The frame-wide sprite batcher (the application's sprite batch); set by Create.
extern SpriteBatcher* g_pGlobalSprite;

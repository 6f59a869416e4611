#include "qel/appbase/qeldxappbase.h"

#include <cstring>

#include "errtext/trace_hresult.h"
#include "gxl/math/matrix.h"
#include "platform/com.h"
#include "platform/mm_timer.h"
#include "platform/win_kernel.h"
#include "qel/appbase/qeldeviceresource.h"
#include "qel/appbase/qelmouse.h"
#include "qel/appbase/qelmusic.h"
#include "qel/appbase/qelnumeric.h"
#include "qel/appbase/qelrelease.h"
#include "qel/appbase/qelsound.h"

SpriteBatcher* g_pGlobalSprite = nullptr;

namespace {

// Where a failed font start-up is reported from, as the framework always has.
constexpr const char* kTraceFile = "qel\\appbase\\qeldxappbase";
constexpr DWORD kTraceLine = 145;

constexpr DWORD kTitleInterval = 500;  // ms between rate updates in the title
constexpr D3DCOLOR kFpsColor = 0xFFFFFF00;

}  // namespace

C_DxAppBase::C_DxAppBase() : m_pFont(std::make_unique<C_BitmapFont>("Arial", 12, C_BitmapFont::kBold)) {}

C_DxAppBase::~C_DxAppBase() {
  if (m_pFont || m_pDevice || m_pD3D) Cleanup();
}

void C_DxAppBase::SetGlobalSprite(SpriteBatcher* sprite) { g_pGlobalSprite = sprite; }

HRESULT C_DxAppBase::CreateMainWindow(int nCmdShow) {
  WNDCLASSEXA cls{};
  cls.cbSize = sizeof cls;
  cls.style = 0;
  cls.lpfnWndProc = &C_DxAppBase::WndProc;
  cls.hInstance = m_hInstance;
  cls.hCursor = LoadCursorA(nullptr, IDC_ARROW);
  cls.lpszClassName = kWindowClass;
  if (!RegisterClassExA(&cls)) return E_FAIL;

  if (m_bFullScreen) {
    m_hWnd = CreateWindowExA(0, kWindowClass, m_pszTitle, WS_POPUP, 0, 0, m_nWidth, m_nHeight, nullptr, nullptr,
                             m_hInstance, nullptr);
  } else {
    m_hWnd = CreateWindowExA(0, kWindowClass, m_pszTitle, WS_OVERLAPPEDWINDOW, CW_USEDEFAULT, CW_USEDEFAULT,
                             CW_USEDEFAULT, CW_USEDEFAULT, nullptr, nullptr, m_hInstance, nullptr);
    if (m_hWnd) {
      // Grow the window by its frame so that the client area has the size asked for.
      RECT client{}, window{};
      GetClientRect(m_hWnd, &client);
      GetWindowRect(m_hWnd, &window);
      const int w = (window.right - window.left) - (client.right - client.left) + m_nWidth;
      const int h = (window.bottom - window.top) - (client.bottom - client.top) + m_nHeight;
      SetWindowPos(m_hWnd, nullptr, 0, 0, w, h, SWP_NOMOVE);
    }
  }
  if (!m_hWnd) return E_FAIL;
  ShowWindow(m_hWnd, nCmdShow);
  ValidateRect(m_hWnd, nullptr);
  return S_OK;
}

HRESULT C_DxAppBase::Create(HINSTANCE hInstance, int nCmdShow) {
  m_hInstance = hInstance;
  if (FAILED(CreateMainWindow(nCmdShow))) return E_FAIL;
  if (FAILED(CreateDevice())) return E_FAIL;
  CoInitialize(nullptr);
  // Every registered picture loads here; the sprite batch makes its batcher.
  NotifyDeviceCreated(m_pDevice);
  SetGlobalSprite(m_SpriteBatch.GetSprite());
  InitSound(m_hWnd);
  InitMusic();
  if (FAILED(m_pFont->InitDeviceObjects(m_pDevice)))
    return TraceHResultA(kTraceFile, kTraceLine, E_FAIL, "m_pFont->InitDeviceObjects", FALSE);
  m_pFont->RestoreDevice();
  OneTimeInit();
  return S_OK;
}

HRESULT C_DxAppBase::CreateDevice() {
  m_pD3D = Direct3DCreate9(D3D_SDK_VERSION);
  if (!m_pD3D) return E_FAIL;
  D3DDISPLAYMODE mode{};
  if (FAILED(m_pD3D->GetAdapterDisplayMode(D3DADAPTER_DEFAULT, &mode))) return E_FAIL;

  m_PresentParams = {};
  // Windowed, a size of 0 takes the window's client area.
  m_PresentParams.BackBufferWidth = m_bFullScreen ? static_cast<UINT>(m_nWidth) : 0;
  m_PresentParams.BackBufferHeight = m_bFullScreen ? static_cast<UINT>(m_nHeight) : 0;
  m_PresentParams.BackBufferFormat = mode.Format;
  m_PresentParams.BackBufferCount = 1;
  m_PresentParams.MultiSampleType = D3DMULTISAMPLE_NONE;
  m_PresentParams.MultiSampleQuality = 0;
  m_PresentParams.SwapEffect = D3DSWAPEFFECT_DISCARD;
  m_PresentParams.hDeviceWindow = nullptr;
  m_PresentParams.Windowed = m_bFullScreen ? FALSE : TRUE;
  m_PresentParams.EnableAutoDepthStencil = TRUE;
  m_PresentParams.AutoDepthStencilFormat = D3DFMT_D16;
  m_PresentParams.Flags = 0;
  m_PresentParams.FullScreen_RefreshRateInHz = 0;
  m_PresentParams.PresentationInterval = D3DPRESENT_INTERVAL_IMMEDIATE;

  const struct {
    D3DDEVTYPE type;
    DWORD flags;
  } kinds[] = {{D3DDEVTYPE_HAL, D3DCREATE_HARDWARE_VERTEXPROCESSING},
               {D3DDEVTYPE_HAL, D3DCREATE_SOFTWARE_VERTEXPROCESSING},
               {D3DDEVTYPE_REF, D3DCREATE_SOFTWARE_VERTEXPROCESSING}};
  HRESULT hr = E_FAIL;
  for (const auto& kind : kinds) {
    hr = m_pD3D->CreateDevice(D3DADAPTER_DEFAULT, kind.type, m_hWnd, kind.flags, &m_PresentParams, &m_pDevice);
    if (SUCCEEDED(hr)) break;
    m_pDevice = nullptr;
  }
  if (FAILED(hr)) return E_FAIL;

  m_pDevice->SetRenderState(D3DRS_ZENABLE, D3DZB_TRUE);
  m_pDevice->SetRenderState(D3DRS_ALPHABLENDENABLE, TRUE);
  Matrix4 projection;
  MatrixPerspectiveFovLH(&projection, 0.785398163f, static_cast<float>(m_nWidth) / static_cast<float>(m_nHeight),
                         0.0f, 100.0f);
  D3DMATRIX d3dProjection;
  std::memcpy(&d3dProjection, &projection, sizeof d3dProjection);
  m_pDevice->SetTransform(D3DTS_PROJECTION, &d3dProjection);
  return S_OK;
}

int C_DxAppBase::Run() {
  int exitCode = 0;
  while (RunPass(&exitCode)) {
  }
  return exitCode;
}

bool C_DxAppBase::RunPass(int* exitCode) {
  MSG msg{};
  if (PeekMessageA(&msg, nullptr, 0, 0, PM_REMOVE)) {
    if (msg.message == WM_QUIT) {
      *exitCode = static_cast<int>(msg.wParam);
      return false;
    }
    TranslateMessage(&msg);
    DispatchMessageA(&msg);
  } else {
    m_bActive = m_hWnd == GetActiveWindow();
    UpdateFrame();
    RenderFrame();
  }
  // No other pacing here: the derived class paces its frames.
  Sleep(1);
  return true;
}

void C_DxAppBase::RenderFrame() {
  if (!m_pDevice) return;
  const DWORD now = timeGetTime();
  if (!m_bTitleClockStarted) {
    m_bTitleClockStarted = true;
    m_nTitleTime = now;
  }
  if (now - m_nTitleTime >= kTitleInterval) {
    char title[256];
    wsprintfA(title, "[ FPS : %03d/s ]", static_cast<int>(m_nTitleFrames * 2));
    SetWindowTextA(m_hWnd, title);
    m_nTitleTime = now;
    m_nTitleFrames = 0;
  }
  ++m_nTitleFrames;

  if (SUCCEEDED(m_pDevice->BeginScene())) {
    m_pDevice->Clear(0, nullptr, D3DCLEAR_TARGET | D3DCLEAR_ZBUFFER, 0x00000000, 1.0f, 0);
    SpriteBatcher* sprite = m_SpriteBatch.GetSprite();
    if (sprite) sprite->BeginBatch(SpriteBatchFlags::NoStateSave);
    DrawFrame();
    DrawFps();
    if (sprite) sprite->EndBatch();
    m_pDevice->EndScene();
  }
  // Presented even when the scene could not begin. A failed present gets one
  // reset attempt and nothing is restored: the device objects of the default
  // pool (the font's vertex buffer, render targets) would have to go first for
  // a reset to succeed, but the software device never loses itself, so the
  // path is kept as it is.
  if (FAILED(m_pDevice->Present(nullptr, nullptr, nullptr, nullptr))) m_pDevice->Reset(&m_PresentParams);
}

void C_DxAppBase::DrawFps() {
  if (!m_pFont) return;
  char text[256];
  wsprintfA(text, "FPS:%2d", TruncateToInt(m_fFps));
  m_pFont->DrawText(2.0f, 2.0f, kFpsColor, text, 0);
}

LRESULT C_DxAppBase::WndProc(HWND hWnd, UINT msg, WPARAM wParam, LPARAM lParam) {
  if (msg == WM_CLOSE || (msg == WM_KEYDOWN && wParam == VK_ESCAPE)) PostQuitMessage(0);
  MouseHook(hWnd, msg, wParam, lParam);
  C_Music::PollEvents(hWnd, msg, wParam, lParam);
  return DefWindowProcA(hWnd, msg, wParam, lParam);
}

void C_DxAppBase::Cleanup() {
  if (g_pGlobalSprite == m_SpriteBatch.GetSprite()) g_pGlobalSprite = nullptr;
  // Sound, music and COM were started only once a device existed.
  if (m_pDevice) {
    NotifyDeviceReleased();
    ShutdownSound();
    ShutdownMusic();
    CoUninitialize();
  }
  if (m_pFont) {
    m_pFont->InvalidateDeviceObjects();
    m_pFont->DeleteDeviceObjects();
  }
  if (m_pDevice && g_pDevice == m_pDevice) g_pDevice = nullptr;
  SafeRelease(m_pDevice);
  SafeRelease(m_pD3D);
  m_pFont.reset();
}

// Opens the 640 x 480 window and shows a moving gradient until Escape or the
// close button; with --scene it shows the Direct3D test scene instead, drawn
// by the software device. Headless it runs a number of frames and exits 0:
//   platform_demo [--fullscreen] [--scene] [--frames N]      (or PLATFORM_DEMO_FRAMES=N)
// PLATFORM_CAPTURE_DIR=dir PLATFORM_CAPTURE_EVERY=1 writes every presented
// frame as dir/frame_NNNNNN.png.
#include <cstdlib>
#include <cstring>
#include <vector>

#include "backend/backend.h"
#include "scene.h"
#include "platform/mm_timer.h"
#include "platform/win_kernel.h"
#include "platform/win_user.h"

// Sanitizer builds: the desktop libraries the demo opens keep memory of their own
// and unload before the leak check can name them. The platform's own leaks are
// checked by the test suite, which runs the demo headless.
extern "C" const char* __asan_default_options() { return "detect_leaks=0"; }

namespace {

constexpr int kWidth = 640;
constexpr int kHeight = 480;

LRESULT CALLBACK WndProc(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam) {
  if (msg == WM_CLOSE || (msg == WM_KEYDOWN && wParam == VK_ESCAPE)) PostQuitMessage(0);
  return DefWindowProcA(hwnd, msg, wParam, lParam);
}

void Draw(std::vector<std::uint32_t>& pixels, std::int64_t frame, POINT cursor) {
  for (int y = 0; y < kHeight; ++y) {
    for (int x = 0; x < kWidth; ++x) {
      auto r = static_cast<std::uint32_t>((x + frame * 2) & 0xFF);
      auto g = static_cast<std::uint32_t>((y + frame) & 0xFF);
      auto b = static_cast<std::uint32_t>(((x ^ y) + frame) & 0xFF);
      bool nearCursor = std::abs(x - cursor.x) < 6 && std::abs(y - cursor.y) < 6;
      pixels[static_cast<size_t>(y) * kWidth + x] = nearCursor ? 0xFFFFFFFFu : (0xFF000000u | r << 16 | g << 8 | b);
    }
  }
}

}  // namespace

int main(int argc, char** argv) {
  bool fullScreen = false;
  bool scene = false;
  long frames = -1;
  if (const char* env = std::getenv("PLATFORM_DEMO_FRAMES")) frames = std::atol(env);
  for (int i = 1; i < argc; ++i) {
    if (std::strcmp(argv[i], "--fullscreen") == 0) fullScreen = true;
    else if (std::strcmp(argv[i], "--scene") == 0) scene = true;
    else if (std::strcmp(argv[i], "--frames") == 0 && i + 1 < argc) frames = std::atol(argv[++i]);
  }
  // Headless, the demo must end on its own.
  if (frames < 0 && platform::backend::IsHeadless()) frames = 120;

  WNDCLASSEXA wc = {};
  wc.cbSize = sizeof wc;
  wc.lpfnWndProc = WndProc;
  wc.hInstance = GetModuleHandleA(nullptr);
  wc.hCursor = LoadCursorA(nullptr, IDC_ARROW);
  wc.lpszClassName = "PlatformDemo";
  if (!RegisterClassExA(&wc)) return 1;

  HWND hwnd;
  if (fullScreen) {
    hwnd = CreateWindowExA(0, "PlatformDemo", "platform demo", WS_POPUP, 0, 0, kWidth, kHeight, nullptr, nullptr,
                           wc.hInstance, nullptr);
  } else {
    hwnd = CreateWindowExA(0, "PlatformDemo", "platform demo", WS_OVERLAPPEDWINDOW, CW_USEDEFAULT, CW_USEDEFAULT,
                           CW_USEDEFAULT, CW_USEDEFAULT, nullptr, nullptr, wc.hInstance, nullptr);
    if (!hwnd) return 1;
    // Grow the window so that its client area is exactly 640 x 480.
    RECT client, window;
    GetClientRect(hwnd, &client);
    GetWindowRect(hwnd, &window);
    SetWindowPos(hwnd, nullptr, 0, 0, (window.right - window.left) - client.right + kWidth,
                 (window.bottom - window.top) - client.bottom + kHeight, SWP_NOMOVE | SWP_NOZORDER);
  }
  if (!hwnd) return 1;
  ShowWindow(hwnd, SW_SHOWDEFAULT);
  ValidateRect(hwnd, nullptr);

  std::vector<std::uint32_t> pixels(static_cast<size_t>(kWidth) * kHeight);
  demo::Scene d3d;
  if (scene && !d3d.Create(hwnd)) return 1;
  MSG msg;
  for (;;) {
    if (PeekMessageA(&msg, nullptr, 0, 0, PM_REMOVE)) {
      if (msg.message == WM_QUIT) return static_cast<int>(msg.wParam);
      TranslateMessage(&msg);
      DispatchMessageA(&msg);
    } else {
      POINT cursor;
      GetCursorPos(&cursor);
      if (IsWindow(hwnd)) ScreenToClient(hwnd, &cursor);
      if (scene) {
        if (FAILED(d3d.Frame(static_cast<int>(platform::backend::FrameCount())))) return 1;
      } else {
        Draw(pixels, platform::backend::FrameCount(), cursor);
        platform::backend::PresentFrame(pixels.data(), kWidth, kHeight, kWidth * 4);
      }
      if (frames >= 0 && platform::backend::FrameCount() >= frames) PostQuitMessage(0);
      Sleep(16);
    }
  }
}

// The client size of a window, for back buffers created with size 0. The user
// area owns windows; it is reached through a weak reference so that the device
// also builds and runs in programs without it (the size is then the logical
// 640 x 480 client area every window of this platform starts with).
#include "d3d9/window_size.h"

BOOL GetClientRect(HWND window, LPRECT rect) __attribute__((weak));

namespace platform::d3d9 {

void WindowClientSize(HWND window, UINT* width, UINT* height) {
  *width = 640;
  *height = 480;
  RECT r{};
  if (window && &GetClientRect && GetClientRect(window, &r) && r.right > r.left && r.bottom > r.top) {
    *width = static_cast<UINT>(r.right - r.left);
    *height = static_cast<UINT>(r.bottom - r.top);
  }
}

}  // namespace platform::d3d9

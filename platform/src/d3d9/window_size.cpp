// The client size of a window, for back buffers created with size 0.
#include "d3d9/window_size.h"

#include "platform/win_user.h"

namespace platform::d3d9 {

void WindowClientSize(HWND window, UINT* width, UINT* height) {
  // A handle the window system does not know gets the logical client area
  // every window of this platform starts with.
  *width = 640;
  *height = 480;
  RECT r{};
  if (window && GetClientRect(window, &r) && r.right > r.left && r.bottom > r.top) {
    *width = static_cast<UINT>(r.right - r.left);
    *height = static_cast<UINT>(r.bottom - r.top);
  }
}

}  // namespace platform::d3d9

#pragma once

#include "platform/win_types.h"

namespace platform::d3d9 {

// The client area of `window` (640 x 480 when it cannot be asked).
void WindowClientSize(HWND window, UINT* width, UINT* height);

}  // namespace platform::d3d9

// Dispatching the window messages a test's scripted input has queued.
#pragma once

#include <gtest/gtest.h>

#include <string>

#include "platform/testing.h"
#include "platform/win_user.h"

namespace nura::test {

// Dispatches every queued message; a WM_QUIT stops it and is dropped.
inline void PumpMessages() {
  MSG msg;
  while (PeekMessageA(&msg, nullptr, 0, 0, PM_REMOVE)) {
    if (msg.message == WM_QUIT) break;
    TranslateMessage(&msg);
    DispatchMessageA(&msg);
  }
}

// Delivers one scripted input line ("move X Y", "ldown", ...) at once and
// dispatches what it queued.
inline void InputAndPump(const std::string& event) {
  std::string error;
  ASSERT_TRUE(platform::test::InputNow(event, &error)) << error;
  PumpMessages();
}

}  // namespace nura::test

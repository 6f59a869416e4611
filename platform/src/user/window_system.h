// State shared by the window and message sources: classes, windows, the message
// queue, cursor and focus. All of it lives on the program's one thread.
#pragma once

#include <deque>
#include <memory>
#include <string>
#include <vector>

#include "platform/win_user.h"

namespace platform::user {

struct WindowClass {
  std::string name;  // as registered
  WNDPROC proc;
  ATOM atom;
};

struct Window {
  bool alive = true;
  std::string className;
  WNDPROC proc = nullptr;
  DWORD style = 0;
  bool framed = false;
  bool fullScreen = false;
  int x = 0, y = 0, width = 0, height = 0;  // the window rectangle, screen coordinates
  std::string title;
  bool visible = false;
  bool shownOnce = false;

  int ClientWidth() const;
  int ClientHeight() const;
  POINT ClientOrigin() const;
};

struct WindowSystem {
  std::vector<WindowClass> classes;
  ATOM nextAtom = 0xC000;
  std::vector<std::unique_ptr<Window>> windows;  // never shrinks: stale handles stay checkable
  Window* main = nullptr;                         // the window the backend shows
  std::deque<MSG> queue;
  bool quitPending = false;
  int quitCode = 0;
  POINT cursor = {0, 0};  // screen coordinates
  int cursorShowCount = 0;
  bool active = true;  // the backend's window has focus
  WPARAM buttons = 0;  // MK_ bits of the mouse buttons
  bool shift = false;
  bool control = false;
};

WindowSystem& State();
// The live window behind a handle, or null (last error 1400).
Window* FromHandle(HWND window);
HWND ToHandle(Window* window);
void Post(HWND window, UINT message, WPARAM wParam, LPARAM lParam);
// Drops queued messages of a window that is being destroyed.
void DropMessagesOf(HWND window);

// Any thread: the next PeekMessageA hands the main window a WM_NULL, so that
// whatever polls from its window procedure runs at once.
void WakeMessageLoop();

// SIGINT and SIGTERM while the main window exists (signals.cpp). Once a signal
// has come, the handlers stay unless evenAfterASignal: the program is ending
// on it, and a second one must be said too.
void InstallSignalHandlers();
void RemoveSignalHandlers(bool evenAfterASignal);
// True once per signal the handler recorded: the pump then closes the main window.
bool TakeSignal();
// Set around a modal message box, which keeps the pump from running. Called
// on the thread that shows the box: a process it starts for the box ends with
// the program.
void SetMessageBoxUp(bool up);

}  // namespace platform::user

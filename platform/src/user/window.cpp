// Window classes and windows. Geometry is logical: an overlapped window has a
// fixed nominal frame around its client area, a pop-up window none; a pop-up at
// (0, 0) is shown full screen (a desktop-sized window, the picture scaled and
// letter-boxed) unless PLATFORM_WINDOWED=1.
#include <algorithm>
#include <cstdlib>
#include <cstring>

#include "backend/backend.h"
#include "kernel/ascii.h"
#include "platform/testing.h"
#include "platform/win_kernel.h"
#include "user/window_system.h"

namespace platform::user {

int Window::ClientWidth() const { return std::max(0, width - (framed ? 2 * kNominalFrameSide : 0)); }
int Window::ClientHeight() const {
  return std::max(0, height - (framed ? kNominalFrameTop + kNominalFrameBottom : 0));
}
POINT Window::ClientOrigin() const {
  return framed ? POINT{x + kNominalFrameSide, y + kNominalFrameTop} : POINT{x, y};
}

WindowSystem& State() {
  static WindowSystem s;
  return s;
}

Window* FromHandle(HWND window) {
  auto* w = reinterpret_cast<Window*>(window);
  if (w) {
    for (auto& p : State().windows)
      if (p.get() == w && w->alive) return w;
  }
  SetLastError(ERROR_INVALID_WINDOW_HANDLE);
  return nullptr;
}

HWND ToHandle(Window* window) { return reinterpret_cast<HWND>(window); }

namespace {

constexpr int kDefaultX = 64;
constexpr int kDefaultY = 64;
constexpr int kDefaultClientWidth = 640;
constexpr int kDefaultClientHeight = 480;

bool SameName(const std::string& a, const char* b) { return ascii::SameNoCase(a, b); }

WindowClass* FindClass(LPCSTR name) {
  for (auto& c : State().classes) {
    if (IS_INTRESOURCE(name) ? c.atom == static_cast<ATOM>(reinterpret_cast<ULONG_PTR>(name)) : SameName(c.name, name))
      return &c;
  }
  return nullptr;
}

bool Windowed() {
  const char* w = std::getenv("PLATFORM_WINDOWED");
  return w && std::strcmp(w, "1") == 0;
}

void ResetWindows() {
  WindowSystem& s = State();
  for (auto& w : s.windows) w->alive = false;
  s.classes.clear();
  s.main = nullptr;
  s.queue.clear();
  s.quitPending = false;
  s.quitCode = 0;
  s.cursor = {0, 0};
  s.cursorShowCount = 0;
  s.active = true;
  s.buttons = 0;
  s.shift = s.control = false;
}

[[maybe_unused]] const bool kRegistered = (platform::test::RegisterReset(&ResetWindows), true);

int g_cursorStandIn;  // LoadCursorA and LoadIconA hand out its address
int g_iconStandIn;

}  // namespace
}  // namespace platform::user

using platform::user::FromHandle;
using platform::user::State;
using platform::user::ToHandle;
using platform::user::Window;

ATOM RegisterClassExA(const WNDCLASSEXA* cls) {
  if (!cls || cls->cbSize != sizeof(WNDCLASSEXA) || !cls->lpfnWndProc || !cls->lpszClassName ||
      IS_INTRESOURCE(cls->lpszClassName) || !*cls->lpszClassName) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return 0;
  }
  if (platform::user::FindClass(cls->lpszClassName)) {
    SetLastError(ERROR_CLASS_ALREADY_EXISTS);
    return 0;
  }
  auto& s = State();
  ATOM atom = s.nextAtom++;
  s.classes.push_back({cls->lpszClassName, cls->lpfnWndProc, atom});
  return atom;
}

BOOL UnregisterClassA(LPCSTR className, HINSTANCE) {
  auto& s = State();
  auto* c = platform::user::FindClass(className);
  if (!c) {
    SetLastError(ERROR_CLASS_DOES_NOT_EXIST);
    return FALSE;
  }
  for (auto& w : s.windows)
    if (w->alive && platform::user::SameName(w->className, c->name.c_str())) {
      SetLastError(ERROR_CLASS_HAS_WINDOWS);
      return FALSE;
    }
  s.classes.erase(s.classes.begin() + (c - s.classes.data()));
  return TRUE;
}

HCURSOR LoadCursorA(HINSTANCE instance, LPCSTR name) {
  // Only the system's predefined cursors exist.
  auto id = reinterpret_cast<ULONG_PTR>(name);
  if (instance || !IS_INTRESOURCE(name) || id < 32512 || id > 32651) {
    SetLastError(ERROR_RESOURCE_NAME_NOT_FOUND);
    return nullptr;
  }
  return reinterpret_cast<HCURSOR>(&platform::user::g_cursorStandIn);
}

HICON LoadIconA(HINSTANCE instance, LPCSTR name) {
  auto id = reinterpret_cast<ULONG_PTR>(name);
  if (instance || !IS_INTRESOURCE(name) || id < 32512 || id > 32518) {
    SetLastError(ERROR_RESOURCE_NAME_NOT_FOUND);
    return nullptr;
  }
  return reinterpret_cast<HICON>(&platform::user::g_iconStandIn);
}

HWND CreateWindowExA(DWORD exStyle, LPCSTR className, LPCSTR title, DWORD style, int x, int y, int width,
                     int height, HWND parent, HMENU menu, HINSTANCE instance, LPVOID param) {
  auto* cls = className ? platform::user::FindClass(className) : nullptr;
  if (!cls) {
    SetLastError(ERROR_CANNOT_FIND_WND_CLASS);
    return nullptr;
  }
  auto& s = State();
  s.windows.push_back(std::make_unique<Window>());
  Window* w = s.windows.back().get();
  w->className = cls->name;
  w->proc = cls->proc;
  w->style = style;
  w->framed = !(style & WS_POPUP) || (style & WS_CAPTION) == WS_CAPTION;
  w->title = title ? title : "";
  using platform::user::kDefaultClientHeight;
  using platform::user::kDefaultClientWidth;
  const int frameW = w->framed ? 2 * kNominalFrameSide : 0;
  const int frameH = w->framed ? kNominalFrameTop + kNominalFrameBottom : 0;
  w->x = x == CW_USEDEFAULT ? platform::user::kDefaultX : x;
  w->y = x == CW_USEDEFAULT ? platform::user::kDefaultY : y;
  w->width = width == CW_USEDEFAULT ? kDefaultClientWidth + frameW : std::max(0, width);
  w->height = width == CW_USEDEFAULT ? kDefaultClientHeight + frameH : std::max(0, height);
  w->fullScreen = (style & WS_POPUP) && !w->framed && w->x == 0 && w->y == 0 && !platform::user::Windowed();

  HWND hwnd = ToHandle(w);
  if (!s.main) {
    if (!platform::backend::Current().OpenWindow({w->ClientWidth(), w->ClientHeight(), w->fullScreen, w->title})) {
      // No display (or none the backend could use): the program gets no window.
      w->alive = false;
      SetLastError(ERROR_ACCESS_DENIED);
      return nullptr;
    }
    s.main = w;
    platform::user::InstallSignalHandlers();
  }
  CREATESTRUCTA cs = {param, instance, menu, parent, w->height, w->width, w->y, w->x, static_cast<LONG>(style),
                      title, className, exStyle};
  if (w->proc(hwnd, WM_CREATE, 0, reinterpret_cast<LPARAM>(&cs)) == -1) {
    DestroyWindow(hwnd);
    SetLastError(ERROR_INVALID_PARAMETER);
    return nullptr;
  }
  if (style & WS_VISIBLE) ShowWindow(hwnd, SW_SHOW);
  return hwnd;
}

BOOL ShowWindow(HWND window, int command) {
  Window* w = FromHandle(window);
  if (!w) return FALSE;
  BOOL was = w->visible ? TRUE : FALSE;
  w->visible = command != SW_HIDE;
  if (w == State().main) {
    if (w->visible && !w->shownOnce) State().active = true;  // a window shown for the first time gets focus
    platform::backend::Current().ShowWindow(w->visible);
  }
  if (w->visible) w->shownOnce = true;
  return was;
}

BOOL UpdateWindow(HWND window) { return FromHandle(window) ? TRUE : FALSE; }

BOOL ValidateRect(HWND window, const RECT*) { return !window || FromHandle(window) ? TRUE : FALSE; }

BOOL DestroyWindow(HWND window) {
  Window* w = FromHandle(window);
  if (!w) return FALSE;
  w->proc(window, WM_DESTROY, 0, 0);
  w->alive = false;
  w->visible = false;
  platform::user::DropMessagesOf(window);
  if (w == State().main) {
    State().main = nullptr;
    platform::user::RemoveSignalHandlers(false);
    platform::backend::Current().CloseWindow();
  }
  return TRUE;
}

BOOL IsWindow(HWND window) { return FromHandle(window) ? TRUE : FALSE; }

LRESULT DefWindowProcA(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
  Window* w = FromHandle(window);
  if (!w) return 0;
  switch (message) {
    case WM_CLOSE:
      DestroyWindow(window);
      return 0;
    case WM_SETTEXT: {
      const char* text = reinterpret_cast<const char*>(lParam);
      w->title = text ? text : "";
      if (w == State().main) platform::backend::Current().SetTitle(w->title);
      return TRUE;
    }
    case WM_GETTEXT: {
      char* out = reinterpret_cast<char*>(lParam);
      if (!out || wParam == 0) return 0;
      size_t n = std::min(static_cast<size_t>(wParam) - 1, w->title.size());
      std::memcpy(out, w->title.data(), n);
      out[n] = '\0';
      return static_cast<LRESULT>(n);
    }
    case WM_GETTEXTLENGTH:
      return static_cast<LRESULT>(w->title.size());
    default:
      return 0;
  }
}

BOOL GetClientRect(HWND window, LPRECT rect) {
  Window* w = FromHandle(window);
  if (!w || !rect) return FALSE;
  *rect = {0, 0, w->ClientWidth(), w->ClientHeight()};
  return TRUE;
}

BOOL GetWindowRect(HWND window, LPRECT rect) {
  Window* w = FromHandle(window);
  if (!w || !rect) return FALSE;
  *rect = {w->x, w->y, w->x + w->width, w->y + w->height};
  return TRUE;
}

BOOL SetWindowPos(HWND window, HWND, int x, int y, int cx, int cy, UINT flags) {
  Window* w = FromHandle(window);
  if (!w) return FALSE;
  if (!(flags & SWP_NOMOVE)) {
    w->x = x;
    w->y = y;
  }
  if (!(flags & SWP_NOSIZE)) {
    int oldW = w->ClientWidth(), oldH = w->ClientHeight();
    w->width = std::max(0, cx);
    w->height = std::max(0, cy);
    if (w == State().main && (oldW != w->ClientWidth() || oldH != w->ClientHeight()))
      platform::backend::Current().ResizeWindow(w->ClientWidth(), w->ClientHeight());
  }
  return TRUE;
}

BOOL ClientToScreen(HWND window, LPPOINT point) {
  Window* w = FromHandle(window);
  if (!w || !point) return FALSE;
  POINT o = w->ClientOrigin();
  point->x += o.x;
  point->y += o.y;
  return TRUE;
}

BOOL ScreenToClient(HWND window, LPPOINT point) {
  Window* w = FromHandle(window);
  if (!w || !point) return FALSE;
  POINT o = w->ClientOrigin();
  point->x -= o.x;
  point->y -= o.y;
  return TRUE;
}

BOOL SetWindowTextA(HWND window, LPCSTR text) {
  if (!FromHandle(window)) return FALSE;
  // Sent through the window procedure, as the original does.
  return SendMessageA(window, WM_SETTEXT, 0, reinterpret_cast<LPARAM>(text)) ? TRUE : FALSE;
}

int GetWindowTextA(HWND window, LPSTR text, int size) {
  if (!text || size <= 0) return 0;
  text[0] = '\0';
  if (!FromHandle(window)) return 0;
  return static_cast<int>(SendMessageA(window, WM_GETTEXT, static_cast<WPARAM>(size), reinterpret_cast<LPARAM>(text)));
}

HWND GetActiveWindow() {
  auto& s = State();
  return s.main && s.main->visible && s.active ? ToHandle(s.main) : nullptr;
}

HWND GetForegroundWindow() { return GetActiveWindow(); }

int GetSystemMetrics(int index) { return index == SM_CMONITORS ? platform::backend::Current().Monitors() : 0; }

namespace platform::test {

WindowState MainWindow() {
  auto& s = State();
  WindowState st{};
  st.cursor = s.cursor;
  st.cursorShowCount = s.cursorShowCount;
  if (!s.main) return st;
  Window* w = s.main;
  st.window = ToHandle(w);
  st.title = w->title;
  st.windowRect = {w->x, w->y, w->x + w->width, w->y + w->height};
  st.clientRect = {0, 0, w->ClientWidth(), w->ClientHeight()};
  st.visible = w->visible;
  st.active = GetActiveWindow() == st.window;
  st.fullScreen = w->fullScreen;
  return st;
}

}  // namespace platform::test

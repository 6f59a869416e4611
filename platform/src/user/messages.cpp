// The message queue and the input that feeds it. PeekMessageA first drains the
// backend's pending input into one FIFO, then hands out the oldest matching
// message; WM_QUIT comes only when nothing else is waiting.
#include <algorithm>
#include <atomic>

#include "backend/backend.h"
#include "platform/mm_timer.h"
#include "platform/testing.h"
#include "user/window_system.h"

namespace platform::user {

void Post(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
  WindowSystem& s = State();
  s.queue.push_back({window, message, wParam, lParam, GetTickCount(), s.cursor});
}

void DropMessagesOf(HWND window) {
  auto& q = State().queue;
  q.erase(std::remove_if(q.begin(), q.end(), [&](const MSG& m) { return m.hwnd == window; }), q.end());
}

namespace {

std::atomic<bool> g_wake{false};

void ResetWake() { g_wake.store(false); }

[[maybe_unused]] const bool kRegistered = (platform::test::RegisterReset(&ResetWake), true);

// What other threads and the signal handler left for the pump: a wake-up
// becomes a WM_NULL, a signal the closing of the main window.
void TakeOutsideEvents() {
  WindowSystem& s = State();
  if (g_wake.exchange(false) && s.main) Post(ToHandle(s.main), WM_NULL, 0, 0);
  if (TakeSignal()) platform::backend::DeliverInput({platform::backend::InputKind::Close});
}

WPARAM KeyState() {
  WindowSystem& s = State();
  return s.buttons | (s.shift ? MK_SHIFT : 0) | (s.control ? MK_CONTROL : 0);
}

// The backend window's client position of the cursor, and whether it lies inside.
bool CursorInClient(POINT* client) {
  WindowSystem& s = State();
  if (!s.main || !s.main->visible) return false;
  POINT o = s.main->ClientOrigin();
  client->x = s.cursor.x - o.x;
  client->y = s.cursor.y - o.y;
  return client->x >= 0 && client->y >= 0 && client->x < s.main->ClientWidth() && client->y < s.main->ClientHeight();
}

void PostMouse(UINT message) {
  POINT c;
  if (CursorInClient(&c)) Post(ToHandle(State().main), message, KeyState(), MAKELPARAM(c.x, c.y));
}

bool InFilter(UINT message, UINT lo, UINT hi) { return (lo == 0 && hi == 0) || (message >= lo && message <= hi); }

}  // namespace

void WakeMessageLoop() { g_wake.store(true); }

}  // namespace platform::user

namespace platform::backend {

void DeliverInput(const InputEvent& e) {
  using namespace platform::user;
  WindowSystem& s = State();
  switch (e.kind) {
    case InputKind::Move: {
      POINT o = s.main ? s.main->ClientOrigin() : POINT{0, 0};
      s.cursor = {o.x + e.x, o.y + e.y};
      PostMouse(WM_MOUSEMOVE);  // only over the client area
      break;
    }
    case InputKind::ButtonDown:
    case InputKind::ButtonUp: {
      static const WPARAM kBits[] = {MK_LBUTTON, MK_RBUTTON, MK_MBUTTON};
      static const UINT kDown[] = {WM_LBUTTONDOWN, WM_RBUTTONDOWN, WM_MBUTTONDOWN};
      int b = static_cast<int>(e.button);
      bool down = e.kind == InputKind::ButtonDown;
      if (down) s.buttons |= kBits[b];
      else s.buttons &= ~kBits[b];
      PostMouse(kDown[b] + (down ? 0 : 1));
      break;
    }
    case InputKind::KeyDown:
    case InputKind::KeyUp: {
      bool down = e.kind == InputKind::KeyDown;
      if (e.vk == VK_SHIFT) s.shift = down;
      if (e.vk == VK_CONTROL) s.control = down;
      // Keys go to the focused window only.
      if (!GetActiveWindow()) break;
      LPARAM lp = down ? 1 : static_cast<LPARAM>(0xC0000001u);  // repeat 1; up: previous state and transition
      Post(ToHandle(s.main), down ? WM_KEYDOWN : WM_KEYUP, e.vk, lp);
      break;
    }
    case InputKind::Close:
      if (s.main) Post(ToHandle(s.main), WM_CLOSE, 0, 0);
      break;
    case InputKind::Activate:
      s.active = true;
      break;
    case InputKind::Deactivate:
      s.active = false;
      break;
  }
}

}  // namespace platform::backend

using platform::user::FromHandle;
using platform::user::State;

BOOL PeekMessageA(LPMSG msg, HWND window, UINT filterMin, UINT filterMax, UINT removeFlags) {
  if (!msg) return FALSE;
  platform::backend::Current().PumpEvents();
  platform::user::TakeOutsideEvents();
  auto& s = State();
  for (auto it = s.queue.begin(); it != s.queue.end(); ++it) {
    if (window && it->hwnd != window) continue;
    if (!platform::user::InFilter(it->message, filterMin, filterMax)) continue;
    *msg = *it;
    if (removeFlags & PM_REMOVE) s.queue.erase(it);
    return TRUE;
  }
  if (s.quitPending && platform::user::InFilter(WM_QUIT, filterMin, filterMax)) {
    *msg = {nullptr, WM_QUIT, static_cast<WPARAM>(static_cast<UINT>(s.quitCode)), 0, GetTickCount(), s.cursor};
    if (removeFlags & PM_REMOVE) s.quitPending = false;
    return TRUE;
  }
  return FALSE;
}

BOOL TranslateMessage(const MSG* msg) {
  if (!msg || (msg->message != WM_KEYDOWN && msg->message != WM_KEYUP)) return FALSE;
  if (msg->message == WM_KEYUP) return TRUE;
  WPARAM vk = msg->wParam;
  int ch = 0;
  if (vk >= 'A' && vk <= 'Z') ch = State().shift ? static_cast<int>(vk) : static_cast<int>(vk - 'A' + 'a');
  else if (vk >= '0' && vk <= '9') ch = static_cast<int>(vk);
  else if (vk == VK_SPACE || vk == VK_RETURN || vk == VK_ESCAPE || vk == VK_BACK || vk == VK_TAB)
    ch = static_cast<int>(vk);
  if (ch) {
    // The character comes next, before anything already queued.
    State().queue.push_front({msg->hwnd, WM_CHAR, static_cast<WPARAM>(ch), msg->lParam, msg->time, msg->pt});
  }
  return TRUE;
}

LRESULT DispatchMessageA(const MSG* msg) {
  if (!msg || !msg->hwnd) return 0;  // thread messages have no procedure
  auto* w = FromHandle(msg->hwnd);
  if (!w) return 0;
  return w->proc(msg->hwnd, msg->message, msg->wParam, msg->lParam);
}

BOOL PostMessageA(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
  if (window && !FromHandle(window)) return FALSE;
  platform::user::Post(window, message, wParam, lParam);
  return TRUE;
}

LRESULT SendMessageA(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
  auto* w = FromHandle(window);
  if (!w) return 0;
  return w->proc(window, message, wParam, lParam);
}

void PostQuitMessage(int exitCode) {
  auto& s = State();
  s.quitPending = true;
  s.quitCode = exitCode;
}

BOOL GetCursorPos(LPPOINT point) {
  if (!point) return FALSE;
  *point = State().cursor;
  return TRUE;
}

BOOL SetCursorPos(int x, int y) {
  auto& s = State();
  if (s.cursor.x == x && s.cursor.y == y) return TRUE;
  s.cursor = {x, y};
  POINT c;
  if (platform::user::CursorInClient(&c)) {
    platform::backend::Current().WarpCursor(c.x, c.y);
    // The system reports the move with a mouse message, as the original does.
    platform::user::Post(platform::user::ToHandle(s.main), WM_MOUSEMOVE, platform::user::KeyState(),
                         MAKELPARAM(c.x, c.y));
  } else if (s.main) {
    POINT o = s.main->ClientOrigin();
    platform::backend::Current().WarpCursor(x - o.x, y - o.y);
  }
  return TRUE;
}

int ShowCursor(BOOL show) {
  auto& s = State();
  s.cursorShowCount += show ? 1 : -1;
  platform::backend::Current().ShowCursor(s.cursorShowCount >= 0);
  return s.cursorShowCount;
}

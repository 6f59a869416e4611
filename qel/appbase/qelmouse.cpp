#include "qel/appbase/qelmouse.h"

#include "platform/win_user.h"

constinit C_PtrList<C_WindowMouse> g_WindowMice;
HWND g_hMouseWnd = nullptr;

// --- C_MouseDevice -----------------------------------------------------------

int C_MouseDevice::GetPosition(int*, int*) { return 0; }

int C_MouseDevice::GetState(int* x, int* y, int* buttons) {
  C_MouseDevice::GetPosition(x, y);
  *buttons = (m_bRight ? kMouseRight : 0) + (m_bLeft ? kMouseLeft : 0);
  return 0;
}

void C_MouseDevice::GetEdges(bool* leftPressed, bool* rightPressed) {
  *leftPressed = !m_bPrevLeft && m_bLeft;
  *rightPressed = !m_bPrevRight && m_bRight;
  m_bPrevLeft = m_bLeft;
  m_bPrevRight = m_bRight;
}

int C_MouseDevice::SetPosition(int, int) { return 0; }

// --- C_WindowMouse -------------------------------------------------------------

C_WindowMouse::C_WindowMouse() { g_WindowMice.Add(this); }

C_WindowMouse::~C_WindowMouse() { g_WindowMice.Remove(this); }

int C_WindowMouse::GetPosition(int* x, int* y) {
  POINT cursor{};
  GetCursorPos(&cursor);
  POINT origin{0, 0};
  ClientToScreen(g_hMouseWnd, &origin);
  *x = cursor.x - origin.x;
  *y = cursor.y - origin.y;

  if (!m_bCapture) {
    // A button released outside the window never reaches it: forget it.
    POINT client = cursor;
    ScreenToClient(g_hMouseWnd, &client);
    RECT rect{};
    GetClientRect(g_hMouseWnd, &rect);
    bool inside = client.x >= 0 && client.x < rect.right && client.y >= 0 && client.y < rect.bottom;
    if (!inside) m_bLeft = m_bRight = 0;
  }
  return 0;
}

int C_WindowMouse::GetState(int* x, int* y, int* buttons) {
  GetPosition(x, y);
  *buttons = (m_bRight ? kMouseRight : 0) + (m_bLeft ? kMouseLeft : 0);
  return 0;
}

int C_WindowMouse::SetPosition(int x, int y) {
  POINT origin{0, 0};
  ClientToScreen(g_hMouseWnd, &origin);
  SetCursorPos(origin.x + x, origin.y + y);
  return 0;
}

LRESULT C_WindowMouse::OnMessage(HWND, UINT msg, WPARAM wParam, LPARAM) {
  switch (msg) {
    case WM_MOUSEMOVE:
      m_bLeft = (wParam & MK_LBUTTON) ? 1 : 0;
      m_bRight = (wParam & MK_RBUTTON) ? 1 : 0;
      break;
    case WM_LBUTTONDOWN: m_bLeft = 1; break;
    case WM_LBUTTONUP: m_bLeft = 0; break;
    case WM_RBUTTONDOWN: m_bRight = 1; break;
    case WM_RBUTTONUP: m_bRight = 0; break;
    default: break;
  }
  return 0;
}

void MouseHook(HWND hWnd, UINT msg, WPARAM wParam, LPARAM lParam) {
  g_hMouseWnd = hWnd;
  // By index: a message handler may not add or remove mice, but be safe if it does.
  for (std::size_t i = 0; i < g_WindowMice.Size(); ++i) g_WindowMice[i]->OnMessage(hWnd, msg, wParam, lParam);
}

// --- C_Mouse -------------------------------------------------------------------

C_Mouse::C_Mouse() = default;

int C_Mouse::Update() {
  if (m_nLock != 0) --m_nLock;
  m_bPrevLeft = m_bLeft;
  m_bPrevRight = m_bRight;
  if (m_Device.GetState(&m_nX, &m_nY, &m_nButtons) != 0) {
    m_bLeft = m_bRight = 0;
    return 1;
  }
  m_bRight = (m_nButtons & kMouseRight) ? 1 : 0;
  m_bLeft = (m_nButtons & kMouseLeft) ? 1 : 0;
  return 0;
}

int C_Mouse::GetPosition(int* x, int* y) {
  *x = m_nX;
  *y = m_nY;
  return 0;
}

int C_Mouse::GetState(int* x, int* y, int* buttons) {
  *x = m_nX;
  *y = m_nY;
  *buttons = m_nButtons;
  return 0;
}

void C_Mouse::GetPressed(bool* left, bool* right) {
  *left = !m_bPrevLeft && m_bLeft;
  *right = !m_bPrevRight && m_bRight;
}

void C_Mouse::GetReleased(bool* left, bool* right) {
  *left = m_bPrevLeft && !m_bLeft;
  *right = m_bPrevRight && !m_bRight;
}

void C_Mouse::Clear() { m_bRight = m_bPrevRight = m_bLeft = m_bPrevLeft = 0; }

int C_Mouse::SetPosition(int x, int y) {
  m_nX = x;
  m_nY = y;
  return m_Device.SetPosition(x, y);
}

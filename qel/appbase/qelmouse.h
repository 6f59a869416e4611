// Mouse input in two layers. A mouse device keeps the button states that the
// window procedure feeds it and reads the cursor when asked; C_Mouse samples
// its device once per frame and offers the position, the held buttons and the
// edges between two frames, locked for the first two updates so that a button
// held at start-up is not taken as a click.
#pragma once

#include "platform/win_types.h"
#include "qel/appbase/qelptrlist.h"

// Bits of the buttons word.
constexpr int kMouseRight = 1;
constexpr int kMouseLeft = 2;

class C_MouseDevice {
 public:
  C_MouseDevice() = default;
  virtual ~C_MouseDevice() = default;
  C_MouseDevice(const C_MouseDevice&) = delete;
  C_MouseDevice& operator=(const C_MouseDevice&) = delete;

  virtual int GetPosition(int* x, int* y);
  virtual BYTE IsRightDown() { return m_bRight; }
  virtual BYTE IsLeftDown() { return m_bLeft; }
  virtual int GetState(int* x, int* y, int* buttons);
  virtual void GetEdges(bool* leftPressed, bool* rightPressed);
  virtual void ClearEdges() { m_bPrevRight = m_bPrevLeft = 0; }
  virtual int SetPosition(int x, int y);
  virtual void SetCapture(BYTE capture) { m_bCapture = capture; }

 protected:
  BYTE m_bRight = 0;
  BYTE m_bLeft = 0;
  BYTE m_bPrevRight = 0;
  BYTE m_bPrevLeft = 0;
  BYTE m_bCapture = 0;
};

// The mouse of the window that MouseHook last saw; every instance is listed in
// g_WindowMice so that the window procedure feeds all of them.
class C_WindowMouse : public C_MouseDevice {
 public:
  C_WindowMouse();
  ~C_WindowMouse() override;

  // Client coordinates; without capture, a cursor outside the client area
  // releases both buttons.
  int GetPosition(int* x, int* y) override;
  int GetState(int* x, int* y, int* buttons) override;
  int SetPosition(int x, int y) override;
  LRESULT OnMessage(HWND hWnd, UINT msg, WPARAM wParam, LPARAM lParam);
};

class C_Mouse {
 public:
  C_Mouse();
  virtual ~C_Mouse() = default;
  C_Mouse(const C_Mouse&) = delete;
  C_Mouse& operator=(const C_Mouse&) = delete;

  // Samples the device; 0 on success.
  virtual int Update();
  virtual int GetPosition(int* x, int* y);
  virtual BYTE IsRightDown() { return m_bRight; }
  virtual BYTE IsLeftDown() { return m_bLeft; }
  virtual int GetState(int* x, int* y, int* buttons);
  // Edges between the last two updates, lock or not.
  virtual void GetPressed(bool* left, bool* right);
  // Edges that respect the start-up lock.
  virtual bool IsRightPressed() { return !m_bPrevRight && m_bRight && m_nLock == 0; }
  virtual bool IsLeftPressed() { return !m_bPrevLeft && m_bLeft && m_nLock == 0; }
  virtual void GetReleased(bool* left, bool* right);
  virtual bool IsRightReleased() { return m_bPrevRight && !m_bRight && m_nLock == 0; }
  virtual bool IsLeftReleased() { return m_bPrevLeft && !m_bLeft && m_nLock == 0; }
  virtual void Clear();
  virtual int SetPosition(int x, int y);
  virtual bool IsLocked() { return m_nLock != 0; }
  virtual void SetCapture(BYTE capture) { m_Device.SetCapture(capture); }

  void SetLock(int n) { m_nLock = n; }

 private:
  BYTE m_bRight = 0;
  BYTE m_bLeft = 0;
  int m_nButtons = 0;
  int m_nX = 0;
  int m_nY = 0;
  int m_nLock = 2;
  BYTE m_bPrevRight = 0;
  BYTE m_bPrevLeft = 0;
  C_WindowMouse m_Device;
};

// Called by the window procedure with every message: remembers the window and
// feeds every window mouse.
void MouseHook(HWND hWnd, UINT msg, WPARAM wParam, LPARAM lParam);

extern constinit C_PtrList<C_WindowMouse> g_WindowMice;
extern HWND g_hMouseWnd;

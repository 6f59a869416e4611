// The mouse through a real (headless) window: messages from scripted input
// reach MouseHook through the window procedure, and C_Mouse samples them.
#include <gtest/gtest.h>

#include "platform/testing.h"
#include "platform/win_user.h"
#include "qel/appbase/qelmouse.h"
#include "tests/support/message_pump.h"

namespace {

LRESULT TestWndProc(HWND hWnd, UINT msg, WPARAM wParam, LPARAM lParam) {
  MouseHook(hWnd, msg, wParam, lParam);
  return DefWindowProcA(hWnd, msg, wParam, lParam);
}

class Mouse : public testing::Test {
 protected:
  void SetUp() override {
    platform::test::UseFakeClock();
    WNDCLASSEXA cls{};
    cls.cbSize = sizeof cls;
    cls.lpfnWndProc = &TestWndProc;
    cls.lpszClassName = "MouseTestClass";
    RegisterClassExA(&cls);
    m_hWnd = CreateWindowExA(0, "MouseTestClass", "mouse", WS_OVERLAPPEDWINDOW, CW_USEDEFAULT, CW_USEDEFAULT,
                             CW_USEDEFAULT, CW_USEDEFAULT, nullptr, nullptr, nullptr, nullptr);
    ASSERT_NE(m_hWnd, nullptr);
    ShowWindow(m_hWnd, SW_SHOW);
    Pump();
  }
  void TearDown() override {
    if (m_hWnd) DestroyWindow(m_hWnd);
    Pump();
    UnregisterClassA("MouseTestClass", nullptr);
  }

  static void Pump() { nura::test::PumpMessages(); }
  // Delivers scripted input lines at once and dispatches the messages.
  static void Input(const std::string& event) { nura::test::InputAndPump(event); }

  HWND m_hWnd = nullptr;
};

TEST_F(Mouse, AButtonHeldAtStartIsNoClick) {
  C_Mouse mouse;
  EXPECT_TRUE(mouse.IsLocked());
  Input("move 100 100");
  Input("ldown");
  mouse.Update();
  EXPECT_TRUE(mouse.IsLeftDown());
  EXPECT_FALSE(mouse.IsLeftPressed()) << "locked for the first update";
  bool left = false, right = true;
  mouse.GetPressed(&left, &right);
  EXPECT_TRUE(left) << "the unlocked query sees the edge";
  EXPECT_FALSE(right);
  mouse.Update();
  EXPECT_FALSE(mouse.IsLocked());
  EXPECT_FALSE(mouse.IsLeftPressed()) << "held, no new edge";
  Input("lup");
  mouse.Update();
  EXPECT_TRUE(mouse.IsLeftReleased());
  Input("ldown");
  mouse.Update();
  EXPECT_TRUE(mouse.IsLeftPressed());
  mouse.Update();
  EXPECT_FALSE(mouse.IsLeftPressed()) << "edges last one update";
}

TEST_F(Mouse, EdgesOfBothButtons) {
  C_Mouse mouse;
  Input("move 10 20");
  mouse.Update();
  mouse.Update();
  Input("rdown");
  mouse.Update();
  EXPECT_TRUE(mouse.IsRightPressed());
  EXPECT_FALSE(mouse.IsLeftPressed());
  Input("ldown");
  Input("rup");
  mouse.Update();
  EXPECT_TRUE(mouse.IsLeftPressed());
  EXPECT_TRUE(mouse.IsRightReleased());
  bool left = true, right = true;
  mouse.GetReleased(&left, &right);
  EXPECT_FALSE(left);
  EXPECT_TRUE(right);
  // A press and release between two updates is not seen.
  Input("rdown");
  Input("rup");
  mouse.Update();
  EXPECT_FALSE(mouse.IsRightPressed());
  EXPECT_FALSE(mouse.IsRightReleased());
  mouse.Clear();
  EXPECT_FALSE(mouse.IsLeftDown());
}

TEST_F(Mouse, ButtonsWordAndPosition) {
  C_Mouse mouse;
  Input("move 321 123");
  int x = 0, y = 0, buttons = -1;
  struct Step {
    const char* event;
    int buttons;
  };
  for (Step s : {Step{"rdown", 1}, Step{"ldown", 3}, Step{"rup", 2}, Step{"lup", 0}}) {
    Input(s.event);
    mouse.Update();
    mouse.GetState(&x, &y, &buttons);
    EXPECT_EQ(buttons, s.buttons) << s.event;
    EXPECT_EQ(x, 321);
    EXPECT_EQ(y, 123);
  }
  mouse.GetPosition(&x, &y);
  EXPECT_EQ(x, 321);
  EXPECT_EQ(y, 123);
}

TEST_F(Mouse, MoveMessagesCarryTheButtons) {
  C_Mouse mouse;
  Input("move 50 50");
  MouseHook(m_hWnd, WM_MOUSEMOVE, MK_LBUTTON | MK_RBUTTON, MAKELPARAM(50, 50));
  mouse.Update();
  EXPECT_TRUE(mouse.IsLeftDown());
  EXPECT_TRUE(mouse.IsRightDown());
  MouseHook(m_hWnd, WM_MOUSEMOVE, 0, MAKELPARAM(50, 50));
  mouse.Update();
  EXPECT_FALSE(mouse.IsLeftDown());
  EXPECT_FALSE(mouse.IsRightDown());
  // A double click message changes nothing.
  MouseHook(m_hWnd, WM_LBUTTONDBLCLK, MK_LBUTTON, 0);
  mouse.Update();
  EXPECT_FALSE(mouse.IsLeftDown());
}

TEST_F(Mouse, ButtonsOutsideTheClientAreaAreReleased) {
  C_Mouse mouse;
  Input("move 600 400");
  Input("ldown");
  mouse.Update();
  EXPECT_TRUE(mouse.IsLeftDown());
  Input("move 700 400");  // beyond the 640-pixel client area
  mouse.Update();
  EXPECT_FALSE(mouse.IsLeftDown()) << "a release outside the window never arrives";
  int x = 0, y = 0;
  mouse.GetPosition(&x, &y);
  EXPECT_EQ(x, 700);
  EXPECT_EQ(y, 400);

  // With capture the buttons stay as the messages left them.
  mouse.SetCapture(1);
  Input("move 100 100");
  Input("ldown");
  Input("move -5 100");
  mouse.Update();
  EXPECT_TRUE(mouse.IsLeftDown());
}

TEST_F(Mouse, SetPositionWarpsTheCursor) {
  C_Mouse mouse;
  Input("move 200 200");
  mouse.Update();
  EXPECT_EQ(mouse.SetPosition(0, 0), 0);
  int x = -1, y = -1;
  mouse.GetPosition(&x, &y);
  EXPECT_EQ(x, 0);
  EXPECT_EQ(y, 0);
  Pump();
  mouse.Update();
  mouse.GetPosition(&x, &y);
  EXPECT_EQ(x, 0) << "the client area's top-left pixel";
  EXPECT_EQ(y, 0);
  POINT cursor{};
  GetCursorPos(&cursor);
  POINT origin{0, 0};
  ClientToScreen(m_hWnd, &origin);
  EXPECT_EQ(cursor.x, origin.x);
  EXPECT_EQ(cursor.y, origin.y);
  mouse.SetPosition(639, 479);
  mouse.Update();
  mouse.GetPosition(&x, &y);
  EXPECT_EQ(x, 639);
  EXPECT_EQ(y, 479);
}

TEST_F(Mouse, EveryWindowMouseIsFed) {
  const std::size_t before = g_WindowMice.Size();
  {
    C_Mouse a;
    C_Mouse b;
    EXPECT_EQ(g_WindowMice.Size(), before + 2);
    Input("move 5 5");
    Input("rdown");
    a.Update();
    b.Update();
    EXPECT_TRUE(a.IsRightDown());
    EXPECT_TRUE(b.IsRightDown());
    EXPECT_EQ(g_hMouseWnd, m_hWnd);
  }
  EXPECT_EQ(g_WindowMice.Size(), before);
}

}  // namespace

// The mouse through a real (headless) window: messages from scripted input
// reach MouseHook through the window procedure, and C_Mouse samples them.
#include <gtest/gtest.h>

#include <string>
#include <utility>
#include <vector>

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

// "buttons 3 at 10,20 +L -R": the buttons word, the position and the edges
// the locked queries report (+ pressed, - released).
std::string State(C_Mouse& mouse) {
  int x = 0, y = 0, buttons = 0;
  mouse.GetState(&x, &y, &buttons);
  std::string s = "buttons " + std::to_string(buttons) + " at " + std::to_string(x) + "," + std::to_string(y);
  if (mouse.IsLeftPressed()) s += " +L";
  if (mouse.IsRightPressed()) s += " +R";
  if (mouse.IsLeftReleased()) s += " -L";
  if (mouse.IsRightReleased()) s += " -R";
  return s;
}

TEST_F(Mouse, ButtonsAndEdgesFrameByFrame) {
  C_Mouse mouse;
  EXPECT_TRUE(mouse.IsLocked());
  Input("move 100 100");
  Input("ldown");
  mouse.Update();
  EXPECT_EQ(State(mouse), "buttons 2 at 100,100") << "held at start: locked, no click";
  bool left = false, right = true;
  mouse.GetPressed(&left, &right);
  EXPECT_TRUE(left && !right) << "the unlocked query sees the edge";
  // Input before each update, and the state after it.
  const std::pair<std::vector<const char*>, const char*> steps[] = {
      {{}, "buttons 2 at 100,100"},  // held, no new edge
      {{"lup"}, "buttons 0 at 100,100 -L"},
      {{"ldown"}, "buttons 2 at 100,100 +L"},
      {{}, "buttons 2 at 100,100"},  // edges last one update
      {{"lup", "move 10 20", "rdown"}, "buttons 1 at 10,20 +R -L"},
      {{"ldown", "rup"}, "buttons 2 at 10,20 +L -R"},
      {{"rdown", "rup"}, "buttons 2 at 10,20"},  // a press and release between updates is not seen
  };
  for (const auto& [events, state] : steps) {
    for (const char* e : events) Input(e);
    mouse.Update();
    EXPECT_EQ(State(mouse), state);
    mouse.GetReleased(&left, &right);
    EXPECT_EQ(left, mouse.IsLeftReleased());
    EXPECT_EQ(right, mouse.IsRightReleased());
  }
  EXPECT_FALSE(mouse.IsLocked());
  mouse.Clear();
  EXPECT_FALSE(mouse.IsLeftDown());
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

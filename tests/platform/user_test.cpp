#include <gtest/gtest.h>
#include <time.h>

#include <csignal>
#include <cstdlib>
#include <string>
#include <vector>

#include "platform/mm_timer.h"
#include "platform/src/backend/backend.h"
#include "platform/testing.h"
#include "platform/win_kernel.h"
#include "platform/win_user.h"

namespace {

struct Seen {
  UINT message;
  WPARAM wParam;
  LPARAM lParam;
  std::int64_t frame;
};
std::vector<Seen> g_seen;
std::string g_lastSetText;

// The framework's window procedure: Escape and close quit, the rest goes on.
LRESULT CALLBACK AppProc(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam) {
  g_seen.push_back({msg, wParam, lParam, platform::test::FrameCount()});
  if (msg == WM_SETTEXT) g_lastSetText = reinterpret_cast<const char*>(lParam);
  if (msg == WM_CLOSE || (msg == WM_KEYDOWN && wParam == VK_ESCAPE)) PostQuitMessage(0);
  return DefWindowProcA(hwnd, msg, wParam, lParam);
}

class PlatformUser : public testing::Test {
 protected:
  void SetUp() override {
    g_seen.clear();
    g_lastSetText.clear();
    WNDCLASSEXA wc = {};
    wc.cbSize = sizeof wc;
    wc.lpfnWndProc = AppProc;
    wc.hCursor = LoadCursorA(nullptr, IDC_ARROW);
    wc.lpszClassName = "D3DFWSampleClass";
    ASSERT_NE(RegisterClassExA(&wc), 0);
  }

  // Windowed: an overlapped window grown so that its client is 640 x 480.
  HWND CreateWindowed() {
    HWND h = CreateWindowExA(0, "D3DFWSampleClass", "ぬらもぺい", WS_OVERLAPPEDWINDOW, CW_USEDEFAULT, CW_USEDEFAULT,
                             CW_USEDEFAULT, CW_USEDEFAULT, nullptr, nullptr, nullptr, nullptr);
    RECT c, w;
    GetClientRect(h, &c);
    GetWindowRect(h, &w);
    SetWindowPos(h, nullptr, 0, 0, (w.right - w.left) - (c.right - c.left) + 640,
                 (w.bottom - w.top) - (c.bottom - c.top) + 480, SWP_NOMOVE);
    ShowWindow(h, SW_SHOWDEFAULT);
    ValidateRect(h, nullptr);
    return h;
  }

  // One pass of the framework's loop: a message, or else a frame.
  // Returns false once WM_QUIT arrives, with its code in *exitCode.
  bool Pass(int* exitCode) {
    MSG msg;
    if (PeekMessageA(&msg, nullptr, 0, 0, PM_REMOVE)) {
      if (msg.message == WM_QUIT) {
        *exitCode = static_cast<int>(msg.wParam);
        return false;
      }
      TranslateMessage(&msg);
      DispatchMessageA(&msg);
    } else {
      static const std::uint32_t pixels[4] = {};
      platform::backend::PresentFrame(pixels, 2, 2, 8);
    }
    Sleep(1);
    return true;
  }

  int Run(int maxPasses = 1000) {
    int code = -1;
    for (int i = 0; i < maxPasses; ++i)
      if (!Pass(&code)) return code;
    return -1;
  }

  std::vector<Seen> Messages(UINT m) const {
    std::vector<Seen> out;
    for (const auto& s : g_seen)
      if (s.message == m) out.push_back(s);
    return out;
  }
};

// Headless no window or box is seen: no monitor is counted, unless a test
// stands one in for a desktop until the next reset.
TEST_F(PlatformUser, HeadlessCountsNoMonitorUnlessATestSetsOne) {
  EXPECT_EQ(GetSystemMetrics(SM_CMONITORS), 0);
  platform::test::SetHeadlessMonitors(1);
  EXPECT_EQ(GetSystemMetrics(SM_CMONITORS), 1);
  EXPECT_EQ(GetSystemMetrics(0), 0) << "no other metric is kept";
  platform::test::ResetAll();
  EXPECT_EQ(GetSystemMetrics(SM_CMONITORS), 0);
}

TEST_F(PlatformUser, WindowedClientIsExactly640x480) {
  HWND h = CreateWindowed();
  ASSERT_NE(h, nullptr);
  RECT c, w;
  ASSERT_TRUE(GetClientRect(h, &c));
  EXPECT_EQ(c.right - c.left, 640);
  EXPECT_EQ(c.bottom - c.top, 480);
  GetWindowRect(h, &w);
  EXPECT_EQ(w.left, 64);
  EXPECT_EQ(w.top, 64);
  EXPECT_EQ(w.right - w.left, 640 + 2 * kNominalFrameSide);
  EXPECT_EQ(w.bottom - w.top, 480 + kNominalFrameTop + kNominalFrameBottom);
  POINT p = {0, 0};
  ClientToScreen(h, &p);
  EXPECT_EQ(p.x, 64 + kNominalFrameSide);
  EXPECT_EQ(p.y, 64 + kNominalFrameTop);
  ScreenToClient(h, &p);
  EXPECT_EQ(p.x, 0);
  EXPECT_EQ(p.y, 0);
  auto st = platform::test::MainWindow();
  EXPECT_EQ(st.window, h);
  EXPECT_FALSE(st.fullScreen);
  EXPECT_TRUE(st.visible);
  EXPECT_EQ(st.title, "ぬらもぺい");
}

TEST_F(PlatformUser, PopupAtOriginIsFullScreen) {
  HWND h = CreateWindowExA(0, "d3dfwsampleclass", "t", WS_POPUP, 0, 0, 640, 480, nullptr, nullptr, nullptr, nullptr);
  ASSERT_NE(h, nullptr);
  RECT c, w;
  GetClientRect(h, &c);
  GetWindowRect(h, &w);
  EXPECT_EQ(c.right, 640);
  EXPECT_EQ(c.bottom, 480);
  EXPECT_EQ(w.left, 0);
  EXPECT_EQ(w.right, 640);
  EXPECT_TRUE(platform::test::MainWindow().fullScreen);
  // Not visible yet: not active.
  EXPECT_EQ(GetActiveWindow(), nullptr);
  ShowWindow(h, SW_SHOW);
  EXPECT_EQ(GetActiveWindow(), h);
}

TEST_F(PlatformUser, WindowedOverrideKeepsAPopupInAWindow) {
  setenv("PLATFORM_WINDOWED", "1", 1);
  HWND h = CreateWindowExA(0, "D3DFWSampleClass", "t", WS_POPUP, 0, 0, 640, 480, nullptr, nullptr, nullptr, nullptr);
  unsetenv("PLATFORM_WINDOWED");
  ASSERT_NE(h, nullptr);
  EXPECT_FALSE(platform::test::MainWindow().fullScreen);
  RECT c;
  GetClientRect(h, &c);
  EXPECT_EQ(c.right, 640);
  EXPECT_EQ(c.bottom, 480);
}

TEST_F(PlatformUser, ClassRegistrationRules) {
  WNDCLASSEXA wc = {};
  wc.cbSize = sizeof wc;
  wc.lpfnWndProc = AppProc;
  wc.lpszClassName = "D3DFWSAMPLECLASS";
  SetLastError(0);
  EXPECT_EQ(RegisterClassExA(&wc), 0);
  EXPECT_EQ(GetLastError(), ERROR_CLASS_ALREADY_EXISTS);
  wc.lpszClassName = "Other";
  wc.cbSize = 48;  // the size of the 32-bit record is not this one's
  EXPECT_EQ(RegisterClassExA(&wc), 0);
  EXPECT_EQ(GetLastError(), ERROR_INVALID_PARAMETER);
  EXPECT_EQ(CreateWindowExA(0, "Missing", "", WS_POPUP, 0, 0, 1, 1, nullptr, nullptr, nullptr, nullptr), nullptr);
  EXPECT_EQ(GetLastError(), ERROR_CANNOT_FIND_WND_CLASS);
  EXPECT_NE(LoadCursorA(nullptr, IDC_ARROW), nullptr);
  EXPECT_EQ(LoadCursorA(nullptr, MAKEINTRESOURCEA(5)), nullptr);
}

TEST_F(PlatformUser, CreateDestroyAndSetTextGoThroughTheProcedure) {
  HWND h = CreateWindowed();
  ASSERT_FALSE(Messages(WM_CREATE).empty());
  EXPECT_TRUE(SetWindowTextA(h, "[ FPS : 120/s ]"));
  EXPECT_EQ(g_lastSetText, "[ FPS : 120/s ]");
  char buf[8];
  EXPECT_EQ(GetWindowTextA(h, buf, sizeof buf), 7);
  EXPECT_STREQ(buf, "[ FPS :");
  EXPECT_EQ(platform::test::MainWindow().title, "[ FPS : 120/s ]");
  EXPECT_TRUE(DestroyWindow(h));
  EXPECT_EQ(Messages(WM_DESTROY).size(), 1u);
  EXPECT_FALSE(IsWindow(h));
  EXPECT_FALSE(SetWindowTextA(h, "x"));
  EXPECT_EQ(GetLastError(), ERROR_INVALID_WINDOW_HANDLE);
}

TEST_F(PlatformUser, EscapeEndsTheLoopWithZeroAndQuitComesLast) {
  CreateWindowed();
  ASSERT_TRUE(platform::test::ScriptInput("frame 3 key down escape\nframe 3 key up escape\nframe 3 move 5 6"));
  EXPECT_EQ(Run(), 0);
  // Everything queued before the quit message was dispatched first.
  ASSERT_EQ(Messages(WM_KEYDOWN).size(), 1u);
  EXPECT_EQ(Messages(WM_KEYUP).size(), 1u);
  EXPECT_EQ(Messages(WM_MOUSEMOVE).size(), 1u);
  EXPECT_EQ(Messages(WM_KEYDOWN)[0].frame, 3);
  EXPECT_EQ(Messages(WM_CHAR)[0].wParam, 0x1Bu);  // from TranslateMessage
}

TEST_F(PlatformUser, CloseEndsTheLoopAndDestroysTheWindow) {
  HWND h = CreateWindowed();
  ASSERT_TRUE(platform::test::ScriptInput("frame 2 close"));
  EXPECT_EQ(Run(), 0);
  EXPECT_EQ(Messages(WM_CLOSE).size(), 1u);
  EXPECT_EQ(Messages(WM_DESTROY).size(), 1u);
  EXPECT_FALSE(IsWindow(h));
  // Presenting without a window succeeds and shows nothing.
  std::uint32_t px = 0;
  platform::backend::PresentFrame(&px, 1, 1, 4);
  EXPECT_EQ(platform::test::FrameCount(), 3);
}

// SIGTERM and SIGINT close the main window at the loop's next pump. One the
// loop does not take within a second (a long wait), and a second one, end the
// process at once with 128 + the signal.
TEST_F(PlatformUser, SignalsCloseTheWindowOrEndTheProcess) {
  const timespec longer = {1, 300 * 1000 * 1000};  // than the second the loop has
  CreateWindowed();
  raise(SIGTERM);
  EXPECT_EQ(Run(), 0);
  EXPECT_EQ(Messages(WM_CLOSE).size(), 1u);
  nanosleep(&longer, nullptr);  // taken: nothing ends the process

  const auto untaken = [&] {
    CreateWindowed();
    raise(SIGTERM);
    const timespec wait = {5, 0};
    nanosleep(&wait, nullptr);
  };
  EXPECT_EXIT(untaken(), testing::ExitedWithCode(128 + SIGTERM),
              "platform: SIGTERM was not taken by the message loop within a second");
  const auto twice = [&] {
    CreateWindowed();
    raise(SIGINT);
    raise(SIGINT);
  };
  EXPECT_EXIT(twice(), testing::ExitedWithCode(128 + SIGINT), "platform: SIGINT came again; the program ends at once");
  // A second signal while the program ends on the first, its window gone.
  const auto whileEnding = [&] {
    CreateWindowed();
    raise(SIGTERM);
    Run();
    raise(SIGTERM);
  };
  EXPECT_EXIT(whileEnding(), testing::ExitedWithCode(128 + SIGTERM),
              "platform: SIGTERM came again; the program ends at once");
}

TEST_F(PlatformUser, ScriptedClickArrivesOnTheFramesAsked) {
  CreateWindowed();
  ASSERT_TRUE(platform::test::ScriptInput(R"(
    # a click at (100, 200)
    frame 2 move 100 200
    frame 4 ldown
    frame 6 lup
    frame 7 rdown
    frame 7 rup
    frame 8 key down escape)"));
  EXPECT_EQ(Run(), 0);
  auto moves = Messages(WM_MOUSEMOVE);
  ASSERT_EQ(moves.size(), 1u);
  EXPECT_EQ(moves[0].frame, 2);
  EXPECT_EQ(GET_X_LPARAM(moves[0].lParam), 100);
  EXPECT_EQ(GET_Y_LPARAM(moves[0].lParam), 200);
  auto down = Messages(WM_LBUTTONDOWN), up = Messages(WM_LBUTTONUP);
  ASSERT_EQ(down.size(), 1u);
  ASSERT_EQ(up.size(), 1u);
  EXPECT_EQ(down[0].frame, 4);
  EXPECT_EQ(down[0].wParam, MK_LBUTTON);
  EXPECT_EQ(up[0].frame, 6);
  EXPECT_EQ(up[0].wParam, 0u);
  EXPECT_EQ(GET_X_LPARAM(up[0].lParam), 100);
  EXPECT_EQ(Messages(WM_RBUTTONDOWN).size(), 1u);
  EXPECT_EQ(Messages(WM_RBUTTONUP).size(), 1u);
  EXPECT_TRUE(Messages(WM_LBUTTONDBLCLK).empty());
}

TEST_F(PlatformUser, TimeEventsFollowTheClock) {
  CreateWindowed();
  ASSERT_TRUE(platform::test::ScriptInput("move 10 10\ntime 50 ldown\ntime 50 lup"));
  MSG msg;
  EXPECT_TRUE(PeekMessageA(&msg, nullptr, WM_MOUSEMOVE, WM_MOUSEMOVE, PM_REMOVE));  // no condition: at once
  EXPECT_FALSE(PeekMessageA(&msg, nullptr, WM_LBUTTONDOWN, WM_LBUTTONDOWN, PM_REMOVE));
  Sleep(49);
  EXPECT_FALSE(PeekMessageA(&msg, nullptr, WM_LBUTTONDOWN, WM_LBUTTONDOWN, PM_REMOVE));
  Sleep(1);
  EXPECT_TRUE(PeekMessageA(&msg, nullptr, WM_LBUTTONDOWN, WM_LBUTTONDOWN, PM_REMOVE));
  EXPECT_EQ(platform::test::PendingInputEvents(), 0u);
}

TEST_F(PlatformUser, WarpIsHonouredUntilTheNextScriptedMove) {
  HWND h = CreateWindowed();
  ASSERT_TRUE(platform::test::InputNow("move 10 10"));
  MSG msg;
  while (PeekMessageA(&msg, nullptr, 0, 0, PM_REMOVE)) DispatchMessageA(&msg);
  g_seen.clear();

  // The framework's SetPosition: client (0, 0) through the client origin.
  POINT o = {0, 0};
  ClientToScreen(h, &o);
  ASSERT_TRUE(SetCursorPos(o.x + 320, o.y + 240));
  ASSERT_TRUE(PeekMessageA(&msg, nullptr, 0, 0, PM_REMOVE));
  EXPECT_EQ(msg.message, WM_MOUSEMOVE);
  EXPECT_EQ(GET_X_LPARAM(msg.lParam), 320);
  EXPECT_EQ(GET_Y_LPARAM(msg.lParam), 240);
  // Frames pass; the cursor stays where it was put.
  for (int i = 0; i < 5; ++i) platform::backend::PresentFrame(nullptr, 0, 0, 0);
  POINT p;
  GetCursorPos(&p);
  EXPECT_EQ(p.x, o.x + 320);
  EXPECT_EQ(p.y, o.y + 240);
  // The same position again moves nothing and posts nothing.
  EXPECT_TRUE(SetCursorPos(o.x + 320, o.y + 240));
  EXPECT_FALSE(PeekMessageA(&msg, nullptr, 0, 0, PM_REMOVE));
  // The next scripted move wins.
  platform::test::InputNow("move 1 2");
  GetCursorPos(&p);
  EXPECT_EQ(p.x, o.x + 1);
  EXPECT_EQ(p.y, o.y + 2);
}

TEST_F(PlatformUser, OutsideTheClientThereAreNoMouseMessages) {
  HWND h = CreateWindowed();
  ASSERT_TRUE(platform::test::InputNow("move -5 100"));
  platform::test::InputNow("ldown");
  MSG msg;
  EXPECT_FALSE(PeekMessageA(&msg, nullptr, 0, 0, PM_REMOVE));
  POINT p;
  GetCursorPos(&p);
  ScreenToClient(h, &p);
  EXPECT_EQ(p.x, -5);
  EXPECT_EQ(p.y, 100);
  platform::test::InputNow("move 640 0");  // one past the right edge
  EXPECT_FALSE(PeekMessageA(&msg, nullptr, 0, 0, PM_REMOVE));
  // Back inside: the move carries the button still held.
  platform::test::InputNow("move 639 479");
  ASSERT_TRUE(PeekMessageA(&msg, nullptr, 0, 0, PM_REMOVE));
  EXPECT_EQ(msg.message, WM_MOUSEMOVE);
  EXPECT_EQ(msg.wParam, MK_LBUTTON);
  POINT o = {0, 0};
  ClientToScreen(h, &o);
  EXPECT_EQ(msg.pt.x, o.x + 639);
}

TEST_F(PlatformUser, DeactivationClearsTheActiveWindowAndDropsKeys) {
  HWND h = CreateWindowed();
  EXPECT_EQ(GetActiveWindow(), h);
  EXPECT_EQ(GetForegroundWindow(), h);
  platform::test::InputNow("deactivate");
  EXPECT_EQ(GetActiveWindow(), nullptr);
  EXPECT_FALSE(platform::test::MainWindow().active);
  platform::test::InputNow("key down escape");
  MSG msg;
  EXPECT_FALSE(PeekMessageA(&msg, nullptr, 0, 0, PM_REMOVE));
  platform::test::InputNow("activate");
  EXPECT_EQ(GetActiveWindow(), h);
}

TEST_F(PlatformUser, QueueFiltersAndTranslation) {
  HWND h = CreateWindowed();
  PostMessageA(h, WM_USER + 1, 1, 2);
  PostMessageA(nullptr, WM_USER + 2, 0, 0);
  platform::test::InputNow("key down shift");
  platform::test::InputNow("key down A");
  PostQuitMessage(7);
  MSG msg;
  // PM_NOREMOVE leaves the message.
  ASSERT_TRUE(PeekMessageA(&msg, nullptr, 0, 0, PM_NOREMOVE));
  EXPECT_EQ(msg.message, WM_USER + 1);
  // A range skips what lies outside it.
  ASSERT_TRUE(PeekMessageA(&msg, nullptr, WM_KEYDOWN, WM_KEYDOWN, PM_REMOVE));
  EXPECT_EQ(msg.wParam, VK_SHIFT);
  ASSERT_TRUE(PeekMessageA(&msg, nullptr, WM_KEYDOWN, WM_KEYDOWN, PM_REMOVE));
  EXPECT_EQ(msg.wParam, static_cast<WPARAM>('A'));
  TranslateMessage(&msg);
  ASSERT_TRUE(PeekMessageA(&msg, nullptr, 0, 0, PM_REMOVE));
  EXPECT_EQ(msg.message, WM_CHAR);
  EXPECT_EQ(msg.wParam, static_cast<WPARAM>('A'));  // shift held
  ASSERT_TRUE(PeekMessageA(&msg, nullptr, 0, 0, PM_REMOVE));
  EXPECT_EQ(msg.message, WM_USER + 1);
  ASSERT_TRUE(PeekMessageA(&msg, nullptr, 0, 0, PM_REMOVE));
  EXPECT_EQ(msg.hwnd, nullptr);
  EXPECT_EQ(DispatchMessageA(&msg), 0);  // thread messages have no procedure
  ASSERT_TRUE(PeekMessageA(&msg, nullptr, 0, 0, PM_REMOVE));
  EXPECT_EQ(msg.message, WM_QUIT);
  EXPECT_EQ(msg.wParam, 7u);
  EXPECT_FALSE(PeekMessageA(&msg, nullptr, 0, 0, PM_REMOVE));
}

TEST_F(PlatformUser, ScriptErrorsAreReported) {
  std::string error;
  EXPECT_FALSE(platform::test::ScriptInput("frame 1 ldown\nframe x lup", &error));
  EXPECT_NE(error.find("line 2"), std::string::npos);
  EXPECT_EQ(platform::test::PendingInputEvents(), 0u);  // nothing of a bad script is kept
  EXPECT_FALSE(platform::test::ScriptInput("key sideways A", &error));
  EXPECT_FALSE(platform::test::ScriptInput("move 1", &error));
  EXPECT_FALSE(platform::test::InputNow("jump", &error));
  EXPECT_TRUE(platform::test::ScriptInput("frame 1 key down f5  # comment\n\nkeyup 0x1B"));
  EXPECT_EQ(platform::test::PendingInputEvents(), 2u);
}

}  // namespace

// The application base, headless on the fake clock: start-up and its
// failures, the window, the loop run whole or one pass at a time, the rate in
// the title and in the corner, inactive windows, failed scenes and presents,
// and the release of everything at the end.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <filesystem>
#include <string>
#include <vector>

#include "gxl/math/matrix.h"
#include "platform/com.h"
#include "platform/mm_timer.h"
#include "platform/testing.h"
#include "platform/win_kernel.h"
#include "qel/appbase/qeldxappbase.h"
#include "qel/appbase/qelframelimiter.h"
#include "qel/appbase/qelmouse.h"
#include "qel/appbase/qelsound.h"
#include "tests/qel/appbase/appbase_test_util.h"

namespace {

using platform::test::Frame;

// Built like the game's application: paced at 60 frames per second by a frame
// limiter, the measured rate shown, nothing updated or drawn while inactive.
class TestApp : public C_DxAppBase {
 public:
  explicit TestApp(bool fullScreen = false, bool paced = true) : m_bPaced(paced) {
    m_bFullScreen = fullScreen ? 1 : 0;
    m_pszTitle = "Test application";
    m_Limiter.SetFps(paced ? 60 : 0);
  }

  HRESULT OneTimeInit() override {
    ++oneTimeInits;
    pictureAtInit = m_Picture.GetTexture() != nullptr;
    return S_OK;
  }
  HRESULT UpdateFrame() override {
    ++updates;
    if (!m_bActive) return S_OK;
    if (m_bPaced) m_fFps = static_cast<float>(m_Limiter.GetMeasuredFps());
    return E_FAIL;  // ignored by the base
  }
  HRESULT DrawFrame() override {
    ++draws;
    // The frame's batch is open around the drawing.
    SpriteBatcher* sprite = GetFrameSprite();
    batchOpen = sprite && sprite->BeginBatch(0) == D3DERR_INVALIDCALL;
    if (sprite && !batchOpen) sprite->EndBatch();
    if (!m_bActive) return S_OK;
    m_Picture.Draw(300, 200);
    if (m_bPaced) m_Limiter.Wait();
    return E_FAIL;  // ignored by the base
  }

  HRESULT Start() { return Create(GetModuleHandleA(nullptr), SW_SHOWDEFAULT); }
  void SetPicture(const char* name) { m_Picture.SetFile(name); }
  void SetRate(float fps) { m_fFps = fps; }
  void Pass(int n = 1) {
    int code = 0;
    for (int i = 0; i < n; ++i) ASSERT_TRUE(RunPass(&code));
  }

  int oneTimeInits = 0;
  int updates = 0;
  int draws = 0;
  bool pictureAtInit = false;
  bool batchOpen = false;

 private:
  bool m_bPaced;
  C_FrameLimiter m_Limiter;
  C_SpriteTexture m_Picture;
};

class DxAppBase : public testing::Test {
 protected:
  void SetUp() override {
    platform::test::PinFontFaces({"/usr/share/fonts/truetype/liberation2", "/usr/share/fonts/truetype/dejavu"});
    g_pDevice = nullptr;
    platform::test::OnPresent([this](const Frame& frame) {
      m_last = frame;
      m_titles.push_back(platform::test::MainWindow().title);
    });
  }
  // Everything Create made is gone with the application.
  void TearDown() override {
    EXPECT_TRUE(platform::test::D3D9LiveObjects().empty()) << platform::test::D3D9LiveObjectReport();
    EXPECT_EQ(platform::test::ComInitCount(), 0);
    EXPECT_EQ(g_pDevice, nullptr);
    EXPECT_EQ(g_pGlobalSprite, nullptr);
    EXPECT_EQ(g_pDirectSound, nullptr);
    EXPECT_EQ(platform::test::LiveGdiObjects(), 0);
  }

  static std::uint32_t Pixel(const Frame& f, int x, int y) {
    const std::uint8_t* p = &f.rgba[(static_cast<size_t>(y) * f.width + x) * 4];
    return 0xFF000000u | (p[0] << 16) | (p[1] << 8) | p[2];
  }

  nura::test::TempDir m_dir;
  nura::test::ScopedChdir m_chdir{m_dir.path()};
  Frame m_last;
  std::vector<std::string> m_titles;  // the title at every present
};

TEST_F(DxAppBase, RunsPacedFramesUntilEscapeAndReturnsZero) {
  TestApp app;
  ASSERT_TRUE(platform::test::ScriptInput("frame 120 key down escape\n"));
  ASSERT_EQ(app.Start(), S_OK);
  EXPECT_EQ(app.oneTimeInits, 1);
  const DWORD start = timeGetTime();
  EXPECT_EQ(app.Run(), 0);
  EXPECT_EQ(platform::test::FrameCount(), 120);
  EXPECT_EQ(app.updates, 120);
  EXPECT_EQ(app.draws, 120);
  EXPECT_TRUE(app.batchOpen);
  // Sixty to the second.
  EXPECT_NEAR(static_cast<double>(timeGetTime() - start), 2000.0, 20.0);
}

TEST_F(DxAppBase, ClosingTheWindowEndsRunWithZero) {
  TestApp app;
  ASSERT_TRUE(platform::test::ScriptInput("frame 3 close\n"));
  ASSERT_EQ(app.Start(), S_OK);
  EXPECT_EQ(app.Run(), 0);
  EXPECT_EQ(platform::test::FrameCount(), 3);
}

TEST_F(DxAppBase, OnePassAtATime) {
  TestApp app(false, false);
  ASSERT_EQ(app.Start(), S_OK);
  const DWORD start = timeGetTime();
  app.Pass(3);
  EXPECT_EQ(platform::test::FrameCount(), 3);
  EXPECT_EQ(timeGetTime() - start, 3u);  // unpaced: the loop's own 1 ms per pass
  // A message is a pass of its own, without a frame.
  PostMessageA(app.GetWindow(), WM_USER, 0, 0);
  app.Pass();
  EXPECT_EQ(platform::test::FrameCount(), 3);
  EXPECT_EQ(timeGetTime() - start, 4u);
  PostQuitMessage(7);
  int code = 0;
  EXPECT_FALSE(app.RunPass(&code));
  EXPECT_EQ(code, 7);
  EXPECT_EQ(timeGetTime() - start, 4u);
}

TEST_F(DxAppBase, TheTitleReadsTheRateAfterTheFirstHalfSecond) {
  TestApp app;
  ASSERT_EQ(app.Start(), S_OK);
  EXPECT_EQ(platform::test::MainWindow().title, "Test application");
  const DWORD start = timeGetTime();
  std::vector<DWORD> times;
  platform::test::OnFrame([&](std::int64_t) { times.push_back(timeGetTime() - start); });
  app.Pass(120);
  ASSERT_EQ(m_titles.size(), 120u);
  size_t first = 0;
  while (first < m_titles.size() && m_titles[first] == "Test application") ++first;
  ASSERT_LT(first, m_titles.size());
  EXPECT_EQ(m_titles[first], "[ FPS : 060/s ]");
  // Shown with the first frame that begins half a second after the first one.
  EXPECT_EQ(first, 30u);
  for (size_t i = first; i < m_titles.size(); ++i) EXPECT_EQ(m_titles[i], "[ FPS : 060/s ]") << i;
}

TEST_F(DxAppBase, TheTitleShowsTwiceTheFramesOfEachHalfSecond) {
  for (DWORD msPerPresent : {9u, 249u}) {
    SCOPED_TRACE(msPerPresent);
    platform::test::ResetAll();
    m_titles.clear();
    platform::test::OnPresent([this](const Frame&) { m_titles.push_back(platform::test::MainWindow().title); });
    platform::test::SetClockMsPerPresent(msPerPresent);
    TestApp app(false, false);
    ASSERT_EQ(app.Start(), S_OK);
    app.Pass(120);
    // Frames every msPerPresent + 1 ms: 50 or 2 of them in half a second.
    const size_t perHalfSecond = 500 / (msPerPresent + 1);
    const std::string want = msPerPresent == 9 ? "[ FPS : 100/s ]" : "[ FPS : 004/s ]";
    for (size_t i = 0; i < m_titles.size(); ++i)
      EXPECT_EQ(m_titles[i], i < perHalfSecond ? "Test application" : want) << i;
  }
}

TEST_F(DxAppBase, TheRateIsDrawnTruncatedInTheCorner) {
  TestApp app(false, false);
  ASSERT_EQ(app.Start(), S_OK);
  C_BitmapFont* font = app.GetFont();
  IDirect3DDevice9* device = app.GetDevice();
  // The same text drawn by the font alone on a cleared frame.
  auto reference = [&](const char* text) {
    device->BeginScene();
    device->Clear(0, nullptr, D3DCLEAR_TARGET | D3DCLEAR_ZBUFFER, 0, 1.0f, 0);
    font->DrawText(2.0f, 2.0f, 0xFFFFFF00, text, 0);
    device->EndScene();
    device->Present(nullptr, nullptr, nullptr, nullptr);
    return m_last.rgba;
  };
  const struct {
    float fps;
    const char* text;
  } cases[] = {{59.9f, "FPS:59"}, {5.0f, "FPS: 5"}, {60.0f, "FPS:60"}, {-1.0e20f, nullptr}};
  std::vector<std::uint8_t> previous;
  for (const auto& c : cases) {
    SCOPED_TRACE(c.fps);
    app.SetRate(c.fps);
    app.Pass();
    const Frame shown = m_last;
    if (c.text) {
      EXPECT_TRUE(shown.rgba == reference(c.text)) << c.text;
    }
    EXPECT_NE(shown.rgba, previous);
    previous = shown.rgba;
  }
  // Yellow glyphs on black, inside the text's box at (2, 2).
  app.SetRate(60.0f);
  app.Pass();
  SIZE extent{};
  ASSERT_EQ(font->GetTextExtent("FPS:60", &extent), S_OK);
  int lit = 0;
  for (int y = 0; y < m_last.height; ++y)
    for (int x = 0; x < m_last.width; ++x) {
      const std::uint32_t v = Pixel(m_last, x, y);
      if (v == 0xFF000000u) continue;
      ++lit;
      EXPECT_TRUE(x >= 1 && x < 2 + extent.cx + 1 && y >= 1 && y < 2 + extent.cy + 1) << x << "," << y;
      EXPECT_EQ(v & 0xFF, 0u) << qeltest::Hex(v);
      EXPECT_EQ((v >> 16) & 0xFF, (v >> 8) & 0xFF) << qeltest::Hex(v);
    }
  EXPECT_GT(lit, 40);
}

TEST_F(DxAppBase, AFontThatFailsToBuildSkipsOneTimeInitAndWritesTheTraceLine) {
  TestApp app;
  platform::test::FailCall("CreateFontA", E_FAIL);
  platform::test::ClearDebugOutput();
  EXPECT_EQ(app.Start(), E_FAIL);
  EXPECT_EQ(app.oneTimeInits, 0);
  const std::vector<std::string> trace = {"qel\\appbase\\qeldxappbase(145): ", "m_pFont->InitDeviceObjects", " ",
                                          "hr=E_FAIL (0x80004005)", "\n"};
  const auto& out = platform::test::DebugOutput();
  EXPECT_NE(std::search(out.begin(), out.end(), trace.begin(), trace.end()), out.end())
      << testing::PrintToString(out);
}

TEST_F(DxAppBase, WindowedTheClientAreaIsExactly640By480) {
  TestApp app;
  ASSERT_EQ(app.Start(), S_OK);
  const auto window = platform::test::MainWindow();
  ASSERT_EQ(window.window, app.GetWindow());
  EXPECT_EQ(window.clientRect.right - window.clientRect.left, 640);
  EXPECT_EQ(window.clientRect.bottom - window.clientRect.top, 480);
  EXPECT_EQ(window.windowRect.right - window.windowRect.left, 640 + 2 * kNominalFrameSide);
  EXPECT_EQ(window.windowRect.bottom - window.windowRect.top, 480 + kNominalFrameTop + kNominalFrameBottom);
  EXPECT_FALSE(window.fullScreen);
  EXPECT_TRUE(window.visible);
  IDirect3DSurface9* back = nullptr;
  ASSERT_EQ(app.GetDevice()->GetBackBuffer(0, 0, D3DBACKBUFFER_TYPE_MONO, &back), D3D_OK);
  D3DSURFACE_DESC desc{};
  back->GetDesc(&desc);
  back->Release();
  EXPECT_EQ(desc.Width, 640u);
  EXPECT_EQ(desc.Height, 480u);
  EXPECT_TRUE(app.GetPresentParams().Windowed);
}

TEST_F(DxAppBase, FullScreenIsAPopUpAtTheOrigin) {
  TestApp app(true);
  ASSERT_EQ(app.Start(), S_OK);
  const auto window = platform::test::MainWindow();
  EXPECT_EQ(window.windowRect.left, 0);
  EXPECT_EQ(window.windowRect.top, 0);
  EXPECT_EQ(window.clientRect.right, 640);
  EXPECT_EQ(window.clientRect.bottom, 480);
  EXPECT_FALSE(app.GetPresentParams().Windowed);
  EXPECT_EQ(app.GetPresentParams().BackBufferWidth, 640u);
  EXPECT_EQ(app.GetPresentParams().BackBufferHeight, 480u);
}

TEST_F(DxAppBase, StartUpLoadsPicturesAndServicesBeforeOneTimeInit) {
  std::filesystem::create_directory("cg");
  qeltest::WritePng("cg/pic.png", qeltest::NoisePicture(16, 16, 21));
  TestApp app;
  app.SetPicture("cg/pic.png");
  ASSERT_EQ(app.Start(), S_OK);
  EXPECT_TRUE(app.pictureAtInit);
  EXPECT_EQ(g_pDevice, app.GetDevice());
  ASSERT_NE(app.GetFrameSprite(), nullptr);
  EXPECT_EQ(g_pGlobalSprite, app.GetFrameSprite());
  EXPECT_NE(g_pDirectSound, nullptr);
  EXPECT_EQ(platform::test::ComInitCount(), 2);
  EXPECT_NE(app.GetFont()->GetTexture(), nullptr);
  EXPECT_NE(app.GetFont()->GetVertexBuffer(), nullptr);

  D3DDEVICE_CREATION_PARAMETERS created{};
  app.GetDevice()->GetCreationParameters(&created);
  EXPECT_EQ(created.DeviceType, D3DDEVTYPE_HAL);
  EXPECT_EQ(created.BehaviorFlags, D3DCREATE_HARDWARE_VERTEXPROCESSING);
  EXPECT_EQ(created.hFocusWindow, app.GetWindow());
  DWORD z = 0, blend = 0;
  app.GetDevice()->GetRenderState(D3DRS_ZENABLE, &z);
  app.GetDevice()->GetRenderState(D3DRS_ALPHABLENDENABLE, &blend);
  EXPECT_EQ(z, static_cast<DWORD>(D3DZB_TRUE));
  EXPECT_EQ(blend, static_cast<DWORD>(TRUE));
  D3DMATRIX projection{};
  app.GetDevice()->GetTransform(D3DTS_PROJECTION, &projection);
  Matrix4 want;
  MatrixPerspectiveFovLH(&want, 0.785398163f, 640.0f / 480.0f, 0.0f, 100.0f);
  EXPECT_EQ(std::memcmp(&projection, &want, sizeof want), 0);

  // The picture is drawn while the window is active.
  app.Pass();
  EXPECT_NE(Pixel(m_last, 300, 200), 0xFF000000u);
}

TEST_F(DxAppBase, DeviceKindsAreTriedInTurn) {
  // Hardware processing, then software processing, then the reference device
  // (none at all marked by NULLREF).
  const struct {
    const char* failing;
    D3DDEVTYPE type;
  } cases[] = {{"HAL/HARDWARE", D3DDEVTYPE_HAL}, {"HAL", D3DDEVTYPE_REF}, {"", D3DDEVTYPE_NULLREF}};
  for (const auto& c : cases) {
    platform::test::ResetAll();
    platform::test::FailCall("CreateDevice", D3DERR_NOTAVAILABLE, {c.failing, 1, c.type == D3DDEVTYPE_HAL ? 1 : -1});
    TestApp app;
    if (c.type == D3DDEVTYPE_NULLREF) {
      // None can be made: Create fails and the window stays.
      EXPECT_EQ(app.Start(), E_FAIL);
      EXPECT_EQ(platform::test::InjectedFailureCount("CreateDevice"), 3);
      EXPECT_EQ(app.oneTimeInits, 0);
      EXPECT_NE(platform::test::MainWindow().window, nullptr);
      EXPECT_EQ(platform::test::ComInitCount(), 0);
      continue;
    }
    ASSERT_EQ(app.Start(), S_OK) << c.failing;
    D3DDEVICE_CREATION_PARAMETERS created{};
    app.GetDevice()->GetCreationParameters(&created);
    EXPECT_EQ(created.DeviceType, c.type);
    EXPECT_EQ(created.BehaviorFlags, D3DCREATE_SOFTWARE_VERTEXPROCESSING);
  }
}

TEST_F(DxAppBase, AFailedClassRegistrationStopsBeforeAWindow) {
  WNDCLASSEXA cls{};
  cls.cbSize = sizeof cls;
  cls.lpfnWndProc = &DefWindowProcA;
  cls.lpszClassName = C_DxAppBase::kWindowClass;
  ASSERT_NE(RegisterClassExA(&cls), 0);
  TestApp app;
  EXPECT_EQ(app.Start(), E_FAIL);
  EXPECT_EQ(platform::test::MainWindow().window, nullptr);
  EXPECT_EQ(app.oneTimeInits, 0);
}

TEST_F(DxAppBase, AnInactiveWindowIsStillClearedAndPresented) {
  std::filesystem::create_directory("cg");
  qeltest::WritePng("cg/pic.png", qeltest::NoisePicture(16, 16, 22));
  TestApp app;
  app.SetPicture("cg/pic.png");
  ASSERT_TRUE(platform::test::ScriptInput("frame 5 deactivate\nframe 20 activate\n"));
  ASSERT_EQ(app.Start(), S_OK);
  app.Pass(5);
  EXPECT_TRUE(app.IsActive());
  EXPECT_NE(Pixel(m_last, 300, 200), 0xFF000000u);
  // From the pass after the fifth frame on the window is inactive.
  const DWORD start = timeGetTime();
  app.Pass(10);
  EXPECT_FALSE(app.IsActive());
  EXPECT_EQ(platform::test::FrameCount(), 15);
  EXPECT_EQ(app.draws, 15);
  EXPECT_EQ(Pixel(m_last, 300, 200), 0xFF000000u);  // cleared, the picture not drawn
  EXPECT_EQ(timeGetTime() - start, 10u);            // and not paced
  app.Pass(6);
  EXPECT_TRUE(app.IsActive());
  EXPECT_NE(Pixel(m_last, 300, 200), 0xFF000000u);
}

TEST_F(DxAppBase, AFailedPresentGetsOneResetAttemptPerFrame) {
  TestApp app(false, false);
  ASSERT_EQ(app.Start(), S_OK);
  platform::test::SetD3D9DeviceLost(true);
  platform::test::StartD3D9CallLog();
  app.Pass(3);
  EXPECT_EQ(platform::test::CountD3D9Calls("Present"), 3);
  EXPECT_EQ(platform::test::CountD3D9Calls("Reset"), 3);
  // The font's vertex buffer lives in the default pool, so the resets fail
  // and nothing is restored; drawing goes on.
  EXPECT_EQ(platform::test::DiagnosticCount("d3d9.reset-with-default-resources"), 3);
  EXPECT_EQ(app.draws, 3);
  platform::test::SetD3D9DeviceLost(false);
  platform::test::ClearD3D9CallLog();
  app.Pass();
  EXPECT_EQ(platform::test::CountD3D9Calls("Reset"), 0);
  EXPECT_EQ(platform::test::FrameCount(), 1);
}

TEST_F(DxAppBase, AFailedSceneIsStillPresented) {
  TestApp app(false, false);
  ASSERT_EQ(app.Start(), S_OK);
  platform::test::FailCall("BeginScene", D3DERR_INVALIDCALL);
  app.Pass();
  EXPECT_EQ(app.draws, 0);
  EXPECT_EQ(app.updates, 1);
  EXPECT_EQ(platform::test::FrameCount(), 1);
  app.Pass();
  EXPECT_EQ(app.draws, 1);
}

TEST_F(DxAppBase, WindowMessagesReachTheMouse) {
  C_Mouse mouse;
  TestApp app(false, false);
  ASSERT_TRUE(platform::test::ScriptInput("frame 1 move 100 50\nframe 1 ldown\n"));
  ASSERT_EQ(app.Start(), S_OK);
  app.Pass(5);
  EXPECT_EQ(g_hMouseWnd, app.GetWindow());
  mouse.Update();
  int x = 0, y = 0;
  mouse.GetPosition(&x, &y);
  EXPECT_EQ(x, 100);
  EXPECT_EQ(y, 50);
  EXPECT_TRUE(mouse.IsLeftDown());
}

TEST_F(DxAppBase, CleanupReleasesEverythingOnce) {
  TestApp app;
  ASSERT_EQ(app.Start(), S_OK);
  app.Pass(2);
  app.Cleanup();
  EXPECT_EQ(app.GetDevice(), nullptr);
  EXPECT_EQ(app.GetFont(), nullptr);
  EXPECT_TRUE(platform::test::D3D9LiveObjects().empty()) << platform::test::D3D9LiveObjectReport();
}

}  // namespace

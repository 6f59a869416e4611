#include "tests/game/gameapp_fixture.h"

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <sstream>

#include "platform/com.h"
#include "platform/win_kernel.h"
#include "qel/appbase/qeldeviceresource.h"
#include "qel/appbase/qelsound.h"

namespace nura::game_test {

std::uint32_t Image::Rgb(int x, int y) const {
  const std::uint8_t* p = &rgba[(static_cast<std::size_t>(y) * width + x) * 4];
  return (std::uint32_t{p[0]} << 16) | (std::uint32_t{p[1]} << 8) | p[2];
}

Image LoadPng(const std::string& path) {
  Image image;
  const std::string raw = path + ".rgba";
  const std::string command = "/usr/bin/python3 -c \"import sys\nfrom PIL import Image\n"
                              "im = Image.open(sys.argv[1]).convert('RGBA')\n"
                              "open(sys.argv[2], 'wb').write(im.tobytes())\nprint(im.size[0], im.size[1])\" '" +
                              path + "' '" + raw + "' 2>&1";
  std::string output;
  EXPECT_EQ(test::RunCommand(command, &output), 0) << output;
  std::istringstream(output) >> image.width >> image.height;
  image.rgba = test::ReadFileBytes(raw);
  std::filesystem::remove(raw);
  EXPECT_EQ(image.rgba.size(), static_cast<std::size_t>(image.width) * image.height * 4) << path;
  return image;
}

Image Picture(const std::string& name) { return LoadPng("cg/" + name); }

std::uint32_t Blend(std::uint32_t source, int alpha, std::uint32_t destination) {
  std::uint32_t out = 0;
  for (int shift = 0; shift < 24; shift += 8) {
    const int s = static_cast<int>(source >> shift & 0xFF);
    const int d = static_cast<int>(destination >> shift & 0xFF);
    out |= static_cast<std::uint32_t>((s * alpha + d * (255 - alpha) + 127) / 255) << shift;
  }
  return out;
}

bool Near(std::uint32_t a, std::uint32_t b, int tolerance) {
  for (int shift = 0; shift < 24; shift += 8) {
    if (std::abs(static_cast<int>(a >> shift & 0xFF) - static_cast<int>(b >> shift & 0xFF)) > tolerance) return false;
  }
  return true;
}

bool ShowsTile(const Image& tile, int u, int v, std::uint32_t pixel, int shade) {
  for (int shift = 0; shift < 24; shift += 8) {
    int low = 255, high = 0;
    for (int dv = -2; dv <= 0; ++dv)
      for (int du = -2; du <= 0; ++du) {
        const int tu = ((u + du) % 32 + 32) % 32;
        const int tv = ((v + dv) % 32 + 32) % 32;
        const std::uint32_t floor = Blend(tile.Rgb(tu, tv), tile.Alpha(tu, tv), 0xC0C0C0);
        const int c = static_cast<int>(Blend(0, shade, floor) >> shift & 0xFF);
        low = std::min(low, c);
        high = std::max(high, c);
      }
    const int p = static_cast<int>(pixel >> shift & 0xFF);
    if (p < low - 4 || p > high + 4) return false;
  }
  return true;
}

std::string GameAppTest::DataDir() { return NURA_GAMEDATA_DIR; }

void GameAppTest::PinFonts() {
  platform::test::PinFontFaces({"/usr/share/fonts/truetype/liberation2", "/usr/share/fonts/truetype/dejavu"});
}

void GameAppTest::SetUp() {
  PinFonts();
  CopyGameData(DataDir(), m_Dir.path());
  for (const auto& entry : std::filesystem::directory_iterator("SE")) {
    std::uint8_t* raw = nullptr;
    WAVEFORMATEX format{};
    const std::uint32_t bytes = C_SoundBuffer::ReadWave(entry.path().c_str(), &raw, &format);
    std::unique_ptr<std::uint8_t[]> samples(raw);
    m_SoundByCrc[platform::test::AudioCrc32(samples.get(), bytes)] = entry.path().stem().string();
  }
}

void GameAppTest::TearDown() { Stop(); }

void GameAppTest::Start() {
  m_pApp = std::make_unique<C_GameApp>();
  ASSERT_EQ(m_pApp->Create(GetModuleHandleA(nullptr), SW_SHOWDEFAULT), S_OK);
  // The data the test wrote must leave the game playable, or it tests a game
  // that would not have started.
  EXPECT_TRUE(m_pApp->IsPlayable());
  m_Trace = {State()};
}

void GameAppTest::Stop() {
  if (!m_pApp) return;
  m_pApp.reset();
  EXPECT_TRUE(platform::test::D3D9LiveObjects().empty()) << platform::test::D3D9LiveObjectReport();
  EXPECT_EQ(platform::test::ComInitCount(), 0);
  EXPECT_EQ(g_pDevice, nullptr);
  EXPECT_EQ(g_pGlobalSprite, nullptr);
  EXPECT_EQ(g_GameObjects.system, nullptr);
}

void GameAppTest::Frame() {
  const std::int64_t before = platform::test::FrameCount();
  int code = 0;
  for (int pass = 0; pass < 100 && platform::test::FrameCount() == before; ++pass)
    ASSERT_TRUE(m_pApp->RunPass(&code)) << "the loop ended with " << code;
  ASSERT_NE(platform::test::FrameCount(), before);
  m_bCaptured = false;
  if (State() != m_Trace.back()) m_Trace.push_back(State());
}

void GameAppTest::Frames(int n) {
  for (int i = 0; i < n; ++i) Frame();
}

bool GameAppTest::RunWhileState(int state, int limit) {
  for (int n = 0; n < limit && State() == state; ++n) Frame();
  return State() != state;
}

void GameAppTest::MoveTo(int x, int y) {
  std::string error;
  ASSERT_TRUE(platform::test::InputNow("move " + std::to_string(x) + " " + std::to_string(y), &error)) << error;
}

void GameAppTest::Press() { ASSERT_TRUE(platform::test::InputNow("ldown")); }

void GameAppTest::Release() { ASSERT_TRUE(platform::test::InputNow("lup")); }

void GameAppTest::ClickAt(int x, int y) {
  MoveTo(x, y);
  Press();
  Frame();
  Release();
}

void GameAppTest::SetDrawing(bool on) {
  m_bDrawing = on;
  if (on) {
    platform::test::ClearFailures();
    platform::test::SetClockMsPerPresent(0);
  } else {
    platform::test::FailCall("BeginScene", E_FAIL, platform::test::FailSpec{"", 1, -1});
    // With no drawing there is no pacing: a present stands for the rest of the frame.
    platform::test::SetClockMsPerPresent(16);
  }
}

void GameAppTest::Capture() {
  if (m_bCaptured) return;
  m_bCaptured = true;
  m_Last = Image{};
  EXPECT_TRUE(m_bDrawing) << "frames are not drawn now";
  // The back buffer keeps the presented frame until the next one clears it.
  IDirect3DDevice9* device = App().GetDevice();
  IDirect3DSurface9* back = nullptr;
  ASSERT_EQ(device->GetBackBuffer(0, 0, D3DBACKBUFFER_TYPE_MONO, &back), D3D_OK);
  D3DSURFACE_DESC desc{};
  back->GetDesc(&desc);
  IDirect3DTexture9* copy = nullptr;
  IDirect3DSurface9* level = nullptr;
  ASSERT_EQ(device->CreateTexture(desc.Width, desc.Height, 1, 0, desc.Format, D3DPOOL_SYSTEMMEM, &copy, nullptr),
            D3D_OK);
  copy->GetSurfaceLevel(0, &level);
  EXPECT_EQ(device->GetRenderTargetData(back, level), D3D_OK);
  D3DLOCKED_RECT locked{};
  if (level->LockRect(&locked, nullptr, D3DLOCK_READONLY) == D3D_OK) {
    m_Last.width = static_cast<int>(desc.Width);
    m_Last.height = static_cast<int>(desc.Height);
    for (UINT y = 0; y < desc.Height; ++y) {
      const auto* row = reinterpret_cast<const std::uint32_t*>(static_cast<const BYTE*>(locked.pBits) + y * locked.Pitch);
      for (UINT x = 0; x < desc.Width; ++x) {
        m_Last.rgba.push_back(static_cast<std::uint8_t>(row[x] >> 16));
        m_Last.rgba.push_back(static_cast<std::uint8_t>(row[x] >> 8));
        m_Last.rgba.push_back(static_cast<std::uint8_t>(row[x]));
        m_Last.rgba.push_back(255);
      }
    }
    level->UnlockRect();
  }
  level->Release();
  copy->Release();
  back->Release();
}

std::uint32_t GameAppTest::Pixel(int x, int y) {
  Capture();
  return m_Last.Rgb(x, y);
}

void GameAppTest::SaveFrame(const std::string& name) {
  Capture();
  const testing::TestInfo* info = testing::UnitTest::GetInstance()->current_test_info();
  const std::string dir = NURA_GAME_FRAMES_DIR;
  std::filesystem::create_directories(dir);
  const std::string path = dir + "/" + info->test_suite_name() + "_" + info->name() + "_" + name + ".png";
  const std::string raw = m_Dir / "frame.rgba";
  test::WriteFileBytes(raw, m_Last.rgba);
  const std::string command = "/usr/bin/python3 -c \"import sys\nfrom PIL import Image\n"
                              "Image.frombytes('RGBA', (int(sys.argv[3]), int(sys.argv[4])), "
                              "open(sys.argv[1], 'rb').read()).convert('RGB').save(sys.argv[2])\" '" +
                              raw + "' '" + path + "' " + std::to_string(m_Last.width) + " " +
                              std::to_string(m_Last.height) + " 2>&1";
  std::string output;
  EXPECT_EQ(test::RunCommand(command, &output), 0) << output;
  std::filesystem::remove(raw);
}

int GameAppTest::ExpectOpaqueTexels(const Image& picture, RECT source, int x, int y) {
  int checked = 0;
  int wrong = 0;
  for (int v = source.top; v < source.bottom; ++v)
    for (int u = source.left; u < source.right; ++u) {
      if (picture.Alpha(u, v) != 255) continue;
      ++checked;
      const std::uint32_t got = Pixel(x + u - source.left, y + v - source.top);
      if (got != picture.Rgb(u, v) && ++wrong <= 5)
        ADD_FAILURE() << "texel " << u << "," << v << ": " << std::hex << got << " instead of " << picture.Rgb(u, v);
    }
  return checked;
}

void GameAppTest::HurryClear() {
  ASSERT_EQ(Play().GetPhase(), C_PlayLogic::kPhaseGoal);
  // Clicks count once the opening picture moves in.
  Frames(62);
  ClickAt(300, 300);
  Frame();
  ClickAt(300, 300);
  Frame();
}

}  // namespace nura::game_test

// The whole game headless through its own application object: the generated
// data folder copied into the test's working folder, the window, device,
// sound and music made by the framework, scripted mouse input, every
// presented frame kept for pixel probes and written as PNG on request.
// Frames between checkpoints may skip their drawing (a failing BeginScene;
// the game still runs, presents and advances the clock a frame period), which
// keeps long runs quick in the sanitizer build.
#pragma once

#include <gtest/gtest.h>

#include <cstdint>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "game/gameapp.h"
#include "platform/testing.h"
#include "tests/game/game_test_util.h"
#include "tests/game/screen_driver.h"

namespace nura::game_test {

// A picture decoded by PIL: RGBA, row by row.
struct Image {
  int width = 0;
  int height = 0;
  std::vector<std::uint8_t> rgba;
  std::uint32_t Rgb(int x, int y) const;
  int Alpha(int x, int y) const { return rgba[(static_cast<std::size_t>(y) * width + x) * 4 + 3]; }
};
Image LoadPng(const std::string& path);

// 0xRRGGBB of source over destination with source alpha a (0 to 255).
std::uint32_t Blend(std::uint32_t source, int alpha, std::uint32_t destination);
// True when every channel differs by at most tolerance.
bool Near(std::uint32_t a, std::uint32_t b, int tolerance);

class GameAppTest : public testing::Test, public ScreenDriver<GameAppTest> {
  friend class ScreenDriver<GameAppTest>;

 protected:
  void SetUp() override;
  void TearDown() override;

  // The generated data folder's path.
  static std::string DataDir();
  // The font faces every test draws with.
  static void PinFonts();
  // Builds the application and creates its window and device; the data must
  // leave the game playable.
  void Start();
  // Destroys the application; nothing it made may be left.
  void Stop();

  // One frame of the loop (the passes up to the next presented frame). The
  // state trace gets every change.
  void Frame();
  void Frames(int n);
  // Frames until the game state differs from state; false if it never does.
  bool RunWhileState(int state, int limit = 5000);
  void MoveTo(int x, int y);
  void Press();
  void Release();
  // Moves there, presses in one frame, releases in the next.
  void ClickAt(int x, int y);
  // Off: frames skip their drawing until switched on again.
  void SetDrawing(bool on);

  // The last presented frame, 0xRRGGBB.
  std::uint32_t Pixel(int x, int y);
  // Writes the last frame to <build>/tests/game/frames/<suite>_<test>_<name>.png.
  void SaveFrame(const std::string& name);

  // The picture's opaque texels match the frame at (x, y); also counts them.
  int ExpectOpaqueTexels(const Image& picture, RECT source, int x, int y);

  // The effects played since the start, by file name, in order.
  std::vector<std::string> SoundsPlayed() const { return EffectsPlayed(m_SoundByCrc); }

  C_GameApp& App() { return *m_pApp; }
  C_GameSystem& System() { return m_pApp->GetGameSystem(); }
  C_PlayLogic& Play() { return *System().GetPlayLogic(); }
  const C_TitleLogic& Title() { return *System().GetTitleLogic(); }
  int State() { return System().GetState(); }

  // Clicks through the clear sequence from its first frame to its end.
  void HurryClear();

  GameFolder m_Dir;
  std::unique_ptr<C_GameApp> m_pApp;
  // Reads the last frame from the back buffer, once per frame.
  void Capture();

  Image m_Last;
  bool m_bCaptured = false;
  std::vector<int> m_Trace;
  std::map<std::uint32_t, std::string> m_SoundByCrc;
  bool m_bDrawing = true;
};

// The picture under cg/ of the working folder.
Image Picture(const std::string& name);

// The floor tile over the floors' grey at tile position (u, v), under a black
// shade of the given alpha: the texel there or one of its two upper and left
// neighbours, or a mix of them (the tile's quad samples texels at whole-pixel
// positions, halfway between two, as it goes into the field target), within
// the blends' rounding.
bool ShowsTile(const Image& tile, int u, int v, std::uint32_t pixel, int shade = 0);

}  // namespace nura::game_test

// The play scene and its background through the whole game on one-stage
// tables: times of ten minutes or more on the status panel and in the stage
// list, the shade around the continue choice and at the next start, the
// field's edges, the drifting lines of the background, and play held while
// the window is inactive.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <filesystem>

#include "game/fielddrawer.h"
#include "game/timedigits.h"
#include "qel/appbase/qelrandom.h"
#include "tests/game/gameapp_fixture.h"

namespace nura::game_test {
namespace {

// One stage on one large floor; the body starts in its middle, the goal lies
// far away in the field's corner.
void WriteOneStage(int limitSeconds) {
  StageSpec s;
  s.number = 1;
  s.floors = {{0, 0, 2000, 2000}};
  s.startX = 1000;
  s.startY = 1000;
  s.goal = {40, 40, 80, 80};
  s.limit = limitSeconds;
  s.path = {{2, 3}};
  WritePlayableStages({s});
}

class PlayScene : public GameAppTest {
 protected:
  // Stage 1 chosen from the list over a record of 40 s, played to its first
  // playing frame without drawing.
  void PlayFirstStageUndrawn() {
    test::WriteFileBytes("score.dat", PythonScoreImage({{1, 40000, "QQQ"}}));
    Start();
    SkipLogo();
    OpenMenu();
    ChooseStage(0, 0);
    SetDrawing(false);
    SkipToPlay();
  }

  // The small status digits of glyphs[7] at (x, y) over the grey panel.
  void ExpectStatusTime(const int glyphs[7], int x, int y) {
    const Image digits = Picture("number.png");
    int glyphPixels = 0;
    for (int i = 0; i < 7; ++i)
      for (int v = 0; v < 19; ++v)
        for (int u = 0; u < 9; ++u) {
          const int a = digits.Alpha(10 * glyphs[i] + u, v);
          const std::uint32_t want = Blend(digits.Rgb(10 * glyphs[i] + u, v), a, 0x404040);
          EXPECT_TRUE(Near(Pixel(x + 10 * i + u, y + v), want, 2)) << "glyph " << i << ": " << u << "," << v;
          glyphPixels += a > 128;
        }
    EXPECT_GT(glyphPixels, 50);
  }

  // The share of field pixels (x below 480) in the given screen rectangle,
  // away from the body, that show the floor tile under the shade.
  double TiledShare(RECT area, int shade) {
    const Image tile = Picture("check.png");
    const int sx = Play().GetScrollX();
    const int sy = Play().GetScrollY();
    const float bx = Play().GetBody().GetX() - static_cast<float>(sx);
    const float by = Play().GetBody().GetY() - static_cast<float>(sy);
    int all = 0;
    int tiled = 0;
    for (int y = area.top; y < area.bottom; y += 3)
      for (int x = area.left; x < area.right && x < 480; x += 3) {
        if (std::hypot(x - bx, y - by) < 120.0f) continue;
        ++all;
        tiled += ShowsTile(tile, x + sx % 16, y + sy % 16, Pixel(x, y), shade);
      }
    EXPECT_GT(all, 500);
    return all ? static_cast<double>(tiled) / all : 0.0;
  }
};

TEST(PlaySceneDigits, TimesOfTenMinutesOrMoreShowAsTheLargestTheDigitsHold) {
  const auto digits = [](std::uint32_t ms) {
    const C_TimeDigits d(ms);
    return std::vector<std::uint32_t>{d.minutes, d.tensOfSeconds, d.seconds, d.tenths, d.hundredths};
  };
  using testing::ElementsAre;
  EXPECT_THAT(digits(0), ElementsAre(0, 0, 0, 0, 0));
  EXPECT_THAT(digits(83456), ElementsAre(1, 2, 3, 4, 5));
  EXPECT_THAT(digits(599989), ElementsAre(9, 5, 9, 9, 8));
  EXPECT_THAT(digits(599999), ElementsAre(9, 5, 9, 9, 9));
  EXPECT_THAT(digits(600000), ElementsAre(9, 5, 9, 9, 9));
  EXPECT_THAT(digits(3000000), ElementsAre(9, 5, 9, 9, 9));
  EXPECT_THAT(digits(0xFFFFFFFFu), ElementsAre(9, 5, 9, 9, 9));
  // The text form keeps the real minutes.
  EXPECT_EQ(FormatTime(83456), " 1:23:45");
  EXPECT_EQ(FormatTime(3000000), "50: 0: 0");
}

TEST_F(PlayScene, TimesOfTenMinutesOrMoreShowAsNineFiftyNineInTheListAndOnThePanel) {
  WriteOneStage(700);
  test::WriteFileBytes("score.dat", PythonScoreImage({{1, 650000, "QQQ"}, {2, 70000, "AB"}}));
  const std::vector<std::uint8_t> stored = test::ReadFileBytes("score.dat");
  Start();
  SkipLogo();
  OpenMenu();
  OpenStageList();
  MoveTo(20, 20);
  Frame();
  ASSERT_EQ(Title().GetCursor(), 0);
  SaveFrame("stagelist");
  {
    const Image glyphs = Picture("number.png");
    auto cell = [](int column) { return RECT{10 * column, 0, 10 * (column + 1), 20}; };
    // Stage 1's 10:50.00 as 9:59.99: minutes, tens, seconds, tenths, hundredths.
    const int at[5] = {160, 180, 190, 210, 220};
    const int want[5] = {9, 5, 9, 9, 9};
    for (int i = 0; i < 5; ++i) EXPECT_GT(ExpectOpaqueTexels(glyphs, cell(want[i]), 130 + at[i], 80), 5) << i;
    // Stage 2's two-letter name draws nothing where a third letter would go:
    // only the dark box over the title shows there.
    for (int y = 110; y < 130; ++y)
      for (int x = 410; x < 420; ++x) {
        const std::uint32_t p = Pixel(x, y);
        EXPECT_LE(std::max({p >> 16 & 0xFF, p >> 8 & 0xFF, p & 0xFF}), 0x44u) << x << "," << y;
      }
  }
  ClickAt(300, 95);
  ASSERT_EQ(State(), kStateSingleStage);
  SetDrawing(false);
  SkipToPlay();
  SetDrawing(true);
  Frame();
  SaveFrame("status");
  // The best time and the limit (11:40.00) both beyond the digits.
  const int clamped[7] = {9, 10, 5, 9, 10, 9, 9};
  ExpectStatusTime(clamped, 530, 30);
  ExpectStatusTime(clamped, 530, 90);
  EXPECT_EQ(test::ReadFileBytes("score.dat"), stored);
}

TEST_F(PlayScene, TheContinueBoxLeavesTheShadeWholeForTheNextStart) {
  WriteOneStage(1);
  ASSERT_NO_FATAL_FAILURE(PlayFirstStageUndrawn());
  // Still until the second runs out; single-stage play has no life to spare.
  for (int n = 0; n < 400 && Play().GetPhase() != C_PlayLogic::kPhaseContinue; ++n) Frame();
  ASSERT_EQ(Play().GetPhase(), C_PlayLogic::kPhaseContinue);
  SetDrawing(true);
  MoveTo(200, 250);
  Frame();
  SaveFrame("continue");
  // The panel under the light shade, and under the box as well.
  EXPECT_TRUE(Near(Pixel(635, 475), Blend(0, 0x40, 0x404040), 2)) << std::hex << Pixel(635, 475);
  EXPECT_TRUE(Near(Pixel(485, 190), Blend(0, 0xC0, Blend(0, 0x40, 0x404040)), 2)) << std::hex << Pixel(485, 190);
  EXPECT_GT(TiledShare(RECT{0, 330, 480, 480}, 0x40), 0.95);

  ClickAt(200, 250);
  ASSERT_EQ(Play().GetPhase(), C_PlayLogic::kPhaseSetUp);
  MoveTo(C_PlayLogic::kSteerX, C_PlayLogic::kSteerY);
  for (int n = 0; n < 50 && !Play().IsStarted(); ++n) Frame();
  ASSERT_TRUE(Play().IsStarted());
  ASSERT_LT(Play().GetPhase(), C_PlayLogic::kPhasePlaying);
  Frame();
  SaveFrame("restart");
  // The start shade covers the whole field again, where the box was and
  // beyond it; the panel is drawn over it.
  EXPECT_GT(TiledShare(RECT{0, 0, 440, 140}, 0x60), 0.9);
  EXPECT_GT(TiledShare(RECT{0, 140, 480, 480}, 0x60), 0.9);
  EXPECT_EQ(Pixel(635, 475), 0x404040u);
}

TEST_F(PlayScene, PlayHoldsWhileTheWindowIsInactive) {
  WriteOneStage(60);
  ASSERT_NO_FATAL_FAILURE(PlayFirstStageUndrawn());
  // Steering to the right.
  MoveTo(C_PlayLogic::kSteerX + 30, C_PlayLogic::kSteerY);
  Frames(30);
  const DWORD elapsed = Play().GetElapsed();
  const float x = Play().GetBody().GetX();
  EXPECT_GT(elapsed, 400u);
  ASSERT_TRUE(platform::test::InputNow("deactivate"));
  Frames(60);
  EXPECT_FALSE(App().IsActive());
  EXPECT_EQ(Play().GetPhase(), C_PlayLogic::kPhasePlaying);
  EXPECT_LE(Play().GetElapsed(), elapsed + 20);
  EXPECT_LE(Play().GetBody().GetX(), x + 3.0f);
  ASSERT_TRUE(platform::test::InputNow("activate"));
  Frames(30);
  EXPECT_TRUE(App().IsActive());
  // The timer runs on from where it stopped: the inactive second is not counted.
  EXPECT_GT(Play().GetElapsed(), elapsed + 300);
  EXPECT_LT(Play().GetElapsed(), elapsed + 700);
  EXPECT_GT(Play().GetBody().GetX(), x + 3.0f);
}

// The field target goes on screen texel for pixel: its left column and top row
// show the floor like the columns and rows next to them, with nothing of the
// target's far side (beyond the screen, and here off the floor) blended in.
TEST_F(PlayScene, TheFieldsLeftColumnAndTopRowShowTheFloor) {
  StageSpec s;
  s.floors = {{700, 700, 1200, 1250}};
  s.startX = 1000;
  s.startY = 1000;
  s.goal = {1160, 1210, 1199, 1249};  // the floor's far corner, clear of the screen's edges
  s.path = {{2, 3}};
  WritePlayableStages({s});
  ASSERT_NO_FATAL_FAILURE(PlayFirstStageUndrawn());
  SetDrawing(true);
  Frame();
  SaveFrame("edges");
  const int sx = Play().GetScrollX();
  const int sy = Play().GetScrollY();
  ASSERT_EQ(sx, 760);
  ASSERT_EQ(sy, 760);
  // The floor covers the screen's field up to x 439 and down to its bottom;
  // the target's last column and row (field 1271) lie off it.
  const Image tile = Picture("check.png");
  int wrong = 0;
  for (int i = 0; i < 440; ++i) {
    for (const POINT p : {POINT{0, i}, POINT{i, 0}})
      if (!ShowsTile(tile, p.x + sx % 16, p.y + sy % 16, Pixel(p.x, p.y)) && ++wrong <= 5)
        ADD_FAILURE() << p.x << "," << p.y << ": " << std::hex << Pixel(p.x, p.y);
  }
  EXPECT_EQ(wrong, 0);
}

TEST(PlaySceneField, DriftingLinesAimAsFarLeftAsSixtyPixelsOffTheField) {
  // A seed whose first ten draws hold one below 60: its line aims left of
  // the field, not far to the right.
  std::uint32_t seed = 1;
  C_MersenneTwister probe;
  for (;; ++seed) {
    probe.Seed(seed);
    bool low = false;
    for (int i = 0; i < C_FieldDrawer::kLines; ++i) low |= probe.NextBelow(600) < 60;
    if (low) break;
  }
  g_Random.Seed(seed);
  C_MersenneTwister expected = g_Random;
  C_FieldDrawer field;
  field.SetMode(2);
  field.Draw();
  int left = 0;
  for (int i = 0; i < C_FieldDrawer::kLines; ++i) {
    const int target = static_cast<int>(expected.NextBelow(600)) - 60;
    const float velocity = static_cast<float>(std::clamp(target, -200, 200)) / 60.0f;
    EXPECT_FLOAT_EQ(field.GetLineVelocity(i), velocity) << i;
    EXPECT_FLOAT_EQ(field.GetLinePosition(i), velocity) << i;
    left += target < 0;
  }
  EXPECT_GE(left, 1);
  // No new aims until sixty frames have passed.
  for (int f = 1; f < 60; ++f) field.Draw();
  for (int i = 0; i < C_FieldDrawer::kLines; ++i) {
    EXPECT_NEAR(field.GetLinePosition(i), 60.0f * field.GetLineVelocity(i), 0.01f) << i;
    EXPECT_GE(field.GetLinePosition(i), -60.0f) << i;
    EXPECT_LE(field.GetLinePosition(i), 540.0f) << i;
  }
}

}  // namespace
}  // namespace nura::game_test

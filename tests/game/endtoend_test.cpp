// The whole game headless through its application object on the generated
// data: a course with a cleared stage, a lost stage, game over and name entry;
// a single-stage improvement; a completed course with its ending; ten
// thousand frames of play on a flat heap; a start without a display. Each run
// checks the state trace, the sounds, the score file, the absence of an error
// log, and the screen at checkpoints by pixel probes against the pictures as
// PIL decodes them; the checkpoint frames are written as PNG.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <malloc.h>
#include <sys/stat.h>

#include <cmath>
#include <filesystem>
#include <utility>

#include "tests/game/gameapp_fixture.h"
#include "tests/support/test_util.h"

namespace nura::game_test {
namespace {

using testing::ElementsAre;
using testing::ElementsAreArray;

struct Point {
  float x;
  float y;
};

class GameEndToEnd : public GameAppTest {
 protected:
  // Steers the body's reference point through the waypoints while the stage
  // is being played, for at most `frames` frames; the frames it took.
  int Steer(const std::vector<Point>& waypoints, int frames) {
    int n = 0;
    for (; n < frames && Play().GetPhase() == C_PlayLogic::kPhasePlaying; ++n) {
      const C_Body& body = Play().GetBody();
      const float rx = body.GetX() + 13.0f;
      const float ry = body.GetY() + 13.0f;
      while (m_nWaypoint + 1 < waypoints.size() &&
             std::hypot(waypoints[m_nWaypoint].x - rx, waypoints[m_nWaypoint].y - ry) < 24.0f)
        ++m_nWaypoint;
      const Point& w = waypoints[m_nWaypoint];
      const float dx = w.x - rx;
      const float dy = w.y - ry;
      const float distance = std::hypot(dx, dy);
      // A speed from which the body can still stop at the waypoint.
      const float speed = std::min(2.5f, std::sqrt(0.08f * distance));
      const float vx = distance > 0 ? dx / distance * speed : 0.0f;
      const float vy = distance > 0 ? dy / distance * speed : 0.0f;
      float ax = (vx - body.GetVX()) * 1000.0f;
      float ay = (vy - body.GetVY()) * 1000.0f;
      const float a = std::hypot(ax, ay);
      if (a > 48.0f) {
        ax *= 48.0f / a;
        ay *= 48.0f / a;
      }
      MoveTo(C_PlayLogic::kSteerX + static_cast<int>(std::lround(ax)),
             C_PlayLogic::kSteerY + static_cast<int>(std::lround(ay)));
      Frame();
    }
    return n;
  }

  // Steers off the floor's top edge until the miss sequence is over.
  void FallOffTop() {
    MoveTo(C_PlayLogic::kSteerX, C_PlayLogic::kSteerY - 45);
    for (int n = 0; n < 300 && Play().GetPhase() == C_PlayLogic::kPhasePlaying; ++n) Frame();
    ASSERT_EQ(Play().GetPhase(), C_PlayLogic::kPhaseFell);
    for (int n = 0; n < 100 && Play().GetPhase() == C_PlayLogic::kPhaseFell; ++n) Frame();
  }

  // The life icons on the status panel: body pictures 20 pixels apart from
  // (510, 160), counted while a slot's left 20 columns, which the next icon
  // leaves uncovered, show the picture.
  int LifeIcons() {
    const Image ball = Picture("ball01.png");
    auto shown = [&](int slot) {
      for (int v = 0; v < ball.height; ++v)
        for (int u = 0; u < 20; ++u)
          if (ball.Alpha(u, v) == 255 && Pixel(510 + 20 * slot + u, 160 + v) != ball.Rgb(u, v)) return false;
      return true;
    };
    int icons = 0;
    while (icons < 6 && shown(icons)) ++icons;
    return icons;
  }

  std::size_t m_nWaypoint = 0;
};

// Stage 1 of the data: two halls joined by a corridor at y 250 to 450; the
// goal lies in the second hall.
const std::vector<Point> kStage1Route = {{320.0f, 350.0f}, {1220.0f, 350.0f}};

TEST_F(GameEndToEnd, ACourseWithAClearedStageGameOverAndNameEntry) {
  Start();
  // A fresh score file, made as the game starts.
  EXPECT_EQ(test::ReadFileBytes("score.dat"), PythonScoreImage({}));

  // The logo at full strength.
  Frames(70);
  ASSERT_EQ(System().GetLogoLogic()->GetAlpha(), 255);
  SaveFrame("logo");
  {
    const std::vector<std::uint8_t> twin = test::ReadFileBytes("cg/Logo.grp");
    std::vector<std::uint8_t> png = twin;
    for (std::size_t i = 0; i < png.size() && i < 256; ++i) png[i] ^= static_cast<std::uint8_t>(i);
    test::WriteFileBytes("logo_plain.png", png);
    const Image logo = LoadPng("logo_plain.png");
    ASSERT_EQ(logo.width, 256);
    EXPECT_GT(ExpectOpaqueTexels(logo, RECT{0, 0, logo.width, logo.height}, 192, 112), 1000);
    EXPECT_EQ(Pixel(100, 300), 0u) << "black around the logo";
  }
  Frames(2);
  ClickAt(320, 240);
  ASSERT_TRUE(RunWhileState(kStateLogo, 100));

  // The title with the measured rate in the window's title and in the corner.
  Frames(60);
  const std::string windowTitle = platform::test::MainWindow().title;
  EXPECT_TRUE(windowTitle == "[ FPS : 060/s ]" || windowTitle == "[ FPS : 058/s ]" ||
              windowTitle == "[ FPS : 062/s ]")
      << windowTitle;
  int yellow = 0;
  for (int y = 0; y < 20; ++y)
    for (int x = 0; x < 64; ++x) yellow += Pixel(x, y) == 0xFFFF00u;
  EXPECT_GT(yellow, 20) << "the rate text in the corner";
  ASSERT_EQ(Title().GetSubState(), C_TitleLogic::kWaiting);
  EXPECT_EQ(Pixel(300, 330), 0x8080FFu) << "no menu box before the click";
  EXPECT_EQ(Pixel(350, 150), 0x8080FFu) << "no menu box before the click";

  // The menu with its first row hovered.
  OpenMenu();
  MoveTo(320, 190);
  Frame();
  ASSERT_EQ(Title().GetCursor(), 1);
  SaveFrame("menu");
  {
    const Image strings = Picture("TitleString.png");
    EXPECT_GT(ExpectOpaqueTexels(strings, RECT{0, 28, 256, 55}, 220, 170), 200) << "the hovered row";
    EXPECT_GT(ExpectOpaqueTexels(strings, RECT{0, 56, 256, 83}, 220, 270), 200) << "the plain row";
    int differ = 0;
    for (int v = 0; v < 27; ++v)
      for (int u = 0; u < 256; ++u) differ += Pixel(220 + u, 170 + v) != strings.Rgb(u, v) && strings.Alpha(u, v) == 255;
    EXPECT_GT(differ, 100) << "the first row is not drawn plain";
  }

  ChooseCourse(1);
  // The hand-over frame: the stage has not started, so only the rate shows.
  for (int y = 0; y < 480; y += 3)
    for (int x = 0; x < 640; x += 3) {
      if (x > 80 || y > 24) {
        ASSERT_EQ(Pixel(x, y), 0u) << x << "," << y;
      }
    }

  // Stage 1, steered to its goal.
  SetDrawing(false);
  SkipToPlay();
  Steer(kStage1Route, 150);
  SetDrawing(true);
  Steer(kStage1Route, 1);
  ASSERT_EQ(Play().GetPhase(), C_PlayLogic::kPhasePlaying);
  SaveFrame("play");
  {
    // The tile shows where floors are and nowhere else in the field, away
    // from the body and its waves.
    const Image tile = Picture("check.png");
    const int sx = Play().GetScrollX();
    const int sy = Play().GetScrollY();
    const std::vector<RECT>& floors = Play().GetFloorData().GetFloors();
    const float bx = Play().GetBody().GetX() - static_cast<float>(sx);
    const float by = Play().GetBody().GetY() - static_cast<float>(sy);
    int onFloor = 0, tiled = 0, offFloor = 0, offTiled = 0;
    for (int y = 0; y < 480; y += 2)
      for (int x = 0; x < 480; x += 2) {
        if (std::hypot(x - bx, y - by) < 100.0f) continue;
        const int fx = x + sx;
        const int fy = y + sy;
        bool floor = false, edge = false;
        for (const RECT& f : floors) {
          floor |= fx >= f.left && fx < f.right && fy >= f.top && fy < f.bottom;
          edge |= fx >= f.left - 2 && fx < f.right + 2 && fy >= f.top - 2 && fy < f.bottom + 2;
        }
        const bool match = ShowsTile(tile, x + sx % 16, y + sy % 16, Pixel(x, y));
        if (floor) {
          ++onFloor;
          tiled += match;
        } else if (!edge) {
          ++offFloor;
          offTiled += match;
        }
      }
    EXPECT_GT(onFloor, 5000);
    EXPECT_GT(offFloor, 1000);
    EXPECT_GE(tiled, onFloor * 98 / 100);
    EXPECT_LE(offTiled, offFloor / 10);

    // The limit (0:45:00) among the status digits, over the grey panel.
    const Image digits = Picture("number.png");
    const int limit[7] = {0, 10, 4, 5, 10, 0, 0};
    int glyphPixels = 0;
    for (int i = 0; i < 7; ++i)
      for (int v = 0; v < 19; ++v)
        for (int u = 0; u < 9; ++u) {
          const int a = digits.Alpha(10 * limit[i] + u, v);
          const std::uint32_t want = Blend(digits.Rgb(10 * limit[i] + u, v), a, 0x404040);
          EXPECT_TRUE(Near(Pixel(530 + 10 * i + u, 90 + v), want, 2)) << i << ": " << u << "," << v;
          glyphPixels += a > 128;
        }
    EXPECT_GT(glyphPixels, 50);
  }
  SetDrawing(false);
  Steer(kStage1Route, 2000);
  ASSERT_EQ(Play().GetPhase(), C_PlayLogic::kPhaseGoal);
  const DWORD stage1Time = Play().GetElapsed();
  EXPECT_GT(stage1Time, 4000u);
  EXPECT_LT(stage1Time, 12000u);
  HurryClear();
  ASSERT_EQ(Play().GetStage(), 2);

  // Stage 2: off the floor five times, with an icon for each life left; the
  // continue is declined.
  for (int miss = 0; miss < 5; ++miss) {
    SkipToPlay();
    SetDrawing(true);
    Frame();
    EXPECT_EQ(LifeIcons(), 4 - miss);
    SetDrawing(false);
    FallOffTop();
    EXPECT_EQ(Play().GetLives(), 3 - miss);
  }
  ASSERT_EQ(Play().GetPhase(), C_PlayLogic::kPhaseContinue);
  SetDrawing(true);
  MoveTo(400, 250);
  Frame();
  SaveFrame("continue");
  ClickAt(400, 250);
  ASSERT_EQ(State(), kStateGameOver);
  Frames(30);
  SaveFrame("gameover");
  EXPECT_EQ(Pixel(320, 100), 0x1E1E1Eu) << "the fade after 30 frames";
  ClickAt(300, 300);
  ASSERT_EQ(State(), kStateNameEntry);

  // Name entry: two letters, then the third.
  Frame();
  ClickAt(C_NameEntryLogic::GetKeyX(0) + 25, C_NameEntryLogic::GetKeyY(0) + 48);
  Frame();
  ClickAt(C_NameEntryLogic::GetKeyX(1) + 25, C_NameEntryLogic::GetKeyY(1) + 48);
  Frames(10);
  SaveFrame("nameentry");
  {
    const Image letters = Picture("NameEntry.png");
    EXPECT_GT(ExpectOpaqueTexels(letters, RECT{0, 0, 47, 95}, 225, 20), 300) << "A in the first slot";
    EXPECT_GT(ExpectOpaqueTexels(letters, RECT{48, 0, 95, 95}, 295, 20), 300) << "B in the second slot";
    for (int y = 20; y < 115; y += 4)
      for (int x = 365; x < 412; x += 4) EXPECT_EQ(Pixel(x, y), 0x80FF80u) << "the third slot is empty";
  }
  ClickAt(C_NameEntryLogic::GetKeyX(2) + 25, C_NameEntryLogic::GetKeyY(2) + 48);
  Frame();
  ClickAt(570, 390);
  ASSERT_EQ(State(), kStateTitle);
  Frame();

  EXPECT_THAT(m_Trace, ElementsAre(1, 2, 4, 5, 7, 2));
  EXPECT_THAT(SoundsPlayed(),
              ElementsAreArray({"cursor08", "cursor08", "cursor08", "crash17", "chari08", "noise01", "don11", "don11",
                                "don11", "don11", "don11", "cursor04", "cursor04", "cursor04", "cursor08"}));
  EXPECT_FALSE(std::filesystem::exists("ErrorLog.txt"));
  const std::vector<std::uint8_t> score = test::ReadFileBytes("score.dat");
  EXPECT_EQ(score.size(), 880u);
  EXPECT_EQ(score, PythonScoreImage({{1, static_cast<int>(stage1Time), "ABC"}}));
}

TEST_F(GameEndToEnd, ASingleStageImprovementOverwritesOnlyItsSlot) {
  const std::vector<SlotValue> before = {{1, 40000, "QQQ"}, {2, 7000, "RRR"}, {13, 5000, "AB"}};
  test::WriteFileBytes("score.dat", PythonScoreImage(before, "Q"));
  Start();
  SkipLogo();
  OpenMenu();
  OpenStageList();
  MoveTo(300, 95);
  Frame();
  ASSERT_EQ(Title().GetCursor(), 1);
  SaveFrame("stagelist");
  {
    // Glyph cells of the sheet, as DrawStageRow places them.
    const Image glyphs = Picture("number.png");
    auto cell = [](int column, int row) { return RECT{10 * column, 20 * row, 10 * (column + 1), 20 * (row + 1)}; };
    // The hovered row (stage 1, "QQQ"): highlighted glyphs, full strength.
    EXPECT_GT(ExpectOpaqueTexels(glyphs, cell(3, 5), 390, 80), 5) << "Q highlighted";
    EXPECT_GT(ExpectOpaqueTexels(glyphs, cell(5, 5), 140, 80), 5) << "S highlighted";
    // A row with a record (stage 2, "RRR"): plain glyphs, full strength.
    EXPECT_GT(ExpectOpaqueTexels(glyphs, cell(4, 2), 390, 110), 5) << "R plain";
    // A row without one (stage 3, the creation name "QZX"): dimmed over the box.
    const std::uint32_t box = Pixel(440, 145);
    int dimmed = 0;
    for (int v = 0; v < 20; ++v)
      for (int u = 0; u < 10; ++u) {
        if (glyphs.Alpha(30 + u, 40 + v) != 255) continue;
        ++dimmed;
        EXPECT_TRUE(Near(Pixel(390 + u, 140 + v), Blend(glyphs.Rgb(30 + u, 40 + v), 96, box), 3)) << u << "," << v;
      }
    EXPECT_GT(dimmed, 5);
  }
  ClickAt(300, 95);
  ASSERT_EQ(State(), kStateSingleStage);
  EXPECT_EQ(Play().GetStage(), 1);

  SetDrawing(false);
  SkipToPlay();
  Steer(kStage1Route, 2000);
  ASSERT_EQ(Play().GetPhase(), C_PlayLogic::kPhaseGoal);
  const DWORD time = Play().GetElapsed();
  ASSERT_LT(time, 40000u);
  Frames(62);
  ClickAt(300, 300);
  SetDrawing(true);
  Frames(12);
  SaveFrame("clear");
  {
    // The stage's time in large digits on the score screen.
    const Image big = Picture("BigNumber.png");
    const C_MessageItem& line = Play().GetMessageItem(C_PlayLogic::kItemTimeLine);
    ASSERT_TRUE(line.shown);
    const std::uint32_t seconds = time % 60000 / 1000;
    EXPECT_GT(ExpectOpaqueTexels(big, RECT{30 * static_cast<LONG>(seconds), 0, 30 * static_cast<LONG>(seconds) + 29, 39},
                                 line.x + 90, line.y),
              20);
  }
  ClickAt(300, 300);
  Frame();
  ASSERT_EQ(State(), kStateNameEntry);
  EnterName("XY");
  ASSERT_EQ(State(), kStateTitle);
  Frame();

  EXPECT_THAT(m_Trace, ElementsAre(1, 2, 3, 7, 2));
  EXPECT_FALSE(std::filesystem::exists("ErrorLog.txt"));
  EXPECT_EQ(test::ReadFileBytes("score.dat"),
            PythonScoreImage({{1, static_cast<int>(time), "XY"}, {2, 7000, "RRR"}, {13, 5000, "AB"}}, "Q"));
  // The title shows the new record.
  EXPECT_EQ(Title().GetStageRecord(1), static_cast<int>(time));
  EXPECT_STREQ(Title().GetStageName(1), "XY");
}

TEST_F(GameEndToEnd, ClearingTheFirstCourseRunsTheEndingAndOpensTheSecond) {
  // Course 1 on stages that clear at once: each starts in its goal.
  std::vector<StageSpec> stages;
  for (int n = 1; n <= 8; ++n) {
    StageSpec s;
    s.number = n;
    s.floors = {{0, 0, 1000, 1000}};
    s.startX = 100 + 10 * n;
    s.startY = 100;
    s.goal = {113 + 10 * n, 113, 113 + 10 * n, 113};
    s.path = {{2, 3}};
    stages.push_back(s);
  }
  WritePlayableStages(stages);
  Start();
  SkipLogo();
  OpenMenu();
  SetDrawing(false);
  ChooseCourse(1);
  std::vector<SlotValue> records;
  for (int n = 1; n <= 8; ++n) {
    ASSERT_EQ(Play().GetStage(), n);
    SkipToPlay();
    Frame();
    ASSERT_EQ(Play().GetPhase(), C_PlayLogic::kPhaseGoal) << "stage " << n;
    records.push_back({n, static_cast<int>(Play().GetElapsed()), "Z"});
    HurryClear();
  }
  ASSERT_EQ(State(), kStateEnding);
  EXPECT_EQ(test::ReadFileBytes("score.dat")[5], 'Q') << "course flag 0 is stored at once";

  // The ending, three times as fast with the button held.
  SetDrawing(true);
  MoveTo(320, 240);
  Press();
  Frames(30);
  SaveFrame("ending");
  {
    // The first scene's pictures rest at (192, 120): the "a" picture shows
    // through the "b" picture of alpha 1.
    const C_EndingLogic& ending = *System().GetEndingLogic();
    ASSERT_EQ(ending.GetX(10), 192);
    ASSERT_EQ(ending.GetAlpha(11), 1);
    const Image a = Picture("Ending_01a.png");
    int opaque = 0;
    for (int v = 0; v < a.height; v += 2)
      for (int u = 0; u < a.width; u += 2) {
        if (a.Alpha(u, v) != 255) continue;
        ++opaque;
        ASSERT_TRUE(Near(Pixel(192 + u, 120 + v), a.Rgb(u, v), 2)) << u << "," << v;
      }
    EXPECT_GT(opaque, 1000);
  }
  SetDrawing(false);
  Frames(195);
  SetDrawing(true);
  Frames(5);
  SaveFrame("closing");
  EXPECT_EQ(Pixel(320, 60), 0xFFFFFFu) << "the white veil";
  ASSERT_TRUE(RunWhileState(kStateEnding, 200));
  Release();
  ASSERT_EQ(State(), kStateNameEntry);
  Frame();
  EnterName("Z");
  ASSERT_EQ(State(), kStateTitle);

  // The second course can be chosen now.
  OpenMenu();
  ClickAt(320, 190);
  for (int n = 0; n < 100 && Title().GetSubState() != C_TitleLogic::kCourses; ++n) Frame();
  ASSERT_EQ(Title().GetSubState(), C_TitleLogic::kCourses);
  EXPECT_EQ(Title().GetCourseCount(), 2);
  MoveTo(320, 250);
  Frame();
  EXPECT_EQ(Title().GetCursor(), 2);
  SaveFrame("courses");
  const Image courses = Picture("TitleString2.png");
  EXPECT_GT(ExpectOpaqueTexels(courses, RECT{0, 0, 256, 27}, 230, 170), 200) << "course 1";
  EXPECT_GT(ExpectOpaqueTexels(courses, RECT{0, 84, 256, 111}, 230, 230), 200) << "course 2, hovered";

  EXPECT_THAT(m_Trace, ElementsAre(1, 2, 4, 6, 7, 2));
  EXPECT_FALSE(std::filesystem::exists("ErrorLog.txt"));
  EXPECT_EQ(test::ReadFileBytes("score.dat"), PythonScoreImage(records, "Q"));
}

// The game program started without a display it can use, and without asking
// for a headless run, ends at once through its own failed start with a status
// a launcher can tell from a normal quit, and says why.
TEST(GameEndToEndProgram, WithoutADisplayItEndsAtOnceAndSaysWhy) {
  // No X server listens at display 4093 (nor a Wayland one without its folder).
  ASSERT_FALSE(std::filesystem::exists("/tmp/.X11-unix/X4093"));
  const struct {
    const char* env;
    const char* reason;
  } cases[] = {
      {"", "neither DISPLAY nor WAYLAND_DISPLAY is set"},
      {"DISPLAY=:4093", "no display answered at the address DISPLAY names (\":4093\")"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.env);
    GameFolder dir;
    std::string output;
    const std::string cmd =
        "timeout 120 env -u DISPLAY -u WAYLAND_DISPLAY -u XDG_RUNTIME_DIR -u PLATFORM_BACKEND -u SDL_VIDEODRIVER " +
        std::string(c.env) + " '" + NURA_GAME_PROGRAM + "' 2>&1";
    EXPECT_EQ(test::RunCommand(cmd, &output), 1) << output;
    EXPECT_NE(output.find(std::string("platform: no display could be opened (") + c.reason + ")"), std::string::npos)
        << output;
    EXPECT_FALSE(std::filesystem::exists("score.dat")) << "a start that fails makes no score file";
  }
}

// A processor profile the platform does not know ends the game (started in a
// copy of its data) at its first processor query with the names it knows,
// rather than running on the host's.
TEST_F(GameEndToEnd, AnUnknownProcessorProfileEndsTheGameWithTheKnownNames) {
  std::string output;
  const std::string cmd = "timeout 120 env PLATFORM_BACKEND=headless PLATFORM_CPU=pentium4 '" +
                          std::string(NURA_GAME_PROGRAM) + "' 2>&1";
  EXPECT_EQ(test::RunCommand(cmd, &output), 2) << output;
  EXPECT_NE(output.find("platform: PLATFORM_CPU=pentium4 names no processor profile; the profiles are host, none, "
                        "mmx, sse, sse2, k6-3dnow, athlon, athlon-xp, athlon64\n"),
            std::string::npos)
      << output;
}

// In a folder the game may not write, a record that cannot be saved is
// reported on standard error, since the error log cannot be made there either,
// and the game goes on with the record in memory.
TEST_F(GameEndToEnd, InAReadOnlyFolderALostRecordIsReportedOnStandardErrorAndPlayGoesOn) {
  StageSpec stage;  // starts in its goal
  stage.floors = {{0, 0, 1000, 1000}};
  stage.startX = 110;
  stage.startY = 100;
  stage.goal = {123, 113, 123, 113};
  stage.path = {{2, 3}};
  WritePlayableStages({stage});
  // The stage list offers stages with a record.
  const std::vector<std::uint8_t> before = PythonScoreImage({{1, 40000, "QQQ"}});
  test::WriteFileBytes("score.dat", before);
  Start();
  chmod("score.dat", 0444);
  chmod(".", 0555);
  struct Writable {
    ~Writable() { chmod(".", 0700); }
  } writable;
  test::AsNobody nobody;

  SetDrawing(false);
  SkipLogo();
  OpenMenu();
  ChooseStage(0, 0);
  SkipToPlay();
  Frame();
  ASSERT_EQ(Play().GetPhase(), C_PlayLogic::kPhaseGoal);
  const int time = static_cast<int>(Play().GetElapsed());
  HurryClear();
  testing::internal::CaptureStderr();
  EnterName("AB");
  Frames(30);
  const std::string err = testing::internal::GetCapturedStderr();
  EXPECT_THAT(m_Trace, ElementsAre(1, 2, 3, 7, 2));
  EXPECT_THAT(err, testing::StartsWith("ErrorLog.txt could not be written (ERROR_ACCESS_DENIED): "));
  EXPECT_THAT(err,
              testing::HasSubstr(" : score.dat could not be written: ERROR_ACCESS_DENIED (5) Access is denied.\n"));
  EXPECT_FALSE(std::filesystem::exists("ErrorLog.txt"));
  EXPECT_EQ(test::ReadFileBytes("score.dat"), before);

  // The game plays on: the stage starts again with the new record to beat.
  OpenMenu();
  ChooseStage(0, 0);
  SkipToPlay();
  EXPECT_EQ(Play().GetFloorData().GetBestTime(), time);
  EXPECT_STREQ(Play().GetFloorData().GetBestName(), "AB");
}

#if defined(__SANITIZE_ADDRESS__)
// The sanitizer's allocator interface (gcc ships no header for it).
extern "C" std::size_t __sanitizer_get_current_allocated_bytes();
#endif

// Bytes the program holds on the heap. The sanitizer build's allocator stands
// in for malloc's, which mallinfo2 then does not see.
std::size_t HeapBytes() {
#if defined(__SANITIZE_ADDRESS__)
  return __sanitizer_get_current_allocated_bytes();
#else
  return mallinfo2().uordblks;
#endif
}

// Ten thousand frames of play, every one drawn, round and round a large floor
// past moving enemies: nothing the platform keeps for tests, nor anything
// else, grows with the frames.
TEST_F(GameEndToEnd, LongPlayKeepsTheHeapFlat) {
  WritePlayableStages({{.floors = {{0, 0, 2400, 2400}},
                .startX = 1200,
                .startY = 1200,
                .goal = {40, 40, 80, 80},
                .limit = 999,
                .enemies = {{2, 150, 3, 400, 400}, {1, 300, 20, 1800, 300}},
                .path = {{2, 3}}}});
  test::WriteFileBytes("score.dat", PythonScoreImage({{1, 40000, "QQQ"}}));
  std::vector<Point> laps;
  for (int lap = 0; lap < 60; ++lap)
    for (const Point& p : {Point{1600, 1200}, Point{1600, 1600}, Point{800, 1600}, Point{800, 800}, Point{1200, 800}})
      laps.push_back(p);
  Start();
  SetDrawing(false);
  SkipLogo();
  OpenMenu();
  ChooseStage(0, 0);
  SkipToPlay();
  SetDrawing(true);

  // 1,000 then 9,000 frames with NURA_LONG=1; a share of them otherwise.
  const int warmUp = test::LongOrShare(1000, 200), more = test::LongOrShare(9000, 1300);
  ASSERT_EQ(Steer(laps, warmUp), warmUp);
  const std::size_t early = HeapBytes();
  ASSERT_EQ(Steer(laps, more), more);
  const std::size_t late = HeapBytes();
  RecordProperty("heap_bytes_after_" + std::to_string(warmUp) + "_frames", std::to_string(early));
  RecordProperty("heap_bytes_after_" + std::to_string(warmUp + more) + "_frames", std::to_string(late));
  EXPECT_GT(m_nWaypoint, std::size_t(test::LongOrShare(20, 4))) << "the body went round";
  EXPECT_LE(late, early + 64 * 1024) << early << " bytes after " << warmUp << " frames, " << late << " after "
                                     << warmUp + more;
  EXPECT_TRUE(platform::test::DebugSetMuteCalls().empty());
}

}  // namespace
}  // namespace nura::game_test

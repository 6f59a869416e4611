// The paths a player meets when something goes wrong: the display goes away,
// the program is asked to end, data files are missing or damaged (the stage
// tables' damage in stagetables_test.cpp), records cannot be saved, and the
// tune comes round to its start. Each ends the program as it must or tells the
// player, and none is silent.
#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>

#include <unistd.h>

#include <cmath>
#include <filesystem>
#include <fstream>
#include <functional>
#include <sstream>

#include "platform/testing.h"
#include "platform/win_kernel.h"
#include "qel/appbase/qeldeviceresource.h"
#include "game/datafolder.h"
#include "tests/game/failurepaths_fixture.h"
#include "tests/support/outside_input.h"
#include "tests/platform/audio_files.h"

namespace nura::game_test {
namespace {

using testing::ElementsAre;
using testing::HasSubstr;

// The display connection closed at its other end (an X server that went
// away): the program ends within a second with status 1, says why, and
// leaves the score file it made at the start whole.
TEST_F(GameFailurePaths, ALostDisplayEndsTheProgramWithinASecond) {
  auto child = StartProgram(true);
  child->MarkTime();
  child->ClosePipe();
  ASSERT_TRUE(child->WaitForEnd(30)) << child->Output();
  EXPECT_LT(child->SecondsToEnd(), 1.0);
  ASSERT_TRUE(WIFEXITED(child->Status())) << child->Status();
  EXPECT_EQ(WEXITSTATUS(child->Status()), 1);
  EXPECT_THAT(child->Output(), HasSubstr("platform: the display connection was lost (the headless display's "
                                         "descriptor 3 was closed at its other end); the program ends at once.\n"));
  EXPECT_EQ(test::ReadFileBytes("score.dat"), PythonScoreImage({}));
}

// SIGTERM and SIGINT close the window: the game ends as Escape ends it.
TEST_F(GameFailurePaths, SigtermAndSigintEndARunningGameAsEscapeDoes) {
  for (const int sig : {SIGTERM, SIGINT}) {
    SCOPED_TRACE(sig);
    auto child = StartProgram();
    child->MarkTime();
    child->Signal(sig);
    ASSERT_TRUE(child->WaitForEnd(30)) << child->Output();
    EXPECT_LT(child->SecondsToEnd(), 10.0);
    ASSERT_TRUE(WIFEXITED(child->Status())) << child->Status();
    EXPECT_EQ(WEXITSTATUS(child->Status()), 0) << child->Output();
  }
}

// Without its tables or the pictures of the body, the floors or the title the
// game cannot be played: one box names what is missing and where, the
// program ends with 1 before its loop, and no score file is made. Each file
// is also named in the error log and on stderr with the system's reason.
TEST_F(GameFailurePaths, DataTheGameCannotBePlayedWithoutStopsItsStart) {
  const struct {
    const char* what;
    void (*damage)();
    const char* named;               // in the box
    std::string reason;              // the line in the error log
  } cases[] = {
      {"no floor table", [] { std::filesystem::remove("Floor.dat"); }, "Floor.dat",
       "Floor.dat could not be opened: " + kNotFound},
      {"an empty stage table", [] { test::WriteFileText("StageData.dat", ""); }, "StageData.dat",
       "StageData.dat holds no rows"},
      {"an empty floor table", [] { test::WriteFileText("Floor.dat", ""); }, "Floor.dat", "Floor.dat holds no rows"},
      {"no body picture",
       [] {
         std::filesystem::remove("cg/ball01.png");
         std::filesystem::remove("cg/ball01.grp");
       },
       "cg/ball01.png", "cg/ball01.png could not be opened (nor its scrambled form cg/ball01.grp): " + kNotFound},
      {"a floor tile cut short",
       [] {
         std::vector<std::uint8_t> png = test::ReadFileBytes("cg/check.png");
         png.resize(png.size() / 2);
         test::WriteFileBytes("cg/check.png", png);
       },
       "cg/check.png", "cg/check.png could not be read as a picture: "},
      {"a title picture that is a folder",
       [] {
         std::filesystem::remove("cg/title.png");
         std::filesystem::create_directory("cg/title.png");
       },
       "cg/title.png", "cg/title.png could not be opened: ERROR_DIRECTORY (267)"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    GameFolder folder;
    PrepareAnotherStart(folder);
    c.damage();
    testing::internal::CaptureStderr();
    EXPECT_EQ(RunWinMain(), 1);
    const std::string err = testing::internal::GetCapturedStderr();
    EXPECT_FALSE(std::filesystem::exists("score.dat"));
    EXPECT_THAT(ErrorLogTexts(), ElementsAre(testing::StartsWith(c.reason)));
    EXPECT_THAT(err, testing::StartsWith(c.reason));
    const auto& records = platform::test::MessageBoxRecords();
    ASSERT_EQ(records.size(), 1u);
    EXPECT_EQ(records.back().caption, "ぬらもぺい");
    EXPECT_EQ(records.back().text, "ぬらもぺい cannot be played: these files of its data folder\n" + folder.path() +
                                       "\nare missing or damaged:\n\n    " + c.named +
                                       "\n\nErrorLog.txt there, and standard error, say why.");
  }
}

// Started in a folder without its data, it says where it looked and which
// folder it expected, and ends with 1; the program itself says it on stderr,
// in one line instead of one per file, and leaves no error log in a folder
// that is not the game's. On a desktop a box says it too; headless, where no
// box is seen, the line is all it says. Where no display opens at all, the
// start ends before the folder is looked at: the display's line is all.
TEST_F(GameFailurePaths, StartedOutsideItsDataFolderItNamesTheFolderItExpected) {
  GameFolder elsewhere;
  platform::test::SetHeadlessMonitors(1);
  const std::size_t boxes = platform::test::MessageBoxRecords().size();
  testing::internal::CaptureStderr();
  EXPECT_EQ(RunWinMain(), 1);
  const std::string line = "ぬらもぺい: none of its data is in " + elsewhere.path() +
                           ", the folder it was started from (52 files could not be opened); start it from " +
                           DataDir() + "\n";
  EXPECT_EQ(testing::internal::GetCapturedStderr(), line);
  EXPECT_FALSE(std::filesystem::exists("ErrorLog.txt"));
  const std::string text = std::string("ぬらもぺい found none of its data in the folder it was started from:\n") +
                           elsewhere.path() +
                           "\n\nStart it from its data folder, the one that holds cg/, SE/, StageData.dat and "
                           "Floor.dat:\n" + DataDir();
  ASSERT_EQ(platform::test::MessageBoxRecords().size(), boxes + 1);
  EXPECT_EQ(platform::test::MessageBoxRecords().back().text, text);
  EXPECT_FALSE(std::filesystem::exists("score.dat"));

  ChildProgram child(NURA_GAME_PROGRAM, {"PLATFORM_BACKEND=headless", kLeakSuppressions}, {});
  ASSERT_TRUE(child.WaitForEnd(120)) << child.Output();
  EXPECT_TRUE(WIFEXITED(child.Status()) && WEXITSTATUS(child.Status()) == 1) << child.Status();
  EXPECT_EQ(child.Output(), line);
  EXPECT_FALSE(std::filesystem::exists("score.dat"));
  EXPECT_FALSE(std::filesystem::exists("ErrorLog.txt"));

  ChildProgram undisplayed(NURA_GAME_PROGRAM, {kLeakSuppressions},
                           {"DISPLAY", "WAYLAND_DISPLAY", "XDG_RUNTIME_DIR", "PLATFORM_BACKEND", "SDL_VIDEODRIVER"});
  ASSERT_TRUE(undisplayed.WaitForEnd(120)) << undisplayed.Output();
  EXPECT_TRUE(WIFEXITED(undisplayed.Status()) && WEXITSTATUS(undisplayed.Status()) == 1) << undisplayed.Status();
  EXPECT_THAT(undisplayed.Output(), testing::MatchesRegex("platform: no display could be opened \\([^\n]*\n"));
  EXPECT_FALSE(std::filesystem::exists("ErrorLog.txt"));
}

// The build's data folder is named to a player only while it holds the data.
TEST(GameDataFolder, IsNamedOnlyWhileItHoldsTheData) {
  GameFolder dir;
  std::filesystem::create_directory("full");
  test::WriteFileText("full/StageData.dat", "1,4,1,2,3\r\n");
  std::filesystem::create_directory("empty");
  std::filesystem::create_directories("folder/StageData.dat");
  EXPECT_EQ(FolderIfItHoldsTheData(dir / "full"), dir / "full");
  EXPECT_EQ(FolderIfItHoldsTheData(dir / "empty"), "");
  EXPECT_EQ(FolderIfItHoldsTheData(dir / "folder"), "") << "a folder of that name is no table";
  EXPECT_EQ(FolderIfItHoldsTheData(dir / "gone"), "");
  EXPECT_EQ(FolderIfItHoldsTheData(""), "") << "not the working folder";
  EXPECT_EQ(BuiltDataFolder(), NURA_GAMEDATA_DIR);
}

using GameDataCopy = GameAppTest;

// The tests' copy of a data folder someone has played in leaves out what play
// wrote there: the game starts fresh, with no record, no course opened and an
// empty error log.
TEST_F(GameDataCopy, AFolderPlayedInGivesAFreshGame) {
  test::WriteFileBytes("score.dat", PythonScoreImage({{1, 40000, "QQQ"}, {12, 50000, "RRR"}}, "QZ"));
  test::WriteFileText("score.dat.bad", "older");
  test::WriteFileText("score.dat.bad.1", "older still");
  test::WriteFileText("ErrorLog.txt", "2024/01/01 00:00:00 : SE/cursor08.wav could not be opened\r\n");
  const std::string played = m_Dir.path();
  GameFolder copy;
  CopyGameData(played, copy.path());
  for (const char* name : {"score.dat", "score.dat.bad", "score.dat.bad.1", "ErrorLog.txt"})
    EXPECT_FALSE(std::filesystem::exists(name)) << name;
  for (const char* name : {"StageData.dat", "Floor.dat", "Fjord.mp3", "cg/title.png", "SE/cursor08.wav"})
    EXPECT_EQ(test::ReadFileBytes(name), test::ReadFileBytes(played + "/" + name)) << name;
  Start();
  SetDrawing(false);
  SkipLogo();
  OpenMenu();
  OpenStageList();
  for (int stage = 1; stage <= 20; ++stage) EXPECT_EQ(Title().GetStageRecord(stage), 0) << stage;
  for (int course = 0; course < 3; ++course) EXPECT_FALSE(Title().GetCourseFlag(course)) << course;
  EXPECT_EQ(test::ReadFileBytes("score.dat"), PythonScoreImage({}));
  EXPECT_TRUE(ErrorLogTexts().empty());
  Stop();  // before the working folder goes back to the played one
}

// A damaged score file is named, kept aside under a free name and replaced by
// a fresh table; the game starts.
TEST_F(GameFailurePaths, ADamagedScoreFileIsKeptAsideAndAFreshTableIsUsed) {
  std::vector<std::uint8_t> random(880);
  for (std::size_t i = 0; i < random.size(); ++i) random[i] = static_cast<std::uint8_t>(i * 131 + 7);
  test::WriteFileBytes("score.dat", random);
  test::WriteFileText("score.dat.bad", "older");
  testing::internal::CaptureStderr();
  Start();
  const std::string line =
      "score.dat is damaged: its header is wrong; it is kept as score.dat.bad.1 and a fresh table is used";
  EXPECT_EQ(testing::internal::GetCapturedStderr(), line + "\n");
  EXPECT_THAT(ErrorLogTexts(), ElementsAre(line));
  EXPECT_EQ(test::ReadFileBytes("score.dat.bad.1"), random);
  EXPECT_EQ(test::ReadFileBytes("score.dat.bad"), std::vector<std::uint8_t>({'o', 'l', 'd', 'e', 'r'}));
  EXPECT_EQ(test::ReadFileBytes("score.dat"), PythonScoreImage({}));
  EXPECT_TRUE(platform::test::MessageBoxRecords().empty());
}

// Stages 1 and 2, each starting in its goal, each with a record of 900 s to
// beat: the two rows of the stage list.
void WriteTwoStagesStartingInTheirGoals() {
  std::vector<StageSpec> stages(2);
  for (int n = 1; n <= 2; ++n) {
    StageSpec& stage = stages[n - 1];
    stage.number = n;
    stage.floors = {{0, 0, 1000, 1000}};
    stage.startX = 110;
    stage.startY = 100;
    stage.goal = {123, 113, 123, 113};
    stage.path = {{2, 3}};
  }
  WritePlayableStages(stages);
  test::WriteFileBytes("score.dat", PythonScoreImage({{1, 900000, "QQQ"}, {2, 900000, "QQQ"}}));
}

// score.dat read only, to a player without root's rights, while this lives;
// the folder stays writable so that the error log can be made.
struct ScoreFileReadOnly {
  // Made (and put back) with root's rights, before m_Nobody takes them.
  struct Modes {
    Modes() {
      chmod("score.dat", 0444);
      chmod(".", 0777);
    }
    ~Modes() { chmod(".", 0700); }
  } m_Modes;
  test::AsNobody m_Nobody;
};

// A missing sound effect or tune is named once however often it is played,
// and the game plays on, silent where the file is missing.
TEST_F(GameFailurePaths, AMissingEffectOrTuneIsNamedOnceAndPlayGoesOn) {
  std::filesystem::remove("SE/cursor08.wav");
  std::filesystem::remove("Fjord.mp3");
  WriteTwoStagesStartingInTheirGoals();
  Start();
  SetDrawing(false);
  testing::internal::CaptureStderr();
  SkipLogo();
  ClearBothStagesWithNewRecords();
  const std::vector<std::string> lines = {"SE/cursor08.wav could not be opened: " + kNotFound,
                                          "Fjord.mp3 could not be opened: " + kNotFound};
  EXPECT_EQ(testing::internal::GetCapturedStderr(), lines[0] + "\n" + lines[1] + "\n");
  EXPECT_EQ(ErrorLogTexts(), lines);
  EXPECT_THAT(m_Trace, ElementsAre(1, 2, 3, 7, 2, 3, 7, 2));
  EXPECT_TRUE(platform::test::MessageBoxRecords().empty());
}

// A record that cannot be saved (the file read only) is shown to the player
// once in the session, and each failed save is said on stderr.
TEST_F(GameFailurePaths, ARecordThatCannotBeSavedIsShownOnceAndSaidOnStderr) {
  WriteTwoStagesStartingInTheirGoals();
  const std::vector<std::uint8_t> before = test::ReadFileBytes("score.dat");
  Start();
  ScoreFileReadOnly readOnly;
  SetDrawing(false);
  SkipLogo();
  testing::internal::CaptureStderr();
  ClearBothStagesWithNewRecords();
  const std::string line = "score.dat could not be written: ERROR_ACCESS_DENIED (5) Access is denied.";
  EXPECT_EQ(testing::internal::GetCapturedStderr(), line + "\n" + line + "\n");
  EXPECT_EQ(ErrorLogTexts(), std::vector<std::string>(2, line));
  EXPECT_EQ(test::ReadFileBytes("score.dat"), before);
  const auto& records = platform::test::MessageBoxRecords();
  ASSERT_EQ(records.size(), 1u);
  EXPECT_EQ(records[0].text, "Records cannot be saved.\n\n" + m_Dir.path() +
                                 "/score.dat could not be written: ERROR_ACCESS_DENIED (5) Access is denied.\n\n"
                                 "The game goes on, but new records last only until it ends.");
}

// Records that cannot be saved stay on the title's stage list until the
// program ends, as the box promised; the file keeps what it held.
TEST_F(GameFailurePaths, ARecordThatCannotBeSavedStaysOnTheTitleForTheSession) {
  WriteTwoStagesStartingInTheirGoals();
  const std::vector<std::uint8_t> before = test::ReadFileBytes("score.dat");
  Start();
  ScoreFileReadOnly readOnly;
  SetDrawing(false);
  SkipLogo();
  testing::internal::CaptureStderr();
  ClearBothStagesWithNewRecords();
  testing::internal::GetCapturedStderr();
  ASSERT_EQ(platform::test::MessageBoxRecords().size(), 1u);
  OpenMenu();
  OpenStageList();
  const C_ScoreData& session = Play().GetFloorData().GetScoreData();
  for (int stage = 1; stage <= 2; ++stage) {
    SCOPED_TRACE(stage);
    EXPECT_LT(session.GetScore(stage), 900000);
    EXPECT_EQ(Title().GetStageRecord(stage), session.GetScore(stage));
    EXPECT_STREQ(Title().GetStageName(stage), "AB");
  }
  EXPECT_EQ(test::ReadFileBytes("score.dat"), before);
}

// The tune comes round to its start within one mixer period: no stretch of
// the captured mix between its first and last sound is silent for longer.
TEST_F(GameFailurePaths, TheTuneLoopsWithoutAGap) {
  // 0.3 s of a square wave that is never 0, as the music file (out of step
  // with the window title's updates every half second, which used to rewind it).
  std::vector<std::uint8_t> samples;
  for (int i = 0; i < 13230 * 2; ++i) {
    const std::int16_t v = (i / 2) % 100 < 50 ? 6000 : -6000;
    samples.push_back(static_cast<std::uint8_t>(v));
    samples.push_back(static_cast<std::uint8_t>(v >> 8));
  }
  test::WriteFileBytes("Fjord.mp3", test::MakeWave(1, 2, 44100, 16, samples));
  StageSpec stage;  // a body left alone stays on its floor
  stage.floors = {{0, 0, 1000, 1000}};
  stage.startX = stage.startY = 500;
  stage.goal = {900, 900, 950, 950};
  WritePlayableStages({stage});
  test::WriteFileBytes("score.dat", PythonScoreImage({{1, 40000, "QQQ"}}));
  Start();
  SetDrawing(false);
  SkipLogo();
  OpenMenu();
  ChooseStage(0, 0);
  SkipToPlay();
  platform::test::StartMixCapture();
  Frames(200);
  ASSERT_EQ(Play().GetPhase(), C_PlayLogic::kPhasePlaying);
  const std::vector<std::int16_t> mix = platform::test::MixCapture();
  std::size_t first = 0, last = 0;
  for (std::size_t f = 0; f < mix.size() / 2; ++f)
    if (mix[2 * f] || mix[2 * f + 1]) {
      if (!first) first = f + 1;
      last = f + 1;
    }
  std::size_t longest = 0, run = 0;
  for (std::size_t f = first; f < last; ++f) {
    run = mix[2 * f] || mix[2 * f + 1] ? 0 : run + 1;
    longest = std::max(longest, run);
  }
  EXPECT_GE(platform::test::AudioEventsOf(platform::test::AudioEventKind::GraphSeek).size(), 5u);
  EXPECT_LE(longest, 1024u) << "frames of silence at a loop point";
}

// SIGTERM while a box is up ends the program at once, and the box with it: a
// box that lives in a process of its own (as on X11) does not outlive the
// program and hold the display with no one behind it.
TEST_F(GameFailurePaths, AMessageBoxEndsWithTheProgram) {
  std::unique_ptr<ChildProgram> game;
  pid_t box = 0;
  ASSERT_NO_FATAL_FAILURE(StartWithABoxUp(false, &game, &box));
  game->Signal(SIGTERM);
  ASSERT_TRUE(game->WaitForEnd(30)) << game->Output();
  EXPECT_TRUE(WIFEXITED(game->Status()) && WEXITSTATUS(game->Status()) == 128 + SIGTERM) << game->Status();
  EXPECT_THAT(game->Output(),
              HasSubstr("platform: SIGTERM came while a message box was up; the program ends at once.\n"));
  ExpectTheBoxEnded(box);
}

// SIGKILL gives the program no say, yet its box's process ends with it.
TEST_F(GameFailurePaths, AMessageBoxEndsWithAProgramKilledOutright) {
  std::unique_ptr<ChildProgram> game;
  pid_t box = 0;
  ASSERT_NO_FATAL_FAILURE(StartWithABoxUp(false, &game, &box));
  game->Signal(SIGKILL);
  ASSERT_TRUE(game->WaitForEnd(30)) << game->Output();
  EXPECT_TRUE(WIFSIGNALED(game->Status()) && WTERMSIG(game->Status()) == SIGKILL) << game->Status();
  ExpectTheBoxEnded(box);
}

// The display lost while a box is up: the box's process loses it too (as
// X11's box, with a connection of its own, does), but the loss is said once,
// and the program ends with 1 without showing the box's text.
TEST_F(GameFailurePaths, ALostDisplayWhileABoxIsUpIsSaidOnce) {
  std::unique_ptr<ChildProgram> game;
  pid_t box = 0;
  ASSERT_NO_FATAL_FAILURE(StartWithABoxUp(true, &game, &box));
  game->ClosePipe();
  const bool ended = game->WaitForEnd(30);
  ExpectTheBoxEnded(box);
  ASSERT_TRUE(ended) << game->Output();
  EXPECT_TRUE(WIFEXITED(game->Status()) && WEXITSTATUS(game->Status()) == 1) << game->Status();
  const std::string output = game->Output();
  const std::string line = "platform: the display connection was lost (the headless display's descriptor 3 was "
                           "closed at its other end); the program ends at once.\n";
  ASSERT_THAT(output, HasSubstr(line));
  EXPECT_EQ(output.find(line), output.rfind(line)) << output;
  EXPECT_THAT(output, testing::Not(HasSubstr("a message box no one can see")));
}

// A second SIGINT or SIGTERM while the program ends on the first is said, as
// the first is, and ends it at once. Both are sent while the program is
// stopped, so that the second is there before the first can have ended it
// (two of one kind would merge into one while pending); which of them the
// program takes first is not said, so the message names either.
TEST_F(GameFailurePaths, ASecondSignalWhileTheProgramEndsIsSaid) {
  auto child = StartProgram();
  child->Signal(SIGSTOP);
  child->Signal(SIGINT);
  child->Signal(SIGTERM);
  child->Signal(SIGCONT);
  ASSERT_TRUE(child->WaitForEnd(30)) << child->Output();
  ASSERT_TRUE(WIFEXITED(child->Status())) << "ended by the signal's default action: " << child->Status();
  const int status = WEXITSTATUS(child->Status());
  ASSERT_TRUE(status == 128 + SIGINT || status == 128 + SIGTERM) << status << "\n" << child->Output();
  const std::string second = status == 128 + SIGINT ? "SIGINT" : "SIGTERM";
  EXPECT_THAT(child->Output(), HasSubstr("platform: " + second + " came again; the program ends at once.\n"));
}

// The headless run the README shows, without the tests' leak suppressions:
// the sanitizer build's game brings its own, and the run ends with 0.
TEST_F(GameFailurePaths, TheReadmeHeadlessRunEndsWithZero) {
  test::WriteFileText("input.txt", "frame 200 move 320 300\nframe 200 ldown\nframe 201 lup\nframe 600 close\n");
  std::filesystem::create_directory("frames");
  ChildProgram game(NURA_GAME_PROGRAM,
                    {"PLATFORM_BACKEND=headless", "PLATFORM_INPUT_SCRIPT=" + (m_Dir / "input.txt"),
                     "PLATFORM_CAPTURE_DIR=" + (m_Dir / "frames"), "PLATFORM_CAPTURE_EVERY=100"},
                    {"LSAN_OPTIONS"});
  ASSERT_TRUE(game.WaitForEnd(120)) << game.Output();
  EXPECT_TRUE(WIFEXITED(game.Status()) && WEXITSTATUS(game.Status()) == 0) << game.Status() << game.Output();
  EXPECT_EQ(game.Output(), "");
  EXPECT_TRUE(std::filesystem::exists(m_Dir / "frames/frame_000600.png"));
}

// An X server (Xvfb, given `args`) on a free display while this lives. Tests
// that run at once may pick the same display: the one whose server ends
// without its socket tries the next. It keeps its state when its last client
// leaves (-noreset): a client that connects while it resets is refused.
struct XServer {
  explicit XServer(std::vector<std::string> args) {
    args.insert(args.begin(), {"", "-nolisten", "tcp", "-noreset"});
    for (int tries = 0, display = 90 + getpid() % 100; tries < 20; ++tries, ++display) {
      const std::string socket = "/tmp/.X11-unix/X" + std::to_string(display);
      if (std::filesystem::exists(socket) || std::filesystem::exists("/tmp/.X" + std::to_string(display) + "-lock"))
        continue;
      name = ":" + std::to_string(display);
      args[0] = name;
      server = std::make_unique<ChildProgram>("/usr/bin/Xvfb", std::vector<std::string>{},
                                              std::vector<std::string>{}, false, args);
      for (int wait = 0; wait < 600 && !server->WaitForEnd(0.05) && !std::filesystem::exists(socket); ++wait) {
      }
      if (!server->WaitForEnd(0.2)) return;  // up, and still running with its socket there
    }
    server.reset();
  }
  ~XServer() {
    if (!server) return;
    server->Signal(SIGTERM);  // it removes its socket and lock
    server->WaitForEnd(10);
  }
  bool Ready() const { return server != nullptr; }

  std::string name;
  std::unique_ptr<ChildProgram> server;
};

// Under a real X server (Xvfb, with the X core fonts the box is drawn with;
// scripts/test installs both): an audio driver SDL cannot use is said;
// SIGTERM while a message box is up ends the program at once; an X server
// that goes away ends it within a second.
TEST_F(GameFailurePaths, UnderARealXServerTheSameEndsAreKept) {
  NURA_REQUIRE_OUTSIDE_INPUT(
      test::HaveTool("/usr/bin/Xvfb") && std::filesystem::exists("/usr/share/fonts/X11/misc/fonts.dir"),
      "/usr/bin/Xvfb or the X core fonts (/usr/share/fonts/X11/misc)");
  XServer x({});
  ASSERT_TRUE(x.Ready());
  const std::string& name = x.name;
  ChildProgram& server = *x.server;
  const std::vector<std::string> env = {"DISPLAY=" + name, "SDL_AUDIODRIVER=nonesuch", "PLATFORM_WINDOWED=1",
                                        "PLATFORM_CAPTURE_DIR=" + m_Dir.path(), "PLATFORM_CAPTURE_EVERY=10",
                                        kLeakSuppressions};
  const std::vector<std::string> unset = {"PLATFORM_BACKEND", "SDL_VIDEODRIVER", "WAYLAND_DISPLAY"};

  // A save that fails at the start shows its box; SIGTERM then ends the program at once.
  std::filesystem::create_symlink("/dev/full", "score.dat");
  {
    ChildProgram game(NURA_GAME_PROGRAM, env, unset);
    for (int wait = 0; wait < 1200 && game.Output().find("score.dat could not be written") == std::string::npos;
         ++wait)
      ASSERT_FALSE(game.WaitForEnd(0.1)) << game.Output();
    game.WaitForEnd(0.5);
    const pid_t box = FirstChildOf(game.Pid());  // X11's box lives in a process of its own
    game.MarkTime();
    game.Signal(SIGTERM);
    ASSERT_TRUE(game.WaitForEnd(30)) << game.Output();
    EXPECT_LT(game.SecondsToEnd(), 1.5) << game.Output();
    EXPECT_TRUE(WIFEXITED(game.Status()) && WEXITSTATUS(game.Status()) == 128 + SIGTERM)
        << game.Status() << game.Output();
    EXPECT_THAT(game.Output(),
                HasSubstr("platform: SIGTERM came while a message box was up; the program ends at once.\n"));
    EXPECT_THAT(game.Output(), HasSubstr("platform: no sound device: SDL_AUDIODRIVER names \"nonesuch\", which SDL "
                                         "cannot use ("));
    for (int wait = 0; box && wait < 100 && Running(box); ++wait) usleep(10000);
    EXPECT_FALSE(box && Running(box)) << "the box's process " << box << " outlived the program";
    if (box && Running(box)) kill(box, SIGKILL);
  }
  std::filesystem::remove("score.dat");

  // The X server goes away while the game runs.
  ChildProgram game(NURA_GAME_PROGRAM, env, unset);
  ASSERT_TRUE(WaitForFile(m_Dir / "frame_000020.png", 120)) << game.Output();
  game.MarkTime();
  server.Signal(SIGTERM);
  ASSERT_TRUE(game.WaitForEnd(30)) << game.Output();
  EXPECT_LT(game.SecondsToEnd(), 1.0) << game.Output();
  EXPECT_TRUE(WIFEXITED(game.Status()) && WEXITSTATUS(game.Status()) == 1) << game.Status() << game.Output();
  EXPECT_THAT(game.Output(), HasSubstr("platform: the display connection was lost (the X server of DISPLAY \"" + name +
                                       "\" went away); the program ends at once.\n"));
  EXPECT_EQ(test::ReadFileBytes("score.dat"), PythonScoreImage({}));
}

// Under a real X server with no X core fonts but its built-in ones, the box
// cannot open: the line that gives its text says why, as the box's own
// process found (SDL's last error alone says only that no way worked).
TEST_F(GameFailurePaths, UnderARealXServerWithoutCoreFontsTheBoxLineSaysWhy) {
  NURA_REQUIRE_OUTSIDE_INPUT(test::HaveTool("/usr/bin/Xvfb"), "/usr/bin/Xvfb");
  XServer x({"-fp", "built-ins"});
  ASSERT_TRUE(x.Ready());
  std::filesystem::create_symlink("/dev/full", "score.dat");  // a box at the start
  ChildProgram game(NURA_GAME_PROGRAM,
                    {"DISPLAY=" + x.name, "SDL_AUDIODRIVER=dummy", "PLATFORM_WINDOWED=1", kLeakSuppressions},
                    {"PLATFORM_BACKEND", "SDL_VIDEODRIVER", "WAYLAND_DISPLAY"});
  const std::string line = "platform: a message box no one can see (";
  for (int wait = 0; wait < 1200 && game.Output().find(line) == std::string::npos; ++wait)
    ASSERT_FALSE(game.WaitForEnd(0.1)) << game.Output();
  const std::string output = game.Output();
  const std::size_t at = output.find(line);
  ASSERT_NE(at, std::string::npos) << output;
  const std::string said = output.substr(at + line.size(), output.find("answered OK)", at) - at - line.size());
  EXPECT_THAT(said, testing::StartsWith("it could not be shown: "));
  EXPECT_THAT(said, HasSubstr("font"));

  // Started outside its data folder, where a box may be seen, it tries one
  // beside its line (headless it says the line alone).
  GameFolder elsewhere;
  ChildProgram lost(NURA_GAME_PROGRAM,
                    {"DISPLAY=" + x.name, "SDL_AUDIODRIVER=dummy", "PLATFORM_WINDOWED=1", kLeakSuppressions},
                    {"PLATFORM_BACKEND", "SDL_VIDEODRIVER", "WAYLAND_DISPLAY"});
  ASSERT_TRUE(lost.WaitForEnd(120)) << lost.Output();
  EXPECT_THAT(lost.Output(), HasSubstr(std::string(line) + "it could not be shown: ")) << lost.Output();
  EXPECT_THAT(lost.Output(), HasSubstr("found none of its data in the folder it was started from:\n" +
                                       elsewhere.path() + "\n"));
}

}  // namespace
}  // namespace nura::game_test

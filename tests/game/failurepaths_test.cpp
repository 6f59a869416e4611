// The paths a player meets when something goes wrong: the display goes away,
// the program is asked to end, data files are missing or damaged, records
// cannot be saved, and the tune comes round to its start. Each ends the
// program as it must or tells the player, and none is silent.
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
#include "tests/game/child_program.h"
#include "tests/game/gameapp_fixture.h"
#include "tests/support/outside_input.h"
#include "tests/platform/audio_files.h"

namespace nura::game_test {
namespace {

using testing::ElementsAre;
using testing::HasSubstr;

const std::string kNotFound = "ERROR_FILE_NOT_FOUND (2) The system cannot find the file specified.";
// The program's leak check skips what the system libraries keep, as the tests' own does.
const std::string kLeakSuppressions = "LSAN_OPTIONS=suppressions=" NURA_SOURCE_DIR "/tests/lsan.supp";

std::string ReadText(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream text;
  text << in.rdbuf();
  return text.str();
}

// The text with its first `from` replaced by `to` (which must be there).
std::string Replaced(std::string text, const std::string& from, const std::string& to) {
  const std::size_t at = text.find(from);
  EXPECT_NE(at, std::string::npos) << from;
  return at == std::string::npos ? text : text.replace(at, from.size(), to);
}

// The first child process of the process's main thread, or 0.
pid_t FirstChildOf(pid_t pid) {
  std::ifstream in("/proc/" + std::to_string(pid) + "/task/" + std::to_string(pid) + "/children");
  pid_t child = 0;
  return in >> child ? child : 0;
}

// True while the process runs (a zombie no longer does).
bool Running(pid_t pid) {
  const std::string stat = ReadText("/proc/" + std::to_string(pid) + "/stat");
  const std::size_t end = stat.rfind(") ");
  return end != std::string::npos && end + 2 < stat.size() && stat[end + 2] != 'Z' && stat[end + 2] != 'X';
}

class GameFailurePaths : public GameAppTest {
 protected:
  // The program's entry, as main calls it; a scripted Escape ends a game
  // that runs although it should not have started.
  int RunWinMain() {
    EXPECT_TRUE(platform::test::ScriptInput("frame 30 key down escape"));
    char noArguments[] = "";
    const int status = WinMain(GetModuleHandleA(nullptr), nullptr, noArguments, SW_SHOWDEFAULT);
    EXPECT_TRUE(platform::test::D3D9LiveObjects().empty()) << platform::test::D3D9LiveObjectReport();
    EXPECT_EQ(g_pDevice, nullptr);
    return status;
  }

  // The game program headless in the test's folder, with its frames written
  // every ten frames, so that the test can see it running.
  std::unique_ptr<ChildProgram> StartProgram(bool display = false) {
    std::vector<std::string> env = {"PLATFORM_BACKEND=headless", "PLATFORM_CAPTURE_DIR=" + m_Dir.path(),
                                    "PLATFORM_CAPTURE_EVERY=10", kLeakSuppressions};
    if (display) env.push_back("PLATFORM_HEADLESS_DISPLAY_FD=3");
    for (const auto& entry : std::filesystem::directory_iterator("."))
      if (entry.path().extension() == ".png") std::filesystem::remove(entry.path());
    auto child = std::make_unique<ChildProgram>(NURA_GAME_PROGRAM, env, std::vector<std::string>{}, display);
    EXPECT_TRUE(WaitForFile(m_Dir / "frame_000020.png", 120)) << child->Output();
    return child;
  }

  // One more start of the program's entry in the test, in folder (the
  // working folder), which gets a copy of the generated data.
  void PrepareAnotherStart(const GameFolder& folder) {
    platform::test::ResetAll();  // the window class of the last run is gone
    PinFonts();
    CopyGameData(DataDir(), folder.path());
  }

  // The program's entry in the damaged folder ends with 1 before its loop and
  // makes no score file; each logged line is in the error log and on stderr,
  // and one box names the entries.
  void ExpectTheStartStopped(const GameFolder& folder, const std::vector<std::string>& entries,
                             const std::vector<std::string>& logged) {
    testing::internal::CaptureStderr();
    EXPECT_EQ(RunWinMain(), 1);
    const std::string err = testing::internal::GetCapturedStderr();
    EXPECT_FALSE(std::filesystem::exists("score.dat"));
    for (const std::string& line : logged) {
      EXPECT_THAT(err, HasSubstr(line + "\n"));
      EXPECT_THAT(ErrorLogTexts(), testing::Contains(line));
    }
    std::string named;
    for (const std::string& entry : entries) named += "\n    " + entry;
    const auto& records = platform::test::MessageBoxRecords();
    ASSERT_EQ(records.size(), 1u);
    EXPECT_EQ(records.back().text, "ぬらもぺい cannot be played: these files of its data folder\n" + folder.path() +
                                       "\nare missing or damaged:\n" + named +
                                       "\n\nErrorLog.txt there, and standard error, say why.");
  }

  // The game program headless, with a box up at its start (the score file
  // cannot be written) in a process of its own; with `display`, the test's
  // end of the pipe stands for the display connection.
  void StartWithABoxUp(bool display, std::unique_ptr<ChildProgram>* game, pid_t* box) {
    std::filesystem::create_symlink("/dev/full", "score.dat");
    std::vector<std::string> env = {"PLATFORM_BACKEND=headless", "PLATFORM_HEADLESS_BOX_PROCESS=1",
                                    kLeakSuppressions};
    if (display) env.push_back("PLATFORM_HEADLESS_DISPLAY_FD=3");
    *game = std::make_unique<ChildProgram>(NURA_GAME_PROGRAM, env, std::vector<std::string>{}, display);
    for (int wait = 0; wait < 1200 && !*box; ++wait) {
      ASSERT_FALSE((*game)->WaitForEnd(0.1)) << (*game)->Output();
      if ((*game)->Output().find("score.dat could not be written") != std::string::npos)
        *box = FirstChildOf((*game)->Pid());
    }
    ASSERT_NE(*box, 0) << (*game)->Output();
  }

  // The box's process ends within a second of the program.
  static void ExpectTheBoxEnded(pid_t box) {
    for (int wait = 0; wait < 100 && Running(box); ++wait) usleep(10000);
    const bool left = Running(box);
    if (left) kill(box, SIGKILL);  // no test leaves it behind
    EXPECT_FALSE(left) << "the box's process " << box << " outlived the program";
  }

  // From the title: stages 1 and 2 (each starting in its goal) cleared in
  // turn, each with a new record named "AB"; back at the title.
  void ClearBothStagesWithNewRecords() {
    for (int round = 0; round < 2; ++round) {
      OpenMenu();
      ChooseStage(0, round);
      SkipToPlay();
      Frame();
      ASSERT_EQ(Play().GetPhase(), C_PlayLogic::kPhaseGoal);
      HurryClear();
      EnterName("AB");
      Frames(30);
    }
  }
};

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

// A stage table whose rows do not give every stage it lists what play needs
// stops the start as a missing one does: the box names the file, the line and
// what is wrong (the log and stderr say the same), the program ends with 1
// and no score file is made.
TEST_F(GameFailurePaths, DamagedStageTablesNameTheLineAndWhatIsWrong) {
  // The generated tables: stage 1's rows come first in both.
  const struct {
    const char* what;
    const char* file;
    std::function<std::string(const std::string&)> damage;
    std::string entry;  // in the box
  } cases[] = {
      {"random bytes for the stage table", "StageData.dat",
       [](const std::string&) {
         std::string bytes(3519, '\0');
         std::uint32_t x = 12345;
         for (char& b : bytes) b = static_cast<char>((x = x * 1103515245u + 12345u) >> 16);
         return bytes;
       },
       "StageData.dat, line 1: value 1 is not a whole number"},
      {"a time limit of 0 s", "StageData.dat",
       [](const std::string& t) { return Replaced(t, "1,4,12,18,45", "1,4,12,18,0"); },
       "StageData.dat, line 4: the time limit of stage 1 is 0 s; it must be at least 1 s"},
      {"a floor table cut at a line end after stage 1", "Floor.dat",
       [](const std::string& t) { return t.substr(0, t.find("\r\n2,") + 2); }, "Floor.dat: stage 2 has no floors"},
      {"a stage table cut inside a line", "StageData.dat",
       [](const std::string& t) { return t.substr(0, t.find("1,1,1160,280") + 8); },
       "StageData.dat, line 2: it holds 3 values; a row of prefix 1 needs 6"},
      {"a value that is no number", "StageData.dat",
       [](const std::string& t) { return Replaced(t, "1,0,200,200", "1,0,2OO,200"); },
       "StageData.dat, line 1: value 3 is not a whole number"},
      {"a start below the field", "StageData.dat",
       [](const std::string& t) { return Replaced(t, "1,0,200,200", "1,0,200,1427"); },
       "StageData.dat, line 1: the start (200, 1427) of stage 1 puts the body outside the field (its point 13 px in "
       "must lie within 0 to 1439 across and down)"},
      {"a stage without its time row", "StageData.dat",
       [](const std::string& t) { return Replaced(t, "1,4,12,18,45\r\n", ""); },
       "StageData.dat: stage 1 has no time limit (no row of prefix 4)"},
      {"a stage without its start", "StageData.dat",
       [](const std::string& t) { return Replaced(t, "1,0,200,200\r\n", ""); },
       "StageData.dat: stage 1 has no start (no row of prefix 0)"},
      {"no stage of 1 to 99", "StageData.dat",
       [](const std::string&) { return std::string("0,0,5,5\r\n0,4,1,2,3\r\n"); },
       "StageData.dat: it lists no stage (no row of a stage 1 to 99)"},
      {"a floor of no area", "Floor.dat",
       [](const std::string& t) { return Replaced(t, "1,100,100,600,600", "1,100,100,100,600"); },
       "Floor.dat, line 1: the floor (100, 100) to (100, 600) of stage 1 has no area: its right and bottom must lie "
       "beyond its left and top"},
      {"a floor beyond the field", "Floor.dat",
       [](const std::string& t) { return Replaced(t, "1,100,100,600,600", "1,1440,100,1600,600"); },
       "Floor.dat, line 1: the floor (1440, 100) to (1600, 600) of stage 1 lies outside the field (0 to 1440 across "
       "and down)"},
      {"a value past 32 bits, which would wrap to an unknown prefix", "StageData.dat",
       [](const std::string& t) { return "1,2147483648,5,5\r\n" + t; },
       "StageData.dat, line 1: value 2 is a whole number too large for the table, which holds -2147483648 to "
       "2147483647"},
      // Stage 1's floors: (100, 100) to (600, 600), (600, 250) to (1000, 450)
      // and (1000, 100) to (1340, 600).
      {"a goal beyond the field", "StageData.dat",
       [](const std::string& t) { return Replaced(t, "1,1,1160,280,1280,420", "1,1,1500,280,1620,420"); },
       "StageData.dat, line 2: the goal (1500, 280) to (1620, 420) of stage 1 lies outside the field (0 to 1439 "
       "across and down)"},
      {"a goal on no floor", "StageData.dat",
       [](const std::string& t) { return Replaced(t, "1,1,1160,280,1280,420", "1,1,700,460,900,600"); },
       "StageData.dat, line 2: the goal (700, 460) to (900, 600) of stage 1 lies on none of its floors, so the "
       "stage cannot be cleared"},
      {"a goal whose corners are swapped", "StageData.dat",
       [](const std::string& t) { return Replaced(t, "1,1,1160,280,1280,420", "1,1,1280,420,1160,280"); },
       "StageData.dat, line 2: the goal (1280, 420) to (1160, 280) of stage 1 holds no point: its right and bottom "
       "must not lie before its left and top"},
      {"a stage without its goal", "StageData.dat",
       [](const std::string& t) { return Replaced(t, "1,1,1160,280,1280,420\r\n", ""); },
       "StageData.dat: stage 1 has no goal (no row of prefix 1)"},
      {"a start inside the field on no floor", "StageData.dat",
       [](const std::string& t) { return Replaced(t, "1,0,200,200", "1,0,700,700"); },
       "StageData.dat, line 1: the start (700, 700) of stage 1 puts the body on none of its floors (its point 13 px "
       "in must lie on one)"},
      {"a start whose point lies on a floor's left edge", "StageData.dat",
       [](const std::string& t) { return Replaced(t, "1,0,200,200", "1,0,87,200"); },
       "StageData.dat, line 1: the start (87, 200) of stage 1 puts the body on none of its floors (its point 13 px "
       "in must lie on one)"},
      // Its corner lies on the first floor, its point (608, 603) on none.
      {"a start whose corner, not its point, lies on a floor", "StageData.dat",
       [](const std::string& t) { return Replaced(t, "1,0,200,200", "1,0,595,590"); },
       "StageData.dat, line 1: the start (595, 590) of stage 1 puts the body on none of its floors (its point 13 px "
       "in must lie on one)"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    GameFolder folder;
    PrepareAnotherStart(folder);
    test::WriteFileText(c.file, c.damage(ReadText(c.file)));
    ExpectTheStartStopped(folder, {c.entry}, {c.entry});
  }
}

// Damage whose first symptom is not its cause is named by its cause, in one
// line for the file in the log as in the box: a value past 32 bits, a table
// saved with LF line ends (it reads as one row), one line of it ending so
// (whatever the row it runs into holds), and bytes after the last row,
// numbered as the box numbers them. The least and greatest 32-bit values are
// read.
TEST_F(GameFailurePaths, TableDamageIsNamedByItsCauseInOneLine) {
  const std::string range = " for the table, which holds -2147483648 to 2147483647";
  const std::string tooLarge = " is a whole number too large" + range;
  const std::string tooSmall = " is a whole number too small" + range;
  const std::string crlf = " without CR; the game's tables end each row with CR LF";
  const auto lfOnly = [](std::string t) {
    for (std::size_t at = 0; (at = t.find("\r\n", at)) != std::string::npos;) t.erase(at, 1);
    return t;
  };
  const struct {
    const char* what;
    const char* file;
    std::function<std::string(const std::string&)> damage;
    std::vector<std::string> logged;  // the whole error log; its last line is the box's entry
  } cases[] = {
      {"a start x past 32 bits", "StageData.dat",
       [](const std::string& t) { return Replaced(t, "1,0,200,200", "1,0,2147483648,200"); },
       {"StageData.dat, line 1: value 3" + tooLarge}},
      {"a start x of 32 bits is read, and lies outside the field", "StageData.dat",
       [](const std::string& t) { return Replaced(t, "1,0,200,200", "1,0,2147483647,200"); },
       {"StageData.dat, line 1: the start (2147483647, 200) of stage 1 puts the body outside the field (its point "
        "13 px in must lie within 0 to 1439 across and down)"}},
      {"a floor's right past 32 bits", "Floor.dat",
       [](const std::string& t) { return Replaced(t, "1,100,100,600,600", "1,100,100,99999999999,600"); },
       {"Floor.dat, line 1: value 4" + tooLarge}},
      {"a start x of the least 32-bit value is read, and lies outside the field", "StageData.dat",
       [](const std::string& t) { return Replaced(t, "1,0,200,200", "1,0,-2147483648,200"); },
       {"StageData.dat, line 1: the start (-2147483648, 200) of stage 1 puts the body outside the field (its point "
        "13 px in must lie within 0 to 1439 across and down)"}},
      {"a floor's top past 32 bits below 0", "Floor.dat",
       [](const std::string& t) { return Replaced(t, "1,100,100,600,600", "1,100,-2147483649,600,600"); },
       {"Floor.dat, line 1: value 3" + tooSmall}},
      {"a stage table saved with LF line ends", "StageData.dat", lfOnly,
       {"StageData.dat: its lines end" + crlf}},
      {"a floor table saved with LF line ends", "Floor.dat", lfOnly, {"Floor.dat: its lines end" + crlf}},
      {"a stage table whose first line ends with LF alone", "StageData.dat",
       [](const std::string& t) { return Replaced(t, "1,0,200,200\r\n", "1,0,200,200\n"); },
       {"StageData.dat, line 1: it ends" + crlf}},
      {"an LF table without a line end after its last row", "Floor.dat",
       [&](const std::string& t) {
         std::string lf = lfOnly(t);
         lf.pop_back();
         return lf;
       },
       {"Floor.dat: its lines end" + crlf}},
      // Each row below runs into the next, which holds what play needs.
      {"a floor row ending in a comma and LF alone", "Floor.dat",
       [](const std::string& t) { return Replaced(t, "1,100,100,600,600\r\n", "1,100,100,600,600,\n"); },
       {"Floor.dat, line 1: it ends" + crlf}},
      {"a floor row with a value past those read ending with LF alone", "Floor.dat",
       [](const std::string& t) { return Replaced(t, "1,100,100,600,600\r\n", "1,100,100,600,600,7\n"); },
       {"Floor.dat, line 1: it ends" + crlf}},
      {"a start row with a value past those read ending with LF alone", "StageData.dat",
       [](const std::string& t) { return Replaced(t, "1,0,200,200\r\n", "1,0,200,200,7\n"); },
       {"StageData.dat, line 1: it ends" + crlf}},
      {"a row of an unknown prefix ending with LF alone", "StageData.dat",
       [](const std::string& t) { return Replaced(t, "1,0,200,200\r\n", "1,0,200,200\r\n1,9,5\n"); },
       {"StageData.dat, line 2: it ends" + crlf}},
      {"bytes after the floor table's last row", "Floor.dat",
       [](const std::string& t) { return t + "\x01\x7fgarbage\xff"; },
       {"Floor.dat ends inside a line: it may have been cut short",
        "Floor.dat, line 195: it holds 1 value; a floor row needs 5"}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    GameFolder folder;
    PrepareAnotherStart(folder);
    test::WriteFileText(c.file, c.damage(ReadText(c.file)));
    ExpectTheStartStopped(folder, {c.logged.back()}, c.logged);
    EXPECT_EQ(ErrorLogTexts(), c.logged);
  }
}

// A start is on a floor by the body's point 13 px in, not by its corner:
// these corners lie on no floor, their points on the first.
TEST_F(GameFailurePaths, AStartWhosePointLiesOnAFloorStartsTheGame) {
  for (const char* start : {"1,0,90,200", "1,0,200,90"}) {
    SCOPED_TRACE(start);
    GameFolder folder;
    PrepareAnotherStart(folder);
    test::WriteFileText("StageData.dat", Replaced(ReadText("StageData.dat"), "1,0,200,200", start));
    Start();
    EXPECT_TRUE(platform::test::MessageBoxRecords().empty());
    EXPECT_TRUE(ErrorLogTexts().empty());
    Stop();
  }
}

// The generated tables without the rows of stage n.
std::string WithoutStage(const std::string& table, int n) {
  std::string kept;
  std::istringstream in(table);
  for (std::string line; std::getline(in, line);)
    if (line.rfind(std::to_string(n) + ",", 0) != 0) kept += line + "\n";
  return kept;
}

// Courses play stages 1 to 20 whatever the tables list, so each of them
// missing from either table stops the start as a damaged row does.
TEST_F(GameFailurePaths, StagesTheCoursesPlayMissingFromTheTablesStopTheStart) {
  const std::string course = " (courses play stages 1 to 20)";
  const struct {
    const char* what;
    std::function<void()> damage;
    std::vector<std::string> entries;  // in the box
    std::vector<std::string> logged;   // in the error log and on stderr
  } cases[] = {
      {"a stage table cut at a line end after stage 5",
       [] {
         const std::string t = ReadText("StageData.dat");
         test::WriteFileText("StageData.dat", t.substr(0, t.find("\r\n6,") + 2));
       },
       {"StageData.dat: stage 6 is missing" + course},
       {"StageData.dat: stage 6 is missing" + course}},
      {"a floor table without stage 12",
       [] { test::WriteFileText("Floor.dat", WithoutStage(ReadText("Floor.dat"), 12)); },
       {"Floor.dat: stage 12 has no floors"},
       {"Floor.dat: stage 12 has no floors"}},
      {"stage 12 taken out of both tables",
       [] {
         for (const char* file : {"Floor.dat", "StageData.dat"})
           test::WriteFileText(file, WithoutStage(ReadText(file), 12));
       },
       {"Floor.dat: stage 12 has no floors", "StageData.dat: stage 12 is missing" + course},
       {"Floor.dat: stage 12 has no floors", "StageData.dat: stage 12 is missing" + course}},
      {"stage 20, the last a course plays, taken out of both tables",
       [] {
         for (const char* file : {"Floor.dat", "StageData.dat"})
           test::WriteFileText(file, WithoutStage(ReadText(file), 20));
       },
       {"Floor.dat: stage 20 has no floors", "StageData.dat: stage 20 is missing" + course},
       {"Floor.dat: stage 20 has no floors", "StageData.dat: stage 20 is missing" + course}},
      {"a floor table without stage 12 beside no stage table",
       [] {
         test::WriteFileText("Floor.dat", WithoutStage(ReadText("Floor.dat"), 12));
         std::filesystem::remove("StageData.dat");
       },
       {"Floor.dat: stage 12 has no floors", "StageData.dat"},
       {"Floor.dat: stage 12 has no floors", "StageData.dat could not be opened: " + kNotFound}},
      // Every picture is there: a damaged data folder, not the wrong one.
      {"neither table beside every picture",
       [] {
         std::filesystem::remove("Floor.dat");
         std::filesystem::remove("StageData.dat");
       },
       {"Floor.dat", "StageData.dat"},
       {"Floor.dat could not be opened: " + kNotFound, "StageData.dat could not be opened: " + kNotFound}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    GameFolder folder;
    PrepareAnotherStart(folder);
    c.damage();
    ExpectTheStartStopped(folder, c.entries, c.logged);
  }
}

// Rows play passes over (a prefix the game does not know, a value beyond
// those read, an empty line, an enemy of a race the game does not know, a
// stage outside 1 to 99) leave the game playable, and each is said.
TEST_F(GameFailurePaths, RowsPlayPassesOverAreSaidAndTheGameStarts) {
  test::WriteFileText("StageData.dat", "1,7,5,5\r\n" + Replaced(ReadText("StageData.dat"), "1,0,200,200\r\n",
                                                                  "1,0,200,200,9\r\n\r\n1,2,99,300,300,0,0\r\n"));
  test::WriteFileText("Floor.dat", "0,1,1,2,2\r\n" + ReadText("Floor.dat"));
  testing::internal::CaptureStderr();
  Start();
  EXPECT_EQ(testing::internal::GetCapturedStderr(),
            "Floor.dat, line 1: stage 0 is not one of 1 to 99, so the row is never used\n"
            "StageData.dat, line 1: prefix 7 is not one the game knows, so the row is not read\n"
            "StageData.dat, line 2: it holds 5 values; those after value 4 are not read\n"
            "StageData.dat, line 3: it is empty and is passed over\n"
            "StageData.dat, line 4: race 99 is not one the game knows (1 to 5), so the enemy is left out\n");
  EXPECT_TRUE(App().IsPlayable());
  EXPECT_TRUE(platform::test::MessageBoxRecords().empty());
}

// A column appended to every row of both tables leaves the game playable and
// is said once per file, not once per row.
TEST_F(GameFailurePaths, ValuesPastThoseReadInEveryRowAreSaidOncePerFile) {
  for (const char* file : {"Floor.dat", "StageData.dat"}) {
    std::string table = ReadText(file);
    for (std::size_t at = 0; (at = table.find("\r\n", at)) != std::string::npos; at += 4) table.insert(at, ",7");
    test::WriteFileText(file, table);
  }
  testing::internal::CaptureStderr();
  Start();
  const std::vector<std::string> lines = {
      "Floor.dat: 194 rows hold values past those the game reads (first at line 1); they are not read",
      "StageData.dat: 210 rows hold values past those the game reads (first at line 1); they are not read"};
  EXPECT_EQ(testing::internal::GetCapturedStderr(), lines[0] + "\n" + lines[1] + "\n");
  EXPECT_EQ(ErrorLogTexts(), lines);
  EXPECT_TRUE(App().IsPlayable());
  EXPECT_TRUE(platform::test::MessageBoxRecords().empty());
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
// without its socket tries the next.
struct XServer {
  explicit XServer(std::vector<std::string> args) {
    args.insert(args.begin(), {"", "-nolisten", "tcp"});
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

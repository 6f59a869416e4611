// The fixture of the tests of what a player meets when something goes wrong:
// the program's entry run in the test, with the box and the error log it
// leaves, and the game program run as a child process.
#pragma once

#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <memory>
#include <sstream>
#include <string>
#include <vector>

#include "platform/testing.h"
#include "platform/win_kernel.h"
#include "tests/game/child_program.h"
#include "tests/game/gameapp_fixture.h"

namespace nura::game_test {

inline const std::string kNotFound = "ERROR_FILE_NOT_FOUND (2) The system cannot find the file specified.";
// The program's leak check skips what the system libraries keep, as the tests' own does.
inline const std::string kLeakSuppressions = "LSAN_OPTIONS=suppressions=" NURA_SOURCE_DIR "/tests/lsan.supp";

inline std::string ReadText(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream text;
  text << in.rdbuf();
  return text.str();
}

// The text with its first `from` replaced by `to` (which must be there).
inline std::string Replaced(std::string text, const std::string& from, const std::string& to) {
  const std::size_t at = text.find(from);
  EXPECT_NE(at, std::string::npos) << from;
  return at == std::string::npos ? text : text.replace(at, from.size(), to);
}

// The first child process of the process's main thread, or 0.
inline pid_t FirstChildOf(pid_t pid) {
  std::ifstream in("/proc/" + std::to_string(pid) + "/task/" + std::to_string(pid) + "/children");
  pid_t child = 0;
  return in >> child ? child : 0;
}

// True while the process runs (a zombie no longer does).
inline bool Running(pid_t pid) {
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
      EXPECT_THAT(err, testing::HasSubstr(line + "\n"));
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

}  // namespace nura::game_test

// The settings file: where it is looked for beside the program, how its keys
// read, and the fixed values the game runs with whatever it holds.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>

#include "game/settings.h"

namespace {

namespace fs = std::filesystem;

TEST(GameSettings, TheFileLiesInTheProgramsFolderLessAFinalBuildFolder) {
  struct Case {
    const char* program;
    const char* path;
  };
  const Case cases[] = {
      {"C:\\G\\Debug\\nura.exe", "C:\\G\\nura.ini"},
      {"C:\\G\\Release\\nura.exe", "C:\\G\\nura.ini"},
      {"C:\\G\\nura.exe", "C:\\G\\nura.ini"},
      {"/opt/nura/debug/nura", "/opt/nura/nura.ini"},
      {"/opt/nura/DEBUG/nura", "/opt/nura/nura.ini"},
      {"/opt/nura/release/nura", "/opt/nura/nura.ini"},
      {"/opt/nura/RELEASE/nura", "/opt/nura/nura.ini"},
      {"/opt/nura/DeBug/nura", "/opt/nura/DeBug/nura.ini"},
      // Only a final folder of that name is cut, not a word elsewhere.
      {"C:\\Debugging\\G\\nura.exe", "C:\\Debugging\\G\\nura.ini"},
      {"/home/u/Release/game/nura", "/home/u/Release/game/nura.ini"},
      {"/x/MyDebug/nura", "/x/MyDebug/nura.ini"},
      {"/x/Releases/nura", "/x/Releases/nura.ini"},
      // A Debug folder inside a Release folder loses both, Debug first.
      {"/x/Release/Debug/nura", "/x/nura.ini"},
      {"/x/Debug/Release/nura", "/x/Debug/nura.ini"},
      {"Debug/nura", "nura.ini"},
      {"nura", "nura.ini"},
      {"", "nura.ini"},
  };
  for (const Case& c : cases) EXPECT_EQ(SettingsPathFor(c.program), c.path) << c.program;

  // No length limit.
  const std::string deep = "/" + std::string(300, 'a') + "/" + std::string(300, 'b') + "/Release/";
  EXPECT_EQ(SettingsPathFor(deep + "nura"), deep.substr(0, deep.size() - 8) + "nura.ini");
}

TEST(GameSettings, TheProgramsOwnName) {
  EXPECT_EQ(ProgramFileName(), fs::read_symlink("/proc/self/exe").string());
}

class GameSettingsFile : public testing::Test {
 protected:
  void SetUp() override {
    const fs::path exe = fs::read_symlink("/proc/self/exe");
    m_Folder = exe.parent_path();
    const std::string name = m_Folder.filename().string();
    if (name == "Debug" || name == "Release") m_Folder = m_Folder.parent_path();
    m_File = m_Folder / "nura.ini";
    ASSERT_FALSE(fs::exists(m_File)) << "left over";
  }
  void TearDown() override {
    fs::remove(m_File);
    g_Settings = C_Settings{};
  }

  fs::path m_Folder;
  fs::path m_File;
};

// One test only: the file beside the test program is shared by every run.
TEST_F(GameSettingsFile, TheFileIsReadButTheGameRunsWithFixedValues) {
  std::ofstream(m_File) << "[Debug]\r\nLIFE_INFINITY=1\r\nSTART_STAGE=7\r\nSKIP_NAMEENTRY=1\r\nSTART_LIFE=9\r\n";
  g_Settings.Load();
  EXPECT_EQ(g_Settings.path, m_File.string());
  EXPECT_EQ(g_Settings.ReadInt("Debug", "START_LIFE"), 9);
  EXPECT_EQ(g_Settings.ReadInt("Debug", "START_STAGE"), 7);
  EXPECT_TRUE(g_Settings.ReadBool("Debug", "LIFE_INFINITY"));
  EXPECT_FALSE(g_Settings.LIFE_INFINITY);
  EXPECT_EQ(g_Settings.START_STAGE, 1);
  EXPECT_FALSE(g_Settings.SKIP_NAMEENTRY);
  EXPECT_EQ(g_Settings.START_LIFE, 4) << "a course still starts with four lives";

  // Missing keys read as 10000 and true.
  std::ofstream(m_File) << "[Other]\r\nSTART_LIFE=2\r\n[Debug]\r\nLIFE_INFINITY=0\r\nSTART_LIFE=-3\r\n";
  g_Settings.Load();
  EXPECT_EQ(g_Settings.ReadInt("Debug", "START_STAGE"), 10000);
  EXPECT_TRUE(g_Settings.ReadBool("Debug", "SKIP_NAMEENTRY"));
  EXPECT_FALSE(g_Settings.ReadBool("Debug", "LIFE_INFINITY"));
  EXPECT_FALSE(g_Settings.ReadBool("Debug", "START_LIFE")) << "a negative value is not above 0";
  fs::remove(m_File);
  g_Settings.Load();
  EXPECT_EQ(g_Settings.ReadInt("Debug", "START_LIFE"), 10000) << "no file";
  EXPECT_EQ(g_Settings.START_LIFE, 4);
  EXPECT_FALSE(g_Settings.LIFE_INFINITY);
}

}  // namespace

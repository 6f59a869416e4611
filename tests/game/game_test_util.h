// Shared by the game's tests: a working folder of its own for every test,
// the error log's lines, the effects played, stage tables written from a
// short description, and the score file built by Python's struct module.
#pragma once

#include <gtest/gtest.h>

#include <cstdint>
#include <istream>
#include <map>
#include <string>
#include <vector>

#include "tests/support/test_util.h"

namespace nura::game_test {

// The test's own working folder (the game reads and writes relative to it).
// Failures reported once per session are reported again in it.
class GameFolder {
 public:
  GameFolder();
  std::string operator/(const std::string& name) const { return m_dir / name; }
  const std::string& path() const { return m_dir.path(); }

 private:
  test::TempDir m_dir;
  test::ScopedChdir m_chdir;
};

// Copies the data folder `from` into the folder `to`, leaving out what play
// writes there (the score file, damaged score files kept aside, the error
// log): a folder someone has played in still gives a fresh game.
void CopyGameData(const std::string& from, const std::string& to);

// The texts of the lines in "ErrorLog.txt" (the part after " : "), or none.
std::vector<std::string> ErrorLogTexts();
// The same of each line read from in.
std::vector<std::string> LogLineTexts(std::istream& in);

// The sound effects played since the recorder's last reset, in order, named
// through a map from their samples' checksum ("?" for samples not in it).
std::vector<std::string> EffectsPlayed(const std::map<std::uint32_t, std::string>& nameByCrc);

// One stage of the tables.
struct StageSpec {
  int number = 1;
  std::vector<std::vector<int>> floors;  // left, top, right, bottom
  int startX = 0, startY = 0;
  std::vector<int> goal;                 // left, top, right, bottom
  int timeA = 10, timeB = 20, limit = 60;
  std::vector<std::vector<int>> enemies;  // race, a, b, c, d
  std::vector<std::pair<int, int>> path;  // direction, frames
};
// Writes "Floor.dat" and "StageData.dat" (CR LF lines) in the working folder.
void WriteStages(const std::vector<StageSpec>& stages);
// The same with a plain stage (a floor, the goal far from the start) for
// every stage a course plays that stages leave out, as the game's start check
// requires.
void WritePlayableStages(std::vector<StageSpec> stages);

// Runs a Python program in the working folder; its standard output.
std::string Python(const std::string& program);
// The score file as Python's struct.pack('<i4s', ...) builds it: 110 slots of
// (3000000, "QZX"), header bytes 4 to 7 = 1 and the three flag bytes, then
// the given slots.
struct SlotValue {
  int slot;
  int time;
  std::string name;  // up to 4 bytes, zero-padded
};
std::vector<std::uint8_t> PythonScoreImage(const std::vector<SlotValue>& slots, const std::string& flags = "");

}  // namespace nura::game_test

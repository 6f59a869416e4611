// The stage tables as the game reads them, for the data-folder tests.
#pragma once

#include <map>
#include <string>
#include <vector>

#include "tests/assets/assets_support.h"

namespace nura::assets_test {

struct Box {
  int left, top, right, bottom;
};

struct Enemy {
  int race, a, b, c, d;
};

struct Stage {
  int number = 0;
  int starts = 0, goals = 0, times = 0;  // how many rows of each single-valued prefix
  int startX = 0, startY = 0;
  Box goal{};
  int timeA = 0, timeB = 0, limit = 0;  // seconds, as stored
  std::vector<Box> floors;
  std::vector<Enemy> enemies;
  std::vector<std::pair<int, int>> path;  // direction, frames
};

// Both tables read from the data folder; problems (malformed cells, unknown
// prefixes, wrong cell counts) are collected rather than thrown.
struct Stages {
  std::map<int, Stage> byNumber;
  std::vector<std::string> problems;
};
Stages LoadStages();

// Strict decimal integer (what the game's atoi reads, with nothing left over).
bool ParseInt(const std::string& cell, int* value);

}  // namespace nura::assets_test

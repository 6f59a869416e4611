// The stage description (assets/stages.txt) and the two tables the game reads
// from it: "Floor.dat" and "StageData.dat".
#pragma once

#include <string>
#include <vector>

#include "assets/generator/output.h"

namespace assetgen {

struct FieldRect {
  int left, top, right, bottom;
};

struct EnemyEntry {
  int race, a, b, c, d;  // 1 patrol-x, 2 circle, 3 homing, 4 still, 5 patrol-y
};

struct PathStep {
  int direction;  // 0 left, 1 up, 2 right, 3 down
  int frames;
};

struct StageSpec {
  int number = 0;
  int startX = 0, startY = 0;
  FieldRect goal{};
  int timeA = 0, timeB = 0, limit = 0;  // whole seconds
  std::vector<FieldRect> floors;
  std::vector<EnemyEntry> enemies;
  std::vector<PathStep> path;
};

// Reads the description; throws with the line number on any mistake.
std::vector<StageSpec> ReadStageDescription(const std::string& path);
std::vector<StageSpec> ParseStageDescription(const std::string& text);

// The tables' text: decimal cells, every line ended by CR LF.
std::string FloorTableText(const std::vector<StageSpec>& stages);
std::string StageTableText(const std::vector<StageSpec>& stages);
void WriteStageTables(Output& out, const std::vector<StageSpec>& stages);

}  // namespace assetgen

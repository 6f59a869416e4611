#include "assets/generator/stages.h"

#include <fstream>
#include <map>
#include <sstream>
#include <stdexcept>

namespace assetgen {

namespace {

[[noreturn]] void Fail(int line, const std::string& what) {
  throw std::runtime_error("stages: line " + std::to_string(line) + ": " + what);
}

int ToInt(const std::string& s, int line) {
  size_t used = 0;
  int v = 0;
  try {
    v = std::stoi(s, &used);
  } catch (const std::exception&) {
    Fail(line, "not a number: " + s);
  }
  if (used != s.size()) Fail(line, "not a number: " + s);
  return v;
}

// "key=value" words of an enemy line.
std::map<std::string, int> KeyValues(std::istringstream& in, int line) {
  std::map<std::string, int> kv;
  std::string word;
  while (in >> word) {
    size_t eq = word.find('=');
    if (eq == std::string::npos) Fail(line, "expected key=value: " + word);
    kv[word.substr(0, eq)] = ToInt(word.substr(eq + 1), line);
  }
  return kv;
}

int Take(std::map<std::string, int>& kv, const std::string& key, int line) {
  auto it = kv.find(key);
  if (it == kv.end()) Fail(line, "missing " + key + "=");
  int v = it->second;
  kv.erase(it);
  return v;
}

void CheckStage(const StageSpec& s, bool hasStart, bool hasGoal, bool hasTime, int line) {
  if (!hasStart || !hasGoal || !hasTime || s.floors.empty())
    Fail(line, "stage " + std::to_string(s.number) + " needs start, goal, time and at least one floor");
}

}  // namespace

std::vector<StageSpec> ParseStageDescription(const std::string& text) {
  std::vector<StageSpec> stages;
  std::istringstream lines(text);
  std::string raw;
  int lineNo = 0, stageLine = 0;
  bool hasStart = false, hasGoal = false, hasTime = false;
  while (std::getline(lines, raw)) {
    ++lineNo;
    std::string l = raw.substr(0, raw.find('#'));
    std::istringstream in(l);
    std::string key;
    if (!(in >> key)) continue;
    if (key == "stage") {
      if (!stages.empty()) CheckStage(stages.back(), hasStart, hasGoal, hasTime, stageLine);
      std::string n;
      in >> n;
      StageSpec s;
      s.number = ToInt(n, lineNo);
      if (s.number <= 0) Fail(lineNo, "stage numbers start at 1");
      for (const StageSpec& o : stages)
        if (o.number == s.number) Fail(lineNo, "stage " + n + " given twice");
      stages.push_back(s);
      stageLine = lineNo;
      hasStart = hasGoal = hasTime = false;
      continue;
    }
    if (stages.empty()) Fail(lineNo, "'" + key + "' before the first stage");
    StageSpec& s = stages.back();
    std::vector<int> nums;
    auto numbers = [&](size_t count) {
      nums.clear();
      std::string w;
      while (in >> w) nums.push_back(ToInt(w, lineNo));
      if (nums.size() != count) Fail(lineNo, key + " takes " + std::to_string(count) + " numbers");
    };
    if (key == "start") {
      numbers(2);
      s.startX = nums[0];
      s.startY = nums[1];
      hasStart = true;
    } else if (key == "goal") {
      numbers(4);
      s.goal = {nums[0], nums[1], nums[2], nums[3]};
      hasGoal = true;
    } else if (key == "floor") {
      numbers(4);
      s.floors.push_back({nums[0], nums[1], nums[2], nums[3]});
    } else if (key == "time") {
      numbers(3);
      s.timeA = nums[0];
      s.timeB = nums[1];
      s.limit = nums[2];
      hasTime = true;
    } else if (key == "path") {
      std::string dir, frames;
      while (in >> dir) {
        if (!(in >> frames)) Fail(lineNo, "path step without frames");
        int d = dir == "left" ? 0 : dir == "up" ? 1 : dir == "right" ? 2 : dir == "down" ? 3 : -1;
        if (d < 0) Fail(lineNo, "unknown direction " + dir);
        s.path.push_back({d, ToInt(frames, lineNo)});
      }
    } else if (key == "enemy") {
      std::string kind;
      in >> kind;
      auto kv = KeyValues(in, lineNo);
      EnemyEntry e{};
      int x = Take(kv, "x", lineNo), y = Take(kv, "y", lineNo);
      if (kind == "patrol-x" || kind == "patrol-y") {
        e = {kind == "patrol-x" ? 1 : 5, Take(kv, "range", lineNo), Take(kv, "speed", lineNo), x, y};
      } else if (kind == "circle") {
        e = {2, Take(kv, "radius", lineNo), Take(kv, "speed", lineNo), x, y};
      } else if (kind == "homing") {
        e = {3, 0, 0, x, y};
      } else if (kind == "still") {
        e = {4, 0, 0, x, y};
      } else {
        Fail(lineNo, "unknown enemy " + kind);
      }
      if (!kv.empty()) Fail(lineNo, "unknown key " + kv.begin()->first + "=");
      s.enemies.push_back(e);
    } else {
      Fail(lineNo, "unknown word " + key);
    }
  }
  if (stages.empty()) throw std::runtime_error("stages: no stage");
  CheckStage(stages.back(), hasStart, hasGoal, hasTime, stageLine);
  return stages;
}

std::vector<StageSpec> ReadStageDescription(const std::string& path) {
  std::ifstream f(path, std::ios::binary);
  if (!f) throw std::runtime_error("cannot read " + path);
  std::stringstream ss;
  ss << f.rdbuf();
  return ParseStageDescription(ss.str());
}

namespace {
std::string Row(std::initializer_list<int> cells) {
  std::string s;
  for (int c : cells) {
    if (!s.empty()) s += ',';
    s += std::to_string(c);
  }
  return s + "\r\n";
}
}  // namespace

std::string FloorTableText(const std::vector<StageSpec>& stages) {
  std::string t;
  for (const StageSpec& s : stages)
    for (const FieldRect& f : s.floors) t += Row({s.number, f.left, f.top, f.right, f.bottom});
  return t;
}

std::string StageTableText(const std::vector<StageSpec>& stages) {
  std::string t;
  for (const StageSpec& s : stages) {
    t += Row({s.number, 0, s.startX, s.startY});
    t += Row({s.number, 1, s.goal.left, s.goal.top, s.goal.right, s.goal.bottom});
    for (const EnemyEntry& e : s.enemies) t += Row({s.number, 2, e.race, e.a, e.b, e.c, e.d});
    for (const PathStep& p : s.path) t += Row({s.number, 3, p.direction, p.frames});
    t += Row({s.number, 4, s.timeA, s.timeB, s.limit});
  }
  return t;
}

void WriteStageTables(Output& out, const std::vector<StageSpec>& stages) {
  out.Text("Floor.dat", FloorTableText(stages));
  out.Text("StageData.dat", StageTableText(stages));
}

}  // namespace assetgen

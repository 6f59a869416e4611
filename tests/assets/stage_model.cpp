#include "tests/assets/stage_model.h"

#include <cstdlib>

#include "tests/support/test_util.h"

namespace nura::assets_test {

bool ParseInt(const std::string& cell, int* value) {
  if (cell.empty() || cell.size() > 9) return false;
  size_t i = cell[0] == '-' ? 1 : 0;
  if (i == cell.size()) return false;
  for (; i < cell.size(); ++i)
    if (cell[i] < '0' || cell[i] > '9') return false;
  *value = std::atoi(cell.c_str());
  return true;
}

Stages LoadStages() {
  Stages s;
  auto rowInts = [&](const std::string& file, size_t r, const std::vector<std::string>& row, std::vector<int>* out) {
    out->clear();
    for (const std::string& cell : row) {
      int v;
      if (!ParseInt(cell, &v)) {
        s.problems.push_back(file + " row " + std::to_string(r) + ": cell '" + cell + "' is not a number");
        return false;
      }
      out->push_back(v);
    }
    return true;
  };
  std::vector<int> v;
  Table floors = ReadTable(test::ReadFileBytes(DataPath("Floor.dat")));
  for (size_t r = 0; r < VisitedRows(floors); ++r) {
    if (!rowInts("Floor.dat", r, floors[r], &v)) continue;
    if (v.size() != 5) {
      s.problems.push_back("Floor.dat row " + std::to_string(r) + " has " + std::to_string(v.size()) + " cells");
      continue;
    }
    Stage& st = s.byNumber[v[0]];
    st.number = v[0];
    st.floors.push_back({v[1], v[2], v[3], v[4]});
  }
  Table data = ReadTable(test::ReadFileBytes(DataPath("StageData.dat")));
  for (size_t r = 0; r < VisitedRows(data); ++r) {
    if (!rowInts("StageData.dat", r, data[r], &v)) continue;
    static const size_t kCells[5] = {4, 6, 7, 4, 5};
    if (v.size() < 2 || v[1] < 0 || v[1] > 4 || v.size() != kCells[v[1]]) {
      s.problems.push_back("StageData.dat row " + std::to_string(r) + ": unknown prefix or wrong cell count");
      continue;
    }
    Stage& st = s.byNumber[v[0]];
    st.number = v[0];
    switch (v[1]) {
      case 0: st.startX = v[2], st.startY = v[3], ++st.starts; break;
      case 1: st.goal = {v[2], v[3], v[4], v[5]}, ++st.goals; break;
      case 2: st.enemies.push_back({v[2], v[3], v[4], v[5], v[6]}); break;
      case 3: st.path.emplace_back(v[2], v[3]); break;
      case 4: st.timeA = v[2], st.timeB = v[3], st.limit = v[4], ++st.times; break;
    }
  }
  return s;
}

}  // namespace nura::assets_test

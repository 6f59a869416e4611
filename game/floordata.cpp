#include "game/floordata.h"

#include <algorithm>
#include <climits>
#include <cstring>

#include "game/gamehelpers.h"
#include "game/tablecheck.h"
#include "qel/appbase/qelerrorlog.h"

namespace {

// The cell's number as the C library's atoi reads it (leading blanks, a sign,
// digits up to the first other byte), saturated instead of overflowing.
std::int32_t CellToInt(const std::string& cell) {
  std::size_t i = 0;
  while (i < cell.size() && (cell[i] == ' ' || (cell[i] >= '\t' && cell[i] <= '\r'))) ++i;
  bool negative = false;
  if (i < cell.size() && (cell[i] == '+' || cell[i] == '-')) negative = cell[i++] == '-';
  std::int64_t value = 0;
  for (; i < cell.size() && cell[i] >= '0' && cell[i] <= '9'; ++i) {
    value = value * 10 + (cell[i] - '0');
    if (value > static_cast<std::int64_t>(INT32_MAX) + 1) value = static_cast<std::int64_t>(INT32_MAX) + 1;
  }
  if (negative) value = -value;
  return static_cast<std::int32_t>(std::clamp<std::int64_t>(value, INT32_MIN, INT32_MAX));
}

std::int32_t SecondsToMs(std::int32_t seconds) {
  return static_cast<std::int32_t>(std::clamp<std::int64_t>(std::int64_t{seconds} * 1000, INT32_MIN, INT32_MAX));
}

const std::vector<RECT> kNoFloors;

// A table read without rows gives no stage anything: it is as good as missing.
bool HoldsRows(const C_CsvTable& table, const char* name) {
  if (table.GetRowCount() > 0) return true;
  g_ErrorLog.ReportOnce(std::string(name) + " holds no rows");
  return false;
}

// A position moved along the preview path. A table may place the start at
// the edge of the numbers: the position saturates there instead of wrapping.
std::int32_t Moved(std::int32_t position, std::int64_t by) {
  return static_cast<std::int32_t>(std::clamp<std::int64_t>(position + by, INT32_MIN, INT32_MAX));
}

}  // namespace

std::uint32_t C_FloorData::CellsOfPrefix(std::int32_t prefix) {
  switch (prefix) {
    case kPrefixStart: return 4;    // x, y
    case kPrefixGoal: return 6;     // left, top, right, bottom
    case kPrefixEnemy: return 7;    // race, a, b, c, d
    case kPrefixPath: return 4;     // direction, frames
    case kPrefixTimes: return 5;    // time A, time B, limit
    default: return 0;
  }
}

C_FloorData::C_FloorData() {
  LoadFloors();
  m_Records.emplace_back();
}

std::vector<std::string> C_FloorData::UnusableTables() {
  // Read again here: the floor table itself is not kept, only its floors.
  C_CsvTable floors;
  const bool floorsRead = m_bFloorTableRead && floors.Load(kFloorFile);
  C_CsvTable stages;
  const bool stagesRead = stages.Load(kStageFile) && HoldsRows(stages, kStageFile);
  const C_TableFaults faults = CheckStageTables(floorsRead ? &floors : nullptr, stagesRead ? &stages : nullptr);
  std::vector<std::string> unusable;
  if (!floorsRead || !faults.floors.empty()) unusable.push_back(floorsRead ? faults.floors : kFloorFile);
  if (!stagesRead || !faults.stages.empty()) unusable.push_back(stagesRead ? faults.stages : kStageFile);
  return unusable;
}

void C_FloorData::LoadFloors() {
  C_CsvTable table;
  m_bFloorTableRead = table.Load(kFloorFile) && HoldsRows(table, kFloorFile);
  // Rows skipped here are said by the start's check (UnusableTables), by
  // their lines as the box numbers them.
  for (std::uint32_t row = 0; row < table.GetRowCount(); ++row) {
    if (table.GetColumnCount(row) < 5) continue;
    std::int32_t stage = CellToInt(table.GetCell(row, 0));
    if (stage < 0 || stage > kMaxStage) continue;
    if (static_cast<std::size_t>(stage) >= m_Floors.size()) m_Floors.resize(static_cast<std::size_t>(stage) + 1);
    m_Floors[static_cast<std::size_t>(stage)].push_back(RECT{CellToInt(table.GetCell(row, 1)),
                                                             CellToInt(table.GetCell(row, 2)),
                                                             CellToInt(table.GetCell(row, 3)),
                                                             CellToInt(table.GetCell(row, 4))});
  }
}

void C_FloorData::LoadStage(std::int32_t stage) {
  if (stage < 0 || stage > kMaxStage) {
    g_ErrorLog.Printf("C_FloorData::LoadStageにおいて、不正なステージ番号を検出。 stage = %d", stage);
    stage = 0;
  }
  if (static_cast<std::size_t>(stage) >= m_Records.size()) m_Records.resize(static_cast<std::size_t>(stage) + 1);
  m_nStage = stage;
  C_StageRecord& record = m_Records[static_cast<std::size_t>(stage)];
  record.path.clear();
  record.enemies.clear();

  C_CsvTable table;
  table.Load(kStageFile);
  for (std::uint32_t row = 0; row < table.GetRowCount(); ++row)
    if (CellToInt(table.GetCell(row, 0)) == stage) ReadStageRow(table, row, record);

  record.bestTime = static_cast<std::int32_t>(Clamp(m_Score.GetScore(stage), record.timeLimit, 0));
  std::memset(record.bestName, 0, sizeof record.bestName);
  std::strncpy(record.bestName, m_Score.GetName(stage), sizeof record.bestName - 1);
}

void C_FloorData::ReadStageRow(const C_CsvTable& table, std::uint32_t row, C_StageRecord& record) {
  const std::uint32_t cells = table.GetColumnCount(row);
  const std::int32_t prefix = cells >= 2 ? CellToInt(table.GetCell(row, 1)) : 0;
  const std::uint32_t needed = CellsOfPrefix(prefix);
  if (cells >= 2 && needed == 0) {
    g_ErrorLog.Printf("StageData.dat内に異常なプレフィクスが見つかりました。line = %d, prefix = %d",
                      static_cast<int>(row), prefix);
    return;
  }
  if (cells < 2 || cells < needed) {
    g_ErrorLog.Printf("StageData.dat内に列の足りない行が見つかりました。line = %d", static_cast<int>(row));
    return;
  }
  auto value = [&](std::uint32_t column) { return CellToInt(table.GetCell(row, column)); };
  switch (prefix) {
    case 0:
      record.startX = value(2);
      record.startY = value(3);
      break;
    case 1:
      record.goal = RECT{value(2), value(3), value(4), value(5)};
      break;
    case 2:
      record.enemies.push_back(C_EnemyEntry{value(2), value(3), value(4), value(5), value(6)});
      break;
    case 3:
      record.path.push_back(C_PathStep{value(2), value(3)});
      break;
    case 4:
      record.thresholdA = SecondsToMs(value(2));
      record.thresholdB = SecondsToMs(value(3));
      record.timeLimit = SecondsToMs(value(4));
      break;
  }
}

C_EnemyEntry C_FloorData::GetEnemy(std::int32_t i) const {
  const auto& enemies = Current().enemies;
  if (i < 0 || static_cast<std::size_t>(i) >= enemies.size()) return C_EnemyEntry{0, 0, 0, 0, 0};
  return enemies[static_cast<std::size_t>(i)];
}

bool C_FloorData::CheckFloor(std::int32_t n) {
  // Both messages name xLeft whichever accessor asked.
  if (m_nStage < 0 || static_cast<std::size_t>(m_nStage) >= m_Floors.size()) {
    g_ErrorLog.Printf("C_FloorData::xLeftにおいて、不正なステージ番号を検出。 nStage() = %d", nStage());
    return false;
  }
  if (n < 0 || static_cast<std::size_t>(n) >= m_Floors[static_cast<std::size_t>(m_nStage)].size()) {
    g_ErrorLog.Printf("C_FloorData::xLeftにおいて、不正な床番号を検出。 number = %d", n);
    return false;
  }
  return true;
}

std::int32_t C_FloorData::FloorCount() {
  if (m_nStage < 0 || static_cast<std::size_t>(m_nStage) >= m_Floors.size()) {
    g_ErrorLog.Printf("C_FloorData::xLeftにおいて、不正なステージ番号を検出。 nStage() = %d", nStage());
    return 0;
  }
  return static_cast<std::int32_t>(m_Floors[static_cast<std::size_t>(m_nStage)].size());
}

std::int32_t C_FloorData::xLeft(std::int32_t n) { return CheckFloor(n) ? GetFloors()[n].left : 0; }
std::int32_t C_FloorData::GetTop(std::int32_t n) { return CheckFloor(n) ? GetFloors()[n].top : 0; }
std::int32_t C_FloorData::GetRight(std::int32_t n) { return CheckFloor(n) ? GetFloors()[n].right : 0; }
std::int32_t C_FloorData::GetBottom(std::int32_t n) { return CheckFloor(n) ? GetFloors()[n].bottom : 0; }

const std::vector<RECT>& C_FloorData::GetFloors() const {
  if (m_nStage < 0 || static_cast<std::size_t>(m_nStage) >= m_Floors.size()) return kNoFloors;
  return m_Floors[static_cast<std::size_t>(m_nStage)];
}

bool C_FloorData::StepPath(std::int32_t* x, std::int32_t* y, std::int32_t frame) {
  const std::vector<C_PathStep>& path = Current().path;
  if (frame == 0) {
    m_nPathDx = m_nPathDy = m_nPathFrames = 0;
    for (const C_PathStep& step : path) {
      switch (step.direction) {
        case 0: m_nPathDx -= step.frames; break;
        case 1: m_nPathDy -= step.frames; break;
        case 2: m_nPathDx += step.frames; break;
        case 3: m_nPathDy += step.frames; break;
      }
      m_nPathFrames += step.frames;
    }
    m_nPathDx *= 10;
    m_nPathDy *= 10;
  }
  const std::int64_t f = frame;
  if (f >= m_nPathFrames + 40) return false;
  if (f >= m_nPathFrames) {
    // Back to the start; the truncating divisions may leave the point a pixel
    // short of it.
    const std::int64_t t = f - m_nPathFrames;
    *x = Moved(*x, ((t - 1) * m_nPathDx) / 40 - (t * m_nPathDx) / 40);
    *y = Moved(*y, ((t - 1) * m_nPathDy) / 40 - (t * m_nPathDy) / 40);
    return true;
  }
  std::int64_t r = f;
  for (const C_PathStep& step : path) {
    if (step.frames > r) {
      switch (step.direction) {
        case 0: *x = Moved(*x, -10); break;
        case 1: *y = Moved(*y, -10); break;
        case 2: *x = Moved(*x, 10); break;
        case 3: *y = Moved(*y, 10); break;
      }
      return true;
    }
    r -= step.frames;
  }
  return true;  // only a path with negative step lengths gets here
}

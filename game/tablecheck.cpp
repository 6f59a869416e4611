#include "game/tablecheck.h"

#include <cstdint>
#include <map>
#include <set>
#include <vector>

#include "game/courses.h"
#include "game/enemy.h"
#include "game/floordata.h"
#include "game/floorhit.h"
#include "qel/appbase/qelerrorlog.h"

namespace {

constexpr std::int32_t kField = C_FloorData::kFieldSize;
// The body's reference point lies this far right of and below its position.
constexpr std::int64_t kReferenceOffset = 13;

enum class Cell { kWhole, kNotWhole, kTooLarge, kTooSmall };

// A whole number that fits 32 bits, with blanks around it allowed. Anything
// else is damage: atoi would read random bytes as 0 and play them, and clamp
// or wrap a number past 32 bits.
Cell ParseWhole(const std::string& cell, std::int32_t* out) {
  std::size_t begin = 0, end = cell.size();
  auto blank = [](char c) { return c == ' ' || c == '\t'; };
  while (begin < end && blank(cell[begin])) ++begin;
  while (end > begin && blank(cell[end - 1])) --end;
  bool negative = false;
  if (begin < end && (cell[begin] == '+' || cell[begin] == '-')) negative = cell[begin++] == '-';
  if (begin == end) return Cell::kNotWhole;
  std::int64_t value = 0;
  bool pastRange = false;  // digits past 2147483648, beyond either end of the range
  for (std::size_t i = begin; i < end; ++i) {
    if (cell[i] < '0' || cell[i] > '9') return Cell::kNotWhole;
    if (!pastRange) value = value * 10 + (cell[i] - '0');
    pastRange = pastRange || value > std::int64_t{INT32_MAX} + 1;
  }
  value = negative ? -value : value;
  if (pastRange || value > INT32_MAX) return negative ? Cell::kTooSmall : Cell::kTooLarge;
  *out = static_cast<std::int32_t>(value);
  return Cell::kWhole;
}

// Said of a row, or of a whole table, that ends its lines with LF alone.
constexpr const char* kWithoutCR = " without CR; the game's tables end each row with CR LF";

bool InField(std::int64_t v) { return v >= 0 && v < kField; }

// One table's findings: its first fault, and what play passes over.
class TableCheck {
 public:
  TableCheck(const char* file, const C_CsvTable& table) : m_file(file), m_table(table) {}

  bool Faulty() const { return !m_fault.empty(); }
  const std::string& Fault() const { return m_fault; }

  // An empty line: said and passed over.
  bool Empty(std::uint32_t row) {
    if (m_table.GetColumnCount(row) != 1 || m_table.GetCell(row, 0).find_first_not_of(" \t") != std::string::npos)
      return false;
    Note(row, "it is empty and is passed over");
    return true;
  }
  // The row's first count values; false (a fault) when it is shorter or one
  // of them is no whole number. Values beyond count are said.
  bool Values(std::uint32_t row, std::uint32_t count, const std::string& what, std::int32_t* values) {
    const std::uint32_t cells = m_table.GetColumnCount(row);
    if (cells < count) {
      Fault(row, "it holds " + std::to_string(cells) + (cells == 1 ? " value; " : " values; ") + what + " needs " +
                     std::to_string(count));
      return false;
    }
    for (std::uint32_t c = 0; c < count; ++c) {
      const Cell cell = ParseWhole(m_table.GetCell(row, c), &values[c]);
      if (cell == Cell::kWhole) continue;
      const std::string range = " for the table, which holds " + std::to_string(INT32_MIN) + " to " +
                                std::to_string(INT32_MAX);
      Fault(row, "value " + std::to_string(c + 1) +
                     (cell == Cell::kTooLarge   ? " is a whole number too large" + range
                      : cell == Cell::kTooSmall ? " is a whole number too small" + range
                                                : " is not a whole number"));
      return false;
    }
    return true;
  }
  // False once the table is at fault; first of all when its lines end with LF
  // alone, since it then reads as one row whose cells would not name the cause.
  bool RowsReadable() {
    if (m_table.LinesEndWithoutCR()) Fault(Whole(std::string("its lines end") + kWithoutCR));
    return !Faulty();
  }
  // A row that holds a line feed ends with LF alone and took in the line
  // after it, whatever else it holds: that line end is the fault, before
  // anything its cells would say (values past those read, an unknown prefix)
  // and before what the row it took in leaves missing.
  bool EndsWithoutCR(std::uint32_t row) {
    for (std::uint32_t c = 0; c < m_table.GetColumnCount(row); ++c)
      if (m_table.GetCell(row, c).find('\n') != std::string::npos) {
        Fault(row, std::string("it ends") + kWithoutCR);
        return true;
      }
    return false;
  }
  // Values beyond the count read: said, since an extra column may be a
  // misplaced one; once for the table, since one appended to every row would
  // otherwise bury everything else said.
  void Extra(std::uint32_t row, std::uint32_t count) {
    const std::uint32_t cells = m_table.GetColumnCount(row);
    if (cells <= count || m_nExtraRows++ > 0) return;
    m_nFirstExtraNote = m_Notes.size();
    m_nFirstExtraRow = row;
    Note(row, "it holds " + std::to_string(cells) + " values; those after value " + std::to_string(count) +
                  " are not read");
  }
  void Fault(std::uint32_t row, const std::string& what) { Fault(Line(row) + what); }
  void Fault(const std::string& text) {
    if (Faulty()) return;
    Say();
    m_fault = text;
    g_ErrorLog.ReportOnce(m_fault);
  }
  // Kept until Say, in row order.
  void Note(std::uint32_t row, const std::string& what) { m_Notes.push_back(Line(row) + what); }
  // Says the notes kept.
  void Say() {
    if (m_nExtraRows > 1)
      m_Notes[m_nFirstExtraNote] =
          Whole(std::to_string(m_nExtraRows) + " rows hold values past those the game reads (first at line " +
                std::to_string(m_nFirstExtraRow + 1) + "); they are not read");
    for (const std::string& note : m_Notes) g_ErrorLog.ReportOnce(note);
    m_Notes.clear();
    m_nExtraRows = 0;
  }
  std::string Whole(const std::string& what) const { return std::string(m_file) + ": " + what; }

 private:
  std::string Line(std::uint32_t row) const { return std::string(m_file) + ", line " + std::to_string(row + 1) + ": "; }

  const char* m_file;
  const C_CsvTable& m_table;
  std::string m_fault;
  std::vector<std::string> m_Notes;
  std::uint32_t m_nExtraRows = 0;  // rows with values past those read
  std::uint32_t m_nFirstExtraRow = 0;
  std::size_t m_nFirstExtraNote = 0;
};

bool ListedStage(std::int32_t stage) { return stage >= 1 && stage <= C_FloorData::kMaxStage; }

std::string StageOutOfRange(std::int32_t stage) {
  return "stage " + std::to_string(stage) + " is not one of 1 to " + std::to_string(C_FloorData::kMaxStage) +
         ", so the row is never used";
}

using StageFloors = std::map<std::int32_t, std::vector<RECT>>;

// The floors of each stage that has any, or none when the table is at fault.
StageFloors CheckFloors(TableCheck& check, const C_CsvTable& table) {
  StageFloors stages;
  for (std::uint32_t row = 0; row < table.GetRowCount() && check.RowsReadable(); ++row) {
    std::int32_t v[5];
    if (check.EndsWithoutCR(row) || check.Empty(row) || !check.Values(row, 5, "a floor row", v)) continue;
    check.Extra(row, 5);
    if (!ListedStage(v[0])) {
      check.Note(row, StageOutOfRange(v[0]));
      continue;
    }
    const std::string floor = "the floor (" + std::to_string(v[1]) + ", " + std::to_string(v[2]) + ") to (" +
                              std::to_string(v[3]) + ", " + std::to_string(v[4]) + ") of stage " +
                              std::to_string(v[0]);
    if (v[3] <= v[1] || v[4] <= v[2])
      check.Fault(row, floor + " has no area: its right and bottom must lie beyond its left and top");
    else if (v[3] <= 0 || v[4] <= 0 || v[1] >= kField || v[2] >= kField)
      check.Fault(row, floor + " lies outside the field (0 to " + std::to_string(kField) + " across and down)");
    stages[v[0]].push_back(RECT{v[1], v[2], v[3], v[4]});
  }
  check.Say();
  if (check.Faulty()) stages.clear();
  return stages;
}

struct ListedRows {
  bool start = false;
  bool goal = false;
  bool times = false;
};

// "(left, top) to (right, bottom)" of four values.
std::string Corners(const std::int32_t* v) {
  std::string text;
  for (int i = 0; i < 4; ++i) text.append(i == 0 ? "(" : i == 2 ? ") to (" : ", ").append(std::to_string(v[i]));
  return text + ")";
}

// The stage's floors, or null when they are not known or it has none.
const std::vector<RECT>* FloorsOf(const StageFloors* floors, std::int32_t stage) {
  if (!floors) return nullptr;
  const auto found = floors->find(stage);
  return found == floors->end() ? nullptr : &found->second;
}

// What keeps the goal of a stage from being reached, or nothing. It is
// reached when the body's point lies in it, its edges included; `floors` is
// null when the stage's floors are not known.
std::string GoalFault(const std::int32_t* v, const std::vector<RECT>* floors) {
  if (v[2] < v[0] || v[3] < v[1])
    return " holds no point: its right and bottom must not lie before its left and top";
  if (v[2] < 0 || v[3] < 0 || v[0] >= kField || v[1] >= kField)
    return " lies outside the field (0 to " + std::to_string(kField - 1) + " across and down)";
  if (floors && !MeetsFloor(*floors, RECT{v[0], v[1], v[2], v[3]}))
    return " lies on none of its floors, so the stage cannot be cleared";
  return std::string();
}

// Every stage a course plays, and every other stage the stage table lists.
std::set<std::int32_t> RequiredStages(const std::map<std::int32_t, ListedRows>& listed) {
  std::set<std::int32_t> stages;
  for (std::int32_t stage = 1; stage <= kLastCourseStage; ++stage) stages.insert(stage);
  for (const auto& entry : listed) stages.insert(entry.first);
  return stages;
}

std::string CoursesPlay() { return " (courses play stages 1 to " + std::to_string(kLastCourseStage) + ")"; }

// The stages listed, each with what its rows gave. Starts and goals are
// checked against the floors when those are known (`floors` is not null) and
// the stage has some (a stage without is the floor table's fault).
std::map<std::int32_t, ListedRows> CheckStages(TableCheck& check, const C_CsvTable& table,
                                               const StageFloors* floors) {
  std::map<std::int32_t, ListedRows> listed;
  for (std::uint32_t row = 0; row < table.GetRowCount() && check.RowsReadable(); ++row) {
    std::int32_t v[7];
    if (check.EndsWithoutCR(row) || check.Empty(row) || !check.Values(row, 2, "a row", v)) continue;
    const std::int32_t stage = v[0], prefix = v[1];
    const std::uint32_t needed = C_FloorData::CellsOfPrefix(prefix);
    if (needed == 0) {
      check.Note(row, "prefix " + std::to_string(prefix) + " is not one the game knows, so the row is not read");
      continue;
    }
    if (!check.Values(row, needed, "a row of prefix " + std::to_string(prefix), v)) continue;
    check.Extra(row, needed);
    if (!ListedStage(stage)) {
      check.Note(row, StageOutOfRange(stage));
      continue;
    }
    ListedRows& rows = listed[stage];
    const std::string of = " of stage " + std::to_string(stage);
    const std::vector<RECT>* onFloors = FloorsOf(floors, stage);
    if (prefix == C_FloorData::kPrefixStart) {
      rows.start = true;
      const std::string start = "the start (" + std::to_string(v[2]) + ", " + std::to_string(v[3]) + ")" + of;
      const std::string point = " (its point " + std::to_string(kReferenceOffset) + " px in must lie ";
      if (!InField(v[2] + kReferenceOffset) || !InField(v[3] + kReferenceOffset))
        check.Fault(row, start + " puts the body outside the field" + point + "within 0 to " +
                             std::to_string(kField - 1) + " across and down)");
      else if (onFloors && !OnFloor(*onFloors, v[2] + kReferenceOffset, v[3] + kReferenceOffset))
        check.Fault(row, start + " puts the body on none of its floors" + point + "on one)");
    } else if (prefix == C_FloorData::kPrefixGoal) {
      rows.goal = true;
      const std::string fault = GoalFault(v + 2, onFloors);
      if (!fault.empty()) check.Fault(row, "the goal " + Corners(v + 2) + of + fault);
    } else if (prefix == C_FloorData::kPrefixEnemy) {
      // Play leaves such an enemy out and only logs it: said like a prefix
      // the game does not know.
      if (v[2] < 1 || v[2] > kLastEnemyRace)
        check.Note(row, "race " + std::to_string(v[2]) + " is not one the game knows (1 to " +
                            std::to_string(kLastEnemyRace) + "), so the enemy is left out");
    } else if (prefix == C_FloorData::kPrefixTimes) {
      rows.times = true;
      if (v[4] < 1)
        check.Fault(row, "the time limit" + of + " is " + std::to_string(v[4]) + " s; it must be at least 1 s");
    }
  }
  check.Say();
  if (!check.Faulty() && listed.empty()) check.Fault(check.Whole("it lists no stage (no row of a stage 1 to 99)"));
  // In stage order, so that the first fault named is the first stage a
  // player would meet.
  for (const std::int32_t stage : RequiredStages(listed)) {
    const std::string name = "stage " + std::to_string(stage);
    const auto rows = listed.find(stage);
    if (rows == listed.end()) {
      check.Fault(check.Whole(name + " is missing" + CoursesPlay()));
      continue;
    }
    if (!rows->second.start) check.Fault(check.Whole(name + " has no start (no row of prefix 0)"));
    if (!rows->second.goal) check.Fault(check.Whole(name + " has no goal (no row of prefix 1)"));
    if (!rows->second.times) check.Fault(check.Whole(name + " has no time limit (no row of prefix 4)"));
  }
  return listed;
}

}  // namespace

C_TableFaults CheckStageTables(const C_CsvTable* floors, const C_CsvTable* stages) {
  static const C_CsvTable kNoTable;
  TableCheck floorCheck(C_FloorData::kFloorFile, floors ? *floors : kNoTable);
  StageFloors withFloors;
  if (floors) withFloors = CheckFloors(floorCheck, *floors);
  const bool floorsKnown = floors && !floorCheck.Faulty();
  TableCheck stageCheck(C_FloorData::kStageFile, stages ? *stages : kNoTable);
  std::map<std::int32_t, ListedRows> listed;
  if (stages) listed = CheckStages(stageCheck, *stages, floorsKnown ? &withFloors : nullptr);
  // Every stage played needs its floors; without them the body would float
  // over the void. The courses' stages need them whatever the stage table
  // holds.
  if (floorsKnown)
    for (const std::int32_t stage : RequiredStages(listed))
      if (!withFloors.count(stage))
        floorCheck.Fault(floorCheck.Whole("stage " + std::to_string(stage) + " has no floors"));
  return {floorCheck.Fault(), stageCheck.Fault()};
}

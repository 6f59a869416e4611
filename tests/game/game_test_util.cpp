#include "tests/game/game_test_util.h"

#include <filesystem>
#include <fstream>
#include <set>
#include <sstream>

#include "game/courses.h"
#include "platform/testing.h"
#include "qel/appbase/qelerrorlog.h"

namespace nura::game_test {

GameFolder::GameFolder() : m_chdir(m_dir.path()) { g_ErrorLog.ForgetReports(); }

void CopyGameData(const std::string& from, const std::string& to) {
  for (const auto& entry : std::filesystem::directory_iterator(from)) {
    const std::string name = entry.path().filename().string();
    if (name == "score.dat" || name.rfind("score.dat.bad", 0) == 0 || name == "ErrorLog.txt") continue;
    std::filesystem::copy(entry.path(), std::filesystem::path(to) / name, std::filesystem::copy_options::recursive);
  }
}

std::vector<std::string> ErrorLogTexts() {
  std::ifstream in("ErrorLog.txt", std::ios::binary);
  return LogLineTexts(in);
}

std::vector<std::string> LogLineTexts(std::istream& in) {
  std::vector<std::string> texts;
  std::string line;
  while (std::getline(in, line, '\n')) {
    if (!line.empty() && line.back() == '\r') line.pop_back();
    std::size_t at = line.find(" : ");
    texts.push_back(at == std::string::npos ? line : line.substr(at + 3));
  }
  return texts;
}

std::vector<std::string> EffectsPlayed(const std::map<std::uint32_t, std::string>& nameByCrc) {
  std::vector<std::string> names;
  for (const auto& e : platform::test::AudioEventsOf(platform::test::AudioEventKind::BufferPlay)) {
    auto it = nameByCrc.find(e.crc);
    names.push_back(it == nameByCrc.end() ? "?" : it->second);
  }
  return names;
}

namespace {
std::string Row(std::initializer_list<int> head, const std::vector<int>& rest) {
  std::ostringstream out;
  bool first = true;
  for (int v : head) {
    out << (first ? "" : ",") << v;
    first = false;
  }
  for (int v : rest) out << "," << v;
  out << "\r\n";
  return out.str();
}
}  // namespace

void WriteStages(const std::vector<StageSpec>& stages) {
  std::string floors;
  std::string data;
  for (const StageSpec& s : stages) {
    for (const auto& f : s.floors) floors += Row({s.number}, f);
    data += Row({s.number, 0, s.startX, s.startY}, {});
    if (!s.goal.empty()) data += Row({s.number, 1}, s.goal);
    data += Row({s.number, 4, s.timeA, s.timeB, s.limit}, {});
    for (const auto& e : s.enemies) data += Row({s.number, 2}, e);
    for (const auto& p : s.path) data += Row({s.number, 3, p.first, p.second}, {});
  }
  test::WriteFileText("Floor.dat", floors);
  test::WriteFileText("StageData.dat", data);
}

void WritePlayableStages(std::vector<StageSpec> stages) {
  std::set<int> given;
  for (const StageSpec& s : stages) given.insert(s.number);
  for (int n = 1; n <= kLastCourseStage; ++n) {
    if (given.count(n)) continue;
    StageSpec plain;
    plain.number = n;
    plain.floors = {{0, 0, 1000, 1000}};
    plain.startX = plain.startY = 500;
    plain.goal = {900, 900, 950, 950};
    plain.path = {{2, 3}};
    stages.push_back(plain);
  }
  WriteStages(stages);
}

std::string Python(const std::string& program) {
  test::WriteFileText("gen.py", program);
  std::string out;
  test::RunTool("/usr/bin/python3 gen.py", &out);
  return out;
}

namespace {
std::string PyBytes(const std::string& text) {
  std::ostringstream out;
  out << "bytes([";
  for (unsigned char c : text) out << static_cast<int>(c) << ",";
  out << "])";
  return out.str();
}
}  // namespace

std::vector<std::uint8_t> PythonScoreImage(const std::vector<SlotValue>& slots, const std::string& flags) {
  std::ostringstream program;
  program << "import struct\n"
          << "img = bytearray(b''.join(struct.pack('<i4s', 3000000, b'QZX') for _ in range(110)))\n"
          << "flags = " << PyBytes(flags) << "\n"
          << "img[4:8] = bytes([1]) + flags + bytes(3 - len(flags))\n";
  for (const SlotValue& v : slots)
    program << "img[8 * " << v.slot << ":8 * " << v.slot << " + 8] = struct.pack('<i4s', " << v.time << ", "
            << PyBytes(v.name) << ")\n";
  program << "open('expected.dat', 'wb').write(img)\n";
  Python(program.str());
  return test::ReadFileBytes("expected.dat");
}

}  // namespace nura::game_test

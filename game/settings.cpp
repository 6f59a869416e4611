#include "game/settings.h"

#include <initializer_list>
#include <vector>

#include "platform/win_kernel.h"

C_Settings g_Settings;

namespace {

constexpr std::int32_t kMissing = 10000;

bool IsSeparator(char c) { return c == '\\' || c == '/'; }

// Removes a final folder spelled as one of the names (with its separator)
// from a folder string that ends in a separator.
void StripFinalFolder(std::string& folder, std::initializer_list<const char*> names) {
  for (const char* name : names) {
    const std::string tail = std::string(name) + folder.back();
    if (folder.size() < tail.size() || folder.compare(folder.size() - tail.size(), tail.size(), tail) != 0)
      continue;
    const std::size_t start = folder.size() - tail.size();
    if (start != 0 && !IsSeparator(folder[start - 1])) continue;
    folder.erase(start);
    return;
  }
}

}  // namespace

std::string SettingsPathFor(const std::string& program) {
  std::size_t cut = program.size();
  while (cut > 0 && !IsSeparator(program[cut - 1])) --cut;
  std::string folder = program.substr(0, cut);
  if (!folder.empty()) StripFinalFolder(folder, {"DEBUG", "debug", "Debug"});
  if (!folder.empty()) StripFinalFolder(folder, {"RELEASE", "release", "Release"});
  return folder + C_Settings::kFileName;
}

std::string ProgramFileName() {
  std::vector<char> buffer(256);
  for (;;) {
    const DWORD n = GetModuleFileNameA(nullptr, buffer.data(), static_cast<DWORD>(buffer.size()));
    if (n == 0) return std::string();
    if (n < buffer.size()) return std::string(buffer.data(), n);
    buffer.resize(buffer.size() * 2);  // cut short: try a larger buffer
  }
}

std::int32_t C_Settings::ReadInt(const char* section, const char* key) const {
  return static_cast<std::int32_t>(GetPrivateProfileIntA(section, key, kMissing, path.c_str()));
}

bool C_Settings::ReadBool(const char* section, const char* key) const { return ReadInt(section, key) > 0; }

void C_Settings::Load() {
  path = SettingsPathFor(ProgramFileName());
  LIFE_INFINITY = ReadBool(kSection, "LIFE_INFINITY");
  START_STAGE = ReadInt(kSection, "START_STAGE");
  SKIP_NAMEENTRY = ReadBool(kSection, "SKIP_NAMEENTRY");
  START_LIFE = ReadInt(kSection, "START_LIFE");
  // The game runs with these whatever the file holds.
  LIFE_INFINITY = false;
  START_STAGE = 1;
  SKIP_NAMEENTRY = false;
  START_LIFE = 4;
}

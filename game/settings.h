// The game's settings, read from "nura.ini" beside the program. The values
// the game runs with are fixed whatever the file holds: a miss always costs
// a life and a course starts with four.
#pragma once

#include <cstdint>
#include <string>

class C_Settings {
 public:
  static constexpr const char* kFileName = "nura.ini";
  static constexpr const char* kSection = "Debug";

  // Finds the settings file beside the program and reads the four keys, then
  // sets the fixed values.
  void Load();
  // A missing key reads as 10000.
  std::int32_t ReadInt(const char* section, const char* key) const;
  // True when the value is above 0, so a missing key reads as true.
  bool ReadBool(const char* section, const char* key) const;

  std::string path;
  bool LIFE_INFINITY = false;  // a miss costs no life
  std::int32_t START_STAGE = 1;
  bool SKIP_NAMEENTRY = false;
  std::int32_t START_LIFE = 4;  // lives a course starts with
};

extern C_Settings g_Settings;

// The settings file for a program file: the program's folder less a final
// Debug or Release build folder, then "nura.ini". Both '\' and '/' separate
// folders.
std::string SettingsPathFor(const std::string& program);
// The program's own file name, however long.
std::string ProgramFileName();

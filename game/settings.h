// The game's settings, read from "nura.ini" beside the program. The values
// the game runs with are fixed whatever the file holds: a miss always costs
// a life and a course starts with four.
#pragma once

#include <cstdint>
#include <string>

class C_Settings {
 public:
  std::string path;
  bool LIFE_INFINITY = false;  // a miss costs no life
  std::int32_t START_STAGE = 1;
  bool SKIP_NAMEENTRY = false;
  std::int32_t START_LIFE = 4;  // lives a course starts with
};

extern C_Settings g_Settings;

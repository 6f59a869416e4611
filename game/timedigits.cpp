#include "game/timedigits.h"

#include <algorithm>

#include "game/gamehelpers.h"

C_TimeDigits::C_TimeDigits(std::uint32_t ms) {
  ms = std::min(ms, kLargestShown);
  minutes = ms / 60000;
  tensOfSeconds = ms % 60000 / 10000;
  seconds = ms % 60000 / 1000 % 10;
  tenths = ms % 1000 / 100;
  hundredths = ms % 1000 / 10 % 10;
}

std::string FormatTime(std::uint32_t ms) {
  const auto field = [](std::uint32_t v) { return IntToString(static_cast<std::int32_t>(v), 2); };
  return field(ms / 60000) + ":" + field(ms % 60000 / 1000) + ":" + field(ms % 1000 / 10);
}

// The millisecond clock behind timeGetTime, GetTickCount, Sleep and GetLocalTime:
// the real monotonic clock, or a fake clock that moves only when told to.
#pragma once

#include <cstdint>

#include "platform/win_types.h"

namespace platform::clock {

bool IsFake();
// Milliseconds the fake clock has advanced since it was (re)started; 0 when real.
std::uint64_t FakeElapsedMs();
// Moves the fake clock on (no effect on the real clock).
void Advance(DWORD ms);
// Called once per presented frame: the fake clock's optional cost per frame.
void FramePresented();

}  // namespace platform::clock

// Time: the multimedia timer, tick count, sleep and local time. One u32
// millisecond clock serves timeGetTime and GetTickCount; it is the real
// monotonic clock, or under test a fake clock that moves only by Sleep and
// Advance.
#pragma once

#include "platform/win_types.h"

using MMRESULT = UINT;
constexpr MMRESULT TIMERR_NOERROR = 0;
constexpr MMRESULT TIMERR_NOCANDO = 97;

struct TIMECAPS {
  UINT wPeriodMin;
  UINT wPeriodMax;
};
static_assert(sizeof(TIMECAPS) == 8);

MMRESULT timeGetDevCaps(TIMECAPS* caps, UINT size);
MMRESULT timeBeginPeriod(UINT period);
MMRESULT timeEndPeriod(UINT period);
DWORD timeGetTime();
DWORD GetTickCount();
void Sleep(DWORD milliseconds);
void GetLocalTime(SYSTEMTIME* time);

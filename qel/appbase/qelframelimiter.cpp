#include "qel/appbase/qelframelimiter.h"

#include "platform/mm_timer.h"

namespace {
constexpr DWORD kGiveUpMs = 250;  // later than this, the schedule restarts
constexpr DWORD kMinFramesForStats = 16;
}  // namespace

C_FrameLimiter::C_FrameLimiter() { C_FrameLimiter::SetFps(60); }

void C_FrameLimiter::SetFps(DWORD fps) {
  Reset();
  ClearTotal();
  m_nFrameCount = 0;
  m_nIndex = 0;
  m_nFps = fps;
  if (fps != 0) {
    m_nPeriod = 65536000u / fps;
    m_nPhase = 0;
  }
}

void C_FrameLimiter::Reset() {
  m_nBaseTime = m_StopWatch.Elapsed();
  m_bSkip = 0;
  m_nSkipped = 0;
  m_nSkipCount = 0;
}

void C_FrameLimiter::Wait() {
  DWORD now = m_StopWatch.Elapsed();
  if (m_nFps != 0 && m_nFrameCount % m_nFps == 0) {
    m_nSkipped = m_nSkipCount;
    m_nSkipCount = 0;
  }
  m_aTimes[m_nIndex % kRing] = now;
  if (++m_nIndex == 2 * kRing) m_nIndex = kRing;
  ++m_nFrameCount;

  if (m_nFps == 0) {
    m_aWork[m_nIndex % kRing] = 0;
    return;
  }

  m_nPhase = (m_nPhase & 0xFFFFu) + m_nPeriod;
  DWORD target = m_nPhase >> 16;
  DWORD work = now - m_nBaseTime;
  if (work < target) {
    m_nTotal += work;
    m_aWork[m_nIndex % kRing] = work;
    m_bSkip = 0;
    Sleep(target - work);
    m_nBaseTime += target;
  } else {
    DWORD late = work - target;
    if (late >= kGiveUpMs) late = 0;
    m_bSkip = late >= 3 * target;
    if (m_bSkip) ++m_nSkipCount;
    m_nBaseTime = now - late;
    m_aWork[m_nIndex % kRing] = 0;
  }
}

DWORD C_FrameLimiter::GetMeasuredFps() {
  if (m_nIndex < kMinFramesForStats) return 0;
  DWORD d, intervals;
  if (m_nIndex < kRing) {
    d = m_aTimes[m_nIndex - 1] - m_aTimes[m_nIndex - 16];
    intervals = 15;
  } else {
    d = m_aTimes[(m_nIndex - 1) % kRing] - m_aTimes[m_nIndex % kRing];
    intervals = 31;
  }
  if (d == 0) return 0;
  return (d / 2 + intervals * 1000) / d;
}

DWORD C_FrameLimiter::GetIdlePercent() {
  if (m_nIndex < kMinFramesForStats) return 0;
  DWORD sum = 0;
  for (DWORD i = 0; i < 16; ++i) sum += m_aWork[i];
  return 100 - sum * m_nFps / 160;
}

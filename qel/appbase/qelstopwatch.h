// A pausable stopwatch over the shared millisecond clock, and a wrapper that
// keeps the value read at its last update. Times are unsigned milliseconds
// and wrap modulo 2^32.
#pragma once

#include "platform/win_types.h"

class C_StopWatch {
 public:
  C_StopWatch();
  virtual ~C_StopWatch();
  C_StopWatch(const C_StopWatch&) = delete;
  C_StopWatch& operator=(const C_StopWatch&) = delete;

  virtual void Reset();
  virtual DWORD Elapsed();
  virtual void SetElapsed(DWORD ms);
  // Pauses nest; the clock stops at the outermost Pause and restarts at the
  // matching Resume.
  virtual void Pause();
  virtual void Resume();

 private:
  static DWORD Now();

  DWORD m_nStart = 0;
  DWORD m_nPauseTime = 0;
  LONG m_nPauseDepth = 0;
};

class C_CachedStopWatch {
 public:
  C_CachedStopWatch() = default;

  virtual void Reset() { m_Watch.Reset(); }
  virtual DWORD GetCached() { return m_nCached; }
  virtual void SetElapsed(DWORD ms) { m_Watch.SetElapsed(ms); }
  virtual void Pause() { m_Watch.Pause(); }
  virtual void Resume() { m_Watch.Resume(); }
  virtual void Update() { m_nCached = m_Watch.Elapsed(); }

 private:
  C_StopWatch m_Watch;
  DWORD m_nCached = 0;
};

// Paces the frames at a fixed rate: Wait, called once per frame after the
// drawing, sleeps out the rest of the frame period. The period is kept in
// 16.16 fixed-point milliseconds so that rates that do not divide 1000 are met;
// lost time beyond 250 ms is given up. Keeps the measured rate, the idle share
// and the count of late frames.
#pragma once

#include "platform/win_types.h"
#include "qel/appbase/qelstopwatch.h"

class C_FrameLimiter {
 public:
  static constexpr DWORD kRing = 32;

  C_FrameLimiter();
  virtual ~C_FrameLimiter() = default;
  C_FrameLimiter(const C_FrameLimiter&) = delete;
  C_FrameLimiter& operator=(const C_FrameLimiter&) = delete;

  // Restarts schedule and statistics; 0 turns pacing off.
  virtual void SetFps(DWORD fps);
  virtual DWORD GetFps() { return m_nFps; }
  // 0 until 16 frames have been counted since SetFps.
  virtual DWORD GetMeasuredFps();
  virtual DWORD GetIdlePercent();
  virtual DWORD GetSkippedFrames() { return m_nSkipped; }
  virtual void Reset();
  virtual void Wait();
  // True when the last frame came at least three periods late.
  virtual bool IsSkip() { return m_bSkip != 0; }
  virtual void ClearTotal() { m_nTotal = 0; }
  virtual DWORD GetTotal() { return m_nTotal; }
  virtual void ClearFrameCount() { m_nFrameCount = 0; }
  virtual DWORD GetFrameCount() { return m_nFrameCount; }

  // The schedule's start of the current period (stopwatch ms), for tests.
  DWORD GetBaseTime() const { return m_nBaseTime; }

 private:
  DWORD m_nFps = 0;
  DWORD m_nPeriod = 0;  // ms, 16.16
  DWORD m_nBaseTime = 0;
  DWORD m_nPhase = 0;   // low 16 bits carry the fractional millisecond
  DWORD m_nTotal = 0;
  DWORD m_aTimes[kRing] = {};
  DWORD m_aWork[kRing] = {};
  DWORD m_nIndex = 0;   // 0 .. 63; 32 and above: the ring is full
  DWORD m_nFrameCount = 0;
  BYTE m_bSkip = 0;
  DWORD m_nSkipped = 0;
  DWORD m_nSkipCount = 0;
  C_StopWatch m_StopWatch;
};

#include "qel/appbase/qelstopwatch.h"

#include "qel/appbase/qeltimesource.h"

C_StopWatch::C_StopWatch() {
  GetTimeSourceHolder().AddRef();
  Reset();
}

C_StopWatch::~C_StopWatch() { GetTimeSourceHolder().Release(); }

DWORD C_StopWatch::Now() { return GetTimeSource()->GetTime(); }

void C_StopWatch::Reset() {
  m_nStart = Now();
  m_nPauseDepth = 0;
}

DWORD C_StopWatch::Elapsed() { return (m_nPauseDepth < 1 ? Now() : m_nPauseTime) - m_nStart; }

void C_StopWatch::SetElapsed(DWORD ms) { m_nStart = (m_nPauseDepth < 1 ? Now() : m_nPauseTime) - ms; }

void C_StopWatch::Pause() {
  if (m_nPauseDepth++ == 0) m_nPauseTime = Now();
}

void C_StopWatch::Resume() {
  if (--m_nPauseDepth == 0) m_nStart += Now() - m_nPauseTime;
}

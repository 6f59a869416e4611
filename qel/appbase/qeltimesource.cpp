#include "qel/appbase/qeltimesource.h"

namespace {
// Constant-initialised, so stopwatches built before main find it ready.
constinit C_TimeSourceHolder g_TimeSourceHolder;
constexpr UINT kFinePeriodLimit = 10;
}  // namespace

C_TimeSourceHolder& GetTimeSourceHolder() { return g_TimeSourceHolder; }
C_TimeSource* GetTimeSource() { return g_TimeSourceHolder.GetSource(); }

C_TimeSource::C_TimeSource() {
  if (timeGetDevCaps(&m_Caps, sizeof(m_Caps)) == TIMERR_NOERROR && m_Caps.wPeriodMin < kFinePeriodLimit) {
    m_bTimer = true;
    timeBeginPeriod(m_Caps.wPeriodMin);
  } else {
    m_Caps.wPeriodMin = 1;
  }
}

C_TimeSource::~C_TimeSource() {
  if (m_bTimer) timeEndPeriod(m_Caps.wPeriodMin);
}

DWORD C_TimeSource::GetTime() const { return m_bTimer ? timeGetTime() : GetTickCount(); }

C_TimeSourceHolder::~C_TimeSourceHolder() {
  delete m_pSource;
  m_pSource = nullptr;
}

bool C_TimeSourceHolder::AddRef() {
  if (m_nRef++ != 0) return false;
  m_pSource = CreateSource();
  return true;
}

bool C_TimeSourceHolder::Release() {
  if (m_nRef == 0) return false;
  if (--m_nRef != 0) return false;
  delete m_pSource;
  m_pSource = nullptr;
  return true;
}

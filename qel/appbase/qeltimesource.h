// The shared millisecond clock. It raises the multimedia timer's resolution
// while it exists; the holder creates it for the first stopwatch and deletes
// it with the last.
#pragma once

#include "platform/mm_timer.h"

class C_TimeSource {
 public:
  C_TimeSource();
  virtual ~C_TimeSource();
  C_TimeSource(const C_TimeSource&) = delete;
  C_TimeSource& operator=(const C_TimeSource&) = delete;

  // timeGetTime when the multimedia timer is in use, else GetTickCount.
  DWORD GetTime() const;
  bool UsesMultimediaTimer() const { return m_bTimer; }

 private:
  bool m_bTimer = false;
  TIMECAPS m_Caps{};
};

class C_TimeSourceHolder {
 public:
  constexpr C_TimeSourceHolder() = default;
  virtual ~C_TimeSourceHolder();
  C_TimeSourceHolder(const C_TimeSourceHolder&) = delete;
  C_TimeSourceHolder& operator=(const C_TimeSourceHolder&) = delete;

  // True when this reference created the clock.
  bool AddRef();
  // True when this reference deleted the clock.
  bool Release();
  C_TimeSource* GetSource() const { return m_pSource; }

 protected:
  virtual C_TimeSource* CreateSource() { return new C_TimeSource; }

 private:
  C_TimeSource* m_pSource = nullptr;
  unsigned m_nRef = 0;
};

C_TimeSourceHolder& GetTimeSourceHolder();
// Null while no stopwatch exists.
C_TimeSource* GetTimeSource();

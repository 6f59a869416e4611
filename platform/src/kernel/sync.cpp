// Critical sections (recursive pthread mutexes kept inside the record) and the
// interlocked operations (sequentially consistent atomics).
#include <pthread.h>

#include <cstdlib>
#include <new>

#include "platform/win_kernel.h"

namespace {
static_assert(sizeof(pthread_mutex_t) <= sizeof(CRITICAL_SECTION::storage));
static_assert(alignof(pthread_mutex_t) <= 16);

pthread_mutex_t* Mutex(LPCRITICAL_SECTION cs) { return std::launder(reinterpret_cast<pthread_mutex_t*>(cs->storage)); }
}  // namespace

void InitializeCriticalSection(LPCRITICAL_SECTION cs) {
  pthread_mutexattr_t attr;
  pthread_mutexattr_init(&attr);
  pthread_mutexattr_settype(&attr, PTHREAD_MUTEX_RECURSIVE);
  pthread_mutex_init(new (cs->storage) pthread_mutex_t, &attr);
  pthread_mutexattr_destroy(&attr);
  cs->initialised = true;
}

void EnterCriticalSection(LPCRITICAL_SECTION cs) {
  if (!cs->initialised) std::abort();  // the original would fault as well
  pthread_mutex_lock(Mutex(cs));
}

BOOL TryEnterCriticalSection(LPCRITICAL_SECTION cs) {
  if (!cs->initialised) std::abort();
  return pthread_mutex_trylock(Mutex(cs)) == 0 ? TRUE : FALSE;
}

void LeaveCriticalSection(LPCRITICAL_SECTION cs) {
  if (!cs->initialised) std::abort();
  pthread_mutex_unlock(Mutex(cs));
}

void DeleteCriticalSection(LPCRITICAL_SECTION cs) {
  if (!cs->initialised) return;
  pthread_mutex_destroy(Mutex(cs));
  cs->initialised = false;
}

LONG InterlockedCompareExchange(volatile LONG* target, LONG exchange, LONG comparand) {
  LONG expected = comparand;
  __atomic_compare_exchange_n(target, &expected, exchange, false, __ATOMIC_SEQ_CST, __ATOMIC_SEQ_CST);
  return expected;  // the initial value either way
}

LONG InterlockedExchange(volatile LONG* target, LONG value) { return __atomic_exchange_n(target, value, __ATOMIC_SEQ_CST); }

LONG InterlockedIncrement(volatile LONG* target) { return __atomic_add_fetch(target, 1, __ATOMIC_SEQ_CST); }

LONG InterlockedDecrement(volatile LONG* target) { return __atomic_sub_fetch(target, 1, __ATOMIC_SEQ_CST); }

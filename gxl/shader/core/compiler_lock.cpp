#include "gxl/shader/core/compiler_lock.h"

#include <mutex>

namespace gxl::shader {

namespace {

std::recursive_mutex& Mutex() {
  static std::recursive_mutex mutex;
  return mutex;
}

}  // namespace

void CompilerLock::Enter() { Mutex().lock(); }
void CompilerLock::Leave() { Mutex().unlock(); }

}  // namespace gxl::shader

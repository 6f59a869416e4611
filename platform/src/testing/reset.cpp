#include <mutex>
#include <vector>

#include "platform/testing.h"

namespace platform::test {
namespace {
std::vector<void (*)()>& Resets() {
  static std::vector<void (*)()> resets;
  return resets;
}
}  // namespace

void RegisterReset(void (*reset)()) { Resets().push_back(reset); }

void ResetAll() {
  for (auto* reset : Resets()) reset();
}

}  // namespace platform::test

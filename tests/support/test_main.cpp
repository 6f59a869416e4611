// The main of every test program: headless platform, and a clean platform for
// every test.
#include <gtest/gtest.h>

#include <cstdlib>

#include "platform/testing.h"

namespace {
class ResetPlatform : public testing::EmptyTestEventListener {
  void OnTestStart(const testing::TestInfo&) override { platform::test::ResetAll(); }
};
}  // namespace

int main(int argc, char** argv) {
  setenv("PLATFORM_BACKEND", "headless", 0);
  setenv("SDL_VIDEODRIVER", "dummy", 0);
  setenv("SDL_AUDIODRIVER", "dummy", 0);
  testing::InitGoogleTest(&argc, argv);
  testing::UnitTest::GetInstance()->listeners().Append(new ResetPlatform);
  return RUN_ALL_TESTS();
}

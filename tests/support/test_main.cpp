// The main of every test program: headless platform, and a clean platform for
// every test.
#include <gtest/gtest.h>

#include <cstdlib>
#include <fstream>
#include <sstream>
#include <string>

#include "platform/testing.h"

// The sanitizers' settings, the same as the test environment gives them under
// CTest, for a test program run on its own.
extern "C" const char* __lsan_default_suppressions() {
  static const std::string* text = [] {
    std::ifstream in(NURA_SOURCE_DIR "/tests/lsan.supp");
    std::stringstream ss;
    ss << in.rdbuf();
    return new std::string(ss.str());  // kept for the whole process
  }();
  return text->c_str();
}
extern "C" const char* __ubsan_default_options() { return "print_stacktrace=1:halt_on_error=1"; }

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

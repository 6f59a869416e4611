// Every test starts from the math library's state at process start.
#include "gxl/math/math_testing.h"
#include "platform/testing.h"

namespace {
[[maybe_unused]] const bool kRegistered =
    (platform::test::RegisterReset(&gxl::math::test::ResetMathState), true);
}  // namespace

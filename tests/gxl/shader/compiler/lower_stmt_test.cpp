// Lowering of whole functions and statements.
#include "lower_run.h"

namespace compilertest {
namespace {

TEST(GxlLowerStmt, Smoke) {
  LowerRun run(R"(
uniform float4 tint;
float f(float x, out float y) { y = x * 2; return x + 1; }
float4 main(float2 uv : TEXCOORD0, float c : COLOR0) : COLOR {
  float y;
  float r = f(uv.x, y);
  if (c > 0.5) r = r + y; else r = r - tint.x;
  for (int i = 0; i < 4; i++) r += uv.y;
  return float4(r, y, c, 1) * tint;
})", "main", Ps30());
  ASSERT_EQ(run.hr, S_OK) << run.log;
  std::vector<double> out = run.Run({{"uv", {0.25, 0.5}}, {"c", {0.75}}, {"tint", {1, 2, 3, 4}}});
  ASSERT_EQ(out.size(), 4u);
  EXPECT_DOUBLE_EQ(out[0], 1.25 + 0.5 + 2.0);
  EXPECT_DOUBLE_EQ(out[1], 1.0);
  out = run.Run({{"uv", {0.25, 0.5}}, {"c", {0.25}}, {"tint", {1, 2, 3, 4}}});
  EXPECT_DOUBLE_EQ(out[0], 1.25 - 1 + 2.0);
}

}  // namespace
}  // namespace compilertest

// A loop whose end the compile cannot tell, its condition reading what the
// loop computes, is kept where the profile keeps loops and runs at most the
// profile's iteration limit of 255 passes, whatever its source bound.
#include <gtest/gtest.h>

#include <string>

#include "flow_lane.h"

namespace {

using nura::shtok::Float4;
using shadertest::In;
using shadertest::kBoth;
using shadertest::kTexCoord;

TEST(GxlKeptLoopLimit, LoopWhoseEndTheCompileCannotTellStopsAtTheIterationLimit) {
  const std::string body =
      "  float s = 0;\n"
      "  int i;\n"
      "  for (i = 0; i < 300 && s <= c.x; i++) s += t.x;\n"
      "  return float4(s, i, 0, 1);\n}\n";
  const std::string pixel = "float4 c;\nfloat4 main(float4 t : TEXCOORD0) : COLOR0 {\n" + body;
  const std::string vertex = "float4 c;\nfloat4 main(float4 t : TEXCOORD0) : POSITION {\n" + body;
  struct Case {
    float c, t;
    int passes;  // 255 where the source's own would run on
  };
  const Case kCases[] = {{1000, 1, 255}, {10, 1, 11}, {100, 0.5f, 201}, {-1, 1, 0}};
  for (const char* profile : {"vs_2_a", "vs_2_sw", "vs_3_0", "vs_3_sw", "ps_3_0", "ps_3_sw"})
    for (const DWORD flags : kBoth) {
      SCOPED_TRACE(std::string(profile) + " flags " + std::to_string(flags));
      const bool isPixel = profile[0] == 'p';
      const shadertest::CompiledHlsl c = shadertest::CompileHlsl(isPixel ? pixel : vertex, "main", profile, flags);
      ASSERT_EQ(c.hr, S_OK) << c.log;
      for (const Case& k : kCases) {
        Float4 got;
        std::string error;
        ASSERT_TRUE(shadertest::RunLane(
            c, {{"c", {k.c, 0, 0, 0}}}, {{In(kTexCoord), Float4(k.t, 0, 0, 0)}},
            isPixel ? shadertest::LaneOutput{} : shadertest::LaneOutput{nura::shtok::kUsagePosition, 0}, &got, &error))
            << error;
        EXPECT_EQ(got[0], k.t * float(k.passes)) << "c.x " << k.c << "\n" << c.text;
        EXPECT_EQ(got[1], float(k.passes)) << "c.x " << k.c << "\n" << c.text;
      }
    }
}

}  // namespace

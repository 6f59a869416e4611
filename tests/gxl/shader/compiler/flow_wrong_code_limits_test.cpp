// Loops whose unrolling or flow-control rehearsal once grew without bound
// (every iteration's IR kept, nested loops multiplying the bodies) and ended
// in "internal error: out of memory" after seconds and a gigabyte: each now
// ends in the iteration limit or a "program too complex" limit, or compiles
// where the profile keeps the loop.
#include <gtest/gtest.h>

#include <string>

#include "tests/gxl/shader/compiled_hlsl.h"

namespace {

using shadertest::CompiledHlsl;
using shadertest::CompileHlsl;

constexpr char kIterationLimit[] =
    "error X3511: loop does not appear to terminate in a timely manner (1024 iterations)";
constexpr char kTooComplex[] = "program too complex";

enum class Outcome { kIterationLimit, kAnyLimit, kCode };

TEST(GxlFlowWrongCode, UnboundedLoopShapesEndInALimit) {
  struct Row {
    const char* name;
    const char* profiles;  // space-separated
    Outcome outcome;
    const char* source;
  } rows[] = {
      {"body rewrites the counter", "ps_2_b", Outcome::kIterationLimit,
       "float n0; float4 main(float4 t : TEXCOORD0) : COLOR0 { float4 r = t;\n"
       "  for (int i = 0; i < n0; i++) { r = r * 0.5 + sin(r); if (r.x > 100) i = 0; } return r; }"},
      // 1,024 x 16 bodies: more than the lowering holds, so a limit of either kind.
      {"nested constant loops, counter rewritten", "ps_2_0", Outcome::kAnyLimit,
       "float n0; float4 main(float4 t : TEXCOORD0) : COLOR0 { float4 r = t;\n"
       "  for (int i = 0; i < n0; i++) { for (int j = 0; j < 4; j++) for (int k = 0; k < 4; k++)\n"
       "    r = r * 0.5 + sin(r); if (r.x > 100) i = 0; } return r; }"},
      {"indexed literal matrix in a do-while", "vs_1_1 vs_2_0", Outcome::kAnyLimit,
       "float n; int k;\n"
       "void main(float4 p : POSITION, out float4 pos : POSITION, out float4 o0 : TEXCOORD0) {\n"
       "  pos = p; float r = 0;\n"
       "  for (int i = 0; i <= n; i++) { bool go = true; float d = 0;\n"
       "    do { d += 1; if (r >= i) { go = false; }\n"
       "         else { r += float2x3(1, 0, 0.625, 2.875, 0, 0.0625)[k].x; } } while (d < 5 && go); }\n"
       "  o0 = r; }"},
      {"indexed literal vector in the condition", "vs_2_a", Outcome::kAnyLimit,
       "int n; int m; int k;\n"
       "void main(float4 p : POSITION, out float4 pos : POSITION, out float4 o0 : TEXCOORD0) {\n"
       "  pos = p; int r = 0;\n"
       "  for (int i = 0; i <= n; i++) {\n"
       "    if (r == int3(1, 0, 1)[int4(0, 7, 2, 4)[n]]) { for (int j = 0; j < m; j++) r += j; }\n"
       "    else { r += i; bool go = true; for (int l = 0; l < k && l < 3 && go; l++) r += l; } }\n"
       "  o0 = r; }"},
      // Fits ps_3_0 as a real loop around the unrolled inner ones.
      {"nested constant loops kept as a loop", "ps_3_0", Outcome::kCode,
       "float n0; float4 main(float4 t : TEXCOORD0) : COLOR0 { float4 r = t;\n"
       "  for (int i = 0; i < n0; i++) for (int j = 0; j < 4; j++) for (int k = 0; k < 4; k++)\n"
       "    r = r * 0.5 + sin(r); return r; }"},
  };
  for (const Row& row : rows) {
    std::string profiles = row.profiles;
    for (std::size_t at = 0; at < profiles.size();) {
      std::size_t end = profiles.find(' ', at);
      if (end == std::string::npos) end = profiles.size();
      const std::string profile = profiles.substr(at, end - at);
      at = end + 1;
      SCOPED_TRACE(std::string(row.name) + " " + profile);
      const CompiledHlsl c = CompileHlsl(row.source, "main", profile.c_str(), 0);
      EXPECT_FALSE(c.Logged("internal error")) << c.log;
      if (row.outcome == Outcome::kCode) {
        EXPECT_EQ(c.hr, S_OK) << c.log;
        continue;
      }
      EXPECT_EQ(c.hr, E_FAIL) << c.log;
      if (row.outcome == Outcome::kIterationLimit)
        EXPECT_TRUE(c.Logged(kIterationLimit)) << c.log;
      else
        EXPECT_TRUE(c.Logged(kIterationLimit) || c.Logged(kTooComplex)) << c.log;
    }
  }
}

}  // namespace

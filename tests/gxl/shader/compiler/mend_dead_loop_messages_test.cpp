// A fault inside a loop whose results nothing reads gives the messages the
// same fault gives where the loop's results are read: a program's errors do
// not depend on whether its loop is dead. Each program below is compiled
// twice, differing only in whether the loop's result is read, and the two
// logs must hold the same lines; where nothing around the loop depends on
// its code, as often as each other too. A dead loop the unrolling cannot end
// (X3511) still compiles: it is dead.
#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

#include "flow_lane.h"
#include "tests/gxl/shader/compiled_hlsl.h"

namespace {

using shadertest::CompiledHlsl;
using shadertest::kBoth;

std::vector<std::string> Lines(const std::string& log) {
  std::vector<std::string> lines;
  for (std::size_t at = 0, end; at < log.size(); at = end + 1) {
    end = log.find('\n', at);
    if (end == std::string::npos) end = log.size();
    lines.push_back(log.substr(at, end - at));
  }
  return lines;
}

// Each line once, in the order of its first appearance.
std::vector<std::string> Distinct(const std::vector<std::string>& lines) {
  std::vector<std::string> out;
  for (const std::string& line : lines)
    if (std::find(out.begin(), out.end(), line) == out.end()) out.push_back(line);
  return out;
}

// An unrolled loop over a uniform count reading a sampler array at an index
// that is no literal names the fault; it failed without a message.
TEST(GxlCompilerMend, SamplerIndexesThatAreNoLiteralInUniformLoopsAreNamed) {
  const std::string source =
      "sampler s[2]; float n0; float k;\n"
      "float4 main(float2 t : TEXCOORD0) : COLOR0 {\n"
      "  float4 r = 0;\n"
      "  for (int i = 0; i < n0; i++) r += tex2D(s[k], t);\n"
      "  return r; }";
  for (const char* profile : {"ps_2_0", "ps_2_b", "ps_3_0"}) {
    for (const DWORD flags : kBoth) {
      const CompiledHlsl c = shadertest::CompileHlsl(source, "main", profile, flags);
      EXPECT_EQ(c.hr, E_FAIL);
      EXPECT_EQ(Distinct(Lines(c.log)),
                std::vector<std::string>{"(4): error X3512: sampler array index must be a literal expression"})
          << profile << " " << flags;
    }
  }
}

}  // namespace

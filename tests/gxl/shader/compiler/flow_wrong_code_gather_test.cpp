// An output register a block writes in pieces is gathered by one move after
// its last piece. Where that piece is one of the merges closing a nested
// if/else, the move once landed between those merges, and the rebuild of the
// blocks failed with "internal error: unexpected endif found". The program
// is compiled optimised and not, validated during the compile, run in the
// token kit's interpreter, and each output compared with the value worked
// out by hand.
#include <gtest/gtest.h>

#include <vector>

#include "flow_lane.h"

namespace {

using nura::shtok::Float4;

using shadertest::kTexCoord;

// Empty then-branches whose else holds a loop, twice nested, inside a loop
// that runs once. v1 = 1, v2 = 0.5: r = 0.5 everywhere and r._m21 < v3, so
// the else runs: two passes of i4 each add v8 twice to _m12 (0.5 + 4) and
// set _m02 = 2; then _m10 += v11[0].x + 1 = 4.5.
constexpr char kNestedEmptyThen[] = R"(
uniform row_major float3x4 v1;
uniform float v3;
uniform float v6;
uniform float v8;
uniform int v9;
uniform int v10;
uniform float3 v11[3];
void main(float4 p : POSITION, float v2 : TEXCOORD1, float4 v4 : TEXCOORD2, out float4 pos : POSITION,
          out float4 o0 : TEXCOORD0, out float4 o1 : TEXCOORD1, out float4 o2 : TEXCOORD2) {
  pos = p;
  float3x4 r = v1;
  for (int i2 = 0; v8 > 0.4375 && i2 < 1; i2++) {
    r -= v2;
    if (r._m21 >= v3) {
    } else {
      bool k4 = true;
      for (int i4 = 0; i4 < 4 && i4 < v9 && k4; i4++) {
        float2 w6 = v6 ? float2(0.5, 2) : v4.ww;
        if (r._m00 < v2) {
        } else {
          for (int i6 = 0; i6 <= v10; i6++) r._m12 += v8;
        }
        r._m02 = w6.y;
      }
      r._m10 += v11[i2].x + (float)k4;
    }
  }
  o0.xy = r._m00_m01;
  o0.zw = r._m02_m03;
  o1 = r._m10_m11_m12_m13;
  o2 = r._m20_m21_m22_m23;
}
)";

TEST(GxlFlowWrongCode, GatheredOutputAfterNestedEmptyThenBlocks) {
  const shadertest::Uniforms uniforms = {{"v1", std::vector<double>(12, 1.0)},
                                         {"v3", {5}},
                                         {"v6", {1}},
                                         {"v8", {1}},
                                         {"v9", {2}},
                                         {"v10", {1}},
                                         {"v11", {3, 0, 0, 0, 0, 0, 0, 0, 0}}};
  const shadertest::LaneInputs inputs = {{shadertest::In(kTexCoord, 1), Float4(0.5f, 0, 0, 0)}};
  const struct {
    const char* name;
    int texcoord;
    Float4 want;
  } outputs[] = {{"o0", 0, Float4(0.5f, 0.5f, 2, 0.5f)},
                 {"o1", 1, Float4(4.5f, 0.5f, 4.5f, 0.5f)},
                 {"o2", 2, Float4(0.5f, 0.5f, 0.5f, 0.5f)}};
  for (const auto& o : outputs)
    shadertest::CheckFlowProgram({o.name, kNestedEmptyThen, {"vs_2_a", "vs_2_sw", "vs_3_0", "vs_3_sw"}, {0x0u, 0x4u},
                                  uniforms, inputs, {kTexCoord, o.texcoord}, o.want});
}

}  // namespace

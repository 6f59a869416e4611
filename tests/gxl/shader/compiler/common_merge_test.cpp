// MergeCommonInstructions by value numbering merges what the reference's
// sorted rounds merge: the same code, token for token, on programs whose
// merges come one link at a time (the counters of unrolled passes compiled
// without the optimiser), and code that computes the value the source gives.
#include <gtest/gtest.h>

#include <cmath>
#include <functional>
#include <string>
#include <vector>

#include "flow_lane.h"
#include "gxl/shader/compiler/shader_compiler.h"
#include "gxl/shader/preprocessor/shader_preprocessor.h"
#include "gxl/tex/com_ref.h"
#include "gxl/tex/data_buffer.h"
#include "tests/gxl/shader/log_text.h"
#include "tests/support/test_util.h"

namespace {

using nura::shtok::Float4;

// One compile through the compiler object, with or without its reference searches.
shadertest::CompiledHlsl CompileWith(const std::string& text, const char* profile, DWORD flags, bool reference,
                                     std::string* log) {
  shadertest::CompiledHlsl c;
  gxl::shader::ShaderPreprocessor pp;
  c.hr = pp.StartFromMemory(text.data(), static_cast<UINT>(text.size()), nullptr, nullptr);
  if (SUCCEEDED(c.hr)) {
    gxl::shader::ShaderCompiler compiler;
    compiler.referenceSearches = reference;
    gxl::ComRef<DataBuffer> produced;
    c.hr = compiler.CompileSource(&pp, nullptr, "main", 0, profile, flags, produced.Put(), c.table.Put());
    if (produced) {
      const auto* words = static_cast<const std::uint32_t*>(produced->GetPointer());
      c.code.assign(words, words + produced->GetSize() / 4);
    }
  }
  *log = shadertest::LogText(pp.Log());
  return c;
}

// A program of one input t whose body runs `passes` times, with what its
// output is, computed here in float from the source.
struct Shape {
  const char* name;
  const char* declarations;  // before the loop
  const char* body;          // the loop's body; the loop's counter is i
  const char* result;
  std::function<Float4(const Float4& t, int passes)> expected;
};

Float4 Map(const Float4& t, const std::function<float(float, int)>& f) {
  Float4 out;
  for (int c = 0; c < 4; ++c) out[c] = f(t[c], c);
  return out;
}

// Counters stepping alike merge one link per round of the reference: two,
// three, one written the other way round (commuted), one under a guard, a
// counter of the loop itself read as a float, and two loops one after the
// other whose counters agree pass by pass.
const Shape kShapes[] = {
    {"two counters", "float x = 0, y = 0;", "x = x + 1; y = y + 1; a = a * 0.5 + t * x; b = b * 0.25 + t * y;",
     "a + b",
     [](const Float4& t, int n) {
       return Map(t, [n](float tc, int) {
         float a = tc, b = tc, x = 0, y = 0;
         for (int i = 0; i < n; ++i) {
           x = x + 1, y = y + 1;
           a = a * 0.5f + tc * x;
           b = b * 0.25f + tc * y;
         }
         return a + b;
       });
     }},
    {"three counters, one commuted", "float x = 0, y = 0, z = 0;",
     "x = x + 1; y = 1 + y; z = z + 1; a = a * 0.5 + t * x; b = b * 0.25 + t * y - z * 0.125;", "a + b",
     [](const Float4& t, int n) {
       return Map(t, [n](float tc, int) {
         float a = tc, b = tc, x = 0, y = 0, z = 0;
         for (int i = 0; i < n; ++i) {
           x = x + 1, y = 1 + y, z = z + 1;
           a = a * 0.5f + tc * x;
           b = b * 0.25f + tc * y - z * 0.125f;
         }
         return a + b;
       });
     }},
    {"counters scaled alike", "float x = 1, y = 1;",
     "x = x * 0.75 + 0.5; y = 0.75 * y + 0.5; a = a * 0.5 + t * x; b = b * 0.25 - t * y;", "a + b",
     [](const Float4& t, int n) {
       return Map(t, [n](float tc, int) {
         float a = tc, b = tc, x = 1, y = 1;
         for (int i = 0; i < n; ++i) {
           x = x * 0.75f + 0.5f, y = 0.75f * y + 0.5f;
           a = a * 0.5f + tc * x;
           b = b * 0.25f - tc * y;
         }
         return a + b;
       });
     }},
    {"guarded counters", "float x = 0, y = 0;",
     "if (t.w > 0) x = x + 1; if (t.w > 0) y = y + 1; a = a * 0.5 + t * x; b = b * 0.25 + t * y;", "a + b",
     [](const Float4& t, int n) {
       const bool on = t[3] > 0;
       return Map(t, [n, on](float tc, int) {
         float a = tc, b = tc, x = 0, y = 0;
         for (int i = 0; i < n; ++i) {
           if (on) x = x + 1;
           if (on) y = y + 1;
           a = a * 0.5f + tc * x;
           b = b * 0.25f + tc * y;
         }
         return a + b;
       });
     }},
    {"the loop's counter and a float counter", "float x = 0;",
     "x = x + 1; a = a * 0.5 + t * (float)i; b = b * 0.25 + t * (x - 1);", "a - b",
     [](const Float4& t, int n) {
       return Map(t, [n](float tc, int) {
         float a = tc, b = tc, x = 0;
         for (int i = 0; i < n; ++i) {
           x = x + 1;
           a = a * 0.5f + tc * static_cast<float>(i);
           b = b * 0.25f + tc * (x - 1);
         }
         return a - b;
       });
     }},
};

std::string Source(const Shape& s, int passes, bool vertex) {
  return std::string("float4 main(float4 t : TEXCOORD0) : ") + (vertex ? "POSITION" : "COLOR") +
         " {\n  float4 a = t, b = t;\n  " + s.declarations + "\n  for (int i = 0; i < " + std::to_string(passes) +
         "; i++) { " + s.body + " }\n  return " + s.result + ";\n}\n";
}

// Each shape at profiles that unroll its loop (ps_3_0 and vs_3_0 past 255
// passes, ps_2_sw and vs_1_1 any loop) or keep it, without the optimiser and with it
// (fewer passes: its folds settle the counters over as many rounds): the
// compile with the reference searches gives the same status, messages and
// tokens, and the code computes the source's value.
TEST(GxlCommonMerge, ValueNumberingGivesTheReferenceRoundsCode) {
  const bool full = nura::test::LongMode();
  struct Case {
    const char* profile;
    DWORD flags;
    int passes;
  } const cases[] = {
      {"ps_3_0", 0x4, full ? 1000 : 260}, {"vs_3_0", 0x4, full ? 1000 : 260}, {"ps_2_sw", 0x4, full ? 1000 : 120},
      {"ps_2_sw", 0, full ? 120 : 24},    {"vs_1_1", 0, 8},
      // A 2.x profile's selection, short enough for its slots.
      {"ps_2_a", 0x4, 12}, {"ps_2_a", 0, 12},
      // Loops kept as loops: the counters' reads come before their writes.
      {"ps_3_0", 0x4, 40}, {"vs_3_0", 0, 40},
  };
  const Float4 t(0.3f, -1, 2, 0.5f), off(0.3f, -1, 2, -0.5f);
  for (const Case& k : cases) {
    for (const Shape& s : kShapes) {
      const bool vertex = k.profile[0] == 'v';
      const std::string text = Source(s, k.passes, vertex);
      SCOPED_TRACE(std::string(s.name) + " " + k.profile + " flags " + std::to_string(k.flags) + "\n" + text);
      std::string log, referenceLog;
      const shadertest::CompiledHlsl c = CompileWith(text, k.profile, k.flags, false, &log);
      const shadertest::CompiledHlsl r = CompileWith(text, k.profile, k.flags, true, &referenceLog);
      EXPECT_EQ(c.hr, r.hr);
      EXPECT_EQ(log, referenceLog);
      EXPECT_TRUE(c.code == r.code) << c.code.size() << " tokens against the reference's " << r.code.size();
      ASSERT_EQ(c.hr, S_OK) << log;
      for (const Float4& in : {t, off}) {
        Float4 got;
        std::string error;
        const shadertest::LaneOutput out{vertex ? nura::shtok::kUsagePosition : nura::shtok::kUsageColor, 0};
        ASSERT_TRUE(shadertest::RunLane(c, {}, {{shadertest::In(shadertest::kTexCoord), in}}, out, &got, &error))
            << error;
        const Float4 want = s.expected(in, k.passes);
        for (int i = 0; i < 4; ++i)
          EXPECT_NEAR(got[i], want[i], 1e-5 * std::max(1.0f, std::fabs(want[i]))) << "component " << i;
      }
    }
  }
}

// Two loops one after the other whose counters agree pass by pass: float
// counters, plain, scaled (commuted) and guarded, and the loops' own
// counters; at profiles that unroll any loop, short enough for their slots
// and registers (the merged counters of the first loop stay live through
// the second).
TEST(GxlCommonMerge, CountersOfLoopsSideBySideMergeAsTheReferenceRoundsDo) {
  struct Pair {
    const char* declarations;
    const char* first;   // a's loop, counter i
    const char* second;  // b's loop, counter k
    const Shape& alike;  // the shape of one loop that computes the same
  } const pairs[] = {
      {"float x = 0, y = 0;", "x = x + 1; a = a * 0.5 + t * x;", "y = y + 1; b = b * 0.25 + t * y;", kShapes[0]},
      {"float x = 1, y = 1;", "x = x * 0.75 + 0.5; a = a * 0.5 + t * x;", "y = 0.75 * y + 0.5; b = b * 0.25 - t * y;",
       kShapes[2]},
      {"float x = 0, y = 0;", "if (t.w > 0) x = x + 1; a = a * 0.5 + t * x;",
       "if (t.w > 0) y = y + 1; b = b * 0.25 + t * y;", kShapes[3]},
      {"float x = 0;", "a = a * 0.5 + t * (float)i;", "x = x + 1; b = b * 0.25 + t * (x - 1);", kShapes[4]},
      {"", "a = a * 0.5 + t * (float)i;", "b = b * 0.25 - t * (float)k;", kShapes[4]},
  };
  struct Case {
    const char* profile;
    int passes;
  } const cases[] = {{"vs_2_0", 6}, {"ps_2_b", 12}, {"ps_2_sw", 20}};
  const Float4 t(0.3f, -1, 2, 0.5f);
  for (const Case& k : cases) {
    for (std::size_t n = 0; n < std::size(pairs); ++n) {
      const Pair& s = pairs[n];
      const bool vertex = k.profile[0] == 'v';
      const std::string count = std::to_string(k.passes);
      const std::string text = std::string("float4 main(float4 t : TEXCOORD0) : ") +
                               (vertex ? "POSITION" : "COLOR") + " {\n  float4 a = t, b = t;\n  " + s.declarations +
                               "\n  for (int i = 0; i < " + count + "; i++) { " + s.first + " }\n" +
                               "  for (int k = 0; k < " + count + "; k++) { " + s.second + " }\n  return " +
                               s.alike.result + ";\n}\n";
      SCOPED_TRACE(std::string(k.profile) + "\n" + text);
      std::string log, referenceLog;
      const shadertest::CompiledHlsl c = CompileWith(text, k.profile, 0x4, false, &log);
      const shadertest::CompiledHlsl r = CompileWith(text, k.profile, 0x4, true, &referenceLog);
      EXPECT_EQ(c.hr, r.hr);
      EXPECT_EQ(log, referenceLog);
      EXPECT_TRUE(c.code == r.code) << c.code.size() << " tokens against the reference's " << r.code.size();
      ASSERT_EQ(c.hr, S_OK) << log;
      Float4 got;
      std::string error;
      const shadertest::LaneOutput out{vertex ? nura::shtok::kUsagePosition : nura::shtok::kUsageColor, 0};
      ASSERT_TRUE(shadertest::RunLane(c, {}, {{shadertest::In(shadertest::kTexCoord), t}}, out, &got, &error))
          << error;
      // The last pair: b takes its counter's term away where the shape adds it.
      Float4 want = s.alike.expected(t, k.passes);
      if (n + 1 == std::size(pairs))
        want = Map(t, [&k](float tc, int) {
          float a = tc, b = tc;
          for (int i = 0; i < k.passes; ++i) a = a * 0.5f + tc * static_cast<float>(i);
          for (int i = 0; i < k.passes; ++i) b = b * 0.25f - tc * static_cast<float>(i);
          return a - b;
        });
      for (int i = 0; i < 4; ++i)
        EXPECT_NEAR(got[i], want[i], 1e-5 * std::max(1.0f, std::fabs(want[i]))) << "component " << i;
    }
  }
}

}  // namespace

// Reflections on ps_1_1-1_3: which texCUBE coordinates become a reflection
// marker (R = 2 (n.E) n - E with the eye E in TEXCOORD1-3.w or in one
// constant), and how a marker whose normal is three matrix rows becomes
// texm3x3pad, texm3x3pad, texm3x3vspec / texm3x3spec.
#include <gtest/gtest.h>

#include <algorithm>
#include <string>

#include "../fail_alloc.h"
#include "gxl/shader/backend/select/select_util.h"
#include "ps1_fixture.h"

namespace {

using namespace gxl::shader;
using ps1test::Ps1Run;

// The normal is a sampled vector: no matrix rows, so the matching reports the
// marker it cannot place, after recognition has shown its hand in the dump.
const std::string kHead =
    "samplerCUBE s; sampler s0; float3 k; float3 j; float4 main(float2 uv : TEXCOORD0, float4 e1 : TEXCOORD1, "
    "float4 e2 : TEXCOORD2, float4 e3 : TEXCOORD3) : COLOR { float3 e = float3(e1.w, e2.w, e3.w); float3 v = -e; "
    "float3 w = -k; float3 n = tex2D(s0, uv).xyz; return texCUBE(s, ";

struct Form {
  const char* coordinate;
  const char* marker;   // null: stays a texCUBE
  const char* message;  // the one error, without its ps_1_x tail for 4523
};

const char* const kUnmapped = "error X4523: cannot map this dependent texture read to ps_1_";
const char* const kEyeRead = "error X4512: cannot access w component from texcoord in general expression";

const Form kForms[] = {
    {"reflect(-e, n)", "reflect.w", kUnmapped},
    {"reflect(v, n)", "reflect.w", kUnmapped},
    {"2 * dot(n, e) * n - e", "reflect.w", kUnmapped},
    {"2 * dot(e, n) * n - e", "reflect.w", kUnmapped},
    {"dot(n, e) * n * 2 - e", "reflect.w", kUnmapped},
    {"2 * n * dot(n, e) - e", "reflect.w", kUnmapped},
    {"v - 2 * dot(n, v) * n", "reflect.w", kUnmapped},
    {"v - dot(n, v) * n * 2", "reflect.w", kUnmapped},
    {"-2 * dot(n, v) * n + v", "reflect.w", kUnmapped},
    {"reflect(-k, n)", "reflect.c", kUnmapped},
    {"reflect(w, n)", "reflect.c", kUnmapped},
    {"2 * dot(n, k) * n - k", "reflect.c", kUnmapped},
    {"dot(n, k) * n * 2 - k", "reflect.c", kUnmapped},
    {"w - 2 * dot(n, w) * n", "reflect.c", kUnmapped},
    // Reflections of -E, which neither instruction computes.
    {"reflect(e, n)", nullptr, kEyeRead},
    {"e - 2 * dot(n, e) * n", nullptr, kEyeRead},
    {"reflect(k, n)", nullptr, kUnmapped},
    // No doubling, another factor, another eye subtracted.
    {"dot(n, e) * n - e", nullptr, kEyeRead},
    {"v - dot(n, v) * n", nullptr, kEyeRead},
    {"3 * dot(n, e) * n - e", nullptr, kEyeRead},
    {"2 * dot(n, e) * n - k", nullptr, kEyeRead},
    // Eye components off their own index, of mixed sources, not constant,
    // or in two constant registers; a normal that no rows compute.
    {"reflect(-float3(e2.w, e1.w, e3.w), n)", nullptr, kEyeRead},
    {"reflect(-float3(e1.w, e2.w, k.z), n)", nullptr, kEyeRead},
    {"reflect(-e1.xyz, n)", nullptr, kUnmapped},
    {"reflect(-float3(k.xy, j.z), n)", nullptr, kUnmapped},
    {"reflect(-e, e1.xyz)", nullptr, kEyeRead},
};

// Checks the marker's operands: the sampler, the sampled normal, the eye.
void ExpectMarkerOperands(const Ps1Run& r, bool inConstant) {
  const PixelShader1Target& t = *r.target;
  const IrInstruction& marker = *t.Instruction(t.stageList[0]);
  const IrInstruction& sample = *t.Instruction(t.phaseOneList[0]);
  ASSERT_EQ(marker.argumentCount, 9u);
  for (std::uint32_t c = 0; c < 3; ++c) {
    EXPECT_TRUE(t.BankOf(*t.Value(marker.arguments[c]))->type & kBankSampler);
    EXPECT_EQ(t.ResolveAlias(marker.arguments[3 + c]), sample.results[c]);
    const std::uint32_t eye = marker.arguments[6 + c];
    if (inConstant) {
      EXPECT_TRUE(t.BankOf(*t.Value(eye))->type & kBankUniform);
    } else {
      EXPECT_EQ(t.SemanticOf(eye), Ps1SemanticWord(kPs1Special, c + 1));
    }
    EXPECT_EQ(t.Value(eye)->component, c);
  }
}

TEST(GxlPs1Texture, ReflectionsBecomeMarkers) {
  for (const Form& f : kForms) {
    for (std::uint32_t minor = 1; minor <= 3; ++minor) {
      SCOPED_TRACE(std::string(f.coordinate) + " ps_1_" + std::to_string(minor));
      Ps1Run r(kHead + f.coordinate + "); }", minor);
      std::string message = f.message;
      if (message == kUnmapped) message += std::to_string(minor);
      EXPECT_TRUE(r.Logged(message + "\n")) << r.log;
      EXPECT_EQ(r.Count("error X"), 1) << r.log;
      if (!f.marker) {
        EXPECT_EQ(r.Dump().find("reflect"), std::string::npos) << r.Dump();
        continue;
      }
      // Everything that computed the coordinate went with the texCUBE.
      ASSERT_EQ(r.Dump(), "0:tex2D 1:- 2:- 3:-|0:" + std::string(f.marker) + " 1:- 2:- 3:- mov");
      ExpectMarkerOperands(r, f.marker[8] == 'c');
    }
  }
}

// Doubling folded into a result scale, as the 1.x modifier folding leaves a
// doubled dot product or product when it reads it alone.
class ScaleDoubling : public Ps1Rules {
 public:
  HRESULT FoldResultScale(PixelShader1Target& t, std::uint32_t i) override {
    IrInstruction& inst = *t.Instruction(i);
    const std::uint32_t n = inst.Width();
    if (inst.argumentCount != 2 * n) return 1;
    for (std::uint32_t c = 0; c < n; ++c)
      if (inst.Group() == kOpAdd ? inst.arguments[c] != inst.arguments[n + c]
                                 : !sel::IsLiteral(t, inst.arguments[n + c], 2.0))
        return 1;
    IrInstruction* producer = t.Instruction(t.ProducerOf(inst.arguments[0]));
    if (!producer || producer->resultCount != inst.resultCount) return 1;
    for (std::uint32_t c = 0; c < n; ++c) {
      const std::uint32_t read = inst.arguments[c];
      if (t.Value(read)->binding != 0 || std::find(producer->results, producer->results + producer->resultCount,
                                                   read) == producer->results + producer->resultCount)
        return 1;
    }
    for (std::uint32_t r = 0; r < producer->resultCount; ++r)
      if (CountReadsAt(t, producer->results[r], &i, 1) != t.Value(producer->results[r])->useCount) return 1;
    for (std::uint32_t r = 0; r < producer->resultCount; ++r) {
      producer->results[r] = inst.results[r];
      t.Value(inst.results[r])->binding |= 0x400;
    }
    inst.word = 0;
    inst.argumentCount = inst.resultCount = 0;
    ++folds;
    return S_OK;
  }
  int folds = 0;
};

TEST(GxlPs1Texture, ReflectionsWithTheDoublingScaled) {
  const Form forms[] = {
      {"reflect(-e, n)", "reflect.w", kUnmapped},        {"v - 2 * dot(n, v) * n", "reflect.w", kUnmapped},
      {"2 * dot(n, e) * n - e", "reflect.w", kUnmapped}, {"dot(n, e) * n * 2 - e", "reflect.w", kUnmapped},
      {"v - dot(n, v) * n * 2", "reflect.w", kUnmapped}, {"reflect(e, n)", nullptr, kEyeRead},
  };
  for (const Form& f : forms) {
    SCOPED_TRACE(f.coordinate);
    auto rules = std::make_unique<ScaleDoubling>();
    const ScaleDoubling& seen = *rules;
    Ps1Run r(kHead + f.coordinate + "); }", 2, std::move(rules));
    EXPECT_EQ(seen.folds, 1);
    EXPECT_TRUE(r.Logged(std::string(f.message) + (f.marker ? "2\n" : "\n"))) << r.log;
    EXPECT_EQ(r.Dump().find("reflect") != std::string::npos, f.marker != nullptr) << r.Dump();
  }
}

// Turns the texCUBE into a marker once the folds have run, as recognition
// would if the rows reached it as one vector; the matching does the rest.
class MarkRows : public Ps1Rules {
 public:
  explicit MarkRows(bool inConstant) : m_inConstant(inConstant) {}
  HRESULT LegaliseOperands(PixelShader1Target& t, std::uint32_t i) override {
    const IrInstruction& cube = *t.Instruction(i);
    if (cube.Group() != 0x60F) return 1;
    std::uint32_t arguments[9];
    std::copy(cube.arguments, cube.arguments + 6, arguments);
    for (std::uint32_t c = 0; c < 3; ++c) {
      if (!m_inConstant) {
        if (t.specBank == kNoIndex) t.specBank = t.AddRegisterBank("spec", 81, 1, 4);
        arguments[6 + c] = t.AddValue(t.specBank, 0, c, 0.0);
        t.Value(arguments[6 + c])->registerKey = Ps1SemanticWord(kPs1Special, c + 1);
      }
      for (std::uint32_t v = 0; v < t.values.Count() && m_inConstant; ++v)
        if (t.Value(v) && (t.BankOf(*t.Value(v))->type & (kBankUniform | kBankLiteral)) == kBankUniform &&
            t.Value(v)->component == c)
          arguments[6 + c] = v;
    }
    t.SetCurrentInstruction(i);
    return sel::ReplaceCurrentWith(t, IrWord(m_inConstant ? 0x72D : 0x72C, 3), arguments, 9);
  }

 private:
  bool m_inConstant;
};

TEST(GxlPs1Texture, ReflectionMarkersTakeThreeMatrixRows) {
  const std::string head =
      "samplerCUBE s1; sampler s0; float3 k; float4 main(float2 uv : TEXCOORD0, float3 t1 : TEXCOORD1, "
      "float3 t2 : TEXCOORD2, float3 t3 : TEXCOORD3) : COLOR { float4 a = tex2D(s0, uv); ";
  const std::string rows = "float3(dot(a.xyz, t1), dot(a.xyz, t2), dot(a.xyz, t3))";
  for (std::uint32_t minor = 1; minor <= 3; ++minor) {
    for (const bool inConstant : {false, true}) {
      SCOPED_TRACE(std::to_string(minor) + (inConstant ? " constant" : " texcoord"));
      const std::string tail = inConstant ? " + float4(k, 0); }" : "; }";
      Ps1Run r(head + "return texCUBE(s1, " + rows + ")" + tail, minor, std::make_unique<MarkRows>(inConstant));
      ASSERT_TRUE(r.Placed()) << r.log;
      const std::string rowsPlaced = "0:tex2D 1:texm3x3pad 2:texm3x3pad 3:texm3x3";
      ASSERT_EQ(r.Dump().substr(0, rowsPlaced.size() + 5), rowsPlaced + (inConstant ? "spec " : "vspec")) << r.Dump();
      const IrInstruction& spec = *r.target->Instruction(r.target->stageList[3]);
      ASSERT_EQ(spec.argumentCount, inConstant ? 9u : 6u);
      for (std::uint32_t c = 0; inConstant && c < 3; ++c) {
        const IrValue& eye = *r.target->Value(spec.arguments[6 + c]);
        EXPECT_TRUE(r.target->BankOf(eye)->type & kBankUniform);
        EXPECT_EQ(eye.component, c);
      }

      // Rows out of their stages' order, and a sampler the user put elsewhere.
      Ps1Run swapped(head + "return texCUBE(s1, float3(dot(a.xyz, t2), dot(a.xyz, t1), dot(a.xyz, t3)))" + tail, minor,
                     std::make_unique<MarkRows>(inConstant));
      EXPECT_TRUE(
          swapped.Logged("error X4525: unable to match texm* because the source inputs are not in "
                         "appropriate texture coordinates; see the ps_1_" +
                         std::to_string(minor) + " assembly reference\n"))
          << swapped.log;
      Ps1Run bound("samplerCUBE s2 : register(s2);" + head + "return texCUBE(s2, " + rows + ")" + tail, minor,
                   std::make_unique<MarkRows>(inConstant));
      EXPECT_TRUE(
          bound.Logged("error X4515: cannot bind sampler to user specified stage, sampler must be bound "
                       "to 3\n"))
          << bound.log;
    }
  }
}

// The normal as three matrix rows, written as the texm3x3 form: the second
// phase hands the tree over read row by row (dot(n, e) as one product per
// row summed by a dot with ones, n * s as one product per row), and every
// reflection form still takes texm3x3pad, texm3x3pad and texm3x3vspec /
// texm3x3spec; the other forms keep the messages they give on a sampled normal.
const char* const kRows = "dot(e1.xyz, a), dot(e2.xyz, a), dot(e3.xyz, a)";
std::string RowsSource(const std::string& coordinate, const char* rows = kRows, const char* tail = "") {
  return "samplerCUBE s; sampler s0; float3 k; float3 j; float4 main(float2 uv : TEXCOORD0, float4 e1 : TEXCOORD1, "
         "float4 e2 : TEXCOORD2, float4 e3 : TEXCOORD3) : COLOR { float3 a = tex2D(s0, uv).xyz; float3 n = float3(" +
         std::string(rows) +
         "); float3 e = float3(e1.w, e2.w, e3.w); float3 v = -e; float3 w = -k; return texCUBE(s, " + coordinate + ")" +
         tail + "; }";
}

TEST(GxlPs1Texture, ReflectionsOfThreeMatrixRows) {
  const char* const rowOrders[] = {kRows, "dot(a, e1.xyz), dot(a, e2.xyz), dot(a, e3.xyz)"};
  for (const Form& f : kForms) {
    for (std::uint32_t minor = 1; minor <= 3; ++minor) {
      const char* rows = rowOrders[minor % 2];
      SCOPED_TRACE(std::string(f.coordinate) + " ps_1_" + std::to_string(minor) + " " + rows);
      Ps1Run r(RowsSource(f.coordinate, rows), minor);
      if (!f.marker) {
        std::string message = f.message;
        if (message == kUnmapped) message += std::to_string(minor);
        EXPECT_TRUE(r.Logged(message + "\n")) << r.log;
        EXPECT_EQ(r.Count("error X"), 1) << r.log;
        EXPECT_EQ(r.Dump().find("texm3x3"), std::string::npos) << r.Dump();
        continue;
      }
      const bool inConstant = f.marker[8] == 'c';
      ASSERT_TRUE(r.Placed()) << r.log;
      ASSERT_EQ(r.Dump(),
                std::string("0:tex2D 1:texm3x3pad 2:texm3x3pad 3:texm3x3") + (inConstant ? "spec" : "vspec") + " mov");
      // Each row reads its own stage's coordinate and the sample of stage 0;
      // texm3x3spec reads the eye from the constant's xyz.
      const PixelShader1Target& t = *r.target;
      for (std::uint32_t stage = 1; stage <= 3; ++stage) {
        const IrInstruction& row = *t.Instruction(t.stageList[stage]);
        ASSERT_EQ(row.argumentCount, stage == 3 && inConstant ? 9u : 6u);
        for (std::uint32_t c = 0; c < 3; ++c) {
          EXPECT_EQ(t.SemanticOf(row.arguments[c]), Ps1SemanticWord(kPs1Texcoord, stage));
          EXPECT_EQ(t.SemanticOf(row.arguments[3 + c]), Ps1SemanticWord(kPs1Texcoord, 0));
          if (row.argumentCount < 9) continue;
          const IrValue& eye = *t.Value(row.arguments[6 + c]);
          EXPECT_TRUE(t.BankOf(eye)->type & kBankUniform);
          EXPECT_EQ(eye.component, c);
        }
      }
    }
  }
}

// With the doubling folded into the dot with ones that sums the rows' products.
TEST(GxlPs1Texture, ReflectionsOfThreeMatrixRowsWithTheDoublingScaled) {
  for (const char* coordinate : {"reflect(-e, n)", "v - 2 * dot(n, v) * n", "2 * dot(n, e) * n - e"}) {
    SCOPED_TRACE(coordinate);
    auto rules = std::make_unique<ScaleDoubling>();
    const ScaleDoubling& seen = *rules;
    Ps1Run r(RowsSource(coordinate), 3, std::move(rules));
    EXPECT_EQ(seen.folds, 1);
    ASSERT_TRUE(r.Placed()) << r.log;
    EXPECT_EQ(r.Dump(), "0:tex2D 1:texm3x3pad 2:texm3x3pad 3:texm3x3vspec mov");
  }
}

// Recognised through the rows, a reflection still meets the rows' own checks.
TEST(GxlPs1Texture, ReflectionRowsMisplacedOrReadElsewhere) {
  for (const char* coordinate : {"reflect(-e, n)", "2 * dot(n, k) * n - k"}) {
    for (std::uint32_t minor = 1; minor <= 3; ++minor) {
      SCOPED_TRACE(std::string(coordinate) + " ps_1_" + std::to_string(minor));
      Ps1Run swapped(RowsSource(coordinate, "dot(e2.xyz, a), dot(e1.xyz, a), dot(e3.xyz, a)"), minor);
      EXPECT_TRUE(
          swapped.Logged("error X4525: unable to match texm* because the source inputs are not in "
                         "appropriate texture coordinates; see the ps_1_" +
                         std::to_string(minor) + " assembly reference\n"))
          << swapped.log;
      Ps1Run reused(RowsSource(coordinate, kRows, " * n.y"), minor);
      EXPECT_TRUE(reused.Logged("error X4524: unable to match texm because computed texcoord is used in shader\n"))
          << reused.log;
    }
  }
}

// Failing each allocation of a compile that gathers the rows in turn ends it
// with a failure; the leak checker sees every kept and made instruction freed.
TEST(GxlPs1Texture, ReflectionRowsUnderAllocationFailure) {
  const std::string source = RowsSource("reflect(-e, n)");
  ps1test::ExpectEveryAllocationFailureFails(source, 2);
}

}  // namespace

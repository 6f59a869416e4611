// The pixel shader 1.x arithmetic rules on HLSL sources, read back from the
// placed stage list: result shifts per model, mad fusion, constant negation,
// operand splits, swizzle and write-mask emulation and cnd lowering. Each
// program is also compiled, validated and run in the token kit's interpreter
// over chosen inputs against a C++ reference.
#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <cmath>
#include <functional>
#include <set>
#include <utility>
#include <vector>

#include "gxl/shader/backend/select/select_util.h"
#include "gxl/shader/backend/targets/modifier_folds.h"
#include "gxl/shader/backend/targets/ps1/ps1_standard_rules.h"
#include "gxl/shader/compiler/constant_table.h"
#include "gxl/shader/shader_entry.h"
#include "ps1_fixture.h"
#include "tests/support/shader/decode.h"
#include "tests/support/shader/interp.h"

namespace {

using namespace gxl::shader;
using ps1test::Ps1Run;
using V4 = std::array<double, 4>;

// Inputs in [0, 1] and constants in [-1, 1].
struct Inputs {
  V4 a, b, t, k, j;
};
const Inputs kInputSets[] = {
    {{0.1, 0.2, 0.3, 0.4}, {0.5, 0.6, 0.7, 0.8}, {0.25, 0.5, 0.75, 1}, {0.3, -0.2, 0.1, 0.9}, {-0.4, 0.5, 0.6, -0.1}},
    {{0.9, 0.05, 0.6, 0.35},
     {0.3, 0.95, 0.15, 0.7},
     {0.8, 0.1, 0.4, 1},
     {-0.7, 0.4, 0.25, -0.6},
     {0.1, -0.9, 0.35, 0.8}},
};

using Reference = std::function<V4(const Inputs&)>;

const char* ArithmeticName(std::uint32_t group) {
  switch (group) {
    case 0x300:
      return "cmp";
    case 0x704:
      return "mad-";
    case 0x70F:
      return "cnd";
    default:
      return ps1test::OperationName(group);
  }
}

std::string ResultModifiers(std::uint32_t binding) {
  static const char* const kShifts[] = {"_x2", "_x4", "_x8", "_d2", "_d4", "_d8"};
  std::string out;
  for (std::uint32_t k = 0; k < 6; ++k)
    if (binding & (0x400u << k)) out += kShifts[k];
  if (binding & mod::kSaturate) out += "_sat";
  return out;
}

// "name[shift][_sat].mask a,b,c" per arithmetic entry of the stage list:
// the written components, then per group the components it selects ("l" for
// a literal), separated by spaces.
std::string Describe(const Ps1Run& r) {
  const PixelShader1Target& t = *r.target;
  std::string out;
  for (std::uint32_t k = t.Stages(); k < t.stageList.Count(); ++k) {
    const IrInstruction* inst = t.Instruction(t.stageList[k]);
    if (!inst || inst->word == 0) continue;
    if (!out.empty()) out += " | ";
    out += ArithmeticName(inst->Group());
    if (inst->resultCount) out += ResultModifiers(t.Value(inst->results[0])->binding);
    out += '.';
    for (std::uint32_t j = 0; j < inst->resultCount; ++j) out += "xyzw"[t.Value(inst->results[j])->component & 3];
    const std::uint32_t n = inst->Width();
    for (std::uint32_t a = 0; n && a < inst->argumentCount; ++a) {
      if (a % n == 0) out += ' ';
      const IrValue* v = t.Value(inst->arguments[a]);
      const bool literal = t.BankOf(*v)->type & kBankLiteral;
      if (v->binding & mod::kNegate) out += '-';
      if ((v->binding & 0x70000) == mod::kComplement) out += '~';
      out += literal ? 'l' : "xyzw"[v->component & 3];
    }
  }
  return out;
}

V4 Each(const std::function<double(int)>& f) { return {f(0), f(1), f(2), f(3)}; }

// Code run in the token kit's interpreter in strict mode over every input
// set against the reference, constants set through its constant table.
void ExpectRunValues(const std::uint32_t* words, std::size_t count, const Reference& reference) {
  gxl::ComRef<ConstantTable> table;
  ASSERT_EQ(CreateShaderConstantTable(reinterpret_cast<const DWORD*>(words), table.Put()), S_OK);
  std::string text, error;
  nura::shtok::Disassemble(words, count, &text, &error);
  auto f4 = [](const V4& x) {
    return nura::shtok::Float4(static_cast<float>(x[0]), static_cast<float>(x[1]), static_cast<float>(x[2]),
                               static_cast<float>(x[3]));
  };
  for (const Inputs& in : kInputSets) {
    nura::shtok::Interpreter interp;
    ASSERT_TRUE(interp.Load(words, count, &error)) << error << "\n" << text;
    interp.SetStrict(true);
    const std::pair<const char*, const V4*> constants[] = {{"k", &in.k}, {"j", &in.j}};
    for (const auto& [name, v] : constants) {
      const ConstantHandle handle = table ? table->ConstantByName(nullptr, name) : nullptr;
      ConstantDesc desc{};
      UINT n = 1;
      if (handle && SUCCEEDED(table->DescribeConstants(handle, &desc, &n)))
        interp.SetFloat(static_cast<int>(desc.registerIndex), f4(*v));
    }
    nura::shtok::Lane lane;
    lane.v[0] = f4(in.a);
    lane.v[1] = f4(in.b);
    lane.t[0] = f4(in.t);
    ASSERT_TRUE(interp.Run(&lane, 1, &error)) << error << "\n" << text;
    const V4 expected = reference(in);
    for (int c = 0; c < 4; ++c) EXPECT_NEAR(lane.oC[0][c], expected[c], 1e-5) << "component " << c << "\n" << text;
  }
}

// The source compiled through the public entry point, validated by the
// platform's validator, and run. Literals outside [-1, 1] are clamped on
// these models (warning 4704): such code is not compared.
void ExpectCompiledValues(const std::string& source, int minor, const Reference& reference) {
  const std::string profile = "ps_1_" + std::to_string(minor);
  SCOPED_TRACE(profile);
  gxl::ComRef<DataBuffer> code, messages;
  const HRESULT hr = CompileShaderFromMemory(source.data(), static_cast<UINT>(source.size()), nullptr, nullptr, "main",
                                             profile.c_str(), 0, code.Put(), messages.Put(), nullptr);
  const std::string log = messages ? static_cast<const char*>(messages->GetPointer()) : "";
  ASSERT_EQ(hr, S_OK) << log;
  if (log.find("X4704") == std::string::npos)
    ExpectRunValues(static_cast<const std::uint32_t*>(code->GetPointer()), code->GetSize() / 4, reference);
}

// Every argument group reads its colour components from one instruction:
// no two partial writes have to share a register.
void ExpectOneWriterPerGroup(const Ps1Run& r) {
  const PixelShader1Target& t = *r.target;
  for (std::uint32_t k = t.Stages(); k < t.stageList.Count(); ++k) {
    const IrInstruction* inst = t.Instruction(t.stageList[k]);
    if (!inst || inst->word == 0 || inst->Width() == 0) continue;
    const std::uint32_t n = inst->Width();
    for (std::uint32_t g = 0; g * n < inst->argumentCount; ++g) {
      std::set<std::uint32_t> writers;
      for (std::uint32_t c = 0; c < n; ++c) {
        const std::uint32_t root = t.ResolveAlias(inst->arguments[g * n + c]);
        if (t.IsTemporaryValue(root) && t.Value(root)->component < 3) writers.insert(t.ProducerOf(root));
      }
      EXPECT_LE(writers.size(), 1u) << "entry " << k << " group " << g << ": " << Describe(r);
    }
  }
}

const std::string kColours = "float4 main(float4 a : COLOR0, float4 b : COLOR1) : COLOR { ";
const std::string kUniforms = "float4 k; float4 j; ";
const std::string kWithTexcoord = "float4 main(float4 a : COLOR0, float4 b : COLOR1, float3 c : TEXCOORD0) : COLOR { ";

struct ListCase {
  const char* name;
  std::string source;
  int minor;
  const char* list;  // Describe() of the stage list's arithmetic, in any order
  Reference reference;
  // Models the compiled code runs on: the case's own and ps_1_4.
  bool onOwnModel = true, on14 = true;
};

// The entries of a description in a fixed order: pairing may reorder them,
// and the evaluation already checks that every value is written before it is read.
std::string Sorted(const std::string& list) {
  std::vector<std::string> entries;
  for (std::size_t at = 0; at <= list.size();) {
    const std::size_t end = std::min(list.find(" | ", at), list.size());
    entries.push_back(list.substr(at, end - at));
    at = end + 3;
  }
  std::sort(entries.begin(), entries.end());
  std::string out;
  for (const std::string& e : entries) out += (out.empty() ? "" : " | ") + e;
  return out;
}

void RunCases(const ListCase* cases, std::size_t count) {
  for (std::size_t i = 0; i < count; ++i) {
    const ListCase& c = cases[i];
    SCOPED_TRACE(c.name);
    Ps1Run r(c.source, c.minor);
    ASSERT_TRUE(r.Placed()) << r.log;
    if (*c.list) {
      EXPECT_EQ(Sorted(Describe(r)), Sorted(c.list));
    }
    ExpectOneWriterPerGroup(r);
    if (c.onOwnModel) ExpectCompiledValues(c.source, c.minor, c.reference);
    if (c.on14 && c.minor != 4) ExpectCompiledValues(c.source, 4, c.reference);
  }
}

TEST(GxlPs1Arith, ResultScaleFoldsPerModel) {
  const ListCase cases[] = {
      {"x * 2.0 is one instruction with _x2", kColours + "return (a * b) * 2.0; }", 1, "mul_x2.xyzw xyzw xyzw",
       [](const Inputs& i) { return Each([&](int c) { return 2 * i.a[c] * i.b[c]; }); }},
      {"x * 4.0 on ps_1_2", kColours + "return (a * b) * 4.0; }", 2, "mul_x4.xyzw xyzw xyzw",
       [](const Inputs& i) { return Each([&](int c) { return 4 * i.a[c] * i.b[c]; }); }},
      {"a sum halved on ps_1_3", kColours + "return (a + b) * 0.5; }", 3, "add_d2.xyzw xyzw xyzw",
       [](const Inputs& i) { return Each([&](int c) { return (i.a[c] + i.b[c]) / 2; }); }},
      {"x * 8.0 stays a multiply on ps_1_1", kColours + "return (a * b) * 8.0; }", 1,
       "mul.xyzw xyzw xyzw | mul.xyzw xyzw llll",
       [](const Inputs& i) { return Each([&](int c) { return 8 * i.a[c] * i.b[c]; }); }},
      {"x * 0.25 stays a multiply on ps_1_1", kColours + "return (a + b) * 0.25; }", 1,
       "add.xyzw xyzw xyzw | mul.xyzw xyzw llll",
       [](const Inputs& i) { return Each([&](int c) { return (i.a[c] + i.b[c]) / 4; }); }},
      {"x + x", kColours + "float4 x = a * b; return x + x; }", 1, "mul_x2.xyzw xyzw xyzw",
       [](const Inputs& i) { return Each([&](int c) { return 2 * i.a[c] * i.b[c]; }); }},
      {"(-x) + (-x) negates every use", kColours + "float4 x = a * b; float4 y = (-x) + (-x); return y * a; }", 1,
       "mul_x2.xyzw xyzw xyzw | mul.xyzw -x-y-z-w xyzw",
       [](const Inputs& i) { return Each([&](int c) { return -2 * i.a[c] * i.b[c] * i.a[c]; }); }},
      {"x * -2.0 likewise", kColours + "float4 x = a * b; float4 y = x * -2.0; return y * a; }", 1,
       "mul_x2.xyzw xyzw xyzw | mul.xyzw -x-y-z-w xyzw",
       [](const Inputs& i) { return Each([&](int c) { return -2 * i.a[c] * i.b[c] * i.a[c]; }); }},
      {"(-x) * -2.0 keeps both signs", kColours + "float4 x = a * b; float4 y = (-x) * -2.0; return y * a; }", 1, "",
       [](const Inputs& i) { return Each([&](int c) { return 2 * i.a[c] * i.b[c] * i.a[c]; }); }},
      // Nothing reads a sum written out, so nothing could carry its sign.
      {"(-x) + (-x) written out keeps its sign", kColours + "float4 x = a * b; return (-x) + (-x); }", 1,
       "mul.xyzw xyzw xyzw | add.xyzw -x-y-z-w -x-y-z-w",
       [](const Inputs& i) { return Each([&](int c) { return -2 * i.a[c] * i.b[c]; }); }},
      {"x read twice keeps its multiply", kColours + "float4 x = a * b; return (x * 2.0) * x; }", 1,
       "mul.xyzw xyzw xyzw | mul.xyzw xyzw llll | mul.xyzw xyzw xyzw",
       [](const Inputs& i) { return Each([&](int c) { return 2 * i.a[c] * i.b[c] * i.a[c] * i.b[c]; }); }},
      // A shift of a saturated result would clamp after halving.
      {"a saturated producer keeps its multiply", kColours + "return saturate(a - b + 0.5) * 0.5; }", 1, "",
       [](const Inputs& i) {
         return Each([&](int c) { return std::fmin(1.0, std::fmax(0.0, i.a[c] - i.b[c] + 0.5)) / 2; });
       }},
  };
  RunCases(cases, std::size(cases));
}

// ps_1_4 allows all six shifts; its lists come with the phases, so the
// instructions are read directly.
TEST(GxlPs1Arith, ShiftsOfPs14) {
  const struct {
    std::string source;
    std::uint32_t bit;
  } cases[] = {{kColours + "return (a * b) * 8.0; }", 0x1000}, {kColours + "return (a + b) * 0.125; }", 0x8000}};
  for (const auto& c : cases) {
    Ps1Run r(c.source, 4);
    ASSERT_NE(r.target, nullptr) << r.log;
    int shifted = 0, products = 0;
    for (std::uint32_t i = 0; i < r.target->instructions.Count(); ++i) {
      const IrInstruction* inst = r.target->Instruction(i);
      if (!inst || inst->word == 0) continue;
      products += inst->Group() == kOpMultiply && inst->argumentCount == 8 &&
                  (r.target->BankOf(*r.target->Value(inst->arguments[4]))->type & kBankLiteral);
      shifted += inst->resultCount && (r.target->Value(inst->results[0])->binding & c.bit) != 0;
    }
    EXPECT_EQ(shifted, 1) << c.source;
    EXPECT_EQ(products, 0) << c.source;
  }
}

TEST(GxlPs1Arith, MultiplyAddFusion) {
  const ListCase cases[] = {
      {"a * b + c", kUniforms + kColours + "return a * b + k; }", 1, "mad.xyzw xyzw xyzw xyzw",
       [](const Inputs& i) { return Each([&](int c) { return i.a[c] * i.b[c] + i.k[c]; }); }},
      {"c - a * b", kUniforms + kColours + "return k - a * b; }", 2, "mad-.xyzw xyzw xyzw xyzw",
       [](const Inputs& i) { return Each([&](int c) { return i.k[c] - i.a[c] * i.b[c]; }); }},
      // The negated factor cannot be the complement: the factors change places.
      {"c - a * (1 - b) keeps its value", kUniforms + kColours + "return k - a * (1 - b); }", 1,
       "mad-.xyzw ~x~y~z~w xyzw xyzw",
       [](const Inputs& i) { return Each([&](int c) { return i.k[c] - i.a[c] * (1 - i.b[c]); }); }},
      {"a texture coordinate as addend", kWithTexcoord + "return a * b + c.xyzz; }", 3,
       "mad.w w w z | mad.xyz xyz xyz xyz",
       [](const Inputs& i) { return Each([&](int c) { return i.a[c] * i.b[c] + i.t[c < 3 ? c : 2]; }); }},
      {"a negated constant becomes a product by -1, then a mad", kUniforms + kColours + "return a - k; }", 1,
       "mad.xyzw xyzw llll xyzw", [](const Inputs& i) { return Each([&](int c) { return i.a[c] - i.k[c]; }); }},
      {"two constant factors are not negated", kUniforms + kColours + "return a - k * j; }", 1, "",
       [](const Inputs& i) { return Each([&](int c) { return i.a[c] - i.k[c] * i.j[c]; }); }},
      {"two complements are not negated", kUniforms + kColours + "return k - (1 - a) * (1 - b); }", 1,
       "mul.xyzw ~x~y~z~w ~x~y~z~w | add.xyzw -x-y-z-w xyzw",
       [](const Inputs& i) { return Each([&](int c) { return i.k[c] - (1 - i.a[c]) * (1 - i.b[c]); }); }},
  };
  RunCases(cases, std::size(cases));
  Ps1Run r(kUniforms + kColours + "return a - k * j; }", 1);
  EXPECT_EQ(Describe(r).find("mad-"), std::string::npos) << Describe(r);
}

TEST(GxlPs1Arith, SwizzlesAndPartialWrites) {
  const ListCase cases[] = {
      {".y through dp3 into w, read as .w", kColours + "return a.y * b; }", 1, "dp.w yyy lll | mul.xyzw wwww xyzw",
       [](const Inputs& i) { return Each([&](int c) { return i.a[1] * i.b[c]; }); }},
      {".w stays", kColours + "return a.w * b; }", 1, "mul.xyzw wwww xyzw",
       [](const Inputs& i) { return Each([&](int c) { return i.a[3] * i.b[c]; }); }},
      {"a rotation split per component", kColours + "return a.yxzw * b; }", 1, "",
       [](const Inputs& i) {
         return V4{i.a[1] * i.b[0], i.a[0] * i.b[1], i.a[2] * i.b[2], i.a[3] * i.b[3]};
       }},
      {"pairs of replicates", kColours + "return a.xxyy * b; }", 2, "",
       [](const Inputs& i) {
         return V4{i.a[0] * i.b[0], i.a[0] * i.b[1], i.a[1] * i.b[2], i.a[1] * i.b[3]};
       }},
      {"partial writes merged", kColours + "return float4(a.x * b.y, a.y, a.z * b.x, b.w); }", 1, "",
       [](const Inputs& i) {
         return V4{i.a[0] * i.b[1], i.a[1], i.a[2] * i.b[0], i.b[3]};
       }},
      {"blue and alpha", kColours + "return float4(a.xyz, a.z * b.w); }", 3, "",
       [](const Inputs& i) {
         return V4{i.a[0], i.a[1], i.a[2], i.a[2] * i.b[3]};
       }},
      {"a saturated texture coordinate is read directly", kWithTexcoord + "return saturate(c).xyzz * a; }", 1,
       "mul.w z w | mul.xyz xyz xyz",
       [](const Inputs& i) { return Each([&](int c) { return i.t[c < 3 ? c : 2] * i.a[c]; }); }},
      // A dot product selects by position: the same rotation of both
      // groups is the identity; other selections are copied into a register,
      // which on ps_1_1-1_3 takes more than their eight arithmetic slots.
      {"a dot product of rotations", kColours + "return dot(a.yzx, b.yzx) * a; }", 1,
       "dp.x xyz xyz | dp.w xxx lll | mul.xyzw wwww xyzw",
       [](const Inputs& i) {
         return Each([&](int c) { return (i.a[0] * i.b[0] + i.a[1] * i.b[1] + i.a[2] * i.b[2]) * i.a[c]; });
       }},
      {"a dot product of a rotation", kColours + "return float4(a.xyz * b.x, dot(a.xyz, b.yzx)); }", 2, "",
       [](const Inputs& i) {
         return V4{i.a[0] * i.b[0], i.a[1] * i.b[0], i.a[2] * i.b[0],
                   i.a[0] * i.b[1] + i.a[1] * i.b[2] + i.a[2] * i.b[0]};
       },
       false},
      {"a dot product of a repeated component", kUniforms + kColours + "return dot(b.xyz, k.zzy) * a; }", 3, "",
       [](const Inputs& i) {
         return Each([&](int c) { return (i.b[0] * i.k[2] + i.b[1] * i.k[2] + i.b[2] * i.k[1]) * i.a[c]; });
       },
       false},
  };
  RunCases(cases, std::size(cases));
}

// On ps_1_4 an instruction is split into parts whose selections are the
// identity or a replicate, any write mask allowed.
TEST(GxlPs1Arith, OperandSplitsOnPs14) {
  const struct {
    std::string source;
    std::set<std::string> parts;  // the written components of each product
  } cases[] = {{kColours + "return a.xxyy * b; }", {"xy", "zw"}},
               {kColours + "return a.yxzw * b; }", {"x", "y", "zw"}},
               {kColours + "return a.zzzz * b; }", {"xyzw"}}};
  for (const auto& c : cases) {
    Ps1Run r(c.source, 4);
    ASSERT_NE(r.target, nullptr) << r.log;
    std::set<std::string> parts;
    for (std::uint32_t i = 0; i < r.target->instructions.Count(); ++i) {
      const IrInstruction* inst = r.target->Instruction(i);
      if (!inst || inst->Group() != kOpMultiply) continue;
      std::string written;
      for (std::uint32_t j = 0; j < inst->resultCount; ++j)
        written += "xyzw"[r.target->Value(inst->results[j])->component];
      parts.insert(written);
    }
    EXPECT_EQ(parts, c.parts) << c.source;
  }
}

TEST(GxlPs1Arith, ConditionalsBecomeCnd) {
  const ListCase cases[] = {
      {"a scalar select", kWithTexcoord + "return c.x >= 0.5 ? a : b; }", 1, "",
       [](const Inputs& i) { return i.t[0] >= 0.5 ? i.a : i.b; }},
      {"a selected scalar", kWithTexcoord + "return (c.x - 0.5 >= 0 ? a.w : b.w) * a; }", 2, "",
       [](const Inputs& i) { return Each([&](int c) { return (i.t[0] >= 0.5 ? i.a[3] : i.b[3]) * i.a[c]; }); }},
      {"min", kWithTexcoord + "return min(c.x, 0.3) * a; }", 1, "",
       [](const Inputs& i) { return Each([&](int c) { return std::fmin(i.t[0], 0.3) * i.a[c]; }); }},
      {"max", kWithTexcoord + "return max(c.x - 0.5, c.y - 0.3) * a; }", 3, "",
       [](const Inputs& i) { return Each([&](int c) { return std::fmax(i.t[0] - 0.5, i.t[1] - 0.3) * i.a[c]; }); }},
  };
  RunCases(cases, std::size(cases));
  Ps1Run r(kWithTexcoord + "return min(c.x, 0.3) * a; }", 1);
  EXPECT_TRUE(r.target->conditionalLowered);
  // The condition in x reaches the mad's w through a dp3, as a selection would.
  EXPECT_EQ(Describe(r), "add.x x l | dp.w xxx lll | mad.w w l l | cnd.x w x l | dp.w xxx lll | mul.xyzw wwww xyzw");
  Ps1Run vector(kWithTexcoord + "return (c.xyzz - 0.5) >= 0 ? a : b; }", 2);
  EXPECT_EQ(vector.Count("error X4554: unable to emulate vector conditionals in ps_1_2 shader model\n"), 1)
      << vector.log;
  EXPECT_EQ(vector.hr, E_FAIL);
  // ps_1_4 has cmp.
  Ps1Run cmp(kWithTexcoord + "return (c.xyzz - 0.5) >= 0 ? a : b; }", 4);
  ASSERT_NE(cmp.target, nullptr);
  EXPECT_FALSE(cmp.target->conditionalLowered);
  EXPECT_EQ(cmp.Count("X4554"), 0) << cmp.log;
  bool selects = false;
  for (std::uint32_t i = 0; i < cmp.target->instructions.Count(); ++i)
    selects |= cmp.target->Instruction(i) && cmp.target->Instruction(i)->Group() == kOpSelect;
  EXPECT_TRUE(selects);
}

// Stand-ins that bend the list before the target's own rule runs.
class PaddedList : public Ps1StandardRules {
 public:
  // The last arithmetic entry repeated until the list is full: its dp3
  // cannot fit.
  HRESULT EmulateSwizzles(PixelShader1Target& t) override {
    const std::uint32_t last = t.stageList[t.stageList.Count() - 1];
    t.stageList.Truncate(t.stageList.Count() - 1);
    while (t.stageList.Count() < Ps1List::kLimit) EXPECT_EQ(t.stageList.Append(last), S_OK);
    return Ps1StandardRules::EmulateSwizzles(t);
  }
};

class CollidingWrites : public Ps1StandardRules {
 public:
  // The second partial write is moved onto the first one's component.
  HRESULT EmulateWriteMasks(PixelShader1Target& t) override {
    int partial = 0;
    for (std::uint32_t k = t.Stages(); k < t.stageList.Count(); ++k) {
      const IrInstruction* inst = t.Instruction(t.stageList[k]);
      if (!inst || inst->word == 0 || inst->resultCount != 1 || t.Value(inst->results[0])->component != 1) continue;
      if (partial++ == 0) t.Value(inst->results[0])->component = 0;
    }
    EXPECT_GT(partial, 0);
    return Ps1StandardRules::EmulateWriteMasks(t);
  }
};

class ConstantLerp : public Ps1StandardRules {
 public:
  // k * j + 0.5 made lrp(k, j, 0.5), as selection forms lrp from a mad: an
  // lrp of three constant groups, which the read ports never let fuse.
  HRESULT LowerConditionals(PixelShader1Target& t) override {
    IrInstruction* mul = nullptr;
    for (std::uint32_t k = t.Stages(); k < t.stageList.Count(); ++k) {
      IrInstruction* inst = t.Instruction(t.stageList[k]);
      if (!inst || inst->Width() != 4) continue;
      if (inst->Group() == kOpMultiply) mul = inst;
      if (inst->Group() != kOpAdd || !mul) continue;
      IrInstruction* lerp = sel::NewInstruction(IrWord(kOpPs1Lerp, 4), 12, 4);
      std::copy(mul->arguments, mul->arguments + 8, lerp->arguments);
      std::copy(inst->arguments + 4, inst->arguments + 8, lerp->arguments + 8);
      std::copy(inst->results, inst->results + 4, lerp->results);
      delete std::exchange(t.instructions.Slot(t.stageList[k]), lerp);
      mul->word = 0;
      break;
    }
    return Ps1StandardRules::LowerConditionals(t);
  }
};

// An instruction reads at most two constants: an lrp of three reads its
// factor through a move into temporaries.
TEST(GxlPs1Arith, LerpOfThreeConstants) {
  Ps1Run r(kUniforms + kColours + "return k * j + 0.5; }", 2, std::make_unique<ConstantLerp>());
  ASSERT_TRUE(r.Placed()) << r.log;
  EXPECT_EQ(Describe(r), "mov.xyzw xyzw | lrp.xyzw xyzw xyzw llll");
  ASSERT_TRUE(r.code);
  ExpectRunValues(static_cast<const std::uint32_t*>(r.code->GetPointer()), r.code->GetSize() / 4,
                  [](const Inputs& i) { return Each([&](int c) { return i.k[c] * i.j[c] + (1 - i.k[c]) * 0.5; }); });
}

TEST(GxlPs1Arith, ListLimitsAndConflicts) {
  // Past the list's 512 entries: a size limit, not an allocation failure.
  Ps1Run padded(kColours + "return a.y * b; }", 1, std::make_unique<PaddedList>());
  EXPECT_EQ(padded.Count("error X4514: program too big\n"), 1) << padded.log;
  EXPECT_EQ(padded.hr, E_FAIL);
  Ps1Run colliding(kColours + "return float4(a.x * b.y, a.y * b.z, a.z, b.w); }", 3,
                   std::make_unique<CollidingWrites>());
  EXPECT_EQ(colliding.Count("error X4537: unable to emmulate write masks for ps_1_3 shader model\n"), 1)
      << colliding.log;
  EXPECT_EQ(colliding.hr, E_FAIL);
}

TEST(GxlPs1Arith, EveryAllocationFailureIsReported) {
  // Colours only: a lost warning would be no failure of the compile.
  ps1test::ExpectEveryAllocationFailureFails(kColours + "return (a.x - 0.5) >= 0 ? a.yxzw * b : a.y * b * 2.0; }", 1);
}

}  // namespace

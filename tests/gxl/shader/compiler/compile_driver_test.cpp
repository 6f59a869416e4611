// The compile driver: the profile table's rows as targets, forced software
// profiles, the option checks, entry-function and lowering failures, and
// every branch of the object-expression compile.
#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "../hlsl_parse_run.h"
#include "../log_text.h"
#include "bounded_run.h"
#include "gxl/shader/backend/ir/work_rates.h"
#include "gxl/shader/backend/targets/shader_target.h"
#include "gxl/shader/compiler/constant_table.h"
#include "gxl/shader/compiler/shader_compiler.h"
#include "gxl/shader/hlsl/hlsl_parser.h"
#include "gxl/shader/preprocessor/shader_preprocessor.h"
#include "gxl/tex/com_ref.h"
#include "gxl/tex/data_buffer.h"
#include "gxl/tex/result_codes.h"
#include "platform/d3d9_api.h"
#include "pool_peak.h"

namespace {

using gxl::ComRef;
using gxl::shader::ShaderCompiler;
using gxl::shader::ShaderPreprocessor;

constexpr char kPassThrough[] =
    "float4 scale;\n"
    "float4 main(float4 p : POSITION) : POSITION { return p * scale; }\n";
constexpr char kPixelPassThrough[] =
    "float4 scale;\n"
    "float4 main(float4 c : COLOR0) : COLOR { return c * scale; }\n";

// One compile through the driver over a source in memory, with the work
// budget given (and what it spent after).
struct DriverRun {
  DriverRun(const char* text, const char* entry, const char* profile, std::uint32_t options = 0,
            bool withTable = false, std::uint64_t budget = gxl::shader::kCompileWorkBudget) {
    hr = pp.StartFromMemory(text, static_cast<UINT>(std::strlen(text)), nullptr, nullptr);
    if (SUCCEEDED(hr)) {
      ShaderCompiler compiler;
      compiler.workBudget = budget;
      compiler.workCap = shadertest::CapFor(budget);
      hr = compiler.CompileSource(&pp, nullptr, entry, 0, profile, options, code.Put(),
                                  withTable ? table.Put() : nullptr);
      spent = compiler.workSpent;
      charged = compiler.workCharged;
    }
    log = shadertest::LogText(pp.Log());
  }
  DWORD Version() const { return code ? *static_cast<const DWORD*>(code->GetPointer()) : 0; }

  ShaderPreprocessor pp;
  ComRef<DataBuffer> code;
  ComRef<ConstantTable> table;
  HRESULT hr = E_FAIL;
  std::string log;
  std::uint64_t spent = 0, charged = 0;
};

TEST(GxlCompileDriver, EveryProfileRow) {
  struct Row {
    const char* profile;
    HRESULT result;
    DWORD version;        // of the code, when made
    const char* message;  // a line the log must hold, or null for none
    const char* text = kPassThrough;
  } rows[] = {
      {"vs_1_1", S_OK, 0xFFFE0101, nullptr},
      {"vs_2_0", S_OK, 0xFFFE0200, nullptr},
      {"vs_2_a", S_OK, 0xFFFE0201, nullptr},
      {"vs_2_sw", S_OK, 0xFFFE02FF, nullptr},
      {"vs_1_0", S_OK, 0xFFFE0101, "warning X3505: vs_1_0 is no longer supported; using vs_1_1"},
      // The pixel 1.x target reads the vertex source's semantics.
      {"ps_1_0", E_FAIL, 0, "error X4502: invalid output semantic 'POSITION'"},
      {"ps_1_1", E_FAIL, 0, "error X4502: invalid output semantic 'POSITION'"},
      {"ps_1_4", E_FAIL, 0, "error X4502: invalid output semantic 'POSITION'"},
      {"ps_2_0", S_OK, 0xFFFF0200, nullptr, kPixelPassThrough},
      {"ps_2_a", S_OK, 0xFFFF0201, nullptr, kPixelPassThrough},
      {"ps_2_b", S_OK, 0xFFFF0201, nullptr, kPixelPassThrough},
      {"ps_2_sw", S_OK, 0xFFFF02FF, nullptr, kPixelPassThrough},
      {"vs_3_0", S_OK, 0xFFFE0300, nullptr},
      {"vs_3_sw", S_OK, 0xFFFE03FF, nullptr},
      {"ps_3_0", S_OK, 0xFFFF0300, nullptr, kPixelPassThrough},
      {"ps_3_sw", S_OK, 0xFFFF03FF, nullptr, kPixelPassThrough},
      // A texture shader's output is COLOR0.
      {"tx_1_0", E_FAIL, 0, "error X4502: invalid reference to output semantic 'POSITION0'"},
      {"ps_2_x", D3DERR_INVALIDCALL, 0, "error X3506: unrecognized compiler target 'ps_2_x'"},
      {"vs_2_x", D3DERR_INVALIDCALL, 0, "error X3506: unrecognized compiler target 'vs_2_x'"},
      // A compiler-target row that no target serves.
      {"vs.2.x", D3DERR_INVALIDCALL, 0, "error X3506: unrecognized compiler target 'vs.2.x'"},
      {"vs_4_0", D3DERR_INVALIDCALL, 0, "error X3506: unrecognized compiler target 'vs_4_0'"},
  };
  for (const Row& row : rows) {
    const DriverRun run(row.text, "main", row.profile);
    EXPECT_EQ(run.hr, row.result) << row.profile << "\n" << run.log;
    EXPECT_EQ(run.Version(), row.version) << row.profile;
    EXPECT_EQ(static_cast<bool>(run.code), row.version != 0) << row.profile;
    if (row.message) {
      EXPECT_NE(run.log.find(row.message), std::string::npos) << row.profile << "\n" << run.log;
    } else {
      EXPECT_EQ(run.log, "<null>") << row.profile;
    }
  }
}

// Option 0x40 forces the software vertex profile, 0x80 the software pixel
// profile; a flag of the other kind changes nothing.
TEST(GxlCompileDriver, ForcedSoftwareProfiles) {
  struct Row {
    const char* profile;
    std::uint32_t options;
    DWORD version;
    const char* text = kPassThrough;
  } rows[] = {
      {"vs_1_1", 0x40, 0xFFFE02FF},
      {"vs_2_0", 0x40, 0xFFFE02FF},
      {"vs_2_a", 0x80, 0xFFFE0201},
      {"vs_3_0", 0x40, 0xFFFE03FF},
      {"vs_3_0", 0x80, 0xFFFE0300},
      {"ps_2_0", 0x40, 0xFFFF0200, kPixelPassThrough},
      {"ps_2_0", 0x80, 0xFFFF02FF, kPixelPassThrough},
      {"ps_3_0", 0x80, 0xFFFF03FF, kPixelPassThrough},
      {"ps_3_0", 0x40, 0xFFFF0300, kPixelPassThrough},
  };
  for (const Row& row : rows) {
    const DriverRun run(row.text, "main", row.profile, row.options);
    EXPECT_EQ(run.Version(), row.version) << row.profile << " " << row.options << "\n" << run.log;
  }
}

TEST(GxlCompileDriver, FailuresLeaveNoCode) {
  struct Row {
    const char* what;
    const char* text;
    const char* entry;
    std::uint32_t options;
    HRESULT result;
    const char* message;
  } rows[] = {
      {"option bit 0x800", kPassThrough, "main", 0x800, D3DERR_INVALIDCALL, nullptr},
      {"no entry function", kPassThrough, "mian", 0, E_FAIL, "error X3501: 'mian': entrypoint not found"},
      {"no entry name", kPassThrough, nullptr, 0, D3DERR_INVALIDCALL, nullptr},
      {"an output never written", "void main(out float4 p : POSITION) {}\n", "main", 0, E_FAIL, "X3508"},
      {"a parse error", "float4 main( : POSITION { }\n", "main", 0, E_FAIL, "error X3000"},
      {"POSITION written in part",
       "float4 main(float4 p : POSITION) : POSITION { return float4(p.xy, 0, 0) * p.x; }\n"
       "float3 other(float4 p : POSITION) : POSITION { return p.xyz; }\n",
       "other", 0, E_FAIL, "error X4541: vertex shader must minimally write all four components of POSITION"},
  };
  for (const Row& row : rows) {
    const DriverRun run(row.text, row.entry, "vs_2_0", row.options, true);
    EXPECT_TRUE(FAILED(run.hr)) << row.what;
    if (row.result != E_FAIL || !FAILED(run.hr)) {
      EXPECT_EQ(run.hr, row.result) << row.what << "\n" << run.log;
    }
    EXPECT_FALSE(run.code) << row.what;
    EXPECT_FALSE(run.table) << row.what;
    if (row.message) {
      EXPECT_NE(run.log.find(row.message), std::string::npos) << row.what << "\n" << run.log;
    }
  }
}

// Past its work budget a compile ends with the bound's message, said once,
// whichever pass it is in (but the second compile with 0x4 after an
// optimised refusal), and leaves nothing behind; with just the work it
// needs, it makes the code an unbounded compile makes.
TEST(GxlCompileDriver, WorkBudget) {
  std::string chain = "float4 k[4];\nfloat4 main(float4 a : TEXCOORD0) : COLOR {\n  float4 r = a;\n";
  for (int i = 0; i < 24; ++i) chain += "  r = r * k[" + std::to_string(i % 4) + "].yzwx + abs(a);\n";
  chain += "  if (r.x > 0) r = sin(r);\n  return r;\n}\n";
  const std::string vertex = std::string(chain).replace(chain.find(": COLOR"), 7, ": POSITION");
  const char* message = "error X4004: program too complex; the compile exceeded its work bound";
  for (const char* profile : {"vs_2_0", "vs_3_0", "ps_1_4", "ps_2_0", "ps_3_0"}) {
    for (std::uint32_t options : {0u, 4u}) {
      const char* text = profile[0] == 'v' ? vertex.c_str() : chain.c_str();
      const DriverRun full(text, "main", profile, options);
      SCOPED_TRACE(std::string(profile) + " " + std::to_string(options) + "\n" + full.log);
      ASSERT_GT(full.charged, 0u);
      const DriverRun exact(text, "main", profile, options, false, full.charged);
      EXPECT_EQ(exact.hr, full.hr);
      EXPECT_EQ(exact.log, full.log);
      EXPECT_EQ(exact.code ? std::string(static_cast<const char*>(exact.code->GetPointer()), exact.code->GetSize()) : "",
                full.code ? std::string(static_cast<const char*>(full.code->GetPointer()), full.code->GetSize()) : "");
      // An optimised compile refused at a limit is made again with 0x4 on
      // what it left of the budget: a budget that ends only that second
      // compile leaves the optimised refusal, as the full run said it.
      const std::size_t error = full.log.find("error X");
      const bool limit = error != std::string::npos &&
                         gxl::shader::ShaderTarget::IsLimitCode(std::stoul(full.log.substr(error + 7, 4)));
      const std::uint64_t second = options == 0 && limit ? DriverRun(text, "main", profile, 4).charged : 0;
      // The second compile finds the first's memory committed: it charges
      // up to its own fresh memory less than alone, and a budget that close
      // to its start may end either.
      std::uint64_t memory = 0;
      if (second) {
        const shadertest::PoolPeak peak;
        const DriverRun alone(text, "main", profile, 4);
        memory = (peak.Bytes() / gxl::shader::workrate::kPageBytes + 16) * gxl::shader::workrate::kFreshPage;
      }
      // Budgets that end the compile at every stage of it.
      for (std::uint64_t step = 0; step < 16; ++step) {
        const std::uint64_t budget = full.charged * step / 16;
        if (second && budget + second >= full.charged && budget + second < full.charged + memory) continue;
        const DriverRun cut(text, "main", profile, options, true, budget);
        EXPECT_EQ(cut.hr, E_FAIL) << budget;
        EXPECT_FALSE(cut.code) << budget;
        EXPECT_FALSE(cut.table) << budget;
        if (budget >= full.charged - second) {
          EXPECT_EQ(cut.log, full.log) << budget;
          continue;
        }
        const std::size_t at = cut.log.find(message);
        EXPECT_NE(at, std::string::npos) << budget << "\n" << cut.log;
        EXPECT_EQ(cut.log.find("error", at + 1), std::string::npos) << budget << "\n" << cut.log;
        EXPECT_EQ(cut.log.find("internal error"), std::string::npos) << budget << "\n" << cut.log;
      }
    }
  }
}

// Nested loops over uniform counts with branches inside, which the lowering
// unfolds into millions of instructions: the budget ends it there too.
TEST(GxlCompileDriver, WorkBudgetBoundsTheLowering) {
  std::string text =
      "float4 k[8]; int n, m; float lim;\n"
      "float4 main(float4 a : TEXCOORD0) : POSITION {\n  float4 r = a; float4 s = a.yzwx;\n"
      "  for (int i0 = 0; i0 < 10 && r.x < lim; i0++) {\n    s = lerp(s, r, saturate(r.x));\n"
      "    for (int i1 = 0; i1 < n; i1++) {\n"
      "      if (r.z > s.y) { r = r * k[4].wxyz + s; } else { s = s + (float)i0 * k[4]; }\n"
      "      for (int i2 = 0; i2 < m; i2++) {\n";
  for (int i = 0; i < 3; ++i)
    text += "        if (r.x > s.y) { if (r.x > s.x) { r = frac(r * s); } else { s = max(s, r) - k[6]; } }\n"
            "        else { if (r.z > s.z) { s = max(s, r.wxyz) - k[3]; } else { r = max(r, s.wxyz) - k[6]; } }\n";
  text += "      }\n      r = r + (float)i0 * k[4];\n    }\n    r = frac(r * s.xxyy);\n  }\n  return r + s;\n}\n";
  // (Its covering passes cover the loops inside them in one pass, so that
  // its lowering takes some 400,000: the budget here is well below that.)
  const DriverRun run(text.c_str(), "main", "vs_3_0", 0, false, std::uint64_t{1} << 18);
  EXPECT_EQ(run.hr, E_FAIL);
  EXPECT_FALSE(run.code);
  EXPECT_EQ(run.log, "error X4004: program too complex; the compile exceeded its work bound\n");
  EXPECT_GE(run.spent, std::uint64_t{1} << 18);
}

TEST(GxlCompileDriver, TreeGivenWithParserOptionsOrNoCodeOut) {
  shadertest::ParseRun parse(kPassThrough);
  ASSERT_EQ(parse.hr, S_OK);
  ShaderCompiler compiler;
  ComRef<DataBuffer> code;
  for (const std::uint32_t options : {0x8u, 0x10u})
    EXPECT_EQ(compiler.CompileSource(&parse.pp, parse.tree, "main", 0, "vs_2_0", options, code.Put(), nullptr),
              D3DERR_INVALIDCALL);
  EXPECT_EQ(compiler.CompileSource(&parse.pp, parse.tree, "main", 0, "vs_2_0", 0, nullptr, nullptr),
            D3DERR_INVALIDCALL);
  // The parsed tree compiles as it stands, twice over with one compiler.
  for (int i = 0; i < 2; ++i) {
    EXPECT_EQ(compiler.CompileSource(&parse.pp, parse.tree, "main", 0, "vs_2_0", 0, code.Put(), nullptr), S_OK);
    ASSERT_TRUE(code);
    EXPECT_EQ(*static_cast<const DWORD*>(code->GetPointer()), 0xFFFE0200u);
  }
}

TEST(GxlCompileDriver, ConstantTableNamesTheUniforms) {
  const DriverRun run(kPassThrough, "main", "vs_2_0", 0, true);
  ASSERT_EQ(run.hr, S_OK) << run.log;
  ASSERT_TRUE(run.table);
  ConstantDesc desc{};
  UINT count = 1;
  ASSERT_EQ(run.table->DescribeConstants(run.table->ConstantByName(nullptr, "scale"), &desc, &count), S_OK);
  EXPECT_EQ(desc.registerSet, 2u);
  EXPECT_EQ(desc.columns, 4u);
}

TEST(GxlCompileDriver, ObjectExpressions) {
  const char* source =
      "float4 main(float4 p : POSITION) : POSITION { return p; }\n"
      "vertexshader compiled = compile vs_2_0 main();\n"
      "vertexshader assembled = asm { vs_2_0 dcl_position v0 mov oPos, v0 };\n"
      "string text = \"hello\";\n"
      "float4 plain = float4(1, 2, 3, 4);\n"
      "vertexshader missing = compile vs_3_0 main();\n"
      "vertexshader alias = compiled;\n";
  shadertest::ParseRun parse(source);
  ASSERT_EQ(parse.hr, S_OK) << parse.log;
  struct Row {
    const char* name;
    HRESULT result;
    std::uint32_t kind;
    const char* message;
  } rows[] = {
      {"compiled", S_OK, 0, nullptr},
      {"assembled", S_OK, 0, nullptr},
      {"text", S_OK, 1, nullptr},
      // A plain value is an expression program.
      {"plain", S_OK, 0, nullptr},
      {"missing", S_OK, 0, nullptr},
      {"alias", E_NOTIMPL, 0, "error X3500: non-trivial object expressions not yet implemented"},
  };
  for (const Row& row : rows) {
    const ParseNode* value = parse.InitialValue(row.name);
    ASSERT_NE(value, nullptr) << row.name;
    ShaderCompiler compiler;
    ComRef<DataBuffer> buffer;
    std::uint32_t kind = 7;
    const HRESULT hr = compiler.CompileObjectExpression(&parse.pp, parse.tree, value, "vs_2_0", 0, buffer.Put(), &kind);
    const std::string log = shadertest::LogText(parse.pp.Log());
    EXPECT_EQ(hr, row.result) << row.name << "\n" << log;
    EXPECT_EQ(kind, row.kind) << row.name;
    EXPECT_EQ(static_cast<bool>(buffer), row.result == S_OK) << row.name;
    if (row.message) {
      EXPECT_NE(log.find(row.message), std::string::npos) << row.name << "\n" << log;
    }
    if (!buffer) continue;
    const auto* bytes = static_cast<const char*>(buffer->GetPointer());
    if (row.kind == 1) {
      EXPECT_EQ(std::string(bytes, buffer->GetSize()), std::string("hello", 6));
    } else {
      const DWORD version = !std::strcmp(row.name, "plain")     ? 0x46580200u
                            : !std::strcmp(row.name, "missing") ? 0xFFFE0300u
                                                                : 0xFFFE0200u;
      EXPECT_EQ(*reinterpret_cast<const DWORD*>(bytes), version) << row.name;
      EXPECT_EQ(*reinterpret_cast<const DWORD*>(bytes + buffer->GetSize() - 4), 0x0000FFFFu) << row.name;
    }
  }
  // A node that is no expression, and a statement around one.
  ShaderCompiler compiler;
  ComRef<DataBuffer> buffer;
  std::uint32_t kind = 0;
  EXPECT_EQ(
      compiler.CompileObjectExpression(&parse.pp, parse.tree, parse.Find("text"), "vs_2_0", 0, buffer.Put(), &kind),
      E_FAIL);
  EXPECT_NE(shadertest::LogText(parse.pp.Log()).find("internal error: expression expected"), std::string::npos);
}

}  // namespace

// One HLSL source compiled for a pixel shader 1.x profile on a target the
// test keeps: parsed, lowered, compiled through the target's driver, with the
// messages and a dump of the placed instruction lists.
#pragma once

#include <gtest/gtest.h>

#include <functional>
#include <memory>
#include <string>

#include "gxl/shader/backend/targets/ps1/ps1_target.h"
#include "gxl/shader/compiler/shader_compiler.h"
#include "gxl/shader/core/page_pool.h"
#include "gxl/tex/com_ref.h"
#include "gxl/tex/data_buffer.h"
#include "tests/gxl/shader/fail_alloc.h"
#include "tests/gxl/shader/hlsl_parse_run.h"

namespace ps1test {

using namespace gxl::shader;

// Names of the operation groups in the dump.
inline const char* OperationName(std::uint32_t group) {
  switch (group) {
    case 0x000:
      return "nop";
    case 0x100:
      return "mov";
    case 0x101:
      return "neg";
    case 0x110:
      return "texkill";
    case 0x204:
      return "add";
    case 0x205:
      return "mul";
    case 0x500:
      return "dp";
    case 0x600:
      return "tex1D";
    case 0x605:
      return "tex2D";
    case 0x607:
      return "tex2Dproj";
    case 0x60A:
      return "tex3D";
    case 0x60F:
      return "texCUBE";
    case 0x701:
      return "lrp";
    case 0x703:
      return "mad";
    case 0x721:
      return "texcoord";
    case 0x722:
      return "texm3x2pad";
    case 0x723:
      return "texm3x2tex";
    case 0x724:
      return "texm3x3pad";
    case 0x725:
      return "texm3x3tex";
    case 0x726:
      return "texreg2rgb";
    case 0x727:
      return "texreg2ar";
    case 0x728:
      return "texreg2gb";
    case 0x729:
      return "texm3x3vspec";
    case 0x72A:
      return "texm3x3spec";
    case 0x72B:
      return "texdp3tex";
    case 0x72C:
      return "reflect.w";
    case 0x72D:
      return "reflect.c";
    case 0x72E:
      return "texld_dz";
    default:
      return "op";
  }
}

// The target, noting whether code generation ran through to emission.
class ObservedTarget : public PixelShader1Target {
 public:
  using PixelShader1Target::PixelShader1Target;
  HRESULT MapOperation() override {
    reachedEmission = true;
    errorsBeforeEmission = errorFlag != 0;
    return PixelShader1Target::MapOperation();
  }
  bool reachedEmission = false, errorsBeforeEmission = false;
};

struct Ps1Run {
  // `minor` 1-4; `rules` null for the target's own; `beforeCompile` runs
  // between the lowering and the target's compile.
  Ps1Run(const std::string& text, std::uint32_t minor, std::unique_ptr<Ps1Rules> rules = nullptr,
         const std::function<void()>& beforeCompile = nullptr, const std::function<void()>& afterCompile = nullptr)
      : parse(text) {
    const char* entry = "main";
    log = parse.log;
    if ((hr = parse.hr) != S_OK) return;
    auto t = std::make_unique<ObservedTarget>(false, std::move(rules));
    target = t.get();
    compiler.source = &parse.pp;
    compiler.version = 0xFFFF0100 | minor;
    compiler.options = kOptionNoValidation;  // list-level tests: the emitted code is checked elsewhere
    compiler.tree = parse.tree;
    compiler.target = std::move(t);
    hr = compiler.LowerProgram();
    ParseNodeKind10* function = SUCCEEDED(hr) ? compiler.FindEntryPoint(entry) : nullptr;
    entryFound = function != nullptr;
    if (SUCCEEDED(hr)) hr = function ? compiler.LowerFunction(entry, function, nullptr, nullptr, 1, 0) : E_FAIL;
    if (SUCCEEDED(hr) && compiler.errorFlag) hr = E_FAIL;
    if (SUCCEEDED(hr) && beforeCompile) beforeCompile();
    if (SUCCEEDED(hr)) hr = target->Compile(code.Put());
    if (afterCompile) afterCompile();
    log = shadertest::LogText(parse.pp.Log());
    if (log == "<null>") log.clear();
  }
  Ps1Run(const Ps1Run&) = delete;
  Ps1Run& operator=(const Ps1Run&) = delete;

  bool Logged(const std::string& text) const { return log.find(text) != std::string::npos; }
  // Lines of the log holding `text`.
  int Count(const std::string& text) const {
    int n = 0;
    for (std::size_t at = log.find(text); at != std::string::npos; at = log.find(text, at + 1)) ++n;
    return n;
  }
  // Whether the compile ran through placement and the rules without an error.
  bool Placed() const { return target->reachedEmission && !target->errorsBeforeEmission; }

  // One line per list entry, "k:name" for a texture slot (k its stage) and
  // "name" for the arithmetic, "-" for an empty slot; "|" between lists.
  std::string Dump() const {
    std::string out;
    auto list = [&](const Ps1List& l) {
      for (std::uint32_t k = 0; k < l.Count(); ++k) {
        const IrInstruction* inst = target->Instruction(l[k]);
        if (!out.empty() && out.back() != '|') out += ' ';
        if (k < target->Stages()) out += std::to_string(k) + ":";
        out += !inst ? "-" : inst->word == 0 ? "nop" : OperationName(inst->Group());
      }
    };
    if (target->phaseOneList.Exists() && target->phaseOneList.Count()) {
      list(target->phaseOneList);
      out += '|';
    }
    list(target->stageList);
    return out;
  }
  // The register of the sampler a texture slot reads, or -1.
  int SamplerStage(std::uint32_t slot) const {
    const IrInstruction* inst = target->Instruction(target->stageList[slot]);
    if (!inst || inst->Width() == 0 || inst->argumentCount == 0) return -1;
    const IrValue* v = target->Value(inst->arguments[0]);
    const RegisterBank* b = v ? target->BankOf(*v) : nullptr;
    return b && (b->type & kBankSampler) ? static_cast<int>(v->reg) : -1;
  }

  shadertest::ParseRun parse;
  PagePool irPages{0x100000, 0x10000};
  IrPoolScope scope{&irPages};
  ShaderCompiler compiler;  // owns the target; goes before the pools
  ObservedTarget* target = nullptr;
  gxl::ComRef<DataBuffer> code;
  HRESULT hr = E_FAIL;
  bool entryFound = false;
  std::string log;
};

// Compiles `source`, then again with each of its allocations failing in
// turn: every such compile must fail (leaks show in the sanitizer build).
inline void ExpectEveryAllocationFailureFails(const std::string& source, std::uint32_t minor) {
  std::uint64_t total = 0;
  {
    Ps1Run r(
        source, minor, nullptr, [] { shadertest::FailNthAllocation(0); },
        [&total] { total = shadertest::AllocationsCounted(); });
    ASSERT_TRUE(r.Placed()) << r.log;
  }
  ASSERT_GT(total, 10u);
  for (std::uint64_t n = 1; n <= total; ++n) {
    bool failed = false;
    Ps1Run r(
        source, minor, nullptr, [n] { shadertest::FailNthAllocation(n); },
        [&failed] {
          failed = shadertest::AllocationFailed();
          shadertest::FailNthAllocation(0);
        });
    EXPECT_TRUE(failed) << n;
    EXPECT_FALSE(SUCCEEDED(r.hr)) << n;
  }
}

}  // namespace ps1test

// The compile driver: one HLSL compile from preprocessed source (or a parsed
// tree) to finished code. It checks the options, turns the profile into a
// version token, chooses the target, parses, lowers the entry function or
// expression into the target's program, lets the target generate the code
// and builds the constant table over it.
#include <algorithm>
#include <cstring>
#include <iterator>
#include <new>

#include "gxl/shader/backend/targets/shader_target.h"
#include "gxl/shader/compiler/constant_table.h"
#include "gxl/shader/compiler/loop/loop_state.h"
#include "gxl/shader/compiler/shader_compiler.h"
#include "gxl/shader/compiler/target_choice.h"
#include "gxl/shader/core/page_pool.h"
#include "gxl/shader/core/profiles.h"
#include "gxl/shader/hlsl/hlsl_parser.h"
#include "gxl/shader/hlsl/hlsl_types.h"
#include "gxl/shader/preprocessor/shader_preprocessor.h"
#include "gxl/tex/com_ref.h"
#include "gxl/tex/data_buffer.h"
#include "gxl/tex/result_codes.h"
#include "platform/d3d9_api.h"

namespace gxl::shader {

namespace {

constexpr std::uint32_t kOptionForceSoftwareVertex = 0x40;
constexpr std::uint32_t kOptionForceSoftwarePixel = 0x80;
constexpr std::uint32_t kOptionsWithTree = 0x8 | 0x10;  // not allowed with a parsed tree
constexpr std::uint32_t kOptionsAllowed = 0x7FF;
constexpr std::uint32_t kOptionParser = 0x80000000u;
constexpr std::uint32_t kScratchEntries = 4096;
// Rounds of unrolling kept loops that do not fit the version's flow control.
constexpr std::uint32_t kUnrollRounds = 4;

constexpr DWORD kVs10 = 0xFFFE0100, kVs11 = 0xFFFE0101;
constexpr DWORD kPs10 = 0xFFFF0100, kPs11 = 0xFFFF0101;

// The profile a forced software compile uses instead, or the profile itself.
const char* SoftwareProfile(DWORD version, std::uint32_t options, const char* profile) {
  const bool three = ((version >> 8) & 0xFF) == 3;
  if ((version >> 16) == 0xFFFE && (options & kOptionForceSoftwareVertex)) return three ? "vs_3_sw" : "vs_2_sw";
  if ((version >> 16) == 0xFFFF && (options & kOptionForceSoftwarePixel)) return three ? "ps_3_sw" : "ps_2_sw";
  return profile;
}

// Whatever path a run leaves by: the tree forgotten, the target destroyed
// and the value map freed while the IR pools are still bound, then unbound.
struct RunScope {
  ShaderCompiler& compiler;
  IrPoolScope pools;
  ~RunScope() {
    compiler.tree = nullptr;
    if (const ShaderProgram* t = compiler.target.get()) {
      compiler.defUseUpkeepMismatches = t->defUseUpkeepMismatches;
      compiler.roundUpkeepPasses = t->roundUpkeepPasses;
      compiler.roundUpkeepMismatches = t->roundUpkeepMismatches;
      compiler.roundUpkeepReadersMet = t->roundUpkeepReadersMet;
      compiler.reassignMismatches = t->reassignMismatches;
      compiler.workSpent = compiler.workGranted - t->workLeft;
      compiler.workCharged = t->workCharged;
    }
    compiler.target.reset();
    compiler.valueMap.Reset();
  }
};

}  // namespace

HRESULT ShaderCompiler::Compile(ShaderPreprocessor* from, const ProgramNode* parsed, const char* entry,
                                const ParseNode* declarations, const ParseNode* expression, const ParseNode* arguments,
                                std::uint32_t fragment, const char* profileName, std::uint32_t optionWord,
                                DataBuffer** code, ConstantTable** table) {
  PagePool pool(0x100000, 0x10000);
  if ((optionWord & ~kOptionsAllowed) || (parsed && (optionWord & kOptionsWithTree)) || !code)
    return D3DERR_INVALIDCALL;
  *code = nullptr;
  if (table) *table = nullptr;

  target.reset();
  valueMap.Reset();
  tree = nullptr;
  workCharged = 0;
  secondCompiles = 0;
  ResetRun();
  source = from;
  profile = profileName;
  options = optionWord;
  fragmentMode = fragment;

  DWORD token = kExpressionProgramVersion;
  bool vs10 = false, ps10 = false;
  if (!expression) {
    ShaderProfileRow row{};
    if (options & (kOptionForceSoftwareVertex | kOptionForceSoftwarePixel)) {
      if (FAILED(ProfileNameToToken(profile, kProfileCompilerTarget, &row))) {
        GXL_SHADER_REPORT(*this, nullptr, msg::kUnrecognizedCompilerTarget, profile ? profile : "");
        return D3DERR_INVALIDCALL;
      }
      const char* software = SoftwareProfile(row.version, options, profile);
      if (software != profile) {
        profile = software;
        options |= 0x1 | 0x4;
      }
    }
    if (FAILED(ProfileNameToToken(profile, kProfileCompilerTarget, &row))) {
      GXL_SHADER_REPORT(*this, nullptr, msg::kUnrecognizedCompilerTarget, profile ? profile : "");
      return D3DERR_INVALIDCALL;
    }
    token = row.version;
    vs10 = token == kVs10;
    ps10 = token == kPs10;
    if (vs10) token = kVs11;
    if (ps10) token = kPs11;
  }
  version = token;

  std::unique_ptr<ShaderTarget> made;
  switch (ChooseTarget(token, fragment != 0, &options, &made)) {
    case TargetChoice::kMade:
      break;
    case TargetChoice::kNone:
      // A row of the profile table that claims a compiler target no target serves.
      GXL_SHADER_REPORT(*this, nullptr, msg::kUnrecognizedCompilerTarget, profile ? profile : "");
      return D3DERR_INVALIDCALL;
    case TargetChoice::kNoMemory:
      return E_OUTOFMEMORY;
    case TargetChoice::kNoFragment:
      return E_FAIL;  // the fragment compiler reports the fragment that failed
  }
  ShaderTarget* generator = TakeTarget(std::move(made));

  if (!ReserveScratch(kScratchEntries)) return E_OUTOFMEMORY;  // the target stays until the next run
  RunScope scope{*this, IrPoolScope(&pool)};

  const ProgramNode* program = parsed;
  if (!program) {
    HlslParser parser;
    ProgramNode* root = nullptr;
    const HRESULT parsedHr = parser.Parse(options | kOptionParser, source, &root);
    if (FAILED(parsedHr)) return parsedHr;
    program = root;
  }
  tree = program;
  if (vs10) GXL_SHADER_REPORT(*this, nullptr, msg::kCompileVs10Replaced);
  if (ps10) GXL_SHADER_REPORT(*this, nullptr, msg::kCompilePs10Replaced);

  ComRef<DataBuffer> produced;
  HRESULT hr = GenerateWithinLimits(generator, entry, declarations, expression, arguments, produced.Put());
  if (FAILED(hr)) return hr;
  if (!produced) return E_FAIL;
  ComRef<ConstantTable> constants;
  if (table) {
    hr = CreateShaderConstantTable(static_cast<const DWORD*>(produced->GetPointer()), constants.Put());
    if (FAILED(hr)) return hr;
    *table = constants.Detach();
  }
  *code = produced.Detach();
  return S_OK;
}

ShaderTarget* ShaderCompiler::TakeTarget(std::unique_ptr<ShaderTarget> made) {
  ShaderTarget* generator = made.get();
  generator->referenceSearches = referenceSearches;
  generator->secondPhaseStepHook = secondPhaseStepHook;
  generator->roundUpkeepFrom = roundUpkeepFrom;
  generator->checkRoundUpkeep = checkRoundUpkeep;
  roundUpkeepPasses = roundUpkeepMismatches = 0;
  // Each attempt's lowering shares out the same budget, so that its loops
  // are lowered alike; the compile's cap spans them all.
  generator->workLeft = workGranted = workBudget;
  generator->workCharged = workCharged;
  generator->workCap = workCap;
  defUseUpkeepMismatches = 0;
  loopMemoHits = loopMemoChecks = loopMemoMismatches = widenedSimulations = 0;
  settledSimulations = settleChecks = settleMismatches = 0;
  coveredLoops = coverChecks = coverMismatches = 0;
  projectedLoops = projectionChecks = projectionMisses = 0;
  m_loop->instructionsBuilt = m_loop->keptBuilt = m_loop->rerunBuilt = m_loop->refundedBuilt = m_loop->reusedBankWork = 0;
  m_loop->reruns = m_loop->exactSimulations = m_loop->coverPasses = m_loop->deadRehearsals = 0;
  m_loop->pastCeiling = m_loop->ceilingOfBudget = m_loop->projected = m_loop->projectedEnd = false;
  m_loop->checkCeiling = 0;
  m_loop->levels.clear();
  m_loop->cutLevel = kNoLevel;
  m_loop->rehearsedDeadLoops.Clear();
  m_loop->openRuns.clear();
  m_loop->coveredNodes.Clear();
  m_loop->referenceKeys.clear();
  m_loop->moveRoots.clear();
  reassignMismatches = 0;
  workSpent = 0;
  loweringBuilt = 0;
  target = std::move(made);
  return generator;
}

void ShaderCompiler::ResetRun() {
  errorFlag = reportedMessages = 0;
  m_skipped.Clear();
  m_loop->deadLoops.Clear();
  m_loop->endlessRefusals = 0;
  m_loop->lastEndless = nullptr;
  loopAttempt = outOfBounds = abandonLoop = loopDepth = 0;
}

// Kept loops that the version's flow control cannot hold (FitFlowControl)
// are unrolled and the program lowered again, what the try before said taken
// back; a few rounds at most. Where the unrolling fails, the try before it is
// made again without asking, and refuses as it can; but where the unrolled
// try was refused with a message of its own (not the work bound's) and the
// try made again ends at the work bound, which the unrolled try spent most
// of, the unrolled try's refusal stands.
HRESULT ShaderCompiler::GenerateFitting(ShaderTarget* generator, const char* entry, const ParseNode* declarations,
                                        const ParseNode* expression, const ParseNode* arguments, DataBuffer** code) {
  ShaderTarget::LoopUnrolling unrolling;
  struct Unrolling {
    ShaderCompiler& c;
    ~Unrolling() { c.m_unrolledLoops = nullptr; }
  } scope{*this};
  m_unrolledLoops = &unrolling.unrolled;
  MessageLog::Mark mark;
  const bool again = source && source->Log().SetMark(&mark);
  std::size_t before = 0;  // loops unrolled before the last request
  bool last = false;
  MessageLog::Said unrolledSaid;  // the unrolled try's own refusal, where it had one
  HRESULT unrolledRefusal = S_OK;
  const bool unheard = generator->refusalUnheard;  // each try's, as the first's
  for (std::uint32_t round = 0;; ++round) {
    unrolling.more = again && !last && round < kUnrollRounds;
    unrolling.requested.Clear();
    generator->loopUnrolling = &unrolling;
    const HRESULT hr = LowerAndGenerate(generator, entry, declarations, expression, arguments, code);
    const bool asked = hr == S_FALSE && !unrolling.requested.Empty();
    if (!asked && (SUCCEEDED(hr) || round == 0 || !unrolling.more)) {
      if (FAILED(hr) && FAILED(unrolledRefusal) && generator->workExhausted) {
        source->Log().RollBack(mark);
        return source->Log().PutBack(unrolledSaid) ? unrolledRefusal : E_OUTOFMEMORY;
      }
      return hr;
    }
    if (asked) {
      before = unrolling.unrolled.Size();
      for (std::size_t i = 0; i < unrolling.requested.Size(); ++i)
        if (!unrolling.unrolled.Append(unrolling.requested[i])) return E_OUTOFMEMORY;
    } else {
      if (FAILED(hr) && generator->errorFlag && !generator->workExhausted &&
          source->Log().KeepSaid(mark, &unrolledSaid))
        unrolledRefusal = hr;
      unrolling.unrolled.Truncate(before);
      last = true;
    }
    source->Log().RollBack(mark);
    ResetRun();
    workCharged = target->workCharged;
    target.reset();
    valueMap.Reset();
    std::unique_ptr<ShaderTarget> made;
    switch (ChooseTarget(version, fragmentMode != 0, &options, &made)) {
      case TargetChoice::kMade:
        break;
      case TargetChoice::kNoMemory:
        return E_OUTOFMEMORY;
      default:
        return E_FAIL;
    }
    generator = TakeTarget(std::move(made));
    generator->refusalUnheard = unheard;
  }
}

// Optimisation must not lose a program that fits: optimised code may pass a
// limit of the profile that the unoptimised code meets (literals folded once
// per unrolled pass past the constant registers, values held longer past the
// temporaries, ...). Such a refusal is taken back and the program compiled
// again with 0x4, whose code is taken where it compiles; else the optimised
// refusal stands, as it was said. Programs that compile optimised are never
// compiled twice. The second compile spends what the first left of the work
// budget, unscaled, so that both together stay within the compile's bound.
HRESULT ShaderCompiler::GenerateWithinLimits(ShaderTarget* generator, const char* entry,
                                             const ParseNode* declarations, const ParseNode* expression,
                                             const ParseNode* arguments, DataBuffer** code) {
  MessageLog::Mark mark;
  // Only where the target compiles without optimisation when asked.
  const bool again = !(options & kOptionNoOptimisation) &&
                     (TargetOptions(version, options | kOptionNoOptimisation) & kOptionNoOptimisation) && source &&
                     source->Log().SetMark(&mark);
  const HRESULT hr = GenerateFitting(generator, entry, declarations, expression, arguments, code);
  const auto* refused = static_cast<const ShaderTarget*>(target.get());
  if (!again || SUCCEEDED(hr) || !refused || !refused->PassedALimit()) return hr;
  MessageLog::Said said;
  if (!source->Log().KeepSaid(mark, &said)) return hr;
  const std::uint64_t spent = workGranted - refused->workLeft;
  // What the checks and counters of the optimised compile found counts with
  // the second's.
  using Counter = std::uint32_t ShaderCompiler::*;
  static constexpr Counter kCounters[] = {
      &ShaderCompiler::loopMemoHits,       &ShaderCompiler::loopMemoChecks,     &ShaderCompiler::loopMemoMismatches,
      &ShaderCompiler::widenedSimulations, &ShaderCompiler::settledSimulations, &ShaderCompiler::settleChecks,
      &ShaderCompiler::settleMismatches,   &ShaderCompiler::coveredLoops,       &ShaderCompiler::coverChecks,
      &ShaderCompiler::coverMismatches,    &ShaderCompiler::projectedLoops,     &ShaderCompiler::projectionChecks,
      &ShaderCompiler::projectionMisses};
  using TargetCounter = std::uint32_t ShaderProgram::*;
  static constexpr TargetCounter kTargetCounters[] = {
      &ShaderProgram::defUseUpkeepMismatches, &ShaderProgram::roundUpkeepPasses,
      &ShaderProgram::roundUpkeepMismatches, &ShaderProgram::reassignMismatches};
  std::uint32_t counted[std::size(kCounters)], targetCounted[std::size(kTargetCounters)];
  for (std::size_t i = 0; i < std::size(kCounters); ++i) counted[i] = this->*kCounters[i];
  for (std::size_t i = 0; i < std::size(kTargetCounters); ++i) targetCounted[i] = refused->*kTargetCounters[i];
  const std::uint32_t optimised = options;
  source->Log().RollBack(mark);
  ResetRun();
  // The second compile lowers as a compile with 0x4 does, within what the
  // compile's cap has left.
  workCharged = refused->workCharged;
  target.reset();
  valueMap.Reset();
  options |= kOptionNoOptimisation;
  ++secondCompiles;
  std::unique_ptr<ShaderTarget> made;
  if (ChooseTarget(version, fragmentMode != 0, &options, &made) != TargetChoice::kMade) {
    options = optimised;
    return source->Log().PutBack(said) ? hr : E_OUTOFMEMORY;
  }
  ShaderTarget* const second = TakeTarget(std::move(made));
  second->refusalUnheard = true;
  const HRESULT unoptimised = GenerateFitting(second, entry, declarations, expression, arguments, code);
  // The work spent counts both compiles.
  workGranted += spent;
  for (std::size_t i = 0; i < std::size(kCounters); ++i) this->*kCounters[i] += counted[i];
  if (ShaderProgram* last = target.get())
    for (std::size_t i = 0; i < std::size(kTargetCounters); ++i) last->*kTargetCounters[i] += targetCounted[i];
  options = optimised;
  if (SUCCEEDED(unoptimised) || unoptimised == E_OUTOFMEMORY) return unoptimised;
  source->Log().RollBack(mark);
  return source->Log().PutBack(said) ? hr : E_OUTOFMEMORY;
}

HRESULT ShaderCompiler::LowerAndGenerate(ShaderTarget* generator, const char* entry, const ParseNode* declarations,
                                         const ParseNode* expression, const ParseNode* arguments, DataBuffer** code) {
  // The lowering may name a loop as what ended the compile at the work
  // bound (ClaimEndlessUnrolling); the bound's own message comes after it.
  generator->holdWorkReport = true;
  HRESULT hr = LowerEntry(entry, declarations, expression, arguments);
  generator->holdWorkReport = false;
  generator->ReportWorkBound();
  if (FAILED(hr)) return hr;
  if (errorFlag) return E_FAIL;
  hr = ApplyPragmaDefs();
  if (FAILED(hr)) return hr;

  // The later phases may spend what the compile's cap leaves.
  workGranted = generator->GrantRestOfCap(workBudget);
  return generator->Compile(code);
}

HRESULT ShaderCompiler::LowerEntry(const char* entry, const ParseNode* declarations, const ParseNode* expression,
                                   const ParseNode* arguments) {
  HRESULT hr = LowerProgram();
  if (FAILED(hr)) return hr;
  if (expression) return LowerExpressionProgram(expression);
  const char* name = entry;
  ParseNodeKind10* function = nullptr;
  if (entry) {
    function = FindEntryPoint(entry);
    if (!function) {
      GXL_SHADER_REPORT(*this, nullptr, msg::kEntryPointNotFound, entry);
      return E_FAIL;
    }
  } else {
    function = FindEntryPointByDeclaration(declarations, &name);
    if (!function) {
      GXL_SHADER_REPORT(*this, nullptr, msg::kOverloadNotFound);
      return E_FAIL;
    }
  }
  return LowerFunction(name, function, arguments, nullptr, 1, entry ? 0 : 1);
}

HRESULT ShaderCompiler::CompileSource(ShaderPreprocessor* from, const ProgramNode* parsed, const char* entry,
                                      std::uint32_t fragment, const char* profileName, std::uint32_t optionWord,
                                      DataBuffer** code, ConstantTable** table) {
  if (code) *code = nullptr;
  if (table) *table = nullptr;
  if (!entry) return D3DERR_INVALIDCALL;
  return Compile(from, parsed, entry, nullptr, nullptr, nullptr, fragment, profileName, optionWord, code, table);
}

HRESULT ShaderCompiler::CompileFunction(ShaderPreprocessor* from, const ProgramNode* parsed,
                                        const ParseNode* declarations, const ParseNode* arguments,
                                        std::uint32_t fragment, const char* profileName, std::uint32_t optionWord,
                                        DataBuffer** code, ConstantTable** table) {
  if (code) *code = nullptr;
  if (table) *table = nullptr;
  return Compile(from, parsed, nullptr, declarations, nullptr, arguments, fragment, profileName,
                 optionWord & ~kOptionsWithTree, code, table);
}

namespace {

// A new buffer holding `size` bytes of `data`.
HRESULT CopyToBuffer(const void* data, std::size_t size, DataBuffer** out) {
  if (size > 0xFFFFFFFFu) return E_OUTOFMEMORY;
  DataBuffer* buffer = nullptr;
  const HRESULT hr = GXLCreateDataBuffer(static_cast<DWORD>(size), &buffer);
  if (FAILED(hr)) return hr;
  if (size) std::memcpy(buffer->GetPointer(), data, size);
  *out = buffer;
  return S_OK;
}

// Expression wrappers (code 0 over an expression) and lists lead to the
// node that does the work; a bounded walk, since the tree comes from a source.
const ParseNode* FirstRealNode(const ParseNode* node) {
  for (int steps = 0; node && steps < 256; ++steps) {
    if (node->kind == NodeKind::List) {
      node = node->first;
    } else if (const ParseNodeKind13* e = AsExpression(node);
               e && e->op == kExprValue && e->left && e->left->kind != NodeKind::Expression) {
      node = e->left;
    } else {
      return node;
    }
  }
  return node;
}

}  // namespace

HRESULT ShaderCompiler::CompileObjectExpression(ShaderPreprocessor* from, const ProgramNode* parsed,
                                                const ParseNode* expression, const char* profileName,
                                                std::uint32_t optionWord, DataBuffer** buffer, std::uint32_t* kind) {
  // Each step either finishes or moves to the expression a value node links to.
  for (int steps = 0; steps < 256; ++steps) {
    if (buffer) *buffer = nullptr;
    if (kind) *kind = 0;
    optionWord &= ~kOptionsWithTree;
    source = from;
    if (IsPlainValueType(expression)) {
      if (const ParseNodeKind13* e = AsExpression(expression); e && e->type && e->type->kind == NodeKind::Type)
        static_cast<TypeNode*>(e->type)->flags &= ~0x0C00u;
      return Compile(from, parsed, nullptr, nullptr, expression, nullptr, 0, profileName, optionWord, buffer, nullptr);
    }
    const ParseNodeKind13* e = AsExpression(expression);
    if (!e && !(expression && expression->kind == NodeKind::Expression)) {
      GXL_SHADER_REPORT(*this, expression, msg::kInternalExpressionExpected);
      return E_FAIL;
    }
    const TypeNode* type = e ? AsTypeNode(e->type) : nullptr;
    if (e && e->type && (e->type->kind == NodeKind::ArrayType || (type && type->shape == kShapeAggregate))) {
      GXL_SHADER_REPORT(*this, expression, msg::kObjectArrayExpression);
      return E_NOTIMPL;
    }
    const ParseNode* node = FirstRealNode(expression);
    const auto* leaf = node && node->kind == NodeKind::Expression ? static_cast<const ExpressionNode*>(node) : nullptr;
    if (type && type->baseType == kBaseString && leaf && leaf->value.subKind == kComponentObject) {
      const char* text = static_cast<const char*>(leaf->value.address);
      if (!text) break;
      if (!buffer) return D3DERR_INVALIDCALL;
      if (kind) *kind = 1;
      return CopyToBuffer(text, std::strlen(text) + 1, buffer);
    }
    if (const ParseNodeKind13* call = AsExpression(node); call && call->op == kExprCompile) {
      const auto* target = call->left && call->left->kind == NodeKind::Token
                               ? &static_cast<const TokenNode*>(call->left)->token
                               : nullptr;
      const ParseNodeKind13* invoked = AsExpression(call->right);
      if (!target || !invoked) break;
      return CompileFunction(from, parsed, invoked->left, invoked->right, 0, target->value.text, optionWord, buffer,
                             nullptr);
    }
    if (!node || node->kind != NodeKind::Expression) break;
    const ExpressionValue& value = static_cast<const ExpressionNode*>(node)->value;
    if (value.subKind == kValueNode && value.node && AsExpression(value.node)) {
      expression = value.node;
      continue;
    }
    if (value.subKind == kValueCode && value.address) {
      if (!buffer) return D3DERR_INVALIDCALL;
      return CopyToBuffer(value.address, value.third, buffer);
    }
    break;
  }
  GXL_SHADER_REPORT(*this, expression, msg::kObjectExpression);
  return E_NOTIMPL;
}

}  // namespace gxl::shader

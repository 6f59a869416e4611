// Code generation of the 1.x target: the fixed order of rewrites, folds and
// checks over the IR, the output move that makes COLOR0 the temporary r0,
// placement into the instruction lists (ps_1_1-1_3) or the partition search
// (ps_1_4), and the rules that finish the lists.
#include "gxl/shader/backend/opt/opt_util.h"
#include "gxl/shader/backend/select/selection.h"
#include "gxl/shader/backend/targets/modifier_folds.h"
#include "gxl/shader/backend/targets/ps1/ps1_target.h"

namespace gxl::shader {

namespace {

constexpr std::uint32_t kLiteralBankType = 785;
constexpr std::uint32_t kGeneralInputFlags = 0x14;

bool IsSample(std::uint32_t group) { return group == 0x600 || group == 0x605 || group == 0x60A || group == 0x60F; }

}  // namespace

HRESULT PixelShader1Target::GenerateCode() {
  // 1. The zero and one the emulations read.
  const std::uint32_t bank = AddRegisterBank("c", kLiteralBankType, 1, 4);
  if (bank == kNoIndex) return E_OUTOFMEMORY;
  zeroValue = AddValue(bank, 0, 0, 0.0);
  oneValue = AddValue(bank, 0, 1, 1.0);
  if (zeroValue == kNoIndex || oneValue == kNoIndex) return E_OUTOFMEMORY;
  conditionalLowered = false;
  literalRegisterBank = kNoIndex;
  HRESULT hr = S_OK;

  // 2. ps_1_4 tex2Dproj divided by z where w copies z.
  if (Is14()) {
    for (std::uint32_t i = 0; i < instructions.Count(); ++i)
      if (Instruction(i) && Instruction(i)->Group() == 0x607 && FAILED(hr = rules->ProjectiveRewrite(*this, i)))
        return hr;
    if (FAILED(hr = Refresh())) return hr;
  }
  // 3.
  if (FAILED(hr = CheckGeneralReads())) return hr;
  // 4.
  for (std::uint32_t i = 0; i < values.Count(); ++i) {
    IrValue* v = Value(i);
    if (!v) continue;
    v->alias = kNoIndex;
    const std::uint32_t kind = Ps1KindOf(SemanticOf(i));
    if (IsInputValue(i) && (kind == kPs1Color || (kind == kPs1Texcoord && !Is14()))) v->flags |= kGeneralInputFlags;
  }
  for (std::uint32_t i = 0; i < instructions.Count(); ++i) {
    IrInstruction* inst = Instruction(i);
    if (!inst) continue;
    CoIssueMark(*inst) = 0;
    if (IsSample(inst->Group()))
      for (std::uint32_t r = 0; r < inst->resultCount; ++r)
        if (IrValue* v = Value(inst->results[r])) v->flags |= kGeneralInputFlags;
  }
  // 5-11.
  if (FAILED(hr = RunFolds())) return hr;
  // Steps 12 and 13 add instructions, never remove one: a program past the
  // size limit of step 14 (of the rules' preparation on ps_1_4) now is
  // refused now, before placement and pairing spend time on it in
  // proportion to its square.
  if (Is14()) {
    if (FAILED(hr = rules->CheckSize14(*this))) return hr;
  } else {
    std::uint32_t computing = 0;
    for (std::uint32_t i = 0; i < instructions.Count(); ++i) computing += !opt::IsEmpty(Instruction(i));
    if (computing > kPs1xInstructionLimit) {
      GXL_SHADER_REPORT(*this, nullptr, msg::kFarTooLargeForPs1x, static_cast<int>(Minor()));
      return E_FAIL;
    }
  }
  // 12.
  for (std::uint32_t i = 0; i < instructions.Count(); ++i)
    if (Instruction(i) && FAILED(hr = rules->LegaliseOperands(*this, i))) return hr;
  if (FAILED(hr = Refresh())) return hr;
  if (FAILED(hr = ShaderTarget::AllocateRegisters())) return hr;
  // 13.
  if (FAILED(hr = RejectUnsupportedSampling())) return hr;
  if (FAILED(hr = MoveOutputsThroughTemporaries())) return hr;
  if (FAILED(hr = Refresh())) return hr;

  if (!Is14()) {
    // 14.
    std::uint32_t count = 0;
    for (std::uint32_t i = 0; i < instructions.Count(); ++i) count += Instruction(i) && Instruction(i)->word != 0;
    if (count > kPs1xInstructionLimit) {
      GXL_SHADER_REPORT(*this, nullptr, msg::kFarTooLargeForPs1x, static_cast<int>(Minor()));
      return E_FAIL;
    }
    if (FAILED(hr = PlaceTextureOperations())) return hr;
    if (phaseOneList.Exists()) {
      if (FAILED(hr = CopyConstantCoordinates())) return hr;
      if (FAILED(hr = MatchDependentReads())) return hr;
    }
    if (stageList.Exists()) {
      if (FAILED(hr = rules->EmulateSwizzles(*this))) return hr;
      if (FAILED(hr = rules->EmulateWriteMasks(*this))) return hr;
      if (FAILED(hr = rules->LowerConditionals(*this))) return hr;
      if (FAILED(hr = rules->AssignRegisters(*this, false))) return hr;
    }
  } else if (FAILED(hr = SearchPartitions14())) {  // 15.
    return hr;
  }
  // 16.
  if (FAILED(hr = rules->AssignConstants(*this))) return hr;
  // The fold first: pairs are checked against the registers that are written.
  if (FAILED(hr = FoldOutputMove())) return hr;
  if (FAILED(hr = rules->MarkCoIssue(*this, true))) return hr;
  if (FAILED(hr = rules->MarkCoIssue(*this, false))) return hr;
  if (!Is14() && FAILED(hr = rules->WarnClampedCoordinates(*this))) return hr;
  return S_OK;
}

// Reads no 1.x instruction can make: the w of a texture coordinate outside
// tex2Dproj's own, and the sampling forms with a second argument group.
HRESULT PixelShader1Target::CheckGeneralReads() {
  bool failed = false;
  for (std::uint32_t i = 0; i < instructions.Count(); ++i) {
    const IrInstruction* inst = Instruction(i);
    if (!inst) continue;
    const std::uint32_t group = inst->Group();
    SetCurrentInstruction(i);
    for (std::uint32_t a = 0; a < inst->argumentCount; ++a) {
      const std::uint32_t arg = inst->arguments[a];
      if (!IsInputValue(arg) || IsConstantValue(arg) || Ps1KindOf(SemanticOf(arg)) != kPs1Texcoord) continue;
      if (Value(arg)->component != 3 || (group == 0x607 && a == 7)) continue;
      GXL_SHADER_REPORT(*this, currentSource, msg::kTexcoordWInPs1x, static_cast<int>(Minor()));
      failed = true;
      break;
    }
    if (group == 0x606 || group == 0x60B || group == 0x601 || group == 0x610) {
      GXL_SHADER_REPORT(*this, currentSource, msg::kUnmappedPixelExpression);
      failed = true;
    }
  }
  return failed ? E_FAIL : S_OK;
}

// Steps 5 to 11 as one walk of the recognisers: each fold's refresh of the
// use analysis follows what it changed (DefUseUpkeep) instead of rebuilding
// the program, which made a long program's folds cost its square. No fold
// reads the definition chains of the register table: the table is left out
// while they run and rebuilt once after them, as their last refresh left it.
HRESULT PixelShader1Target::RunFolds() {
  const std::uint32_t table = registerTableFlag;
  registerTableFlag = 0;
  HRESULT hr;
  {
    const SelectionWalk walk(*this);
    hr = RunFoldSteps();
  }
  registerTableFlag = table;
  return SUCCEEDED(hr) ? RebuildDefUse() : hr;
}

HRESULT PixelShader1Target::RunFoldSteps() {
  using Fold = HRESULT (*)(ShaderTarget&);
  auto each = [this](auto accepts, auto run) -> HRESULT {
    for (std::uint32_t i = 0; i < instructions.Count(); ++i) {
      const IrInstruction* inst = Instruction(i);
      if (!inst || !accepts(inst->Group())) continue;
      SetCurrentInstruction(i);
      const HRESULT hr = run(i);
      if (FAILED(hr)) return hr;
    }
    return S_OK;
  };
  auto folds = [this](std::initializer_list<Fold> list) {
    return [this, list](std::uint32_t) -> HRESULT {
      for (const Fold fold : list) {
        if (!current || current->word == 0) break;
        const HRESULT hr = fold(*this);
        if (FAILED(hr)) return hr;
        if (hr == S_OK && FAILED(Refresh())) return E_OUTOFMEMORY;
      }
      return S_OK;
    };
  };
  HRESULT hr = each([](std::uint32_t g) { return g == kOpMin || g == kOpMax || g == kOpSelect; },
                    [this](std::uint32_t) { return RecognizeSaturate(*this); });
  if (SUCCEEDED(hr))
    hr = each([](std::uint32_t g) { return g == kOpMove || g == kOpNegate; },
              [this](std::uint32_t i) {
                return Instruction(i)->Group() == kOpMove ? rules->ForwardTextureCoordinateMove(*this, i)
                                                          : rules->NegateConstant(*this, i);
              });
  if (SUCCEEDED(hr)) hr = Refresh();
  if (SUCCEEDED(hr))
    hr = each([](std::uint32_t g) { return g == kOpNegate; },
              folds({[](ShaderTarget& t) { return FoldNegate(t, false); }, &FoldNegatedMultiply}));
  if (SUCCEEDED(hr))
    hr = each([](std::uint32_t g) { return g == kOpAdd; },
              folds({&FoldSignedScale, &FoldBias, [](ShaderTarget& t) { return FoldComplement(t); }, &FoldTimesTwo}));
  if (SUCCEEDED(hr))
    hr = each([](std::uint32_t g) { return g == kOpMultiply; }, folds({&FoldTimesTwo, &FoldNegatedMultiply}));
  if (SUCCEEDED(hr)) hr = each([](std::uint32_t g) { return g == kOpDot; }, folds({&FoldMoveIntoScalarResult}));
  if (SUCCEEDED(hr)) hr = Refresh();
  if (SUCCEEDED(hr))
    hr = each([](std::uint32_t g) { return g == kOpAdd || g == kOpMultiply; },
              [this](std::uint32_t i) { return rules->FoldResultScale(*this, i); });
  if (SUCCEEDED(hr)) hr = Refresh();
  if (SUCCEEDED(hr) && !Is14())
    hr = each([](std::uint32_t g) { return g == 0x60F; },
              [this](std::uint32_t i) {
                const HRESULT made = RecogniseReflection(i);
                return made == S_OK ? Refresh() : made;
              });
  if (SUCCEEDED(hr))
    hr = each([](std::uint32_t g) { return g == kOpAdd; },
              [this](std::uint32_t i) { return rules->FuseMultiplyAdd(*this, i); });
  if (SUCCEEDED(hr)) hr = Refresh();
  if (SUCCEEDED(hr))
    hr = each([](std::uint32_t g) { return g == kOpPs1Mad; },
              folds({&TryLerpOrders, [](ShaderTarget& t) { return RecognizeLerpFromMad(t); }}));
  return hr;
}

// The outputs become temporaries that one four-component move copies into
// new output values; COLOR0 is r0, so the move folds away at the end.
HRESULT PixelShader1Target::MoveOutputsThroughTemporaries() {
  const std::uint32_t outputs = StandardBankIndex(StandardBank::Outputs);
  const std::uint32_t temporaries = StandardBankIndex(StandardBank::Temporaries);
  std::uint32_t byComponent[4] = {kNoIndex, kNoIndex, kNoIndex, kNoIndex};
  std::uint32_t semantic = kNoIndex, found = 0;
  for (std::uint32_t i = 0; i < values.Count(); ++i) {
    IrValue* v = Value(i);
    if (!v || v->bank != outputs) continue;
    ++found;
    semantic = v->registerKey;
    if (v->component < 4) byComponent[v->component] = i;
  }
  if (found != 4 || byComponent[0] == kNoIndex || byComponent[1] == kNoIndex || byComponent[2] == kNoIndex ||
      byComponent[3] == kNoIndex)
    return S_OK;  // no whole COLOR0: the output checks reported it
  std::uint32_t results[4];
  for (std::uint32_t c = 0; c < 4; ++c) {
    IrValue* old = Value(byComponent[c]);
    results[c] = AddValue(outputs, old->reg, c, 0.0);
    if (results[c] == kNoIndex) return E_OUTOFMEMORY;
    IrValue* made = Value(results[c]);
    made->registerKey = semantic;
    made->semantic = old->semantic;
    made->declaration = old->declaration;
    made->variableComponent = old->variableComponent;
    made->flags = 0;
    old->bank = temporaries;
    old->reg = kNoIndex;
  }
  outputMove = AddFilledInstruction(IrWord(kOpMove, 4), byComponent, 4, results, 4, kNoIndex);
  return outputMove == kNoIndex ? E_OUTOFMEMORY : S_OK;
}

HRESULT PixelShader1Target::FoldOutputMove() {
  if (!OutputMoveFolds()) return S_OK;
  IrInstruction* move = Instruction(outputMove);
  for (std::uint32_t c = 0; c < 4; ++c) Value(move->arguments[c])->reg = 0;
  move->word = 0;
  return S_OK;
}

// The output move vanishes when each component's producer can write r0
// itself: it lies in the stage list's arithmetic, and nothing between it and
// the move touches that component of r0.
bool PixelShader1Target::OutputMoveFolds() const {
  const IrInstruction* move = Instruction(outputMove);
  if (!move || move->word == 0 || !stageList.Exists() || stageList.Count() == 0 ||
      stageList[stageList.Count() - 1] != outputMove)
    return false;
  const std::uint32_t outputs = StandardBankIndex(StandardBank::Outputs);
  const std::uint32_t temporaries = StandardBankIndex(StandardBank::Temporaries);
  for (std::uint32_t c = 0; c < 4; ++c) {
    const IrValue* r = Value(move->results[c]);
    const IrValue* a = Value(move->arguments[c]);
    // The producer's own result modifiers go with it to r0; a modified read does not.
    if (!r || r->bank != outputs || (r->binding & kPs1Modifiers) || !a || (a->binding & mod::kSourceBits)) return false;
  }
  const std::uint32_t last = stageList.Count() - 1;
  std::uint32_t producerAt[4];
  auto touchesR0 = [&](std::uint32_t value, std::uint32_t c) {
    const IrValue* v = Value(ResolveAlias(value));
    return v && v->bank == temporaries && v->reg == 0 && v->component == c;
  };
  for (std::uint32_t c = 0; c < 4; ++c) {
    producerAt[c] = kNoIndex;
    for (std::uint32_t k = 0; k < last; ++k) {
      const IrInstruction* inst = Instruction(stageList[k]);
      if (!inst || (k < Stages() && !(Is14() && k == 0))) continue;
      for (std::uint32_t r = 0; r < inst->resultCount; ++r)
        if (inst->results[r] == move->arguments[c]) producerAt[c] = k;
    }
    if (producerAt[c] == kNoIndex) return false;
    for (std::uint32_t k = producerAt[c] + 1; k < last; ++k) {
      const IrInstruction* inst = Instruction(stageList[k]);
      if (!inst) continue;
      for (std::uint32_t a = 0; a < inst->argumentCount; ++a)
        if (touchesR0(inst->arguments[a], c)) return false;
      for (std::uint32_t r = 0; r < inst->resultCount; ++r)
        if (touchesR0(inst->results[r], c)) return false;
    }
  }
  return true;
}

}  // namespace gxl::shader

// ps_1_4 before the partition search: tex2Dproj divided by z where its w is
// a copy of z; texture coordinates that arithmetic (or a texld divided by z,
// which reads only registers) reads made registers by texcrd; coordinates no texld can read moved into temporaries; the
// marks of what feeds a texture operation; and the checks of the dependent chains.
#include "gxl/shader/backend/alloc/pairing.h"
#include "gxl/shader/backend/opt/opt_util.h"
#include "gxl/shader/backend/targets/modifier_folds.h"
#include "gxl/shader/backend/targets/ps1/ps1_standard_rules.h"
#include "gxl/shader/backend/targets/ps1/ps1_target.h"

namespace gxl::shader {

namespace {

constexpr std::uint32_t kProjective2D = 0x607;
constexpr std::uint32_t kTexcrdSets = 6;
constexpr std::uint32_t kDivideByZLimit = 2;  // _dz reads per program

bool Unmodified(const PixelShader1Target& t, std::uint32_t value) {
  const IrValue* v = t.Value(value);
  return v && !(v->binding & kPs1Modifiers);
}

// The value a move copied into `value`, or kNoIndex.
std::uint32_t MovedFrom(const PixelShader1Target& t, std::uint32_t value) {
  const std::uint32_t root = t.ResolveAlias(value);
  const IrInstruction* p = t.Instruction(t.ProducerOf(root));
  if (!p || p->Group() != kOpMove) return kNoIndex;
  for (std::uint32_t r = 0; r < p->resultCount && r < p->argumentCount; ++r)
    if (p->results[r] == root && Unmodified(t, p->arguments[r])) return t.ResolveAlias(p->arguments[r]);
  return kNoIndex;
}

// Whether w holds the value of z, so that dividing by z divides by w.
bool WCopiesZ(const PixelShader1Target& t, std::uint32_t z, std::uint32_t w) {
  if (!Unmodified(t, z) || !Unmodified(t, w)) return false;
  const std::uint32_t zRoot = t.ResolveAlias(z), wRoot = t.ResolveAlias(w);
  if (zRoot == wRoot) return true;
  const std::uint32_t zSource = MovedFrom(t, zRoot);
  const IrInstruction* p = t.Instruction(t.ProducerOf(wRoot));
  if (!p || p->word == 0) return false;
  if (p->Group() == kOpMove) {
    const std::uint32_t wSource = MovedFrom(t, wRoot);
    return wSource != kNoIndex && (wSource == zRoot || wSource == zSource);
  }
  if (p->Group() != kOpDot) return false;
  // Every result of a dot product holds the same sum.
  for (std::uint32_t r = 0; r < p->resultCount; ++r)
    if (p->results[r] == zRoot || (zSource != kNoIndex && p->results[r] == zSource)) return true;
  return false;
}

class Preparation {
 public:
  explicit Preparation(PixelShader1Target& t) : m_t(t) {}
  HRESULT Run();

 private:
  HRESULT MakeTexcrd(std::uint32_t set);
  HRESULT MoveCoordinate(std::uint32_t index, std::uint32_t* moves);
  HRESULT MarkFeeders();
  bool Check();
  // Puts the instruction at `from` (the last) at `to`, the others shifting up.
  void Insert(std::uint32_t to, std::uint32_t from) {
    MoveInstruction(m_t, to, from);
    if (m_t.outputMove != kNoIndex && m_t.outputMove >= to && m_t.outputMove < from) ++m_t.outputMove;
  }
  bool Live(std::uint32_t i) const { return m_t.Instruction(i) && m_t.Instruction(i)->word != 0; }
  // The texture coordinate set `value` reads, or kNoIndex.
  std::uint32_t TexcoordSet(std::uint32_t value) const {
    const std::uint32_t root = m_t.ResolveAlias(value);
    const std::uint32_t word = m_t.SemanticOf(root);
    return m_t.IsInputValue(root) && Ps1KindOf(word) == kPs1Texcoord ? Ps1IndexOf(word) : kNoIndex;
  }
  static std::uint32_t CoordinateEnd(const IrInstruction& inst) {
    return inst.Group() == kOpDiscard
               ? inst.argumentCount
               : std::min(inst.argumentCount, PixelShader1Target::CoordinateStart(inst) + inst.Width());
  }

  PixelShader1Target& m_t;
};

HRESULT Preparation::Run() {
  for (std::uint32_t k = 0; k < kTexcrdSets; ++k) {
    const HRESULT hr = MakeTexcrd(k);
    if (FAILED(hr)) return hr;
  }
  for (std::uint32_t i = 0; i < m_t.instructions.Count(); ++i) {
    if (!Live(i) || m_t.Instruction(i)->Group() == kOpTexcoord ||
        !PixelShader1Target::IsTextureOperation(m_t.Instruction(i)->Group()))
      continue;
    std::uint32_t moves = 0;
    const HRESULT hr = MoveCoordinate(i, &moves);
    if (FAILED(hr)) return hr;
    i += moves;  // the operation moved down, behind its moves
  }
  HRESULT hr = m_t.ResetSelectionState();
  if (SUCCEEDED(hr)) hr = MarkFeeders();
  if (FAILED(hr)) return hr;
  return Check() ? S_OK : E_FAIL;
}

// Arithmetic cannot read a texture coordinate on ps_1_4, nor can texld with
// a modifier, out of order or divided by z: texcrd makes it a register,
// before its first reader.
HRESULT Preparation::MakeTexcrd(std::uint32_t set) {
  std::uint32_t components = 0, first = kNoIndex;
  PodArray<std::uint32_t> readers;
  for (std::uint32_t i = 0; i < m_t.instructions.Count(); ++i) {
    if (!Live(i)) continue;
    const IrInstruction& inst = *m_t.Instruction(i);
    const bool texture = PixelShader1Target::IsTextureOperation(inst.Group());
    bool reads = false;
    for (std::uint32_t a = 0; a < inst.argumentCount; ++a) {
      if (TexcoordSet(inst.arguments[a]) != set) continue;
      // texld reads a texture coordinate as it stands, and divides by z only reading a register.
      const std::uint32_t position = a - PixelShader1Target::CoordinateStart(inst);
      if (texture && inst.Group() != kOpTexldDivideZ && !(m_t.Value(inst.arguments[a])->binding & mod::kSourceBits) &&
          m_t.Value(m_t.ResolveAlias(inst.arguments[a]))->component == position)
        continue;
      const std::uint32_t c = m_t.Value(m_t.ResolveAlias(inst.arguments[a]))->component;
      if (c < 4 && c + 1 > components) components = c + 1;
      reads = true;
    }
    if (!reads) continue;
    if (!readers.Append(i)) return E_OUTOFMEMORY;
    if (first == kNoIndex) first = i;
  }
  if (components == 0) return S_FALSE;
  std::uint32_t inputs[4], results[4];
  const std::uint32_t made = m_t.AddTexcoordInstruction(set, components, first, inputs, results);
  if (made == kNoIndex) return E_OUTOFMEMORY;
  for (std::size_t r = 0; r < readers.Size(); ++r) {
    const HRESULT hr = m_t.InputRemap(readers[r], readers[r], kNoIndex, inputs, results, components);
    if (FAILED(hr)) return hr;
  }
  Insert(first, made);
  return S_OK;
}

// texld reads a texture coordinate, or components 0, 1, 2 of one register,
// unmodified. A modified temporary, a constant, a colour, or temporaries
// that are not one result in order are moved into new temporaries first:
// one move when the sources sit in order in one register, else one per
// component. The number of moves put before the operation.
HRESULT Preparation::MoveCoordinate(std::uint32_t index, std::uint32_t* moves) {
  *moves = 0;
  IrInstruction* inst = m_t.Instruction(index);
  const std::uint32_t start = PixelShader1Target::CoordinateStart(*inst), end = CoordinateEnd(*inst);
  if (end <= start || end - start > 4) return S_OK;
  const std::uint32_t width = end - start;
  const IrValue& first = *m_t.Value(m_t.ResolveAlias(inst->arguments[start]));
  const std::uint32_t firstProducer = m_t.ProducerOf(inst->arguments[start]);
  const std::uint32_t firstModifier = m_t.Value(inst->arguments[start])->binding & mod::kSourceBits;
  bool move = false, inOrder = true;
  for (std::uint32_t j = 0; j < width; ++j) {
    const std::uint32_t arg = inst->arguments[start + j], root = m_t.ResolveAlias(arg);
    const IrValue& v = *m_t.Value(root);
    const bool temporary = m_t.IsTemporaryValue(root);
    const std::uint32_t modifier = m_t.Value(arg)->binding & mod::kSourceBits;
    inOrder = inOrder && v.component == j && v.bank == first.bank && v.reg == first.reg && modifier == firstModifier &&
              (!temporary || m_t.ProducerOf(root) == firstProducer);
    move |= (temporary && (modifier || !inOrder || firstProducer == kNoIndex)) || m_t.IsConstantValue(root) ||
            (m_t.IsInputValue(root) && Ps1KindOf(m_t.SemanticOf(root)) == kPs1Color);
  }
  if (!move) return S_OK;
  const std::uint32_t temporaries = m_t.StandardBankIndex(StandardBank::Temporaries);
  std::uint32_t copies[4];
  for (std::uint32_t j = 0; j < width; ++j) {
    if ((copies[j] = m_t.AddValue(temporaries, kNoIndex, j, 0.0)) == kNoIndex) return E_OUTOFMEMORY;
    m_t.Value(copies[j])->flags = 0;
  }
  // A move's source takes one swizzle: out of order, each component alone.
  const std::uint32_t count = inOrder ? 1 : width, each = inOrder ? width : 1;
  for (std::uint32_t m = 0; m < count; ++m) {
    const std::uint32_t made = m_t.AddFilledInstruction(
        IrWord(kOpMove, each), m_t.Instruction(index)->arguments + start + m, each, copies + m, each, index);
    if (made == kNoIndex) return E_OUTOFMEMORY;
    Insert(index++, made);
    ++*moves;
  }
  inst = m_t.Instruction(index);
  for (std::uint32_t j = 0; j < width; ++j) inst->arguments[start + j] = copies[j];
  return S_OK;
}

// Every instruction that feeds a texture operation is marked (pinned 1);
// word 10 marks, for the chain check, what feeds a texture load.
HRESULT Preparation::MarkFeeders() {
  HRESULT hr = m_t.BuildDependencyLists();
  if (FAILED(hr) || m_t.instructions.Count() == 0) return hr;
  for (std::uint32_t i = 0; i < m_t.instructions.Count(); ++i)
    if (IrInstruction* inst = m_t.Instruction(i)) inst->pinned = inst->word10 = 0;
  IrInstruction* const* table = &m_t.instructions.Slot(0);
  for (std::uint32_t i = 0; i < m_t.instructions.Count(); ++i) {
    if (!Live(i)) continue;
    IrInstruction& inst = *m_t.Instruction(i);
    const std::uint32_t group = inst.Group();
    if (!PixelShader1Target::IsTextureOperation(group)) continue;
    // An operation's own mark says only whether it feeds another.
    const std::uint32_t pinned = inst.pinned, word10 = inst.word10;
    if (FAILED(hr = StampPredecessors(table, i, 1))) return hr;
    if (PixelShader1Target::IsTextureLoad(group) && FAILED(hr = StampPredecessorsAlt(table, i, 1))) return hr;
    inst.pinned = pinned;
    inst.word10 = word10;
  }
  return S_OK;
}

// Every failure is reported; false when there was one.
bool Preparation::Check() {
  bool failed = false;
  std::uint32_t count = 0;
  for (std::uint32_t i = 0; i < m_t.instructions.Count(); ++i) count += Live(i);
  if (count > PixelShader1Target::kPs14InstructionLimit) {
    GXL_SHADER_REPORT(m_t, nullptr, msg::kFarTooLargeForPs14);
    failed = true;
  }
  bool chainReported = false;
  for (std::uint32_t i = 0; i < m_t.instructions.Count(); ++i) {
    if (!Live(i)) continue;
    const IrInstruction& inst = *m_t.Instruction(i);
    m_t.SetCurrentInstruction(i);
    if (inst.pinned == 1) {
      for (std::uint32_t a = 0; a < inst.argumentCount; ++a) {
        const std::uint32_t root = m_t.ResolveAlias(inst.arguments[a]);
        if (!m_t.IsInputValue(root) || Ps1KindOf(m_t.SemanticOf(root)) != kPs1Color) continue;
        GXL_SHADER_REPORT(m_t, m_t.currentSource, msg::kTextureLoadFromColor);
        failed = true;
        break;
      }
    }
    // A load that feeds another load must sit in phase one, where it can
    // read only a texture coordinate.
    if (inst.word10 == 1 && PixelShader1Target::IsTextureLoad(inst.Group()) && PlainTexcoordOf(m_t, inst) == kNoIndex &&
        !chainReported) {
      GXL_SHADER_REPORT(m_t, m_t.currentSource, msg::kDependentChainTooLong);
      failed = chainReported = true;
    }
  }
  return !failed;
}

}  // namespace

HRESULT Ps1StandardRules::ProjectiveRewrite(PixelShader1Target& t, std::uint32_t index) {
  IrInstruction* inst = t.Instruction(index);
  if (!inst || inst->Group() != kProjective2D || inst->Width() != 4 || inst->argumentCount != 8) return 1;
  if (!WCopiesZ(t, inst->arguments[6], inst->arguments[7])) return 1;
  std::uint32_t divided = 0;
  for (std::uint32_t i = 0; i < t.instructions.Count(); ++i)
    divided += t.Instruction(i) && t.Instruction(i)->Group() == kOpTexldDivideZ;
  if (divided == kDivideByZLimit) return 1;  // the others divide by w, as they may
  // Three sampler arguments, then x, y, z: the operand arrays only shrink.
  inst->word = IrWord(kOpTexldDivideZ, 3);
  inst->arguments[3] = inst->arguments[4];
  inst->arguments[4] = inst->arguments[5];
  inst->arguments[5] = inst->arguments[6];
  inst->argumentCount = 6;
  // What computed w alone is dead now; left, it would hold a register's alpha across the phase.
  const HRESULT hr = t.RemoveDeadCode();
  return FAILED(hr) ? hr : S_OK;
}

HRESULT Ps1StandardRules::PreparePhases14(PixelShader1Target& t) { return Preparation(t).Run(); }

// Preparation only adds instructions (texture coordinates, their moves), as
// do the steps before it: a program past the limit after the folds is past
// it at the check.
HRESULT Ps1StandardRules::CheckSize14(PixelShader1Target& t) {
  std::uint32_t computing = 0;
  for (std::uint32_t i = 0; i < t.instructions.Count(); ++i) computing += !opt::IsEmpty(t.Instruction(i));
  if (computing <= PixelShader1Target::kPs14InstructionLimit) return 1;
  GXL_SHADER_REPORT(t, nullptr, msg::kFarTooLargeForPs14);
  return E_FAIL;
}

}  // namespace gxl::shader

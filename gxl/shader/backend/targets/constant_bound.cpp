// A lower bound on the float constant registers a program needs, once its
// literals are packed, against the profile's constant registers. Binding
// counts them only after scheduling and register allocation, which take
// seconds on a large program (a loop unrolled into thousands of literals):
// where the bound already passes the limit, the program is refused there
// with the binding's message, at the place the binding would name.
#include <algorithm>
#include <memory>
#include <new>

#include "gxl/shader/backend/targets/shader_target.h"
#include "gxl/shader/core/syntax_tree.h"

namespace gxl::shader {

namespace {

// The bound is taken where the later phases would take long, as the slot
// bound is; elsewhere the binding refuses after them at little cost. There
// a program past its temporaries as well is told of its constants, where
// the whole compile names the temporaries first.
constexpr std::uint32_t kBoundFromInstructions = 4096;

// The banks the binding of the float constants takes ('c').
bool FloatConstantBank(const RegisterBank* b) {
  return b && (b->type & kBankUniform) && !(b->type & (kBankBoolean | kBankInteger | kBankSampler));
}

// Banks the binding places register by register, after the whole banks: an
// array keeps its binding, other literals lose theirs.
bool PlacedByRegister(const RegisterBank& b) {
  if (b.type & kBankRelative) return !(b.type & kBankBound);
  return (b.type & kBankLiteral) || !(b.type & kBankBound);
}

}  // namespace

HRESULT ShaderTarget::FitConstantRegisters() {
  // The pixel 1.x targets place their constants their own way.
  if ((versionToken & 0xFFFFFF00u) == 0xFFFF0100u) return S_OK;
  if (fragmentMode || instructions.Count() < kBoundFromInstructions) return S_OK;
  const std::uint32_t bankCount = banks.Count();
  const std::uint32_t valueCount = values.Count();
  if (FAILED(ChargeWork(std::uint64_t{instructions.Count()} * 4 + valueCount + bankCount))) return E_FAIL;
  const std::uint32_t limit = profileLimits.floatConstants;

  // Per bank: the registers its values hold now (the binding's count of a
  // whole bank) and those the live instructions read. Later phases move and
  // drop values but read no register that no instruction read before.
  std::unique_ptr<std::uint32_t[]> present(new (std::nothrow) std::uint32_t[bankCount + 1]());
  std::unique_ptr<std::uint32_t[]> read(new (std::nothrow) std::uint32_t[bankCount + 1]());
  if (!present || !read) return E_OUTOFMEMORY;
  // The binding's message names the declaration of the first register-placed
  // value left without a register: taken only where they all share one.
  const ParseNode* where = nullptr;
  bool placed = false;
  for (std::uint32_t i = 0; i < valueCount; ++i) {
    const IrValue* v = Value(i);
    const RegisterBank* b = v && v->bank < bankCount ? Bank(v->bank) : nullptr;
    if (!FloatConstantBank(b) || v->reg == kNoIndex) continue;
    // Explicit register semantics may share registers: no bound by sums.
    if (b->type & kBankKeepValues) return S_OK;
    present[v->bank] = std::max(present[v->bank], v->reg + 1);
    if (!PlacedByRegister(*b)) continue;
    if (placed && v->declaration != where) return S_OK;
    where = v->declaration;
    placed = true;
  }

  // Registers read per register-placed bank, counted once each.
  std::uint64_t byRegister = 0;
  PodArray<std::uint32_t> seen;  // per bank, a bit per register
  std::unique_ptr<std::uint32_t[]> firstWord(new (std::nothrow) std::uint32_t[bankCount + 1]);
  if (!firstWord) return E_OUTOFMEMORY;
  std::fill(firstWord.get(), firstWord.get() + bankCount + 1, kNoIndex);
  for (std::uint32_t i = 0; i < instructions.Count(); ++i) {
    const IrInstruction* inst = Instruction(i);
    if (!inst || inst->word < 0x100000) continue;
    for (std::uint32_t a = 0; a < inst->argumentCount; ++a) {
      const IrValue* v = Value(inst->arguments[a]);
      const RegisterBank* b = v && v->bank < bankCount ? Bank(v->bank) : nullptr;
      if (!FloatConstantBank(b) || v->reg == kNoIndex) continue;
      if (!PlacedByRegister(*b)) {
        // An array read through an index holds all of its registers.
        const std::uint32_t whole = (b->type & kBankRelative) ? b->registerCount : 0;
        read[v->bank] = std::max({read[v->bank], v->reg + 1, whole});
        continue;
      }
      std::uint32_t& first = firstWord[v->bank];
      if (first == kNoIndex) {
        first = static_cast<std::uint32_t>(seen.Size());
        const std::uint32_t zero = 0;
        for (std::uint32_t w = 0; w < (present[v->bank] + 31) / 32; ++w)
          if (!seen.Append(zero)) return E_OUTOFMEMORY;
      }
      std::uint32_t& word = seen[first + v->reg / 32];
      const std::uint32_t bit = 1u << (v->reg % 32);
      if (!(word & bit)) ++byRegister;
      word |= bit;
    }
  }

  // The whole banks take their registers first: where all of those present
  // fit, the binding's refusal comes with the register-placed values.
  std::uint64_t wholeRead = 0, wholePresent = 0;
  for (std::uint32_t b = 0; b < bankCount; ++b) {
    const RegisterBank* bank = Bank(b);
    if (!FloatConstantBank(bank) || PlacedByRegister(*bank)) continue;
    wholeRead += read[b];
    wholePresent += std::max(present[b], (bank->type & kBankRelative) ? bank->registerCount : 0u);
  }
  if (!placed || wholePresent > limit || wholeRead + byRegister <= limit) return S_OK;
  return ReportRegisterLimit('c', 2, where);
}

}  // namespace gxl::shader

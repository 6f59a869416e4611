// Binding of register files to hardware register numbers: explicit register
// semantics (register(c4)) first, then whole banks by size, then single
// registers, each within the file's limit.
#include <algorithm>
#include <cctype>
#include <memory>
#include <new>

#include "gxl/shader/backend/targets/shader_target.h"
#include "gxl/shader/core/syntax_tree.h"

namespace gxl::shader {

namespace {

struct Occupant {
  std::uint32_t bank = kNoIndex;
  std::uint32_t element = 0;
};

// The "maximum register" messages by binding letter: explicit, automatic,
// per-element placement.
const Message* LimitMessage(char letter, int step) {
  switch (letter) {
    case 'v':
      return &msg::kInputRegisterIndex;
    case 'c':
      return &msg::kConstantRegisterIndex;
    case 's':
      return step == 0 ? &msg::kSamplerIndexExceeded : &msg::kSamplerIndexTooHigh;
    case 'b':
      return &msg::kBooleanRegisterIndex;
    case 'i':
      return step == 2 ? &msg::kIteratorRegisterIndexDepth : &msg::kIteratorRegisterIndex;
    default:
      return nullptr;
  }
}

}  // namespace

HRESULT FindRegisterLetter(const char* text, std::uint32_t* position, char letter) {
  for (std::uint32_t i = 0; text && text[i];) {
    if (!std::isalpha(static_cast<unsigned char>(text[i]))) {
      ++i;
      continue;
    }
    if (std::tolower(static_cast<unsigned char>(text[i])) == letter) {
      *position = i;
      return S_OK;
    }
    while (std::isalpha(static_cast<unsigned char>(text[i]))) ++i;
  }
  return E_FAIL;
}

HRESULT ShaderTarget::ReportRegisterLimit(char letter, int step, const ParseNode* where) {
  if (const Message* m = LimitMessage(letter, step)) Report(where, m->severity, m->code, "%s", m->format);
  return E_FAIL;
}

HRESULT ShaderTarget::BindRegisterSemantics(std::uint32_t targetBank, std::uint32_t limit, std::uint32_t required,
                                            std::uint32_t excluded, char letter) {
  const std::uint32_t bankCount = banks.Count();
  auto selected = [&](const RegisterBank* b) { return b && (b->type & required) == required && !(b->type & excluded); };
  std::unique_ptr<std::uint32_t[]> highest(new (std::nothrow) std::uint32_t[bankCount + 1]());
  std::unique_ptr<const ParseNode*[]> lastDeclaration(new (std::nothrow) const ParseNode*[bankCount + 1]());
  std::unique_ptr<Occupant[]> table(new (std::nothrow) Occupant[limit ? limit : 1]);
  if (!highest || !lastDeclaration || !table) return E_OUTOFMEMORY;
  for (std::uint32_t i = 0; i < values.Count(); ++i) {
    const IrValue* v = Value(i);
    if (!v || v->bank >= bankCount) continue;
    if (v->reg != kNoIndex) highest[v->bank] = std::max(highest[v->bank], v->reg + 1);
    lastDeclaration[v->bank] = v->declaration;
  }

  // 1. Counts from the values; literals, inputs and single samplers without
  // an explicit semantic are placed register by register.
  for (std::uint32_t b = 0; b < bankCount; ++b) {
    RegisterBank* bank = Bank(b);
    if (!bank) continue;
    bank->registersUsed = 0;
    // An array's count stays, but it covers every value placed in the bank:
    // literals packed after it was sized would overlap the next bank.
    if (bank->type & kBankRelative) {
      bank->registerCount = std::max(bank->registerCount, highest[b]);
      continue;
    }
    bank->registerCount = highest[b];
    const std::uint32_t t = bank->type;
    const bool explicitSemantic = t & kBankKeepValues;
    if (((t & kBankLiteral) && !explicitSemantic) ||
        ((t & kBankInitialised) && !(t & kBankUniform) && !explicitSemantic) ||
        ((t & kBankSampler) && !explicitSemantic && bank->registerCount == 1))
      bank->type &= ~kBankBound;
  }

  // 3. Explicit register semantics.
  for (std::uint32_t b = 0; b < bankCount; ++b) {
    RegisterBank* bank = Bank(b);
    if (!selected(bank) || !(bank->type & kBankBound) || !(bank->type & kBankKeepValues) || !bank->registerCount)
      continue;
    // "c4" or "c4; s0": the number after the letter, ending the text or a binding.
    std::uint64_t base = kNoIndex;
    std::uint32_t at = 0;
    if (SUCCEEDED(FindRegisterLetter(bank->name, &at, letter)) &&
        std::isdigit(static_cast<unsigned char>(bank->name[at + 1]))) {
      std::uint64_t n = 0;
      const char* c = bank->name + at + 1;
      for (; std::isdigit(static_cast<unsigned char>(*c)) && n < kNoIndex; ++c)
        n = n * 10 + static_cast<std::uint64_t>(*c - '0');
      if (!std::isdigit(static_cast<unsigned char>(*c)) && (*c == '\0' || *c == ';')) base = n;
    }
    if (base >= limit) {
      GXL_SHADER_REPORT(*this, lastDeclaration[b], msg::kInvalidRegisterSemantic, bank->name, letter);
      return E_FAIL;
    }
    for (std::uint32_t k = 0; k < bank->registerCount; ++k) {
      const std::uint64_t reg = base + k;
      if (reg >= limit) return ReportRegisterLimit(letter, 0, lastDeclaration[b]);
      if (table[reg].bank != kNoIndex)
        GXL_SHADER_REPORT(*this, lastDeclaration[b], msg::kOverlappingRegisterSemantics, letter,
                          static_cast<unsigned>(reg));
      table[reg] = {b, k};
    }
    bank->registersUsed = static_cast<std::uint32_t>(base);
  }

  // 4. Whole banks, larger ones first, each at the lowest start with room.
  PodArray<std::uint32_t> order;
  for (std::uint32_t b = 0; b < bankCount; ++b) {
    const RegisterBank* bank = Bank(b);
    if (selected(bank) && (bank->type & kBankBound) && !(bank->type & kBankKeepValues) && bank->registerCount &&
        !order.Append(b))
      return E_OUTOFMEMORY;
  }
  SortIndicesByComparator(CompareBankSizes, order.Data(), static_cast<std::uint32_t>(order.Size()), this);
  for (std::size_t i = 0; i < order.Size(); ++i) {
    const std::uint32_t b = order[i];
    RegisterBank* bank = Bank(b);
    const std::uint32_t count = bank->registerCount;
    std::uint32_t start = 0;
    bool found = false;
    while (!found && count <= limit && start <= limit - count) {
      std::uint32_t free = 0;
      while (free < count && table[start + free].bank == kNoIndex) ++free;
      found = free == count;
      if (!found) start += free + 1;  // past the occupied entry
    }
    if (!found) return ReportRegisterLimit(letter, 1, lastDeclaration[b]);
    for (std::uint32_t k = 0; k < count; ++k) table[start + k] = {b, k};
    bank->registersUsed = start;
  }

  // 5. The bases into the registers.
  for (std::uint32_t i = 0; i < values.Count(); ++i)
    if (IrValue* v = Value(i); v && v->bank < bankCount && v->reg != kNoIndex) v->reg += Bank(v->bank)->registersUsed;
  for (std::uint32_t b = 0; b < bankCount; ++b) {
    RegisterBank* bank = Bank(b);
    if (!bank) continue;
    bank->registerCount += bank->registersUsed;
    bank->registersUsed = 0;
  }

  // 6. The remaining registers one by one at the lowest free entry.
  for (std::uint32_t b = 0; b < bankCount; ++b) {
    const RegisterBank* bank = Bank(b);
    if (!selected(bank) || (bank->type & (kBankBound | kBankKeepValues)) || !bank->registerCount) continue;
    std::unique_ptr<std::uint32_t[]> map(new (std::nothrow) std::uint32_t[bank->registerCount]);
    if (!map) return E_OUTOFMEMORY;
    std::fill(map.get(), map.get() + bank->registerCount, kNoIndex);
    std::uint32_t nextFree = 0;
    for (std::uint32_t i = 0; i < values.Count(); ++i) {
      IrValue* v = Value(i);
      if (!v || v->bank != b || v->reg >= bank->registerCount) continue;
      std::uint32_t& entry = map[v->reg];
      if (entry == kNoIndex) {
        while (nextFree < limit && table[nextFree].bank != kNoIndex) ++nextFree;
        if (nextFree >= limit) return ReportRegisterLimit(letter, 2, v->declaration);
        table[nextFree] = {b, v->reg};
        entry = nextFree;
      }
      v->reg = entry;
    }
  }

  // 7. The values into the target's bank.
  if (targetBank == kNoIndex || !Bank(targetBank)) return S_OK;
  const std::uint32_t literals = StandardBankIndex(StandardBank::Literals);
  for (std::uint32_t i = 0; i < values.Count(); ++i) {
    IrValue* v = Value(i);
    const RegisterBank* bank = v && v->bank < bankCount ? Bank(v->bank) : nullptr;
    if (!selected(bank)) continue;
    if (!(bank->type & kBankLiteral))
      v->bank = targetBank;
    else if (bank->type & kBankInteger)
      v->bank = integerLiteralBank != kNoIndex ? integerLiteralBank : v->bank;
    else if (!(bank->type & kBankKeepValues))
      v->bank = literals;
  }
  Bank(targetBank)->registersUsed = 0;
  Bank(targetBank)->registerCount = limit;
  if (targetBank == StandardBankIndex(StandardBank::FloatConstants) && Bank(literals)) {
    Bank(literals)->registersUsed = 0;
    Bank(literals)->registerCount = limit;
  }
  return S_OK;
}

HRESULT ShaderTarget::BindValueToOwnBank(const char* bankName, std::uint32_t typeBits, std::uint32_t value,
                                         std::uint32_t* index) {
  IrValue* v = Value(value);
  if (!v || !BankOf(*v) || !index) return E_FAIL;
  if (v->renumber == kNoIndex) {
    const RegisterBank& source = *BankOf(*v);
    const std::uint32_t sourceBank = v->bank;
    const std::uint32_t bank = AddRegisterBank((source.type & kBankKeepValues) ? source.name : bankName,
                                               source.type | typeBits | kBankBound, kNoIndex, 4);
    if (bank == kNoIndex) return E_OUTOFMEMORY;
    // A literal alone; otherwise every value of its variable read directly.
    const bool literal = source.type & kBankLiteral;
    const std::uint32_t n = values.Count();
    for (std::uint32_t i = 0; i < n; ++i) {
      IrValue* w = Value(i);
      if (!w || (i != value && (literal || w->bank != sourceBank || w->declaration != v->declaration ||
                                w->relativeIndex != kNoIndex || w->renumber != kNoIndex)))
        continue;
      const std::uint32_t copy = AddValue(bank, w->variableComponent, 0, w->rangeLow);
      if (copy == kNoIndex) return E_OUTOFMEMORY;
      w = Value(i);
      Value(copy)->CopyVariableFields(w);
      if (!literal) Value(copy)->variableOffset = w->variableComponent * 4;
      w->renumber = copy;
    }
  }
  *index = Value(value)->renumber;
  return S_OK;
}

HRESULT ShaderTarget::BindArithmeticBooleansAsFloats() {
  for (std::uint32_t i = 0; i < instructions.Count(); ++i) {
    const IrInstruction* inst = Instruction(i);
    const std::uint32_t group = inst ? inst->Group() : 0;
    if (!inst || inst->word < 0x100000 || (group >= 0x730 && group <= 0x733)) continue;
    for (std::uint32_t k = 0; k < inst->argumentCount; ++k) {
      const IrValue* v = Value(inst->arguments[k]);
      RegisterBank* bank = v ? Bank(v->bank) : nullptr;
      if (bank && (bank->type & (kBankBoolean | kBankUniform)) == (kBankBoolean | kBankUniform))
        bank->type &= ~kBankBoolean;
    }
  }
  return S_OK;
}

}  // namespace gxl::shader

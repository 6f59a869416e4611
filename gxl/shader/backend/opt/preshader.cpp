// Preshader extraction: work that depends on constants alone moves out of the
// device program into an expression program run on the processor, whose
// results the device program reads as constants of a bank of their own.
#include <algorithm>

#include "gxl/shader/backend/opt/opt_util.h"

namespace gxl::shader {

namespace {

constexpr DWORD kPreshaderVersion = 0x46580201;
// The bank of the preshader's results in the main program: float constants
// that no variable of the source declares.
constexpr std::uint32_t kPreshaderConstantType = 0x80251;

bool ComponentWise(const IrInstruction& i) {
  return i.IsArithmetic() && !IsSpecialOperation(&i) && i.Width() && i.resultCount == i.Width();
}

// The value, its alias or a value on its relative-index chain is varying.
bool Varying(const ShaderProgram& p, std::uint32_t value) {
  for (std::uint32_t steps = 0; value != kNoIndex && steps <= p.values.Count(); ++steps) {
    const IrValue* v = p.values.Peek(value);
    if (!v) return false;
    if (v->flags & kValueVarying) return true;
    if (v->alias != kNoIndex && p.values.Peek(v->alias) && (p.values.Peek(v->alias)->flags & kValueVarying)) return true;
    value = v->relativeIndex;
  }
  return false;
}

bool Computed(const ShaderProgram& p, std::uint32_t value) { return opt::BankTypeOf(p, value) & kBankWritable; }

// The replacement of main-program arguments by preshader results.
class Extraction {
 public:
  Extraction(ShaderProgram& main, ShaderProgram& pre) : m_main(main), m_pre(pre) {}

  HRESULT Run() {
    m_mappingSize = m_main.values.Count();
    m_mapping = opt::NewArray<std::uint32_t>(m_mappingSize);
    if (!m_mapping) return E_OUTOFMEMORY;
    std::fill(m_mapping.get(), m_mapping.get() + m_mappingSize, kNoIndex);
    for (std::uint32_t i = 0; i < m_main.values.Count(); ++i)
      if (IrValue* v = m_main.values[i]) v->preshaderOutput = kNoIndex;

    for (std::uint32_t position = 0; position < m_main.instructions.Count(); ++position) {
      IrInstruction* inst = m_main.instructions[position];
      if (opt::IsEmpty(inst) || inst->Width() == 0) continue;
      const std::uint32_t width = inst->Width();
      for (std::uint32_t g = 0; g * width < inst->argumentCount; ++g) {
        const std::uint32_t n = std::min(width, inst->argumentCount - g * width);
        const HRESULT hr = ReplaceGroup(inst->arguments + g * width, n, inst);
        if (FAILED(hr)) return hr;
      }
    }
    // Relative indexes computed from constants alone.
    for (std::uint32_t i = 0; i < m_main.values.Count(); ++i) {
      IrValue* v = m_main.values[i];
      if (!v || v->relativeIndex == kNoIndex || !Candidate(v->relativeIndex)) continue;
      const IrValue* index = m_main.values[v->relativeIndex];
      const IrInstruction* definer =
          index->definingPosition != kNoIndex ? m_main.instructions[index->definingPosition] : nullptr;
      const HRESULT hr = ReplaceGroup(&v->relativeIndex, 1, definer);
      if (FAILED(hr)) return hr;
    }
    return S_OK;
  }

 private:
  bool Candidate(std::uint32_t value) const {
    return m_main.values[value] && Computed(m_main, value) && !Varying(m_main, value);
  }
  bool DefinedByNegation(std::uint32_t value) const {
    const IrValue* v = m_main.values[value];
    const IrInstruction* d = v && v->definingPosition != kNoIndex ? m_main.instructions[v->definingPosition] : nullptr;
    return d && d->IsNegate() && opt::ResultSlot(*d, value) != kNoIndex;
  }

  // One argument group: each uniform computed value becomes a constant that
  // a preshader move fills (one output register per group, or per four
  // components of a wider one).
  HRESULT ReplaceGroup(std::uint32_t* arguments, std::uint32_t n, const IrInstruction* at) {
    std::uint32_t moved[4];
    std::uint32_t count = 0;
    auto replaceable = [&](std::uint32_t a) {
      return a != kNoIndex && a < m_mappingSize && Candidate(a) && !DefinedByNegation(a);
    };
    for (std::uint32_t k = 0; k < n; ++k) {
      const std::uint32_t a = arguments[k];
      if (replaceable(a) && m_mapping[a] == kNoIndex && std::find(moved, moved + count, a) == moved + count)
        moved[count++] = a;
      if (count == 4 || (k + 1 == n && count)) {
        const HRESULT hr = MoveToPreshader(moved, count, at);
        if (FAILED(hr)) return hr;
        count = 0;
      }
    }
    for (std::uint32_t k = 0; k < n; ++k)
      if (replaceable(arguments[k]) && m_mapping[arguments[k]] != kNoIndex) arguments[k] = m_mapping[arguments[k]];
    return S_OK;
  }

  HRESULT MoveToPreshader(const std::uint32_t* moved, std::uint32_t count, const IrInstruction* at) {
    if (m_constantBank == kNoIndex) {
      m_constantBank = m_main.AddRegisterBank("c", kPreshaderConstantType, kNoIndex, 4);
      if (m_constantBank == kNoIndex) return E_OUTOFMEMORY;
    }
    const std::uint32_t move = m_pre.AddInstruction(IrWord(kOpMove, count), count, count);
    if (move == kNoIndex) return E_OUTOFMEMORY;
    IrInstruction* inst = m_pre.instructions[move];
    if (at) inst->CopySourcePosition(at);
    const std::uint32_t reg = m_nextRegister++;
    const std::uint32_t outputs = m_pre.StandardBankIndex(StandardBank::Outputs);
    for (std::uint32_t c = 0; c < count; ++c) {
      const std::uint32_t out = m_pre.AddValue(outputs, reg, c, 0.0);
      const std::uint32_t constant = m_main.AddValue(m_constantBank, reg, c, 0.0);
      if (out == kNoIndex || constant == kNoIndex) return E_OUTOFMEMORY;
      inst = m_pre.instructions[move];
      inst->arguments[c] = moved[c];
      inst->results[c] = out;
      IrValue* v = m_main.values[constant];
      v->CopyVariableFields(m_main.values[moved[c]]);
      v->declaration = nullptr;
      v->variableComponent = 0;
      v->preshaderOutput = out;
      m_mapping[moved[c]] = constant;
    }
    return S_OK;
  }

  ShaderProgram& m_main;
  ShaderProgram& m_pre;
  std::unique_ptr<std::uint32_t[]> m_mapping;  // per main value: the constant that replaces it
  std::uint32_t m_mappingSize = 0;
  std::uint32_t m_constantBank = kNoIndex;
  std::uint32_t m_nextRegister = 0;
};

}  // namespace

HRESULT ShaderProgram::MarkVaryingValues() {
  HRESULT hr = RebuildDefUse();
  if (FAILED(hr)) return hr;
  for (std::uint32_t i = 0; i < values.Count(); ++i) {
    IrValue* v = values[i];
    if (!v) continue;
    const std::uint32_t type = opt::BankTypeOf(*this, i);
    const bool varying = ((type & kBankInitialised) && !(type & kBankUniform)) || (type & kBankKeepValues);
    v->flags = varying ? v->flags | kValueVarying : v->flags & ~kValueVarying;
  }
  auto mark = [this](std::uint32_t value) {
    if (IrValue* v = values[value]) v->flags |= kValueVarying;
  };
  for (std::uint32_t position = 0; position < instructions.Count(); ++position) {
    const IrInstruction* inst = instructions[position];
    if (opt::IsEmpty(inst)) continue;
    const std::uint32_t group = inst->Group();
    bool all = inst->Class() == 6 || group == kOpLit || group == kOpDiscard || group == kOpLoopEntry ||
               group == kOpIfBegin || group == kOpLoopBegin || group == kOpBreak || !IsExpressionOperation(inst->word);
    if (!all && ComponentWise(*inst)) {
      const std::uint32_t width = inst->Width(), groups = inst->argumentCount / width;
      for (std::uint32_t k = 0; k < width; ++k) {
        bool varying = false;
        for (std::uint32_t g = 0; g < groups; ++g) varying = varying || Varying(*this, opt::Column(*inst, g, k));
        if (varying) mark(inst->results[k]);
      }
    } else if (!all) {
      for (std::uint32_t a = 0; a < inst->argumentCount && !all; ++a) all = Varying(*this, inst->arguments[a]);
    }
    for (std::uint32_t r = 0; r < inst->resultCount; ++r) {
      const IrValue* v = values[inst->results[r]];
      // A value moved inside a block is as varying as the condition it is written under.
      if (all || (v && (opt::BankTypeOf(*this, inst->results[r]) & kBankBlockMoves) && Varying(*this, v->predicate)))
        mark(inst->results[r]);
    }
    // Only a component-wise instruction can be cut between the two programs.
    bool any = false;
    for (std::uint32_t r = 0; r < inst->resultCount && !ComponentWise(*inst); ++r)
      any = any || Varying(*this, inst->results[r]);
    for (std::uint32_t r = 0; r < inst->resultCount && any; ++r) mark(inst->results[r]);
  }
  for (std::uint32_t i = 0; i < values.Count(); ++i)
    if (opt::BankTypeOf(*this, i) & kBankOutput) mark(i);
  return S_OK;
}

HRESULT ShaderProgram::KeepUniformWork() {
  for (std::uint32_t i = 0; i < values.Count(); ++i) {
    IrValue* v = values[i];
    const std::uint32_t type = opt::BankTypeOf(*this, i);
    if (!v) continue;
    if ((type & (kBankInitialised | kBankOutput)) && !(type & kBankUniform))
      v->bank = StandardBankIndex(StandardBank::Undefined);
    else if (type & kBankAddress) {
      // A fresh temporary: its address register number would name another temporary's register.
      v->bank = StandardBankIndex(StandardBank::Temporaries);
      v->reg = v->component = kNoIndex;
    }
  }
  std::unique_ptr<bool[]> keep = opt::ComponentFlags(*this);
  if (!keep) return E_OUTOFMEMORY;
  for (std::uint32_t position = 0; position < instructions.Count(); ++position) {
    IrInstruction* inst = instructions[position];
    if (opt::IsEmpty(inst)) continue;
    bool anyKept = false, allKept = true;
    for (std::uint32_t r = 0; r < inst->resultCount; ++r) {
      const bool kept = !(values[inst->results[r]] && (values[inst->results[r]]->flags & kValueVarying));
      if (r < inst->Width()) keep[r] = kept;
      anyKept = anyKept || kept;
      allKept = allKept && kept;
    }
    if (!anyKept)
      opt::Empty(*inst);
    else if (!allKept && ComponentWise(*inst))
      opt::KeepComponents(*inst, keep.get());
    else if (!allKept)
      opt::Empty(*inst);  // part of it needs what the preshader cannot have
    if (opt::IsEmpty(inst)) continue;
    for (std::uint32_t r = 0; r < inst->resultCount; ++r) {
      IrValue* v = values[inst->results[r]];
      if (!v) continue;
      std::uint32_t predicate = v->predicate, sense = v->predicateSense;
      for (std::uint32_t steps = 0; predicate != kNoIndex && Varying(*this, predicate) && steps <= values.Count();
           ++steps) {
        const IrValue* outer = values[predicate];
        predicate = outer ? outer->predicate : kNoIndex;
        sense = outer ? outer->predicateSense : 1;
      }
      v->predicate = predicate;
      v->predicateSense = predicate == kNoIndex ? 1 : sense;
    }
  }
  return S_OK;
}

HRESULT ShaderProgram::RemoveUniformWork() {
  std::unique_ptr<bool[]> keep = opt::ComponentFlags(*this);
  if (!keep) return E_OUTOFMEMORY;
  bool removed = false;
  for (std::uint32_t position = 0; position < instructions.Count(); ++position) {
    IrInstruction* inst = instructions[position];
    if (opt::IsEmpty(inst) || inst->IsNegate() || inst->resultCount == 0) continue;
    bool anyVarying = false, allVarying = true;
    for (std::uint32_t r = 0; r < inst->resultCount; ++r) {
      const bool varying = values[inst->results[r]] && (values[inst->results[r]]->flags & kValueVarying);
      if (r < inst->Width()) keep[r] = varying;
      anyVarying = anyVarying || varying;
      allVarying = allVarying && varying;
    }
    if (!anyVarying) {
      opt::Empty(*inst);
      removed = true;
    } else if (!allVarying && ComponentWise(*inst)) {
      removed = opt::KeepComponents(*inst, keep.get()) || removed;
    }
  }
  return removed ? S_OK : S_FALSE;
}

HRESULT ShaderProgram::ExtractPreshader() {
  // Made once: the constants of a program optimised again still read the first one.
  if ((options & (kOptionNoPreshader | kOptionNoOptimisation)) || preshader) return S_FALSE;
  HRESULT hr = MarkVaryingValues();
  if (FAILED(hr)) return hr;
  std::unique_ptr<ShaderProgram> pre = CreatePreshaderProgram();
  if (!pre) return E_OUTOFMEMORY;
  // A preshader never extracts one of its own.
  if (FAILED(hr = pre->InitFrom(*this, kPreshaderVersion, options | kOptionNoPreshader))) return hr;
  {
    const LentWork lent(*this, *pre);
    if (FAILED(hr = pre->KeepUniformWork())) return hr;
  }
  if (FAILED(hr = RemoveUniformWork())) return hr;
  if (FAILED(hr = Extraction(*this, *pre).Run())) return hr;
  {
    const LentWork lent(*this, *pre);
    for (HRESULT (ShaderProgram::*pass)() :
         {&ShaderProgram::RemoveDeadCode, &ShaderProgram::CompactInstructions, &ShaderProgram::RebuildDefUse}) {
      if (FAILED(hr = ((*pre).*pass)())) return hr;
    }
  }
  preshader = std::move(pre);
  for (HRESULT (ShaderProgram::*pass)() :
       {&ShaderProgram::RemoveDeadCode, &ShaderProgram::CompactInstructions, &ShaderProgram::RemoveUnusedValues}) {
    if (FAILED(hr = (this->*pass)())) return hr;
  }
  return S_OK;
}

HRESULT ShaderProgram::MapPreshaderOutputs() {
  if (!preshader) return S_FALSE;
  ShaderProgram& pre = *preshader;
  for (std::uint32_t i = 0; i < pre.values.Count(); ++i)
    if (IrValue* v = pre.values[i]; v && (opt::BankTypeOf(pre, i) & kBankOutput)) v->preshaderOutput = kNoIndex;
  for (std::uint32_t i = 0; i < values.Count(); ++i) {
    const IrValue* v = values[i];
    IrValue* out = v && v->preshaderOutput != kNoIndex ? pre.values[v->preshaderOutput] : nullptr;
    if (!out) continue;
    out->reg = v->reg;
    out->component = v->component;
    out->preshaderOutput = i;
  }
  return pre.PrunePreshaderOutputs();
}

HRESULT ShaderProgram::PrunePreshaderOutputs() {
  std::uint32_t free = 0;
  for (std::uint32_t i = 0; i < values.Count(); ++i)
    if (const IrValue* v = values[i]; v && v->reg != kNoIndex) free = std::max(free, v->reg + 1);
  const std::uint32_t temporaries = StandardBankIndex(StandardBank::Temporaries);
  const std::uint32_t count = instructions.Count();
  for (std::uint32_t position = 0; position < count; ++position) {
    IrInstruction* inst = instructions[position];
    if (opt::IsEmpty(inst)) continue;
    bool dropped = false;
    for (std::uint32_t r = 0; r < inst->resultCount; ++r) {
      const IrValue* v = values[inst->results[r]];
      dropped =
          dropped || (v && (opt::BankTypeOf(*this, inst->results[r]) & kBankOutput) && v->preshaderOutput == kNoIndex);
    }
    if (!dropped) continue;
    // Every result into a temporary; the outputs still wanted copied from there.
    std::uint32_t from[4], to[4], kept = 0;
    for (std::uint32_t r = 0; r < inst->resultCount; ++r) {
      const std::uint32_t result = inst->results[r];
      const IrValue* v = values[result];
      if (!v) continue;
      const std::uint32_t t = AddValue(temporaries, free, v->component, 0.0);
      if (t == kNoIndex) return E_OUTOFMEMORY;
      inst = instructions[position];
      inst->results[r] = t;
      const IrValue* out = values[result];
      if ((opt::BankTypeOf(*this, result) & kBankOutput) && out->preshaderOutput != kNoIndex && kept < 4) {
        from[kept] = t;
        to[kept++] = result;
      }
    }
    ++free;
    if (kept == 0) continue;
    const std::uint32_t move = AddInstruction(IrWord(kOpMove, kept), kept, kept);
    if (move == kNoIndex) return E_OUTOFMEMORY;
    IrInstruction* copy = instructions[move];
    copy->CopySourcePosition(instructions[position]);
    std::copy(from, from + kept, copy->arguments);
    std::copy(to, to + kept, copy->results);
  }
  HRESULT hr = RebuildDefUse();
  if (FAILED(hr)) return hr;
  for (std::uint32_t i = 0; i < values.Count(); ++i) {
    IrValue* v = values[i];
    // Only written values: constants and literal tables are read through
    // relative indexes too, which count as no use here.
    if (v && v->definingPosition == kNoIndex && v->useCount == 0 && (opt::BankTypeOf(*this, i) & kBankWritable))
      opt::Discard(*this, i);
  }
  return S_OK;
}

}  // namespace gxl::shader

// Lowering of statements: lists, declarations, expression statements,
// returns and discards (ifs and loops have files of their own), and the
// undoing of lowered IR that discards and loop attempts need.
#include <algorithm>
#include <cstring>

#include "gxl/shader/compiler/loop/loop_state.h"
#include "gxl/shader/compiler/shader_compiler.h"
#include "gxl/shader/hlsl/hlsl_parser.h"

namespace gxl::shader {

// --- Undoing ------------------------------------------------------------------------------

void ShaderCompiler::DropInstructionsFrom(std::uint32_t count) {
  RecordList<IrInstruction>& list = target->instructions;
  for (std::uint32_t i = list.Count(); i-- > count;) {
    IrInstruction* inst = list.Slot(i);
    if (!inst) continue;
    for (std::uint32_t k = 0; k < inst->argumentCount; ++k)
      if (IrValue* a = Value(inst->arguments[k]); a && a->useCount) --a->useCount;
    // What the instruction defined is defined by nothing now.
    for (std::uint32_t k = 0; k < inst->resultCount; ++k)
      if (IrValue* r = Value(inst->results[k]); r && r->definingPosition == i) r->definingPosition = kNoIndex;
    inst->Destroy(1);
    list.Slot(i) = nullptr;
  }
  list.Truncate(std::min(count, list.Count()));
  while (!m_skipped.Empty() && m_skipped.Back().position > count) m_skipped.PopBack();
}

std::uint64_t ShaderCompiler::EmittedSince(std::uint32_t position) const {
  const std::uint32_t now = InstructionCount();
  std::uint64_t emitted = now > position ? now - position : 0;
  if (m_skipped.Empty()) return emitted;
  // Totals added at counts up to `position` came before it.
  const Skipped* first = m_skipped.Data();
  const Skipped* last = first + m_skipped.Size();
  const Skipped* after = std::upper_bound(first, last, position,
                                          [](std::uint32_t p, const Skipped& s) { return p < s.position; });
  const std::uint64_t before = after == first ? 0 : after[-1].total;
  return emitted + (last[-1].total - before);
}

bool ShaderCompiler::AddSkipped(std::uint64_t count) {
  if (count == 0) return true;
  const std::uint64_t total = (m_skipped.Empty() ? 0 : m_skipped.Back().total) + count;
  if (!m_skipped.Empty() && m_skipped.Back().position == InstructionCount()) {
    m_skipped.Back().total = total;
    return true;
  }
  return m_skipped.Append(Skipped{InstructionCount(), total});
}

void ShaderCompiler::RollBackIr(std::uint32_t valueCount, std::uint32_t instructionCount, const std::uint32_t* map) {
  if (!target) return;
  DropInstructionsFrom(instructionCount);
  RecordList<IrValue>& list = target->values;
  for (std::uint32_t i = list.Count(); i-- > valueCount;) {
    if (IrValue* v = list.Slot(i)) v->Destroy(1);
    list.Slot(i) = nullptr;
  }
  list.Truncate(std::min(valueCount, list.Count()));
  if (m_loop->moveRoots.size() > valueCount) m_loop->moveRoots.resize(valueCount);
  for (std::uint32_t* kept : {&one, &zero, &minusOne, &guard})
    if (*kept != kNoIndex && *kept >= valueCount) *kept = kNoIndex;
  if (map) std::memcpy(valueMap.Data(), map, valueMap.Size() * sizeof(std::uint32_t));
}

bool ShaderCompiler::AnyInstructionSince(std::uint32_t from, bool (*test)(std::uint32_t word),
                                         std::uint32_t except) const {
  for (std::uint32_t i = from; i < InstructionCount(); ++i)
    if (const IrInstruction* inst = Instruction(i); inst && i != except && test(inst->word)) return true;
  return false;
}

void ShaderCompiler::PlaceIn(std::uint32_t value, StandardBank bank) {
  if (IrValue* v = Value(value)) v->bank = target->StandardBankIndex(bank);
}

// --- Statements ---------------------------------------------------------------------------

HRESULT ShaderCompiler::LowerStatement(const ParseNode* node, const std::uint32_t* savedMap) {
  if (!node) return S_OK;
  if (!target) return E_FAIL;
  if (node->kind == NodeKind::List) {
    for (const ParseNode* c = node; c && c->kind == NodeKind::List && !returned && !discarded; c = c->second) {
      const HRESULT hr = LowerStatement(c->first, savedMap);
      if (FAILED(hr)) return hr;
    }
    return S_OK;
  }
  const std::uint32_t start = InstructionCount();
  HRESULT hr;
  switch (node->kind) {
    case NodeKind::Declaration:
      hr = LowerDeclaration(*static_cast<const DeclarationNode*>(node));
      break;
    case NodeKind::Statement:
      hr = LowerStatementNode(*static_cast<const StatementNode*>(node));
      break;
    default:
      GXL_SHADER_REPORT(*this, node, msg::kInternalUnrecognizedStatement);
      return E_FAIL;
  }
  if (FAILED(hr) || !savedMap || !discarded) return hr;
  // Whatever the statement did before it discarded is void: one discard stands for it.
  const ParseNode* at = node;
  for (std::uint32_t i = InstructionCount(); i-- > start;) {
    const IrInstruction* inst = Instruction(i);
    if (inst && inst->Group() == kOpDiscard) {
      at = inst->sourcePosition;
      break;
    }
  }
  DropInstructionsFrom(start);
  std::memcpy(valueMap.Data(), savedMap, valueMap.Size() * sizeof(std::uint32_t));
  const std::uint32_t minus = MinusOne();
  if (minus == kNoIndex) return OutOfMemory(node);
  hr = EmitDiscard(at, &minus, 1);
  return hr == E_OUTOFMEMORY ? OutOfMemory(node) : hr;
}

HRESULT ShaderCompiler::LowerStatementNode(const StatementNode& s) {
  const std::uint32_t start = InstructionCount();
  HRESULT hr = S_OK;
  switch (s.code) {
    case kStatementExpression:
      hr = LowerExpression(s.children[0], nullptr, 0);
      break;
    case kStatementReturn:
      hr = LowerReturn(s);
      break;
    case kStatementIf: {
      std::uint32_t condition = kNoIndex;
      const ParseNodeKind13* e = AsExpression(s.children[0]);
      if (!e || e->rows * e->columns != 1) {
        GXL_SHADER_REPORT(*this, &s, msg::kInternalUnrecognizedStatement);
        return E_FAIL;
      }
      if (FAILED(hr = LowerExpression(e, &condition, 0))) return hr;
      return LowerIf(&s, condition, s.children[1], s.children[2]);
    }
    case kStatementFor:
      return LowerLoop(&s, s.children[0], s.children[1], s.children[3], s.children[2]);
    case kStatementWhile:
      return LowerLoop(&s, nullptr, s.children[1], s.children[3]);
    case kStatementDo:
      return LowerLoop(&s, s.children[3], s.children[1], s.children[3]);
    case kStatementDiscard: {
      const std::uint32_t minus = MinusOne();
      if (minus == kNoIndex) return OutOfMemory(&s);
      if (FAILED(hr = EmitDiscard(&s, &minus, 1))) return hr == E_OUTOFMEMORY ? OutOfMemory(&s) : hr;
      discarded = 1;
      return S_OK;
    }
    default:
      if (static_cast<std::int32_t>(s.code) < 0) return S_OK;  // the empty statement
      GXL_SHADER_REPORT(*this, &s, msg::kInternalUnrecognizedStatement);
      return E_FAIL;
  }
  if (FAILED(hr)) return hr;
  // The statement's instructions at this inline depth go to its expression's
  // line, and all of them to the statement.
  const ParseNode* expression = s.children[0];
  const std::uint32_t sequence = ++m_statementSequence;
  for (std::uint32_t i = start; i < InstructionCount(); ++i) {
    IrInstruction* inst = Instruction(i);
    if (!inst) continue;
    inst->statementSequence = sequence;
    if (expression && inst->inlineDepth == inlineDepth && inst->sourcePosition &&
        inst->sourcePosition->kind == NodeKind::Kind13)
      inst->sourcePosition = expression;
  }
  return S_OK;
}

HRESULT ShaderCompiler::LowerReturn(const StatementNode& s) {
  const ParseNodeKind13* e = AsExpression(s.children[0]);
  const std::uint32_t n = e && m_function ? m_function->returnComponents : 0;
  if (e && n) {
    const std::uint32_t slot = m_function->returnSlot;
    if (std::uint64_t{slot} + n > valueMap.Size() || std::uint64_t{e->rows} * e->columns != n) return E_FAIL;
    WordBlock words(*this, 2 * n);
    if (!words) return OutOfMemory(&s);
    std::uint32_t *values = words.Get(), *stored = values + n;
    FillIndicesWithNone(words.Get(), 2 * n);
    HRESULT hr = LowerExpression(e, values, 0);
    if (SUCCEEDED(hr)) hr = EmitInstruction(e, IrWord(kOpMove, n), stored, values, nullptr, 0);
    if (FAILED(hr)) return hr == E_OUTOFMEMORY ? OutOfMemory(&s) : hr;
    // The moved values become the return value; they keep the variable fields
    // of what the slots held.
    for (std::uint32_t i = 0; i < n; ++i) {
      IrValue* v = Value(stored[i]);
      if (const IrValue* old = Value(valueMap[slot + i])) v->CopyVariableFields(old);
      v->symbolSlot = slot + i;
      valueMap[slot + i] = stored[i];
    }
  } else if (e) {
    const HRESULT hr = LowerExpression(e, nullptr, 0);
    if (FAILED(hr)) return hr;
  }
  returned = 1;
  return S_OK;
}

HRESULT ShaderCompiler::LowerDeclaration(const DeclarationNode& d) {
  if (d.declClass == kDeclFunction) {
    // The return value's slots start undefined.
    const ParseNodeKind10* f = FunctionDescription(&d);
    if (!f || !f->returnComponents) return S_OK;
    if (std::uint64_t{f->returnSlot} + f->returnComponents > valueMap.Size()) return E_FAIL;
    const HRESULT hr = NewVariableValues(&d, f->returnSlot, f->returnComponents,
                                         target->StandardBankIndex(StandardBank::Undefined), nullptr);
    return hr == E_OUTOFMEMORY ? OutOfMemory(&d) : hr;
  }
  const ParseNodeKind11* v = VariableDescription(&d);
  if (d.declClass != kDeclVariable || !v) return S_OK;
  const std::uint32_t slot = SlotOf(v), n = v->valueCount;
  if (slot == kNoIndex || std::uint64_t{slot} + n > valueMap.Size()) return E_FAIL;
  const bool uniform = (v->storage & kUsageUniform) && v->extra == kScopeGlobal;
  // A static local keeps its value from one call of its function to the next.
  if (v->extra != kScopeGlobal && (v->storage & kUsageStatic) && n && Value(valueMap[slot])) return S_OK;
  const std::uint32_t bank =
      target->StandardBankIndex(uniform ? StandardBank::FloatConstants : StandardBank::Undefined);
  WordBlock values(*this, n);
  if (!values) return OutOfMemory(&d);
  HRESULT hr = NewVariableValues(&d, slot, n, bank, values.Get());
  if (SUCCEEDED(hr) && uniform) hr = ApplyTypeFlags(v->nodes[0], values.Get(), n);
  if (SUCCEEDED(hr) && uniform) {
    hr = BindRegisters(v->nodes[0], values.Get(), n, bank, static_cast<TokenNode*>(v->nodes[3]), v->nodes[4]);
    auto* kept = static_cast<std::uint32_t*>(CurrentPoolAlloc(std::size_t{n} * 4, 16));
    if (SUCCEEDED(hr) && (kept || !n)) {
      if (n) std::memcpy(kept, values.Get(), std::size_t{n} * 4);
      hr = uniforms.Append(UniformRecord{&d, kept, n}) ? DeclareUniform(uniforms.Back()) : E_OUTOFMEMORY;
    } else if (SUCCEEDED(hr)) {
      hr = E_OUTOFMEMORY;
    }
  }
  return hr == E_OUTOFMEMORY ? OutOfMemory(&d) : FAILED(hr) ? hr : S_OK;
}

HRESULT ShaderCompiler::EmitDiscard(const ParseNode* node, const std::uint32_t* values, std::uint32_t count) {
  if (!target || !values || count == 0) return E_FAIL;
  WordBlock words(*this, 2 * count);
  if (!words) return E_OUTOFMEMORY;
  std::uint32_t *guards = words.Get(), *products = guards + count;
  const std::uint32_t g = Value(guard) ? guard : One();
  if (g == kNoIndex) return E_OUTOFMEMORY;
  std::fill_n(guards, count, g);
  HRESULT hr = Emit2(node, kOpMultiply, count, products, values, guards);
  if (SUCCEEDED(hr)) hr = Emit1(node, kOpDiscard, count, products, products);
  if (FAILED(hr)) return hr;
  // The discard's results take a register of their own in the discard bank.
  RegisterBank* bank = Bank(target->StandardBankIndex(StandardBank::Clip));
  if (!bank) return E_FAIL;
  const std::uint32_t reg = bank->registerCount == kNoIndex ? 0 : bank->registerCount;
  for (std::uint32_t i = 0; i < count; ++i) {
    IrValue* r = Value(products[i]);
    r->bank = target->StandardBankIndex(StandardBank::Clip);
    r->reg = reg;
    r->component = i;
  }
  bank->registerCount = reg + 1;
  return S_OK;
}

}  // namespace gxl::shader

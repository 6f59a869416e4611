// Lowering of a whole program and of functions: the program's set-up over
// the parsed tree, slots for the globals, and the inlining of a function
// with its parameters, return value and output parameters; the entry
// function binds them to inputs, outputs and constants.
#include <algorithm>
#include <cstring>
#include <tuple>

#include "gxl/shader/compiler/shader_compiler.h"
#include "gxl/shader/hlsl/hlsl_parser.h"
#include "gxl/shader/preprocessor/shader_preprocessor.h"

namespace gxl::shader {

namespace {

// Slots the value map may hold; beyond this a program is refused as too large.
constexpr std::uint32_t kMaxSlots = 1u << 26;
// Calls inlined into one another; each level takes stack.
constexpr std::uint32_t kMaxInlineDepth = 1024;
constexpr std::uint32_t kMaxListDepth = 256;

// The last semantic token of a semantics list or of the binding that holds one.
TokenNode* LastSemanticToken(const ParseNode* semantics) {
  if (semantics && semantics->kind == NodeKind::Kind17)
    semantics = static_cast<const ParseNodeKind17*>(semantics)->semantics;
  TokenNode* last = nullptr;
  for (const ParseNode* c = semantics; c && c->kind == NodeKind::List; c = c->second)
    if (c->first && c->first->kind == NodeKind::Token) last = static_cast<TokenNode*>(c->first);
  return last;
}

const char* ParameterName(const DeclarationNode& parameter) { return IdentifierText(parameter.name, ""); }

// Each variable declaration of the global statement lists, in order.
template <class Visit>
HRESULT ForEachGlobalVariable(const ParseNode* node, Visit visit, std::uint32_t depth = 0) {
  if (!node || depth > kMaxListDepth) return S_OK;
  if (node->kind == NodeKind::List) {
    for (const ParseNode* c = node; c && c->kind == NodeKind::List; c = c->second) {
      const HRESULT hr = ForEachGlobalVariable(c->first, visit, depth + 1);
      if (FAILED(hr)) return hr;
    }
    return S_OK;
  }
  const ParseNodeKind11* v = VariableDescription(node);
  return v && static_cast<const DeclarationNode*>(node)->declClass == kDeclVariable ? visit(*v) : S_OK;
}

}  // namespace

// --- Program ------------------------------------------------------------------------------

HRESULT ShaderCompiler::AssignGlobalSlots(std::uint32_t* slots) {
  // The parser gives slots to locals only; globals take the slots after them.
  std::uint32_t next = static_cast<const ProgramNode*>(tree)->slotCounter;
  m_globalSlots.Clear();
  HRESULT hr = ForEachGlobalVariable(static_cast<const ProgramNode*>(tree)->statements, [&](const ParseNodeKind11& v) {
    if (v.symbol != kNoSlot) return S_OK;
    if (v.valueCount > kMaxSlots - std::min(next, kMaxSlots)) return E_OUTOFMEMORY;
    if (!m_globalSlots.Append(GlobalSlot{&v, next})) return E_OUTOFMEMORY;
    next += v.valueCount;
    return S_OK;
  });
  if (FAILED(hr)) return hr;
  std::sort(m_globalSlots.Data(), m_globalSlots.Data() + m_globalSlots.Size(),
            [](const GlobalSlot& a, const GlobalSlot& b) { return std::less<>()(a.variable, b.variable); });
  *slots = next;
  return next > kMaxSlots ? E_OUTOFMEMORY : S_OK;
}

std::uint32_t ShaderCompiler::SlotOf(const ParseNodeKind11* variable) const {
  if (!variable) return kNoIndex;
  if (variable->symbol != kNoSlot) return variable->symbol;
  const GlobalSlot* first = m_globalSlots.Data();
  const GlobalSlot* last = first + m_globalSlots.Size();
  const GlobalSlot* found = std::lower_bound(first, last, variable, [](const GlobalSlot& g, const ParseNodeKind11* v) {
    return std::less<>()(g.variable, v);
  });
  return found != last && found->variable == variable ? found->slot : kNoIndex;
}

const DeclarationNode* ShaderCompiler::DeclarationOf(const ParseNodeKind10* function) const {
  const ParseNode* statements =
      tree && tree->kind == NodeKind::Program ? static_cast<const ProgramNode*>(tree)->statements : nullptr;
  for (const ParseNode* c = statements; c && c->kind == NodeKind::List; c = c->second)
    if (FunctionDescription(c->first) == function) return static_cast<const DeclarationNode*>(c->first);
  return nullptr;
}

HRESULT ShaderCompiler::LowerProgram() {
  if (!tree || tree->kind != NodeKind::Program) return S_OK;
  if (!target || !source) return E_FAIL;
  HRESULT hr = target->Init(tree, &source->Log(), version, options);
  if (FAILED(hr)) return hr;
  returned = discarded = 0;
  staticIfs = dynamicIfs = loopDepth = inlineDepth = 0;
  blockContext = kNoIndex;
  polarity = 1;
  uniforms.Clear();
  m_function = nullptr;
  std::uint32_t slots = 0;
  if (FAILED(AssignGlobalSlots(&slots)) || FAILED(ResetValueMap(slots))) return OutOfMemory(tree);
  one = zero = minusOne = kNoIndex;
  if (One() == kNoIndex || Zero() == kNoIndex || MinusOne() == kNoIndex) return OutOfMemory(tree);
  guard = one;
  hr = LowerStatement(static_cast<const ProgramNode*>(tree)->statements, nullptr);
  if (FAILED(hr)) return hr;
  return errorFlag ? E_FAIL : S_OK;
}

// --- Values of variables ------------------------------------------------------------------

HRESULT ShaderCompiler::NewVariableValues(const DeclarationNode* declaration, std::uint32_t slot, std::uint32_t n,
                                          std::uint32_t bank, std::uint32_t* values) {
  for (std::uint32_t i = 0; i < n; ++i) {
    const std::uint32_t k = target->AddValue(bank, kNoIndex, kNoIndex, 0.0);
    IrValue* v = Value(k);
    if (!v) return E_OUTOFMEMORY;
    v->declaration = const_cast<DeclarationNode*>(declaration);
    v->variableComponent = i;
    if (slot != kNoIndex && std::uint64_t{slot} + i < valueMap.Size()) {
      v->symbolSlot = slot + i;
      valueMap[slot + i] = k;
    }
    if (values) values[i] = k;
  }
  return S_OK;
}

HRESULT ShaderCompiler::DeclareUniform(UniformRecord& record) {
  if (record.count == 0 || !record.declaration || record.byPosition) return S_OK;
  std::uint32_t size = 0;
  for (std::uint32_t i = 0; i < record.count; ++i)
    if (const IrValue* v = Value(record.values[i])) size = std::max(size, v->variableOffset + 1);
  auto* byPosition = static_cast<const SourceToken**>(CurrentPoolAlloc(std::size_t{size} * sizeof(void*), 16));
  auto* byOrdinal = static_cast<const SourceToken**>(CurrentPoolAlloc(std::size_t{record.count} * sizeof(void*), 16));
  if (!byPosition || !byOrdinal) return E_OUTOFMEMORY;
  std::fill_n(byPosition, size, nullptr);
  std::fill_n(byOrdinal, record.count, nullptr);
  // An element stands where its initial value's component does, else at the name.
  const ParseNodeKind11* variable = VariableDescription(record.declaration);
  const ParseNodeKind13* initial = AsExpression(variable ? variable->nodes[2] : nullptr);
  const ParseNode* element = initial && initial->op == kExprValue ? initial->left : nullptr;
  const SourceToken* name = record.declaration->name && record.declaration->name->kind == NodeKind::Token
                                ? &static_cast<const TokenNode*>(record.declaration->name)->token
                                : nullptr;
  for (std::uint32_t i = 0; i < record.count; ++i) {
    const SourceToken* at = name;
    if (element && element->kind == NodeKind::List) {
      if (element->first && element->first->kind == NodeKind::Expression)
        at = &static_cast<const ExpressionNode*>(element->first)->token;
      element = element->second;
    }
    const IrValue* v = Value(record.values[i]);
    const RegisterBank* bank = v ? Bank(v->bank) : nullptr;
    if (!bank || (bank->type & kBankSampler)) continue;
    byPosition[v->variableOffset] = at;
    if (v->ordinalSlot < record.count) byOrdinal[v->ordinalSlot] = at;
  }
  record.byPosition = byPosition;
  record.positions = size;
  record.byOrdinal = byOrdinal;
  return S_OK;
}

// --- Functions ----------------------------------------------------------------------------

HRESULT ShaderCompiler::BindEntryParameter(const char* function, const DeclarationNode& parameter,
                                           std::uint32_t* values) {
  const ParseNodeKind11& v = *VariableDescription(&parameter);
  const bool uniform = v.storage & kUsageUniform;
  const StandardBank kind = uniform                  ? StandardBank::FloatConstants
                            : (v.storage & kUsageIn) ? StandardBank::Inputs
                                                     : StandardBank::Undefined;
  const std::uint32_t bank = target->StandardBankIndex(kind);
  const std::uint32_t n = v.valueCount;
  HRESULT hr = NewVariableValues(&parameter, SlotOf(&v), n, bank, values);
  if (FAILED(hr) || kind == StandardBank::Undefined) return hr;
  if (FAILED(hr = ApplyTypeFlags(v.nodes[0], values, n))) return hr;
  hr = BindRegisters(v.nodes[0], values, n, bank, static_cast<TokenNode*>(v.nodes[3]), v.nodes[4]);
  if (hr == S_FALSE) {
    GXL_SHADER_REPORT(*this, &parameter, msg::kInputMissingSemantics, function, ParameterName(parameter));
    return S_OK;
  }
  if (FAILED(hr) || !uniform) return hr;
  const auto* kept = static_cast<std::uint32_t*>(CurrentPoolAlloc(std::size_t{n} * 4, 16));
  if (!kept && n) return E_OUTOFMEMORY;
  if (n) std::memcpy(const_cast<std::uint32_t*>(kept), values, std::size_t{n} * 4);
  if (!uniforms.Append(UniformRecord{&parameter, kept, n})) return E_OUTOFMEMORY;
  return DeclareUniform(uniforms.Back());
}

HRESULT ShaderCompiler::BindEntryOutputs(const char* function, const ParseNode* type, std::uint32_t* values,
                                         std::uint32_t n, const DeclarationNode* parameter, TokenNode* semantic,
                                         const ParseNode* annotations) {
  // Fresh values, so that the outputs are written by an instruction of their own.
  WordBlock moved(*this, n);
  if (!moved) return E_OUTOFMEMORY;
  FillIndicesWithNone(moved.Get(), n);
  HRESULT hr = EmitInstruction(parameter, IrWord(kOpMove, n), moved.Get(), values, nullptr, 0);
  if (FAILED(hr)) return hr;
  for (std::uint32_t i = 0; i < n; ++i) {
    IrValue* out = Value(moved[i]);
    const IrValue* from = Value(values[i]);
    out->declaration = from ? from->declaration : nullptr;
    out->variableComponent = from ? from->variableComponent : i;
  }
  if (FAILED(hr = ApplyTypeFlags(type, moved.Get(), n))) return hr;
  hr = BindRegisters(type, moved.Get(), n, target->StandardBankIndex(StandardBank::Outputs), semantic, annotations);
  if (FAILED(hr)) return hr;
  if (hr == S_FALSE) {
    if (parameter) {
      GXL_SHADER_REPORT(*this, parameter, msg::kOutputMissingSemantics, function, ParameterName(*parameter));
    } else {
      const DeclarationNode* declaration = DeclarationOf(m_function);
      GXL_SHADER_REPORT(*this, declaration ? static_cast<const ParseNode*>(declaration) : m_function->body,
                        msg::kReturnMissingSemantics, function);
    }
    return S_OK;
  }
  // A semantic found wrong is told once, not once per component.
  const TokenNode* failed = nullptr;
  for (std::uint32_t i = 0; i < n; ++i) {
    const TokenNode* own = Value(moved[i])->semantic;
    if (own && own == failed) continue;
    if (FAILED(target->CheckSemantics(moved[i], 1))) errorFlag = 1, failed = own;
  }
  return S_OK;
}

HRESULT ShaderCompiler::MergeRepeatedInputs(const ParseNode* node, const std::uint32_t* inputs, std::uint32_t n) {
  // By usage, index and component, first come first; a repeat reads the first.
  WordBlock words(*this, 3 * n);
  if (!words) return E_OUTOFMEMORY;
  std::uint32_t *order = words.Get(), *firsts = order + n, *repeats = firsts + n;
  for (std::uint32_t i = 0; i < n; ++i) order[i] = i;
  auto key = [&](std::uint32_t i) {
    const IrValue& v = *Value(inputs[i]);
    return std::make_tuple(v.registerKey & 0xFFFF, v.registerKey >> 16, v.component, i);
  };
  std::sort(order, order + n, [&](std::uint32_t a, std::uint32_t b) { return key(a) < key(b); });
  std::uint32_t m = 0;
  for (std::uint32_t k = 0, first = 0; k < n; ++k) {
    const IrValue& v = *Value(inputs[order[k]]);
    const IrValue& head = *Value(inputs[order[first]]);
    if (k == 0 || v.registerKey != head.registerKey || v.component != head.component) {
      first = k;
    } else if (v.registerKey != kNoIndex && v.bank == head.bank) {
      firsts[m] = inputs[order[first]];
      repeats[m++] = inputs[order[k]];
    }
  }
  if (m == 0) return S_OK;
  return EmitInstruction(node, IrWord(kOpMove, m), repeats, firsts, nullptr, 0);
}

HRESULT ShaderCompiler::LowerFunction(const char* name, ParseNodeKind10* function, const ParseNode* arguments,
                                      std::uint32_t* results, std::uint32_t isEntry, std::uint32_t byDeclaration) {
  if (!target || !function) return E_FAIL;
  if (!name) name = "";
  const ParseNode* at = DeclarationOf(function);
  if (!at) at = arguments ? arguments : function->body;
  if (function->lowering) {
    GXL_SHADER_REPORT(*this, at, msg::kRecursiveFunction, name);
    return E_NOTIMPL;
  }
  if (inlineDepth > kMaxInlineDepth) {
    GXL_SHADER_REPORT(*this, at, msg::kInternalExpressionTooComplex);
    return E_FAIL;
  }
  if (isEntry && FAILED(target->SetEntryName(name))) return OutOfMemory(at);

  // The arguments, each at its parameter's offset.
  std::uint64_t total = 0;
  for (const ParseNode* p = function->parameters; p && p->kind == NodeKind::List; p = p->second) {
    const ParseNodeKind11* v = VariableDescription(p->first);
    if (!v) return E_FAIL;
    total += v->valueCount;
  }
  if (total > kMaxSlots) return OutOfMemory(at);
  const auto count = static_cast<std::uint32_t>(total);
  WordBlock words(*this, 2 * count);
  if (!words) return OutOfMemory(at);
  std::uint32_t *argumentValues = words.Get(), *values = argumentValues + count;
  FillIndicesWithNone(words.Get(), 2 * count);
  const ParseNode* input = arguments && arguments->kind == NodeKind::List ? arguments->first : nullptr;
  const ParseNode* output =
      arguments && arguments->second && arguments->second->kind == NodeKind::List ? arguments->second->first : nullptr;
  HRESULT hr = S_OK;
  std::uint32_t offset = 0;
  for (const ParseNode* p = function->parameters; p; p = p->second) {
    const ParseNodeKind11& v = *VariableDescription(p->first);
    const bool takes = isEntry ? byDeclaration && (v.storage & kUsageUniform) : (v.storage & kUsageIn) != 0;
    if (takes && input && input->kind == NodeKind::List) {
      if (FAILED(hr = LowerExpression(input->first, argumentValues + offset, 0))) return hr;
      input = input->second;
    }
    offset += v.valueCount;
  }

  // The parameters: inputs, outputs and constants of the entry, else locals.
  PodArray<std::uint32_t> inputs;
  offset = 0;
  for (const ParseNode* p = function->parameters; p; p = p->second) {
    const auto& parameter = *static_cast<const DeclarationNode*>(p->first);
    const ParseNodeKind11& v = *VariableDescription(&parameter);
    std::uint32_t* own = values + offset;
    if (isEntry && !(byDeclaration && (v.storage & kUsageUniform))) {
      hr = BindEntryParameter(name, parameter, own);
      if (SUCCEEDED(hr) && (v.storage & kUsageIn) && !(v.storage & kUsageUniform) && !inputs.Append(own, v.valueCount))
        hr = E_OUTOFMEMORY;
    } else {
      hr = NewVariableValues(&parameter, SlotOf(&v), v.valueCount, target->StandardBankIndex(StandardBank::Undefined),
                             own);
      if (SUCCEEDED(hr) && (v.storage & kUsageIn) && v.valueCount && argumentValues[offset] != kNoIndex)
        hr = EmitInstruction(&parameter, IrWord(kOpMove, v.valueCount), own, argumentValues + offset, nullptr, 0);
    }
    if (hr == E_OUTOFMEMORY) return OutOfMemory(&parameter);
    if (FAILED(hr)) return hr;
    offset += v.valueCount;
  }
  if (isEntry) {
    const auto n = static_cast<std::uint32_t>(inputs.Size());
    for (std::uint32_t i = 0; i < n; ++i)
      if (FAILED(target->CheckSemantics(inputs[i], 1))) return E_FAIL;
    if (FAILED(hr = MergeRepeatedInputs(function->body, inputs.Data(), n)))
      return hr == E_OUTOFMEMORY ? OutOfMemory(at) : hr;
  }

  // The body.
  PodArray<std::uint32_t> saved;
  if (isEntry && !saved.Append(valueMap.Data(), valueMap.Size())) return OutOfMemory(at);
  const std::uint32_t outerReturned = returned;
  ParseNodeKind10* outerFunction = m_function;
  returned = 0;
  function->lowering = 1;
  m_function = function;
  hr = LowerStatement(function->body, isEntry ? saved.Data() : nullptr);
  const bool didReturn = returned;
  returned = outerReturned;
  function->lowering = 0;
  if (FAILED(hr)) {
    m_function = outerFunction;
    return hr;
  }
  struct Restore {
    ShaderCompiler& c;
    ParseNodeKind10* f;
    ~Restore() { c.m_function = f; }
  } restore{*this, outerFunction};

  // The return value.
  const std::uint32_t rn = function->returnComponents, rs = function->returnSlot;
  if (rn && !didReturn && !discarded) {
    GXL_SHADER_REPORT(*this, at, msg::kFunctionMustReturnValue, name);
    return E_FAIL;
  }
  if (rn && std::uint64_t{rs} + rn > valueMap.Size()) return E_FAIL;
  if (rn && isEntry) {
    WordBlock returnValues(*this, rn);
    if (!returnValues) return OutOfMemory(at);
    for (std::uint32_t i = 0; i < rn; ++i) returnValues[i] = discarded ? zero : valueMap[rs + i];
    hr = BindEntryOutputs(name, function->returnType, returnValues.Get(), rn, nullptr,
                          LastSemanticToken(function->more[0]), function->more[0]);
    if (FAILED(hr)) return hr == E_OUTOFMEMORY ? OutOfMemory(at) : hr;
  } else if (rn && results) {
    for (std::uint32_t i = 0; i < rn; ++i) results[i] = discarded ? zero : valueMap[rs + i];
  }

  // Output parameters.
  const std::uint32_t undefined = target->StandardBankIndex(StandardBank::Undefined);
  for (const ParseNode* p = function->parameters; p; p = p->second) {
    const auto& parameter = *static_cast<const DeclarationNode*>(p->first);
    const ParseNodeKind11& v = *VariableDescription(&parameter);
    if (!(v.storage & kUsageOut)) continue;
    const std::uint32_t slot = SlotOf(&v), n = v.valueCount;
    if (slot == kNoIndex || std::uint64_t{slot} + n > valueMap.Size()) return E_FAIL;
    for (std::uint32_t i = 0; i < n; ++i) {
      if (discarded) {
        valueMap[slot + i] = zero;
        continue;
      }
      const IrValue* x = Value(valueMap[slot + i]);
      if (!x || x->bank == undefined) {
        GXL_SHADER_REPORT(*this, &parameter, msg::kOutputNeverAssigned, name, ParameterName(parameter));
        return E_FAIL;
      }
    }
    if (isEntry) {
      hr = BindEntryOutputs(name, v.nodes[0], &valueMap[slot], n, &parameter, static_cast<TokenNode*>(v.nodes[3]),
                            v.nodes[4]);
      if (FAILED(hr)) return hr == E_OUTOFMEMORY ? OutOfMemory(&parameter) : hr;
    } else if (output && output->kind == NodeKind::List) {
      if (FAILED(hr = LowerExpression(output->first, nullptr, 0))) return hr;
      output = output->second;
    }
  }

  // Uniform parameters of an entry are named apart from globals of the same name.
  for (const ParseNode* p = function->parameters; isEntry && !byDeclaration && p; p = p->second) {
    const auto& parameter = *static_cast<const DeclarationNode*>(p->first);
    if (!(VariableDescription(&parameter)->storage & kUsageUniform)) continue;
    const char* text = IdentifierText(parameter.name);
    if (!text || text[0] == '$') continue;
    const std::size_t length = std::strlen(text);
    auto* renamed = static_cast<char*>(CurrentPoolAlloc(length + 2, 1));
    if (!renamed) return OutOfMemory(&parameter);
    renamed[0] = '$';
    std::memcpy(renamed + 1, text, length + 1);
    static_cast<TokenNode*>(parameter.name)->token.value.text = renamed;
  }
  return S_OK;
}

}  // namespace gxl::shader

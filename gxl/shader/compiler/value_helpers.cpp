// Helpers the lowering shares around emission: value flags from types, move
// chains, the loop-counter pattern, plain value types and the "def" pragmas.
#include <strings.h>

#include <algorithm>

#include "gxl/shader/compiler/shader_compiler.h"
#include "gxl/shader/core/profiles.h"
#include "gxl/shader/hlsl/hlsl_types.h"
#include "gxl/shader/preprocessor/shader_preprocessor.h"

namespace gxl::shader {

namespace {

std::uint32_t FlagsOfBase(std::uint32_t base, std::uint32_t options) {
  std::uint32_t flags = 0;
  switch (base) {
    case kBaseBool:
      flags = kValueComparison;
      break;
    case kBaseLiteralInt:
    case kBaseLiteralUint:
      flags = kValueInteger;
      break;
    case kBaseInt8:
    case kBaseUint8:
      flags = kValueInteger | kValueHalf;
      break;
    case kBaseInt16:
    case kBaseUint16:
      flags = kValueInteger | kValueFloat;
      break;
    case kBaseInt:
    case kBaseUint:
      flags = kValueInteger | kValueDouble;
      break;
    case kBaseHalf:
      flags = kValueHalf;
      break;
    case kBaseFloat:
      flags = kValueFloat;
      break;
    case kBaseDouble:
      flags = kValueDouble;
      break;
    default:
      break;
  }
  if ((options & kOptionPartialPrecision) && (flags & kValuePrecisionMask))
    flags = (flags & ~kValuePrecisionMask) | kValueHalf;
  return flags;
}

constexpr std::uint32_t kMaxTypeSteps = 1024;

// The literal table a literal operand is copied into.
constexpr std::uint32_t kLiteralTableType =
    kBankReadable | kBankInitialised | kBankBound | kBankLiteral | kBankUniform | 0x400;
// A "def" pragma's register: one register of four literals.
constexpr std::uint32_t kPragmaDefType = 2897;

}  // namespace

HRESULT ShaderCompiler::TypeFlagsOf(const ParseNode* type, std::uint32_t* flags, std::uint32_t capacity,
                                    std::uint32_t* count) {
  TypeComponentWalker walk(type);
  ScalarComponent component;
  std::uint32_t k = 0;
  while (walk.Next(&component)) {
    if (flags && k < capacity) flags[k] = FlagsOfBase(component.base, options);
    if (k != kNoIndex) ++k;
  }
  if (count) *count = k;
  if (walk.Malformed()) {
    GXL_SHADER_REPORT(*this, type, msg::kInternalUnknownNode);
    return E_FAIL;
  }
  return S_OK;
}

HRESULT ShaderCompiler::ApplyTypeFlags(const ParseNode* type, const std::uint32_t* values, std::uint32_t count) {
  WordBlock flags(*this, count);
  if (!flags && count) return E_OUTOFMEMORY;
  std::uint32_t components = 0;
  const HRESULT hr = TypeFlagsOf(type, flags.Get(), count, &components);
  if (FAILED(hr)) return hr;
  for (std::uint32_t i = 0; i < std::min(count, components); ++i)
    if (IrValue* v = Value(values[i])) v->flags |= flags[i];
  return S_OK;
}

HRESULT ShaderCompiler::ResolveMoveSources(const ParseNode* type, std::uint32_t* values, std::uint32_t count) {
  for (std::uint32_t i = 0; i < count; ++i) {
    std::uint32_t v = values[i];
    // Moves of values that have no register yet; a cycle cannot outlast the list.
    for (std::uint32_t steps = 0; steps < ValueCount(); ++steps) {
      IrValue* moved = Value(v);
      IrValue* from = moved && moved->reg == kNoIndex ? Value(moved->moveSource) : nullptr;
      if (!from) break;
      if (!from->declaration && moved->declaration) from->CopyVariableFields(moved);
      v = moved->moveSource;
    }
    values[i] = v;
  }
  return type ? BindLiteralCopies(type, values, count) : S_OK;
}

HRESULT ShaderCompiler::BindLiteralCopies(const ParseNode* type, std::uint32_t* values, std::uint32_t count) {
  const TypeNode* t = AsTypeNode(type);
  if (!t || count == 0 || t->shape > kShapeMatrix) return S_OK;
  const std::uint32_t rows = t->shape == kShapeMatrix ? t->rows : 1;
  const std::uint32_t columns = t->shape == kShapeScalar ? 1 : t->columns;
  if (std::uint64_t{rows} * columns != count) return S_OK;
  for (std::uint32_t i = 0; i < count; ++i) {
    const IrValue* v = Value(values[i]);
    const RegisterBank* bank = v ? Bank(v->bank) : nullptr;
    if (!bank || !(bank->type & kBankLiteral) || v->reg != kNoIndex || v->relativeIndex != kNoIndex) return S_OK;
  }
  // Where arrays are addressed only through the loop counter, so is this one.
  const std::uint32_t tableType = kLiteralTableType | ((FlowCaps() & kFlowRelativeArrays) ? 0 : kBankCounterOnly);
  const std::uint32_t table = target->AddRegisterBank("l", tableType, 0, 4);
  if (table == kNoIndex) return E_OUTOFMEMORY;
  for (std::uint32_t i = 0; i < count; ++i) {
    const std::uint32_t copy = target->AddValue(table, kNoIndex, kNoIndex, Value(values[i])->rangeLow);
    if (copy == kNoIndex) return E_OUTOFMEMORY;
    values[i] = copy;
  }
  std::uint32_t offset = 0, placed = 0;
  return PlaceValuesInBank(t->shape, rows, columns, t->flags, values, table, &offset, 0, &placed);
}

bool ShaderCompiler::MatchLoopCounter(std::uint32_t condition, std::uint32_t iterations, std::uint32_t* slot,
                                      std::uint32_t* counter) {
  auto isConstant = [this](std::uint32_t v, double x) {
    double c;
    return SUCCEEDED(GetConstantValue(v, &c)) && c == x;
  };
  const double count = iterations;
  std::uint32_t v = condition, other = kNoIndex;
  for (std::uint32_t steps = 0; steps < ValueCount() && other == kNoIndex; ++steps) {
    const IrValue* value = Value(v);
    const IrInstruction* inst = value ? Instruction(value->definingPosition) : nullptr;
    if (!inst) return false;
    std::uint32_t c = kNoIndex;
    for (std::uint32_t i = 0; i < inst->resultCount; ++i)
      if (inst->results[i] == v) c = i;
    const std::uint32_t n = inst->Width();
    auto arg = [&](std::uint32_t group) {
      const std::uint64_t k = std::uint64_t{group} * n + c;
      return k < inst->argumentCount ? inst->arguments[k] : kNoIndex;
    };
    if (c == kNoIndex) return false;
    switch (inst->Group()) {
      case kOpMove:
        v = arg(0);
        break;
      case kOpMultiply:  // times 1.0
        if (isConstant(arg(1), 1.0))
          v = arg(0);
        else if (isConstant(arg(0), 1.0))
          v = arg(1);
        else
          return false;
        break;
      case kOpLess:  // count < counter
        if (!isConstant(arg(0), count)) return false;
        other = arg(1);
        break;
      case kOpSelect: {  // the same test made through select(count - counter, 0, 1)
        if (!isConstant(arg(1), 0.0) || !isConstant(arg(2), 1.0)) return false;
        const IrValue* d = Value(arg(0));
        const IrInstruction* add = d ? Instruction(d->definingPosition) : nullptr;
        if (!add || add->Group() != kOpAdd || add->Width() != 1 || !isConstant(add->arguments[0], count)) return false;
        const IrValue* negated = Value(add->arguments[1]);
        const IrInstruction* negate = negated ? Instruction(negated->definingPosition) : nullptr;
        if (!negate || negate->Group() != kOpNegate || negate->Width() != 1) return false;
        other = negate->arguments[0];
        break;
      }
      default:
        return false;
    }
  }
  if (other == kNoIndex || FAILED(ResolveMoveSources(nullptr, &other, 1))) return false;
  const IrValue* found = Value(other);
  const RegisterBank* bank = found ? Bank(found->bank) : nullptr;
  if (!bank || !(found->flags & kValueInteger) || !(bank->type & kBankInitialised) || !(bank->type & kBankUniform) ||
      (bank->type & kBankLiteral))
    return false;
  if (counter && *counter != kNoIndex && *counter != other) return false;
  if (counter) *counter = other;
  if (slot) *slot = found->symbolSlot;
  return true;
}

bool ShaderCompiler::IsPlainValueType(const ParseNode* node) {
  for (std::uint32_t steps = 0; node && steps < kMaxTypeSteps; ++steps) {
    switch (node->kind) {
      case NodeKind::Kind13:
        node = static_cast<const ParseNodeKind13*>(node)->type;
        break;
      case NodeKind::List:
        node = node->first;
        break;
      case NodeKind::Declaration:
        node = static_cast<const DeclarationNode*>(node)->description;
        break;
      case NodeKind::Kind11:
        node = static_cast<const ParseNodeKind11*>(node)->nodes[0];
        break;
      case NodeKind::Statement:
        node = static_cast<const StatementNode*>(node)->children[0];
        break;
      case NodeKind::Type:
        return static_cast<const TypeNode*>(node)->shape <= kShapeMatrix;
      default:
        return false;
    }
  }
  return false;
}

HRESULT ShaderCompiler::ApplyPragmaDefs() {
  if (!source || !target) return S_OK;
  for (const DefPragma* d = source->DefPragmas(); d;) {
    // One run per register name: the exact profile wins over the bare shader type.
    const DefPragma *exact = nullptr, *sameType = nullptr;
    const char* name = d->registerName;
    for (; d && strcasecmp(d->registerName, name) == 0; d = d->next) {
      ShaderProfileRow row{};
      if (FAILED(ProfileNameToToken(d->target, 0, &row))) continue;
      if (!exact && row.version == version) exact = d;
      if (!sameType && row.version == (version & 0xFFFF0000u)) sameType = d;
    }
    const DefPragma* winner = exact ? exact : sameType;
    if (!winner) continue;
    const std::uint32_t bank = target->AddRegisterBank(winner->registerName, kPragmaDefType, 1, 4);
    if (bank == kNoIndex) return E_OUTOFMEMORY;
    for (std::uint32_t c = 0; c < 4; ++c)
      if (target->AddValue(bank, 0, c, winner->values[c]) == kNoIndex) return E_OUTOFMEMORY;
  }
  return S_OK;
}

}  // namespace gxl::shader

// Lowering of value nodes (literals and variable references), of the lists
// that constructors and initialisers gather, and of expression programs.
#include <algorithm>

#include "gxl/shader/compiler/shader_compiler.h"
#include "gxl/shader/hlsl/hlsl_parser.h"

namespace gxl::shader {

namespace {

// Components an element of a value list contributes.
bool ElementWidth(const ParseNode* item, std::uint32_t* width) {
  if (const ParseNodeKind13* e = AsExpression(item)) {
    const std::uint64_t n = std::uint64_t{e->rows} * e->columns;
    *width = static_cast<std::uint32_t>(std::min<std::uint64_t>(n, kNoIndex));
    return true;
  }
  if (item && item->kind == NodeKind::Expression) {
    const ExpressionValue& v = static_cast<const ExpressionNode*>(item)->value;
    *width = v.subKind == kValueVariable ? v.third : 1;
    return true;
  }
  return false;
}

}  // namespace

HRESULT ShaderCompiler::LowerValue(const ParseNode* node, std::uint32_t* results, std::uint32_t count) {
  if (!target) return E_FAIL;
  if (!node) {
    // No operand: values nothing defines yet.
    const std::uint32_t temporaries = target->StandardBankIndex(StandardBank::Temporaries);
    for (std::uint32_t i = 0; results && i < count; ++i)
      if ((results[i] = target->AddValue(temporaries, kNoIndex, kNoIndex, 0.0)) == kNoIndex) return OutOfMemory(node);
    return S_OK;
  }
  switch (node->kind) {
    case NodeKind::Kind13:
      return LowerExpression(node, results, 0);
    case NodeKind::Expression:
      return LowerLeaf(node, results, count);
    case NodeKind::List: {
      std::uint32_t offset = 0;
      for (const ParseNode* cell = node; cell; cell = cell->second) {
        std::uint32_t width = 0;
        if (cell->kind != NodeKind::List || !ElementWidth(cell->first, &width) || width > count - offset) {
          GXL_SHADER_REPORT(*this, node, msg::kInternalUnrecognizedValue);
          return E_FAIL;
        }
        const HRESULT hr = LowerValue(cell->first, results ? results + offset : nullptr, width);
        if (FAILED(hr)) return hr;
        offset += width;
      }
      return S_OK;
    }
    default:
      GXL_SHADER_REPORT(*this, node, msg::kInternalUnrecognizedValue);
      return E_FAIL;
  }
}

HRESULT ShaderCompiler::LowerLeaf(const ParseNode* node, std::uint32_t* results, std::uint32_t count) {
  const ExpressionValue& v = static_cast<const ExpressionNode*>(node)->value;
  if (v.subKind == kValueVariable) {
    // A variable's current values; a global's slot is the compiler's, and a
    // reference without one is the intrinsic argument being written back.
    const std::uint32_t* from = nullptr;
    std::uint32_t slot = v.word;
    if (slot == kNoSlot && v.node && v.node->kind == NodeKind::Kind11)
      slot = SlotOf(static_cast<const ParseNodeKind11*>(v.node));
    if (slot == kNoSlot)
      from = callArguments;
    else if (std::uint64_t{slot} + v.third <= valueMap.Size())
      from = &valueMap[slot];
    if (!from || count > v.third) {
      GXL_SHADER_REPORT(*this, node, msg::kInternalUnrecognizedValue);
      return E_FAIL;
    }
    if (results) std::copy_n(from, count, results);
    return S_OK;
  }
  double x = 0.0;
  std::uint32_t flags = 0;
  switch (v.subKind) {
    case kComponentBool:
      x = v.integer ? 1.0 : 0.0;
      flags = kValueComparison;
      break;
    case kComponentInt:
      x = static_cast<std::int32_t>(v.integer);
      flags = kValueInteger;
      break;
    case kComponentUint:
      x = v.integer;
      flags = kValueInteger;
      break;
    case kComponentFloat:
      x = v.number;
      break;
    case kComponentSampler:
    case kComponentObject:
      break;
    default:
      GXL_SHADER_REPORT(*this, node, msg::kInternalUnrecognizedValue);
      return E_FAIL;
  }
  if (!results || count == 0) return S_OK;
  const std::uint32_t literal = NewLiteral(x);
  if (literal == kNoIndex) return OutOfMemory(node);
  Value(literal)->flags |= flags;
  std::fill_n(results, count, literal);
  return S_OK;
}

HRESULT ShaderCompiler::LowerExpressionProgram(const ParseNode* expression) {
  const ParseNodeKind13* e = AsExpression(expression);
  if (!e) return S_OK;
  if (!target) return E_FAIL;
  const std::uint64_t n = std::uint64_t{e->rows} * e->columns;
  WordBlock words(*this, n < kNoIndex / 2 ? static_cast<std::uint32_t>(2 * n) : kNoIndex);
  if (!words) return OutOfMemory(e);
  const auto count = static_cast<std::uint32_t>(n);
  std::uint32_t *values = words.Get(), *outputs = values + count;
  FillIndicesWithNone(values, 2 * count);
  HRESULT hr = LowerExpression(e, values, 0);
  if (SUCCEEDED(hr)) hr = EmitInstruction(e, IrWord(kOpMove, count), outputs, values, nullptr, 0);
  if (hr == E_OUTOFMEMORY) return OutOfMemory(e);
  if (FAILED(hr)) return hr;
  // Outputs have no semantics here: they are placed in turn.
  hr = BindRegisters(e->type, outputs, count, target->StandardBankIndex(StandardBank::Outputs), nullptr, nullptr);
  if (hr == E_OUTOFMEMORY) return OutOfMemory(e);
  if (FAILED(hr)) return hr;
  return errorFlag ? E_FAIL : S_OK;
}

}  // namespace gxl::shader

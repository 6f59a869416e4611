// The comparators the passes sort index arrays with.
#include <cstring>

#include "gxl/shader/backend/ir/shader_program.h"
#include "gxl/shader/backend/ir/value_keys.h"
#include "gxl/shader/core/syntax_tree.h"

namespace gxl::shader {

namespace {

const ShaderProgram& Program(const void* context) { return *static_cast<const ShaderProgram*>(context); }
const IrValue& ValueAt(const void* context, std::uint32_t i) { return *Program(context).values[i]; }

// The first non-zero order of a list of comparisons.
template <class... Orders>
std::int32_t FirstOf(Orders... orders) {
  std::int32_t result = 0;
  ((result == 0 ? (result = orders, 0) : 0), ...);
  return result;
}

const std::uint32_t* Record(const void* records, std::uint32_t i) {
  return static_cast<const std::uint32_t*>(records) + std::size_t{i} * 3;
}

std::int32_t CompareTexts(const char* a, const char* b) {
  const int c = std::strcmp(a ? a : "", b ? b : "");  // bytes compare as unsigned char
  return KeyOrder(c, 0);
}

const char* DeclarationName(const DeclarationNode* d) {
  const ParseNode* name = d ? d->name : nullptr;
  if (!name || name->kind != NodeKind::Token) return nullptr;
  const SourceToken& token = static_cast<const TokenNode*>(name)->token;
  return token.kind == kTokenIdentifier ? token.value.text : nullptr;
}

}  // namespace

std::int32_t CompareLiteralValues(std::uint32_t a, std::uint32_t b, const void* program) {
  return LiteralKey::Of(ValueAt(program, a), a).Compare(LiteralKey::Of(ValueAt(program, b), b));
}

std::int32_t CompareValueKeys(std::uint32_t a, std::uint32_t b, const void* program) {
  return ReadKey::Of(ValueAt(program, a), a).Compare(ReadKey::Of(ValueAt(program, b), b));
}

std::int32_t CompareIndexes(std::uint32_t a, std::uint32_t b, const void*) { return KeyOrder(a, b); }

std::int32_t CompareOrderKeys(std::uint32_t a, std::uint32_t b, const void* program) {
  const ShaderProgram& p = Program(program);
  return FirstOf(KeyOrder(p.instructions[a]->orderKey, p.instructions[b]->orderKey), KeyOrder(a, b));
}

std::int32_t CompareComponentMasks(std::uint32_t a, std::uint32_t b, const void* program) {
  return KeyOrder(ValueAt(program, a).componentMask, ValueAt(program, b).componentMask);
}

std::int32_t CompareBankSizes(std::uint32_t a, std::uint32_t b, const void* program) {
  const ShaderProgram& p = Program(program);
  return FirstOf(KeyOrder(p.banks[b]->registerCount, p.banks[a]->registerCount), KeyOrder(a, b));
}

std::int32_t CompareDebugValues(std::uint32_t a, std::uint32_t b, const void* program) {
  const IrValue &x = ValueAt(program, a), &y = ValueAt(program, b);
  const DeclarationNode *dx = x.declaration, *dy = y.declaration;
  const std::int32_t byDeclaration =
      FirstOf(CompareTexts(dx ? dx->scopeText : nullptr, dy ? dy->scopeText : nullptr),
              CompareTexts(DeclarationName(dx), DeclarationName(dy)),
              KeyOrder(dx ? dx->serial : 0u, dy ? dy->serial : 0u));
  return FirstOf(byDeclaration, KeyOrder(x.sequence, y.sequence), KeyOrder(x.component, y.component));
}

std::int32_t CompareAllocationRecords(std::uint32_t a, std::uint32_t b, const void* records) {
  const std::uint32_t *x = Record(records, a), *y = Record(records, b);
  return FirstOf(KeyOrder(x[1], y[1]), KeyOrder(static_cast<std::int32_t>(x[2]), static_cast<std::int32_t>(y[2])));
}

std::int32_t CompareAllocationKeys(std::uint32_t a, std::uint32_t b, const void* records) {
  return KeyOrder(Record(records, b)[0], Record(records, a)[0]);
}

std::int32_t CompareAllocationEntries(std::uint32_t a, std::uint32_t b, const void* records) {
  return FirstOf(CompareAllocationRecords(a, b, records), CompareAllocationKeys(a, b, records));
}

}  // namespace gxl::shader

// The check that runs before any rewriting: every value that is read, and
// every output, must have been written before; banks must be read and
// written only as their type allows.
#include <algorithm>

#include "gxl/shader/backend/opt/opt_util.h"
#include "gxl/shader/core/syntax_tree.h"

namespace gxl::shader {

namespace {

// Lowers `field` to `position` for the value and each one along `link`.
void Lower(ShaderProgram& p, std::uint32_t index, std::uint32_t IrValue::*link, std::uint32_t IrValue::*field,
           std::uint32_t position) {
  for (std::uint32_t steps = 0; index != kNoIndex && steps <= p.values.Count(); ++steps) {
    IrValue* v = p.values[index];
    if (!v) return;
    v->*field = std::min(v->*field, position);
    index = v->*link;
  }
}

// The name token of a declaration, when it has one.
const TokenNode* DeclarationToken(const DeclarationNode* d) {
  return d && d->name && d->name->kind == NodeKind::Token ? static_cast<const TokenNode*>(d->name) : nullptr;
}

}  // namespace

HRESULT ShaderProgram::CheckUninitializedUse() {
  const std::uint32_t bankCount = banks.Count();
  auto firstRelativeRead = opt::NewArray<std::uint32_t>(bankCount);
  auto firstRelativeWrite = opt::NewArray<std::uint32_t>(bankCount);
  if (!firstRelativeRead || !firstRelativeWrite) return E_OUTOFMEMORY;
  std::fill_n(firstRelativeRead.get(), bankCount, kNoIndex);
  std::fill_n(firstRelativeWrite.get(), bankCount, kNoIndex);
  // First use in firstUse, first definition in definingPosition.
  for (std::uint32_t i = 0; i < values.Count(); ++i)
    if (IrValue* v = values[i]) v->firstUse = v->definingPosition = kNoIndex;

  for (std::uint32_t position = 0; position < instructions.Count(); ++position) {
    const IrInstruction* inst = instructions[position];
    if (opt::IsEmpty(inst)) continue;
    for (std::uint32_t a = 0; a < inst->argumentCount; ++a) {
      const IrValue* v = values[inst->arguments[a]];
      if (!v) continue;
      Lower(*this, inst->arguments[a], &IrValue::relativeIndex, &IrValue::firstUse, position);
      Lower(*this, v->predicate, &IrValue::predicate, &IrValue::firstUse, position);
      if (v->relativeIndex != kNoIndex && v->bank < bankCount)
        firstRelativeRead[v->bank] = std::min(firstRelativeRead[v->bank], position);
    }
    for (std::uint32_t r = 0; r < inst->resultCount; ++r) {
      IrValue* v = values[inst->results[r]];
      if (!v) continue;
      v->definingPosition = std::min(v->definingPosition, position);
      if (v->relativeIndex != kNoIndex && v->bank < bankCount) {
        firstRelativeWrite[v->bank] = std::min(firstRelativeWrite[v->bank], position);
        Lower(*this, v->relativeIndex, &IrValue::relativeIndex, &IrValue::firstUse, position);
      }
    }
  }

  // A value and the one it aliases share their first use and definition.
  for (std::uint32_t i = 0; i < values.Count(); ++i) {
    IrValue* v = values[i];
    IrValue* target = v && v->alias != i ? values[v->alias] : nullptr;
    if (!target) continue;
    v->firstUse = target->firstUse = std::min(v->firstUse, target->firstUse);
    v->definingPosition = target->definingPosition = std::min(v->definingPosition, target->definingPosition);
  }
  for (std::uint32_t i = 0; i < values.Count(); ++i) {
    IrValue* v = values[i];
    if (!v || v->bank >= bankCount) continue;
    v->firstUse = std::min(v->firstUse, firstRelativeRead[v->bank]);
    v->definingPosition = std::min(v->definingPosition, firstRelativeWrite[v->bank]);
  }

  bool failed = false;
  for (std::uint32_t i = 0; i < values.Count(); ++i) {
    const IrValue* v = values[i];
    const RegisterBank* bank = v ? banks[v->bank] : nullptr;
    if (!bank) continue;
    const std::uint32_t type = bank->type;
    const bool read = v->firstUse != kNoIndex, defined = v->definingPosition != kNoIndex;
    // A temporary nobody reads may stay unwritten; an output may not.
    if (!(type & kBankInitialised) && (read || (type & kBankOutput)) && v->firstUse <= v->definingPosition) {
      failed = true;
      const IrInstruction* reader = instructions[v->firstUse];
      const ParseNode* where = reader && reader->sourcePosition ? reader->sourcePosition : v->declaration;
      if (const TokenNode* name = DeclarationToken(v->declaration)) {
        if (v->declaration->flags & kDeclUninitReported) continue;  // once per variable
        v->declaration->flags |= kDeclUninitReported;
        const char* text = name->token.kind == kTokenIdentifier && name->token.value.text ? name->token.value.text : "";
        GXL_SHADER_REPORT(*this, where, msg::kUsedUninitialized, text);
      } else {
        GXL_SHADER_REPORT(*this, where, msg::kInternalUsedUninitialized, i, v->firstUse);
      }
    } else if ((type & kBankOutput) && !defined) {
      failed = true;
      GXL_SHADER_REPORT(*this, v->declaration, msg::kInternalOutputNeverInitialized, i);
    } else if (!(type & kBankWritable) && defined) {
      failed = true;
      GXL_SHADER_REPORT(*this, v->declaration, msg::kInternalWriteToArgumentPool, i, v->definingPosition);
    } else if (!(type & kBankAnyReadable) && read) {
      failed = true;
      GXL_SHADER_REPORT(*this, v->declaration, msg::kInternalReadFromArgumentPool, i);
    }
  }
  return failed ? E_FAIL : S_OK;
}

}  // namespace gxl::shader

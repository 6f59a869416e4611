// Input and output semantics: each input or output value gets its usage and
// usage index from the target's tables, the semantics of a program are
// checked for consistency, and the centroid property spreads to what is
// computed from centroid inputs.
#include <strings.h>

#include <cctype>
#include <cstring>

#include "gxl/shader/backend/targets/shader_target.h"
#include "gxl/shader/core/syntax_tree.h"

namespace gxl::shader {

namespace {

const char* SemanticTextOf(const IrValue& v) {
  if (!v.semantic) return nullptr;
  const SourceToken& t = v.semantic->token;
  return (t.kind == kTokenIdentifier || t.kind == kTokenString) ? t.value.text : nullptr;
}

bool IsInputBank(const RegisterBank* b) { return b && (b->type & kBankInitialised) && !(b->type & kBankUniform); }
bool IsOutputBank(const RegisterBank* b) { return b && (b->type & kBankOutput); }

// The decimal number of a text of digits only; false when it is empty, has
// another character or does not fit.
bool ParseIndex(const char* text, std::uint32_t* index) {
  std::uint64_t n = 0;
  if (!*text) return false;
  for (const char* c = text; *c; ++c) {
    if (*c < '0' || *c > '9') return false;
    n = n * 10 + static_cast<std::uint64_t>(*c - '0');
    if (n > 0xFFFF) return false;
  }
  *index = static_cast<std::uint32_t>(n);
  return true;
}

}  // namespace

HRESULT ParseInputSemantic(ShaderProgram& program, std::uint32_t value, const SemanticTableRow* table,
                           std::uint16_t directions, bool* error, bool warnDeprecated) {
  IrValue& v = *program.Value(value);
  v.flags &= ~kValueSemanticInvalid;
  *error = false;
  char text[64] = {};
  if (const char* s = SemanticTextOf(v)) std::strncpy(text, s, sizeof text - 1);
  const char* direction = program.ValueDirectionText(value);
  auto invalid = [&] {
    v.flags |= kValueSemanticInvalid;
    v.registerKey = 0;
    return S_OK;
  };

  bool centroid = false;
  if (char* underscore = std::strchr(text, '_')) {
    if (strcasecmp(underscore + 1, "centroid") != 0) {
      GXL_SHADER_REPORT(program, v.semantic, msg::kInvalidInputSemanticModifier, text);
      *error = true;
      v.registerKey = 0;
      return S_OK;
    }
    *underscore = '\0';
    centroid = true;
  }
  char* digits = text;
  while (std::isalpha(static_cast<unsigned char>(*digits))) ++digits;
  std::uint32_t index = 0;
  if (*digits && !ParseIndex(digits, &index)) return invalid();
  index += v.variableOffset / 4;
  *digits = '\0';

  const SemanticTableRow* row = table;
  for (; row && row->usage != kUsageEnd; ++row)
    if ((row->directions & directions) && strcasecmp(row->name, text) == 0) break;
  if (!row || row->usage == kUsageEnd) return invalid();
  if (centroid && !(row->flags & kSemanticCentroidAllowed)) v.flags |= kValueSemanticInvalid;
  if (row->replacement && warnDeprecated)
    GXL_SHADER_REPORT(program, v.semantic, msg::kSemanticsDeprecated, direction, text, row->replacement,
                      static_cast<int>(row->indexBase + index));
  if (index < row->minimumIndex || index >= row->indexLimit) v.flags |= kValueSemanticInvalid;
  if (v.component >= row->componentLimit) {
    v.flags |= kValueSemanticInvalid;
    *error = true;
    GXL_SHADER_REPORT(program, v.semantic, msg::kInvalidSemanticType, text, direction);
    return S_OK;
  }
  v.registerKey = SemanticWord(static_cast<std::uint32_t>(row->usage), row->indexBase + index);
  if (centroid) v.flags |= kValueCentroid;
  return S_OK;
}

bool ShaderTarget::NoteDeprecationReported(const void* semantic) {
  for (std::size_t i = 0; i < m_deprecationsReported.Size(); ++i)
    if (m_deprecationsReported[i] == semantic) return true;
  m_deprecationsReported.Append(semantic);
  return false;
}

HRESULT ShaderTarget::CheckSemanticAgainst(std::uint32_t value, const SemanticTableRow* table,
                                           std::uint16_t directions) {
  const IrValue& v = *Value(value);
  // A semantic's deprecation is told once, not once per component and pass.
  const bool warn = !NoteDeprecationReported(v.semantic);
  bool error = false;
  const HRESULT hr = ParseInputSemantic(*this, value, table, directions, &error, warn);
  if (FAILED(hr) || error) return FAILED(hr) ? hr : E_FAIL;
  if (!(v.flags & kValueSemanticInvalid)) return S_OK;
  GXL_SHADER_REPORT(*this, v.semantic, msg::kInvalidSemantic, ValueDirectionText(value), SemanticTextOf(v));
  return E_FAIL;
}

HRESULT ShaderTarget::CheckSemantics(std::uint32_t value, std::uint32_t) {
  IrValue* v = Value(value);
  const RegisterBank* bank = v ? BankOf(*v) : nullptr;
  if (!bank) return E_FAIL;
  const bool output = IsOutputBank(bank);
  if (!output && !IsInputBank(bank)) return S_OK;
  const char* text = SemanticTextOf(*v);
  if (!text) return S_OK;  // filed without a register key: reported by the compile
  // Fragments name their temporaries "r_..." for the linker.
  if (fragmentMode && strncasecmp(text, "r_", 2) == 0) {
    v->registerKey = EncodeRegisterKey(kNoSemanticUsage, v->reg);
    return fragmentNames[1].Find(text) ? S_OK : fragmentNames[1].Add(text, v->reg, 0);
  }
  const bool vertex = (versionToken >> 16) == 0xFFFE;
  const SemanticTableRow* table = vertex ? semanticTables[output ? 1 : 0] : semanticTables[output ? 2 : 1];
  // Every row of the pixel 2.x input table is accepted, those a pixel shader
  // may not read among them: the target refuses them where they are read.
  const std::uint16_t directions = vertex                            ? kSemanticVertex
                                   : table == kPixelInputSemantics ? kSemanticAnyDirection
                                                                   : kSemanticPixel;
  return CheckSemanticAgainst(value, table, directions);
}

const SemanticTableRow* ShaderTarget::FindSemanticRecord(std::uint32_t key) const {
  for (int t : {1, 0, 2})
    for (const SemanticTableRow* row = semanticTables[t]; row && row->usage != kUsageEnd; ++row)
      if (static_cast<std::uint32_t>(row->usage) == SemanticUsageOf(key)) return row;
  return nullptr;
}

HRESULT ShaderTarget::CheckSemanticConsistency() {
  const std::uint32_t n = values.Count();
  auto inOut = [&](std::uint32_t i) {
    const IrValue* v = Value(i);
    return v && (IsInputBank(BankOf(*v)) || IsOutputBank(BankOf(*v)));
  };
  // The values after i that belong to the same variable.
  auto runEnd = [&](std::uint32_t i) {
    const IrValue& a = *Value(i);
    std::uint32_t j = i + 1;
    while (j < n && inOut(j) && Value(j)->declaration == a.declaration && Value(j)->semantic == a.semantic) ++j;
    return j;
  };
  bool failed = false;
  for (std::uint32_t i = 0; i < n;) {
    if (!inOut(i)) {
      ++i;
      continue;
    }
    const HRESULT hr = CheckSemantics(i, 0);
    if (hr == E_OUTOFMEMORY) return hr;
    if (FAILED(hr)) {
      failed = true;
      i = runEnd(i);
    } else {
      ++i;
    }
  }
  if (failed) return E_FAIL;
  for (std::uint32_t i = 0; i < n;) {
    if (!inOut(i)) {
      ++i;
      continue;
    }
    const IrValue& a = *Value(i);
    bool clash = false;
    for (std::uint32_t j = i + 1; j < n && !clash; ++j) {
      const IrValue* b = inOut(j) ? Value(j) : nullptr;
      clash = b && b->bank == a.bank && b->registerKey == a.registerKey && b->variableOffset == a.variableOffset &&
              ((b->flags ^ a.flags) & kValueCentroid);
      if (!clash) continue;
      char first[256], second[256];
      FormatSemanticText(i, first, sizeof first);
      FormatSemanticText(j, second, sizeof second);
      GXL_SHADER_REPORT(*this, a.semantic, msg::kInconsistentSemantic, first, second);
      failed = true;
    }
    i = clash ? runEnd(i) : i + 1;
  }
  return failed ? E_FAIL : S_OK;
}

HRESULT ShaderTarget::PropagateCentroid() {
  auto centroid = [&](std::uint32_t i) {
    const IrValue* v = Value(i);
    const IrValue* alias = v && v->alias != kNoIndex ? Value(v->alias) : nullptr;
    return (v && (v->flags & kValueCentroid)) || (alias && (alias->flags & kValueCentroid));
  };
  for (bool changed = true; changed;) {
    changed = false;
    for (std::uint32_t i = 0; i < instructions.Count(); ++i) {
      const IrInstruction* inst = Instruction(i);
      if (!inst) continue;
      bool any = false;
      for (std::uint32_t a = 0; a < inst->argumentCount && !any; ++a) any = centroid(inst->arguments[a]);
      if (!any) continue;
      for (std::uint32_t r = 0; r < inst->resultCount; ++r) {
        IrValue* v = Value(inst->results[r]);
        if (v && !(v->flags & kValueCentroid)) v->flags |= kValueCentroid, changed = true;
      }
    }
  }
  for (std::uint32_t i = 0; i < values.Count(); ++i)
    if (IrValue* v = Value(i); v && centroid(i)) v->flags |= kValueCentroid;
  return S_OK;
}

}  // namespace gxl::shader

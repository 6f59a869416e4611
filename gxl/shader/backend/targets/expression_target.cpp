// The expression target's slots and its compile: the phases, the constant
// registers, the literal table, the texture-shader register rules, then the
// instruction list and blocks of expression_code.cpp.
#include "gxl/shader/backend/targets/expression_target.h"

#include <strings.h>

#include <algorithm>
#include <cctype>
#include <cstdio>
#include <cstring>
#include <new>

#include "gxl/shader/core/profiles.h"
#include "gxl/shader/core/syntax_tree.h"

namespace gxl::shader {

namespace {

// Usages of the texture-shader semantics.
constexpr std::uint32_t kTxUsageColor = 1;
constexpr std::uint32_t kTxUsagePosition = 2;
constexpr std::uint32_t kTxUsagePointSize = 3;
// Literal registers that "CLIT" can hold in one comment block.
constexpr std::uint64_t kMaxLiteralRegisters = (0x7FFF - 2) / 8;

bool IsVaryingInput(std::uint32_t type) { return (type & kBankInitialised) && !(type & kBankUniform); }

const char* SemanticTextOf(const IrValue& v) {
  if (!v.semantic) return nullptr;
  const SourceToken& t = v.semantic->token;
  return (t.kind == kTokenIdentifier || t.kind == kTokenString) ? t.value.text : nullptr;
}

// The letters of a semantic and the number after them plus `element`; the
// index is kNoIndex when something else follows the letters.
void SplitSemantic(const char* text, std::uint32_t element, char (&name)[33], std::uint32_t* index) {
  std::snprintf(name, sizeof name, "%s", text ? text : "");
  char* digits = name;
  while (std::isalpha(static_cast<unsigned char>(*digits))) ++digits;
  std::uint64_t n = 0;
  bool valid = true;
  for (const char* c = digits; *c && valid; ++c) {
    valid = *c >= '0' && *c <= '9';
    n = std::min<std::uint64_t>(n * 10 + static_cast<std::uint64_t>(*c - '0'), 0xFFFFFFFF);
  }
  *digits = '\0';
  *index = valid ? static_cast<std::uint32_t>(std::min<std::uint64_t>(n + element, 0xFFFFFFFE)) : kNoIndex;
}

}  // namespace

ExpressionOperandKind OperandKindOf(std::uint32_t type) {
  if (type & kBankLiteral) return kOperandLiteral;
  if ((type & kBankUniform) && (type & kBankSampler)) return kOperandSampler;
  if (type & kBankUniform) return kOperandConstant;
  if (type & kBankInitialised) return kOperandInput;
  if ((type & kBankBoolean) && (type & kBankOutput)) return kOperandBoolOutput;
  if ((type & kBankInteger) && (type & kBankOutput)) return kOperandIntOutput;
  if (type & kBankOutput) return kOperandOutput;
  if ((type & kBankReadable) && (type & kBankWritable)) return kOperandTemporary;
  if ((type & kBankWritable) && (type & kBankAddress)) return kOperandAddress;
  return kOperandNone;
}

// Made in the optimiser, which cannot name this target.
std::unique_ptr<ShaderProgram> CreatePreshaderProgram() {
  return std::unique_ptr<ShaderProgram>(new (std::nothrow) ExpressionTarget);
}

ExpressionTarget::ExpressionTarget() : ShaderTarget(false) {}
ExpressionTarget::~ExpressionTarget() = default;

HRESULT ExpressionTarget::SetupProfileLimits() {
  HRESULT hr = ShaderTarget::SetupProfileLimits();
  if (FAILED(hr)) return hr;
  ShaderProfileRow row{};
  if (SUCCEEDED(ProfileNameToToken("tx", 0, &row))) profileVersion = row.version;
  ProfileLimits& l = profileLimits;
  l.inputs = 64;
  l.temporaries = kExpressionTemporaries;
  l.floatConstants = 8192;
  l.addressRegisters = 0;
  l.capabilities = (l.capabilities & ~0x101u) | 0x80000202u;
  l.secondFlags |= 0x200;
  return S_OK;
}

HRESULT ExpressionTarget::AllocateRegisters() { return S_FALSE; }

HRESULT ExpressionTarget::CheckSemantics(std::uint32_t value, std::uint32_t) {
  IrValue* v = Value(value);
  const RegisterBank* bank = v ? BankOf(*v) : nullptr;
  if (!bank) return E_FAIL;
  if ((versionToken >> 16) == 0x4658) {
    // Expression programs: any variable, told apart by the order of its check.
    if (v->registerKey == kNoIndex || v->registerKey == 0xFFFFFFFEu) v->registerKey = semanticCounter++;
    return S_OK;
  }
  if (v->registerKey != kNoIndex) return (v->registerKey & 0xFF) ? S_OK : E_FAIL;

  char name[33];
  std::uint32_t index;
  SplitSemantic(SemanticTextOf(*v), v->variableOffset / 4, name, &index);
  const bool reports = v->variableOffset % 4 == 0;
  std::uint32_t usage = 0;
  bool reported = false;
  if (IsVaryingInput(bank->type)) {
    if (strcasecmp(name, "position") == 0) usage = kTxUsagePosition;
    if (strcasecmp(name, "psize") == 0) usage = kTxUsagePointSize;
    if ((usage == 0 || index != 0) && reports) {
      GXL_SHADER_REPORT(*this, v->semantic, msg::kInvalidInputSemanticReference, name, static_cast<int>(index));
      reported = true;
    }
  } else if (bank->type & kBankOutput) {
    if (strcasecmp(name, "color") == 0) usage = kTxUsageColor;
    if ((usage == 0 || index != 0) && reports) {
      GXL_SHADER_REPORT(*this, v->semantic, msg::kInvalidOutputSemanticReference, name, static_cast<int>(index));
      reported = true;
    }
  }
  v->registerKey = 0xFFFF0000u | (index & 0xFF) << 8 | usage;
  return usage == 0 || index == kNoIndex || reported ? E_FAIL : S_OK;
}

HRESULT ExpressionTarget::Compile(DataBuffer** code) {
  if (code) *code = nullptr;
  m_code.clear();
  bool any = false;
  for (std::uint32_t i = 0; i < instructions.Count() && !any; ++i) any = Instruction(i) && Instruction(i)->word;
  if (!any) return S_FALSE;

  currentSource = nullptr;
  current = nullptr;
  std::uint32_t phases = 0;
  HRESULT hr = Compile(&phases);
  if (FAILED(hr)) return hr;
  hr = BindRegisterSemantics(StandardBankIndex(StandardBank::FloatConstants), profileLimits.floatConstants,
                             kBankUniform, kBankBoolean | kBankInteger | kBankSampler | kBankLiteral, 'c');
  if (FAILED(hr)) return hr;
  try {
    hr = GenerateExpressionCode();
  } catch (const std::bad_alloc&) {
    hr = E_OUTOFMEMORY;
  }
  if (FAILED(hr)) return hr;
  if (errorFlag) return E_FAIL;
  return CopyTokens(code);
}

HRESULT ExpressionTarget::GenerateExpressionCode() {
  // What the registers in use ask of the files.
  std::uint64_t literalRegisters = 0, temporaries = 0;
  OutputSpan spans[3];
  const std::uint32_t outputBanks[3] = {StandardBankIndex(StandardBank::Outputs),
                                        StandardBankIndex(StandardBank::BoolOutputs),
                                        StandardBankIndex(StandardBank::IntOutputs)};
  for (std::uint32_t i = 0; i < values.Count(); ++i) {
    const IrValue* v = Value(i);
    const RegisterBank* bank = v ? BankOf(*v) : nullptr;
    if (!bank || v->reg == kNoIndex) continue;  // a register still to be placed counts for nothing
    const ExpressionOperandKind kind = OperandKindOf(bank->type);
    if (kind == kOperandLiteral && v->relativeIndex == kNoIndex)
      literalRegisters = std::max<std::uint64_t>(literalRegisters, std::uint64_t{v->reg} + 1);
    if (kind == kOperandTemporary) temporaries = std::max<std::uint64_t>(temporaries, std::uint64_t{v->reg} + 1);
    for (int k = 0; k < 3; ++k) {
      if (v->bank != outputBanks[k]) continue;
      spans[k].low = std::min(spans[k].low, v->reg);
      spans[k].high = std::max(spans[k].high, v->reg);
    }
  }
  std::vector<std::uint8_t> used[3];
  for (int k = 0; k < 3; ++k)
    if (spans[k].low != kNoIndex) used[k].assign(std::size_t{spans[k].high - spans[k].low} + 1, 0);
  for (std::uint32_t i = 0; i < values.Count(); ++i) {
    const IrValue* v = Value(i);
    for (int k = 0; k < 3 && v && v->reg != kNoIndex; ++k)
      if (v->bank == outputBanks[k]) used[k][v->reg - spans[k].low] = 1;
  }

  if (literalRegisters > kMaxLiteralRegisters) {
    GXL_SHADER_REPORT(*this, nullptr, msg::kExpressionCodeTooLarge);
    return E_FAIL;
  }
  if (temporaries > kExpressionTemporaries) {
    // The evaluator has no more temporaries: no code rather than code that reads past them.
    GXL_SHADER_REPORT(*this, nullptr, msg::kTooManyActiveValues);
    return E_FAIL;
  }
  m_temporaries = static_cast<std::uint32_t>(temporaries);
  std::vector<double> literals(literalRegisters * 4, 0.0);
  HRESULT hr = FillLiterals(literals, static_cast<std::uint32_t>(literalRegisters));
  if (SUCCEEDED(hr) && versionToken == kTextureShaderVersionToken) hr = PlaceTextureShaderRegisters();
  if (SUCCEEDED(hr)) hr = BuildInstructions();
  if (FAILED(hr)) return hr;

  tokens.Clear();
  validatedCount = insertedDwords = 0;
  hr = AppendToken(versionToken);
  if (SUCCEEDED(hr)) hr = WriteConstantTable();
  // Inserted after the version token like the constant table, so it comes first.
  if (SUCCEEDED(hr) && versionToken == kPreshaderVersionToken) hr = WriteRegisterMap(spans, used);
  if (SUCCEEDED(hr)) hr = WriteLiteralBlock(literals);
  if (SUCCEEDED(hr)) hr = WriteCodeBlock();
  if (SUCCEEDED(hr)) hr = AppendToken(kEndToken);
  return hr;
}

HRESULT ExpressionTarget::FillLiterals(std::vector<double>& literals, std::uint32_t count) {
  std::vector<std::uint8_t> placed(std::size_t{count} * 4, 0);
  for (std::uint32_t i = 0; i < values.Count(); ++i) {
    const IrValue* v = Value(i);
    const RegisterBank* bank = v ? BankOf(*v) : nullptr;
    if (!bank || OperandKindOf(bank->type) != kOperandLiteral || v->relativeIndex != kNoIndex || v->reg == kNoIndex ||
        v->component > 3)
      continue;
    const std::size_t at = std::size_t{v->reg} * 4 + v->component;
    // Two literal banks may not claim one element with different numbers.
    if (placed[at] && literals[at] != v->rangeLow && !(literals[at] != literals[at] && v->rangeLow != v->rangeLow)) {
      GXL_SHADER_REPORT(*this, nullptr, msg::kInternalComponentOutOfRange);
      return E_FAIL;
    }
    literals[at] = v->rangeLow;
    placed[at] = 1;
  }
  return S_OK;
}

// The texture fill hands position in v0 and texel size in v1 and reads o0 only.
HRESULT ExpressionTarget::PlaceTextureShaderRegisters() {
  bool tooManyInputs = false, tooManyOutputs = false;
  for (std::uint32_t i = 0; i < values.Count(); ++i) {
    IrValue* v = Value(i);
    const RegisterBank* bank = v ? BankOf(*v) : nullptr;
    if (!bank) continue;
    if (IsVaryingInput(bank->type) && !(bank->type & kBankAddress)) {
      if (v->reg != kNoIndex && v->reg > 1 && !tooManyInputs) {
        GXL_SHADER_REPORT(*this, v->semantic, msg::kTooManyTxArguments);
        tooManyInputs = true;
      }
      if (v->registerKey != kNoIndex && (v->registerKey & 0xFF) == kTxUsagePosition) v->reg = 0;
      if (v->registerKey != kNoIndex && (v->registerKey & 0xFF) == kTxUsagePointSize) v->reg = 1;
    } else if (v->bank == StandardBankIndex(StandardBank::Outputs) && v->reg != kNoIndex && v->reg > 0 &&
               !tooManyOutputs) {
      GXL_SHADER_REPORT(*this, v->semantic, msg::kTooManyTxOutputs);
      tooManyOutputs = true;
    }
  }
  return tooManyInputs || tooManyOutputs ? E_FAIL : S_OK;
}

}  // namespace gxl::shader

// Input and output semantics of the 1.x models and the checks of what a
// finished program writes: semantic names become 1.x semantic words (kind |
// index << 8), the w of TEXCOORD1-3 becomes the eye vector of bank "spec",
// and COLOR0 must be written whole.
#include <strings.h>

#include <cctype>
#include <cstring>

#include "gxl/shader/backend/targets/ps1/ps1_target.h"
#include "gxl/shader/core/syntax_tree.h"

namespace gxl::shader {

namespace {

constexpr std::uint32_t kSpecBankType = 81;
constexpr std::uint32_t kColorInputFlags = 0x114;

const char* SemanticNameOf(const IrValue& v) {
  if (!v.semantic) return nullptr;
  const SourceToken& t = v.semantic->token;
  return (t.kind == kTokenIdentifier || t.kind == kTokenString) ? t.value.text : nullptr;
}

// The name split into its letters and trailing decimal index; false when
// the digits are followed by anything else or do not fit.
bool SplitSemantic(const char* text, char* letters, std::size_t size, std::uint32_t* index) {
  std::strncpy(letters, text, size - 1);
  letters[size - 1] = '\0';
  char* digits = letters;
  while (std::isalpha(static_cast<unsigned char>(*digits))) ++digits;
  std::uint64_t n = 0;
  for (const char* c = digits; *c; ++c) {
    if (*c < '0' || *c > '9') return false;
    n = n * 10 + static_cast<std::uint64_t>(*c - '0');
    if (n > 0xFFFFFFu) return false;
  }
  *digits = '\0';
  *index = static_cast<std::uint32_t>(n);
  return true;
}

}  // namespace

HRESULT PixelShader1Target::CheckSemantics(std::uint32_t value, std::uint32_t mode) {
  IrValue& v = *Value(value);
  const char* name = SemanticNameOf(v);
  if (!name) return S_OK;
  const bool output = (BankOf(v)->type & kBankOutput) != 0;
  const char* direction = ValueDirectionText(value);
  const bool reportHere = mode == 0 || v.component == 0;
  char letters[32];
  std::uint32_t index = 0;
  const bool wellFormed = SplitSemantic(name, letters, sizeof letters, &index);
  index += v.variableOffset / 4;

  // Step 3 first: a VOID semantic set by an earlier call stays invalid once
  // the program reads it; an unread one (a vertex POSITION passed along) is
  // no reference.
  if (v.registerKey != kNoIndex && Ps1KindOf(v.registerKey) == kPs1Void) {
    if (v.useCount == 0 && v.firstUse == kNoIndex) return S_OK;
    if (diagnosticsIssued) return E_FAIL;
    diagnosticsIssued = true;
    GXL_SHADER_REPORT(*this, v.semantic, msg::kInvalidSemanticReference, direction, name);
    return E_FAIL;
  }

  std::uint32_t kind = kPs1Unknown;
  bool invalid = !wellFormed, texcoordRange = false;
  if (!output) {
    const std::uint32_t colorLimit = mode ? 2 : profileLimits.inputs;
    const std::uint32_t texcoordLimit = mode ? 8 : TexcoordLimit();
    if (wellFormed && strcasecmp(letters, "color") == 0) {
      kind = kPs1Color;
      invalid = index >= colorLimit;
    } else if (wellFormed && strcasecmp(letters, "texcoord") == 0) {
      kind = kPs1Texcoord;
      texcoordRange = index >= texcoordLimit;
    } else if (wellFormed && (strcasecmp(letters, "position") == 0 || strcasecmp(letters, "fog") == 0 ||
                              strcasecmp(letters, "psize") == 0)) {
      kind = kPs1Void;
    } else if (wellFormed && (strcasecmp(letters, "diffuse") == 0 || strcasecmp(letters, "specular") == 0)) {
      kind = kPs1Color;
      const bool specular = strcasecmp(letters, "specular") == 0;
      index = specular ? 1 : 0;
      // Checked once while lowering and again when compiling: warned once.
      if (reportHere && !NoteDeprecationReported(v.semantic))
        GXL_SHADER_REPORT(*this, v.semantic, msg::kSemanticDeprecated, direction, name, "COLOR",
                          static_cast<int>(index));
    } else {
      invalid = true;
    }
    if (invalid && reportHere) GXL_SHADER_REPORT(*this, v.semantic, msg::kInvalidSemantic, direction, name);
    if (invalid && !diagnosticsIssued) {
      diagnosticsIssued = true;
      GXL_SHADER_REPORT(*this, v.semantic, msg::kInvalidSemanticReference, direction, name);
    }
  } else {
    if (wellFormed && strcasecmp(letters, "color") == 0) {
      kind = kPs1Color;
      invalid = index >= profileLimits.word8;
    } else if (wellFormed && strcasecmp(letters, "depth") == 0) {
      kind = kPs1Void;
      invalid = true;
    } else {
      invalid = true;
    }
    if (invalid && reportHere) {
      GXL_SHADER_REPORT(*this, v.semantic, msg::kInvalidSemantic, direction, name);
      // The lowering's own check already ends the compile: say why there.
      if (kind == kPs1Void) GXL_SHADER_REPORT(*this, v.semantic, msg::kSemanticNotInPs1x, direction, name);
    }
  }

  // The second call finds the eye component marked by the first (the
  // second phase may have merged bank "spec" into the inputs meanwhile).
  const bool eye = v.registerKey != kNoIndex && Ps1KindOf(v.registerKey) == kPs1Special;
  if (!output && kind == kPs1Texcoord && !Is14() && (eye || (v.component == 3 && index >= 1 && index <= 3))) {
    if (specBank == kNoIndex) {
      specBank = AddRegisterBank("spec", kSpecBankType, 1, 4);
      if (specBank == kNoIndex) return E_OUTOFMEMORY;
    }
    v.bank = specBank;
    v.reg = 0;
    v.component = index - 1;
    kind = kPs1Special;
  }
  if (texcoordRange) {
    invalid = true;
    if (!diagnosticsIssued && reportHere) {
      diagnosticsIssued = true;
      GXL_SHADER_REPORT(*this, v.semantic, msg::kTexcoordOutOfRange, static_cast<int>(TexcoordLimit()));
    }
  }
  if (!output && kind == kPs1Color) {
    v.flags |= kColorInputFlags;
    v.rangeLow = 0.0;
    v.rangeHigh = 1.0;
  }
  v.registerKey = Ps1SemanticWord(kind, index);
  return invalid || kind == kPs1Unknown || index > 0xFFFF ? E_FAIL : S_OK;
}

HRESULT PixelShader1Target::CheckOutputWrites() {
  bool colorWritten[4] = {};
  bool depthReported = false;
  for (std::uint32_t i = 0; i < values.Count(); ++i) {
    const IrValue* v = Value(i);
    const RegisterBank* bank = v ? BankOf(*v) : nullptr;
    if (!bank) continue;
    if (v->relativeIndex != kNoIndex) {
      GXL_SHADER_REPORT(*this, v->declaration, msg::kRelativeInPs1x);
      return E_FAIL;
    }
    const std::uint32_t word = SemanticOf(i);
    if (word == kNoIndex || v->component > 3) continue;
    const std::uint32_t kind = Ps1KindOf(word), index = Ps1IndexOf(word);
    if (bank->type & kBankOutput) {
      if (kind == kPs1Color && index == 0) colorWritten[v->component] = true;
      if (kind == kPs1Depth && v->component != 0 && !depthReported) {
        depthReported = true;
        GXL_SHADER_REPORT(*this, v->semantic, msg::kDepthNotScalar);
      }
      continue;
    }
    std::uint32_t* read = kind == kPs1Color && index < 2       ? &colorComponentsRead[index]
                          : kind == kPs1Texcoord && index <= 7 ? &texcoordComponentsRead[index]
                                                               : nullptr;
    if (read && *read < v->component + 1) *read = v->component + 1;
  }
  if (!(colorWritten[0] && colorWritten[1] && colorWritten[2] && colorWritten[3])) {
    GXL_SHADER_REPORT(*this, nullptr, msg::kColor0Incomplete);
    return E_FAIL;
  }
  return errorFlag ? E_FAIL : S_OK;
}

}  // namespace gxl::shader

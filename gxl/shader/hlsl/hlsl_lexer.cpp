// The HLSL lexer: preprocessed tokens become the grammar's terminals. Numbers,
// strings and punctuators arrive already cut; what is left is folding the
// two-character operators, recognising keywords, and telling type names from
// other identifiers by asking the scopes, so the grammar needs no feedback of
// its own.
#include <strings.h>

#include <algorithm>
#include <cstring>

#include "gxl/shader/hlsl/hlsl_parser.h"
#include "gxl/shader/preprocessor/shader_preprocessor.h"
#include "hlsl_grammar.h"

static_assert(kHlslDoubleConst - kHlslIntConst == kTokenFloatL - kTokenInt);

namespace gxl::shader {
namespace {

struct Keyword {
  const char* text;
  int terminal;
  bool objectKeyword;  // a keyword only while the object-keyword flag is set
};

// Sorted by byte order; compared case-sensitively. Reserved words give
// kHlslReserved, which no rule accepts.
constexpr Keyword kKeywords[] = {
    {"asm", kHlslAsm, false},
    {"asm_fragment", kHlslAsmFragment, false},
    {"auto", kHlslReserved, false},
    {"bool", kHlslBool, false},
    {"break", kHlslReserved, false},
    {"case", kHlslReserved, false},
    {"catch", kHlslReserved, false},
    {"char", kHlslReserved, false},
    {"class", kHlslReserved, false},
    {"column_major", kHlslColumnMajor, false},
    {"compile", kHlslCompile, false},
    {"compile_fragment", kHlslCompileFragment, false},
    {"const", kHlslConst, false},
    {"const_cast", kHlslReserved, false},
    {"continue", kHlslReserved, false},
    {"decl", kHlslDecl, false},
    {"default", kHlslReserved, false},
    {"delete", kHlslReserved, false},
    {"discard", kHlslDiscard, false},
    {"do", kHlslDo, false},
    {"double", kHlslDouble, false},
    {"dynamic_cast", kHlslReserved, false},
    {"else", kHlslElse, false},
    {"enum", kHlslReserved, false},
    {"explicit", kHlslReserved, false},
    {"extern", kHlslExtern, false},
    {"false", kHlslFalse, false},
    {"float", kHlslFloat, false},
    {"for", kHlslFor, false},
    {"friend", kHlslReserved, false},
    {"goto", kHlslReserved, false},
    {"half", kHlslHalf, false},
    {"if", kHlslIf, false},
    {"in", kHlslIn, false},
    {"inline", kHlslInline, false},
    {"inout", kHlslInout, false},
    {"int", kHlslInt, false},
    {"long", kHlslReserved, false},
    {"matrix", kHlslMatrix, false},
    {"mutable", kHlslReserved, false},
    {"namespace", kHlslReserved, false},
    {"new", kHlslReserved, false},
    {"operator", kHlslReserved, false},
    {"out", kHlslOut, false},
    {"pass", kHlslPass, false},
    {"pixelfragment", kHlslPixelFragment, false},
    {"pixelshader", kHlslPixelShader, true},
    {"private", kHlslReserved, false},
    {"protected", kHlslReserved, false},
    {"public", kHlslReserved, false},
    {"register", kHlslRegister, false},
    {"reinterpret_cast", kHlslReserved, false},
    {"return", kHlslReturn, false},
    {"row_major", kHlslRowMajor, false},
    {"sampler", kHlslSampler, true},
    {"sampler1D", kHlslSampler1D, false},
    {"sampler2D", kHlslSampler2D, false},
    {"sampler3D", kHlslSampler3D, false},
    {"samplerCUBE", kHlslSamplerCube, false},
    {"sampler_state", kHlslSamplerState, false},
    {"shared", kHlslShared, false},
    {"short", kHlslReserved, false},
    {"signed", kHlslReserved, false},
    {"sizeof", kHlslReserved, false},
    {"stateblock", kHlslStateBlock, true},
    {"stateblock_state", kHlslStateBlockState, false},
    {"static", kHlslStatic, false},
    {"static_cast", kHlslReserved, false},
    {"string", kHlslString, false},
    {"struct", kHlslStruct, false},
    {"switch", kHlslReserved, false},
    {"technique", kHlslTechnique, false},
    {"template", kHlslReserved, false},
    {"texture", kHlslTexture, true},
    {"texture1D", kHlslTexture1D, false},
    {"texture2D", kHlslTexture2D, false},
    {"texture3D", kHlslTexture3D, false},
    {"textureCUBE", kHlslTextureCube, false},
    {"this", kHlslReserved, false},
    {"throw", kHlslReserved, false},
    {"true", kHlslTrue, false},
    {"try", kHlslReserved, false},
    {"typedef", kHlslTypedef, false},
    {"typename", kHlslReserved, false},
    {"uniform", kHlslUniform, false},
    {"union", kHlslReserved, false},
    {"unsigned", kHlslReserved, false},
    {"using", kHlslReserved, false},
    {"vector", kHlslVector, false},
    {"vertexfragment", kHlslVertexFragment, false},
    {"vertexshader", kHlslVertexShader, true},
    {"virtual", kHlslReserved, false},
    {"void", kHlslVoid, false},
    {"volatile", kHlslVolatile, false},
    {"while", kHlslWhile, false},
};

// Keywords in any case spelling.
constexpr Keyword kAnyCaseKeywords[] = {
    {"asm", kHlslAsm, false},
    {"decl", kHlslDecl, false},
    {"pass", kHlslPass, false},
    {"technique", kHlslTechnique, false},
};

// The two-character operators; every other pair is reserved.
struct Operator {
  char first, second;
  int terminal;
};
constexpr Operator kOperators[] = {
    {'<', '=', kHlslLe},        {'>', '=', kHlslGe},        {'=', '=', kHlslEq},        {'!', '=', kHlslNe},
    {'*', '=', kHlslMulAssign}, {'/', '=', kHlslDivAssign}, {'%', '=', kHlslModAssign}, {'+', '=', kHlslAddAssign},
    {'-', '=', kHlslSubAssign}, {'&', '&', kHlslAndAnd},    {'|', '|', kHlslOrOr},      {'+', '+', kHlslInc},
    {'-', '-', kHlslDec},
};

int PunctuatorTerminal(const char* p) {
  if (p[1] == '\0') return static_cast<unsigned char>(p[0]);
  if (p[2] != '\0') return kHlslReserved;  // "<<=", ">>=", ...
  for (const Operator& o : kOperators)
    if (o.first == p[0] && o.second == p[1]) return o.terminal;
  return kHlslReserved;  // "<<", "->", "::", "&=", ...
}

}  // namespace

int HlslParser::IdentifierTerminal(const char* text) {
  const Keyword* end = std::end(kKeywords);
  const Keyword* k = std::lower_bound(std::begin(kKeywords), end, text,
                                      [](const Keyword& a, const char* b) { return std::strcmp(a.text, b) < 0; });
  if (k != end && std::strcmp(k->text, text) == 0 && (!k->objectKeyword || m_objectKeywords)) return k->terminal;
  for (const Keyword& any : kAnyCaseKeywords)
    if (strcasecmp(any.text, text) == 0) return any.terminal;
  // A name denotes a type when the scopes (or the built-in names) say so.
  const TokenNode name(m_token);
  return LookupName(kDeclType, &name, nullptr, 0, m_scope, 0, nullptr, nullptr) == S_OK ? kHlslTypeName
                                                                                        : kHlslIdentifier;
}

int HlslParser::NextToken() {
  for (;;) {
    if (!m_preprocessor || FAILED(m_preprocessor->NextToken(&m_token))) {
      m_error = true;  // the preprocessor has said why; no syntax error follows
      return -1;
    }
    const std::uint32_t kind = m_token.kind;
    // The numbers, without suffix to "l", are 327-333 in the order of their kinds.
    if (kind >= kTokenInt && kind <= kTokenFloatL) return kHlslIntConst + static_cast<int>(kind - kTokenInt);
    switch (kind) {
      case kTokenVersion:
        return kHlslReserved;
      case kTokenPunctuator:
        return PunctuatorTerminal(m_token.value.punctuator);
      case kTokenIdentifier:
        return IdentifierTerminal(m_token.value.text);
      case kTokenString:
        return kHlslStringConst;
      case kTokenEndOfInput:
        return -1;
      default:
        break;  // header names, line ends and anything newer are skipped
    }
  }
}

}  // namespace gxl::shader

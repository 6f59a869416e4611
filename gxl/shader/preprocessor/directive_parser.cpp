// The directive grammar's token function, error function and actions, and
// the conditional directives.
#include "gxl/shader/preprocessor/directive_parser.h"

#include <cstring>

#include "directive_grammar.h"
#include "gxl/shader/core/messages.h"
#include "gxl/shader/preprocessor/shader_preprocessor.h"

namespace gxl::shader {

namespace {

bool Is(const char* name, const char* word) { return std::strcmp(name, word) == 0; }

int PunctuatorCode(const SourceToken& t) {
  const char* p = t.value.punctuator;
  if (p[1] == '\0') return p[0] ? static_cast<int>(static_cast<unsigned char>(p[0])) : static_cast<int>(kDirectiveOther);
  if (p[2] != '\0') return kDirectiveOther;
  if (p[1] == '=') {
    switch (p[0]) {
      case '<': return kDirectiveLessEqual;
      case '>': return kDirectiveGreaterEqual;
      case '=': return kDirectiveEqual;
      case '!': return kDirectiveNotEqual;
      default: return kDirectiveOther;
    }
  }
  if (p[0] == '&' && p[1] == '&') return kDirectiveAnd;
  if (p[0] == '|' && p[1] == '|') return kDirectiveOr;
  return kDirectiveOther;
}

struct Keyword {
  const char* word;
  int code;
};
constexpr Keyword kKeywords[] = {
    {"define", kDirectiveDefine}, {"undef", kDirectiveUndef}, {"line", kDirectiveLine},
    {"include", kDirectiveInclude}, {"error", kDirectiveError}, {"if", kDirectiveIf},
    {"ifdef", kDirectiveIfdef}, {"ifndef", kDirectiveIfndef}, {"elif", kDirectiveElif},
    {"else", kDirectiveElse}, {"endif", kDirectiveEndif}, {"pragma", kDirectivePragma},
};

}  // namespace

int ShaderPreprocessor::ParseIfExpression() { return DirectiveGrammar::Parse(this); }

bool DirectiveGrammar::Failed(const ShaderPreprocessor* pp) { return pp->m_directiveError; }

// The grammar token of the next token of the line. Inside an inactive region
// only the conditional keywords count, and an #elif is evaluated only when
// its #if can still take a branch.
int DirectiveGrammar::Lex(ShaderPreprocessor* pp, DirectiveValue* value) {
  if (pp->m_atLineStart || pp->m_stopped) return 0;
  SourceToken emptied{};  // a macro in an expression that expanded to nothing
  bool expandedToNothing = false;
  for (;;) {
    SourceToken& t = pp->m_token;
    if (FAILED(pp->ReadToken(pp->m_mode | kLexFileName, &t))) return 0;
    *value = DirectiveValue{t.value.number, t.line, t.value.text};
    switch (t.kind) {
      case kTokenEndOfLine:
      case kTokenEndOfInput:
        pp->m_atLineStart = true;
        if (!expandedToNothing) return 0;
        GXL_SHADER_REPORT(pp->m_log, &emptied, msg::kInvalidIntegerExpression);
        pp->m_directiveError = pp->m_stopped = true;
        *value = DirectiveValue{0, emptied.line, emptied.value.text};
        return kDirectiveIdentifier;
      case kTokenPunctuator:
        return PunctuatorCode(t);
      case kTokenVersion:
      case kTokenInt:
      case kTokenIntL:
      case kTokenIntU:
        return kDirectiveNumber;
      case kTokenString:
        return kDirectiveString;
      case kTokenIdentifier:
        break;
      default:
        return kDirectiveOther;
    }
    expandedToNothing = false;
    const char* name = t.value.text;
    if (pp->m_expectKeyword) {
      pp->m_expectKeyword = false;
      pp->m_inExpression = false;
      if (pp->m_active) {
        for (const Keyword& k : kKeywords) {
          if (!Is(name, k.word)) continue;
          pp->m_inExpression = k.code == kDirectiveIf || k.code == kDirectiveElif;
          return k.code;
        }
      } else if (Is(name, "if") || Is(name, "ifdef") || Is(name, "ifndef")) {
        return kDirectiveInactiveIf;
      } else if (Is(name, "else")) {
        return kDirectiveElse;
      } else if (Is(name, "endif")) {
        return kDirectiveEndif;
      } else if (Is(name, "elif")) {
        const ConditionalRecord* open = pp->m_currentSource->conditionals;
        if (open && (!open->enclosingActive || open->taken)) return kDirectiveInactiveElif;
        // No #if at all (reported as such), or the first branch that may be taken.
        pp->m_active = true;
        pp->m_inExpression = true;
        return kDirectiveElif;
      }
      pp->m_expectKeyword = true;
      return kDirectiveIdentifier;
    }
    if (Is(name, "defined")) {
      pp->m_inExpression = false;  // its operand is a name, not an expansion
      return kDirectiveDefined;
    }
    if (!pp->m_inExpression) return kDirectiveIdentifier;
    const MacroDefinition* macro = pp->FindMacro(t);
    if (!macro) return kDirectiveIdentifier;
    const SourceToken nameToken = t;
    if (!pp->ExpandMacro(nameToken, *macro) || pp->m_directiveError) {
      GXL_SHADER_REPORT(pp->m_log, &nameToken, msg::kInvalidIntegerExpression);
      pp->m_directiveError = pp->m_stopped = true;
      return kDirectiveIdentifier;
    }
    if (pp->m_queue.Empty()) {
      emptied = nameToken;
      expandedToNothing = true;
    }
  }
}

void DirectiveGrammar::Error(ShaderPreprocessor* pp, const char* text) {
  pp->m_directiveError = true;
  if (!pp->m_active) return;
  if (Is(text, "syntax error")) {
    pp->SyntaxError();
  } else if (Is(text, "memory exhausted")) {
    GXL_SHADER_REPORT(pp->m_log, &pp->m_token, msg::kParserStackOverflow);
  } else {
    GXL_SHADER_REPORT(pp->m_log, &pp->m_token, msg::kPlainText, text);
  }
}

// A syntax error at the current token: an unknown word where the directive's
// keyword belongs, or an unexpected token.
void ShaderPreprocessor::SyntaxError() {
  m_directiveError = true;
  if (m_expectKeyword && m_token.kind == kTokenIdentifier) {
    GXL_SHADER_REPORT(m_log, &m_token, msg::kInvalidPreprocessorCommand, m_token.value.text);
  } else {
    m_log.DescribeToken(msg::kPreprocessorSyntaxError.code, m_token);
  }
}

void DirectiveGrammar::Define(ShaderPreprocessor* pp, const DirectiveValue& name) {
  const HRESULT hr = pp->ParseDefine(name.text, std::strlen(name.text), true);
  if (hr == E_OUTOFMEMORY) GXL_SHADER_REPORT(pp->m_log, &pp->m_token, msg::kInternalOutOfMemory);
  if (FAILED(hr)) pp->m_directiveError = true;
}

void DirectiveGrammar::Undef(ShaderPreprocessor* pp, const DirectiveValue& name) {
  pp->Undefine(name.text, std::strlen(name.text));
}

void DirectiveGrammar::Line(ShaderPreprocessor* pp, const DirectiveValue& number, const DirectiveValue* fileName) {
  pp->Line(number.number, fileName ? fileName->text : nullptr);
}

void DirectiveGrammar::Include(ShaderPreprocessor* pp) { pp->Include(); }
void DirectiveGrammar::ErrorDirective(ShaderPreprocessor* pp) { pp->ErrorDirective(); }
void DirectiveGrammar::If(ShaderPreprocessor* pp, bool value) { pp->PushConditional(value); }
void DirectiveGrammar::Elif(ShaderPreprocessor* pp, bool value) { pp->Elif(value); }
void DirectiveGrammar::Else(ShaderPreprocessor* pp) { pp->Else(); }
void DirectiveGrammar::Endif(ShaderPreprocessor* pp) { pp->Endif(); }
void DirectiveGrammar::Pragma(ShaderPreprocessor* pp) { pp->Pragma(); }

void DirectiveGrammar::InactiveIf(ShaderPreprocessor* pp) {
  pp->PushConditional(true);
  pp->SkipRestOfLine();
}

void DirectiveGrammar::InactiveElif(ShaderPreprocessor* pp) {
  pp->Elif(true);
  pp->SkipRestOfLine();
}

bool DirectiveGrammar::IsMacro(ShaderPreprocessor* pp, const DirectiveValue& name) {
  return pp->m_macros.FindExpandable(name.text, std::strlen(name.text)) != nullptr;
}

// A name left in an expression: not a macro (0), __LINE__, or a macro that
// could not be expanded.
std::uint32_t DirectiveGrammar::IdentifierValue(ShaderPreprocessor* pp, const DirectiveValue& name) {
  if (pp->m_directiveError) return 0;
  if (Is(name.text, "__LINE__")) return name.line;
  const MacroDefinition* macro = pp->m_macros.FindExpandable(name.text, std::strlen(name.text));
  if (!macro) return 0;
  if (macro->paramCount) {
    GXL_SHADER_REPORT(pp->m_log, &pp->m_token, msg::kFunctionMacroInExpression);
    pp->m_directiveError = true;
    return 1;
  }
  if (macro->bodyCount == 1 && IsIntegerToken(macro->body[0]))
    return macro->body[0].value.number;
  GXL_SHADER_REPORT(pp->m_log, &pp->m_token, msg::kInvalidIntegerExpression);
  pp->m_directiveError = true;
  return 0;
}

std::uint32_t DirectiveGrammar::DefinedValue(ShaderPreprocessor* pp, const DirectiveValue& name) {
  pp->m_inExpression = true;
  return !pp->m_directiveError && IsMacro(pp, name) ? 1 : 0;
}

std::uint32_t DirectiveGrammar::Divide(ShaderPreprocessor* pp, std::uint32_t a, std::uint32_t b) {
  if (b != 0) return a / b;
  if (!pp->m_directiveError) GXL_SHADER_REPORT(pp->m_log, &pp->m_token, msg::kDirectiveDivisionByZero);
  pp->m_directiveError = true;
  return 0;
}

// Conditional directives work on the innermost source's stack of open #ifs.

void ShaderPreprocessor::PushConditional(bool value) {
  ConditionalRecord* record = m_freeConditionals;
  if (record) {
    m_freeConditionals = record->below;
  } else {
    record = static_cast<ConditionalRecord*>(m_pool.Allocate(sizeof(ConditionalRecord), alignof(ConditionalRecord)));
    if (!record) {
      GXL_SHADER_REPORT(m_log, &m_token, msg::kInternalOutOfMemory);
      m_directiveError = true;
      return;
    }
  }
  *record = ConditionalRecord{value, m_active, false, m_currentSource->conditionals};
  m_currentSource->conditionals = record;
  m_pendingActive = m_active && value;
}

// The innermost #if of the source, or null once it is reported that there
// is none (or, for #elif and #else, that its #else has been seen).
ConditionalRecord* ShaderPreprocessor::InnermostConditional(const Message& none, const Message* afterElse) {
  ConditionalRecord* record = m_currentSource->conditionals;
  const Message* error = !record ? &none : afterElse && record->elseSeen ? afterElse : nullptr;
  if (!error) return record;
  m_log.Report(&m_token, error->severity, error->code, "%s", error->format);
  m_directiveError = true;
  return nullptr;
}

void ShaderPreprocessor::Elif(bool value) {
  ConditionalRecord* record = InnermostConditional(msg::kUnexpectedElif, &msg::kElifAfterElse);
  if (!record) return;
  m_pendingActive = value && !record->taken && record->enclosingActive;
  if (value) record->taken = true;
}

void ShaderPreprocessor::Else() {
  ConditionalRecord* record = InnermostConditional(msg::kUnexpectedElse, &msg::kElseAfterElse);
  if (!record) return;
  m_pendingActive = !record->taken && record->enclosingActive;
  record->taken = record->elseSeen = true;
}

void ShaderPreprocessor::Endif() {
  ConditionalRecord* record = InnermostConditional(msg::kUnexpectedEndif, nullptr);
  if (!record) return;
  m_pendingActive = record->enclosingActive;
  m_currentSource->conditionals = record->below;
  record->below = m_freeConditionals;
  m_freeConditionals = record;
}

}  // namespace gxl::shader

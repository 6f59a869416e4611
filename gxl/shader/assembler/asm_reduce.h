// The glue between the assembly grammar (asm_grammar.y, made into a parser by
// bison) and the assembler: the token function, the error function and the
// actions of the grammar's rules, with the checks each rule makes. Values of
// the grammar are syntax-tree nodes from the run's pool.
#pragma once

#include <cstdint>
#include <initializer_list>

#include "gxl/shader/core/message_log.h"
#include "gxl/shader/core/syntax_tree.h"

// Reports a catalogue entry at a position (a SourceToken) through the
// assembler's log; an error makes the run fail.
#define GXL_ASM_REPORT(as, position, entry, ...) \
  ((as)->NoteReport(entry), GXL_SHADER_REPORT(*(as)->m_log, &(position), entry __VA_OPT__(, ) __VA_ARGS__))

namespace gxl::shader {

class ShaderAssembler;

struct AsmGrammar {
  // 0 when the text was accepted (errors may have been reported and
  // recovered from), 1 when the parse stopped.
  static int Parse(ShaderAssembler* as);
  static int Lex(ShaderAssembler* as, ParseNode** value);
  static void Error(ShaderAssembler* as, const char* text);
  static bool Aborted(const ShaderAssembler* as);
  // The node a rule made, or null after reporting that it could not be made.
  static ParseNode* Made(ShaderAssembler* as, ParseNode* node);

  static void Program(ShaderAssembler* as, ParseNode* lines);
  // Puts the line's instruction, when it has one, in front of the others.
  static ParseNode* Lines(ParseNode* lines, ParseNode* line);
  static void EntryPoint(ShaderAssembler* as, ParseNode* name);
  // Encodes the instruction; null when it was refused.
  static ParseNode* Statement(ShaderAssembler* as, ParseNode* instruction, bool coissue);
  static ParseNode* Predicated(ShaderAssembler* as, ParseNode* predicate, ParseNode* body);
  static ParseNode* Body(ParseNode* instruction, ParseNode* destination, std::initializer_list<ParseNode*> sources);

  static ParseNode* WriteMask(ShaderAssembler* as, ParseNode* reg, ParseNode* name);
  static ParseNode* Swizzle(ShaderAssembler* as, ParseNode* reg, ParseNode* name);
  static ParseNode* Not(ShaderAssembler* as, ParseNode* src);
  static ParseNode* Negate(ShaderAssembler* as, ParseNode* src);
  static ParseNode* Complement(ShaderAssembler* as, ParseNode* one, ParseNode* src);
  static ParseNode* Register(ShaderAssembler* as, ParseNode* name, ParseNode* relative);
  static ParseNode* Sum(ShaderAssembler* as, ParseNode* left, ParseNode* right);
  static ParseNode* AddressTerm(ShaderAssembler* as, ParseNode* reg);
  static ParseNode* OffsetTerm(ShaderAssembler* as, ParseNode* number);

  // Literal nodes (the lexer's TokenNodes, rewritten in place).
  static ParseNode* Boolean(ParseNode* literal, std::uint32_t value);
  static ParseNode* NegateInteger(ParseNode* literal);
  static ParseNode* FloatLiteral(ParseNode* literal, bool negate);
};

}  // namespace gxl::shader

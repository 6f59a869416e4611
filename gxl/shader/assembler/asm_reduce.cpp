// The assembly grammar's token function, error function and actions.
#include "gxl/shader/assembler/asm_reduce.h"

#include <cstring>

#include "asm_grammar.h"
#include "gxl/shader/core/message_log.h"
#include "gxl/shader/core/messages.h"
#include "gxl/shader/assembler/shader_assembler.h"

namespace gxl::shader {

namespace {

AsmOperandNode* Operand(ParseNode* node) { return static_cast<AsmOperandNode*>(node); }
TokenNode* Literal(ParseNode* node) { return static_cast<TokenNode*>(node); }

int ClassToken(AsmClass c) {
  switch (c) {
    case AsmClass::None: return kAsmName;
    case AsmClass::Op0: return kAsmInstr0;
    case AsmClass::Op1: return kAsmInstr1;
    case AsmClass::Op2: return kAsmInstr2;
    case AsmClass::Op3: return kAsmInstr3;
    case AsmClass::Op4: return kAsmInstr4;
    case AsmClass::Op5: return kAsmInstr5;
    case AsmClass::Def: return kAsmDef;
    case AsmClass::Defi: return kAsmDefi;
    case AsmClass::Defb: return kAsmDefb;
    case AsmClass::Flow1: return kAsmFlow1;
    case AsmClass::Flow2: return kAsmFlow2;
  }
  return kAsmBad;
}

bool ProfileIn(std::int32_t p, std::int32_t first, std::int32_t last) { return p >= first && p <= last; }

}  // namespace

bool AsmGrammar::Aborted(const ShaderAssembler* as) { return as->m_abortFlag; }

int AsmGrammar::Lex(ShaderAssembler* as, ParseNode** value) {
  *value = nullptr;
  if (!as->ReadToken()) return 0;
  const SourceToken& t = as->m_token;
  int code = kAsmBad;
  switch (t.kind) {
    case kTokenEndOfInput: return 0;
    case kTokenPunctuator:
      return t.value.punctuator[1] == '\0' ? static_cast<int>(static_cast<unsigned char>(t.value.punctuator[0]))
                                           : int{kAsmBad};
    case kTokenInt:
    case kTokenIntL:
    case kTokenIntU: code = kAsmInt; break;
    case kTokenFloat:
    case kTokenFloatH:
    case kTokenFloatF:
    case kTokenFloatL: code = kAsmFloat; break;
    case kTokenIdentifier: {
      const char* text = t.value.text;
      if (std::strcmp(text, "entrypoint") == 0) return kAsmEntryPoint;
      if (std::strcmp(text, "true") == 0) {
        code = kAsmTrue;
      } else if (std::strcmp(text, "false") == 0) {
        code = kAsmFalse;
      } else if (as->m_profileIndex < 0) {
        code = kAsmName;
      } else {
        code = ClassToken(as->ClassifyName(text));
        if (code != kAsmName) {
          *value = new AsmInstructionNode(t, as->m_pendingOpcode, as->m_pendingResultModifiers, as->m_pendingControl);
          break;
        }
      }
      break;
    }
    default: return kAsmBad;
  }
  if (!*value) *value = new TokenNode(t);
  if (!*value) {
    GXL_SHADER_REPORT(*as->m_log, &t, msg::kInternalOutOfMemory);
    as->m_errorFlag = as->m_abortFlag = true;
    return 0;
  }
  return code;
}

void AsmGrammar::Error(ShaderAssembler* as, const char* text) {
  as->m_errorFlag = true;
  const SourceToken& t = as->m_token;
  if (std::strcmp(text, "syntax error") == 0) {
    as->m_log->DescribeToken(msg::kAsmSyntaxError.code, t);
    if (t.kind != kTokenIdentifier) return;
    if (as->m_pendingParseError == msg::kInstructionNotInVersion.code)
      GXL_SHADER_REPORT(*as->m_log, &t, msg::kInstructionNotInVersion, t.value.text);
    else if (as->m_pendingParseError == msg::kInvalidInstructionModifiers.code)
      GXL_SHADER_REPORT(*as->m_log, &t, msg::kInvalidInstructionModifiers, t.value.text);
  } else if (std::strcmp(text, "memory exhausted") == 0) {
    GXL_SHADER_REPORT(*as->m_log, &t, msg::kParserStackOverflow);
  } else {
    GXL_SHADER_REPORT(*as->m_log, &t, msg::kPlainText, text);
  }
}

// A rule that makes a node and got none (the pool is exhausted): reported
// unless the run has already failed, and the parse stops.
ParseNode* AsmGrammar::Made(ShaderAssembler* as, ParseNode* node) {
  if (node) return node;
  if (!as->m_errorFlag) GXL_ASM_REPORT(as, as->m_token, msg::kInternalProductionFailed);
  as->m_abortFlag = true;
  return nullptr;
}

void AsmGrammar::Program(ShaderAssembler* as, ParseNode* lines) {
  as->m_instructions = static_cast<AsmInstructionNode*>(lines);
}

ParseNode* AsmGrammar::Lines(ParseNode* lines, ParseNode* line) {
  if (!line) return lines;
  line->second = lines;
  return line;
}

void AsmGrammar::EntryPoint(ShaderAssembler* as, ParseNode* name) {
  if (!as->m_entryName) as->m_entryName = Literal(name)->token.value.text;
}

ParseNode* AsmGrammar::Statement(ShaderAssembler* as, ParseNode* instruction, bool coissue) {
  auto* in = static_cast<AsmInstructionNode*>(instruction);
  if (coissue) {
    if (!ProfileIn(as->m_profileIndex, 6, 9)) {
      GXL_ASM_REPORT(as, in->token, msg::kCoissueUnsupported);
      return nullptr;
    }
    in->coissue = 1;
  }
  return SUCCEEDED(as->EmitInstruction(in)) ? in : nullptr;
}

ParseNode* AsmGrammar::Predicated(ShaderAssembler* as, ParseNode* predicate, ParseNode* body) {
  auto* in = static_cast<AsmInstructionNode*>(body);
  const std::int32_t p = as->m_profileIndex;
  if (!ProfileIn(p, 2, 5) && !ProfileIn(p, 11, 14)) GXL_ASM_REPORT(as, in->token, msg::kPredicationUnsupported);
  in->predicate = predicate;
  return in;
}

ParseNode* AsmGrammar::Body(ParseNode* instruction, ParseNode* destination, std::initializer_list<ParseNode*> sources) {
  auto* in = static_cast<AsmInstructionNode*>(instruction);
  in->destination = destination;
  int i = 0;
  for (ParseNode* source : sources) in->sources[i++] = source;
  return in;
}

// Scalar registers take neither a write mask nor a swizzle: they keep all
// four components.
ParseNode* AsmGrammar::WriteMask(ShaderAssembler* as, ParseNode* reg, ParseNode* name) {
  AsmOperandNode* op = Operand(reg);
  if (op->scalar) GXL_ASM_REPORT(as, *as->m_operandPosition, msg::kScalarMasked);
  op->writeMask = op->scalar ? kFullMask : as->ParseWriteMask(*Literal(name));
  return op;
}

ParseNode* AsmGrammar::Swizzle(ShaderAssembler* as, ParseNode* reg, ParseNode* name) {
  AsmOperandNode* op = Operand(reg);
  if (op->scalar) GXL_ASM_REPORT(as, *as->m_operandPosition, msg::kScalarSwizzled);
  op->swizzle = op->scalar ? kIdentitySwizzle : as->ParseSwizzle(*Literal(name));
  return op;
}

ParseNode* AsmGrammar::Not(ShaderAssembler* as, ParseNode* src) {
  AsmOperandNode* op = Operand(src);
  if (op->sourceModifier != kModNone)
    GXL_ASM_REPORT(as, *as->m_operandPosition, msg::kNotWithModifiers);
  else
    op->sourceModifier = kModNot;
  return op;
}

ParseNode* AsmGrammar::Negate(ShaderAssembler* as, ParseNode* src) {
  AsmOperandNode* op = Operand(src);
  switch (op->sourceModifier) {
    case kModNone: op->sourceModifier = kModNeg; break;
    case kModBias: op->sourceModifier = kModBiasNeg; break;
    case kModSign: op->sourceModifier = kModSignNeg; break;
    case kModX2: op->sourceModifier = kModX2Neg; break;
    case kModAbs: op->sourceModifier = kModAbsNeg; break;
    case kModDz:
    case kModDw: GXL_ASM_REPORT(as, *as->m_operandPosition, msg::kNegateAndDivide); break;
    default: break;
  }
  return op;
}

ParseNode* AsmGrammar::Complement(ShaderAssembler* as, ParseNode* one, ParseNode* src) {
  AsmOperandNode* op = Operand(src);
  const SourceToken& position = *as->m_operandPosition;
  if (Literal(one)->token.value.number != 1)
    GXL_ASM_REPORT(as, position, msg::kInvalidComplement);
  else if (!ProfileIn(as->m_profileIndex, 6, 9))
    GXL_ASM_REPORT(as, position, msg::kComplementUnsupported);
  else if (op->sourceModifier != kModNone)
    GXL_ASM_REPORT(as, position, msg::kComplementWithModifiers);
  else
    op->sourceModifier = kModComp;
  return op;
}

ParseNode* AsmGrammar::Register(ShaderAssembler* as, ParseNode* name, ParseNode* relative) {
  as->m_operandPosition = &Literal(name)->token;
  return Made(as, as->ResolveRegister(*Literal(name), Operand(relative)));
}

// The offsets add up (a sum that passes 32 bits stays past every register
// count); the address register is the one term that has it.
ParseNode* AsmGrammar::Sum(ShaderAssembler* as, ParseNode* left, ParseNode* right) {
  AsmOperandNode* l = Operand(left);
  const AsmOperandNode* r = Operand(right);
  const std::uint64_t offset = std::uint64_t{l->registerNumber} + r->registerNumber;
  l->registerNumber = offset > UINT32_MAX ? UINT32_MAX : static_cast<std::uint32_t>(offset);
  if (l->relative && r->relative)
    GXL_ASM_REPORT(as, *as->m_operandPosition, msg::kTwoAddressRegistersInSum);
  else if (!l->relative)
    l->relative = r->relative;
  return l;
}

ParseNode* AsmGrammar::AddressTerm(ShaderAssembler* as, ParseNode* reg) {
  return Made(as, new AsmOperandNode(0, kModNone, 0, 0, reg));
}

ParseNode* AsmGrammar::OffsetTerm(ShaderAssembler* as, ParseNode* number) {
  return Made(as, new AsmOperandNode(0, kModNone, Literal(number)->token.value.number, 0, nullptr));
}

ParseNode* AsmGrammar::Boolean(ParseNode* literal, std::uint32_t value) {
  SourceToken& t = Literal(literal)->token;
  t.kind = kTokenInt;
  t.value.bits = 0;
  t.value.number = value;
  return literal;
}

ParseNode* AsmGrammar::NegateInteger(ParseNode* literal) {
  SourceToken& t = Literal(literal)->token;
  t.value.number = 0u - t.value.number;
  return literal;
}

// Integers are read as unsigned 32-bit values.
ParseNode* AsmGrammar::FloatLiteral(ParseNode* literal, bool negate) {
  SourceToken& t = Literal(literal)->token;
  double value = IsIntegerToken(t) ? static_cast<double>(t.value.number) : t.value.real;
  t.kind = kTokenFloat;
  t.value.real = negate ? -value : value;
  return literal;
}

}  // namespace gxl::shader

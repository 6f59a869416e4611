// Encoding one instruction into tokens, the token buffer, and handing new
// tokens to the validator.
#include <cmath>
#include <cstring>
#include <limits>

#include "gxl/shader/assembler/asm_reduce.h"
#include "gxl/shader/assembler/shader_assembler.h"
#include "platform/d3d9_api.h"

namespace gxl::shader {

namespace {

constexpr std::uint32_t kOpSub = 3, kOpAdd = 2, kOpCall = 25, kOpCallNz = 26, kOpRet = 28, kOpLabel = 30, kOpDcl = 31,
                        kOpDef = 81, kOpDefi = 48, kOpDefb = 47, kOpIfCompare = 41, kOpBreakCompare = 45, kOpSetp = 94,
                        kOpM4x4 = 20, kOpM4x3 = 21, kOpM3x3 = 23, kOpM3x2 = 24;
constexpr std::uint32_t kCoissueBit = 0x40000000u, kPredicatedBit = 0x10000000u;
// Largest token stream: its byte size must fit the 32-bit size of a buffer.
constexpr std::size_t kMaxTokens = std::size_t{1} << 28;

const AsmOperandNode* Operand(const ParseNode* node) { return static_cast<const AsmOperandNode*>(node); }

bool Unresolved(const AsmOperandNode* op) {
  return op && (op->registerType == kUnresolvedRegister ||
                (op->relative && Operand(op->relative)->registerType == kUnresolvedRegister));
}

// The second source of a sub that becomes an add: its negation toggled.
bool FlipNegation(std::uint32_t* modifier) {
  static constexpr std::uint32_t kPairs[][2] = {{kModNone, kModNeg},
                                                {kModBias, kModBiasNeg},
                                                {kModSign, kModSignNeg},
                                                {kModX2, kModX2Neg},
                                                {kModAbs, kModAbsNeg}};
  for (const auto& pair : kPairs) {
    if (*modifier == pair[0] || *modifier == pair[1]) {
      *modifier = *modifier == pair[0] ? pair[1] : pair[0];
      return true;
    }
  }
  return false;
}

// A float constant as the bits of the nearest 32-bit float; values past the
// float range become infinities.
DWORD FloatBits(double value) {
  float f;
  if (std::isnan(value) || std::fabs(value) <= std::numeric_limits<float>::max()) {
    f = static_cast<float>(value);
  } else {
    f = value > 0 ? std::numeric_limits<float>::infinity() : -std::numeric_limits<float>::infinity();
  }
  DWORD bits;
  std::memcpy(&bits, &f, sizeof bits);
  return bits;
}

DWORD RelativeToken(const AsmOperandNode& address) {
  return RegisterTypeBits(address.registerType & 0xFF) | address.sourceModifier | address.registerNumber |
         address.swizzle;
}

}  // namespace

HRESULT ShaderAssembler::EmitInstruction(AsmInstructionNode* in) {
  const std::int32_t p = m_profileIndex;
  const std::uint32_t op = in->opcode & 0xFFFF;
  in->tokenOffset = static_cast<std::uint32_t>(m_tokens.Size() * 4);
  const AsmOperandNode* dst = Operand(in->destination);
  const AsmOperandNode* pred = Operand(in->predicate);
  if (Fragment()) {
    if (op == kOpCall || op == kOpCallNz || op == kOpRet || op == kOpLabel) {
      GXL_SHADER_REPORT(*m_log, &in->token, msg::kFragmentFlowControl);
      return E_FAIL;
    }
    if (op >= kOpM4x4 && op <= kOpM3x2 && in->sources[1] && Operand(in->sources[1])->registerType == 0) {
      GXL_SHADER_REPORT(*m_log, &in->token, msg::kFragmentTempMatrix);
      return E_FAIL;
    }
  }
  const bool literals = op == kOpDef || op == kOpDefi || op == kOpDefb;
  int sourceCount = 0;
  while (sourceCount < 4 && in->sources[sourceCount]) ++sourceCount;

  std::size_t count = op == kOpDcl ? 2 : 1;
  if (dst) {
    ++count;
    if (dst->sourceModifier != kModNone) GXL_ASM_REPORT(this, in->token, msg::kDestinationModifiers);
    if (dst->relative) {
      if (p != 4 && p != 5) GXL_ASM_REPORT(this, in->token, msg::kRelativeDestination);
      ++count;
      if (Operand(dst->relative)->relative) GXL_ASM_REPORT(this, in->token, msg::kTwoAddressRegisters);
    }
  }
  if (pred) {
    ++count;
    if (p <= 1 || (p >= 6 && p <= 10)) GXL_ASM_REPORT(this, in->token, msg::kPredicatesUnsupported);
    if (pred->sourceModifier != kModNone && pred->sourceModifier != kModNot)
      GXL_ASM_REPORT(this, in->token, msg::kPredicateModifiers);
    if (pred->relative) GXL_ASM_REPORT(this, in->token, msg::kRelativePredicate);
  }
  for (int i = 0; i < sourceCount; ++i) {
    ++count;
    const AsmOperandNode* src = literals ? nullptr : Operand(in->sources[i]);
    if (!src || !src->relative) continue;
    if (p != 0) ++count;
    if (Operand(src->relative)->relative) GXL_ASM_REPORT(this, in->token, msg::kTwoAddressRegisters);
  }
  if (FAILED(ReserveTokens(count))) return E_OUTOFMEMORY;
  const std::size_t start = m_tokens.Size();

  std::uint32_t opcode = in->opcode;
  if (op == kOpSub && (p <= 5 || p >= 10)) {
    // Only ps_1_x streams carry sub; elsewhere it is an add of the negation.
    opcode = kOpAdd;
    auto* second = static_cast<AsmOperandNode*>(in->sources[1]);
    if (!FlipNegation(&second->sourceModifier)) GXL_ASM_REPORT(this, in->token, msg::kSubModifiers);
  }
  DWORD token = opcode;
  if (in->coissue) token |= kCoissueBit;
  if (pred) token |= kPredicatedBit;
  if ((p >= 1 && p <= 5) || p >= 10) token |= static_cast<DWORD>(count - 1) << 24;
  if (op == kOpIfCompare || op == kOpBreakCompare || op == kOpSetp) token |= (in->control & 7) << 16;
  m_tokens.Append(token);
  if (op == kOpDcl) m_tokens.Append(in->control | kParameterBit);

  if (dst) {
    std::uint32_t mask = dst->writeMask;
    if (p == 0 && mask == kFullMask) {
      if (op == kOpM4x3 || op == kOpM3x3) mask = 0x70000;
      if (op == kOpM3x2) mask = 0x30000;
    }
    m_tokens.Append(RegisterTypeBits(dst->registerType) | in->resultModifier | (dst->registerNumber & 0x7FF) | mask |
                    (dst->relative ? kRelativeBit : 0));
    if (dst->relative) m_tokens.Append(RelativeToken(*Operand(dst->relative)));
  }
  if (pred)
    m_tokens.Append(RegisterTypeBits(pred->registerType) | pred->sourceModifier | pred->registerNumber | pred->swizzle);
  for (int i = 0; i < sourceCount; ++i) {
    if (literals) {
      const SourceToken& literal = static_cast<const TokenNode*>(in->sources[i])->token;
      if (op == kOpDef) m_tokens.Append(FloatBits(literal.value.real));
      if (op == kOpDefi) m_tokens.Append(literal.value.number);  // every integer kind, as signed 32 bits
      if (op == kOpDefb) m_tokens.Append(literal.value.number != 0 ? 1 : 0);
      continue;
    }
    const AsmOperandNode* src = Operand(in->sources[i]);
    std::uint32_t swizzle = src->swizzle;
    if (p == 0 && swizzle == kIdentitySwizzle && (op == 6 || op == 7 || op == 14 || op == 15 || op == 78 || op == 79))
      swizzle = 0xFF0000;  // vs_1_1's scalar instructions read w
    m_tokens.Append(RegisterTypeBits(src->registerType) | src->sourceModifier | (src->registerNumber & 0x7FF) |
                    swizzle | (src->relative ? kRelativeBit : 0));
    if (!src->relative) continue;
    const AsmOperandNode& address = *Operand(src->relative);
    if (p != 0) {
      m_tokens.Append(RelativeToken(address));
    } else if (address.registerType != 3 || address.registerNumber != 0 || address.sourceModifier != kModNone ||
               address.swizzle != 0) {
      GXL_ASM_REPORT(this, in->token, msg::kOnlyA0xRelative);
    }
  }
  if (m_tokens.Size() - start != count) GXL_ASM_REPORT(this, in->token, msg::kInternalInstructionSizeMismatch);

  bool unresolved = Unresolved(dst) || Unresolved(pred);
  for (int i = 0; i < sourceCount && !literals; ++i) unresolved = unresolved || Unresolved(Operand(in->sources[i]));
  if (unresolved) {
    m_validatedCount = m_tokens.Size();
    return S_OK;
  }
  if (FAILED(ValidateNewTokens(in->token))) m_abortFlag = true;
  return S_OK;
}

HRESULT ShaderAssembler::ReserveTokens(std::size_t count) {
  const std::size_t needed = m_tokens.Size() + count;
  if (needed > kMaxTokens) return E_OUTOFMEMORY;
  std::size_t capacity = 256;
  while (capacity < needed) capacity *= 2;
  return m_tokens.Reserve(capacity) ? S_OK : E_OUTOFMEMORY;
}

HRESULT ShaderAssembler::AppendToken(DWORD token) {
  if (FAILED(ReserveTokens(1))) return E_OUTOFMEMORY;
  m_tokens.Append(token);
  return S_OK;
}

HRESULT ShaderAssembler::ValidateNewTokens(const SourceToken& position) {
  const std::size_t first = m_validatedCount;
  m_validatedCount = m_tokens.Size();
  if (!m_validator.Get()) return S_OK;
  m_validatorPosition = position;
  const HRESULT hr = m_validator.Get()->Instruction(position.file ? position.file : "", static_cast<int>(position.line),
                                              m_tokens.Data() + first, static_cast<DWORD>(m_tokens.Size() - first));
  if (FAILED(hr)) m_errorFlag = m_abortFlag = true;
  return hr;
}

}  // namespace gxl::shader

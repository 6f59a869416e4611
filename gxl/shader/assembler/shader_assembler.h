// The shader assembler: preprocessed assembly text (a version statement, then
// instructions such as "mad r0, v0, c1, -r1.x") becomes a Direct3D 9 token
// stream. Each instruction is checked against the rules of its version
// (asm_tables.h), encoded as soon as the grammar has read it, and handed to
// the platform's shader validator when "d3d9.dll" has one. In fragment mode
// (HLSL asm blocks for the fragment linker) registers may be written by
// symbolic names, which the fragment information resolves.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>

#include "gxl/shader/assembler/asm_tables.h"
#include "gxl/shader/core/messages.h"
#include "gxl/shader/core/pod_array.h"
#include "gxl/shader/core/source_token.h"
#include "gxl/shader/core/validator_link.h"
#include "gxl/tex/com_ref.h"
#include "platform/win_types.h"

class AsmInstructionNode;
class AsmOperandNode;
class DataBuffer;
class TokenNode;
struct ShaderValidator9;

namespace gxl::shader {

class MessageLog;
class ShaderPreprocessor;
class CommentBlockBuilder;
class ConstantBinder;  // binds the constant names of fragments (core/constant_binder.h)
class FragmentInfo;    // the symbolic register names of one fragment
class RegisterNameTable;
struct FragmentInfoDeleter {
  void operator()(FragmentInfo* info) const;
};

class ShaderAssembler {
 public:
  // Flags of Assemble.
  static constexpr DWORD kDebugInfo = 0x1;         // write the "DBUG" block
  static constexpr DWORD kNoValidation = 0x2;      // leave the platform's validator alone
  static constexpr DWORD kVertexDebugInfo = 0x40;  // kDebugInfo, for vertex versions only
  static constexpr DWORD kPixelDebugInfo = 0x80;   // kDebugInfo, for pixel versions only
  static constexpr DWORD kFlagMask = 0xC3;

  ShaderAssembler();
  ~ShaderAssembler();
  ShaderAssembler(const ShaderAssembler&) = delete;
  ShaderAssembler& operator=(const ShaderAssembler&) = delete;

  // Assembles the rest of the preprocessor's main source, under the lock the
  // preprocessor holds. A binder selects fragment mode. S_OK and the tokens
  // in a new buffer; GXLERR_INVALIDDATA when anything was reported as an
  // error; D3DERR_INVALIDCALL for unknown flags or a null code pointer;
  // E_OUTOFMEMORY; or the validator's own failure.
  HRESULT Assemble(ShaderPreprocessor* pp, DWORD flags, ConstantBinder* binder, DataBuffer** code);

  // The validator's message callback: types 1 and 5 are warnings, 2 and 6
  // errors, each with code 5000 plus the validator's number, placed at the
  // instruction last handed over; other types are dropped.
  static HRESULT ReportValidatorMessage(const char* file, int line, DWORD type, DWORD number, const char* text,
                                        void* assembler);

 private:
  friend struct AsmGrammar;

  // The run after the token stream has begun (shader_assembler.cpp).
  HRESULT Run(ConstantBinder* binder, DataBuffer** code);
  HRESULT ReadVersion(DWORD* version);
  HRESULT MakeCodeBuffer(DataBuffer** out) const;
  // The next preprocessed token into m_token, ends of lines skipped; false
  // (with the run failed inside) when the preprocessor fails.
  bool ReadToken();

  // Names (asm_names.cpp).
  // The operand form of an instruction name with its suffixes, its opcode,
  // result modifiers and control word in the pending fields; None when the
  // identifier is no instruction of this version.
  AsmClass ClassifyName(const char* text);
  // A new operand for a register name and its optional relative expression
  // (an operand holding the summed offset and the address register); an
  // operand of type -1 after an error; null without memory.
  AsmOperandNode* ResolveRegister(const TokenNode& name, AsmOperandNode* relative);
  std::uint32_t ParseWriteMask(const TokenNode& text);
  std::uint32_t ParseSwizzle(const TokenNode& text);

  // Encoding (asm_emit.cpp).
  HRESULT EmitInstruction(AsmInstructionNode* instruction);
  HRESULT ReserveTokens(std::size_t count);
  HRESULT AppendToken(DWORD token);
  // Hands the tokens not yet validated to the validator, placed at position.
  HRESULT ValidateNewTokens(const SourceToken& position);

  // Fragments and the comment blocks after the version token (asm_blocks.cpp).
  HRESULT CreateFragmentInfo();
  // A name that is no register of the tables, in fragment mode: S_OK with its
  // type and number, or a failure after its error is reported.
  HRESULT ResolveFragmentName(const TokenNode& name, const AsmOperandNode* relative, std::uint32_t* type,
                              std::uint32_t* number);
  // An input ('v'), output ('o') or temporary ('r') name: S_OK with its number.
  HRESULT ResolveVaryingName(const TokenNode& name, bool relative, char kind, std::uint32_t* number);
  // "FINF" in fragment mode, "DBUG" when debug information is asked for.
  HRESULT WriteCommentBlocks();
  HRESULT WriteFragmentInfo();
  HRESULT WriteDebugInfo();
  // The block right after the version token, counted as comment tokens.
  HRESULT InsertBlock(const CommentBlockBuilder& block);

  bool Fragment() const { return m_binder != nullptr; }
  // Errors make the run fail (GXL_ASM_REPORT).
  void NoteReport(const Message& entry) {
    if (entry.severity == MessageSeverity::Error) m_errorFlag = true;
  }

  MessageLog* m_log = nullptr;
  ShaderPreprocessor* m_pp = nullptr;
  ValidatorLink m_validator;
  SourceToken m_token;                // the token read last
  SourceToken m_validatorPosition;    // of the tokens handed to the validator last
  // The register name reduced last: the position of reports about its operand.
  const SourceToken* m_operandPosition = &m_token;
  std::int32_t m_profileIndex = -1;
  DWORD m_options = 0;  // kDebugInfo, kNoValidation, and the caller's other flags
  std::uint32_t m_pendingOpcode = 0;
  std::uint32_t m_pendingResultModifiers = 0;
  std::uint32_t m_pendingControl = 0;
  bool m_errorFlag = false;  // an error was reported; the run fails
  bool m_abortFlag = false;  // the run failed inside; nothing more is reduced
  // What a syntax error at the current name is reported as: 0, 2023 or 2024.
  std::uint32_t m_pendingParseError = 0;
  PodArray<DWORD> m_tokens;
  std::size_t m_validatedCount = 0;
  std::size_t m_commentCount = 0;      // tokens of comment blocks after the version token
  const char* m_sourceText = nullptr;  // the main source without a file name, for "DBUG"
  std::uint32_t m_sourceLength = 0;
  const char* m_entryName = nullptr;
  AsmInstructionNode* m_instructions = nullptr;  // the last emitted first, chained through `second`
  std::unique_ptr<FragmentInfo, FragmentInfoDeleter> m_fragmentInfo;
  ConstantBinder* m_binder = nullptr;
};

}  // namespace gxl::shader

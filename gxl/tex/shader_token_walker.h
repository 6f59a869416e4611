// Steps through compiled shader code: the walk shared by the comment lookup,
// the size and the semantics queries of the shader tools and by the texture
// fills' expression reader, which lives below the shader tools. Code handed in
// by callers carries no length, so the public queries walk unbounded; callers
// that know the size of the code pass it, and the walk then never reads past it.
#pragma once

#include <cstddef>
#include <cstdint>

#include "platform/win_types.h"

namespace gxl::tex {

constexpr DWORD kShaderCommentOpcode = 0xFFFE;
constexpr DWORD kShaderEndOpcode = 0xFFFF;
constexpr DWORD kShaderEndToken = 0x0000FFFF;

class ShaderTokenWalker {
 public:
  static constexpr std::size_t kUnbounded = SIZE_MAX;

  enum class Mode {
    // Instructions are stepped over whole (by their length field from version
    // 2.0; below it only def is stepped over explicitly).
    Instructions,
    // Only definitions and the usage token of dcl are stepped over; every other
    // parameter token is reported, with its place in its instruction.
    Parameters,
  };
  enum class Item { Instruction, Parameter, Comment, End, Overrun };

  // byteSize: how many bytes may be read from code, version token included.
  explicit ShaderTokenWalker(const DWORD* code, std::size_t byteSize = kUnbounded,
                             Mode mode = Mode::Instructions);

  // The next item. End repeats once reached; Overrun means the code ends (by
  // byteSize) before the end token or inside an instruction or comment.
  Item Next();

  // The token of the item Next returned.
  const DWORD* Token() const { return m_token; }
  // Opcode of the latest instruction.
  DWORD Opcode() const { return m_opcode; }
  // For a parameter in Parameters mode: 0 for the first token after the
  // instruction (its destination), counting on from there.
  unsigned ParameterIndex() const { return m_parameterIndex; }
  // For a comment: its length in tokens, FourCC included.
  DWORD CommentLength() const { return (*m_token >> 16) & 0x7FFF; }
  // Bytes from the version token to the end of the current token.
  std::size_t BytesThroughToken() const { return static_cast<std::size_t>(m_token - m_code + 1) * 4; }

 private:
  std::size_t InstructionSpan(DWORD token, DWORD opcode) const;

  const DWORD* m_code;
  std::size_t m_limit;  // readable tokens
  std::size_t m_next = 1;
  Mode m_mode;
  bool m_lengthInToken;
  const DWORD* m_token = nullptr;
  DWORD m_opcode = 0;
  unsigned m_parameterIndex = 0;
  unsigned m_parametersSeen = 0;
};

// Finds the comment block tagged fourCC in code of byteSize bytes. Found: S_OK,
// *data = the bytes after the tag, *size = their count. Not present: S_FALSE.
// D3DERR_INVALIDCALL for null code; GXLERR_INVALIDDATA when the version token
// is of no known kind or the code ends before its end token. Both outs (each
// optional) are cleared first.
HRESULT FindShaderCommentBounded(const DWORD* code, std::size_t byteSize, DWORD fourCC, const void** data,
                                 UINT* size);

}  // namespace gxl::tex

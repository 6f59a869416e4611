// Comment blocks of compiled shader code: a comment token, a FourCC tag and a
// payload of pieces appended one by one. Offsets inside a payload count bytes
// from the first byte after the FourCC; gaps and the tail of the last dword
// are filled with 0xAB. The assembler and the back-end targets build every
// block they write ("CTAB", "FINF", "PRES", "DBUG") with this builder.
#pragma once

#include <cstddef>
#include <cstdint>

#include "gxl/shader/core/pod_array.h"
#include "platform/win_types.h"

namespace gxl::shader {

constexpr DWORD MakeTag(char a, char b, char c, char d) {
  return static_cast<DWORD>(static_cast<std::uint8_t>(a)) | static_cast<DWORD>(static_cast<std::uint8_t>(b)) << 8 |
         static_cast<DWORD>(static_cast<std::uint8_t>(c)) << 16 |
         static_cast<DWORD>(static_cast<std::uint8_t>(d)) << 24;
}
constexpr DWORD kTagConstantTable = MakeTag('C', 'T', 'A', 'B');
constexpr DWORD kTagFragmentInfo = MakeTag('F', 'I', 'N', 'F');
constexpr DWORD kTagPreshader = MakeTag('P', 'R', 'E', 'S');
constexpr DWORD kTagDebugInfo = MakeTag('D', 'B', 'U', 'G');
constexpr DWORD kTagFragment = MakeTag('F', 'R', 'A', 'G');  // one fragment of a fragment set

// A block holds at most this many dwords, comment token and FourCC included.
constexpr std::uint32_t kMaxCommentDwords = 32768;
// The byte that fills alignment gaps and the tail of the payload.
constexpr std::uint8_t kCommentPadByte = 0xAB;
// The creator texts of the two writers.
constexpr char kCompilerBanner[] = "GXL Shader Compiler 5.04.00.3900";
constexpr char kAssemblerBanner[] = "GXL Shader Assembler 5.04.00.3900";

class CommentBlockBuilder {
 public:
  // Append flags.
  static constexpr DWORD kByReference = 0x1;  // keep the caller's pointer; it must live until Serialize
  static constexpr DWORD kShare = 0x2;        // an equal earlier shared piece gives its offset instead
  static constexpr DWORD kUnaligned = 0x4;    // no rounding of the offset up to a multiple of 4
  static constexpr DWORD kOwned = 0x8;        // with kByReference: the builder frees the data (std::free)
  // The combinations the writers use.
  static constexpr DWORD kRecords = kByReference;                      // filled in before Serialize
  static constexpr DWORD kTypes = kShare;                              // type records
  static constexpr DWORD kText = kByReference | kUnaligned;            // texts never merged
  static constexpr DWORD kUnalignedCopy = kShare | kUnaligned;         // copied unaligned records
  static constexpr DWORD kName = kByReference | kShare | kUnaligned;   // names
  static constexpr DWORD kOwnedData = kByReference | kShare | kOwned;  // data built for the block
  // A length meaning "a zero-terminated text, terminator included".
  static constexpr std::uint32_t kZeroTerminated = 0xFFFFFFFFu;

  explicit CommentBlockBuilder(DWORD fourCC) : m_fourCC(fourCC) {}
  ~CommentBlockBuilder();
  CommentBlockBuilder(const CommentBlockBuilder&) = delete;
  CommentBlockBuilder& operator=(const CommentBlockBuilder&) = delete;

  // Adds a piece; offset (optional) receives its payload offset. E_FAIL for a
  // non-zero length without data; E_OUTOFMEMORY. A piece without
  // kByReference is copied and always shared. Owned data is freed even when
  // the call fails or an equal piece is found.
  HRESULT Append(const void* data, std::uint32_t length, DWORD flags, std::uint32_t* offset);

  std::uint32_t PayloadBytes() const { return m_size; }
  // Comment token and FourCC included.
  std::uint32_t SizeInDwords() const { return ((m_size + 3) >> 2) + 2; }

  // Writes the block into `dwords` tokens at out (kDwordsNeeded: SizeInDwords()).
  // E_FAIL when dwords is smaller than needed or above kMaxCommentDwords.
  static constexpr std::uint32_t kDwordsNeeded = 0xFFFFFFFFu;
  HRESULT Serialize(DWORD* out, std::uint32_t dwords = kDwordsNeeded) const;

 private:
  struct Chunk;
  Chunk* FindShared(const void* data, std::uint32_t length, std::uint32_t hash) const;

  DWORD m_fourCC;
  std::uint32_t m_size = 0;
  // A linked list: pieces kept by reference never move.
  Chunk* m_first = nullptr;
  Chunk* m_last = nullptr;
};

// Makes room after the version token of `tokens` (which holds it) and
// serializes the block there. E_OUTOFMEMORY when the stream cannot grow, or
// the builder's E_FAIL for an oversized block; the stream is changed only on
// success.
HRESULT InsertAfterVersion(PodArray<DWORD>* tokens, const CommentBlockBuilder& block);

}  // namespace gxl::shader

// The comment blocks a target writes around its instruction tokens: the
// constant table ("CTAB", or "FINF" for fragments), the preshader ("PRES")
// and the debug information ("DBUG"). Each writer builds its block from the
// program and inserts it right after the version token; called in the order
// preshader, constant table, debug information, the blocks then read "DBUG",
// "CTAB", "PRES". The target's WriteConstantTable, WritePreshader and
// WriteDebugInfo forward here with a BlockTarget over their own fields.
#pragma once

#include <cstddef>
#include <cstdint>

#include "gxl/shader/backend/ir/shader_program.h"
#include "gxl/shader/core/pod_array.h"
#include "gxl/shader/core/register_names.h"
#include "platform/win_types.h"

class DataBuffer;

namespace gxl::shader {

// One record per emitted instruction (debug option only).
struct DebugLineRecord {
  const char* file;           // source file of the statement it came from, or null
  std::uint32_t line;         // its line, 0 when unknown
  std::uint32_t tokenOffset;  // byte offset of its opcode token: token index x 4
  std::uint32_t results[4];   // the values it writes, kNoIndex for none
};

// What writing "PRES" needs of the preshader program.
class PreshaderSource {
 public:
  virtual ~PreshaderSource() = default;
  // Maps the preshader's outputs to the main program's registers once they
  // are known: S_FALSE when there is no preshader, else S_OK or a failure.
  virtual HRESULT PreparePreshader() = 0;
  // Compiles the preshader: S_OK with its code, S_FALSE when it produced
  // nothing, or a failure.
  virtual HRESULT CompilePreshader(DataBuffer** code) = 0;
};

// The target as the writers see it: the program and the token stream they
// insert into, with the counts an insertion updates.
struct BlockTarget {
  ShaderProgram* program = nullptr;                // values, banks, options, log; sequence fields change in "DBUG"
  PodArray<DWORD>* tokens = nullptr;               // the stream so far, tokens[0] the version token
  std::uint32_t* insertedDwords = nullptr;         // dwords of blocks inserted after the version token
  std::size_t* validatedCount = nullptr;           // becomes the token count: blocks are not validated
  DWORD profileVersion = 0;                        // names the target in the table ("vs_2_0")
  bool fragmentMode = false;                       // "FINF" with prefixed names and the fragment registers
  const RegisterNameTable* fragmentNames[2] = {};  // fragment inputs and temporaries, or null
  const DebugLineRecord* debugRecords = nullptr;
  std::uint32_t debugRecordCount = 0;
  const char* sourceText = nullptr;  // for "DBUG"; null when none is kept
  std::uint32_t sourceLength = 0;
};

// Error 4548 and E_FAIL when the table passes the size of a comment block;
// X2902 (E_FAIL) for an explicit fragment binding past c8191; E_OUTOFMEMORY.
HRESULT WriteConstantTable(const BlockTarget& target);
// The preshader's code as "PRES"; nothing when the preshader produced none.
// Error 4548 and E_FAIL when it is too large; the preshader's failures.
HRESULT WritePreshader(const BlockTarget& target, PreshaderSource* preshader);
// Warning 4547 and no block (S_OK) when it is too large; E_OUTOFMEMORY.
HRESULT WriteDebugInfo(const BlockTarget& target);

class CommentBlockBuilder;
// Inserts a finished block after the version token and counts it: the
// inserted dwords grow by its size and every token counts as validated.
HRESULT InsertTargetBlock(const BlockTarget& target, const CommentBlockBuilder& block);

}  // namespace gxl::shader

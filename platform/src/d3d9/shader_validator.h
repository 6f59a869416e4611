// The structural shader validator behind "d3d9.dll"'s
// "Direct3DShaderValidatorCreate9": it checks token streams the way the
// runtime's validator does before a shader is used, and reports each fault
// through the caller's callback as a message of type 2 with its own number.
//
// Tokens arrive in groups (version, each instruction, comments, end) through
// Instruction(); groups may split or join instructions freely, since the stream
// is cut by the format's own rules. Checks that need the whole program (blocks
// left open, labels, recursion, slot counts, the end token) run at End().
#pragma once

#include <cstdint>
#include <set>
#include <string>
#include <utility>
#include <vector>

#include "d3d9/shader_tokens.h"
#include "platform/d3d9_api.h"

namespace platform::shader {

// Message numbers (the shader tools show them as X5000 plus the number).
enum ValidatorMessage : DWORD {
  kMsgVersion = 1,        // unknown version token
  kMsgFraming = 2,        // token confusion, length field, unknown opcode
  kMsgTruncated = 3,      // an instruction or comment runs past the end
  kMsgEndToken = 4,       // missing end token, or tokens after it
  kMsgOpcode = 5,         // opcode not available in this version
  kMsgReservedBits = 6,   // reserved or version-specific token bits
  kMsgRegister = 7,       // register type not allowed in this place
  kMsgRegisterIndex = 8,  // register number out of range (also constants)
  kMsgRelative = 9,       // relative addressing not allowed or malformed
  kMsgUndeclared = 10,    // input, output or sampler used before its dcl
  kMsgDeclaration = 11,   // malformed or repeated dcl
  kMsgWriteMask = 12,
  kMsgSwizzle = 13,
  kMsgSourceModifier = 14,
  kMsgResultModifier = 15,
  kMsgOrder = 16,         // setup after code, ps_1_x texture after arithmetic
  kMsgFlow = 17,          // unbalanced or misplaced flow control
  kMsgNesting = 18,       // nesting or call depth over the version's limit
  kMsgLabel = 19,         // missing, repeated or recursive labels
  kMsgSlots = 20,         // instruction-slot limit
  kMsgPredicate = 21,
  kMsgCoissue = 22,
  kMsgAlias = 23,         // destination may not be one of the sources
  kMsgReadPorts = 24,     // too many different registers of one file read
  kMsgTextureStage = 25,  // ps_1_1-1_3: texm3x2/texm3x3 rows, sources from earlier stages
  kMsgPhase = 26,         // ps_1_4: what only phase one or only phase two may do
};

constexpr DWORD kValidatorMessageType = 2;

struct ValidatorMessageRecord {
  std::size_t index;  // stream position of the offending token or instruction
  DWORD number;
  std::string text;
};

// The rules, over a growing stream; no COM, no callbacks.
class StreamChecker {
 public:
  // Checks every item of `words` that is complete and not checked yet.
  void Advance(const std::vector<std::uint32_t>& words);
  // Checks what only the whole program shows.
  void Finish(const std::vector<std::uint32_t>& words);
  const std::vector<ValidatorMessageRecord>& Messages() const { return m_messages; }

 private:
  struct Block {
    std::uint16_t op;
    bool sawElse;
    bool dynamic;
    bool statik;
  };
  struct CallEdge {
    int from;  // -1: main program
    std::uint32_t to;
    std::size_t index;
  };

  void Report(std::size_t index, DWORD number, std::string text);
  void CheckInstruction(const Instruction& in);
  void CheckTokenBits(const Instruction& in);
  void CheckOrderAndSlots(const Instruction& in);
  void CheckFlow(const Instruction& in);
  void CheckDeclaration(const Instruction& in);
  void CheckDefinition(const Instruction& in);
  void CheckDestination(const Instruction& in);
  void CheckSource(const Instruction& in, int i);
  void CheckPredicate(const Instruction& in);
  void CheckOperandRules(const Instruction& in);
  void CheckReadPorts(const Instruction& in);
  void CheckTextureStages(const Instruction& in);
  void CheckPs14(const Instruction& in);
  void FinishPs1();
  void CheckPairReads(const Instruction& first, const Instruction& second);
  bool CheckRegister(const Operand& op);
  void CheckRelative(const Operand& op, bool dst);
  bool Declared(int type, std::uint32_t number) const;
  bool InLoop() const;
  void CheckCalls();
  void CheckSlotLimits(std::size_t index);

  std::vector<ValidatorMessageRecord> m_messages;
  std::size_t m_pos = 0;
  bool m_haveVersion = false, m_stopped = false, m_ended = false;
  Version m_v;

  // Setup and ordering.
  bool m_sawCode = false;
  bool m_sawPs1Arith = false;
  int m_phases = 0;
  Instruction m_previous;  // for co-issue pairs
  bool m_havePrevious = false;

  // Declarations: (type << 16 | number).
  std::set<std::uint32_t> m_declared;

  // ps_1_1-1_3: the texm3x2 / texm3x3 rows begun by pads.
  struct PendingRows {
    int rows = 0, pads = 0;
    std::uint32_t nextStage = 0, source = 0;
    std::size_t index = 0;
  };
  PendingRows m_rows;
  // t# registers texbem/texbeml read (only they may read them again) and
  // those texm3x2depth wrote (nothing may read them); bit per register.
  std::uint32_t m_bumpRead = 0, m_depthWritten = 0;
  // ps_1_4: what is allowed in phase two only, found before any phase (a
  // program without phase is all phase two); bem positions; _dz count.
  std::vector<std::pair<std::size_t, std::string>> m_phaseTwoOnly;
  std::vector<std::size_t> m_bems;
  int m_dzCount = 0;

  // Slots.
  long m_slots = 0, m_texSlots = 0, m_arithSlots = 0;

  // Flow control.
  std::vector<Block> m_blocks;
  int m_staticFlowCount = 0;
  bool m_afterRet = false;
  bool m_strayReported = false;
  int m_subroutine = -1;  // -1: main program
  std::set<std::uint32_t> m_labels;
  std::vector<CallEdge> m_calls;
};

class StructuralValidator final : public ShaderValidator9 {
 public:
  HRESULT QueryInterface(REFIID iid, void** out) override;
  ULONG AddRef() override { return ++m_refs; }
  ULONG Release() override;
  HRESULT Begin(ShaderValidatorCallback callback, void* context, DWORD flags) override;
  HRESULT Instruction(const char* file, int line, const DWORD* tokens, DWORD count) override;
  HRESULT End() override;

 private:
  struct Group {
    std::size_t start;
    std::string file;
    int line;
  };
  // Passes messages from `first` on to the callback; true when there were any.
  bool Deliver(std::size_t first);

  ULONG m_refs = 1;
  bool m_begun = false;
  ShaderValidatorCallback m_callback = nullptr;
  void* m_context = nullptr;
  std::vector<std::uint32_t> m_words;
  std::vector<Group> m_groups;
  StreamChecker m_checker;
  std::size_t m_delivered = 0;
};

// The factory the module table exports by default.
ShaderValidator9* CreateStructuralValidator();

}  // namespace platform::shader

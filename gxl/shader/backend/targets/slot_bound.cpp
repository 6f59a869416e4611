// A lower bound on the instruction slots of the optimised program, against
// the slot limit of the version its code declares. Scheduling, register
// allocation and emission of a large program take long, and the validator
// counts the slots only at its end: a program whose bound already passes
// the limit is refused with the limit's message before them.
#include <cstdio>

#include "gxl/shader/backend/targets/ps1/ps1_target.h"
#include "gxl/shader/backend/targets/shader_target.h"
#include "gxl/shader/core/messages.h"
#include "gxl/shader/core/syntax_tree.h"

namespace gxl::shader {

namespace {

// The bound is taken where the later phases would take seconds: a program
// this large, or read-port copies that each rebuild the def-use
// information of the whole program, this many times its size. Elsewhere
// the compile goes the whole way, and the validator's message counts the
// slots exactly.
constexpr std::uint64_t kBoundFromInstructions = 65536;
constexpr std::uint64_t kBoundFromCopyWork = std::uint64_t{1} << 24;
// The most component operations of the optimised program one emitted
// instruction stands for: a multiply-add of four components.
constexpr std::uint64_t kOperationsPerSlot = 8;
constexpr DWORD kSlotMessage = 20;

// The slot limits by the target's version token: the version its code
// declares, or for ps_2_a and ps_2_b, whose targets keep the profile's own
// token, the profile's (their code declares 2.x). The 2.0 pixel version
// counts texture and arithmetic slots apart.
struct SlotLimit {
  DWORD version;
  const char* name;
  std::uint64_t slots;
};
constexpr SlotLimit kSlotLimits[] = {
    {0xFFFE0101, "vs_1_1", 128},  {0xFFFE0200, "vs_2_0", 256},  {0xFFFE0201, "vs_2_x", 256},
    {0xFFFE0300, "vs_3_0", 32768}, {0xFFFF0201, "ps_2_x", 512}, {0xFFFF0202, "ps_2_x", 512},
    {0xFFFF0203, "ps_2_x", 512},  {0xFFFF0300, "ps_3_0", 32768},
};
constexpr DWORD kPixel20 = 0xFFFF0200;
constexpr std::uint64_t kPixel20Texture = 32, kPixel20Arithmetic = 64;
// The 1.x pixel versions refuse a program far past their size with a
// message of their own once it is folded, before placement: each slot is
// an instruction there, or two paired.
constexpr DWORD kPixel1First = 0xFFFF0101, kPixel1Last = 0xFFFF0104;

bool IsTextureSample(std::uint32_t g) { return g >= kOpTex1D && g <= kOpTexCubeLod; }

// Operations that take a slot of their own or a share of one: not the
// moves and negations that become operands and modifiers, not min and max
// (a saturation), not the flow bookkeeping.
bool TakesSlot(std::uint32_t g) {
  switch (g) {
    case kOpReciprocal:
    case kOpFraction:
    case kOpExp2:
    case kOpLog2:
    case kOpRsq:
    case kOpSin:
    case kOpCos:
    case kOpLess:
    case kOpGreaterEqual:
    case kOpAdd:
    case kOpMultiply:
    case kOpSelect:
    case kOpDot:
    case kOpLit:
    case kOpSinCos:
    case kOpNormalize:
      return true;
    default:
      return false;
  }
}

}  // namespace

HRESULT ShaderTarget::FitSlotLimit() {
  // Without validation no slot limit ends the compile.
  if (fragmentMode || (options & kOptionNoValidation)) return S_OK;
  const DWORD version = versionToken;
  const SlotLimit* limit = nullptr;
  for (const SlotLimit& l : kSlotLimits)
    if (l.version == version) limit = &l;
  const bool pixel1 = version >= kPixel1First && version <= kPixel1Last;
  if (!limit && !pixel1 && version != kPixel20) return S_OK;
  const std::uint32_t n = instructions.Count();
  if (FAILED(ChargeWork(n))) return E_FAIL;
  std::uint64_t operations = 0, texture = 0, live = 0, copies = 0;
  const ParseNode* at = nullptr;
  for (std::uint32_t i = 0; i < n; ++i) {
    const IrInstruction* inst = Instruction(i);
    if (!inst || inst->word < 0x100000) continue;
    ++live;
    const std::uint32_t g = inst->Group();
    if (IsTextureSample(g))
      ++texture;
    else if (TakesSlot(g))
      operations += g == kOpDot ? inst->resultCount : inst->Width();
    // The message stands where the validator's would: at the statement of
    // the last instruction emitted (moves into outputs go with coalescing).
    if ((IsTextureSample(g) || TakesSlot(g)) && inst->sourcePosition &&
        inst->sourcePosition->kind == NodeKind::Kind13)
      at = inst->sourcePosition;
    std::uint32_t group = 0;
    if (inst->IsArithmetic() && NextArgumentToCopy(*inst, &group)) ++copies;
  }
  if (!refusalUnheard && live < kBoundFromInstructions && live * copies < kBoundFromCopyWork) return S_OK;
  const std::uint64_t arithmetic = (operations + kOperationsPerSlot - 1) / kOperationsPerSlot;
  char text[160];
  if (pixel1) {
    const bool is14 = version == kPixel1Last;
    if (texture + arithmetic <= (is14 ? PixelShader1Target::kPs14InstructionLimit
                                      : PixelShader1Target::kPs1xInstructionLimit))
      return S_OK;
    if (is14)
      GXL_SHADER_REPORT(*this, nullptr, msg::kFarTooLargeForPs14);
    else
      GXL_SHADER_REPORT(*this, nullptr, msg::kFarTooLargeForPs1x, static_cast<int>(version & 0xFF));
    errorFlag = 1;
    return E_FAIL;
  }
  if (version == kPixel20) {
    if (texture <= kPixel20Texture && arithmetic <= kPixel20Arithmetic) return S_OK;
    using Wide = unsigned long long;
    std::snprintf(text, sizeof text, "%llu texture and %llu arithmetic slots exceed ps_2_0's %llu + %llu",
                  static_cast<Wide>(texture), static_cast<Wide>(arithmetic), static_cast<Wide>(kPixel20Texture),
                  static_cast<Wide>(kPixel20Arithmetic));
  } else {
    const std::uint64_t slots = texture + arithmetic;
    if (slots <= limit->slots) return S_OK;
    std::snprintf(text, sizeof text, "%llu instruction slots exceed %s's %llu", static_cast<unsigned long long>(slots),
                  limit->name, static_cast<unsigned long long>(limit->slots));
  }
  const SourceToken* where = at ? LocationOf(at) : nullptr;
  SourceToken token{};
  token.file = where ? where->file : nullptr;
  token.line = where && where->line != kNoIndex ? where->line : 0;
  if (log) log->Report(&token, MessageSeverity::Error, kValidatorCodeBase + kSlotMessage, "%s", text);
  errorFlag = 1;
  return E_FAIL;
}

}  // namespace gxl::shader

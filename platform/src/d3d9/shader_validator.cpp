// The validator object and the stream-level rules: version, framing, the end
// token, setup order, slot counts, flow-control blocks and subroutines. The
// per-operand rules are in shader_validator_rules.cpp.
#include "d3d9/shader_validator.h"

#include <algorithm>
#include <functional>
#include <map>
#include <new>

#include "kernel/format.h"

namespace platform::shader {
namespace {

// Limits a device reports within a range: the validator accepts the largest
// any device may report, as the runtime's validator does.
constexpr long kVs11Slots = 128;
constexpr long kVs2Slots = 256;
constexpr long kPs2xMaxSlots = 512;
constexpr long kModel3MaxSlots = 32768;
constexpr long kPs20TexSlots = 32, kPs20ArithSlots = 64;
constexpr long kPs1xArithSlots = 8;
constexpr int kMaxDynamicDepth = 24;
constexpr int kMaxStaticDepth = 4;
constexpr int kMaxLoopDepth = 4;
constexpr int kMaxCallDepth = 4;
constexpr int kVs20StaticFlowInstructions = 16;
constexpr std::uint32_t kMaxLabels = 2048;

// -1: no limit (software versions).
long SlotLimit(const Version& v) {
  switch (v.profile) {
    case kVs11: return kVs11Slots;
    case kVs20: case kVs2x: return kVs2Slots;
    case kPs2x: return kPs2xMaxSlots;
    case kVs30: case kPs30: return kModel3MaxSlots;
    default: return -1;
  }
}

bool IsLoopBlock(std::uint16_t op) { return op == kLoopOp || op == kRep; }

}  // namespace

void StreamChecker::Report(std::size_t index, DWORD number, std::string text) {
  m_messages.push_back({index, number, std::move(text)});
}

void StreamChecker::Advance(const std::vector<std::uint32_t>& words) {
  if (m_stopped || words.empty()) return;
  if (!m_haveVersion) {
    if (!ParseVersion(words[0], &m_v)) {
      Report(0, kMsgVersion, Printf("unknown shader version token 0x%08X", words[0]));
      m_stopped = true;
      return;
    }
    m_haveVersion = true;
    m_pos = 1;
  }
  while (m_pos < words.size()) {
    if (m_ended) {
      Report(m_pos, kMsgEndToken, words[m_pos] == kEndToken ? "second end token" : "tokens after the end token");
      m_stopped = true;
      return;
    }
    Item item = ReadItem(words.data(), words.size(), m_pos, m_v);
    switch (item.kind) {
      case ItemKind::kIncomplete:
        return;
      case ItemKind::kError:
        // The instruction boundaries are lost: nothing after this can be trusted.
        Report(item.errorIndex, kMsgFraming, Printf("token %zu: %s", item.errorIndex, item.error.c_str()));
        m_stopped = true;
        return;
      case ItemKind::kEnd:
        m_ended = true;
        break;
      case ItemKind::kComment:
        break;
      case ItemKind::kInstruction:
        CheckInstruction(item.instr);
        break;
    }
    m_pos = item.next;
  }
}

void StreamChecker::Finish(const std::vector<std::uint32_t>& words) {
  Advance(words);
  if (m_stopped) return;
  if (!m_haveVersion) {
    Report(0, kMsgVersion, "no version token");
    return;
  }
  if (!m_ended) {
    if (m_pos < words.size()) {
      const bool comment = (words[m_pos] & 0xFFFF) == kComment;
      Report(m_pos, kMsgTruncated,
             comment ? "comment runs past the end of the shader" : "instruction runs past the end of the shader");
    } else {
      Report(words.size(), kMsgEndToken, "missing end token");
    }
    return;
  }
  const std::size_t at = m_pos - 1;
  if (!m_blocks.empty()) Report(at, kMsgFlow, Printf("%s block is not closed", FindOp(m_blocks.back().op)->name));
  if (m_subroutine >= 0 && !m_afterRet)
    Report(at, kMsgFlow, Printf("subroutine l%d does not end with ret", m_subroutine));
  CheckCalls();
  if (m_v.Ps1x()) FinishPs1();
  CheckSlotLimits(at);
}

void StreamChecker::CheckSlotLimits(std::size_t index) {
  if (m_v.Ps1x()) {
    const long tex = m_v.minor == 4 ? 6 : 4;
    if (m_texSlots > tex || m_arithSlots > kPs1xArithSlots)
      Report(index, kMsgSlots,
             Printf("%ld texture and %ld arithmetic slots exceed %s's %ld + %ld%s", m_texSlots, m_arithSlots,
                    m_v.Name(), tex, kPs1xArithSlots, m_v.minor == 4 ? " per phase" : ""));
  } else if (m_v.profile == kPs20) {
    if (m_texSlots > kPs20TexSlots || m_arithSlots > kPs20ArithSlots)
      Report(index, kMsgSlots,
             Printf("%ld texture and %ld arithmetic slots exceed ps_2_0's %ld + %ld", m_texSlots, m_arithSlots,
                    kPs20TexSlots, kPs20ArithSlots));
  } else {
    const long limit = SlotLimit(m_v);
    if (limit >= 0 && m_slots > limit)
      Report(index, kMsgSlots, Printf("%ld instruction slots exceed %s's %ld", m_slots, m_v.Name(), limit));
  }
  m_texSlots = m_arithSlots = 0;
}

void StreamChecker::CheckInstruction(const Instruction& in) {
  const OpInfo& info = *in.info;
  if (!Available(info, m_v.profile)) {
    Report(in.index, kMsgOpcode, Printf("%s is not available in %s", info.name, m_v.Name()));
  } else {
    CheckTokenBits(in);
    CheckOrderAndSlots(in);
    if (info.shape == kDclShape) {
      CheckDeclaration(in);
    } else if (info.shape == kDefShape) {
      CheckDefinition(in);
    } else {
      if (in.hasDst) CheckDestination(in);
      if (in.predicated) CheckPredicate(in);
      for (int i = 0; i < in.sourceCount; ++i) CheckSource(in, i);
      CheckOperandRules(in);
      CheckReadPorts(in);
    }
    CheckFlow(in);
    if (m_v.profile == kPs14)
      CheckPs14(in);
    else if (m_v.Ps1x())
      CheckTextureStages(in);
  }
  m_previous = in;
  m_havePrevious = true;
}

void StreamChecker::CheckTokenBits(const Instruction& in) {
  const std::uint32_t t = in.token;
  const std::uint16_t op = in.Op();
  if (t & 0x20000000u) Report(in.index, kMsgReservedBits, "reserved instruction bit 29 is set");
  if (!m_v.AtLeast2() && (t & 0x1F000000u))
    Report(in.index, kMsgReservedBits, Printf("length and predicate bits must be 0 in %s", m_v.Name()));
  bool controlOk;
  if (op == kIfC || op == kBreakC || op == kSetP)
    controlOk = in.control >= 1 && in.control <= 6;
  else if (op == kTex && m_v.AtLeast2())
    controlOk = in.control <= 2;
  else
    controlOk = in.control == 0;
  if (!controlOk)
    Report(in.index, kMsgReservedBits, Printf("invalid control value %u for %s", in.control, in.info->name));

  if (m_v.AtLeast2() && (t & 0x10000000u) && !in.predicated)
    Report(in.index, kMsgPredicate, Printf("%s cannot be predicated", in.info->name));
  if (in.predicated) {
    if (!m_v.Extended())
      Report(in.index, kMsgPredicate, Printf("predication is not available in %s", m_v.Name()));
    else if (in.info->cls != kArith && in.info->cls != kTexture)
      Report(in.index, kMsgPredicate, Printf("%s cannot be predicated", in.info->name));
  }
  if (in.coissue) {
    if (!m_v.Ps1x()) {
      Report(in.index, kMsgCoissue, Printf("co-issue is not available in %s", m_v.Name()));
      return;
    }
    auto pairable = [](const Instruction& i) {
      return i.info->cls == kArith && i.Op() != kDp4 && i.Op() != kBem && i.hasDst;
    };
    if (!m_havePrevious || m_previous.coissue || !pairable(m_previous) || !pairable(in))
      Report(in.index, kMsgCoissue, "co-issue needs two arithmetic instructions other than dp4 and bem");
    else if (WriteMask(m_previous.dst.token) & WriteMask(in.dst.token))
      Report(in.index, kMsgCoissue, "co-issued instructions write the same components");
    else
      CheckPairReads(m_previous, in);
  }
}

void StreamChecker::CheckOrderAndSlots(const Instruction& in) {
  const OpInfo& info = *in.info;
  if (info.cls == kSetup) {
    if (m_sawCode) Report(in.index, kMsgOrder, Printf("%s after the first instruction", info.name));
    return;
  }
  m_sawCode = true;
  const long cost = SlotCost(info, m_v);
  if (m_v.Ps1x()) {
    if (in.Op() == kPhase) {
      if (++m_phases > 1) Report(in.index, kMsgOrder, "more than one phase");
      CheckSlotLimits(in.index);
      m_sawPs1Arith = false;
    } else if (info.cls == kTexture) {
      if (m_sawPs1Arith) Report(in.index, kMsgOrder, "texture instruction after arithmetic");
      m_texSlots += cost;
    } else if (info.cls == kArith) {
      m_sawPs1Arith = true;
      if (!in.coissue) m_arithSlots += cost;
    }
    return;
  }
  const long extra = in.predicated ? 1 : 0;
  m_slots += cost + extra;
  if (m_v.profile == kPs20) (info.cls == kTexture ? m_texSlots : m_arithSlots) += cost;
}

bool StreamChecker::InLoop() const {
  // A subroutine may be called from inside a loop.
  return m_subroutine >= 0 ||
         std::any_of(m_blocks.begin(), m_blocks.end(), [](const Block& b) { return b.op == kLoopOp; });
}

void StreamChecker::CheckFlow(const Instruction& in) {
  const std::uint16_t op = in.Op();
  const bool vs20 = m_v.profile == kVs20;
  if (m_afterRet && op != kLabelOp) {
    if (!m_strayReported) Report(in.index, kMsgFlow, "instruction after ret outside any subroutine");
    m_strayReported = true;
  }
  auto depth = [this](auto pred) {
    return static_cast<int>(std::count_if(m_blocks.begin(), m_blocks.end(), pred));
  };
  auto countStatic = [&] {
    if (vs20 && ++m_staticFlowCount > kVs20StaticFlowInstructions)
      Report(in.index, kMsgNesting,
             Printf("more than %d static flow-control instructions", kVs20StaticFlowInstructions));
  };
  auto close = [&](std::uint16_t opener, std::uint16_t opener2, const char* text) {
    if (m_blocks.empty() || (m_blocks.back().op != opener && m_blocks.back().op != opener2)) {
      Report(in.index, kMsgFlow, text);
      return false;
    }
    return true;
  };
  switch (op) {
    case kIf: case kIfC: case kLoopOp: case kRep: {
      Block b{op, false, false, false};
      if (op == kIfC || (op == kIf && RegisterType(in.src[0].token) == kPredicate))
        b.dynamic = true;
      else
        b.statik = true;
      if (b.statik) countStatic();
      m_blocks.push_back(b);
      const int loops = depth([](const Block& x) { return IsLoopBlock(x.op); });
      const int loopLimit = vs20 ? 1 : kMaxLoopDepth;
      if (IsLoopBlock(op) && loops > loopLimit)
        Report(in.index, kMsgNesting, Printf("loop and rep blocks nested deeper than %d", loopLimit));
      if (m_v.major == 2 && m_v.minor != 0 && b.statik &&
          depth([](const Block& x) { return x.statik; }) > kMaxStaticDepth)
        Report(in.index, kMsgNesting, Printf("static flow control nested deeper than %d", kMaxStaticDepth));
      if (b.dynamic && depth([](const Block& x) { return x.dynamic; }) > kMaxDynamicDepth)
        Report(in.index, kMsgNesting, Printf("dynamic flow control nested deeper than %d", kMaxDynamicDepth));
      break;
    }
    case kElse:
      if (close(kIf, kIfC, "else without if")) {
        if (m_blocks.back().sawElse) Report(in.index, kMsgFlow, "second else in one if block");
        m_blocks.back().sawElse = true;
      }
      break;
    case kEndIf:
      if (close(kIf, kIfC, "endif without if")) m_blocks.pop_back();
      break;
    case kEndLoop:
      if (close(kLoopOp, kLoopOp, "endloop without loop")) m_blocks.pop_back();
      break;
    case kEndRep:
      if (close(kRep, kRep, "endrep without rep")) m_blocks.pop_back();
      break;
    case kBreak: case kBreakC: case kBreakP:
      if (!std::any_of(m_blocks.begin(), m_blocks.end(), [](const Block& b) { return IsLoopBlock(b.op); }))
        Report(in.index, kMsgFlow, "break outside a loop or rep block");
      else if (op != kBreak && depth([](const Block& x) { return x.dynamic; }) + 1 > kMaxDynamicDepth)
        Report(in.index, kMsgNesting, Printf("dynamic flow control nested deeper than %d", kMaxDynamicDepth));
      break;
    case kCall: case kCallNz:
      countStatic();
      if (RegisterType(in.src[0].token) == kLabel && RegisterNumber(in.src[0].token) < kMaxLabels)
        m_calls.push_back({m_subroutine, RegisterNumber(in.src[0].token), in.index});
      break;
    case kRet:
      if (!m_blocks.empty()) Report(in.index, kMsgFlow, "ret inside a block");
      m_afterRet = true;
      break;
    case kLabelOp: {
      const std::uint32_t n = RegisterNumber(in.src[0].token);
      if (!m_blocks.empty())
        Report(in.index, kMsgFlow, "label inside a block");
      else if (!m_afterRet)
        Report(in.index, kMsgFlow, "label before the preceding program or subroutine ends with ret");
      if (!m_labels.insert(n).second) Report(in.index, kMsgLabel, Printf("label l%u defined twice", n));
      m_subroutine = static_cast<int>(n);
      m_afterRet = false;
      m_strayReported = false;
      break;
    }
    default:
      break;
  }
}

void StreamChecker::CheckCalls() {
  std::map<int, std::vector<const CallEdge*>> edges;
  for (const CallEdge& c : m_calls) {
    if (!m_labels.count(c.to))
      Report(c.index, kMsgLabel, Printf("call to undefined label l%u", c.to));
    else
      edges[c.from].push_back(&c);
  }
  // Longest call chain from the main program; a cycle is recursion.
  enum { kNew, kActive, kDone };
  std::map<int, int> state, longest;
  bool recursion = false;
  std::function<void(int)> visit = [&](int node) {
    state[node] = kActive;
    int best = 0;
    for (const CallEdge* e : edges[node]) {
      const int to = static_cast<int>(e->to);
      if (state[to] == kActive) {
        if (!recursion) Report(e->index, kMsgLabel, Printf("recursive call of l%u", e->to));
        recursion = true;
        continue;
      }
      if (state[to] == kNew) visit(to);
      best = std::max(best, 1 + longest[to]);
    }
    state[node] = kDone;
    longest[node] = best;
  };
  visit(-1);
  const int deepest = longest[-1];
  const int limit = m_v.profile == kVs20 ? 1 : kMaxCallDepth;
  if (!recursion && deepest > limit)
    Report(m_pos - 1, kMsgNesting, Printf("calls nested deeper than %d", limit));
}

// ---------------------------------------------------------------------------
// The object

HRESULT StructuralValidator::QueryInterface(REFIID iid, void** out) {
  if (!out) return E_POINTER;
  if (iid != IID_IUnknown) {
    *out = nullptr;
    return E_NOINTERFACE;
  }
  *out = static_cast<IUnknown*>(this);
  AddRef();
  return S_OK;
}

ULONG StructuralValidator::Release() {
  const ULONG refs = --m_refs;
  if (refs == 0) delete this;
  return refs;
}

HRESULT StructuralValidator::Begin(ShaderValidatorCallback callback, void* context, DWORD) {
  m_begun = true;
  m_callback = callback;
  m_context = context;
  m_words.clear();
  m_groups.clear();
  m_checker = StreamChecker();
  m_delivered = 0;
  return S_OK;
}

HRESULT StructuralValidator::Instruction(const char* file, int line, const DWORD* tokens, DWORD count) {
  if (!m_begun) return D3DERR_INVALIDCALL;
  if (count && !tokens) return E_INVALIDARG;
  m_groups.push_back({m_words.size(), file ? file : "", line});
  m_words.insert(m_words.end(), tokens, tokens + count);
  const std::size_t first = m_checker.Messages().size();
  m_checker.Advance(m_words);
  return Deliver(first) ? E_FAIL : S_OK;
}

HRESULT StructuralValidator::End() {
  if (!m_begun) return D3DERR_INVALIDCALL;
  m_checker.Finish(m_words);
  Deliver(m_delivered);
  m_begun = false;
  return m_checker.Messages().empty() ? S_OK : E_FAIL;
}

bool StructuralValidator::Deliver(std::size_t first) {
  const auto& messages = m_checker.Messages();
  for (std::size_t i = m_delivered; i < messages.size(); ++i) {
    const ValidatorMessageRecord& m = messages[i];
    // The group the offending token came in gives the source position.
    auto g = std::upper_bound(m_groups.begin(), m_groups.end(), m.index,
                              [](std::size_t index, const Group& group) { return index < group.start; });
    const Group* group = g == m_groups.begin() ? nullptr : &*(g - 1);
    if (m_callback)
      m_callback(group ? group->file.c_str() : "", group ? group->line : 0, kValidatorMessageType, m.number,
                 m.text.c_str(), m_context);
  }
  m_delivered = messages.size();
  return messages.size() > first;
}

ShaderValidator9* CreateStructuralValidator() { return new (std::nothrow) StructuralValidator(); }

}  // namespace platform::shader

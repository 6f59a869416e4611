// The structured program against the flow-control limits of the version its
// code declares, before any token is written: a stream the validator would
// refuse is never emitted. Where kept loops are what does not fit, the
// front end is asked to unroll them and lower the program again; where
// nothing it could unroll helps, the compile ends with the limit's message.
#include <algorithm>
#include <cmath>
#include <unordered_map>
#include <vector>

#include "gxl/shader/backend/select/flow_control.h"
#include "gxl/shader/backend/select/select_util.h"
#include "gxl/shader/backend/targets/target_rules.h"
#include "gxl/shader/core/syntax_tree.h"

namespace gxl::shader {

namespace {

constexpr std::uint32_t kUnlimited = ~std::uint32_t{0};

// What a version allows: static flow-control instructions in all (if on a
// bool, rep and loop), loop and rep blocks nested, static blocks nested
// (2.x versions), and dynamic blocks nested (ifc, and a breakc counts one
// more level).
struct FlowLimits {
  std::uint32_t staticInstructions = kUnlimited;
  std::uint32_t loopDepth = 4;
  std::uint32_t staticDepth = kUnlimited;
  std::uint32_t dynamicDepth = 24;
};

FlowLimits LimitsOf(DWORD version) {
  FlowLimits l;
  const DWORD major = (version >> 8) & 0xFF, minor = version & 0xFF;
  if ((version >> 16) == 0xFFFE && major == 2 && minor == 0) {
    l.staticInstructions = 16;
    l.loopDepth = 1;
  }
  if (major == 2 && minor != 0) l.staticDepth = 4;
  return l;
}

bool IsLoopOpener(std::uint32_t g) { return g == flow::kLoop || g == flow::kRep; }
bool IsStaticOpener(std::uint32_t g) { return g == flow::kIf || g == flow::kIfNot || IsLoopOpener(g); }
bool IsDynamicOpener(std::uint32_t g) { return g >= flow::kIfCompare && g < flow::kElseCompare; }
bool IsBlockEnd(std::uint32_t g) { return g == flow::kEndIf || g == flow::kEndLoop || g == flow::kEndRep; }

struct OpenBlock {
  std::uint32_t at;  // the opener's position
  bool loop, isStatic;
  bool holdsFlow = false;  // a block opens inside it
  bool counted = false;    // a loop of a literal count short of the iteration limit
};

// A limit the program passes, where it first does.
enum class Limit { kNone, kStaticInstructions, kLoopDepth, kStaticDepth, kDynamicDepth };
struct Misfit {
  Limit limit = Limit::kNone;
  std::uint32_t value = 0;
  std::uint32_t at = kNoIndex;
};

void ReportMisfit(ShaderTarget& t, const Misfit& m) {
  // At the statement the emission walk would stand at (SetCurrentInstruction),
  // where the validator would have placed it: flow instructions carry their
  // statement node, which names no line.
  const ParseNode* at = nullptr;
  for (std::uint32_t i = 0; i <= m.at; ++i)
    if (const IrInstruction* inst = t.Instruction(i);
        inst && inst->sourcePosition && inst->sourcePosition->kind == NodeKind::Kind13)
      at = inst->sourcePosition;
  const int n = static_cast<int>(m.value);
  switch (m.limit) {
    case Limit::kStaticInstructions:
      GXL_SHADER_REPORT(t, at, msg::kTooManyStaticFlowInstructions, n);
      break;
    case Limit::kLoopDepth:
      GXL_SHADER_REPORT(t, at, msg::kLoopsNestedTooDeep, n);
      break;
    case Limit::kStaticDepth:
      GXL_SHADER_REPORT(t, at, msg::kStaticFlowNestedTooDeep, n);
      break;
    case Limit::kDynamicDepth:
      GXL_SHADER_REPORT(t, at, msg::kDynamicFlowNestedTooDeep, n);
      break;
    case Limit::kNone:
      break;
  }
}

// The loop blocks of one source loop and whether one of them holds other blocks.
struct LoopCopies {
  const ParseNode* loop;
  std::uint32_t blocks;
  bool holdsFlow;
};

}  // namespace

HRESULT ShaderTarget::FitFlowControl() {
  const FlowLimits limits = LimitsOf(versionToken);
  std::vector<OpenBlock> open;
  std::vector<LoopCopies> loops;
  std::vector<const ParseNode*> wanted;  // loops whose unrolling the program needs
  Misfit misfit;
  std::uint32_t statics = 0;
  auto note = [&](Limit limit, std::uint32_t value, std::uint32_t at) {
    if (misfit.limit == Limit::kNone) misfit = {limit, value, at};
  };
  auto innermostLoop = [&]() -> const ParseNode* {
    for (std::size_t k = open.size(); k-- > 0;)
      if (open[k].loop) return Instruction(open[k].at)->sourcePosition;
    return nullptr;
  };
  // The innermost loop of a known count (its unrolling can succeed), or the
  // innermost loop where none is: a loop of uniform length read inside
  // cannot be unrolled, a counted loop around it can.
  auto innermostCounted = [&]() -> const ParseNode* {
    for (std::size_t k = open.size(); k-- > 0;)
      if (open[k].counted) return Instruction(open[k].at)->sourcePosition;
    return innermostLoop();
  };
  auto want = [&](const ParseNode* loop) {
    if (loop && std::find(wanted.begin(), wanted.end(), loop) == wanted.end()) wanted.push_back(loop);
  };
  auto depth = [&](auto pick) { return static_cast<std::uint32_t>(std::count_if(open.begin(), open.end(), pick)); };

  for (std::uint32_t i = 0; i < instructions.Count(); ++i) {
    const IrInstruction* inst = Instruction(i);
    if (!inst || inst->word < 0x100000) continue;
    const std::uint32_t g = inst->Group();
    if (IsStaticOpener(g) || IsDynamicOpener(g)) {
      if (!open.empty()) open.back().holdsFlow = true;
      open.push_back({i, IsLoopOpener(g), IsStaticOpener(g)});
      open.back().counted = open.back().loop && inst->argumentCount && sel::IsAnyLiteral(*this, inst->arguments[0]) &&
                            Value(inst->arguments[0])->rangeLow != profileLimits.loopIterations;
      if (open.back().isStatic && ++statics > limits.staticInstructions)
        note(Limit::kStaticInstructions, limits.staticInstructions, i);
      if (open.back().loop) {
        const ParseNode* loop = inst->sourcePosition;
        auto same = [&](const LoopCopies& c) { return c.loop == loop; };
        auto found = std::find_if(loops.begin(), loops.end(), same);
        if (found == loops.end()) found = loops.insert(loops.end(), {loop, 0, false});
        ++found->blocks;
        if (depth([](const OpenBlock& b) { return b.loop; }) > limits.loopDepth) {
          note(Limit::kLoopDepth, limits.loopDepth, i);
          want(loop);
        }
      }
      if (open.back().isStatic && depth([](const OpenBlock& b) { return b.isStatic; }) > limits.staticDepth) {
        note(Limit::kStaticDepth, limits.staticDepth, i);
        want(innermostLoop());
      }
      if (!open.back().isStatic && depth([](const OpenBlock& b) { return !b.isStatic; }) > limits.dynamicDepth)
        note(Limit::kDynamicDepth, limits.dynamicDepth, i);
      continue;
    }
    if (IsBlockEnd(g)) {
      if (!open.empty()) {
        if (open.back().loop && open.back().holdsFlow) {
          const ParseNode* loop = Instruction(open.back().at)->sourcePosition;
          for (LoopCopies& c : loops) c.holdsFlow = c.holdsFlow || c.loop == loop;
        }
        open.pop_back();
      }
      continue;
    }
    // A breakc is one dynamic level deeper than the block it stands in.
    if (IsBreakCompare(g) && depth([](const OpenBlock& b) { return !b.isStatic; }) + 1 > limits.dynamicDepth) {
      note(Limit::kDynamicDepth, limits.dynamicDepth, i);
      want(innermostLoop());
    }
    // A relative read the version cannot address (in a pixel shader only
    // aL can) inside a kept loop: unrolled, its index is known each pass.
    for (std::uint32_t a = 0; a < inst->argumentCount && innermostLoop(); ++a) {
      const IrValue* v = Value(inst->arguments[a]);
      if (v && v->relativeIndex != kNoIndex && !CanWriteRelativeIndex(*this, v->relativeIndex)) {
        want(innermostCounted());
        break;
      }
    }
  }

  // Too many static instructions: the loops with the most copies first,
  // those that hold no other block before those that do (unrolling those
  // repeats what they hold), until the rest fits.
  if (statics > limits.staticInstructions) {
    std::stable_sort(loops.begin(), loops.end(), [](const LoopCopies& a, const LoopCopies& b) {
      return a.holdsFlow != b.holdsFlow ? !a.holdsFlow : a.blocks > b.blocks;
    });
    std::uint32_t left = statics;
    for (const LoopCopies& c : loops) {
      if (left <= limits.staticInstructions) break;
      if (loopUnrolling && loopUnrolling->Unrolls(c.loop)) continue;
      want(c.loop);
      left -= std::min(left, c.blocks);
    }
  }

  if (loopUnrolling && loopUnrolling->more) {
    loopUnrolling->requested.Clear();
    for (const ParseNode* loop : wanted)
      if (!loopUnrolling->Unrolls(loop) && !loopUnrolling->requested.Append(loop)) return E_OUTOFMEMORY;
    if (!loopUnrolling->requested.Empty()) return S_FALSE;
  }
  if (misfit.limit == Limit::kNone) return S_OK;  // a read left unaddressable is reported where it is written
  ReportMisfit(*this, misfit);
  return E_FAIL;
}

namespace {

// A kept loop at the profile's iteration limit left through one break on
// `counter < k`, k known in this copy: the loop mapping counts such a loop
// by k. The lowering's forms of that test: counter - k >= 0 selecting 0, or
// the comparison itself (under -m < m, m the comparison or its magnitude,
// where the version compares). The bound, or NaN.
double BreakBound(const ShaderTarget& t, const IrInstruction& brk) {
  auto known = [&](std::uint32_t value, double* x) {
    const IrValue* v = t.Value(value);
    if (!v || !(v->flags & kValueConstant) || v->rangeLow != v->rangeHigh) return false;
    *x = v->rangeLow;
    return true;
  };
  std::uint32_t value = brk.argumentCount == 1 ? brk.arguments[0] : kNoIndex;
  for (int step = 0; step < 4 && value != kNoIndex; ++step) {
    const IrValue* v = t.Value(value);
    const IrInstruction* d = v && v->definingPosition != kNoIndex ? t.Instruction(v->definingPosition) : nullptr;
    if (!d || d->Width() != 1) break;
    double k = 0;
    switch (d->Group()) {
      case kOpSelect:
        if (d->argumentCount != 3 || !sel::IsLiteral(t, d->arguments[1], 0) || !sel::IsLiteral(t, d->arguments[2], 1))
          return std::nan("");
        value = d->arguments[0];
        continue;
      case kOpAdd:
        if (d->argumentCount == 2 && !known(d->arguments[0], &k) && known(d->arguments[1], &k)) return -k;
        return std::nan("");
      case kOpMax:  // max(c, -c): the comparison's magnitude
        value = d->argumentCount == 2 ? d->arguments[0] : kNoIndex;
        continue;
      case kOpLess:
        if (d->argumentCount != 2) return std::nan("");
        if (!known(d->arguments[0], &k) && known(d->arguments[1], &k)) return k;
        value = d->arguments[1];
        continue;
      default:
        return std::nan("");
    }
  }
  return std::nan("");
}

}  // namespace

// Each kept loop takes an integer constant register for its count (with
// its start and step), so loops of different counts cannot share one. The
// optimiser may still change a count: a break always taken leaves 1, and
// the loop mapping counts a loop at the iteration limit anew from its
// break. The counts of loops without a break are a lower bound on the
// registers the code needs, seen before the phases whose work grows with
// the kept loops' bodies: past the registers, the program is refused at
// once. Where the front end can unroll loops, it is asked to already where
// the counts the mapping would give (from breaks against bounds known in
// each copy) pass the registers.
HRESULT ShaderTarget::FitLoopRegisters() {
  const std::uint32_t registers = profileLimits.integerConstants;
  if (!registers || !profileLimits.word13) return S_OK;
  struct Kept {
    std::uint32_t loop;  // the source loop, by first appearance
    double count;
    bool fixed;  // no break
    std::uint32_t breaks = 0;
  };
  std::vector<Kept> kept;
  std::vector<const ParseNode*> loops;
  std::unordered_map<const ParseNode*, std::uint32_t> ordinal;
  std::vector<std::size_t> open;  // positions in `kept`
  const std::uint32_t n = instructions.Count();
  if (FAILED(ChargeWork(n))) return E_FAIL;
  for (std::uint32_t i = 0; i < n; ++i) {
    const IrInstruction* inst = Instruction(i);
    if (!inst || inst->word < 0x100000) continue;
    const std::uint32_t g = inst->Group();
    if (g == kOpLoopBegin) {
      const std::uint32_t c = inst->argumentCount ? inst->arguments[0] : kNoIndex;
      const bool literal = c != kNoIndex && sel::IsAnyLiteral(*this, c);
      const auto [at, added] = ordinal.emplace(inst->sourcePosition, static_cast<std::uint32_t>(loops.size()));
      if (added) loops.push_back(inst->sourcePosition);
      open.push_back(kept.size());
      kept.push_back({at->second, literal ? Value(c)->rangeLow : std::nan(""), literal});
    } else if (g == kOpBreak && !open.empty()) {
      Kept& k = kept[open.back()];
      k.fixed = false;
      // A second break leaves the loop uncounted.
      k.count = ++k.breaks == 1 && k.count == profileLimits.loopIterations ? BreakBound(*this, *inst) : std::nan("");
    } else if (g == kOpLoopEnd && !open.empty()) {
      open.pop_back();
    }
  }
  // The distinct counts: of the loops without a break, and with the counts
  // the mapping would give.
  auto distinct = [&](bool all) {
    std::vector<double> counts;
    for (const Kept& k : kept)
      if ((k.fixed || all) && !std::isnan(k.count) && k.count != profileLimits.loopIterations)
        counts.push_back(k.count);
    std::sort(counts.begin(), counts.end());
    return static_cast<std::uint32_t>(std::unique(counts.begin(), counts.end()) - counts.begin());
  };
  const bool ask = loopUnrolling && loopUnrolling->more;
  const std::uint32_t needed = distinct(ask);
  if (needed <= registers) return S_OK;
  if (ask) {
    // The source loops whose copies hold the most counts first, until the
    // rest fits.
    std::vector<std::pair<std::uint32_t, double>> pairs;
    for (const Kept& k : kept)
      if (!std::isnan(k.count) && k.count != profileLimits.loopIterations) pairs.emplace_back(k.loop, k.count);
    std::sort(pairs.begin(), pairs.end());
    pairs.erase(std::unique(pairs.begin(), pairs.end()), pairs.end());
    std::vector<std::pair<std::uint32_t, const ParseNode*>> byCounts;
    for (std::size_t i = 0; i < pairs.size();) {
      std::size_t j = i;
      while (j < pairs.size() && pairs[j].first == pairs[i].first) ++j;
      const ParseNode* loop = loops[pairs[i].first];
      if (loop && !loopUnrolling->Unrolls(loop)) byCounts.emplace_back(static_cast<std::uint32_t>(j - i), loop);
      i = j;
    }
    std::stable_sort(byCounts.begin(), byCounts.end(), [](const auto& a, const auto& b) { return a.first > b.first; });
    loopUnrolling->requested.Clear();
    std::uint32_t left = needed;
    for (const auto& [own, loop] : byCounts) {
      if (left <= registers) break;
      if (!loopUnrolling->requested.Append(loop)) return E_OUTOFMEMORY;
      left -= std::min(left, own);
    }
    if (!loopUnrolling->requested.Empty()) return S_FALSE;
    // Nothing left to unroll: the registers decide only on the counts known.
    if (distinct(false) <= registers) return S_OK;
  }
  return ReportRegisterLimit('i', 2, nullptr);
}

}  // namespace gxl::shader

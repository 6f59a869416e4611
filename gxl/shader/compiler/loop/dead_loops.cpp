// Loops whose work nothing reads: every variable a loop writes is a local of
// the function lowering it that nothing outside the loop reads, and nothing
// else it does outlives it (no return, discard or clip, no write of a global
// or static variable, no output parameter). Such a loop's code is not kept:
// its unrolling or simulation could cost far more than the program, only
// for dead-code removal to drop what it made. It is lowered for its
// messages alone (the rehearsals below). Decided on the syntax tree, once
// per loop; every answer errs towards "the loop matters".
#include <algorithm>
#include <cstring>

#include "gxl/shader/compiler/loop/loop_facts.h"
#include "gxl/shader/compiler/loop/loop_state.h"
#include "gxl/shader/compiler/loop/loop_walk.h"
#include "gxl/shader/compiler/shader_compiler.h"
#include "gxl/shader/hlsl/hlsl_intrinsics.h"
#include "gxl/shader/hlsl/hlsl_parser.h"

namespace gxl::shader {

namespace {

using loopwalk::IsWrite;
using loopwalk::kMaxCallDepth;
using loopwalk::kMaxDepth;

// A variable that lives past the call of the function declaring it.
bool Lasting(const ParseNodeKind11& v) {
  return v.extra == kScopeGlobal || (v.storage & (kUsageStatic | kUsageUniform | kUsageExtern | kUsageShared));
}

class DeadLoopCheck {
 public:
  DeadLoopCheck(ShaderCompiler& compiler, PodArray<std::uint8_t>& written) : m_c(compiler), m_written(written) {}

  // True when nothing `node` does outlives the loop but writes of locals of
  // the function lowering it, whose slots are marked. Inside a called
  // function (`called`) the writes of its own locals die with the call.
  bool Effects(const ParseNode* node, bool called, std::uint32_t depth = 0, std::uint32_t calls = 0) {
    if (!node) return true;
    if (depth > kMaxDepth) return false;
    switch (node->kind) {
      case NodeKind::List:
        return Effects(node->first, called, depth + 1, calls) && Effects(node->second, called, depth + 1, calls);
      case NodeKind::Statement: {
        const auto* s = static_cast<const StatementNode*>(node);
        if (s->code == kStatementDiscard || (s->code == kStatementReturn && !called)) return false;
        for (const ParseNode* child : s->children)
          if (!Effects(child, called, depth + 1, calls)) return false;
        return true;
      }
      case NodeKind::Declaration: {
        const auto* d = static_cast<const DeclarationNode*>(node);
        if (d->declClass != kDeclVariable) return d->declClass == kDeclType;
        const ParseNodeKind11* v = VariableDescription(d);
        if (!v || Lasting(*v) || (!called && !Mark(m_c.SlotOf(v), v->valueCount))) return false;
        return Initialisers(*v, [&](const ParseNode* child) { return Effects(child, called, depth + 1, calls); });
      }
      case NodeKind::Kind13: {
        const auto* e = static_cast<const ParseNodeKind13*>(node);
        switch (e->op) {
          case kExprCompile:
            return false;
          case kExprCall: {
            const char* name = nullptr;
            const ParseNodeKind10* f = m_c.FindEntryPointByDeclaration(e->left, &name);
            if (!f || !f->hasBody || f->lowering || calls >= kMaxCallDepth || !Effects(f->body, true, depth + 1, calls + 1))
              return false;
            return Effects(e->right, called, depth + 1, calls);
          }
          case kExprIntrinsic: {
            const auto* fn = e->left && e->left->kind == NodeKind::Expression
                                 ? static_cast<const ExpressionNode*>(e->left)
                                 : nullptr;
            const auto* row = fn && fn->value.subKind == kValueFunction
                                  ? static_cast<const IntrinsicRecord*>(fn->value.address)
                                  : nullptr;
            // clip discards; an intrinsic without a lowering reports it.
            if (!row || row->id >= kIntrinsicIdCount || row->id == kIntrinsicClip) return false;
            return Effects(e->right, called, depth + 1, calls);
          }
          default:
            break;
        }
        if (IsWrite(e->op)) {
          const ExpressionNode* leaf = Base(e->left, [&](const ParseNode* index) {
            return Effects(index, called, depth + 1, calls);
          });
          const ParseNodeKind11* v = leaf ? Variable(*leaf) : nullptr;
          if (!v || Lasting(*v) || (!called && !Mark(Slot(*leaf, *v), leaf->value.third))) return false;
          return Effects(e->right, called, depth + 1, calls);
        }
        return Effects(e->left, called, depth + 1, calls) && Effects(e->right, called, depth + 1, calls);
      }
      case NodeKind::Expression:
        return static_cast<const ExpressionNode*>(node)->value.subKind != kValueNode;
      default:
        return false;
    }
  }

  // True when `node`, apart from `loop`, may read a marked slot (or holds
  // something the walk does not understand).
  bool ReadsMarked(const ParseNode* node, const ParseNode* loop, std::uint32_t depth = 0) {
    if (!node || node == loop) return false;
    if (depth > kMaxDepth) return true;
    switch (node->kind) {
      case NodeKind::List:
        return ReadsMarked(node->first, loop, depth + 1) || ReadsMarked(node->second, loop, depth + 1);
      case NodeKind::Statement: {
        const auto* s = static_cast<const StatementNode*>(node);
        for (const ParseNode* child : s->children)
          if (ReadsMarked(child, loop, depth + 1)) return true;
        return false;
      }
      case NodeKind::Declaration: {
        const auto* d = static_cast<const DeclarationNode*>(node);
        if (d->declClass != kDeclVariable) return d->declClass != kDeclType;
        const ParseNodeKind11* v = VariableDescription(d);
        return !v || !Initialisers(*v, [&](const ParseNode* child) { return !ReadsMarked(child, loop, depth + 1); });
      }
      case NodeKind::Kind13: {
        const auto* e = static_cast<const ParseNodeKind13*>(node);
        // A plain assignment reads only the indexes of what it writes; a
        // call's own body reads no local of its caller.
        if (e->op == kExprAssign || e->op == kExprInitialise) {
          bool read = false;
          const ExpressionNode* leaf = Base(e->left, [&](const ParseNode* index) {
            read = read || ReadsMarked(index, loop, depth + 1);
            return true;
          });
          return read || !leaf || ReadsMarked(e->right, loop, depth + 1);
        }
        if (e->op == kExprCall || e->op == kExprIntrinsic) return ReadsMarked(e->right, loop, depth + 1);
        return ReadsMarked(e->left, loop, depth + 1) || ReadsMarked(e->right, loop, depth + 1);
      }
      case NodeKind::Expression: {
        const auto& leaf = *static_cast<const ExpressionNode*>(node);
        if (leaf.value.subKind == kValueNode) return true;
        if (leaf.value.subKind != kValueVariable) return false;
        const ParseNodeKind11* v = Variable(leaf);
        return v && Marked(Slot(leaf, *v), leaf.value.third);
      }
      default:
        return true;
    }
  }

  bool Marked(std::uint32_t slot, std::uint32_t count) const {
    if (slot == kNoIndex || slot >= m_written.Size()) return false;
    const std::uint32_t end = static_cast<std::uint32_t>(std::min<std::uint64_t>(std::uint64_t{slot} + count,
                                                                                   m_written.Size()));
    return std::any_of(m_written.Data() + slot, m_written.Data() + end, [](std::uint8_t x) { return x != 0; });
  }

 private:
  bool Mark(std::uint32_t slot, std::uint32_t count) {
    if (slot == kNoIndex || slot >= m_written.Size() || count > m_written.Size() - slot) return false;
    std::fill_n(m_written.Data() + slot, count, std::uint8_t{1});
    return true;
  }

  // Walks the initialisers of a variable's declaration with `walk`.
  template <class Walk>
  static bool Initialisers(const ParseNodeKind11& v, Walk walk) {
    for (const ParseNode* child : v.nodes)
      if (child &&
          (child->kind == NodeKind::Kind13 || child->kind == NodeKind::Expression || child->kind == NodeKind::List) &&
          !walk(child))
        return false;
    return true;
  }

  // The variable a written operand names, through its swizzles, members and
  // indexes (each index handed to `index`); null when not understood.
  template <class Index>
  static const ExpressionNode* Base(const ParseNode* node, Index index) {
    for (std::uint32_t depth = 0; node && depth <= kMaxDepth; ++depth) {
      if (node->kind == NodeKind::Expression) {
        const auto* leaf = static_cast<const ExpressionNode*>(node);
        return leaf->value.subKind == kValueVariable ? leaf : nullptr;
      }
      const ParseNodeKind13* e = AsExpression(node);
      if (!e) return nullptr;
      if (e->op == kExprIndex) {
        if (!index(e->right)) return nullptr;
      } else if (e->op != kExprSelect && !(e->op == kExprValue && !e->right)) {
        return nullptr;
      }
      node = e->left;
    }
    return nullptr;
  }

  static const ParseNodeKind11* Variable(const ExpressionNode& leaf) {
    const ParseNode* v = leaf.value.node;
    return v && v->kind == NodeKind::Kind11 ? static_cast<const ParseNodeKind11*>(v) : nullptr;
  }

  std::uint32_t Slot(const ExpressionNode& leaf, const ParseNodeKind11& v) const {
    return leaf.value.word != kNoSlot ? leaf.value.word : m_c.SlotOf(&v);
  }

  ShaderCompiler& m_c;
  PodArray<std::uint8_t>& m_written;
};

}  // namespace

bool ShaderCompiler::LoopIsDead(const ParseNode* loop) {
  if (!loop || !m_function) return false;
  for (std::size_t i = 0; i < m_loop->deadLoops.Size(); ++i)
    if (m_loop->deadLoops[i].loop == loop) return m_loop->deadLoops[i].dead;
  PodArray<std::uint8_t> written;
  if (!written.Reserve(valueMap.Size())) return false;
  for (std::size_t s = 0; s < valueMap.Size(); ++s) written.Append(0);
  DeadLoopCheck check(*this, written);
  bool dead = check.Effects(loop, false) && !check.ReadsMarked(m_function->body, loop);
  // Output parameters are read when the function ends.
  for (const ParseNode* p = m_function->parameters; dead && p && p->kind == NodeKind::List; p = p->second) {
    const ParseNodeKind11* v = VariableDescription(p->first);
    dead = v && !((v->storage & kUsageOut) && check.Marked(SlotOf(v), v->valueCount));
  }
  if (!m_loop->deadLoops.Append(DeadLoop{loop, dead})) return false;
  return dead;
}

// --- Rehearsals of dead loops -------------------------------------------------------------
//
// A dead loop's code is not kept, but its messages are the program's: a
// function it calls that returns no value is an error whether or not its
// result is read. So the loop is lowered as a live one, its messages caught,
// and everything it built thrown away; the messages are then delivered as
// the full lowering would have given them. Where that takes more than
// kDeadLoopWork (what made the loop worth skipping: an unrolling or a
// simulation that multiplies its nested loops), or an unrolling in it runs
// to the iteration limit, each loop of it is lowered instead for its first
// pass alone, which finds every fault that does not depend on a later pass.

void ShaderCompiler::Catch(const SourceToken* at, MessageSeverity severity, std::uint32_t code, const char* text,
                           bool held) {
  CaughtMessages& c = *m_caught;
  // A message held by a rehearsal inside the caught lowering is that
  // rehearsal's to count and take back (an index it tries one pass past
  // those that run): delivered again, it would count and set the error flag
  // with no line, where the lowering it stands for took it back.
  if (m_heldMessages > c.outerHolds) return;
  const std::size_t offset = c.texts.Size();
  if (c.texts.Append(text, std::strlen(text) + 1) &&
      c.lines.Append(CaughtMessages::Line{at, severity, code, offset, held}))
    return;
  c.texts.Truncate(offset);
  c.lost = true;
}

namespace {

// The work a dead loop's rehearsal as a live loop may take: what the compile
// has left, up to `cap`. The rehearsal is metered even where the work around
// it is not (a memo check's), so that it ends the same way there.
class WorkAllowance {
 public:
  WorkAllowance(ShaderCompiler& c, std::uint64_t cap)
      : m_c(c), m_t(*c.target), m_left(m_t.workLeft), m_built(c.loweringBuilt), m_unmetered(m_t.unmeteredWork),
        m_hold(m_t.holdWorkReport), m_reported(m_t.workReported) {
    m_allowance = m_unmetered ? cap : std::min(m_left, cap);
    m_t.workLeft = m_allowance;
    m_t.unmeteredWork = 0;
    m_t.holdWorkReport = true;
  }
  ~WorkAllowance() {
    const std::uint64_t spent = m_allowance - std::min(m_t.workLeft, m_allowance);
    m_t.unmeteredWork = m_unmetered;
    m_t.holdWorkReport = m_hold;
    m_t.workReported = m_reported;
    // Past the allowance the compile goes on, with what it has left.
    m_t.workExhausted = false;
    if (m_unmetered) {
      m_t.workLeft = m_left;
      m_c.loweringBuilt = m_built;
    } else {
      m_t.workLeft = m_left - spent;
    }
  }
  WorkAllowance(const WorkAllowance&) = delete;
  WorkAllowance& operator=(const WorkAllowance&) = delete;

 private:
  ShaderCompiler& m_c;
  ShaderProgram& m_t;
  std::uint64_t m_left, m_built, m_allowance;
  std::uint32_t m_unmetered;
  bool m_hold, m_reported;
};

}  // namespace

HRESULT ShaderCompiler::LowerDeadLoop(const ParseNode* node, const ParseNode* init, const ParseNode* condition,
                                      const ParseNode* body, const ParseNode* step) {
  if (target->workExhausted) return E_FAIL;
  // Inside a simulation or a covering pass it costs nothing: it changes no
  // fact they find, and its messages are given where the loop around it is
  // lowered for its code.
  if (m_loop->exactSimulations || m_loop->coverPasses) return S_OK;
  LoweringMark mark(*this);
  if (!mark.Saved()) return OutOfMemory(node);
  CaughtMessages caught;
  HRESULT hr = S_OK;
  bool exact = false;
  // Its simulations are not covered: past its own bound it takes each
  // loop's first pass instead, and so wherever it is met again once it was
  // rehearsed (an unrolling around it lowers it at each of its passes).
  const ParseNode** const seen = m_loop->rehearsedDeadLoops.Data() + m_loop->rehearsedDeadLoops.Size();
  const bool rehearsed = std::find(m_loop->rehearsedDeadLoops.Data(), seen, node) != seen;
  const OpenCount rehearsing(m_loop->deadRehearsals);
  if (!rehearsed) {
    // (A 32nd of the lowering's bound, where tests cut it.)
    const WorkAllowance allowance(*this, std::min(loops::kDeadLoopWork, kLoweringWork * loweringBuildLimit / 32));
    const MessageCatch catching(*this, caught);
    const std::uint32_t refusals = m_loop->endlessRefusals;
    hr = LowerLiveLoop(node, init, condition, body, step);
    const std::uint32_t refused = m_loop->endlessRefusals - refusals;
    exact = !target->workExhausted && refused == 0;
    if (!m_loop->rehearsedDeadLoops.Append(node)) return OutOfMemory(node);
    // The loop's own unrolling refused after its first pass, which is all
    // the full lowering gives besides the refusal; a dead loop may be endless.
    if (!target->workExhausted && refused == 1 && m_loop->lastEndless == node) {
      exact = true;
      hr = S_OK;
      for (std::size_t i = caught.lines.Size(); i-- > 0;)
        if (caught.lines[i].code == msg::kLoopDoesNotTerminate.code) {
          caught.texts.Truncate(caught.lines[i].text);
          caught.lines.Truncate(i);
          break;
        }
    }
  }
  if (!exact) {
    mark.RollBack();
    caught.lines.Clear();
    caught.texts.Clear();
    const MessageCatch catching(*this, caught);
    ++m_loop->firstPassOnly;
    hr = LowerLiveLoop(node, init, condition, body, step);
    --m_loop->firstPassOnly;
  }
  const bool exhausted = target->workExhausted;
  mark.RollBack();
  // Past the compile's whole budget it ends with the bound's message alone.
  if (exhausted) return E_FAIL;
  for (std::size_t i = 0; i < caught.lines.Size(); ++i) {
    const CaughtMessages::Line& line = caught.lines[i];
    Deliver(line.at, line.severity, line.code, caught.texts.Data() + line.text, line.held);
  }
  if (caught.lost) return OutOfMemory(node);
  return hr;
}

}  // namespace gxl::shader

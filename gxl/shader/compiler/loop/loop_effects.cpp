// What the parts of a loop read and may write, from the syntax tree alone:
// whether a loop's condition and step decide its trip count without its
// body, so that an unrolling can count its iterations before it builds the
// bodies. Every answer errs towards "the body matters".
#include <algorithm>
#include <initializer_list>
#include <vector>

#include "gxl/shader/compiler/loop/loop_walk.h"
#include "gxl/shader/compiler/shader_compiler.h"
#include "gxl/shader/hlsl/hlsl_parser.h"

namespace gxl::shader {

namespace {

using loopwalk::IsWrite;
using loopwalk::kMaxCallDepth;
using loopwalk::kMaxDepth;

// Nodes a walk visits per unit of work: some 3 ns each, a quarter of what
// the lowering spends per instruction it builds.
constexpr std::uint64_t kVisitsPerUnit = 4;

class LoopEffects {
 public:
  LoopEffects(ShaderCompiler& compiler, PodArray<std::uint8_t>& read, bool endsEarly,
              const PodArray<std::uint8_t>* written = nullptr, const PodArray<std::uint8_t>* stepped = nullptr,
              PodArray<const ParseNode*>* indexes = nullptr)
      : m_compiler(compiler), m_read(read), m_endsEarly(endsEarly), m_written(written), m_stepped(stepped),
        m_indexes(indexes) {}
  // The walk's nodes, owed to the compile's cap: a deep nest walks its
  // bodies once per pass of the loops around them.
  ~LoopEffects() {
    if (m_compiler.target) m_compiler.target->OweCap((m_visits + kVisitsPerUnit - 1) / kVisitsPerUnit);
  }
  LoopEffects(const LoopEffects&) = delete;
  LoopEffects& operator=(const LoopEffects&) = delete;

  // Marks the slots of every variable `node` writes or declares; false where
  // a part of it is not understood (a call, which may write through its
  // arguments; an unknown node).
  bool Writes(const ParseNode* node, std::uint32_t depth = 0) {
    ++m_visits;
    if (!node) return true;
    if (depth > kMaxDepth) return false;
    switch (node->kind) {
      case NodeKind::List:
        // Along the list without going deeper: a long body is no deep one.
        for (; node && node->kind == NodeKind::List; node = node->second)
          if (!Writes(node->first, depth + 1)) return false;
        return Writes(node, depth + 1);
      case NodeKind::Statement: {
        const auto* s = static_cast<const StatementNode*>(node);
        for (const ParseNode* child : s->children)
          if (!Writes(child, depth + 1)) return false;
        return true;
      }
      case NodeKind::Declaration:
        return Declares(node, depth, &LoopEffects::Writes);
      case NodeKind::Kind13: {
        const auto* e = static_cast<const ParseNodeKind13*>(node);
        if (e->op == kExprCall) return Calls(*e, depth, &LoopEffects::Writes);
        if (e->op == kExprCompile) return false;
        if (IsWrite(e->op) && !Read(e->left, depth + 1)) return false;
        return (e->op == kExprIntrinsic || Writes(e->left, depth + 1)) && Writes(e->right, depth + 1);
      }
      case NodeKind::Expression:
        return static_cast<const ExpressionNode*>(node)->value.subKind != kValueNode;
      default:
        return false;
    }
  }

  // Marks the slots of every variable `node` reads; false where a part of it
  // is not understood (a call of a function, an unknown node).
  bool Read(const ParseNode* node, std::uint32_t depth = 0) {
    ++m_visits;
    if (!node) return true;
    if (depth > kMaxDepth) return false;
    switch (node->kind) {
      case NodeKind::List:
        // Along the list without going deeper: a long body is no deep one.
        for (; node && node->kind == NodeKind::List; node = node->second)
          if (!Read(node->first, depth + 1)) return false;
        return Read(node, depth + 1);
      case NodeKind::Statement: {
        const auto* s = static_cast<const StatementNode*>(node);
        for (const ParseNode* child : s->children)
          if (!Read(child, depth + 1)) return false;
        return true;
      }
      case NodeKind::Kind13: {
        const auto* e = static_cast<const ParseNodeKind13*>(node);
        if (e->op == kExprCall && m_components) return Calls(*e, depth, &LoopEffects::Touches);
        if (e->op == kExprCall || e->op == kExprCompile) return false;
        if (m_components && e->op == kExprSelect && Picks(*e)) return true;
        // An intrinsic's first operand names the function.
        return (e->op == kExprIntrinsic || Read(e->left, depth + 1)) && Read(e->right, depth + 1);
      }
      case NodeKind::Expression: {
        std::uint32_t first, count;
        if (!Slots(*static_cast<const ExpressionNode*>(node), &first, &count)) return false;
        std::fill_n(m_read.Data() + first, count, std::uint8_t{1});
        return true;
      }
      default:
        return false;
    }
  }

  // From now on a swizzle of a variable itself reads or writes only the
  // components it picks.
  void ByComponents() { m_components = true; }

  // Marks the slots of every variable `node` names or declares, of a
  // swizzled variable only the components picked; false where a part of it
  // is not understood (a call of a function, an unknown node).
  bool Touches(const ParseNode* node, std::uint32_t depth = 0) {
    ByComponents();
    ++m_visits;
    if (!node) return true;
    if (depth > kMaxDepth) return false;
    switch (node->kind) {
      case NodeKind::List:
        // Along the list without going deeper: a long body is no deep one.
        for (; node && node->kind == NodeKind::List; node = node->second)
          if (!Touches(node->first, depth + 1)) return false;
        return Touches(node, depth + 1);
      case NodeKind::Statement: {
        const auto* s = static_cast<const StatementNode*>(node);
        for (const ParseNode* child : s->children)
          if (!Touches(child, depth + 1)) return false;
        return true;
      }
      case NodeKind::Declaration:
        return Declares(node, depth, &LoopEffects::Touches);
      case NodeKind::Kind13:
      case NodeKind::Expression:
        return Read(node, depth);
      default:
        return false;
    }
  }

  // True when nothing `node` does can change what was marked read, end the
  // unrolling early (a return, a discard, an index that may fall outside its
  // array; allowed with `endsEarly`) or escape the walk (an unknown node).
  bool Keeps(const ParseNode* node, std::uint32_t depth = 0, std::uint32_t calls = 0) {
    ++m_visits;
    if (!node) return true;
    if (depth > kMaxDepth) return false;
    switch (node->kind) {
      case NodeKind::List:
        // Along the list without going deeper: a long body is no deep one.
        for (; node && node->kind == NodeKind::List; node = node->second)
          if (!Keeps(node->first, depth + 1, calls)) return false;
        return Keeps(node, depth + 1, calls);
      case NodeKind::Statement: {
        const auto* s = static_cast<const StatementNode*>(node);
        if (!m_endsEarly && (s->code == kStatementReturn || s->code == kStatementDiscard)) return false;
        for (const ParseNode* child : s->children)
          if (!Keeps(child, depth + 1, calls)) return false;
        return true;
      }
      case NodeKind::Declaration: {
        // A local's own slots are new; its initialiser is walked.
        const ParseNodeKind11* v = VariableDescription(node);
        if (!v) return false;
        for (const ParseNode* child : v->nodes)
          if (child && (child->kind == NodeKind::Kind13 || child->kind == NodeKind::Expression ||
                        child->kind == NodeKind::List) &&
              !Keeps(child, depth + 1, calls))
            return false;
        return true;
      }
      case NodeKind::Kind13: {
        const auto* e = static_cast<const ParseNodeKind13*>(node);
        if ((e->op == kExprIndex && !m_endsEarly && !Fixed(e, depth + 1)) || e->op == kExprCompile) return false;
        if (m_written && e->op == kExprCall) return false;
        if (IsWrite(e->op) && !Unmarked(e->left, depth + 1)) return false;
        if (e->op == kExprCall) {
          const char* name = nullptr;
          const ParseNodeKind10* function = m_compiler.FindEntryPointByDeclaration(e->left, &name);
          if (!function || calls >= kMaxCallDepth || !Keeps(function->body, depth + 1, calls + 1)) return false;
          return Keeps(e->right, depth + 1, calls);
        }
        return (e->op == kExprIntrinsic || Keeps(e->left, depth + 1, calls)) && Keeps(e->right, depth + 1, calls);
      }
      case NodeKind::Expression:
        return static_cast<const ExpressionNode*>(node)->value.subKind != kValueNode;
      default:
        return false;
    }
  }

 private:
  // With calls followed: the called function's parameters and return value
  // (which the call writes) marked, and its body and the call's arguments
  // walked with `walk`; false otherwise, or where the callee is not found.
  bool Calls(const ParseNodeKind13& e, std::uint32_t depth,
             bool (LoopEffects::*walk)(const ParseNode*, std::uint32_t)) {
    if (!m_followCalls || m_calls >= kMaxCallDepth || depth > kMaxDepth) return false;
    const char* name = nullptr;
    const ParseNodeKind10* function = m_compiler.FindEntryPointByDeclaration(e.left, &name);
    if (!function) return false;
    auto mark = [this](std::uint32_t first, std::uint32_t count) {
      if (first == kNoSlot || first >= m_read.Size() || count > m_read.Size() - first) return false;
      std::fill_n(m_read.Data() + first, count, std::uint8_t{1});
      return true;
    };
    for (const ParseNode* p = function->parameters; p && p->kind == NodeKind::List; p = p->second) {
      const ParseNodeKind11* v = VariableDescription(p->first);
      if (!v || !mark(m_compiler.SlotOf(v), v->valueCount)) return false;
    }
    if (function->returnComponents && !mark(function->returnSlot, function->returnComponents)) return false;
    ++m_calls;
    const bool known = (this->*walk)(function->body, depth + 1) && (this->*walk)(e.right, depth + 1);
    --m_calls;
    return known;
  }

  // Marks a declaration's slots and walks its initialiser with `walk`.
  bool Declares(const ParseNode* node, std::uint32_t depth,
                bool (LoopEffects::*walk)(const ParseNode*, std::uint32_t)) {
    const ParseNodeKind11* v = VariableDescription(node);
    const std::uint32_t slot = v ? m_compiler.SlotOf(v) : kNoSlot;
    if (slot == kNoSlot || slot >= m_read.Size() || v->valueCount > m_read.Size() - slot) return false;
    std::fill_n(m_read.Data() + slot, v->valueCount, std::uint8_t{1});
    for (const ParseNode* child : v->nodes)
      if (child &&
          (child->kind == NodeKind::Kind13 || child->kind == NodeKind::Expression || child->kind == NodeKind::List) &&
          !(this->*walk)(child, depth + 1))
        return false;
    return true;
  }

  // A swizzle of a variable itself: marks the components it picks; false
  // for any other selection (a member, a swizzle of an expression).
  bool Picks(const ParseNodeKind13& e) {
    std::uint32_t first, picked[4], n = 0;
    if (!Picked(e, &first, picked, &n)) return false;
    for (std::uint32_t i = 0; i < n; ++i) m_read[first + picked[i]] = 1;
    return true;
  }

  // The slots a swizzle of a variable itself picks (at `first` + each of
  // `picked`); false for any other selection.
  bool Picked(const ParseNodeKind13& e, std::uint32_t* first, std::uint32_t (&picked)[4], std::uint32_t* n) const {
    const ParseNode* operand = e.left;
    for (const ParseNodeKind13* v = AsExpression(operand); v && v->op == kExprValue && !v->right;
         v = AsExpression(operand))
      operand = v->left;
    if (!operand || operand->kind != NodeKind::Expression || !e.right || e.right->kind != NodeKind::List) return false;
    std::uint32_t count;
    if (!Slots(*static_cast<const ExpressionNode*>(operand), first, &count) || count == 0) return false;
    *n = 0;
    for (const ParseNode* cell = e.right; cell; cell = cell->second) {
      const ParseNode* item = cell->kind == NodeKind::List ? cell->first : nullptr;
      if (*n == 4 || !item || item->kind != NodeKind::Expression) return false;
      const ExpressionValue& k = static_cast<const ExpressionNode*>(item)->value;
      if (k.subKind != kComponentUint || k.integer >= count) return false;
      picked[(*n)++] = k.integer;
    }
    return *n > 0;
  }

  // The slots a variable leaf names; literals name none.
  bool Slots(const ExpressionNode& leaf, std::uint32_t* first, std::uint32_t* count) const {
    const ExpressionValue& v = leaf.value;
    *first = *count = 0;
    if (v.subKind == kValueNode || v.subKind == kValueCode) return false;
    if (v.subKind != kValueVariable) return true;
    std::uint32_t slot = v.word;
    if (slot == kNoSlot && v.node && v.node->kind == NodeKind::Kind11)
      slot = m_compiler.SlotOf(static_cast<const ParseNodeKind11*>(v.node));
    if (slot == kNoSlot || slot >= m_read.Size() || v.third > m_read.Size() - slot) return false;
    *first = slot;
    *count = v.third;
    return true;
  }

  // Whether an index's operand reads nothing the body writes: then its range
  // is the same in every iteration, or (where it reads what the step writes)
  // follows the step alone, and the index is collected for the rehearsal.
  bool Fixed(const ParseNodeKind13* e, std::uint32_t depth) const {
    if (!m_written || depth > kMaxDepth) return false;
    PodArray<std::uint8_t> read;
    if (!read.Reserve(m_written->Size())) return false;
    for (std::size_t s = 0; s < m_written->Size(); ++s) read.Append(0);
    LoopEffects reads(m_compiler, read, false);
    if (!reads.Read(e->right, depth)) return false;
    bool stepped = false;
    for (std::size_t s = 0; s < read.Size(); ++s) {
      if (read[s] && (*m_written)[s]) return false;
      stepped = stepped || (read[s] && (*m_stepped)[s]);
    }
    return !stepped || m_indexes->Append(e);
  }

  // No variable the written operand names is marked read.
  bool Unmarked(const ParseNode* node, std::uint32_t depth) const {
    ++m_visits;
    if (!node) return true;
    if (depth > kMaxDepth) return false;
    if (node->kind == NodeKind::Expression) {
      std::uint32_t first, count;
      return Slots(*static_cast<const ExpressionNode*>(node), &first, &count) &&
             std::none_of(m_read.Data() + first, m_read.Data() + first + count, [](std::uint8_t x) { return x; });
    }
    if (node->kind == NodeKind::List) {
      for (; node && node->kind == NodeKind::List; node = node->second)
        if (!Unmarked(node->first, depth + 1)) return false;
      return Unmarked(node, depth + 1);
    }
    const ParseNodeKind13* e = AsExpression(node);
    std::uint32_t first, picked[4], n = 0;
    if (m_components && e && e->op == kExprSelect && Picked(*e, &first, picked, &n))
      return std::none_of(picked, picked + n, [&](std::uint32_t k) { return m_read[first + k] != 0; });
    return e && Unmarked(e->left, depth + 1) && Unmarked(e->right, depth + 1);
  }

  ShaderCompiler& m_compiler;
  PodArray<std::uint8_t>& m_read;
  bool m_endsEarly;
  // With m_written (the slots the body writes, which indexes must not read):
  // the slots the step writes, and the indexes found that read them.
  const PodArray<std::uint8_t>* m_written;
  const PodArray<std::uint8_t>* m_stepped;
  PodArray<const ParseNode*>* m_indexes;
  bool m_components = false;  // a swizzle marks only what it picks (Touches)
  mutable std::uint64_t m_visits = 0;

 public:
  // Calls are walked into (Touches, Writes) instead of ending the walk.
  bool m_followCalls = false;

 private:
  std::uint32_t m_calls = 0;  // calls being walked into
};

}  // namespace

bool ShaderCompiler::TripCountWithoutBody(const ParseNode* condition, const ParseNode* body, const ParseNode* step,
                                          bool endsEarly, PodArray<const ParseNode*>* indexes) {
  PodArray<std::uint8_t> read, written, stepped;
  if (!read.Reserve(valueMap.Size()) || !written.Reserve(valueMap.Size()) || !stepped.Reserve(valueMap.Size()))
    return false;
  for (std::size_t s = 0; s < valueMap.Size(); ++s) {
    read.Append(0);
    written.Append(0);
    stepped.Append(0);
  }
  if (indexes) {
    indexes->Clear();
    LoopEffects writes(*this, written, false), steps(*this, stepped, false);
    if (!writes.Writes(body) || !steps.Writes(step)) return false;
  }
  LoopEffects effects(*this, read, endsEarly, indexes ? &written : nullptr, &stepped, indexes);
  // By components: a body that moves one component of a vector or matrix
  // leaves a condition on another to decide alone.
  effects.ByComponents();
  return effects.Read(condition) && effects.Read(step) && effects.Keeps(body);
}


bool ShaderCompiler::LoopTripSlots(const ParseNode* condition, const ParseNode* body, const ParseNode* plainBody,
                                   const ParseNode* step, std::vector<std::uint8_t>* slots) {
  const std::size_t n = valueMap.Size();
  slots->assign(n, 0);
  PodArray<std::uint8_t> marks;
  if (!marks.Reserve(n)) return false;
  auto fresh = [&] {
    marks.Clear();
    for (std::size_t s = 0; s < n; ++s) marks.Append(0);
  };
  auto add = [&] {
    for (std::size_t s = 0; s < n; ++s) (*slots)[s] |= marks[s];
  };
  fresh();
  LoopEffects reads(*this, marks, true);
  reads.m_followCalls = true;
  if (!reads.Read(condition)) return false;
  if (plainBody && TripCountWithoutBody(condition, plainBody, step)) {
    if (!reads.Read(step)) return false;
    add();
    return true;
  }
  add();
  // Otherwise a statement that writes one of them, or may end the loop,
  // decides the trip count with all it reads, until none adds more.
  std::vector<const ParseNode*> statements;
  if (!loopwalk::Statements(body, &statements)) return false;
  std::vector<std::vector<std::uint8_t>> written(statements.size()), touched(statements.size());
  for (std::size_t i = 0; i < statements.size(); ++i) {
    fresh();
    LoopEffects writes(*this, marks, true);
    writes.m_followCalls = true;
    if (!writes.Writes(statements[i])) return false;
    written[i].assign(marks.Data(), marks.Data() + n);
    fresh();
    LoopEffects touches(*this, marks, true);
    touches.m_followCalls = true;
    if (!touches.Touches(statements[i])) return false;
    touched[i].assign(marks.Data(), marks.Data() + n);
  }
  std::vector<bool> taken(statements.size(), false);
  for (bool grew = true; grew;) {
    grew = false;
    for (std::size_t i = 0; i < statements.size(); ++i) {
      if (taken[i]) continue;
      bool decides = loopwalk::Stops(statements[i]);
      for (std::size_t s = 0; s < n && !decides; ++s) decides = written[i][s] && (*slots)[s];
      if (!decides) continue;
      for (std::size_t s = 0; s < n; ++s) (*slots)[s] |= touched[i][s];
      taken[i] = grew = true;
    }
  }
  return true;
}

bool ShaderCompiler::LoopReads(std::initializer_list<const ParseNode*> parts, std::vector<std::uint8_t>* read) {
  PodArray<std::uint8_t> marks;
  if (!marks.Reserve(valueMap.Size())) return false;
  for (std::size_t s = 0; s < valueMap.Size(); ++s) marks.Append(0);
  LoopEffects reads(*this, marks, true);
  for (const ParseNode* part : parts)
    if (!reads.Read(part)) return false;
  read->assign(marks.Data(), marks.Data() + marks.Size());
  return true;
}

bool ShaderCompiler::LoopWrites(const ParseNode* init, const ParseNode* condition, const ParseNode* body,
                                std::vector<std::uint8_t>* written) {
  PodArray<std::uint8_t> marks;
  if (!marks.Reserve(valueMap.Size())) return false;
  for (std::size_t s = 0; s < valueMap.Size(); ++s) marks.Append(0);
  LoopEffects writes(*this, marks, true);
  writes.m_followCalls = true;
  if (!writes.Writes(init) || !writes.Writes(condition) || !writes.Writes(body)) return false;
  written->assign(marks.Data(), marks.Data() + marks.Size());
  return true;
}

bool ShaderCompiler::LoopTouches(const ParseNode* init, const ParseNode* condition, const ParseNode* body,
                                 PodArray<std::uint8_t>* touched) {
  touched->Clear();
  if (!touched->Reserve(valueMap.Size())) return false;
  for (std::size_t s = 0; s < valueMap.Size(); ++s) touched->Append(0);
  LoopEffects effects(*this, *touched, true);
  effects.m_followCalls = true;
  return effects.Touches(init) && effects.Touches(condition) && effects.Touches(body);
}

}  // namespace gxl::shader

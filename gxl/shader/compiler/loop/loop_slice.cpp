// The slice of a loop that decides its trip count (LoopTripSlice, for the
// unrolling's watch in unroll_endless.cpp): the condition, and the statements
// of the body that move what the condition reads or may end the loop. A
// statement may end an unrolling by a return or a discard, or by an index
// that falls outside its array at one pass and not at another: one whose
// operand may differ from pass to pass, or that stands under a condition
// that may. Which values may differ from pass to pass is found on the syntax
// tree (PassTaint): a symbol the loop writes that it does not declare
// carries a value from one pass to the next; a symbol written from such a
// value, or under a condition that reads one, may differ too; a local
// declared in the loop from values that do not differ starts each pass
// alike, as does the counter of a loop inside it whose bounds do not differ.
#include <algorithm>
#include <cstdint>
#include <vector>

#include "gxl/shader/compiler/loop/loop_walk.h"
#include "gxl/shader/compiler/shader_compiler.h"
#include "gxl/shader/hlsl/hlsl_parser.h"

namespace gxl::shader {

namespace {

using loopwalk::IsWrite;
using loopwalk::kMaxCallDepth;
using loopwalk::kMaxDepth;

// Whether `node` holds a loop statement or a call: what a rehearsal of
// statements cannot lower without the loop lowering's state.
bool HoldsLoopOrCall(const ParseNode* node, std::uint32_t depth = 0) {
  if (!node) return false;
  if (depth > kMaxDepth) return true;
  switch (node->kind) {
    case NodeKind::List:
      for (; node && node->kind == NodeKind::List; node = node->second)
        if (HoldsLoopOrCall(node->first, depth + 1)) return true;
      return HoldsLoopOrCall(node, depth + 1);
    case NodeKind::Statement: {
      const auto* s = static_cast<const StatementNode*>(node);
      if (s->code == kStatementFor || s->code == kStatementWhile || s->code == kStatementDo) return true;
      for (const ParseNode* child : s->children)
        if (HoldsLoopOrCall(child, depth + 1)) return true;
      return false;
    }
    case NodeKind::Declaration: {
      const ParseNodeKind11* v = VariableDescription(node);
      if (!v) return true;
      for (const ParseNode* child : v->nodes)
        if (loopwalk::IsInitialiser(child) && HoldsLoopOrCall(child, depth + 1)) return true;
      return false;
    }
    case NodeKind::Kind13: {
      const auto* e = static_cast<const ParseNodeKind13*>(node);
      if (e->op == kExprCall || e->op == kExprCompile) return true;
      return (e->op != kExprIntrinsic && HoldsLoopOrCall(e->left, depth + 1)) || HoldsLoopOrCall(e->right, depth + 1);
    }
    case NodeKind::Expression:
      return static_cast<const ExpressionNode*>(node)->value.subKind == kValueNode;
    default:
      return true;
  }
}

// The symbols of a loop's passes that may hold other values at one pass than
// at another, and whether an index reads one (see the file's head). Each walk
// adds what it finds; the caller walks until none adds more.
class PassTaint {
 public:
  PassTaint(ShaderCompiler& compiler, std::vector<std::uint8_t>& tainted)
      : m_c(compiler), m_tainted(tainted) {}

  bool grew = false;    // a walk marked a symbol
  bool moving = false;  // a walk met an index that may differ from pass to pass

  // Marks the symbols `node` declares (a local starts each pass anew).
  bool Declared(const ParseNode* node, std::vector<std::uint8_t>& declared, std::uint32_t depth = 0,
                std::uint32_t calls = 0) {
    if (!node) return true;
    if (depth > kMaxDepth) return false;
    switch (node->kind) {
      case NodeKind::List:
        for (; node && node->kind == NodeKind::List; node = node->second)
          if (!Declared(node->first, declared, depth + 1, calls)) return false;
        return Declared(node, declared, depth + 1, calls);
      case NodeKind::Statement: {
        const auto* s = static_cast<const StatementNode*>(node);
        for (const ParseNode* child : s->children)
          if (!Declared(child, declared, depth + 1, calls)) return false;
        return true;
      }
      case NodeKind::Declaration: {
        const ParseNodeKind11* v = VariableDescription(node);
        std::uint32_t first = 0;
        if (!v || !SlotsOf(*v, &first)) return false;
        std::fill_n(declared.begin() + first, v->valueCount, std::uint8_t{1});
        for (const ParseNode* child : v->nodes)
          if (loopwalk::IsInitialiser(child) && !Declared(child, declared, depth + 1, calls)) return false;
        return true;
      }
      case NodeKind::Kind13: {
        // A call's parameters, return value and locals start at each call
        // from what it is given.
        const auto* e = static_cast<const ParseNodeKind13*>(node);
        if (e->op == kExprCall) {
          const char* name = nullptr;
          const ParseNodeKind10* f = m_c.FindEntryPointByDeclaration(e->left, &name);
          if (!f || calls >= kMaxCallDepth || !Declared(f->body, declared, depth + 1, calls + 1)) return false;
          for (const ParseNode* p = f->parameters; p && p->kind == NodeKind::List; p = p->second) {
            const ParseNodeKind11* v = VariableDescription(p->first);
            std::uint32_t first = 0;
            if (!v || !SlotsOf(*v, &first)) return false;
            std::fill_n(declared.begin() + first, v->valueCount, std::uint8_t{1});
          }
          if (f->returnComponents && f->returnSlot + f->returnComponents <= declared.size())
            std::fill_n(declared.begin() + f->returnSlot, f->returnComponents, std::uint8_t{1});
        }
        return (e->op == kExprIntrinsic || Declared(e->left, declared, depth + 1, calls)) &&
               Declared(e->right, declared, depth + 1, calls);
      }
      default:
        return true;
    }
  }

  // Walks statements under `control` (a condition around them may differ).
  bool Statement(const ParseNode* node, bool control, std::uint32_t depth = 0, std::uint32_t calls = 0) {
    if (!node) return true;
    if (depth > kMaxDepth) return false;
    switch (node->kind) {
      case NodeKind::List:
        for (; node && node->kind == NodeKind::List; node = node->second)
          if (!Statement(node->first, control, depth + 1, calls)) return false;
        return Statement(node, control, depth + 1, calls);
      case NodeKind::Declaration: {
        const ParseNodeKind11* v = VariableDescription(node);
        std::uint32_t first = 0;
        if (!v || !SlotsOf(*v, &first)) return false;
        bool differs = control;
        for (const ParseNode* child : v->nodes)
          if (loopwalk::IsInitialiser(child) && !ValueOf(child, control, depth + 1, calls, &differs)) return false;
        if (differs) Mark(first, v->valueCount);
        return true;
      }
      case NodeKind::Statement: {
        const auto* s = static_cast<const StatementNode*>(node);
        bool differs = control;
        switch (s->code) {
          case kStatementExpression:
            return ValueOf(s->children[0], control, depth + 1, calls, &differs);
          case kStatementReturn:
            if (!ValueOf(s->children[0], control, depth + 1, calls, &differs)) return false;
            if (differs && !m_returns.empty() && m_returns.back().second) Mark(m_returns.back().first, m_returns.back().second);
            return true;
          case kStatementDiscard:
            return true;
          case kStatementIf:
            return ValueOf(s->children[0], control, depth + 1, calls, &differs) &&
                   Statement(s->children[1], differs, depth + 1, calls) &&
                   Statement(s->children[2], differs, depth + 1, calls);
          case kStatementFor:
            return Statement(s->children[0], control, depth + 1, calls) &&
                   ValueOf(s->children[1], control, depth + 1, calls, &differs) &&
                   Statement(s->children[3], differs, depth + 1, calls) &&
                   ValueOf(s->children[2], differs, depth + 1, calls, &differs);
          case kStatementWhile:
          case kStatementDo:
            return ValueOf(s->children[1], control, depth + 1, calls, &differs) &&
                   Statement(s->children[3], differs, depth + 1, calls);
          default:
            return static_cast<std::int32_t>(s->code) < 0;  // the empty statement
        }
      }
      case NodeKind::Kind13:
      case NodeKind::Expression: {
        bool differs = control;
        return ValueOf(node, control, depth, calls, &differs);
      }
      default:
        return false;
    }
  }

 private:
  // Whether the value of `node` may differ from pass to pass, into *differs
  // (or-ed); marks what it writes. False where not understood.
  bool ValueOf(const ParseNode* node, bool control, std::uint32_t depth, std::uint32_t calls, bool* differs) {
    if (!node) return true;
    if (depth > kMaxDepth) return false;
    switch (node->kind) {
      case NodeKind::List:
        for (; node && node->kind == NodeKind::List; node = node->second)
          if (!ValueOf(node->first, control, depth + 1, calls, differs)) return false;
        return ValueOf(node, control, depth + 1, calls, differs);
      case NodeKind::Expression: {
        const auto& leaf = *static_cast<const ExpressionNode*>(node);
        if (leaf.value.subKind == kValueNode || leaf.value.subKind == kValueCode) return false;
        if (leaf.value.subKind != kValueVariable) return true;
        std::uint32_t first = 0, count = 0;
        if (!LeafSlots(leaf, &first, &count)) return false;
        *differs = *differs || std::any_of(m_tainted.begin() + first, m_tainted.begin() + first + count,
                                           [](std::uint8_t t) { return t != 0; });
        return true;
      }
      case NodeKind::Kind13:
        break;
      default:
        return false;
    }
    const auto* e = static_cast<const ParseNodeKind13*>(node);
    if (e->op == kExprCompile) return false;
    if (e->op == kExprIntrinsic) return ValueOf(e->right, control, depth + 1, calls, differs);
    if (e->op == kExprCall) return Call(*e, control, depth, calls, differs);
    if (e->op == kExprIndex) {
      bool index = control;
      if (!ValueOf(e->right, control, depth + 1, calls, &index)) return false;
      moving = moving || index;
      *differs = *differs || index;
      return ValueOf(e->left, control, depth + 1, calls, differs);
    }
    if (IsWrite(e->op)) {
      // What is written differs where the value does, or its own old value
      // (a compound write reads it), or the condition around it.
      bool written = control;
      if (!ValueOf(e->right, control, depth + 1, calls, &written)) return false;
      if (e->op != kExprAssign && e->op != kExprInitialise && !ValueOf(e->left, control, depth + 1, calls, &written))
        return false;
      std::uint32_t first = 0, count = 0;
      if (!Target(e->left, control, depth + 1, calls, &first, &count)) return false;
      if (written) Mark(first, count);
      *differs = *differs || written;
      return true;
    }
    return ValueOf(e->left, control, depth + 1, calls, differs) && ValueOf(e->right, control, depth + 1, calls, differs);
  }

  // A call: each input parameter takes its argument, the body is walked,
  // and the outputs (assignments from the output parameters) after it.
  bool Call(const ParseNodeKind13& e, bool control, std::uint32_t depth, std::uint32_t calls, bool* differs) {
    const char* name = nullptr;
    const ParseNodeKind10* f = m_c.FindEntryPointByDeclaration(e.left, &name);
    if (!f || calls >= kMaxCallDepth) return false;
    const ParseNode* arguments = e.right;
    const ParseNode* input = arguments && arguments->kind == NodeKind::List ? arguments->first : nullptr;
    const ParseNode* output =
        arguments && arguments->second && arguments->second->kind == NodeKind::List ? arguments->second->first : nullptr;
    for (const ParseNode* p = f->parameters; p && p->kind == NodeKind::List; p = p->second) {
      const ParseNodeKind11* v = VariableDescription(p->first);
      std::uint32_t first = 0;
      if (!v || !SlotsOf(*v, &first)) return false;
      if (!(v->storage & kUsageIn) || !input || input->kind != NodeKind::List) continue;
      bool given = control;
      if (!ValueOf(input->first, control, depth + 1, calls, &given)) return false;
      if (given) Mark(first, v->valueCount);
      input = input->second;
    }
    m_returns.emplace_back(f->returnSlot, f->returnComponents);
    const bool walked = Statement(f->body, control, depth + 1, calls + 1);
    m_returns.pop_back();
    bool outputs = control;
    if (!walked || !ValueOf(output, control, depth + 1, calls, &outputs)) return false;
    if (f->returnComponents && f->returnSlot + f->returnComponents <= m_tainted.size())
      *differs = *differs || std::any_of(m_tainted.begin() + f->returnSlot,
                                         m_tainted.begin() + f->returnSlot + f->returnComponents,
                                         [](std::uint8_t t) { return t != 0; });
    return true;
  }

  // The symbol a written operand names (all its slots), its indexes walked.
  bool Target(const ParseNode* node, bool control, std::uint32_t depth, std::uint32_t calls, std::uint32_t* first,
              std::uint32_t* count) {
    for (; node && depth <= kMaxDepth; ++depth) {
      if (node->kind == NodeKind::Expression) {
        const auto& leaf = *static_cast<const ExpressionNode*>(node);
        return leaf.value.subKind == kValueVariable && LeafSlots(leaf, first, count);
      }
      const ParseNodeKind13* e = AsExpression(node);
      if (!e) return false;
      if (e->op == kExprIndex) {
        bool index = control;
        if (!ValueOf(e->right, control, depth + 1, calls, &index)) return false;
        moving = moving || index;
      } else if (e->op != kExprSelect && !(e->op == kExprValue && !e->right)) {
        return false;
      }
      node = e->left;
    }
    return false;
  }

  bool LeafSlots(const ExpressionNode& leaf, std::uint32_t* first, std::uint32_t* count) const {
    std::uint32_t slot = leaf.value.word;
    if (slot == kNoSlot && leaf.value.node && leaf.value.node->kind == NodeKind::Kind11)
      slot = m_c.SlotOf(static_cast<const ParseNodeKind11*>(leaf.value.node));
    if (slot == kNoSlot || slot >= m_tainted.size() || leaf.value.third > m_tainted.size() - slot) return false;
    *first = slot;
    *count = leaf.value.third;
    return true;
  }

  bool SlotsOf(const ParseNodeKind11& v, std::uint32_t* first) const {
    const std::uint32_t slot = m_c.SlotOf(&v);
    if (slot == kNoSlot || slot >= m_tainted.size() || v.valueCount > m_tainted.size() - slot) return false;
    *first = slot;
    return true;
  }

  void Mark(std::uint32_t first, std::uint32_t count) {
    for (std::uint32_t s = first; s < first + count && s < m_tainted.size(); ++s)
      if (!m_tainted[s]) m_tainted[s] = 1, grew = true;
  }

  ShaderCompiler& m_c;
  std::vector<std::uint8_t>& m_tainted;
  // The return slots of the calls being walked into.
  std::vector<std::pair<std::uint32_t, std::uint32_t>> m_returns;
};

}  // namespace

bool ShaderCompiler::LoopTripSlice(const ParseNode* condition, const ParseNode* body,
                                   std::vector<const ParseNode*>* slice, std::vector<std::uint8_t>* slots,
                                   bool* plain, bool endings) {
  const std::size_t n = valueMap.Size();
  slice->clear();
  *plain = true;
  // What differs from pass to pass: what the loop writes and does not declare,
  // then what is written from it, until nothing more is.
  std::vector<std::uint8_t> tainted, declared(n, 0);
  if (!LoopWrites(nullptr, condition, body, &tainted)) return false;
  PassTaint taint(*this, tainted);
  if (!taint.Declared(body, declared)) return false;
  for (std::size_t s = 0; s < n; ++s) tainted[s] = tainted[s] && !declared[s];
  for (std::uint32_t round = 0; round == 0 || taint.grew; ++round) {
    if (round > n + 1) return false;
    taint.grew = false;
    if (!taint.Statement(condition, false) || !taint.Statement(body, false)) return false;
  }
  if (!LoopReads({condition}, slots)) return false;
  std::vector<const ParseNode*> statements;
  if (!loopwalk::Statements(body, &statements)) return false;
  // A statement decides the trip count where it writes a marked slot, or
  // may end the loop.
  std::vector<std::vector<std::uint8_t>> writes(statements.size()), touched(statements.size());
  std::vector<bool> ends(statements.size());
  for (std::size_t i = 0; i < statements.size(); ++i) {
    PodArray<std::uint8_t> marks;
    if (!LoopWrites(nullptr, nullptr, statements[i], &writes[i]) ||
        !LoopTouches(nullptr, nullptr, statements[i], &marks))
      return false;
    touched[i].assign(marks.Data(), marks.Data() + marks.Size());
    taint.moving = false;
    if (!taint.Statement(statements[i], false)) return false;
    ends[i] = endings && (loopwalk::Stops(statements[i]) || taint.moving);
  }
  std::vector<bool> taken(statements.size(), false);
  for (bool grew = true; grew;) {
    grew = false;
    for (std::size_t i = 0; i < statements.size(); ++i) {
      if (taken[i]) continue;
      bool decides = ends[i];
      for (std::size_t s = 0; s < n && !decides; ++s) decides = writes[i][s] && (*slots)[s];
      if (!decides) continue;
      for (std::size_t s = 0; s < n; ++s) (*slots)[s] |= touched[i][s];
      taken[i] = grew = true;
    }
  }
  for (std::size_t i = 0; i < statements.size(); ++i)
    if (taken[i]) {
      slice->push_back(statements[i]);
      *plain = *plain && !HoldsLoopOrCall(statements[i]);
    }
  *plain = *plain && !HoldsLoopOrCall(condition);
  return true;
}

}  // namespace gxl::shader

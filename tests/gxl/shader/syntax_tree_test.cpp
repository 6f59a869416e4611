// Syntax-tree nodes: random trees of every kind against their clones, each
// compared field against a changed copy, and the edge cases of comparison.
#include "gxl/shader/core/syntax_tree.h"

#include <gtest/gtest.h>

#include <bit>
#include <cstring>
#include <functional>
#include <random>
#include <type_traits>
#include <vector>

#include "platform/testing.h"

namespace {

const char* const kTexts[] = {"a", "b", "float4", "main", ""};
const unsigned char kCode[8] = {1, 2, 3, 4};

// Nodes come from `pool` while the scope lives.
struct UsePool {
  explicit UsePool(PagePool& pool) : previous(SetCurrentPool(&pool)) {}
  ~UsePool() { SetCurrentPool(previous); }
  PagePool* previous;
};

SourceToken Token(std::uint32_t kind, std::uint64_t bits = 0) {
  SourceToken t;
  t.kind = kind;
  t.value.bits = bits;
  return t;
}

class RandomTree {
 public:
  explicit RandomTree(unsigned seed) : rng(seed) {}

  ParseNode* Node(int depth) { return Make(static_cast<NodeKind>(1 + rng() % 19), depth); }

  ParseNode* Make(NodeKind kind, int depth) {
    switch (kind) {
      case NodeKind::List: return List(depth, 2);
      case NodeKind::Kind2: return new ParseNodeKind2(Text(), Sub(depth), Sub(depth), Make(NodeKind::Type, 0));
      case NodeKind::Token: return new TokenNode(RandomToken());
      case NodeKind::Program: return new ProgramNode(W(), W(), W(), List(depth));
      case NodeKind::Scope:
        return new ScopeNode(W(), Text(), List(depth), Sub(depth),
                             depth > 0 && rng() % 2 ? static_cast<ScopeNode*>(Make(kind, depth - 1)) : nullptr);
      case NodeKind::Declaration: {
        auto* d = new DeclarationNode(W(), new TokenNode(RandomToken()), Sub(depth), Sub(depth));
        d->scopeText = Text(), d->registerIndex = W(), d->number = W(), d->flags = W();
        return d;
      }
      case NodeKind::Kind7: return new ParseNodeKind7(W(), Sub(depth), Sub(depth));
      case NodeKind::ArrayType: return new ArrayTypeNode(Sub(depth), W());
      case NodeKind::Type: return new TypeNode(W(), W(), W(), W(), W());
      case NodeKind::Kind10: {
        auto* f = new ParseNodeKind10(W(), W(), W(), Sub(depth), Sub(depth), List(depth), List(depth), Sub(depth),
                                      Sub(depth), Sub(depth));
        f->lowering = W(), f->hasBody = W();
        return f;
      }
      case NodeKind::Kind11: {
        auto* v = new ParseNodeKind11(W(), rng() % 4, W(), W(), Sub(depth), Sub(depth), Sub(depth), Sub(depth),
                                      Sub(depth));
        v->count = rng() % 4;
        v->counted = Words(v->count);
        v->values = Words(v->valueCount);
        return v;
      }
      case NodeKind::Statement: return new StatementNode(W(), Sub(depth), Sub(depth), Sub(depth), Sub(depth));
      case NodeKind::Kind13: {
        auto* e = new ParseNodeKind13(Sub(depth), W(), Sub(depth), Sub(depth), W(), RandomToken());
        e->rows = W(), e->columns = W();
        return e;
      }
      case NodeKind::Expression:
        switch (rng() % 4) {
          case 0: return new ExpressionNode(3, rng() / 7.0, RandomToken());
          case 1: return new ExpressionNode(4, Make(NodeKind::Kind13, depth), RandomToken());
          case 2: return new ExpressionNode(5, kCode, 8, RandomToken());
          default: return new ExpressionNode(5 + rng() % 2, W(), W(), RandomToken());
        }
      case NodeKind::AsmBlock: return new AsmBlockNode(RandomToken(), kCode, 8);
      case NodeKind::Kind16: return new ParseNodeKind16(Sub(depth), Sub(depth), Sub(depth));
      case NodeKind::Kind17: return new ParseNodeKind17(List(depth), Sub(depth));
      case NodeKind::AsmInstruction: {
        auto* i = new AsmInstructionNode(RandomToken(), W(), W(), W());
        i->destination = Sub(depth), i->predicate = Sub(depth), i->coissue = W(), i->tokenOffset = W();
        for (ParseNode*& s : i->sources) s = Sub(depth);
        return i;
      }
      default: return new AsmOperandNode(W(), W(), W(), W(), Sub(depth));
    }
  }

  std::mt19937 rng;

 private:
  std::uint32_t W() { return rng() % 3 ? rng() % 8 : rng(); }
  const char* Text() { return kTexts[rng() % 5]; }
  ParseNode* Sub(int depth) { return depth > 0 && rng() % 3 ? Node(depth - 1) : nullptr; }
  std::uint32_t* Words(std::uint32_t n) {
    auto* w = static_cast<std::uint32_t*>(PoolAlloc(n * 4 + 4));
    for (std::uint32_t i = 0; i < n; ++i) w[i] = W();
    return w;
  }
  // Lists of up to four cells, some ending in a node of another kind.
  ParseNode* List(int depth, int least = 0) {
    ParseNode* list = nullptr;
    for (int n = least + (depth > 0 ? rng() % 5 : 0); n > 0; --n)
      list = AppendToList(list, new ListNode(Sub(depth), nullptr, Text()));
    return list && rng() % 4 == 0 ? AppendToList(list, Make(NodeKind::Type, 0)) : list;
  }
  SourceToken RandomToken() {
    SourceToken t = Token(rng() % 14);
    if (t.kind == kTokenPunctuator) std::strcpy(t.value.punctuator, rng() % 2 ? "<<=" : "+");
    else if (t.kind >= kTokenFloat && t.kind <= kTokenFloatL) t.value.real = rng() / 3.0;
    else if (t.kind == kTokenIdentifier || t.kind == kTokenString) t.value.text = Text();
    else t.value.number = W();
    t.line = W();
    return t;
  }
};

// Every test draws its nodes from a pool of its own.
class GxlShaderTree : public testing::Test {
 protected:
  PagePool pool{0, 0x10000};
  UsePool use{pool};
};

// Clones of random trees equal their sources both ways, and share nothing with
// them: scribbling over every byte the sources occupy leaves two clones equal.
TEST_F(GxlShaderTree, RandomTreesEqualTheirClonesAndShareNothing) {
  RandomTree gen(11);
  for (int t = 0; t < 300; ++t) {
    ParseNode *x, *a, *b;
    unsigned char *begin, *end;
    PagePool sources(64 << 20, 0x10000);  // one region
    {
      UsePool useSources(sources);
      begin = static_cast<unsigned char*>(PoolAlloc(1));
      x = gen.Make(static_cast<NodeKind>(1 + t % 19), 4);
      end = static_cast<unsigned char*>(PoolAlloc(1));
    }
    a = x->Clone(), b = CloneNode(x);
    ASSERT_TRUE(x && a && b);
    ASSERT_TRUE(NodesEqual(x, a) && NodesEqual(a, x)) << "tree " << t;
    std::memset(begin, 0xA5, end - begin);
    ASSERT_TRUE(NodesEqual(a, b)) << "tree " << t;
  }
}

SourceToken& TokenOf(ParseNode* n) {
  switch (n->kind) {
    case NodeKind::Token: return static_cast<TokenNode*>(n)->token;
    case NodeKind::Kind13: return static_cast<ParseNodeKind13*>(n)->token;
    default: return static_cast<AsmBlockNode*>(n)->token;
  }
}

// Changing any compared field of a clone makes it unequal to its source.
#define WORD(T, f) [](ParseNode* n) { static_cast<T*>(n)->f ^= 1; }
#define ADDR(T, f) [](ParseNode* n) { auto& p = static_cast<T*>(n)->f; p = std::remove_reference_t<decltype(p)>(std::uintptr_t(p) + 16); }
#define NODE(T, f) [](ParseNode* n) { auto& c = static_cast<T*>(n)->f; c = c ? nullptr : new TypeNode; }
#define TOKEN [](ParseNode* n) { TokenOf(n).kind ^= 1; }, [](ParseNode* n) { TokenOf(n).value.number ^= 1; }

TEST_F(GxlShaderTree, ChangingAComparedFieldMakesNodesUnequal) {
  using Change = void (*)(ParseNode*);
  const std::vector<std::pair<NodeKind, std::vector<Change>>> cases = {
      {NodeKind::List, {NODE(ListNode, first), NODE(ListNode, second)}},
      {NodeKind::Kind2, {ADDR(ParseNodeKind2, name), ADDR(ParseNodeKind2, declarations),
                         NODE(ParseNodeKind2, first), NODE(ParseNodeKind2, second)}},
      {NodeKind::Token, {TOKEN}},
      {NodeKind::Program, {WORD(ProgramNode, techniqueCount), WORD(ProgramNode, untitledCounter),
                           WORD(ProgramNode, slotCounter), NODE(ProgramNode, statements)}},
      {NodeKind::Scope, {WORD(ScopeNode, ownerKind), ADDR(ScopeNode, ownerName), NODE(ScopeNode, declarations),
                         NODE(ScopeNode, names)}},
      {NodeKind::Declaration, {WORD(DeclarationNode, declClass), ADDR(DeclarationNode, scopeText),
                               WORD(DeclarationNode, registerIndex), WORD(DeclarationNode, number),
                               WORD(DeclarationNode, flags), NODE(DeclarationNode, name),
                               NODE(DeclarationNode, description), NODE(DeclarationNode, contents)}},
      {NodeKind::Kind7, {WORD(ParseNodeKind7, usage), NODE(ParseNodeKind7, parts[0]), NODE(ParseNodeKind7, parts[1])}},
      {NodeKind::ArrayType, {WORD(ArrayTypeNode, dimension), NODE(ArrayTypeNode, element)}},
      {NodeKind::Type, {WORD(TypeNode, shape), WORD(TypeNode, baseType), WORD(TypeNode, rows),
                        WORD(TypeNode, columns), WORD(TypeNode, flags)}},
      {NodeKind::Kind10, {WORD(ParseNodeKind10, returnSlot), WORD(ParseNodeKind10, returnComponents),
                          WORD(ParseNodeKind10, flags), WORD(ParseNodeKind10, lowering),
                          WORD(ParseNodeKind10, hasBody), NODE(ParseNodeKind10, profile),
                          NODE(ParseNodeKind10, returnType), NODE(ParseNodeKind10, parameters),
                          NODE(ParseNodeKind10, body), NODE(ParseNodeKind10, more[2])}},
      {NodeKind::Kind11, {WORD(ParseNodeKind11, symbol), WORD(ParseNodeKind11, valueCount),
                          WORD(ParseNodeKind11, extra), WORD(ParseNodeKind11, storage), WORD(ParseNodeKind11, count),
                          WORD(ParseNodeKind11, counted[0]), NODE(ParseNodeKind11, nodes[4])}},
      {NodeKind::Statement, {WORD(StatementNode, code), NODE(StatementNode, children[3])}},
      {NodeKind::Kind13, {WORD(ParseNodeKind13, rows), WORD(ParseNodeKind13, columns), WORD(ParseNodeKind13, op),
                          WORD(ParseNodeKind13, flag), TOKEN, NODE(ParseNodeKind13, type),
                          NODE(ParseNodeKind13, left), NODE(ParseNodeKind13, right)}},
      {NodeKind::Expression, {WORD(ExpressionNode, value.subKind), WORD(ExpressionNode, value.word),
                              WORD(ExpressionNode, value.bits), WORD(ExpressionNode, value.third)}},
      {NodeKind::AsmBlock, {TOKEN, ADDR(AsmBlockNode, code), WORD(AsmBlockNode, codeSize)}},
      {NodeKind::Kind16, {NODE(ParseNodeKind16, stateName), NODE(ParseNodeKind16, index),
                          NODE(ParseNodeKind16, value)}},
      {NodeKind::Kind17, {NODE(ParseNodeKind17, semantics), NODE(ParseNodeKind17, registers)}},
      {NodeKind::AsmInstruction, {[](ParseNode* n) { n->kind = NodeKind::None; }}},
      {NodeKind::AsmOperand, {[](ParseNode* n) { n->kind = NodeKind::None; }}},
  };
  RandomTree gen(5);
  for (const auto& [kind, changes] : cases) {
    for (std::size_t i = 0; i < changes.size(); ++i) {
      ParseNode* x;
      do x = gen.Make(kind, 2);  // sub-kind 4 values compare their nodes only
      while (kind == NodeKind::Expression && static_cast<ExpressionNode*>(x)->value.subKind == 4);
      if (kind == NodeKind::Kind11) static_cast<ParseNodeKind11*>(x)->count = 1;
      if (kind == NodeKind::Token || kind == NodeKind::Kind13 || kind == NodeKind::AsmBlock)
        TokenOf(x) = Token(kTokenInt, 5);  // a kind whose value is compared
      ParseNode* y = x->Clone();
      ASSERT_TRUE(NodesEqual(x, y));
      changes[i](y);
      EXPECT_FALSE(NodesEqual(x, y)) << "kind " << static_cast<int>(kind) << ", change " << i;
    }
  }
}

TEST_F(GxlShaderTree, EdgeCasesOfComparison) {
  TypeNode t;
  EXPECT_TRUE(NodesEqual(nullptr, nullptr));
  EXPECT_FALSE(NodesEqual(nullptr, &t));
  EXPECT_FALSE(t.Equals(nullptr));
  EXPECT_EQ(t.shape, 0u);  // a default type is a scalar float without flags
  EXPECT_EQ(t.baseType, 9u);
  EXPECT_EQ(t.flags, 0u);

  auto list = [](const char* tag, int n) {
    ParseNode* l = nullptr;
    for (int i = 0; i < n; ++i) l = AppendToList(l, new ListNode(new TypeNode(1, 9, 1, i + 1, 0), nullptr, tag));
    return l;
  };
  EXPECT_TRUE(NodesEqual(list("Stmts", 2), list("Stmts", 3)));
  EXPECT_FALSE(NodesEqual(list("Stmts", 3), list("Stmts", 2)));
  EXPECT_TRUE(NodesEqual(list("Stmts", 3), list("Values", 3)));

  const char one[] = "main", other[] = "main";
  struct {
    SourceToken a, b;
    bool equal;
  } rows[] = {
      {Token(kTokenFloat, std::bit_cast<std::uint64_t>(1.0)), Token(kTokenFloat, std::bit_cast<std::uint64_t>(1.00)),
       true},
      {Token(kTokenFloat, std::bit_cast<std::uint64_t>(0.0)), Token(kTokenFloat, std::bit_cast<std::uint64_t>(-0.0)),
       true},
      {Token(kTokenIdentifier, std::uint64_t(one)), Token(kTokenIdentifier, std::uint64_t(other)), true},
      {Token(kTokenIdentifier, std::uint64_t(one)), Token(kTokenString, std::uint64_t(other)), false},
      {Token(kTokenPunctuator, '+'), Token(kTokenPunctuator, '+' | '=' << 8), false},
      {Token(kTokenInt, 7), Token(kTokenIntU, 7), false},
      {Token(kTokenEndOfLine, 1), Token(kTokenEndOfLine, 2), true},
  };
  for (const auto& r : rows) EXPECT_EQ(NodesEqual(new TokenNode(r.a), new TokenNode(r.b)), r.equal);
}

TEST_F(GxlShaderTree, ClonesKeepTheirSourcesIntact) {
  auto* names = new ParseNodeKind2("b", new ParseNodeKind2("a", nullptr, nullptr, nullptr), nullptr, nullptr);
  ParseNode* copy = names->Clone();
  EXPECT_TRUE(NodesEqual(names, copy) && NodesEqual(copy, names));
  EXPECT_NE(copy->first, names->first);

  ParseNode* call = new ParseNodeKind13(nullptr, 3, new TokenNode, nullptr, 1, SourceToken{});
  auto* compile = new ExpressionNode(4, call, SourceToken{});
  auto* clone = static_cast<ExpressionNode*>(compile->Clone());
  EXPECT_EQ(compile->value.node, call);
  EXPECT_NE(clone->value.node, call);
  EXPECT_TRUE(NodesEqual(clone->value.node, call));

  // A variable without counted words keeps its values in the copy.
  std::uint32_t values[3] = {4, 5, 6};
  ParseNodeKind11 variable(0, 3, 0, 0, nullptr, nullptr, nullptr, nullptr, nullptr);
  variable.values = values;
  auto* v = static_cast<ParseNodeKind11*>(variable.Clone());
  ASSERT_NE(v->values, nullptr);
  EXPECT_NE(v->values, values);
  EXPECT_EQ(std::memcmp(v->values, values, sizeof values), 0);
}

TEST_F(GxlShaderTree, ExhaustedPoolYieldsNullClones) {
  ParseNode* list = nullptr;
  for (int i = 0; i < 2000; ++i) list = AppendToList(list, new ListNode(new TypeNode, nullptr, "Values"));
  ParseNode* scope = new ScopeNode(1, "f", list, nullptr, nullptr);
  platform::test::SetVirtualAllocCommitLimit(0);
  EXPECT_EQ(scope->Clone(), nullptr);  // needs more than the committed rest
  ExpressionValue compile;
  compile.subKind = 4;
  compile.node = list;
  EXPECT_EQ(ExpressionNode::FromValue(compile, {}), nullptr);
  SetCurrentPool(nullptr);
  EXPECT_EQ(new TypeNode, nullptr);  // no pool: no node, no constructor run
  SetCurrentPool(&pool);
  platform::test::SetVirtualAllocCommitLimit(SIZE_MAX);
  ParseNode* copy = scope->Clone();
  EXPECT_TRUE(copy && NodesEqual(copy, scope));
}

}  // namespace
